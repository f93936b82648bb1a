#include "store/call_row.h"

#include <cstdio>

#include "files/call_record_layout.h"
#include "files/text_codec.h"

namespace kordel::store {

namespace {

std::string withoutSpaces(std::string_view field) {
  std::string out;
  call_line::forEachNonSpace(field, [&](char c) { out += c; });
  return out;
}

}  // namespace

bool storesLine(std::string_view line) { return call_line::carriesCall(line); }

CallRow makeCallRow(std::string_view line) {
  CallRow row;
  row.line.assign(line);
  call_line::CallLineFields f;
  const call_line::LineError error = call_line::splitCallLine(line, f);
  if (error != call_line::LineError::None) {
    row.parseError = cp1251ToUtf8(call_line::lineErrorText(error));  // text fields are UTF-8
    return row;
  }
  row.parsed = true;
  char start[32];
  std::snprintf(start, sizeof start, "%04d-%02d-%02d %02d:%02d:%02d", f.year, f.month, f.day,
                f.hour, f.minute, f.second);
  row.start = start;
  row.duration = f.durationHours * 3600 + f.durationMinutes * 60 + f.durationSeconds;
  row.hardware = cp1251ToUtf8(f.hardware);
  row.programmed = cp1251ToUtf8(withoutSpaces(f.programmed));
  row.trunk = cp1251ToUtf8(f.trunk);
  const std::string dialed = withoutSpaces(f.dialed);
  row.dialed = cp1251ToUtf8(dialed);
  row.markedDate = f.markedDate;
  row.markedTime = f.markedTime;
  row.markedDuration = f.markedDuration;
  row.markedNumber = dialed.find('*') != std::string::npos;
  return row;
}

std::uint64_t fnv1a(std::string_view bytes, std::uint64_t hash) {
  for (unsigned char c : bytes) {
    hash ^= c;
    hash *= 0x100000001B3ull;
  }
  return hash;
}

std::uint64_t fingerprint(std::uint64_t offset, std::string_view head, std::string_view tail) {
  std::uint64_t h = kFnvBasis;
  for (int i = 0; i < 8; ++i) {
    h ^= (offset >> (8 * i)) & 0xFF;
    h *= 0x100000001B3ull;
  }
  return fnv1a(tail, fnv1a(head, h));
}

}  // namespace kordel::store
