// Files and formats: the program-wide short date format and long time format.
//
// Formats use the letters of the regional settings: d dd M MM yy yyyy for dates, h hh H HH m mm
// s ss for times (h and H both mean the 24-hour hour; a doubled letter pads to two digits);
// any other character stands as it is. The real-time log, the report window and kordel-cli all
// use these two program-wide values.
//
// Rule: when the locale for dates and times (LC_ALL, LC_TIME or LANG, in that order) names a
// locale other than C or POSIX, the formats start from that locale's date and time formats;
// otherwise from the Russian regional defaults, short date "dd.MM.yyyy" and long time
// "H:mm:ss". The report window sets the long time format to "hh:mm:ss" when it loads a file.
//
// REQUIRES: used from one thread (the GUI thread, or the command-line tool's main thread).
#pragma once

#include <string>

namespace kordel {

struct RegionalFormats {
  std::string shortDate;
  std::string longTime;
};

// The program-wide formats, made by the rule above on first use.
RegionalFormats& regionalFormats();
// The rule, applied afresh to the current environment.
RegionalFormats formatsFromEnvironment();

inline constexpr const char* kReportLongTimeFormat = "hh:mm:ss";

std::string formatDate(const std::string& format, int year, int month, int day);
std::string formatTime(const std::string& format, int hour, int minute, int second);

}  // namespace kordel
