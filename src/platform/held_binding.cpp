#include "platform/held_binding.h"

#include <atomic>

#include "platform/env.h"

namespace corvana::platform {
namespace {

struct Binding {
  std::string path;
  const HeldFolder* folder;
};

// Bindings are never freed: another thread may still read the one that a
// new binding replaces, as with the contexts that make them.
std::atomic<const Binding*> current_binding{nullptr};

}  // namespace

void BindHeldFolder(const std::string& path, const HeldFolder* folder) {
  current_binding.store(folder != nullptr ? new Binding{path, folder} : nullptr);
}

const HeldFolder* HeldFolderFor(const std::string& path, std::string* name) {
  const Binding* binding = current_binding.load();
  if (binding == nullptr || binding->path.empty() || !binding->folder->IsOpen() ||
      path.compare(0, binding->path.size(), binding->path) != 0) {
    return nullptr;
  }
  std::string rest = path.substr(binding->path.size());
  if (rest.find_first_of(std::string("/") + kPathSeparator) != std::string::npos) {
    return nullptr;
  }
  *name = std::move(rest);
  return binding->folder;
}

}  // namespace corvana::platform
