#include "files/call_record_line.h"

#include <cstdio>

#include "files/call_record_layout.h"
#include "files/text_codec.h"

namespace kordel {
namespace {

// At least two digits: a single digit gets one leading "0".
std::string twoDigits(int value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%02d", value);
  return buffer;
}

std::string padLeft(const std::string& text, std::size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string padRight(const std::string& text, std::size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

// "*" when any marker of the group of three starting at `first` is out of range.
char separator(const CallRecord& record, int first, char normal) {
  for (int i = first; i < first + 3; ++i) {
    if (record.validity[static_cast<std::size_t>(i)] == kOutOfRange) {
      return call_line::kMarkedSeparator;
    }
  }
  return normal;
}

}  // namespace

std::string formatCallRecordLine(const CallRecord& record) {
  using namespace call_line;
  const char date = separator(record, kValidYear, kDateSeparator);
  const char time = separator(record, kValidHour, kTimeSeparator);
  const char duration = separator(record, kValidDurationHours, kTimeSeparator);
  std::string line;
  line.reserve(kStandardLength + 4);
  line += twoDigits(record.day) + date + twoDigits(record.month) + date +
          std::to_string(record.year) + std::string(kGapAfterDate, ' ');
  line += twoDigits(record.hour) + time + twoDigits(record.minute) + time +
          twoDigits(record.second) + std::string(kGapAfterTime, ' ');
  line += twoDigits(record.durationHours) + duration + twoDigits(record.durationMinutes) +
          duration + twoDigits(record.durationSeconds) + std::string(kGapAfterDuration, ' ');
  line += std::to_string(record.hardwareNumber) + kOpenBracket;
  line += record.programmedNumber != kNoProgrammedNumber
              ? padLeft(record.programmedNumber, kProgrammedWidth)
              : std::string(kProgrammedWidth, ' ');
  line += kCloseBracket + std::string(kGapAfterBracket, ' ');
  line += padLeft(record.trunk, kTrunkWidth) + std::string(kGapAfterTrunk, ' ');
  line += padRight(record.dialedNumber, kDialedWidth);
  return line;
}

std::string headerLine(const PbxClock& t) {
  static const std::string kWords = ru("       Данные на  ");
  return kWords + twoDigits(t.day) + "-" + twoDigits(t.month) + "-" + std::to_string(t.year) +
         " " + twoDigits(t.hour) + ":" + twoDigits(t.minute) + ":" + twoDigits(t.second) + " ";
}

const std::string& columnTitleLine() {
  static const std::string kLine =
      ru("       Начало         Продолжит   Абонент      СЛ     Номер");
  return kLine;
}

}  // namespace kordel
