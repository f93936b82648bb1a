// kordel-cli analyze: the call analysis without a window. Data files or folders are loaded
// into one CallStore, priced with the tariffs, keyed through the directory, filtered and
// written as aligned text, CSV or JSON (stdout or a file) or as an XLSX file.
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "analysis/analyzer.h"
#include "analysis/database_source.h"
#include "analysis/export.h"
#include "app/cli/commands.h"
#include "files/text_codec.h"
#include "report/report_book.h"
#include "store/database_choice.h"

namespace kordel::cli {

namespace {

using namespace kordel::analysis;

void printError(const std::string& utf8) { std::cerr << "kordel-cli analyze: " << utf8 << '\n'; }

bool parseTime(const std::string& text, bool endOfPeriod, WallTime& time) {
  bool hasTime = false;
  if (!parseWallTime(text, time, hasTime)) return false;
  // "--to 2024-03-31" takes in the whole of that day.
  if (endOfPeriod && !hasTime) time += kSecondsPerDay;
  return true;
}

bool writeOutput(const std::string& bytes, const std::optional<std::string>& output) {
  if (!output) {
    std::cout << bytes;
    std::cout.flush();
    if (!std::cout) printError("stdout cannot be written");
    return static_cast<bool>(std::cout);
  }
  const Status written = writeBytesToFile(bytes, utf8ToCp1251(*output));
  if (!written.ok()) printError(cp1251ToUtf8(written.message()));
  return written.ok();
}

}  // namespace

int runAnalyze(const AnalyzeOptions& o) {
  // Checked here as well as by the option parser, so that every caller gets the same rules.
  if (o.inputs.empty() && !o.database) {
    printError("name at least one data file or folder, or a database with --db");
    return kExitUsage;
  }
  if (!o.sites.empty() && !o.database) {
    printError("--site chooses among the calls of a database: give it with --db");
    return kExitUsage;
  }
  std::unique_ptr<store::CallDatabase> database;
  std::string sqlitePath;  // of an SQLite database, which no output may replace
  if (o.database) {
    store::DatabaseChoice choice;
    const store::Status parsed = store::parseDatabaseValue(utf8ToCp1251(*o.database), choice);
    if (!parsed.ok() || choice.kind == store::DatabaseChoice::Kind::kOff) {
      printError(parsed.ok() ? "--db off names no database" : cp1251ToUtf8(parsed.message()));
      return kExitUsage;
    }
    // The analysis only reads: it does not make an SQLite file that is not there.
    if (store::sqliteFileMissing(choice)) {
      printError("no such database file: " + cp1251ToUtf8(choice.target));
      return kExitFileFailed;
    }
    if (choice.kind == store::DatabaseChoice::Kind::kSqlite) sqlitePath = choice.target;
    database = store::makeDatabase(choice);
  }
  if ((o.key != "prg" && o.key != "hw") ||
      (o.direction != "all" && o.direction != "in" && o.direction != "out")) {
    printError("--key takes prg or hw, --direction all, in or out");
    return kExitUsage;
  }
  if (o.format != "text" && o.format != "csv" && o.format != "json" && o.format != "xlsx") {
    printError("--format takes text, csv, json or xlsx");
    return kExitUsage;
  }
  if (o.format == "xlsx" && !xlsxAvailable()) {
    printError("this build writes no XLSX: use --format csv");
    return kExitUsage;
  }
  if (o.format == "xlsx" && !o.output) {
    printError("--format xlsx needs --output FILE");
    return kExitUsage;
  }
  AnalysisOptions options;
  options.key = o.key == "hw" ? ExtensionKey::Hardware : ExtensionKey::Programmed;
  options.topCount = static_cast<std::size_t>(o.top < 0 ? 0 : o.top);
  options.hiddenDigits = o.hideDigits;
  Filter& filter = options.filter;
  if (o.from) {
    WallTime t = 0;
    if (!parseTime(*o.from, false, t)) {
      printError("--from: not a date: " + *o.from);
      return kExitUsage;
    }
    filter.from = t;
  }
  if (o.to) {
    WallTime t = 0;
    if (!parseTime(*o.to, true, t)) {
      printError("--to: not a date: " + *o.to);
      return kExitUsage;
    }
    filter.to = t;
  }
  filter.direction = o.direction == "in"    ? Direction::Incoming
                     : o.direction == "out" ? Direction::Outgoing
                                            : Direction::Any;
  for (const std::string& e : o.extensions) filter.extensions.push_back(utf8ToCp1251(e));
  for (const std::string& d : o.departments) filter.departments.push_back(utf8ToCp1251(d));
  for (const std::string& t : o.trunks) filter.trunks.push_back(utf8ToCp1251(t));
  if (o.prefix) {
    if (o.prefix->find_first_not_of("0123456789") != std::string::npos) {
      printError("--prefix takes digits only");
      return kExitUsage;
    }
    filter.numberPrefix = *o.prefix;
  }
  filter.minDuration = static_cast<std::uint32_t>(o.minDuration < 0 ? 0 : o.minDuration);

  std::vector<TableKind> kinds;
  for (const std::string& key : o.tables) {
    TableKind kind;
    if (!tableKindOf(key, kind)) {
      printError("--table: no table named " + key);
      return kExitUsage;
    }
    kinds.push_back(kind);
  }
  if (kinds.empty()) {
    const TableKind group = o.group == "department"       ? TableKind::Departments
                            : o.group == "top-department" ? TableKind::TopDepartments
                                                          : TableKind::Extensions;
    if (o.group != "extension" && o.group != "department" && o.group != "top-department") {
      printError("--group takes extension, department or top-department");
      return kExitUsage;
    }
    kinds = {TableKind::Summary,    group,
             TableKind::Directions, TableKind::Trunks,
             TableKind::Longest,    TableKind::Costliest,
             TableKind::Numbers,    TableKind::Hours,
             TableKind::Days};
  }

  TariffPlan tariffs;
  if (o.tariffs) {
    const Status loaded = tariffs.load(utf8ToCp1251(*o.tariffs));
    if (!loaded.ok()) {
      printError(cp1251ToUtf8(loaded.message()));
      return kExitFileFailed;
    }
  }
  for (const std::string& code : o.accessCodes) {
    const std::size_t eq = code.find('=');
    const std::string trunk = eq == std::string::npos ? std::string() : code.substr(0, eq);
    const Status set =
        tariffs.setAccessCode(trunk, eq == std::string::npos ? code : code.substr(eq + 1));
    if (!set.ok()) {
      printError("--access-code: " + cp1251ToUtf8(set.message()));
      return kExitUsage;
    }
  }
  Directory directory;
  if (o.directory) {
    const Status loaded = directory.load(utf8ToCp1251(*o.directory));
    if (!loaded.ok()) {
      printError(cp1251ToUtf8(loaded.message()));
      return kExitFileFailed;
    }
  }

  std::vector<std::string> paths;
  for (const std::string& input : o.inputs) paths.push_back(utf8ToCp1251(input));
  std::vector<std::string> sites;
  for (const std::string& site : o.sites) sites.push_back(utf8ToCp1251(site));
  std::unique_ptr<DatabaseSource> dbSource;
  if (database) dbSource = std::make_unique<DatabaseSource>(*database, sites, filter);
  CallStore store;
  const LoadResult loaded = store.load(paths, {}, dbSource.get());
  if (!loaded.ok()) {
    printError(cp1251ToUtf8(loaded.status.message()));
    return loaded.sourceFailed ? kExitDatabaseFailed : kExitFileFailed;
  }
  if (loaded.files.empty() && !dbSource) {
    printError("no data file in the folders named");
    return kExitFileFailed;
  }
  // An output over a data file or the database read (by any name) would replace its calls.
  if (o.output && namesOneOf(utf8ToCp1251(*o.output), analysedFiles(paths, loaded, sqlitePath))) {
    printError(cp1251ToUtf8(report::reportOverDataFileMessage(utf8ToCp1251(*o.output))));
    return kExitUsage;
  }
  if (dbSource && dbSource->prefixed()) {
    std::string names;
    for (const std::string& site : dbSource->sites()) names += (names.empty() ? "" : ", ") + site;
    printError("calls of the sites " + cp1251ToUtf8(names) +
               ": numbers and trunks are shown as SITE/NUMBER");
    // Data-file lines carry no site: the same call from a file and the database counts twice.
    if (!loaded.files.empty()) {
      printError("the calls of the data files named carry no site and are counted apart from "
                 "those of the database");
    }
  }
  // Lines that were not read are not hidden: the count, and the first few.
  if (loaded.badLines > 0) {
    printError(std::to_string(loaded.badLines) + " line(s) could not be read, for example:");
    for (const BadLine& bad : loaded.firstBadLines) {
      printError("  " + cp1251ToUtf8(bad.path) + ":" + std::to_string(bad.lineNumber) + ": " +
                 cp1251ToUtf8(bad.reason) + ": " + cp1251ToUtf8(bad.text));
    }
  }

  const AnalysisResult result = Analyzer(store, tariffs, directory, options).run();
  SourceInfo source;
  source.files = loaded.files.size();
  source.duplicates = loaded.duplicates;
  source.badLines = loaded.badLines;
  const std::vector<ResultTable> tables = makeTables(kinds, result, source);

  bool ok = true;
  if (o.format == "xlsx") {
    const Status written = writeXlsx(tables, utf8ToCp1251(*o.output));
    if (!written.ok()) printError(cp1251ToUtf8(written.message()));
    ok = written.ok();
  } else if (o.format == "csv") {
    ok = writeOutput(toCsv(tables), o.output);
  } else if (o.format == "json") {
    ok = writeOutput(toJson(tables), o.output);
  } else {
    ok = writeOutput(cp1251ToUtf8(toText(tables)), o.output);
  }
  return ok ? kExitOk : kExitWriteFailed;
}

}  // namespace kordel::cli
