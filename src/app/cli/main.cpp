// kordel-cli: the program's jobs without a window, for servers and scheduled jobs.
#include <iostream>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "app/args/option_parser.h"
#include "app/cli/commands.h"

namespace {

using kordel::args::OptionParser;
using kordel::args::ParseStatus;

constexpr const char* kProgram = "kordel-cli";
constexpr const char* kDescription =
    "Kordel 2.15: call accounting for ORVANEX PBXs, without a window";

struct Command {
  const char* name;
  const char* summary;
};
constexpr Command kCommands[] = {
    {"status", "Identify the PBX and show its buffer and clock"},
    {"read", "Empty the PBX call-record buffer into the data file"},
    {"monitor", "Watch the connections of a QTR PBX"},
    {"report", "Build traffic reports from a data file"},
    {"analyze", "Costs and call tables over many data files"},
};

void printOverview(std::ostream& out) {
  out << kDescription << "\n\nUsage: " << kProgram << " COMMAND [OPTIONS]\n\nCommands:\n";
  for (const auto& c : kCommands) {
    const std::string name = c.name;
    out << "  " << name << std::string(10 - name.size(), ' ') << c.summary << "\n";
  }
  out << "\nRun \"" << kProgram << " COMMAND --help\" for the options of a command.\n";
}

// Parses the options of one command; returns the exit status to end with, or -1 to go on.
int parseCommand(OptionParser& parser, const std::vector<std::string>& arguments) {
  switch (parser.parse(arguments)) {
    case ParseStatus::Ok:
      return -1;
    case ParseStatus::Help:
      std::cout << parser.help();
      return kordel::cli::kExitOk;
    case ParseStatus::Error:
      break;
  }
  std::cerr << kProgram << ": " << parser.error() << "\nRun with --help for more information.\n";
  return kordel::cli::kExitUsage;
}

std::string usageOf(const std::string& command, const char* rest = "[OPTIONS]") {
  return std::string(kProgram) + " " + command + " " + rest;
}

// A comma-separated list ("201,202") as its items.
std::vector<std::string> splitList(const std::optional<std::string>& text) {
  std::vector<std::string> items;
  if (!text) return items;
  std::size_t begin = 0;
  for (;;) {
    const std::size_t comma = text->find(',', begin);
    std::string item =
        text->substr(begin, comma == std::string::npos ? std::string::npos : comma - begin);
    if (!item.empty()) items.push_back(item);
    if (comma == std::string::npos) break;
    begin = comma + 1;
  }
  return items;
}

// kordel-cli analyze: every option of the command, in one place.
int analyzeCommand(const std::vector<std::string>& arguments, const char* summary) {
  using namespace kordel::cli;
  AnalyzeOptions o;
  // Every option of this command takes a value, so every argument that is neither an option
  // nor an option's value is a data file or folder.
  std::vector<std::string> optionArguments;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& a = arguments[i];
    const bool option = a.rfind("-", 0) == 0 && a != "-";
    if (!option) {
      o.inputs.push_back(a);
      continue;
    }
    optionArguments.push_back(a);
    const bool takesNext = a.rfind("--", 0) == 0 && a.find('=') == std::string::npos &&
                           a != "--help" && i + 1 < arguments.size();
    if (takesNext) optionArguments.push_back(arguments[++i]);
  }
  OptionParser parser(usageOf("analyze", "FILE|FOLDER... [OPTIONS]"), summary);
  std::optional<std::string> accessCodes, extensions, departments, trunks, tables;
  parser.text("--from", o.from,
              "Calls that start at or after: 2024-03-01 or 01.03.2024 [HH:MM[:SS]]");
  parser.text("--to", o.to, "Calls that start before this time; a date alone includes that day");
  parser.text("--tariffs", o.tariffs, "Tariff file (CSV)");
  parser.text("--access-code", accessCodes,
              "Access codes stripped before matching: DIGITS, or TRUNK=DIGITS, comma-separated");
  parser.text("--directory", o.directory, "Directory of extensions (CSV)");
  parser.choice("--key", o.key, {"prg", "hw"},
                "Extensions are programmed (prg, default) or hardware (hw) numbers");
  parser.choice("--group", o.group, {"extension", "department", "top-department"},
                "The table of totals: by extension (default), department or top department");
  parser.text("--extension", extensions, "Only these extensions, comma-separated");
  parser.text("--department", departments, "Only these departments (with those below them)");
  parser.choice("--direction", o.direction, {"all", "in", "out"}, "Incoming or outgoing only");
  parser.text("--trunk", trunks, "Only these trunks, comma-separated");
  parser.text("--prefix", o.prefix, "Only dialed numbers that begin with these digits");
  parser.integer("--min-duration", o.minDuration, "Only calls of at least N seconds", 0, 86400);
  parser.integer("--top", o.top, "Rows of the top lists (default 10)", 0, 100000);
  parser.integer("--hide-digits", o.hideDigits, "Hide the last N digits of external numbers", 0,
                 30);
  parser.choice("--format", o.format, {"text", "csv", "json", "xlsx"},
                "Output: aligned text (default), CSV, JSON, or XLSX (needs --output)");
  parser.text("--table", tables,
              "Tables to write, comma-separated: summary, extensions, departments, "
              "top_departments, directions, trunks, longest, costliest, numbers, hours, days, "
              "trunk_load");
  parser.text("--output", o.output, "Write to this file instead of stdout");
  if (int rc = parseCommand(parser, optionArguments); rc >= 0) return rc;
  o.accessCodes = splitList(accessCodes);
  o.extensions = splitList(extensions);
  o.departments = splitList(departments);
  o.trunks = splitList(trunks);
  o.tables = splitList(tables);
  return runAnalyze(o);
}

int run(int argc, char** argv) {
  using namespace kordel::cli;
  if (argc < 2) {
    printOverview(std::cerr);
    return kExitUsage;
  }
  const std::string command = argv[1];
  if (command == "-h" || command == "--help") {
    printOverview(std::cout);
    return kExitOk;
  }
  const std::vector<std::string> arguments(argv + 2, argv + argc);
  const char* summary = nullptr;
  for (const auto& c : kCommands)
    if (command == c.name) summary = c.summary;
  if (!summary) {
    std::cerr << kProgram << ": unknown command: " << command << "\n\n";
    printOverview(std::cerr);
    return kExitUsage;
  }
  if (command == "analyze") return analyzeCommand(arguments, summary);
  OptionParser parser(usageOf(command, command == "report" ? "DATAFILE [OPTIONS]" : "[OPTIONS]"),
                      summary);

  if (command == "status") {
    StatusOptions status;
    parser.text("--port", status.port,
                "Port name (COM1..COM8 or a device path); default: the one in Kordel.cfg");
    if (int rc = parseCommand(parser, arguments); rc >= 0) return rc;
    return runStatus(status);
  }

  if (command == "read") {
    ReadOptions read;
    bool titles = false;
    bool noTitles = false;
    parser.text("--port", read.port, "Port name; default: the one in Kordel.cfg");
    parser.text("--data", read.dataFile, "Data file; default: TARIF_FNAME of KordelOut.cfg");
    parser.flag("--titles", titles, "Write the two title lines first");
    parser.flag("--no-titles", noTitles, "Write no title lines");
    parser.excludes("--titles", "--no-titles");
    parser.flag("--continuous", read.continuous, "Keep reading until SIGINT or SIGTERM");
    if (int rc = parseCommand(parser, arguments); rc >= 0) return rc;
    if (titles) read.titles = true;
    if (noTitles) read.titles = false;
    return runRead(read);
  }

  if (command == "monitor") {
    MonitorOptions monitor;
    parser.text("--port", monitor.port, "Port name; default: the one in Kordel.cfg");
    parser.integer("--interval", monitor.interval, "Log every N successful polls", 1, 300);
    parser.text("--log", monitor.logFile, "Append the snapshots to this log file");
    parser.integer("--count", monitor.count, "Stop after K polls", 1,
                   std::numeric_limits<int>::max());
    if (int rc = parseCommand(parser, arguments); rc >= 0) return rc;
    return runMonitor(monitor);
  }

  ReportOptions report;
  parser.positional("DATAFILE", report.dataFile, "The data file to load", true);
  parser.text("--calls", report.callsFile, "Write the call report to this file");
  parser.text("--lines", report.linesFile, "Write the subscriber-line report");
  parser.text("--trunks", report.trunksFile, "Write the trunk report");
  parser.choice("--sort-lines", report.sortLines, {"hw", "prg", "out", "in", "total"},
                "Sort the line table");
  parser.choice("--sort-trunks", report.sortTrunks, {"trunk", "out", "in", "total"},
                "Sort the trunk table");
  parser.text("--subscriber", report.subscriber, "Select the calls of one subscriber");
  parser.choice("--by", report.by, {"prg", "hw"},
                "Compare the subscriber with the programmed (prg) or hardware (hw) number");
  parser.text("--prefix", report.prefix, "Select external numbers with these first digits");
  if (int rc = parseCommand(parser, arguments); rc >= 0) return rc;
  return runReport(report);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    // Anything the commands do not handle themselves ends the program with a message, never
    // with an abort.
    std::cerr << kProgram << ": " << e.what() << "\n";
    return kordel::cli::kExitFailed;
  }
}
