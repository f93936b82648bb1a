// kordel-cli collect: the collection service. It runs for months under a service manager: it
// never ends because the PBX was silent for a while or the port went away, it stops cleanly on
// SIGTERM (on Windows: Ctrl+C, Ctrl+Break, the system's shut-down), and it writes one line on
// stderr for each thing an operator cares about (a pass that saved calls, a link failure, the
// link back, an alarm), so that the journal holds a readable history.
#include <algorithm>
#include <cstdio>

#include "app/cli/cli_common.h"
#include "app/cli/commands.h"
#include "collect/collector.h"
#include "files/record_sink.h"
#include "files/text_codec.h"

namespace kordel::cli {
namespace {

// How long a collection that stops waits for the database to take its last calls.
constexpr int kDatabaseFinishMs = 3000;

class ServiceLog : public RecordView, public CollectorObserver {
 public:
  ServiceLog(PbxLink& link, AlarmReporter& alarms) : link_(link), alarms_(alarms) {}

  void lowerGauge() override {}
  void addLine(const std::string&) override {}
  void showCounters(int, int) override {}

  void passEnded(int, int saved) override {
    if (saved <= 0) return;
    printError(ru("Сохранено записей: ") + std::to_string(saved) + ru(", в буфере АТС: ") +
               std::to_string(std::max(link_.recordsInBuffer.load(), 0)) + ".");
  }
  void passFailed(const std::string& reason, int retryMs) override { say(reason, retryMs); }
  void retryFailed(const std::string& reason, int retryMs) override { say(reason, retryMs); }
  void recovered() override {
    lastReason_.clear();
    lastRetryMs_ = 0;
    printError(ru("Связь с АТС восстановлена. ") + identity());
  }
  void alarm(const AlarmEvent& event) override { alarms_.report(event); }

  // Says a failure and the wait before the next try: a new reason, or a longer wait.
  void say(const std::string& reason, int retryMs) {
    if (reason == lastReason_ && retryMs == lastRetryMs_) return;
    lastReason_ = reason;
    lastRetryMs_ = retryMs;
    printError(reason + ru(" Повтор через ") + std::to_string((retryMs + 999) / 1000) + ru(" с."));
  }
  std::string identity() const {
    return ru("АТС: ") + link_.model + ru(", зав. номер ") + link_.serialNumber +
           ru(", в буфере ") + std::to_string(link_.recordsInBuffer.load()) + ru(" записей из ") +
           std::to_string(link_.bufferCapacity) + ".";
  }

 private:
  PbxLink& link_;
  AlarmReporter& alarms_;
  std::string lastReason_;
  int lastRetryMs_ = 0;
};

// Waits up to `ms`, in short steps; false when a stop signal came.
bool pause(int ms) {
  for (int waited = 0; waited < ms; waited += 50) {
    if (stopSignalled()) return false;
    pauseMs(std::min(50, ms - waited));
  }
  return !stopSignalled();
}

}  // namespace

int runCollect(const CollectOptions& options) {
  int exitCode = kExitOk;
  auto link = makeReadingLink(options.port, options.dataFile, exitCode);
  if (!link) return exitCode;
  Settings& settings = link->settings;
  store::DatabaseChoice database;
  if (!chooseDatabase(options.database, settings, settings.dataFileName, database)) {
    return kExitUsage;
  }
  AlarmMonitor monitor(options.alarms.thresholds);
  AlarmReporter reporter(options.alarms.command);
  ServiceLog log(*link, reporter);
  const int maxRetryMs = std::max(options.maxRetrySeconds, 1) * 1000;
  printError(ru("Сбор данных: порт ") + quoteForMessage(settings.portName) + ru(", файл данных ") +
             quoteForMessage(settings.dataFileName) + ".");
  // The database takes in what the data file holds beyond its mark while the PBX is awaited.
  DatabaseFeed feed;
  feed.start(database, settings.dataFileName);
  if (feed.active()) {
    printError(ru("База данных: ") + feed.describe() + ru(", площадка ") +
               quoteForMessage(database.site) + ".");
  }

  // The PBX (or the port) may not be there yet: wait for it.
  for (int retryMs = 1000;; retryMs = std::min(retryMs * 2, maxRetryMs)) {
    std::string why;
    try {
      link->port->close();
    } catch (const ECommError&) {
      // Opened anew below all the same.
    }
    if (link->openPort(settings.portName) != kOk) {
      why = openFailedText(*link);
    } else {
      try {
        if (link->queryStatus() >= 0) break;
        why = faultText(*link);
      } catch (const ECommError& e) {
        why = portErrorText(e);
      }
    }
    for (const AlarmEvent& e : monitor.notAnswered(tickCount())) reporter.report(e);
    log.say(why, retryMs);
    if (!pause(retryMs)) return kExitOk;
  }
  printError(ru("Связь с АТС установлена. ") + log.identity());

  RecordSink sink(*link, log);
  sink.attach();
  feed.attach(sink);
  link->stopRequested = stopSignalled();
  link->continuousMode = !stopSignalled();
  link->rejectedCount = 0;
  if (options.titles.value_or(settings.titleEnabled)) {
    // The title lines head the whole collection; a data file that does not take them yet is
    // tried again, as it will be for the calls.
    link->buildTitleLines(link->clock);
    for (int retryMs = 1000; link->appendTitleLines() != kOk;
         retryMs = std::min(retryMs * 2, maxRetryMs)) {
      for (const AlarmEvent& e : monitor.dataFileFailed(settings.dataFileName)) reporter.report(e);
      log.say(
          ru("Не удалось записать файл данных: ") + quoteForMessage(settings.dataFileName) + ".",
          retryMs);
      if (!pause(retryMs)) return kExitOk;
    }
  }

  CollectorOptions collecting;
  collecting.retryFailedSave = true;
  collecting.maxRetryMs = maxRetryMs;
  collecting.statusEveryMs = std::max(options.statusEveryMinutes, 0) * 60000;
  collecting.alarms = &monitor;
  Collector collector(*link, sink, log, collecting);
  collector.run();
  feed.finish(kDatabaseFinishMs);
  if (stoppedByHangUp()) {
    printError(hangUpText() + ru(": сбор данных остановлен."));
    return kExitFailed;
  }
  printError(ru("Сбор данных остановлен; сохранено записей: ") +
             std::to_string(sink.recordsSaved()) + ".");
  return kExitOk;
}

}  // namespace kordel::cli
