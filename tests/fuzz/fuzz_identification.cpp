// Fuzz target: what the link learns from an identification reply, whatever the PBX sent.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "link/pbx_link.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static kordel::PbxLink* link = [] {
    char name[] = "/tmp/kordel-fuzz-id-XXXXXX";
    if (mkdtemp(name) == nullptr) std::abort();
    return new kordel::PbxLink(name);
  }();
  if (size < 1) return 0;
  kordel::ReplyBuffer id{};
  const int length = data[0];  // the length byte as it came; 255 would mean no reply
  const std::size_t n = std::min<std::size_t>({size - 1, id.size(), static_cast<std::size_t>(length)});
  std::memcpy(id.data(), data + 1, n);
  const int result = link->takeIdentification(id, length);
  if (result != kordel::kOk && result != kordel::kUnsupportedModel) __builtin_trap();
  if (result == kordel::kOk) {
    if (link->model.size() > 8) __builtin_trap();  // "QTR400-1" is the longest
    if (link->isComplex != (link->extraUnits > 0)) __builtin_trap();
    if (link->extraUnits < 0 || link->extraUnits > 2) __builtin_trap();
    if (link->timeStep < 1 || link->timeStep > 255) __builtin_trap();
    const kordel::PbxClock& c = link->clock;
    if (c.month < 1 || c.month > 12 || c.day < 1 || c.day > 31 || c.hour > 23) __builtin_trap();
  }
  return 0;
}
