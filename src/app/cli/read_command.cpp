#include <unistd.h>

#include <cstdio>

#include "app/cli/cli_common.h"
#include "app/cli/commands.h"
#include "files/call_record_line.h"
#include "files/record_sink.h"
#include "files/text_codec.h"

namespace kordel::cli {
namespace {

// The terminal's share of a read: lines on stdout, progress on stderr.
class TerminalView : public RecordView {
 public:
  explicit TerminalView(const PbxLink& link) : link_(link), tty_(isatty(STDERR_FILENO) != 0) {}

  void lowerGauge() override {}
  void addLine(const std::string& line) override {
    ++read_;
    printLine(line);
    std::fflush(stdout);
  }
  // A title line: shown like a record, not counted as one.
  void addTitle(const std::string& line) {
    printLine(line);
    std::fflush(stdout);
  }
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

 private:
  std::string progress(int inBuffer, int rejected) const {
    return cp1251ToUtf8(ru("Считано записей: ") + std::to_string(read_) + ru(", в буфере: ") +
                        std::to_string(inBuffer) + ru(", отвергнуто: ") +
                        std::to_string(rejected));
  }

  const PbxLink& link_;
  bool tty_;
  int read_ = 0;
};

}  // namespace

int runRead(const ReadOptions& options) {
  int exitCode = kExitOk;
  auto link = makeLink(options.port, exitCode);
  if (!link) return exitCode;
  Settings& settings = link->settings;
  if (options.dataFile) settings.dataFileName = utf8ToCp1251(*options.dataFile);
  const bool titles = options.titles.value_or(settings.titleEnabled);
  if (settings.dataFileName.empty()) {
    printError(ru("Не выбран файл для сохранения данных."));
    return kExitNoDataFile;
  }
  installStopHandlers(link.get());
  if (int result = connect(*link); result != kExitOk) return result;

  TerminalView view(*link);
  RecordSink sink(*link, view);
  link->stopRequested = stopSignalled();
  link->continuousMode = options.continuous && !stopSignalled();
  link->recordHandler = [&sink](const CallRecord& record) { sink.onCallRecord(record); };
  link->rejectedCount = 0;
  if (titles) {
    link->buildTitleLines(link->clock);
    view.addTitle(link->headerLine);
    view.addTitle(link->columnTitleLine);
    if (link->appendTitleLines() != kOk) {
      printError(ru("Не удалось записать файл данных: ") + settings.dataFileName);
      return kExitDataFileFailed;
    }
  }

  int result = kOk;
  try {
    do {
      result = link->readRecords();
    } while (!link->stopRequested && link->continuousMode);
  } catch (const ECommError& e) {
    view.finish();
    printPortError(e);
    return kExitReadFailed;
  }
  view.finish();
  if (sink.saveFailed()) {
    printError(ru("Не удалось записать строку в файл данных ") + settings.dataFileName +
               ru(". Считывание остановлено; запись осталась в буфере АТС:"));
    printError(sink.failedLine());
    return kExitDataFileFailed;
  }
  if (result == kReadFailed || result == kReadPortError) {
    printError(ru("Считывание прервано: АТС не отвечает."));
    return kExitReadFailed;
  }
  return kExitOk;
}

}  // namespace kordel::cli
