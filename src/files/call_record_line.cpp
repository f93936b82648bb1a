#include "files/call_record_line.h"

#include <cstdio>

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
    if (record.validity[static_cast<std::size_t>(i)] == kOutOfRange) return '*';
  }
  return normal;
}

}  // namespace

std::string formatCallRecordLine(const CallRecord& record) {
  const char date = separator(record, kValidYear, '-');
  const char time = separator(record, kValidHour, ':');
  const char duration = separator(record, kValidDurationHours, ':');
  std::string line;
  line.reserve(80);
  line += twoDigits(record.day) + date + twoDigits(record.month) + date +
          std::to_string(record.year) + ' ';
  line += twoDigits(record.hour) + time + twoDigits(record.minute) + time +
          twoDigits(record.second) + "   ";
  line += twoDigits(record.durationHours) + duration + twoDigits(record.durationMinutes) +
          duration + twoDigits(record.durationSeconds) + "   ";
  line += std::to_string(record.hardwareNumber) + '(';
  line += record.programmedNumber != "-1" ? padLeft(record.programmedNumber, 4) : "    ";
  line += ")   ";
  line += padLeft(record.trunk, 5) + "     ";
  line += padRight(record.dialedNumber, 21);
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
