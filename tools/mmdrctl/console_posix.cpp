// The POSIX side of mmdrctl's console: the arguments are the command line's bytes, taken
// as UTF-8, and standard output needs no preparing.
#include "console.h"

#include <signal.h>

namespace mmdrctl {

namespace {
volatile sig_atomic_t g_interrupted = 0;
void OnInterrupt(int /*signal*/) { g_interrupted = 1; }
}  // namespace

void PrepareOutput() {}

void CatchInterrupt() {
  struct sigaction action {};
  action.sa_handler = &OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
}

bool Interrupted() { return g_interrupted != 0; }

std::vector<std::string> CommandLineWords(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

}  // namespace mmdrctl
