// Fuzz target: decoding one call-record reply and rendering its line.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "files/call_record_line.h"
#include "link/call_record.h"
#include "link/pbx_link.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  // The first byte picks the PBX family and the time step; the rest is the reply.
  static const char* const kModels[] = {"QTR160", "QTR400-1", "DL40", "DL72", "DL256", "C", "B", "2xB"};
  kordel::DecodeContext context;
  context.model = kModels[data[0] & 7];
  context.isComplex = (data[0] & 8) != 0;
  context.timeStep = (data[0] >> 4) + 1;
  context.currentYear = 2026;
  kordel::ReplyBuffer reply{};
  const std::size_t length = std::min<std::size_t>(size - 1, reply.size());
  std::memcpy(reply.data(), data + 1, length);
  if (!kordel::isAcceptable(reply.data())) return 0;
  const kordel::CallRecord record =
      kordel::decodeRecord(reply.data(), static_cast<int>(length), context);
  const std::string line = kordel::formatCallRecordLine(record);
  if (line.size() < 74) __builtin_trap();  // every line carries all its columns
  return 0;
}
