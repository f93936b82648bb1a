// Files and formats: the layout of the call-record line, and its splitting into fields.
//
// This is the one description of the line: formatCallRecordLine writes by it, and every reader
// of data files (the report builder, the call analysis) takes its columns from here. Columns
// are 0-based byte offsets. The date, time and duration stand at fixed columns; from the
// hardware number on, a field written wider than its width moves everything after it.
//
// May use: the standard library only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kordel::call_line {

inline constexpr std::size_t kPairWidth = 2;  // day, month, hour, minute, ...: zero-padded
inline constexpr std::size_t kYearWidth = 4;  // written as it is, four digits for real years
inline constexpr std::size_t kSeparatorWidth = 1;

inline constexpr char kDateSeparator = '-';
inline constexpr char kTimeSeparator = ':';    // the time and the duration
inline constexpr char kMarkedSeparator = '*';  // every separator of a group with a bad value

inline constexpr std::size_t kGapAfterDate = 1;
inline constexpr std::size_t kGapAfterTime = 3;
inline constexpr std::size_t kGapAfterDuration = 3;

inline constexpr std::size_t kDay = 0;
inline constexpr std::size_t kMonth = kDay + kPairWidth + kSeparatorWidth;
inline constexpr std::size_t kYear = kMonth + kPairWidth + kSeparatorWidth;
inline constexpr std::size_t kDateEnd = kYear + kYearWidth;
inline constexpr std::size_t kHour = kDateEnd + kGapAfterDate;
inline constexpr std::size_t kMinute = kHour + kPairWidth + kSeparatorWidth;
inline constexpr std::size_t kSecond = kMinute + kPairWidth + kSeparatorWidth;
inline constexpr std::size_t kTimeEnd = kSecond + kPairWidth;
inline constexpr std::size_t kDurationHours = kTimeEnd + kGapAfterTime;
inline constexpr std::size_t kDurationMinutes = kDurationHours + kPairWidth + kSeparatorWidth;
inline constexpr std::size_t kDurationSeconds = kDurationMinutes + kPairWidth + kSeparatorWidth;
inline constexpr std::size_t kDurationEnd = kDurationSeconds + kPairWidth;

// The hardware number begins here, in decimal and of any width; three digits in the standard
// line.
inline constexpr std::size_t kHardware = kDurationEnd + kGapAfterDuration;
inline constexpr std::size_t kStandardHardwareWidth = 3;
inline constexpr char kOpenBracket = '(';
inline constexpr char kCloseBracket = ')';
// Between the brackets: the programmed number right-aligned, or only spaces when the record
// carries none (its text is then "-1").
inline constexpr std::size_t kProgrammedWidth = 4;
inline constexpr std::string_view kNoProgrammedNumber = "-1";
inline constexpr std::size_t kGapAfterBracket = 3;
inline constexpr std::size_t kTrunkWidth = 5;  // right-aligned; blank for models without trunks
inline constexpr std::size_t kGapAfterTrunk = 5;
inline constexpr std::size_t kDialedWidth = 21;  // left-aligned; blank for an incoming call

inline constexpr std::size_t kStandardLength = kHardware + kStandardHardwareWidth + 1 +
                                               kProgrammedWidth + 1 + kGapAfterBracket +
                                               kTrunkWidth + kGapAfterTrunk + kDialedWidth;
static_assert(kStandardLength == 76);

// Lines shorter than this, empty lines and lines that begin with a space (the title lines)
// carry no call; data-file readers skip them.
inline constexpr std::size_t kMinCallLineLength = 47;
constexpr bool carriesCall(std::string_view line) {
  return line.size() >= kMinCallLineLength && line[0] != ' ';
}

// Why a line that carries a call could not be split. The checks run in this order.
enum class LineError {
  None,
  NotANumber,      // a piece of the date, time or duration is not a decimal number
  BadDate,         // no such day
  BadTime,         // not a time of day
  BadDuration,     // not a time of day either
  NoCloseBracket,  // no ")" after the programmed number
};

// The fields of one call-record line. The views point into the line.
struct CallLineFields {
  int year = 0, month = 0, day = 0;
  int hour = 0, minute = 0, second = 0;
  int durationHours = 0, durationMinutes = 0, durationSeconds = 0;
  // A "*" stands among the separators of the group: the PBX flagged a value out of range.
  bool markedDate = false, markedTime = false, markedDuration = false;
  std::string_view hardware;    // as written (three characters in the standard line)
  std::string_view programmed;  // between the brackets, spaces included
  std::string_view trunk;       // the trunk number without spaces; empty when blank
  std::string_view dialed;      // the rest of the line after the trunk, spaces included
};

// Splits a line. The numbers of the date, time and duration are read like toInt32 (leading
// spaces and a sign allowed) and the separators are not required. A line without "(" after
// the hardware number is read by the columns of the standard line. A line whose gap after ")"
// is not blank (edited by hand) gives the first word after ")" as the trunk. Returns None and
// fills every field, or the first error found.
LineError splitCallLine(std::string_view line, CallLineFields& fields);
// Why, as messages say it (Windows-1251; empty for None).
std::string lineErrorText(LineError error);

// A signed 32-bit decimal: optional leading spaces, an optional sign, then digits only.
bool parseInt32(std::string_view text, std::int32_t& value);

// Years 1..9999 with their real month lengths; times 0:00:00..23:59:59.
bool isValidDate(int year, int month, int day);
bool isValidTime(int hour, int minute, int second);

// Calls `take(c)` for every character of `text` that is not a space, in order.
template <typename Take>
void forEachNonSpace(std::string_view text, Take take) {
  for (char c : text) {
    if (c != ' ') take(c);
  }
}

}  // namespace kordel::call_line
