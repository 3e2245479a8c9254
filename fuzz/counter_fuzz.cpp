// The change counter's reader against every content of 0 to 8 bytes, read
// through a real file in a HomePath of its own: the first four bytes as a
// little-endian signed value, 1 when fewer are there, and 0 when no file is.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "definitions/change_counter.h"
#include "environment/app_context.h"
#include "platform/seams.h"
#include "service/start_up.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t kMaxCounterBytes = 8;

class TemporaryShellFolders final : public corvana::platform::ShellFolders {
 public:
  std::string CommonAppData() override { return common; }
  std::string UserAppData() override { return ""; }
  std::string common;
};

TemporaryShellFolders& Folders() {
  static auto* folders = new TemporaryShellFolders;
  return *folders;
}

// HomePath below a fresh temporary folder, once per process.
std::string CounterPath() {
  static const std::string path = [] {
    const fs::path common = fs::temp_directory_path() /
                            ("corvana-counter-fuzz-" + std::to_string(std::random_device()()));
    fs::create_directories(common);
    Folders().common = common.string();
    std::atexit([] {
      std::error_code ignored;
      fs::remove_all(Folders().common, ignored);
    });
    corvana::platform::SetShellFolders(&Folders());
    corvana::InitAppContext(corvana::kProductName, corvana::kVersionText,
                            corvana::kPrivacyPolicyUrl);
    return corvana::GetAppContext()->HomePath + corvana::kCounterFileName;
  }();
  return path;
}

void Expect(int32_t expected, const char* what) {
  const int32_t read = corvana::ReadChangeCounter(corvana::HomeFolder());
  if (read == expected) return;
  std::fprintf(stderr, "%s: read %d, expected %d\n", what, read, expected);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxCounterBytes) return 0;
  const std::string path = CounterPath();
  if (size == 0) {
    std::remove(path.c_str());
    Expect(0, "no counter file");
  }
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);
  int32_t expected = 1;
  if (size >= 4) {
    expected = static_cast<int32_t>(uint32_t{data[0]} | uint32_t{data[1]} << 8 |
                                    uint32_t{data[2]} << 16 | uint32_t{data[3]} << 24);
  }
  Expect(expected, "counter file");
  return 0;
}
