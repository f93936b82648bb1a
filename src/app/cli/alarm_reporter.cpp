#include "app/cli/alarm_reporter.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "app/cli/cli_common.h"
#include "files/text_codec.h"

extern char** environ;

namespace kordel::cli {

AlarmReporter::~AlarmReporter() { reap(true); }

void AlarmReporter::reap(bool wait) {
  while (waitpid(-1, nullptr, wait ? 0 : WNOHANG) > 0) {
  }
}

void AlarmReporter::report(const AlarmEvent& event) {
  const std::string state = event.raised ? "raised" : "cleared";
  printError("ALARM " + state + " " + alarmName(event.kind) + ": " + event.text);
  reap(false);
  if (command_.empty()) return;
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, "KORDEL_ALARM_", 13) != 0) env.emplace_back(*e);
  }
  env.push_back(std::string("KORDEL_ALARM_KIND=") + alarmName(event.kind));
  env.push_back("KORDEL_ALARM_STATE=" + state);
  env.push_back("KORDEL_ALARM_TEXT=" + cp1251ToUtf8(event.text));
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string shell = "/bin/sh", dashC = "-c", command = command_;
  char* argv[] = {shell.data(), dashC.data(), command.data(), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, envp.data()) != 0) {
    printError(ru("Не удалось запустить команду оповещения: ") + utf8ToCp1251(command_));
  }
}

}  // namespace kordel::cli
