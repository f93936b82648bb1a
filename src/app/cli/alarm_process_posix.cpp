// The alarm command on POSIX: posix_spawn of /bin/sh -c, reaped with waitpid.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "app/cli/alarm_process.h"

extern char** environ;

namespace kordel::cli {

bool startAlarmCommand(const std::string& command,
                       const std::vector<std::pair<std::string, std::string>>& variables) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, "KORDEL_ALARM_", 13) != 0) env.emplace_back(*e);
  }
  for (const auto& [name, value] : variables) env.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string shell = "/bin/sh", dashC = "-c", text = command;
  char* argv[] = {shell.data(), dashC.data(), text.data(), nullptr};
  pid_t pid = 0;
  return posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, envp.data()) == 0;
}

void reapAlarmCommands(bool wait) {
  while (waitpid(-1, nullptr, wait ? 0 : WNOHANG) > 0) {
  }
}

}  // namespace kordel::cli
