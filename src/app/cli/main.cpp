// kordel-cli: the program's jobs without a window, for servers and scheduled jobs.
#include <cstdlib>
#include <functional>
#include <iostream>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "analysis/export.h"
#include "app/cli/commands.h"
#include "app/cli/console.h"
#include "app/options/cli_options.h"

namespace {

using namespace kordel::cli;
namespace opt = kordel::options;
using Run = std::function<int()>;

constexpr const char* kProgram = "kordel-cli";

// Each command declares its options on its own part of the command line and returns what
// runs once they are parsed.

Run statusCommand(CLI::App& cmd) {
  auto o = std::make_shared<StatusOptions>();
  cmd.add_option("--port", o->port,
                 "Port name (COM1..COM8 or a device path); default: the one in Kordel.cfg");
  return [o] { return runStatus(*o); };
}

// The alarm options of the continuous reads.
void alarmOptions(CLI::App& cmd, AlarmOptions& a) {
  cmd.add_option("--alarm-command", a.command,
                 "Run this shell command for each alarm raised or cleared, with KORDEL_ALARM_KIND, "
                 "KORDEL_ALARM_STATE (raised or cleared) and KORDEL_ALARM_TEXT set");
  opt::integer(cmd, "--alarm-fill", a.thresholds.fillPercent,
               "Alarm when the PBX buffer is this full, in percent (default 80; again when full)",
               1, 100);
  opt::integer(cmd, "--alarm-silence", a.thresholds.silentMinutes,
               "Alarm when the PBX has not answered for this many minutes (default 15)", 1, 100000);
  opt::integer(cmd, "--alarm-clock", a.thresholds.clockSkewMinutes,
               "Alarm when the PBX clock is off the computer's by more minutes (default 5)", 0,
               100000);
}

// The calls database of a read or a collection.
void databaseOptions(CLI::App& cmd, DatabaseOptions& d) {
  cmd.add_option("--db", d.database,
                 "Calls database: an SQLite file, a PostgreSQL connection string "
                 "(postgresql://... or host=... dbname=...), or off; default: KORDEL_DB, "
                 "DB= of KordelDb.cfg, else kordel.sqlite beside the data file");
  cmd.add_option("--site", d.site,
                 "The site name stored with the calls; default: KORDEL_SITE, SITE= of "
                 "KordelDb.cfg, else the computer's name");
}

Run readCommand(CLI::App& cmd) {
  auto o = std::make_shared<ReadOptions>();
  auto titles = std::make_shared<bool>(false), noTitles = std::make_shared<bool>(false);
  cmd.add_option("--port", o->port, "Port name; default: the one in Kordel.cfg");
  cmd.add_option("--data", o->dataFile, "Data file; default: TARIF_FNAME of KordelOut.cfg");
  auto* on = cmd.add_flag("--titles", *titles, "Write the two title lines first");
  cmd.add_flag("--no-titles", *noTitles, "Write no title lines")->excludes(on);
  cmd.add_flag("--continuous", o->continuous, "Keep reading until SIGINT or SIGTERM (Ctrl+C)");
  alarmOptions(cmd, o->alarms);
  databaseOptions(cmd, o->database);
  return [o, titles, noTitles] {
    if (*titles) o->titles = true;
    if (*noTitles) o->titles = false;
    return runRead(*o);
  };
}

Run collectCommand(CLI::App& cmd) {
  auto o = std::make_shared<CollectOptions>();
  auto titles = std::make_shared<bool>(false), noTitles = std::make_shared<bool>(false);
  cmd.add_option("--port", o->port, "Port name; default: the one in Kordel.cfg");
  cmd.add_option("--data", o->dataFile, "Data file; default: TARIF_FNAME of KordelOut.cfg");
  auto* on = cmd.add_flag("--titles", *titles, "Write the two title lines when collection starts");
  cmd.add_flag("--no-titles", *noTitles, "Write no title lines")->excludes(on);
  alarmOptions(cmd, o->alarms);
  opt::integer(cmd, "--status-every", o->statusEveryMinutes,
               "Identify the PBX again every N minutes between reads: buffer fill and clock "
               "(default 10; 0: never)",
               0, 100000);
  opt::integer(cmd, "--max-retry", o->maxRetrySeconds,
               "The longest wait, in seconds, between tries to reach the PBX (default 60)", 1,
               3600);
  databaseOptions(cmd, o->database);
  return [o, titles, noTitles] {
    if (*titles) o->titles = true;
    if (*noTitles) o->titles = false;
    return runCollect(*o);
  };
}

Run monitorCommand(CLI::App& cmd) {
  auto o = std::make_shared<MonitorOptions>();
  cmd.add_option("--port", o->port, "Port name; default: the one in Kordel.cfg");
  opt::integer(cmd, "--interval", o->interval, "Log every N successful polls", 1, 300);
  cmd.add_option("--log", o->logFile, "Append the snapshots to this log file");
  opt::integer(cmd, "--count", o->count, "Stop after K polls", 1, std::numeric_limits<int>::max());
  return [o] { return runMonitor(*o); };
}

Run reportCommand(CLI::App& cmd) {
  auto o = std::make_shared<ReportOptions>();
  cmd.add_option("DATAFILE", o->dataFile, "The data file to load")->required();
  cmd.add_option("--calls", o->callsFile, "Write the call report to this file");
  cmd.add_option("--lines", o->linesFile, "Write the subscriber-line report");
  cmd.add_option("--trunks", o->trunksFile, "Write the trunk report");
  opt::choice(cmd, "--sort-lines", o->sortLines, {"hw", "prg", "out", "in", "total"},
              "Sort the line table");
  opt::choice(cmd, "--sort-trunks", o->sortTrunks, {"trunk", "out", "in", "total"},
              "Sort the trunk table");
  cmd.add_option("--subscriber", o->subscriber, "Select the calls of one subscriber");
  opt::choice(cmd, "--by", o->by, {"prg", "hw"},
              "Compare the subscriber with the programmed (prg) or hardware (hw) number");
  cmd.add_option("--prefix", o->prefix, "Select external numbers with these first digits");
  return [o] { return runReport(*o); };
}

// kordel-cli analyze: costs and call tables over many data files.
Run analyzeCommand(CLI::App& cmd) {
  auto o = std::make_shared<AnalyzeOptions>();
  cmd.add_option("FILE|FOLDER", o->inputs, "Data files, or folders of them");
  cmd.add_option("--db", o->database,
                 "Take the calls of this calls database too (an SQLite file or a PostgreSQL "
                 "connection string); with several sites, numbers are shown as SITE/NUMBER");
  cmd.add_option("--site", o->sites, "Only the database's calls of these sites, comma-separated")
      ->delimiter(',');
  cmd.add_option("--from", o->from,
                 "Calls that start at or after: 2024-03-01 or 01.03.2024 [HH:MM[:SS]]");
  cmd.add_option("--to", o->to,
                 "Calls that start before this time; a date alone includes that day");
  cmd.add_option("--tariffs", o->tariffs, "Tariff file (CSV)");
  cmd.add_option("--access-code", o->accessCodes,
                 "Access codes stripped before matching: DIGITS, or TRUNK=DIGITS, comma-separated")
      ->delimiter(',');
  cmd.add_option("--directory", o->directory, "Directory of extensions (CSV)");
  opt::choice(cmd, "--key", o->key, {"prg", "hw"},
              "Extensions are programmed (prg, default) or hardware (hw) numbers");
  opt::choice(cmd, "--group", o->group, {"extension", "department", "top-department"},
              "The table of totals: by extension (default), department or top department");
  cmd.add_option("--extension", o->extensions, "Only these extensions, comma-separated")
      ->delimiter(',');
  cmd.add_option("--department", o->departments,
                 "Only these departments (with those below them), comma-separated")
      ->delimiter(',');
  opt::choice(cmd, "--direction", o->direction, {"all", "in", "out"}, "Incoming or outgoing only");
  cmd.add_option("--trunk", o->trunks, "Only these trunks, comma-separated")->delimiter(',');
  cmd.add_option("--prefix", o->prefix, "Only dialed numbers that begin with these digits");
  opt::integer(cmd, "--min-duration", o->minDuration, "Only calls of at least N seconds", 0, 86400);
  opt::integer(cmd, "--top", o->top, "Rows of the top lists (default 10)", 0, 100000);
  opt::integer(cmd, "--hide-digits", o->hideDigits, "Hide the last N digits of external numbers", 0,
               30);
  if (kordel::analysis::xlsxAvailable()) {
    opt::choice(cmd, "--format", o->format, {"text", "csv", "json", "xlsx"},
                "Output: aligned text (default), CSV, JSON, or XLSX (needs --output)");
  } else {
    opt::choice(cmd, "--format", o->format, {"text", "csv", "json"},
                "Output: aligned text (default), CSV or JSON (this build writes no XLSX)");
  }
  cmd.add_option("--table", o->tables,
                 "Tables to write, comma-separated: summary, extensions, departments, "
                 "top_departments, directions, trunks, longest, costliest, numbers, hours, days, "
                 "trunk_load")
      ->delimiter(',');
  cmd.add_option("--output", o->output, "Write to this file instead of stdout");
  return [o] { return runAnalyze(*o); };
}

// kordel-cli db: the calls database.
Run dbCommand(CLI::App& cmd) {
  auto import = std::make_shared<DbImportOptions>();
  auto status = std::make_shared<DbStatusOptions>();
  CLI::App* importCmd = cmd.add_subcommand(
      "import", "Take data files into the calls database (a call already there is kept once)");
  importCmd->add_option("FILE", import->files, "Data files")->required();
  databaseOptions(*importCmd, import->database);
  CLI::App* statusCmd =
      cmd.add_subcommand("status", "Which database, and how far each data file is taken in");
  databaseOptions(*statusCmd, status->database);
  statusCmd->add_option("--data", status->dataFile,
                        "Data file; default: TARIF_FNAME of KordelOut.cfg");
  cmd.require_subcommand(1);
  return [import, status, importCmd] {
    return importCmd->parsed() ? runDbImport(*import) : runDbStatus(*status);
  };
}

struct Command {
  const char* name;
  const char* summary;
  Run (*declare)(CLI::App&);
};
constexpr Command kCommands[] = {
    {"status", "Identify the PBX and show its buffer and clock", statusCommand},
    {"read", "Empty the PBX call-record buffer into the data file", readCommand},
    {"monitor", "Watch the connections of a QTR PBX", monitorCommand},
    {"report", "Build traffic reports from a data file", reportCommand},
    {"collect", "Collect calls without end, as a service: waits for the PBX, alarms",
     collectCommand},
    {"analyze", "Costs and call tables over many data files", analyzeCommand},
    {"db", "The calls database: import data files, status", dbCommand},
};

int run(int argc, char** argv) {
  CLI::App app{"Kordel 2.15: call accounting for ORVANEX PBXs, without a window", kProgram};
  opt::configure(app);
  std::vector<std::pair<CLI::App*, Run>> commands;
  for (const auto& c : kCommands) {
    CLI::App* cmd = app.add_subcommand(c.name, c.summary)->group("Commands");
    commands.emplace_back(cmd, c.declare(*cmd));
  }
  app.require_subcommand(1);
  std::string trace;
  app.add_option("--trace", trace,
                 "Write every byte sent to and received from the PBX, with a millisecond time "
                 "stamp, to this file (one exchange a line)");
  app.fallthrough();
  app.footer(std::string("Run \"") + kProgram + " COMMAND --help\" for the options of a command.");

  if (argc < 2) {
    std::cerr << app.help();
    return kExitUsage;
  }
  const std::string first = argv[1];
  bool known = first.starts_with("-");
  for (const auto& c : kCommands) known = known || first == c.name;
  if (!known) {
    std::cerr << kProgram << ": unknown command: " << first << "\n\n" << app.help();
    return kExitUsage;
  }
  if (const int rc = opt::parse(app, argc, argv); rc >= 0) return rc;
  // The link opens the trace named by KORDEL_TRACE when it is built.
  if (!trace.empty()) setEnvironment("KORDEL_TRACE", trace);
  for (const auto& [cmd, action] : commands)
    if (cmd->parsed()) return action();
  return kExitUsage;  // not reached: a command is required
}

}  // namespace

int main(int argc, char** argv) {
  prepareConsole();
  try {
    // The options are UTF-8 texts on every platform.
    std::vector<std::string> args = commandLineUtf8(argc, argv);
    std::vector<char*> pointers;
    for (std::string& a : args) pointers.push_back(a.data());
    pointers.push_back(nullptr);
    return run(static_cast<int>(args.size()), pointers.data());
  } catch (const std::exception& e) {
    // Anything the commands do not handle themselves ends the program with a message, never
    // with an abort.
    std::cerr << kProgram << ": " << e.what() << "\n";
    return kExitFailed;
  }
}
