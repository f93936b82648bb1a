// Call analysis: times of the PBX's wall clock as whole seconds.
//
// A call's start is the date and time of its line, counted in seconds from 1 January 1970
// 00:00:00 of the same clock. There is no time zone: the PBX keeps local time and so does
// every period the user chooses, so a day is always 86400 seconds here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "files/civil_date.h"

namespace kordel::analysis {

using WallTime = std::int64_t;

inline constexpr std::int64_t kSecondsPerDay = 86400;

struct CivilTime {
  int year = 1970, month = 1, day = 1;
  int hour = 0, minute = 0, second = 0;
};

// Rounds towards minus infinity (times before 1970 are negative).
inline std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
  const std::int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Days from 1 January 1970 to the date of the proleptic Gregorian calendar, and back.
using ::kordel::civilFromDays;
using ::kordel::daysFromCivil;

WallTime wallTime(int year, int month, int day, int hour, int minute, int second);
CivilTime civilTime(WallTime time);

// A date the user writes: "2024-03-01" or "01.03.2024", optionally followed by a space (or
// "T") and "HH:MM" or "HH:MM:SS". `hasTime` tells whether a time was given. False when the
// text is no such date or the date or time does not exist.
bool parseWallTime(std::string_view text, WallTime& time, bool& hasTime);

// "05.03.2004", "05.03.2004 09:07:03", "2004-03-05T09:07:03".
std::string formatDate(WallTime time);
std::string formatDateTime(WallTime time);
std::string formatIsoDateTime(WallTime time);
// A span of seconds as "hh:mm:ss", the hours not limited ("100:00:00").
std::string formatDuration(std::int64_t seconds);

}  // namespace kordel::analysis
