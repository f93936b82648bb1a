// kordel-cli: the commands of the command-line tool. Each returns the process exit status.
// Texts go to the terminal in UTF-8; files are written in Windows-1251 like the window's.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/cli/alarm_reporter.h"
#include "app/cli/database_feed.h"

namespace kordel::cli {

// Exit statuses shared by the commands.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // an unexpected error (the message says which)
inline constexpr int kExitUsage = 2;
inline constexpr int kExitPortFailed = 3;      // the port cannot be opened
inline constexpr int kExitNoAnswer = 4;        // the PBX does not answer / identification failed
inline constexpr int kExitNoDataFile = 5;      // no data file chosen
inline constexpr int kExitDataFileFailed = 6;  // the data file cannot be written
inline constexpr int kExitReadFailed = 7;      // the read ended on a link failure
inline constexpr int kExitFileFailed = 8;      // an input file cannot be read or a line does not convert
inline constexpr int kExitWriteFailed = 9;     // a report or log cannot be written
inline constexpr int kExitDatabaseFailed = 10;  // the calls database cannot be reached or written

struct StatusOptions {
  std::optional<std::string> port;
};
int runStatus(const StatusOptions& options);

struct ReadOptions {
  std::optional<std::string> port;
  std::optional<std::string> dataFile;
  std::optional<bool> titles;
  bool continuous = false;
  AlarmOptions alarms;  // continuous reading only
  DatabaseOptions database;
};
int runRead(const ReadOptions& options);

// The collection service: reads without end, waits for a PBX or a port that is not there yet
// or went away, tries a data file that cannot be written again, identifies the PBX again every
// statusEveryMinutes, and says on stderr, one line each, what an operator cares about.
struct CollectOptions {
  std::optional<std::string> port;
  std::optional<std::string> dataFile;
  std::optional<bool> titles;
  AlarmOptions alarms;
  int statusEveryMinutes = 10;
  int maxRetrySeconds = 60;
  DatabaseOptions database;
};
int runCollect(const CollectOptions& options);

struct MonitorOptions {
  std::optional<std::string> port;
  int interval = 10;
  std::optional<std::string> logFile;
  std::optional<int> count;
};
int runMonitor(const MonitorOptions& options);

struct ReportOptions {
  std::string dataFile;
  std::optional<std::string> callsFile;
  std::optional<std::string> linesFile;
  std::optional<std::string> trunksFile;
  std::optional<std::string> sortLines;   // hw | prg | out | in | total
  std::optional<std::string> sortTrunks;  // trunk | out | in | total
  std::optional<std::string> subscriber;
  std::string by = "prg";  // prg | hw
  std::optional<std::string> prefix;
};
int runReport(const ReportOptions& options);

struct AnalyzeOptions {
  std::vector<std::string> inputs;  // data files and folders (UTF-8 names, like every option)
  std::optional<std::string> from;  // "2024-03-01" or "01.03.2024", optionally " HH:MM[:SS]"
  std::optional<std::string> to;    // the same; a date alone includes that whole day
  std::optional<std::string> tariffs;
  std::optional<std::string> directory;
  std::vector<std::string> accessCodes;  // "DIGITS" for every trunk, "TRUNK=DIGITS" for one
  std::string key = "prg";               // prg | hw
  std::string group = "extension";       // extension | department | top-department
  std::vector<std::string> extensions;
  std::vector<std::string> departments;  // UTF-8
  std::vector<std::string> trunks;
  std::string direction = "all";  // all | in | out
  std::optional<std::string> prefix;
  int minDuration = 0;
  int top = 10;
  int hideDigits = 0;
  std::string format = "text";      // text | csv | json | xlsx
  std::vector<std::string> tables;  // table keys; empty: the usual set
  std::optional<std::string> output;
  std::optional<std::string> database;  // a calls database as a source (UTF-8)
  std::vector<std::string> sites;       // of the database's calls, only these sites
};
int runAnalyze(const AnalyzeOptions& options);

// kordel-cli db import FILE...: takes data files into the calls database (idempotent).
struct DbImportOptions {
  std::vector<std::string> files;  // UTF-8
  DatabaseOptions database;
};
int runDbImport(const DbImportOptions& options);

// kordel-cli db status: which database, and how far each data file is taken in.
struct DbStatusOptions {
  DatabaseOptions database;
  std::optional<std::string> dataFile;  // for the default database beside it (UTF-8)
};
int runDbStatus(const DbStatusOptions& options);

}  // namespace kordel::cli
