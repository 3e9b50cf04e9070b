// The POSIX side of mmdrctl's console: the arguments are the command line's bytes, taken
// as UTF-8, and standard output needs no preparing.
#include "console.h"

namespace mmdrctl {

void PrepareOutput() {}

std::vector<std::string> CommandLineWords(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

}  // namespace mmdrctl
