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
// The process is created on a thread of its own: when that takes longer
// than the stop's wait hint (Windows waits on another program's oplock on
// nginx.exe), the command logs so, gives false and leaves it to that thread.
bool WebServerCommand(NginxCommand command, int wait_ms = 0);

// Whether the last start was refused because another program held one of
// nginx's files open or had an oplock on it being broken: worth another try.
bool NginxStartDeferred();

}  // namespace corvana
