#include <cerrno>
#include <cstdio>

#include "app/cli/cli_common.h"
#include "app/cli/commands.h"
#include "app/cli/console.h"
#include "collect/collector.h"
#include "files/call_record_line.h"
#include "files/record_sink.h"
#include "files/text_codec.h"

namespace kordel::cli {
namespace {

// How long a read that ended waits for the database to take its last calls.
constexpr int kDatabaseFinishMs = 5000;

// The terminal's share of a read: lines on stdout, progress and the link's ups and downs on
// stderr.
class TerminalView : public RecordView, public CollectorObserver {
 public:
  explicit TerminalView(PbxLink& link) : link_(link), tty_(stderrIsTerminal()) {}

  void setSink(const RecordSink* sink) { sink_ = sink; }

  void lowerGauge() override {}
  void addLine(const std::string& line) override { show(line); }
  // A title line: shown like a record, not counted as one.
  void addTitle(const std::string& line) { show(line); }
  void showCounters(int recordsInBuffer, int rejectedCount) override {
    if (tty_) {
      std::fprintf(stderr, "\r%s", progress(recordsInBuffer, rejectedCount).c_str());
      std::fflush(stderr);
    }
  }
  // The closing progress line.
  void finish() {
    std::fprintf(stderr, "%s%s\n", tty_ ? "\r" : "",
                 progress(link_.recordsInBuffer.load(), link_.rejectedCount.load()).c_str());
  }

  void passFailed(const std::string& reason, int retryMs) override {
    lastReason_ = reason;
    printError(newLine() + reason + retryText(retryMs));
  }
  // Each longer wait is said, and a new reason; the same reason at the longest wait is not.
  void retryFailed(const std::string& reason, int retryMs) override {
    if (reason == lastReason_ && retryMs == lastRetryMs_) return;
    lastReason_ = reason;
    lastRetryMs_ = retryMs;
    printError(newLine() + reason + retryText(retryMs));
  }
  void recovered() override {
    lastReason_.clear();
    lastRetryMs_ = 0;
    printError(newLine() + ru("Связь с АТС восстановлена."));
  }
  void alarm(const AlarmEvent& event) override {
    if (tty_) std::fputc('\n', stderr);
    if (alarms_ != nullptr) alarms_->report(event);
  }
  void setAlarms(AlarmReporter* alarms) { alarms_ = alarms; }

  bool outputClosed() const { return outputError_ != 0; }
  int outputError() const { return outputError_; }

 private:
  // A standard output that went away (the reader of a pipe ended) stops the read: the line
  // shown last is in the data file, and the record in hand is finished as for a stop.
  void show(const std::string& line) {
    if (outputError_ != 0) return;
    printLine(line);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
      outputError_ = errno != 0 ? errno : EIO;
      link_.stopRequested = true;
      link_.continuousMode = false;
    }
  }
  std::string progress(int inBuffer, int rejected) const {
    const int saved = sink_ != nullptr ? sink_->recordsSaved() : 0;
    return cp1251ToUtf8(ru("Считано записей: ") + std::to_string(saved) + ru(", в буфере: ") +
                        std::to_string(inBuffer) + ru(", отвергнуто: ") + std::to_string(rejected));
  }
  std::string newLine() const { return tty_ ? "\n" : ""; }
  static std::string retryText(int retryMs) {
    return ru(" Повтор через ") + std::to_string((retryMs + 999) / 1000) + ru(" с.");
  }

  PbxLink& link_;
  bool tty_;
  const RecordSink* sink_ = nullptr;
  AlarmReporter* alarms_ = nullptr;
  int outputError_ = 0;
  std::string lastReason_;
  int lastRetryMs_ = 0;
};

}  // namespace

int runRead(const ReadOptions& options) {
  int exitCode = kExitOk;
  auto link = makeReadingLink(options.port, options.dataFile, exitCode);
  if (!link) return exitCode;
  Settings& settings = link->settings;
  const bool titles = options.titles.value_or(settings.titleEnabled);
  store::DatabaseChoice database;
  if (!chooseDatabase(options.database, settings, settings.dataFileName, database)) {
    return kExitUsage;
  }
  if (int result = connect(*link); result != kExitOk) return result;

  TerminalView view(*link);
  RecordSink sink(*link, view);
  view.setSink(&sink);
  sink.attach();
  // The calls go into the database on a thread of its own, from the data file.
  DatabaseFeed feed;
  feed.start(database, settings.dataFileName);
  feed.attach(sink);
  link->stopRequested = stopSignalled();
  link->continuousMode = options.continuous && !stopSignalled();
  link->rejectedCount = 0;
  if (titles) {
    link->buildTitleLines(link->clock);
    view.addTitle(link->headerLine);
    view.addTitle(link->columnTitleLine);
    if (link->appendTitleLines() != kOk) {
      printError(ru("Не удалось записать файл данных: ") + quoteForMessage(settings.dataFileName));
      return kExitDataFileFailed;
    }
  }

  AlarmMonitor monitor(options.alarms.thresholds);
  AlarmReporter reporter(options.alarms.command);
  view.setAlarms(&reporter);
  CollectorOptions collecting;
  if (options.continuous) collecting.alarms = &monitor;
  Collector collector(*link, sink, view, collecting);
  const CollectorResult end = collector.run();
  view.finish();
  feed.finish(kDatabaseFinishMs);
  if (sink.saveFailed()) {
    printError(ru("Не удалось записать строку в файл данных ") +
               quoteForMessage(settings.dataFileName) +
               ru(". Считывание остановлено; запись осталась в буфере АТС:"));
    printError(quoteForMessage(sink.failedLine()));
    return kExitDataFileFailed;
  }
  if (view.outputClosed()) {
    printError(ru("Стандартный вывод закрыт (errno ") + std::to_string(view.outputError()) +
               ru("): считывание остановлено, считанные записи сохранены в файле данных."));
    return kExitWriteFailed;
  }
  if (stoppedByHangUp()) {
    printError(hangUpText() + ru(": считывание остановлено, считанные записи сохранены."));
    return kExitFailed;
  }
  if (end.portError) {
    printPortError(end.error);
    return kExitReadFailed;
  }
  if (end.result == kReadFailed || end.result == kReadPortError) {
    printError(ru("Считывание прервано: ") + faultText(*link));
    return kExitReadFailed;
  }
  return kExitOk;
}

}  // namespace kordel::cli
