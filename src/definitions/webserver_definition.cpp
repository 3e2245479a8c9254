#include "definitions/webserver_definition.h"

#include "definitions/definition_file.h"
#include "logging/log_lines.h"

namespace corvana {
namespace {

using WebServer = WebServerDefinition;

SettingsDocument<WebServer> BuildWebServerDocument() {
  SettingsDocument<WebServer> document("Webserver Settings", 1.0);
  SettingsSection<WebServer>& common = AddSection(document, "Common");
  AddNotKeptEntry(common, kText, "name");
  AddNotKeptEntry(common, kText, "profile");
  AddNotKeptEntry(common, kText, "folder");
  AddEntry(common, kInt, "enabled", &WebServer::enabled, 1);
  AddNotKeptEntry(common, kInt, "dinamic");
  AddNotKeptEntry(common, kInt, "port");
  AddTimetableEntries(common);
  AddEntry(common, kInt, "type_interval", &WebServer::type_interval);
  AddEntry(common, kInt, "interval", &WebServer::interval);
  AddEntry(common, kInt, "run_missed", &WebServer::run_missed);
  return document;
}

const SettingsDocument<WebServer>& WebServerDocument() {
  static const SettingsDocument<WebServer> document = BuildWebServerDocument();
  return document;
}

}  // namespace

bool ReadWebServerFile(const platform::HeldFolder& folder, const char* file_name,
                       WebServerDefinition* record, SettingsFailure* failure) {
  return ReadDefinitionFile(WebServerDocument(), folder, file_name,
                            log_line::kWebServerUnreadable, record, failure);
}

}  // namespace corvana
