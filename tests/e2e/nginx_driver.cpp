// Drives the scheduler's nginx control for the end-to-end test, one command
// per input line, each answered with one line: "start" runs WebServerCommand,
// "quit" QuitHeldNginx as the stop does, "collect" reaps ended children as the engine's
// supervision does, "exit" ends. The data folder is the only argument, so
// that HomePath is <folder>/Corvana/.
#include <iostream>
#include <string>

#include "platform/process.h"
#include "support/fixtures.h"
#include "webserver/webserver_control.h"

int main(int argc, char** argv) {
  using namespace corvana;
  if (argc != 2) {
    std::cerr << "usage: nginx_driver <data folder>\n";
    return 2;
  }
  testing::InitContextAt(argv[1]);
  for (std::string line; std::getline(std::cin, line);) {
    if (line == "start" || line == "quit") {
      const bool ok =
          line == "start" ? WebServerCommand(NginxCommand::kStart) : QuitHeldNginx();
      std::cout << line << (ok ? " true" : " false") << std::endl;
    } else if (line == "collect") {
      platform::CollectEndedChildren();
      std::cout << "collected" << std::endl;
    } else if (line == "exit") {
      break;
    } else {
      std::cout << "unknown " << line << std::endl;
    }
  }
  return 0;
}
