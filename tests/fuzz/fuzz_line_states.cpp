// Fuzz target: the walk over a line-state reply.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "link/pbx_link.h"
#include "realtime/line_states.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  static const char* const kModels[] = {"QTR160", "DL40", "DL256", "C"};
  kordel::ReplyBuffer reply{};
  // Fill the whole buffer with junk first: bytes past the reply length must read as 0.
  std::memset(reply.data(), 0xA5, reply.size());
  const std::size_t length = std::min<std::size_t>(size - 1, reply.size());
  std::memcpy(reply.data(), data + 1, length);
  int replyLength = static_cast<int>(length);
  if (data[0] & 0x80) replyLength = -1;
  std::array<std::string, kordel::kMaxStateLines> lines;
  const unsigned count = kordel::walkLineStates(reply, replyLength, kModels[data[0] & 3], lines);
  if (count > kordel::kMaxStateLines) __builtin_trap();
  return 0;
}
