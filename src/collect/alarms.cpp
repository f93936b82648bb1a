#include "collect/alarms.h"

#include <cstdlib>
#include <ctime>

#include "files/civil_date.h"
#include "files/text_codec.h"

namespace kordel {

namespace {

long long secondsOf(const PbxClock& c) {
  return daysFromCivil(c.year, c.month, c.day) * 86400 + c.hour * 3600 + c.minute * 60 + c.second;
}

std::string two(int v) { return (v < 10 ? "0" : "") + std::to_string(v); }

std::string clockText(const PbxClock& c) {
  return two(c.day) + "." + two(c.month) + "." + std::to_string(c.year) + " " + two(c.hour) + ":" +
         two(c.minute) + ":" + two(c.second);
}

}  // namespace

const char* alarmName(AlarmKind kind) {
  switch (kind) {
    case AlarmKind::kBufferFilling:
      return "buffer-filling";
    case AlarmKind::kBufferFull:
      return "buffer-full";
    case AlarmKind::kPbxSilent:
      return "pbx-silent";
    case AlarmKind::kDataFile:
      return "data-file";
    case AlarmKind::kClockSkew:
      return "clock";
  }
  return "?";
}

PbxClock computerClock() {
  const std::tm local = localTime(std::time(nullptr));
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
          local.tm_hour,        local.tm_min,     local.tm_sec};
}

long long secondsBetween(const PbxClock& a, const PbxClock& b) {
  return secondsOf(b) - secondsOf(a);
}

void AlarmMonitor::set(AlarmKind kind, bool on, const std::string& text,
                       std::vector<AlarmEvent>& out) {
  bool& active = active_[static_cast<int>(kind)];
  if (active == on) return;
  active = on;
  out.push_back({kind, on, text});
}

std::vector<AlarmEvent> AlarmMonitor::identified(int recordsInBuffer, int capacity,
                                                 const PbxClock& pbx, const PbxClock& computer,
                                                 std::uint64_t nowMs) {
  std::vector<AlarmEvent> out = answered(nowMs);
  const int waiting = recordsInBuffer < 0 ? 0 : recordsInBuffer;
  const std::string fill =
      ru("В буфере АТС ") + std::to_string(waiting) + ru(" записей из ") + std::to_string(capacity);
  if (capacity > 0) {
    const bool full = waiting >= capacity;
    const bool filling = static_cast<long long>(waiting) * 100 >=
                         static_cast<long long>(thresholds_.fillPercent) * capacity;
    set(AlarmKind::kBufferFilling, filling,
        filling ? fill + ru(": буфер почти заполнен, звонки скоро начнут теряться.") : fill + ".",
        out);
    set(AlarmKind::kBufferFull, full,
        full ? fill + ru(": буфер заполнен, новые звонки теряются.") : fill + ".", out);
  }
  const long long skew = secondsBetween(computer, pbx);
  const bool off = std::llabs(skew) > static_cast<long long>(thresholds_.clockSkewMinutes) * 60;
  set(AlarmKind::kClockSkew, off,
      ru("Часы АТС ") + clockText(pbx) + ru(", часы компьютера ") + clockText(computer) +
          (off ? ru(": расходятся на ") + std::to_string(std::llabs(skew) / 60) + ru(" мин.")
               : "."),
      out);
  return out;
}

std::vector<AlarmEvent> AlarmMonitor::answered(std::uint64_t nowMs) {
  std::vector<AlarmEvent> out;
  lastAnswerMs_ = nowMs;
  set(AlarmKind::kPbxSilent, false, ru("АТС снова отвечает."), out);
  return out;
}

std::vector<AlarmEvent> AlarmMonitor::notAnswered(std::uint64_t nowMs) {
  std::vector<AlarmEvent> out;
  if (!lastAnswerMs_) lastAnswerMs_ = nowMs;  // silent from the start: counted from now
  const std::uint64_t silentMs = nowMs - *lastAnswerMs_;
  if (silentMs > static_cast<std::uint64_t>(thresholds_.silentMinutes) * 60000u) {
    set(AlarmKind::kPbxSilent, true,
        ru("АТС не отвечает уже ") + std::to_string(silentMs / 60000) + ru(" мин."), out);
  }
  return out;
}

std::vector<AlarmEvent> AlarmMonitor::dataFileWritten() {
  std::vector<AlarmEvent> out;
  set(AlarmKind::kDataFile, false, ru("Файл данных снова принимает записи."), out);
  return out;
}

std::vector<AlarmEvent> AlarmMonitor::dataFileFailed(const std::string& fileName) {
  std::vector<AlarmEvent> out;
  set(AlarmKind::kDataFile, true,
      ru("Не удается записать файл данных ") + quoteForMessage(fileName) +
          ru("; записи остаются в буфере АТС."),
      out);
  return out;
}

}  // namespace kordel
