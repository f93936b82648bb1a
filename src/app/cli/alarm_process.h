// kordel-cli: starting the administrator's alarm command. alarm_process_posix.cpp (/bin/sh -c)
// and alarm_process_win32.cpp (cmd.exe /c), picked by the build.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace kordel::cli {

// Starts `command` (UTF-8) through the system's command interpreter without waiting for it. Its
// environment is this process's, without any variable whose name begins with KORDEL_ALARM_,
// plus `variables` (name, UTF-8 value). False when it could not be started.
bool startAlarmCommand(const std::string& command,
                       const std::vector<std::pair<std::string, std::string>>& variables);

// Collects the commands that have ended; with `wait`, waits for every one still running first.
// On Windows there is nothing to collect and nothing is waited for.
void reapAlarmCommands(bool wait);

}  // namespace kordel::cli
