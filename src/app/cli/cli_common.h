// kordel-cli: what the commands share — opening the link as the window does, terminal text and
// the stop request raised by a signal or a console event.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "link/pbx_link.h"

namespace kordel::cli {

// Prints a Windows-1251 text as one UTF-8 line on stderr.
void printError(const std::string& cp1251Text);
// Prints a Windows-1251 text as one UTF-8 line on stdout.
void printLine(const std::string& cp1251Text);

// Builds the link in the current directory (its settings come from "KordelOut.cfg") and takes
// the port from `port` (a UTF-8 name) or, without it, from "Kordel.cfg". What the loads found
// wrong with the configuration files is printed on stderr. Returns the link, or nothing with a
// message printed and `exitCode` set.
std::shared_ptr<PbxLink> makeLink(const std::optional<std::string>& port, int& exitCode);

// The link of a read or of collection: the stop signals caught from the start (one that comes
// before the link exists ends the command before it talks to the PBX), the port as makeLink
// takes it, the data file from `dataFile` (UTF-8) or "KordelOut.cfg". Returns the link, or
// nothing with `exitCode` set (a message printed, or kExitOk/kExitFailed for a stop signal).
std::shared_ptr<PbxLink> makeReadingLink(const std::optional<std::string>& port,
                                         const std::optional<std::string>& dataFile, int& exitCode);

// Opens the port and identifies the PBX. Returns kExitOk, or prints what went wrong (the link's
// lastFault) and returns kExitPortFailed or kExitNoAnswer.
int connect(PbxLink& link);
// "Ошибка при работе с СОМ-портом (код N, errno M)." on stderr.
void printPortError(const ECommError& e);

// From now on a stop request sets `link`'s stopRequested and clears its continuousMode, and
// stopSignalled() tells that one came. POSIX: SIGINT, SIGTERM and SIGHUP; SIGPIPE and SIGXFSZ
// are ignored, so that a closed standard output or a file-size limit shows as a failing write
// the program reports, not as a silent death with a piece of a line left behind. Windows:
// Ctrl+C, Ctrl+Break, the console window closed, the system shut down (stop_signals_*.cpp).
// `link` must outlive the handlers (until the process ends).
void installStopHandlers(PbxLink* link);
bool stopSignalled();
// Whether the stop came because the terminal went away: SIGHUP, or the console window closed.
bool stoppedByHangUp();
// That cause, for the message that ends the program: "Получен сигнал SIGHUP", ...
std::string hangUpText();

// "dd.MM.yyyy hh:mm:ss" of a PBX clock.
std::string clockText(const PbxClock& clock);

}  // namespace kordel::cli
