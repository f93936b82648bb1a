// kordel-cli: the program's jobs without a window, for servers and scheduled jobs.
#include <CLI/CLI.hpp>

#include "app/cli/commands.h"

int main(int argc, char** argv) {
  using namespace kordel::cli;
  CLI::App app{"Kordel 2.15: call accounting for ORVANEX PBXs, without a window"};
  app.require_subcommand(1);

  StatusOptions status;
  auto* statusCmd = app.add_subcommand("status", "Identify the PBX and show its buffer and clock");
  statusCmd->add_option("--port", status.port, "Port name (COM1..COM8 or a device path); "
                                               "default: the one in Kordel.cfg");

  ReadOptions read;
  bool titles = false;
  bool noTitles = false;
  auto* readCmd = app.add_subcommand("read", "Empty the PBX call-record buffer into the data file");
  readCmd->add_option("--port", read.port, "Port name; default: the one in Kordel.cfg");
  readCmd->add_option("--data", read.dataFile, "Data file; default: TARIF_FNAME of KordelOut.cfg");
  auto* titlesFlag = readCmd->add_flag("--titles", titles, "Write the two title lines first");
  readCmd->add_flag("--no-titles", noTitles, "Write no title lines")->excludes(titlesFlag);
  readCmd->add_flag("--continuous", read.continuous, "Keep reading until SIGINT or SIGTERM");

  MonitorOptions monitor;
  auto* monitorCmd = app.add_subcommand("monitor", "Watch the connections of a QTR PBX");
  monitorCmd->add_option("--port", monitor.port, "Port name; default: the one in Kordel.cfg");
  monitorCmd->add_option("--interval", monitor.interval, "Log every N successful polls (1..300)")
      ->check(CLI::Range(1, 300));
  monitorCmd->add_option("--log", monitor.logFile, "Append the snapshots to this log file");
  monitorCmd->add_option("--count", monitor.count, "Stop after K polls")
      ->check(CLI::PositiveNumber);

  ReportOptions report;
  auto* reportCmd = app.add_subcommand("report", "Build traffic reports from a data file");
  reportCmd->add_option("DATAFILE", report.dataFile, "The data file to load")->required();
  reportCmd->add_option("--calls", report.callsFile, "Write the call report to this file");
  reportCmd->add_option("--lines", report.linesFile, "Write the subscriber-line report");
  reportCmd->add_option("--trunks", report.trunksFile, "Write the trunk report");
  reportCmd->add_option("--sort-lines", report.sortLines, "Sort the line table")
      ->check(CLI::IsMember({"hw", "prg", "out", "in", "total"}));
  reportCmd->add_option("--sort-trunks", report.sortTrunks, "Sort the trunk table")
      ->check(CLI::IsMember({"trunk", "out", "in", "total"}));
  reportCmd->add_option("--subscriber", report.subscriber, "Select the calls of one subscriber");
  reportCmd->add_option("--by", report.by, "Compare the subscriber with the programmed (prg) or "
                                           "hardware (hw) number")
      ->check(CLI::IsMember({"prg", "hw"}));
  reportCmd->add_option("--prefix", report.prefix, "Select external numbers with these first digits");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? kExitOk : kExitUsage;
  }

  if (*statusCmd) return runStatus(status);
  if (*readCmd) {
    if (titles) read.titles = true;
    if (noTitles) read.titles = false;
    return runRead(read);
  }
  if (*monitorCmd) return runMonitor(monitor);
  if (*reportCmd) return runReport(report);
  return kExitUsage;
}
