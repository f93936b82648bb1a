// The program-wide date and time formats and their rendering. How the starting formats are
// found is platform code: regional_format_posix.cpp and regional_format_win32.cpp.
#include "files/regional_format.h"

#include <cctype>
#include <cstddef>

namespace kordel {

namespace {

// Appends `value` with at least `width` digits (width 0 or 1: no padding).
void appendNumber(std::string& out, int value, int width) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  if (value < 0) out += '-';
  for (std::size_t i = digits.size(); i < static_cast<std::size_t>(width); ++i) out += '0';
  out += digits;
}

// Length of the run of `format[i]` starting at i.
std::size_t runLength(const std::string& format, std::size_t i) {
  std::size_t n = 1;
  while (i + n < format.size() && format[i + n] == format[i]) ++n;
  return n;
}

// strftime conversions and their letters, padded and with the '-' flag.
struct StrftimeConversion {
  char conversion;
  const char* padded;
  const char* bare;
};
constexpr StrftimeConversion kStrftimeConversions[] = {
    {'d', "dd", "d"},
    {'e', "d", "d"},
    {'m', "MM", "M"},
    {'y', "yy", "yy"},
    {'Y', "yyyy", "yyyy"},
    {'H', "HH", "H"},
    {'k', "H", "H"},
    {'I', "hh", "h"},
    {'l', "h", "h"},
    {'M', "mm", "m"},
    {'S', "ss", "s"},
    {'D', "MM/dd/yy", "M/d/yy"},
    {'F', "yyyy-MM-dd", "yyyy-M-d"},
    {'T', "HH:mm:ss", "HH:mm:ss"},
    {'R', "HH:mm", "HH:mm"},
    {'r', "hh:mm:ss tt", "hh:mm:ss tt"},
    {'p', "tt", "tt"},
    {'P', "tt", "tt"},
    {'n', " ", " "},
    {'t', " ", " "},
    {'%', "%", "%"},
};

}  // namespace

RegionalFormats& regionalFormats() {
  static RegionalFormats formats = formatsFromEnvironment();
  return formats;
}

std::string formatDate(const std::string& format, int year, int month, int day) {
  std::string out;
  for (std::size_t i = 0; i < format.size();) {
    const char c = format[i];
    const std::size_t n = runLength(format, i);
    if (c == 'd') {
      appendNumber(out, day, n >= 2 ? 2 : 1);
    } else if (c == 'M') {
      appendNumber(out, month, n >= 2 ? 2 : 1);
    } else if (c == 'y') {
      // y: year of the century without padding; yy: two digits; three or more: the full year.
      if (n >= 3) {
        appendNumber(out, year, 4);
      } else {
        appendNumber(out, ((year % 100) + 100) % 100, n == 2 ? 2 : 1);
      }
    } else {
      out.append(n, c);
    }
    i += n;
  }
  return out;
}

std::string formatTime(const std::string& format, int hour, int minute, int second,
                       const std::string& am, const std::string& pm) {
  const bool twelveHour = format.find('t') != std::string::npos;
  const std::string& designator = hour < 12 ? am : pm;
  std::string out;
  for (std::size_t i = 0; i < format.size();) {
    const char c = format[i];
    const std::size_t n = runLength(format, i);
    const int width = n >= 2 ? 2 : 1;
    if (c == 'H') {
      appendNumber(out, hour, width);
    } else if (c == 'h') {
      appendNumber(out, twelveHour ? (hour + 11) % 12 + 1 : hour, width);
    } else if (c == 't') {
      out += n >= 2 ? designator : designator.substr(0, 1);
    } else if (c == 'm') {
      appendNumber(out, minute, width);
    } else if (c == 's') {
      appendNumber(out, second, width);
    } else {
      out.append(n, c);
    }
    i += n;
  }
  return out;
}

std::string formatTime(const std::string& format, int hour, int minute, int second) {
  const RegionalFormats& formats = regionalFormats();
  return formatTime(format, hour, minute, second, formats.timeAm, formats.timePm);
}

std::string translateStrftimePattern(const std::string& pattern) {
  std::string out;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(pattern[i]);
    if (c != '%') {
      // A literal letter would be read back as a pattern letter; other bytes could not be
      // shown in the program's code page.
      if (c >= 0x80 || std::isalpha(c)) return std::string();
      out += static_cast<char>(c);
      continue;
    }
    if (++i >= pattern.size()) return std::string();
    // GNU flags and width: '-' drops the padding, the others keep the usual form.
    bool unpadded = false;
    while (i < pattern.size() && (pattern[i] == '-' || pattern[i] == '_' || pattern[i] == '0' ||
                                  pattern[i] == '^' || pattern[i] == '#')) {
      if (pattern[i] == '-') unpadded = true;
      ++i;
    }
    while (i < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[i]))) ++i;
    // Alternative-era and alternative-digit modifiers change nothing for these conversions.
    if (i < pattern.size() && (pattern[i] == 'E' || pattern[i] == 'O')) ++i;
    if (i >= pattern.size()) return std::string();
    const char conversion = pattern[i];
    const StrftimeConversion* found = nullptr;
    for (const StrftimeConversion& known : kStrftimeConversions) {
      if (known.conversion == conversion) found = &known;
    }
    if (found == nullptr) return std::string();
    out += unpadded ? found->bare : found->padded;
  }
  const std::size_t first = out.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  const std::size_t last = out.find_last_not_of(' ');
  return out.substr(first, last - first + 1);
}

}  // namespace kordel
