#include "app/cli/alarm_reporter.h"

#include "app/cli/alarm_process.h"
#include "app/cli/cli_common.h"
#include "files/text_codec.h"

namespace kordel::cli {

AlarmReporter::~AlarmReporter() { reapAlarmCommands(true); }

void AlarmReporter::report(const AlarmEvent& event) {
  const std::string state = event.raised ? "raised" : "cleared";
  printError("ALARM " + state + " " + alarmName(event.kind) + ": " + event.text);
  reapAlarmCommands(false);
  if (command_.empty()) return;
  const bool started =
      startAlarmCommand(command_, {{"KORDEL_ALARM_KIND", alarmName(event.kind)},
                                   {"KORDEL_ALARM_STATE", state},
                                   {"KORDEL_ALARM_TEXT", cp1251ToUtf8(event.text)}});
  if (!started) {
    printError(ru("Не удалось запустить команду оповещения: ") + utf8ToCp1251(command_));
  }
}

}  // namespace kordel::cli
