#include "report/report_data.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "files/text_codec.h"

namespace kordel::report {

namespace {

// Days from 1970-01-01 to the given proleptic Gregorian date.
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2 ? 1 : 0;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civilFromDays(std::int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2 ? 1 : 0));
}

// 30 December 1899, day 0 of the toolkit's date-time.
const std::int64_t kEpochDays = daysFromCivil(1899, 12, 30);

bool isLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// The piece [begin, begin + length) of the line as a signed integer.
bool pieceToInt(std::string_view line, std::size_t begin, std::size_t length, int& value) {
  std::int32_t v = 0;
  if (begin + length > line.size() || !toInt32(line.substr(begin, length), v)) return false;
  value = v;
  return true;
}

std::string quoted(std::string_view text) { return "\"" + quoteForMessage(text) + "\""; }

}  // namespace

bool isValidDate(int year, int month, int day) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  const int last = kDays[month - 1] + (month == 2 && isLeap(year) ? 1 : 0);
  return day <= last;
}

bool isValidTime(int hour, int minute, int second) {
  return hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 60;
}

DateTime encodeDateTime(int year, int month, int day, int hour, int minute, int second) {
  const auto days = static_cast<double>(
      daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kEpochDays);
  const double time = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
  return days < 0 ? days - time : days + time;
}

DateTimeParts decodeDateTime(DateTime value) {
  DateTimeParts parts;
  double days = std::trunc(value);
  auto seconds = static_cast<std::int64_t>(std::llround(std::fabs(value - days) * 86400.0));
  if (seconds >= 86400) {
    seconds -= 86400;
    days += value < 0 ? -1 : 1;
  }
  civilFromDays(static_cast<std::int64_t>(days) + kEpochDays, parts.year, parts.month, parts.day);
  parts.hour = static_cast<int>(seconds / 3600);
  parts.minute = static_cast<int>(seconds / 60 % 60);
  parts.second = static_cast<int>(seconds % 60);
  return parts;
}

bool toInt32(std::string_view text, std::int32_t& value) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  if (i == text.size()) return false;
  std::int64_t v = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
    if (v > static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::max()) + 1) return false;
  }
  if (negative) v = -v;
  if (v > std::numeric_limits<std::int32_t>::max()) return false;
  value = static_cast<std::int32_t>(v);
  return true;
}

bool carriesCall(std::string_view line) {
  return !line.empty() && line[0] != ' ' && line.size() > kMaxSkippedLineLength;
}

bool parseCallLine(std::string_view line, ReportCall& call, std::string& error) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  int dh = 0, dm = 0, ds = 0;
  if (!pieceToInt(line, 6, 4, year) || !pieceToInt(line, 3, 2, month) ||
      !pieceToInt(line, 0, 2, day) || !pieceToInt(line, 11, 2, hour) ||
      !pieceToInt(line, 14, 2, minute) || !pieceToInt(line, 17, 2, second) ||
      !pieceToInt(line, 22, 2, dh) || !pieceToInt(line, 25, 2, dm) ||
      !pieceToInt(line, 28, 2, ds)) {
    error = ru("дата, время или длительность не являются числами");
    return false;
  }
  if (!isValidDate(year, month, day)) {
    error = ru("неверная дата ") + quoted(line.substr(0, 10));
    return false;
  }
  if (!isValidTime(hour, minute, second)) {
    error = ru("неверное время ") + quoted(line.substr(11, 8));
    return false;
  }
  if (!isValidTime(dh, dm, ds)) {
    error = ru("неверная длительность ") + quoted(line.substr(22, 8));
    return false;
  }

  // The hardware number starts after the three spaces that follow the duration and runs up to
  // the bracket, whatever its width. A line without a bracket after a hardware number (edited
  // by hand, damaged) is read by the fixed columns of a three-digit hardware number: three
  // characters, one column for the bracket, then the programmed number up to ")".
  constexpr std::size_t kHardwareColumn = 33;
  constexpr std::size_t kHardwareWidth = 3;
  std::size_t open = line.find('(', kHardwareColumn);
  if (open == std::string_view::npos || open == kHardwareColumn) {
    open = kHardwareColumn + kHardwareWidth;
  }
  const std::size_t close = line.find(')', open + 1);
  if (close == std::string_view::npos) {
    error = ru("нет \")\" после программного номера");
    return false;
  }

  call.start = encodeDateTime(year, month, day, hour, minute, second);
  call.duration = encodeDateTime(1900, 1, 1, dh, dm, ds);
  call.durHours = static_cast<std::uint16_t>(dh);
  call.durMinutes = static_cast<std::uint16_t>(dm);
  call.durSeconds = static_cast<std::uint16_t>(ds);
  call.durationSec = dh * 3600 + dm * 60 + ds;
  call.hwNumber.assign(line.substr(kHardwareColumn, open - kHardwareColumn));
  call.prgNumber.clear();
  for (std::size_t i = open + 1; i < close; ++i) {
    if (line[i] != ' ') call.prgNumber += line[i];
  }

  // After ")": three spaces, the trunk right-aligned in five columns (a longer trunk is written
  // whole), five spaces and the dialed number. Reading by these columns keeps a blank trunk
  // field of a model without trunk numbers from swallowing the dialed number.
  call.trunkText.clear();
  call.extNumber.clear();
  std::size_t numberBegin = line.size();
  const std::size_t gapEnd = std::min(close + 4, line.size());
  const bool gapIsBlank =
      line.substr(close + 1, gapEnd - close - 1).find_first_not_of(' ') == std::string_view::npos;
  // The first word at or after `from`: the trunk; the dialed number is what follows it.
  auto takeWord = [&](std::size_t from) {
    const std::size_t first = line.find_first_not_of(' ', from);
    if (first == std::string_view::npos) return;
    std::size_t end = line.find(' ', first);
    if (end == std::string_view::npos) end = line.size();
    call.trunkText.assign(line.substr(first, end - first));
    numberBegin = end;
  };
  const std::size_t trunkBegin = close + 4;
  if (!gapIsBlank) {
    takeWord(close + 1);  // not the program's layout: take the first word as the trunk
  } else if (trunkBegin < line.size()) {
    const std::string_view rest = line.substr(trunkBegin);
    const bool fieldFits =
        rest.size() <= 5 || rest.substr(5, 5).find_first_not_of(' ') == std::string_view::npos;
    if (fieldFits) {
      const std::string_view field = rest.substr(0, 5);
      const std::size_t first = field.find_first_not_of(' ');
      if (first != std::string_view::npos) {
        const std::size_t end = field.find(' ', first);
        call.trunkText.assign(field.substr(
            first, end == std::string_view::npos ? field.size() - first : end - first));
      }
      numberBegin = trunkBegin + 10;
    } else {
      takeWord(trunkBegin);  // an over-wide trunk is written whole
    }
  }
  for (std::size_t i = numberBegin; i < line.size(); ++i) {
    if (line[i] != ' ') call.extNumber += line[i];
  }
  return true;
}

namespace {

// minutes := m, carrying whole hours.
void carryMinutes(std::int64_t& hours, std::uint32_t& minutes, std::uint32_t m) {
  minutes = m;
  if (m >= 60) {
    hours += m / 60;
    minutes = m % 60;
  }
}

// seconds := s, carrying whole minutes (and through them hours).
void carrySeconds(std::int64_t& hours, std::uint32_t& minutes, std::uint32_t& seconds,
                  std::uint32_t s) {
  seconds = s;
  if (s >= 60) {
    carryMinutes(hours, minutes, s / 60 + minutes);
    seconds = s % 60;
  }
}

}  // namespace

void Traffic::setInMinutes(std::uint32_t m) { carryMinutes(inHours, inMinutes, m); }
void Traffic::setInSeconds(std::uint32_t s) { carrySeconds(inHours, inMinutes, inSeconds, s); }
void Traffic::setOutMinutes(std::uint32_t m) { carryMinutes(outHours, outMinutes, m); }
void Traffic::setOutSeconds(std::uint32_t s) { carrySeconds(outHours, outMinutes, outSeconds, s); }

namespace {

void appendPart(std::string& out, std::int64_t value) {
  const std::string digits = std::to_string(value);
  if (digits.size() < 2) out += '0';
  out += digits;
}

unsigned char foldCase(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 0x20);
  if (c >= 0xC0 && c <= 0xDF) return static_cast<unsigned char>(c + 0x20);  // А..Я
  switch (c) {
    case 0xA8:
      return 0xB8;  // Ё
    case 0x80:
      return 0x90;  // Ђ
    case 0x81:
      return 0x83;  // Ѓ
    case 0x8A:
      return 0x9A;  // Љ
    case 0x8C:
      return 0x9C;  // Њ
    case 0x8D:
      return 0x9D;  // Ќ
    case 0x8E:
      return 0x9E;  // Ћ
    case 0x8F:
      return 0x9F;  // Џ
    case 0xA1:
      return 0xA2;  // Ў
    case 0xA3:
      return 0xBC;  // Ј
    case 0xA5:
      return 0xB4;  // Ґ
    case 0xAA:
      return 0xBA;  // Є
    case 0xAF:
      return 0xBF;  // Ї
    case 0xB2:
      return 0xB3;  // І
    case 0xBD:
      return 0xBE;  // Ѕ
    default:
      return c;
  }
}

}  // namespace

// A new entry starts at zero, so adding to it is the same as filling it.
void Traffic::addCall(const ReportCall& call) {
  if (call.extNumber.empty()) {
    inHours += call.durHours;
    setInMinutes(call.durMinutes + inMinutes);
    setInSeconds(call.durSeconds + inSeconds);
    inSec += call.durationSec;
  } else {
    outHours += call.durHours;
    setOutMinutes(call.durMinutes + outMinutes);
    setOutSeconds(call.durSeconds + outSeconds);
    outSec += call.durationSec;
  }
  totalSec += call.durationSec;
}

std::string formatTraffic(std::int64_t hours, std::int64_t minutes, std::int64_t seconds) {
  std::string out;
  appendPart(out, hours);
  out += ':';
  appendPart(out, minutes);
  out += ':';
  appendPart(out, seconds);
  return out;
}

std::string formatSeconds(Seconds total) {
  return formatTraffic(total / 3600, total / 60 % 60, total % 60);
}

int compareTextNoCase(std::string_view a, std::string_view b) {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char x = foldCase(static_cast<unsigned char>(a[i]));
    const unsigned char y = foldCase(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace kordel::report
