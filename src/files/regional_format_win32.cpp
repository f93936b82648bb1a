// The starting date and time formats on Windows: the user's regional settings.
#include <windows.h>

#include <cstddef>
#include <string>

#include "files/regional_format.h"

namespace kordel {

namespace {

const char* const kDefaultShortDate = "dd.MM.yyyy";
const char* const kDefaultLongTime = "H:mm:ss";

// The user's pattern in the program's letters, or an empty text when it uses names of days or
// months, eras or a quoted literal letter.
std::string usablePattern(const std::string& pattern) {
  std::string out;
  for (std::size_t i = 0; i < pattern.size();) {
    const char c = pattern[i];
    std::size_t n = 1;
    while (i + n < pattern.size() && pattern[i + n] == c) ++n;
    if (c == '\'') {
      const std::size_t close = pattern.find('\'', i + 1);
      if (close == std::string::npos) return std::string();
      for (std::size_t k = i + 1; k < close; ++k) {
        const unsigned char l = static_cast<unsigned char>(pattern[k]);
        if (l < 0x80 && ((l >= 'a' && l <= 'z') || (l >= 'A' && l <= 'Z'))) return std::string();
        out += pattern[k];
      }
      i = close + 1;
      continue;
    }
    const bool shortLetter = c == 'd' || c == 'M' || c == 'h' || c == 'H' || c == 'm' || c == 's';
    if (shortLetter && n <= 2) {
      out.append(n, c);
    } else if (c == 'y' && n <= 5) {
      out.append(n, c);
    } else if (c == 't') {
      out.append(n >= 2 ? 2 : 1, 't');  // the morning/afternoon designator
    } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
      return std::string();
    } else {
      out.append(n, c);
    }
    i += n;
  }
  const std::size_t first = out.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  return out.substr(first, out.find_last_not_of(' ') - first + 1);
}

std::string localeText(LCTYPE type) {
  char buffer[128] = {};
  if (GetLocaleInfoA(LOCALE_USER_DEFAULT, type, buffer, sizeof buffer) == 0) return std::string();
  return buffer;
}

}  // namespace

RegionalFormats formatsFromEnvironment() {
  RegionalFormats formats{kDefaultShortDate, kDefaultLongTime};
  const std::string date = usablePattern(localeText(LOCALE_SSHORTDATE));
  const std::string time = usablePattern(localeText(LOCALE_STIMEFORMAT));
  if (!date.empty()) formats.shortDate = date;
  if (!time.empty()) formats.longTime = time;
  const std::string am = localeText(LOCALE_S1159);
  const std::string pm = localeText(LOCALE_S2359);
  if (!am.empty() && !pm.empty()) {
    formats.timeAm = am;
    formats.timePm = pm;
  }
  return formats;
}

}  // namespace kordel
