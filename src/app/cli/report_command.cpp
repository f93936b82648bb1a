// kordel-cli report: the report window's work without a window. The data file is loaded by the
// same ReportBook as the window's, and the report files get the same bytes as its save commands.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "app/cli/commands.h"
#include "files/data_file.h"
#include "files/file_access.h"
#include "files/text_codec.h"
#include "report/report_book.h"

namespace kordel::cli {

namespace {

using report::ReportBook;
using report::ReportKind;

void printError(const std::string& utf8) { std::cerr << "kordel-cli report: " << utf8 << '\n'; }

// A file name of the command line (UTF-8) as a message shows it: cut short, control bytes
// escaped.
std::string shownName(const std::string& name) {
  return cp1251ToUtf8(quoteForMessage(utf8ToCp1251(name)));
}

void printLines(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) std::cout << cp1251ToUtf8(line) << '\n';
}

// Writes one report; false (and a message) when the file could not be written.
bool saveReport(const ReportBook& book, ReportKind kind, const std::string& name) {
  int lastErrno = 0;
  const int code = report::saveLinesToFile(lastErrno, book.reportLines(kind), utf8ToCp1251(name));
  if (code == report::kSaveOk) return true;
  printError(shownName(name) + ": " + cp1251ToUtf8(report::saveErrorMessage(code, lastErrno)));
  return false;
}

bool isDigits(const std::string& text) {
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

int runReport(const ReportOptions& options) {
  // Checked here as well as by the option parser, so that every caller gets the same rules.
  static const std::vector<std::string> kLineKeys = {"hw", "prg", "out", "in", "total"};
  static const std::vector<std::string> kTrunkKeys = {"trunk", "out", "in", "total"};
  auto indexOf = [](const std::vector<std::string>& keys, const std::string& key) {
    for (std::size_t i = 0; i < keys.size(); ++i) {
      if (keys[i] == key) return static_cast<int>(i);
    }
    return -1;
  };
  const int lineKey = options.sortLines ? indexOf(kLineKeys, *options.sortLines) : -2;
  const int trunkKey = options.sortTrunks ? indexOf(kTrunkKeys, *options.sortTrunks) : -2;
  if (lineKey == -1 || trunkKey == -1 || (options.by != "prg" && options.by != "hw")) {
    printError("unknown sort key or --by value");
    return kExitUsage;
  }
  if (options.prefix && !isDigits(*options.prefix)) {
    printError("--prefix takes digits only");
    return kExitUsage;
  }
  if (options.subscriber &&
      options.subscriber->find_first_not_of("0123456789 ") != std::string::npos) {
    printError("--subscriber takes digits only");
    return kExitUsage;
  }

  // A report written over the data file would replace the calls with the report: refused
  // before anything is done, whatever name (a link) the same file is given.
  const std::string dataFile = utf8ToCp1251(options.dataFile);
  for (const std::optional<std::string>* output :
       {&options.callsFile, &options.linesFile, &options.trunksFile}) {
    if (*output && sameFile(utf8ToCp1251(**output), dataFile)) {
      printError(cp1251ToUtf8(report::reportOverDataFileMessage(utf8ToCp1251(**output))));
      return kExitUsage;
    }
  }

  ReportBook book;
  const report::LoadResult loaded = book.load(dataFile);
  if (!loaded.ok()) {
    printError(cp1251ToUtf8(loaded.message));
    return kExitFileFailed;
  }

  const bool selecting = options.subscriber.has_value() || options.prefix.has_value();
  if (selecting) {
    book.select(options.subscriber.value_or(""),
                options.by == "hw" ? report::SelectBy::Hardware : report::SelectBy::Programmed,
                options.prefix.value_or(""));
  }
  if (lineKey >= 0) {
    const report::SortResult sorted = book.sortLines(static_cast<report::LineSortKey>(lineKey));
    if (!sorted.ok) {
      printError(cp1251ToUtf8(sorted.message));
      return kExitFileFailed;
    }
  }
  if (trunkKey >= 0) book.sortTrunks(static_cast<report::TrunkSortKey>(trunkKey));

  const bool writing = options.callsFile || options.linesFile || options.trunksFile;
  if (!writing) {
    if (selecting) {
      printLines(book.reportLines(ReportKind::Calls));
      std::cout << '\n';
    }
    printLines(book.reportLines(ReportKind::Lines));
    std::cout << '\n';
    printLines(book.reportLines(ReportKind::Trunks));
    std::cout.flush();
    return std::cout ? kExitOk : kExitWriteFailed;
  }

  bool ok = true;
  if (options.callsFile) ok = saveReport(book, ReportKind::Calls, *options.callsFile) && ok;
  if (options.linesFile) ok = saveReport(book, ReportKind::Lines, *options.linesFile) && ok;
  if (options.trunksFile) ok = saveReport(book, ReportKind::Trunks, *options.trunksFile) && ok;
  return ok ? kExitOk : kExitWriteFailed;
}

}  // namespace kordel::cli
