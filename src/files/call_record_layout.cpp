#include "files/call_record_layout.h"

#include <algorithm>
#include <limits>

#include "files/text_codec.h"

namespace kordel::call_line {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The piece [begin, begin + length) as a number; the two- and four-digit forms that the writer
// produces are taken without the general conversion.
bool pieceToInt(std::string_view line, std::size_t begin, std::size_t length, int& value) {
  if (begin + length > line.size()) return false;
  const char* p = line.data() + begin;
  if (length == kPairWidth && isDigit(p[0]) && isDigit(p[1])) {
    value = (p[0] - '0') * 10 + (p[1] - '0');
    return true;
  }
  if (length == kYearWidth && isDigit(p[0]) && isDigit(p[1]) && isDigit(p[2]) && isDigit(p[3])) {
    value = (p[0] - '0') * 1000 + (p[1] - '0') * 100 + (p[2] - '0') * 10 + (p[3] - '0');
    return true;
  }
  std::int32_t v = 0;
  if (!parseInt32(line.substr(begin, length), v)) return false;
  value = v;
  return true;
}

bool marked(std::string_view line, std::size_t firstPair) {
  const std::size_t a = firstPair + kPairWidth;
  const std::size_t b = a + kSeparatorWidth + kPairWidth;
  return line[a] == kMarkedSeparator || line[b] == kMarkedSeparator;
}

bool isLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

}  // namespace

bool parseInt32(std::string_view text, std::int32_t& value) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  if (i == text.size()) return false;
  std::int64_t v = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (!isDigit(c)) return false;
    v = v * 10 + (c - '0');
    if (v > static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::max()) + 1) return false;
  }
  if (negative) v = -v;
  if (v > std::numeric_limits<std::int32_t>::max()) return false;
  value = static_cast<std::int32_t>(v);
  return true;
}

bool isValidDate(int year, int month, int day) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  const int last = kDays[month - 1] + (month == 2 && isLeap(year) ? 1 : 0);
  return day <= last;
}

bool isValidTime(int hour, int minute, int second) {
  return hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 60;
}

LineError splitCallLine(std::string_view line, CallLineFields& f) {
  if (!pieceToInt(line, kYear, kYearWidth, f.year) ||
      !pieceToInt(line, kMonth, kPairWidth, f.month) ||
      !pieceToInt(line, kDay, kPairWidth, f.day) || !pieceToInt(line, kHour, kPairWidth, f.hour) ||
      !pieceToInt(line, kMinute, kPairWidth, f.minute) ||
      !pieceToInt(line, kSecond, kPairWidth, f.second) ||
      !pieceToInt(line, kDurationHours, kPairWidth, f.durationHours) ||
      !pieceToInt(line, kDurationMinutes, kPairWidth, f.durationMinutes) ||
      !pieceToInt(line, kDurationSeconds, kPairWidth, f.durationSeconds)) {
    return LineError::NotANumber;
  }
  if (!isValidDate(f.year, f.month, f.day)) return LineError::BadDate;
  if (!isValidTime(f.hour, f.minute, f.second)) return LineError::BadTime;
  if (!isValidTime(f.durationHours, f.durationMinutes, f.durationSeconds)) {
    return LineError::BadDuration;
  }

  // The hardware number runs up to the bracket, whatever its width. A line without a bracket
  // after a hardware number (edited by hand, damaged) is read by the columns of the standard
  // line: three characters, one column for the bracket, then the programmed number up to ")".
  std::size_t open = line.find(kOpenBracket, kHardware);
  if (open == std::string_view::npos || open == kHardware) {
    open = kHardware + kStandardHardwareWidth;
  }
  const std::size_t close = line.find(kCloseBracket, open + 1);
  if (close == std::string_view::npos) return LineError::NoCloseBracket;

  f.markedDate = marked(line, kDay);
  f.markedTime = marked(line, kHour);
  f.markedDuration = marked(line, kDurationHours);
  f.hardware = line.substr(kHardware, open - kHardware);
  f.programmed = line.substr(open + 1, close - open - 1);

  // After ")": the gap, the trunk right-aligned in its field (a longer trunk is written whole),
  // the gap and the dialed number. Reading by these columns keeps a blank trunk field of a
  // model without trunk numbers from swallowing the dialed number.
  const char* p = line.data();
  const std::size_t n = line.size();
  // True when [from, to) holds only spaces (the part of it inside the line).
  auto blank = [p, n](std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to && i < n; ++i) {
      if (p[i] != ' ') return false;
    }
    return true;
  };
  f.trunk = std::string_view();
  std::size_t numberBegin = n;
  // The first word at or after `from`: the trunk; the dialed number is what follows it.
  auto takeWord = [&](std::size_t from) {
    std::size_t first = from;
    while (first < n && p[first] == ' ') ++first;
    if (first == n) return;
    std::size_t end = first;
    while (end < n && p[end] != ' ') ++end;
    f.trunk = std::string_view(p + first, end - first);
    numberBegin = end;
  };
  const std::size_t trunkBegin = close + 1 + kGapAfterBracket;
  if (!blank(close + 1, trunkBegin)) {
    takeWord(close + 1);  // not the program's layout: take the first word as the trunk
  } else if (trunkBegin < n) {
    const std::size_t fieldEnd = trunkBegin + kTrunkWidth;
    if (n <= fieldEnd || blank(fieldEnd, fieldEnd + kGapAfterTrunk)) {
      std::size_t first = trunkBegin;
      const std::size_t last = fieldEnd < n ? fieldEnd : n;
      while (first < last && p[first] == ' ') ++first;
      std::size_t end = first;
      while (end < last && p[end] != ' ') ++end;
      f.trunk = std::string_view(p + first, end - first);
      numberBegin = fieldEnd + kGapAfterTrunk;
    } else {
      takeWord(trunkBegin);  // an over-wide trunk is written whole
    }
  }
  f.dialed = numberBegin < line.size() ? line.substr(numberBegin) : std::string_view();
  return LineError::None;
}

std::string lineErrorText(LineError error) {
  switch (error) {
    case LineError::NotANumber:
      return ru("дата, время или длительность не являются числами");
    case LineError::BadDate:
      return ru("неверная дата");
    case LineError::BadTime:
      return ru("неверное время");
    case LineError::BadDuration:
      return ru("неверная длительность");
    case LineError::NoCloseBracket:
      return ru("нет \")\" после программного номера");
    case LineError::None:
      break;
  }
  return std::string();
}

}  // namespace kordel::call_line
