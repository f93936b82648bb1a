// Fuzz target: the two configuration file loaders, on a file of arbitrary bytes. Built twice:
// KORDEL_FUZZ_PORT_CONFIG selects "Kordel.cfg", otherwise "KordelOut.cfg".
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "files/settings.h"

namespace {

const std::string& scratchDirectory() {
  static const std::string dir = [] {
    char name[] = "/tmp/kordel-fuzz-XXXXXX";
    const char* made = mkdtemp(name);
    if (made == nullptr) std::abort();
    return std::string(made);
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kordel::Settings settings;
  settings.startDirectory = scratchDirectory();
#ifdef KORDEL_FUZZ_PORT_CONFIG
  const std::string path = settings.portConfigPath();
#else
  const std::string path = settings.outputConfigPath();
#endif
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  std::fwrite(data, 1, size, f);
  std::fclose(f);
#ifdef KORDEL_FUZZ_PORT_CONFIG
  const int result = kordel::loadPortConfig(settings);
  if (result != kordel::kConfigOk) __builtin_trap();
  // Whatever the file held, the port name is "COM" or COM1..COM8.
  const std::string& port = settings.portName;
  if (!(port == "COM" || (port.size() == 4 && port.compare(0, 3, "COM") == 0 && port[3] >= '1' &&
                          port[3] <= '8'))) {
    __builtin_trap();
  }
#else
  const int result = kordel::loadOutputConfig(settings);
  if (result != kordel::kConfigOk) __builtin_trap();
  if (settings.autostartMode < 0 || settings.autostartMode > 3) __builtin_trap();
#endif
  return 0;
}
