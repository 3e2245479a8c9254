#include "platform/held_binding.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

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

void Keep(std::unique_ptr<Binding> binding) {
  static auto* lock = new std::mutex;
  static auto* kept = new std::vector<std::unique_ptr<Binding>>;
  std::lock_guard<std::mutex> guard(*lock);
  current_binding.store(binding.get());
  kept->push_back(std::move(binding));
}

}  // namespace

void BindHeldFolder(const std::string& path, const HeldFolder* folder) {
  if (folder == nullptr) {
    current_binding.store(nullptr);
    return;
  }
  Keep(std::make_unique<Binding>(Binding{path, folder}));
}

const HeldFolder* HeldFolderFor(const std::string& path, std::string_view* name) {
  const Binding* binding = current_binding.load();
  if (binding == nullptr || binding->path.empty() || !binding->folder->IsOpen() ||
      path.compare(0, binding->path.size(), binding->path) != 0) {
    return nullptr;
  }
  // Asked once for every definition file a reload opens.
  const std::string_view rest = std::string_view(path).substr(binding->path.size());
  for (const char c : rest) {
    if (c == '/' || c == kPathSeparator) return nullptr;
  }
  *name = rest;
  return binding->folder;
}

namespace {

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EndsWithIgnoringCase(std::string_view name, std::string_view suffix) {
  if (name.size() < suffix.size()) return false;
  const char* tail = name.data() + name.size() - suffix.size();
  for (size_t i = 0; i < suffix.size(); ++i) {
    if (LowerAscii(tail[i]) != LowerAscii(suffix[i])) return false;
  }
  return true;
}

}  // namespace

size_t MatchingExtension(const char* name,
                         std::span<const std::string_view> extensions) {
  const std::string_view text(name);
  for (size_t i = 0; i < extensions.size(); ++i) {
    if (EndsWithIgnoringCase(text, extensions[i])) return i;
  }
  return extensions.size();
}

}  // namespace corvana::platform
