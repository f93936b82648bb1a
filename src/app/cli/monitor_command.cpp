// kordel-cli monitor: the real-time window's polling on a terminal. Each second the line
// states are queried and shown; every N-th successful poll appends the same record to the
// real-time log as the window does.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "app/cli/cli_common.h"
#include "app/cli/commands.h"
#include "collect/start_up.h"
#include "files/data_file.h"
#include "files/text_codec.h"
#include "realtime/line_states.h"
#include "realtime/realtime_log.h"

namespace kordel::cli {

namespace {

// The window polls from a 1000 ms timer; a poll that waits for the PBX delays the next one.
constexpr auto kPollPeriod = std::chrono::milliseconds(1000);
// Short naps, so that a stop signal ends the wait quickly.
constexpr auto kNap = std::chrono::milliseconds(20);

// Waits until `deadline` or a stop signal, whichever comes first.
void waitUntil(std::chrono::steady_clock::time_point deadline) {
  while (!stopSignalled()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return;
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(kNap, deadline - now));
  }
}

// The record as terminal text: UTF-8 with the line ends of the terminal.
void printRecord(const std::string& record) {
  std::string text = cp1251ToUtf8(record);
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c != '\r') out += c;
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
}

}  // namespace

int runMonitor(const MonitorOptions& options) {
  if (options.interval < kMinLogInterval || options.interval > kMaxLogInterval ||
      (options.count && *options.count < 1)) {
    printError(ru("Интервал записи должен быть от 1 до 300, число опросов - не меньше 1."));
    return kExitUsage;
  }
  int exitCode = kExitOk;
  auto link = makeLink(options.port, exitCode);
  if (!link) return exitCode;
  if (int result = connect(*link); result != kExitOk) return result;
  // The line-state request belongs to the QTR family; the window refuses other models too.
  if (!realTimeSupported(*link)) {
    printError(ru("Данная функция работает только с КТР160/400"));
    return kExitUsage;
  }
  installStopHandlers(link.get());

  const bool logEnabled = options.logFile.has_value() && !options.logFile->empty();
  const std::string logName = logEnabled ? utf8ToCp1251(*options.logFile) : std::string();
  RealTimeTicker ticker;
  ticker.reset();
  int lostRecords = 0;
  for (int polls = 0; !stopSignalled() && (!options.count || polls < *options.count); ++polls) {
    const auto started = std::chrono::steady_clock::now();
    int result = kOk;
    try {
      result = link->queryLineStates();
    } catch (const ECommError& e) {
      // The device went away during a poll: nothing more can be watched.
      printPortError(e);
      return kExitReadFailed;
    }
    const TickOutcome outcome = ticker.tick(result, options.interval, logEnabled);
    if (outcome.refresh) {
      const std::string record = logRecord(link->stateLines, link->stateLineCount, localTimeNow());
      printRecord(record);
      if (outcome.writeLog && appendLogRecord(logName, record) != kAppendOk) {
        ++lostRecords;
        printError(ru("Запись в файл не выполнена: ") + quoteForMessage(logName));
      }
    } else {
      printError(ru("АТС не отвечает.") + " (" + std::to_string(result) + ")");
    }
    if (!options.count || polls + 1 < *options.count) waitUntil(started + kPollPeriod);
  }
  // A lost log record is data the user asked for: the exit status says so.
  return lostRecords == 0 ? kExitOk : kExitWriteFailed;
}

}  // namespace kordel::cli
