// kordel-cli: the program's jobs without a window, for servers and scheduled jobs.
#include <iostream>
#include <limits>
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
