// Starting the one nginx that serves the report sites, and telling it to quit.
#pragma once

namespace corvana {

inline constexpr int kWebServerStart = 0;
inline constexpr int kWebServerQuit = 1;

// Runs HomePath + "webserver" + separator + "nginx.exe" (with " -s quit" for
// the quit command) from the web-server folder, detached. True when the
// process could be created. Does nothing and gives false before the
// application context exists and has been fully set up.
bool WebServerCommand(int command);

}  // namespace corvana
