// Starting the one nginx that serves the report sites, and telling it to quit.
#pragma once

#include <cstdint>

namespace corvana {

enum class NginxCommand { kStart = 0, kQuit = 1 };

// Runs HomePath + "webserver" + separator + "nginx.exe" (with " -s quit" for
// the quit command) from the web-server folder. True when the process could
// be created. Does nothing and gives false before the application context
// exists and has been fully set up.
// The start command's nginx is held (see CheckHeldNginx), in a job or a
// process group of its own, so that its whole tree can be ended; the quit
// command runs detached. A quit that cannot be run (nginx.exe refused, or
// not created) ends the held nginx's tree at once: nothing else would stop it.
// With `wait_ms`, returns only once that nginx.exe has ended (or the time
// has passed): a quit still on its way would stop an nginx started next.
// The process is created on a thread of its own: when that takes longer
// than the stop's wait hint (Windows waits on another program's oplock on
// nginx.exe), the command logs so, gives false and leaves it to that thread.
bool WebServerCommand(NginxCommand command, int wait_ms = 0);

// How long the held nginx has to obey a quit before its tree is ended: the
// stop's wait hint.
inline constexpr int kNginxQuitBoundMs = 3000;

// The quit command for the held nginx, from the worker thread: when the
// command cannot be run, or the held nginx has not ended within
// kNginxQuitBoundMs on the clock seam, its whole tree is ended instead, and
// the log says so. Nothing the start command created outlives the service.
// False when the tree had to be ended.
bool QuitHeldNginx();

enum class HeldNginxState { kNone, kRunning, kEnded };
struct HeldNginx {
  HeldNginxState state = HeldNginxState::kNone;
  uint32_t exit_code = 0;  // once ended
};

// The nginx the last start created, as it is now. One that has ended is let
// go, with what it left running (a killed master's workers) ended first.
// Both threads may call these.
HeldNginx CheckHeldNginx();
// Lets the held nginx go untouched; for tests, whose launchers come and go.
void ForgetHeldNginx();

// Whether the last start was refused because another program held one of
// nginx's files open or had an oplock on it being broken: worth another try.
bool NginxStartDeferred();

}  // namespace corvana
