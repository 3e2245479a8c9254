// Starting the one nginx that serves the report sites, and telling it to quit.
#pragma once

namespace corvana {

enum class NginxCommand { kStart = 0, kQuit = 1 };

// Runs HomePath + "webserver" + separator + "nginx.exe" (with " -s quit" for
// the quit command) from the web-server folder, detached. True when the
// process could be created. Does nothing and gives false before the
// application context exists and has been fully set up.
// With `wait_ms`, returns only once that nginx.exe has ended (or the time
// has passed): a quit still on its way would stop an nginx started next.
bool WebServerCommand(NginxCommand command, int wait_ms = 0);

}  // namespace corvana
