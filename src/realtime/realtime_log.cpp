// The real-time log and the timer-tick counting of the real-time window.
#include "realtime/realtime_log.h"

#include <sys/stat.h>

#include <cstdio>
#include <ctime>

#include "files/data_file.h"
#include "files/file_access.h"
#include "files/regional_format.h"
#include "files/text_codec.h"
#include "link/coding.h"

namespace kordel {

namespace {

const char kLineEnd[] = "\r\n";

bool fileExists(const std::string& nativeName) {
  struct stat info {};
  return ::stat(nativeName.c_str(), &info) == 0;
}

}  // namespace

int clampLogInterval(int interval) {
  if (interval < kMinLogInterval) return kMinLogInterval;
  if (interval > kMaxLogInterval) return kMaxLogInterval;
  return interval;
}

int stepLogInterval(int interval, int delta) {
  constexpr int kSpan = kMaxLogInterval - kMinLogInterval + 1;
  const int from = clampLogInterval(interval) - kMinLogInterval;
  const int moved = ((from + delta % kSpan) % kSpan + kSpan) % kSpan;
  return moved + kMinLogInterval;
}

StampTime localTimeNow() {
  const std::tm local = localTime(std::time(nullptr));
  return StampTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                   local.tm_hour,        local.tm_min,     local.tm_sec};
}

std::string logStampLine(const StampTime& when, const std::string& shortDate,
                         const std::string& longTime) {
  static const std::string kStamp = ru("****** Дата и время считывания: ");
  return kStamp + formatDate(shortDate, when.year, when.month, when.day) + "   " +
         formatTime(longTime, when.hour, when.minute, when.second);
}

std::string logRecord(const std::array<std::string, kMaxStateLines>& lines, unsigned lineCount,
                      const StampTime& when) {
  const RegionalFormats& formats = regionalFormats();
  std::string record = logStampLine(when, formats.shortDate, formats.longTime) + kLineEnd;
  const unsigned count = lineCount < lines.size() ? lineCount : unsigned(lines.size());
  for (unsigned i = 0; i < count; ++i) record += lines[i] + kLineEnd;
  record += kLineEnd;
  return record;
}

int appendLogRecord(const std::string& fileName, const std::string& record) {
  const std::string path = nativePath(fileName);
  // Binary mode: the record already carries its CR LF line ends on every platform. A FIFO or a
  // device is refused without waiting, and nothing is created in its place.
  const OpenedFile opened = openRegularFile(path, FileMode::Append);
  if (opened.notRegular) return kAppendFailed;
  std::FILE* file = opened.file;
  if (file == nullptr) {
    // This record is lost; a missing file is created empty so that a later record can go in.
    if (!fileExists(path)) {
      if (std::FILE* created = std::fopen(path.c_str(), "wb")) std::fclose(created);
    }
    return kAppendFailed;
  }
  bool written = std::fwrite(record.data(), 1, record.size(), file) == record.size();
  written = std::fflush(file) == 0 && written;
  written = std::fclose(file) == 0 && written;
  return written ? kAppendOk : kAppendError;
}

TickOutcome RealTimeTicker::tick(int queryResult, int interval, bool logEnabled) {
  TickOutcome outcome;
  if (queryResult != kOk) return outcome;  // the list and the count stay as they are
  outcome.refresh = true;
  if (tickCounter < interval) {
    ++tickCounter;
  } else {
    outcome.writeLog = logEnabled;
    tickCounter = 1;
  }
  return outcome;
}

}  // namespace kordel
