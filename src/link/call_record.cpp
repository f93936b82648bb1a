// Decoding of the call records that the PBX buffer delivers.
#include "link/call_record.h"

#include <ctime>
#include <utility>

#include "link/coding.h"

namespace kordel {

namespace {

constexpr std::uint8_t kEmptySlot0 = 0x0F;
constexpr std::uint8_t kEmptySlot1 = 0xFF;
constexpr int kFixedPart = 11;  // bytes before the dialed digits
constexpr std::uint32_t kSecondsPerDay = 86400;

std::string trunkText(const std::uint8_t trunkByte, const DecodeContext& context) {
  const std::string_view model = context.model;
  if (model.starts_with("QTR")) return std::to_string(trunkNumber("QTR", trunkByte - 1));
  if (model.starts_with("DL40") || model.starts_with("DL72")) {
    return std::to_string(trunkNumber("DL40", trunkByte - 1));
  }
  if (model.starts_with("DL256") || model == "B" || context.isComplex) {
    // Bits 7-6 give the module (shown from 2), bits 5-0 the trunk index 1..24.
    std::string index = std::to_string(trunkNumber("DL256", trunkByte));
    if (index.size() == 1) index.insert(0, "0");
    return "(" + std::to_string((trunkByte >> 6) + 2) + ")" + index;
  }
  return std::string();
}

}  // namespace

bool isAcceptable(const std::uint8_t* reply) {
  return !(reply[0] == kEmptySlot0 && reply[1] == kEmptySlot1);
}

CallRecord decodeRecord(const std::uint8_t* reply, int length, const DecodeContext& context) {
  CallRecord record;
  const std::uint32_t step =
      context.timeStep > 0 ? static_cast<std::uint32_t>(context.timeStep) : 6;

  // The time part may run past midnight; the date then moves on with it. The sum wraps like
  // the PBX's own 32-bit count (only day numbers beyond the year 2116 are affected).
  const std::uint32_t start =
      static_cast<std::uint32_t>(word16(reply[0], reply[1])) * kSecondsPerDay +
      static_cast<std::uint32_t>(word16(reply[2], reply[3])) * step;
  const PbxClock begin = secondsToDateTime(start);
  record.year = begin.year;
  record.month = begin.month;
  record.day = begin.day;
  record.hour = begin.hour;
  record.minute = begin.minute;
  record.second = begin.second;

  // Whole days of a longer call are dropped.
  const PbxClock duration =
      secondsToDateTime(static_cast<std::uint32_t>(word16(reply[4], reply[5])) * step);
  record.durationHours = duration.hour;
  record.durationMinutes = duration.minute;
  record.durationSeconds = duration.second;

  record.hardwareNumber = word16(reply[6], reply[7]);
  if (reply[8] == 0 && reply[9] == 0) {
    record.programmedNumber = "-1";
  } else {
    record.programmedNumber = "1" + nibbleDigits(reply + 8, 2, true);
  }
  record.trunk = trunkText(reply[10], context);
  if (length > kFixedPart) {
    const int end = length < 255 ? length : 255;
    record.dialedNumber = nibbleDigits(reply + kFixedPart, end - kFixedPart, false);
  }
  validateRecord(record, context.currentYear);
  return record;
}

void validateRecord(CallRecord& record, int currentYear) {
  auto& v = record.validity;
  v.fill(kPlausible);
  auto mark = [&v](int index, bool outOfRange) {
    if (outOfRange) v[index] = kOutOfRange;
  };
  mark(kValidYear, record.year < 2000 || record.year > currentYear);
  mark(kValidMonth, record.month < 1 || record.month > 12);
  mark(kValidDay, record.day < 1 || record.day > 31);
  mark(kValidHour, record.hour < 0);
  mark(kValidMinute, record.minute < 0 || record.minute > 59);
  mark(kValidSecond, record.second < 0 || record.second > 59);
  mark(kValidDurationHours, record.durationHours < 0);
  if (v[kValidDurationHours] == kPlausible) {
    mark(kValidDurationMinutes, record.durationMinutes < 0 || record.durationMinutes > 59);
    if (v[kValidDurationMinutes] == kPlausible) {
      mark(kValidDurationSeconds, record.durationSeconds < 0 || record.durationSeconds > 59);
    }
  }
}

std::string nibbleDigits(const std::uint8_t* bytes, int count, bool programmed) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string digits;
  if (count <= 0) return digits;
  digits.reserve(static_cast<std::size_t>(count) * 2);
  for (int i = 0; i < count; ++i) {
    int index = i;
    // The programmed number keeps its leading digits in the second byte.
    if (programmed && count >= 2 && i < 2) index = 1 - i;
    for (const int nibble : {bytes[index] >> 4, bytes[index] & 0x0F}) {
      if (nibble == 0) continue;  // a zero nibble is filler, never a digit
      char c = kHex[nibble];
      if (c == 'A') {
        c = '0';
      } else if (!programmed) {
        switch (c) {
          case 'B':
            c = '*';
            break;
          case 'C':
            c = '#';
            break;
          case 'D':
            c = 'P';
            break;
          case 'E':
            c = 'A';
            break;
          case 'F':
            c = 'T';
            break;
          default:
            break;
        }
      }
      digits.push_back(c);
    }
  }
  return digits;
}

int currentCalendarYear() { return localTime(std::time(nullptr)).tm_year + 1900; }

}  // namespace kordel
