// kordel-cli on POSIX: the terminal takes UTF-8 and the command line is UTF-8 already.
#include <unistd.h>

#include <cstdlib>

#include "app/cli/console.h"

namespace kordel::cli {

void prepareConsole() {}

std::vector<std::string> commandLineUtf8(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

bool stderrIsTerminal() { return isatty(STDERR_FILENO) != 0; }

void setEnvironment(const std::string& name, const std::string& value) {
  ::setenv(name.c_str(), value.c_str(), 1);
}

}  // namespace kordel::cli
