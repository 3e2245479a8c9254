#include "environment/app_context.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "platform/env.h"
#include "platform/fs.h"
#include "platform/seams.h"
#include "platform/trust.h"

namespace corvana {
namespace {

constexpr const char kProbeFileName[] = "tst0Xlgn9.tmp";

std::atomic<AppContext*> current_context{nullptr};

// Contexts are never freed: the other thread may still be reading the one
// that a second initialisation replaces.
std::vector<std::unique_ptr<AppContext>>& AllContexts() {
  static auto* contexts = new std::vector<std::unique_ptr<AppContext>>;
  return *contexts;
}

std::string WithSeparator(const std::string& folder) {
  if (!folder.empty() && folder.back() == platform::kPathSeparator) {
    return folder;
  }
  return folder + platform::kPathSeparator;
}

void SettleTempFolder(AppContext& context) {
  auto temp = platform::GetEnv("TEMP");
  if (temp && !temp->empty()) context.temp_folder = WithSeparator(*temp);
}

void SettleUserFolder(AppContext& context) {
  // Without a per-user folder there is nothing to create the product's in.
  std::string user = platform::CurrentShellFolders().UserAppData();
  if (user.empty()) return;
  context.user_product_folder = user + platform::kPathSeparator +
                                context.product_name +
                                platform::kPathSeparator;
  platform::MakeDirectory(context.user_product_folder);
}

std::string HomeIn(const std::string& common, const char* product_name) {
  return common + platform::kPathSeparator + product_name +
         platform::kPathSeparator;
}

std::string RefusalReason(const platform::TrustResult& trust) {
  return trust.verdict == platform::TrustVerdict::kWrongType
             ? "is not a folder"
             : platform::TrustReason(trust);
}

// HomePath is used only when it can be trusted and after a test write has
// shown it is writable; otherwise the service works in the current
// directory.
void SettleHomePath(AppContext& context, const std::string& common) {
  if (!common.empty()) {
    context.HomePath = HomeIn(common, context.product_name);
    platform::MakeDirectory(context.HomePath);
    const platform::TrustResult trust = platform::CheckHomeFolder(
        context.HomePath, platform::ServiceAccount::kThisProcess,
        &context.home_folder);
    // A probe planted as a link counts as a folder that cannot be written.
    if (trust.verdict == platform::TrustVerdict::kTrusted &&
        platform::ProbeOwnFile(context.home_folder, kProbeFileName)) {
      return;
    }
    if (trust.verdict != platform::TrustVerdict::kTrusted &&
        trust.verdict != platform::TrustVerdict::kMissing) {
      context.home_refusal_reason = RefusalReason(trust);
    }
    context.home_rejected = context.HomePath;
    context.home_rejected_reason =
        trust.verdict == platform::TrustVerdict::kTrusted
            ? "the test write failed"
            : "not trusted: " + platform::TrustReason(trust);
    context.HomePath.clear();
  }
  platform::HoldCurrentDirectory(&context.home_folder);
}

}  // namespace

AppContext* GetAppContext() { return current_context.load(); }

std::string WorkingFolderName() {
  const AppContext* context = GetAppContext();
  if (context == nullptr) return std::string();
  return context->HomePath.empty() ? platform::CurrentDirectory() : context->HomePath;
}

const platform::HeldFolder& HomeFolder() {
  static const auto* const kNone = new platform::HeldFolder;
  const AppContext* context = GetAppContext();
  return context != nullptr ? context->home_folder : *kNone;
}

std::string HomeRefusal(const std::string& home, platform::ServiceAccount account) {
  if (home.empty()) return std::string();
  platform::HeldFolder judged;
  const platform::TrustResult trust = platform::CheckHomeFolder(home, account, &judged);
  return trust.verdict == platform::TrustVerdict::kMissing ? std::string()
                                                           : RefusalReason(trust);
}

std::string CommonHomePath(const char* product_name) {
  const std::string common = platform::CurrentShellFolders().CommonAppData();
  return common.empty() ? std::string() : HomeIn(common, product_name);
}

namespace {

AppContext* PublishContext(const char* product_name, const char* version_text) {
  auto owned = std::make_unique<AppContext>();
  AppContext* context = owned.get();
  AllContexts().push_back(std::move(owned));
  current_context.store(context);
  context->product_name = product_name;
  context->version_text = version_text;
  return context;
}

}  // namespace

void InitReadOnlyAppContext(const char* product_name, const char* version_text,
                            const std::string& home_path) {
  AppContext* context = PublishContext(product_name, version_text);
  context->HomePath = home_path;
  platform::HoldFolder(home_path, &context->home_folder);
}

AppContext* CreateAppContext(const char* product_name,
                             const char* version_text) {
  AppContext* context = PublishContext(product_name, version_text);
  SettleTempFolder(*context);
  const std::string common = platform::CurrentShellFolders().CommonAppData();
  context->common_appdata_folder =
      common.empty() ? context->HomePath : common + platform::kPathSeparator;
  SettleUserFolder(*context);
  SettleHomePath(*context, common);
  return context;
}

}  // namespace corvana
