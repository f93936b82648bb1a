// Built by the Windows build of the core: the programs' option code, CLI11 included, compiles
// with mingw-w64 as well.
#include "app/options/cli_options.h"

int kordelOptionsCheck(int argc, char** argv) {
  CLI::App app{"check", "check"};
  kordel::options::configure(app);
  int n = 0;
  kordel::options::integer(app, "--n", n, "a number", 0, 9);
  return kordel::options::parse(app, argc, argv) >= 0 ? 1 : n;
}
