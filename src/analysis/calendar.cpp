#include "analysis/calendar.h"

#include <cstdio>

#include "files/call_record_layout.h"

namespace kordel::analysis {

WallTime wallTime(int year, int month, int day, int hour, int minute, int second) {
  return daysFromCivil(year, month, day) * kSecondsPerDay + hour * 3600 + minute * 60 + second;
}

CivilTime civilTime(WallTime time) {
  CivilTime c;
  const std::int64_t days = floorDiv(time, kSecondsPerDay);
  const auto second = static_cast<int>(time - days * kSecondsPerDay);
  civilFromDays(days, c.year, c.month, c.day);
  c.hour = second / 3600;
  c.minute = second / 60 % 60;
  c.second = second % 60;
  return c;
}

namespace {

// Exactly `count` digits at `text[pos]`.
bool digitsAt(std::string_view text, std::size_t pos, std::size_t count, int& value) {
  if (pos + count > text.size()) return false;
  value = 0;
  for (std::size_t i = pos; i < pos + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

}  // namespace

bool parseWallTime(std::string_view text, WallTime& time, bool& hasTime) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  int year = 0, month = 0, day = 0;
  if (digitsAt(text, 0, 4, year) && text.size() >= 10 && text[4] == '-' && text[7] == '-') {
    if (!digitsAt(text, 5, 2, month) || !digitsAt(text, 8, 2, day)) return false;
  } else if (digitsAt(text, 0, 2, day) && text.size() >= 10 && text[2] == '.' && text[5] == '.') {
    if (!digitsAt(text, 3, 2, month) || !digitsAt(text, 6, 4, year)) return false;
  } else {
    return false;
  }
  int hour = 0, minute = 0, second = 0;
  hasTime = text.size() > 10;
  if (hasTime) {
    const std::string_view rest = text.substr(10);
    if ((rest[0] != ' ' && rest[0] != 'T') || !digitsAt(rest, 1, 2, hour) || rest.size() < 6 ||
        rest[3] != ':' || !digitsAt(rest, 4, 2, minute)) {
      return false;
    }
    if (rest.size() != 6 && (rest.size() != 9 || rest[6] != ':' || !digitsAt(rest, 7, 2, second))) {
      return false;
    }
  }
  if (!call_line::isValidDate(year, month, day) || !call_line::isValidTime(hour, minute, second)) {
    return false;
  }
  time = wallTime(year, month, day, hour, minute, second);
  return true;
}

std::string formatDate(WallTime time) {
  const CivilTime c = civilTime(time);
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%02d.%02d.%04d", c.day, c.month, c.year);
  return buffer;
}

std::string formatDateTime(WallTime time) {
  const CivilTime c = civilTime(time);
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%02d.%02d.%04d %02d:%02d:%02d", c.day, c.month, c.year,
                c.hour, c.minute, c.second);
  return buffer;
}

std::string formatIsoDateTime(WallTime time) {
  const CivilTime c = civilTime(time);
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d", c.year, c.month, c.day,
                c.hour, c.minute, c.second);
  return buffer;
}

std::string formatDuration(std::int64_t seconds) {
  const bool negative = seconds < 0;
  const std::uint64_t s =
      negative ? 0 - static_cast<std::uint64_t>(seconds) : static_cast<std::uint64_t>(seconds);
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%s%02llu:%02llu:%02llu", negative ? "-" : "",
                static_cast<unsigned long long>(s / 3600),
                static_cast<unsigned long long>(s / 60 % 60),
                static_cast<unsigned long long>(s % 60));
  return buffer;
}

}  // namespace kordel::analysis
