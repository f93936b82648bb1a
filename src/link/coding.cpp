// Byte-level helpers of the PBX protocol: calendar, checksum and per-family number rules.
#include "link/coding.h"

namespace kordel {

std::tm localTime(std::time_t t) {
  std::tm local{};
#if defined(_WIN32)
  localtime_s(&local, &t);
#else
  localtime_r(&t, &local);
#endif
  return local;
}

namespace {

constexpr std::uint32_t kSecondsPerDay = 86400;
constexpr std::uint32_t kDaysPerCycle = 1461;  // four years, the first a leap year
constexpr int kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

bool contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

}  // namespace

PbxClock secondsToDateTime(std::uint32_t s) {
  PbxClock c;
  const std::uint32_t t = s % kSecondsPerDay;
  c.second = static_cast<int>(t % 60);
  c.minute = static_cast<int>((t / 60) % 60);
  c.hour = static_cast<int>((t / 3600) % 24);

  const std::uint32_t d = s / kSecondsPerDay;
  std::uint32_t r = d % kDaysPerCycle;
  int year = 1980 + 4 * static_cast<int>(d / kDaysPerCycle);
  bool leap = true;
  // The PBX calendar has no century rule: every fourth year from 1980 is a leap year.
  if (r >= 366) {
    year += static_cast<int>((r - 366) / 365) + 1;
    r = (r - 366) % 365;
    leap = false;
  }
  int month = 0;
  for (; month < 11; ++month) {
    const std::uint32_t length = kMonthDays[month] + (month == 1 && leap ? 1 : 0);
    if (r < length) break;
    r -= length;
  }
  c.year = year;
  c.month = month + 1;
  c.day = static_cast<int>(r) + 1;
  return c;
}

std::uint8_t checksum(const std::uint8_t* bytes, std::size_t count) {
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < count; ++i) sum = static_cast<std::uint8_t>(sum + bytes[i]);
  return sum;
}

int trunkNumber(std::string_view family, int i) {
  if (contains(family, "QTR")) return 2 * i + 200;
  if (contains(family, "DL40")) return 2 * i + 6 * (i / 2) + 200;
  if (contains(family, "DL256")) {
    const int index = i & 63;
    return index >= 1 && index <= 24 ? index : -1;
  }
  return -1;
}

int lineNumber(std::string_view family, int i) {
  if (contains(family, "QTR")) return i + 200;
  if (contains(family, "DL40") || contains(family, "DL72")) return 10 * (i / 8) + (i % 8) + 200;
  if (contains(family, "B") || contains(family, "DL256")) return i + 1;
  return -1;
}

}  // namespace kordel
