// kordel-cli: alarms on stderr and, when asked for, through a command of the administrator's.
#pragma once

#include <string>

#include "collect/alarms.h"

namespace kordel::cli {

// Command-line options of the alarms (read --continuous and collect).
struct AlarmOptions {
  std::string command;  // UTF-8, run through /bin/sh -c (cmd.exe /c on Windows); empty: none
  AlarmThresholds thresholds;
};

// Prints "ALARM raised <name>: <text>" or "ALARM cleared <name>: <text>" on stderr and runs
// the alarm command, if any, without waiting for it, with KORDEL_ALARM_KIND (the name),
// KORDEL_ALARM_STATE ("raised" or "cleared") and KORDEL_ALARM_TEXT (UTF-8) in its environment.
// The monitor raises each kind once until it clears, so the command runs at most once per kind
// until then. Commands that ended are reaped at the next alarm and when the reporter goes (on
// POSIX; Windows keeps no ended process to reap).
class AlarmReporter {
 public:
  explicit AlarmReporter(std::string command) : command_(std::move(command)) {}
  ~AlarmReporter();
  void report(const AlarmEvent& event);

 private:
  std::string command_;
};

}  // namespace kordel::cli
