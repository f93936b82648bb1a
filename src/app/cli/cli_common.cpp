#include "app/cli/cli_common.h"

#include <cstdio>

#include "app/cli/commands.h"
#include "collect/collector.h"
#include "collect/start_up.h"
#include "files/data_file.h"
#include "files/text_codec.h"

namespace kordel::cli {
namespace {

// What the configuration loads found wrong, each on a line of its own; printed once.
void printConfigWarnings(Settings& settings) {
  for (const std::string& warning : settings.warnings) printError(warning);
  settings.warnings.clear();
}

}  // namespace

void printError(const std::string& cp1251Text) {
  std::fprintf(stderr, "%s\n", cp1251ToUtf8(cp1251Text).c_str());
  std::fflush(stderr);
}

void printLine(const std::string& cp1251Text) {
  std::fprintf(stdout, "%s\n", cp1251ToUtf8(cp1251Text).c_str());
}

std::shared_ptr<PbxLink> makeLink(const std::optional<std::string>& port, int& exitCode) {
  auto link = std::make_shared<PbxLink>();
  if (port) {
    printConfigWarnings(link->settings);
    link->settings.portName = utf8ToCp1251(*port);
    return link;
  }
  const StartUp started = startUp(*link);
  printConfigWarnings(link->settings);
  if (started.configFailed) {
    printError(ru("Исключение при открытии/чтении файла конфигурации."));
    exitCode = kExitUsage;
    return nullptr;
  }
  if (started.firstRun) {
    // A first run, as the window handles it: "Kordel.cfg" now holds the defaults and the old
    // "KordelOut.cfg" is gone, so that the window started next does not take its start-up mode.
    printError(
        ru("Это первый запуск программы Kordel(возможно были удалены файлы конфигурации). "
           "Выберите пункт \"Настройки\" и установите номер СОМ-порта (или укажите --port)."));
    exitCode = kExitUsage;
    return nullptr;
  }
  return link;
}

std::shared_ptr<PbxLink> makeReadingLink(const std::optional<std::string>& port,
                                         const std::optional<std::string>& dataFile,
                                         int& exitCode) {
  installStopHandlers(nullptr);
  auto link = makeLink(port, exitCode);
  if (!link) return nullptr;
  Settings& settings = link->settings;
  if (dataFile) settings.dataFileName = utf8ToCp1251(*dataFile);
  if (settings.dataFileName.empty()) {
    printError(ru("Не выбран файл для сохранения данных."));
    exitCode = kExitNoDataFile;
    return nullptr;
  }
  installStopHandlers(link.get());
  if (stopSignalled()) {
    exitCode = stoppedByHangUp() ? kExitFailed : kExitOk;
    return nullptr;
  }
  return link;
}

int connect(PbxLink& link) {
  const int opened = link.openPort(link.settings.portName);
  if (opened != kOk && opened != kPortAlreadyOpen) {
    printError(openFailedText(link));
    return kExitPortFailed;
  }
  try {
    if (link.queryStatus() < 0) {
      printError(faultText(link));
      return kExitNoAnswer;
    }
  } catch (const ECommError& e) {
    // The device went away while the PBX was being identified (unplugged, hung up).
    printPortError(e);
    return kExitNoAnswer;
  }
  return kExitOk;
}

void printPortError(const ECommError& e) { printError(portErrorText(e)); }

std::string clockText(const PbxClock& c) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%02d.%02d.%04d %02d:%02d:%02d", c.day, c.month, c.year,
                c.hour, c.minute, c.second);
  return buffer;
}

}  // namespace kordel::cli
