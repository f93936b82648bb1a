// Files and formats: the program-wide short date format and long time format.
//
// Formats use the letters of the regional settings: d dd M MM yy yyyy for dates, h hh H HH m mm
// s ss t tt for times; a doubled letter pads to two digits, and any other character stands as
// it is. tt is the morning/afternoon designator ("AM", "PM" or the locale's own), t its first
// character. With a designator in the format, h and hh give the 12-hour hour (1 to 12);
// without one, h is the 24-hour hour like H. The real-time log, the report window and
// kordel-cli all use these program-wide values.
//
// Rule: when the locale for dates and times (LC_ALL, LC_TIME or LANG, in that order) names a
// locale other than C or POSIX, the formats start from that locale's date and time formats;
// otherwise from the Russian regional defaults, short date "dd.MM.yyyy" and long time
// "H:mm:ss". On Windows the formats start from the user's regional settings instead. The
// report window sets the long time format to "hh:mm:ss" when it loads a file.
//
// REQUIRES: used from one thread (the GUI thread, or the command-line tool's main thread).
#pragma once

#include <string>

namespace kordel {

struct RegionalFormats {
  std::string shortDate;
  std::string longTime;
  std::string timeAm = "AM";  // the designators for tt (Windows-1251)
  std::string timePm = "PM";
};

// The program-wide formats, made by the rule above on first use.
RegionalFormats& regionalFormats();
// The rule, applied afresh to the current environment.
RegionalFormats formatsFromEnvironment();

inline constexpr const char* kReportLongTimeFormat = "hh:mm:ss";

// Render the letters of `format` (date letters in formatDate, time letters in formatTime);
// every other character is copied. A year is shown with at least four digits for yyyy.
std::string formatDate(const std::string& format, int year, int month, int day);
// `hour` is 0 to 23. The second form takes the designators from regionalFormats().
std::string formatTime(const std::string& format, int hour, int minute, int second,
                       const std::string& am, const std::string& pm);
std::string formatTime(const std::string& format, int hour, int minute, int second);

// A C-library date or time pattern (strftime conversions, as nl_langinfo gives them) in the
// letters above: %d dd, %e d, %m MM, %y yy, %Y yyyy, %H HH, %k H, %I hh, %l h, %M mm, %S ss,
// %p and %P tt, %D %F %T %R %r as their parts.
// Returns an empty text when the pattern uses anything else (names of days or months, ...)
// or has a literal letter or non-ASCII byte that the letters would misread.
std::string translateStrftimePattern(const std::string& pattern);

}  // namespace kordel
