#include "report/report_data.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "files/call_record_layout.h"
#include "files/civil_date.h"
#include "files/text_codec.h"

namespace kordel::report {

namespace {

// 30 December 1899, day 0 of the toolkit's date-time.
const std::int64_t kEpochDays = daysFromCivil(1899, 12, 30);

// The characters of `field` other than spaces. The writer pads a field with spaces on one side
// only, so the characters are usually one piece and are taken as they stand.
void assignWithoutSpaces(CallText& text, std::string_view field) {
  const char* p = field.data();
  std::size_t begin = 0;
  std::size_t end = field.size();
  while (begin < end && p[begin] == ' ') ++begin;
  while (end > begin && p[end - 1] == ' ') --end;
  std::size_t i = begin;
  while (i < end && p[i] != ' ') ++i;
  if (i == end) {
    text.assign(std::string_view(p + begin, end - begin));
    return;
  }
  std::string joined;
  call_line::forEachNonSpace(field.substr(begin, end - begin), [&](char c) { joined += c; });
  text.assign(joined);
}

std::string quoted(std::string_view text) { return "\"" + quoteForMessage(text) + "\""; }

}  // namespace

bool isValidDate(int year, int month, int day) { return call_line::isValidDate(year, month, day); }

bool isValidTime(int hour, int minute, int second) {
  return call_line::isValidTime(hour, minute, second);
}

DateTime encodeDateTime(int year, int month, int day, int hour, int minute, int second) {
  const auto days = static_cast<double>(daysFromCivil(year, month, day) - kEpochDays);
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
  return call_line::parseInt32(text, value);
}

bool carriesCall(std::string_view line) { return call_line::carriesCall(line); }

bool parseCallLine(std::string_view line, ReportCall& call, std::string& error) {
  call_line::CallLineFields f;
  switch (call_line::splitCallLine(line, f)) {
    case call_line::LineError::None:
      break;
    case call_line::LineError::NotANumber:
      error = ru("дата, время или длительность не являются числами");
      return false;
    case call_line::LineError::BadDate:
      error = ru("неверная дата ") + quoted(line.substr(call_line::kDay, call_line::kDateEnd));
      return false;
    case call_line::LineError::BadTime:
      error = ru("неверное время ") +
              quoted(line.substr(call_line::kHour, call_line::kTimeEnd - call_line::kHour));
      return false;
    case call_line::LineError::BadDuration:
      error = ru("неверная длительность ") +
              quoted(line.substr(call_line::kDurationHours,
                                 call_line::kDurationEnd - call_line::kDurationHours));
      return false;
    case call_line::LineError::NoCloseBracket:
      error = ru("нет \")\" после программного номера");
      return false;
  }
  call.start = encodeDateTime(f.year, f.month, f.day, f.hour, f.minute, f.second);
  call.duration = encodeDateTime(1900, 1, 1, f.durationHours, f.durationMinutes, f.durationSeconds);
  call.durHours = static_cast<std::uint16_t>(f.durationHours);
  call.durMinutes = static_cast<std::uint16_t>(f.durationMinutes);
  call.durSeconds = static_cast<std::uint16_t>(f.durationSeconds);
  call.durationSec = f.durationHours * 3600 + f.durationMinutes * 60 + f.durationSeconds;
  call.hwNumber.assign(f.hardware);
  assignWithoutSpaces(call.prgNumber, f.programmed);
  call.trunkText.assign(f.trunk);
  assignWithoutSpaces(call.extNumber, f.dialed);
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

void Traffic::add(const Traffic& other) {
  inHours += other.inHours;
  setInMinutes(other.inMinutes + inMinutes);
  setInSeconds(other.inSeconds + inSeconds);
  inSec += other.inSec;
  outHours += other.outHours;
  setOutMinutes(other.outMinutes + outMinutes);
  setOutSeconds(other.outSeconds + outSeconds);
  outSec += other.outSec;
  totalSec += other.totalSec;
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
