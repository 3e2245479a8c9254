#include "definitions/webserver_definition.h"

#include "logging/log.h"
#include "platform/env.h"
#include "settings/settings_document.h"

namespace corvana {
namespace {

using WebServer = WebServerDefinition;

SettingsDocument<WebServer> BuildWebServerDocument() {
  SettingsDocument<WebServer> document("Webserver Settings", 1.0);
  SettingsSection<WebServer>& common = AddSection(document, "Common");
  AddEntry(common, kText, "name", &WebServer::name);
  AddEntry(common, kText, "profile", &WebServer::profile);
  AddEntry(common, kText, "folder", &WebServer::folder);
  AddEntry(common, kInt, "enabled", &WebServer::enabled, 1);
  AddEntry(common, kInt, "dinamic", &WebServer::dinamic, 0);
  AddEntry(common, kInt, "port", &WebServer::port, 8080);
  AddEntry(common, kInt, "type_schedule", &WebServer::type_schedule);
  AddEntry(common, kInt, "day", &WebServer::day);
  AddEntry(common, kInt, "month", &WebServer::month);
  AddEntry(common, kInt, "year", &WebServer::year);
  AddEntry(common, kInt, "hour", &WebServer::hour);
  AddEntry(common, kInt, "min", &WebServer::min);
  AddEntry(common, kInt, "sec", &WebServer::sec);
  AddEntry(common, kInt, "nday_week", &WebServer::nday_week);
  AddEntry(common, kInt, "days_week", &WebServer::days_week);
  AddEntry(common, kInt, "type_interval", &WebServer::type_interval);
  AddEntry(common, kInt, "interval", &WebServer::interval);
  return document;
}

const SettingsDocument<WebServer>& WebServerDocument() {
  static const SettingsDocument<WebServer> document = BuildWebServerDocument();
  return document;
}

// The name part of the path, cut at its first ".". Only the platform's own
// separator ends a folder: elsewhere a backslash belongs to the name, as it
// does for a schedule's id.
std::string IdFromPath(const std::string& path) {
  const size_t separator = path.rfind(platform::kPathSeparator);
  const std::string name =
      separator == std::string::npos ? path : path.substr(separator + 1);
  return name.substr(0, name.find('.'));
}

}  // namespace

bool ReadWebServerFile(const std::string& path, WebServerDefinition* record) {
  // Read into a copy: the caller's values stand for a file without the
  // section, and a failed load must not leave it half-filled.
  WebServerDefinition loaded = *record;
  if (!LoadSettings(WebServerDocument(), &loaded, path, 0)) {
    WriteLog("Error read webserver settings", kLogError);
    return false;
  }
  loaded.id = IdFromPath(path);
  *record = std::move(loaded);
  return true;
}

}  // namespace corvana
