// kordel-cli on Windows: the console control events stop the link.
//
// Ctrl+C and Ctrl+Break stand for SIGINT, the shut-down of the system for SIGTERM, and the
// closing of the console window for SIGHUP (the terminal went away). A log-off is ignored: the
// system ends an interactive program with its session anyway, and a program run as a service
// must outlive the log-off of any user. SIGPIPE and SIGXFSZ need no counterpart: a write to a
// pipe whose reader has gone fails with an error code, and there is no file-size limit signal.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <atomic>

#include "app/cli/cli_common.h"
#include "files/text_codec.h"

namespace kordel::cli {
namespace {

std::atomic<PbxLink*> gLink{nullptr};
// The console event that stopped the program, plus one (0: none; CTRL_C_EVENT is 0).
std::atomic<DWORD> gStop{0};

void requestStop(DWORD event) {
  DWORD none = 0;
  gStop.compare_exchange_strong(none, event + 1);
  if (PbxLink* link = gLink.load()) {
    link->stopRequested = true;
    link->continuousMode = false;
  }
}

// Runs on a thread of its own that the system starts for each event.
BOOL WINAPI onConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      requestStop(event);
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      requestStop(event);
      // The system ends the process as soon as this returns (and a few seconds later in any
      // case): the main thread is given that time to finish the record in hand and exit.
      Sleep(INFINITE);
      return TRUE;
    case CTRL_LOGOFF_EVENT:
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

void installStopHandlers(PbxLink* link) {
  gLink = link;
  // A stop that came before the link existed holds for it too.
  if (link != nullptr && stopSignalled()) {
    link->stopRequested = true;
    link->continuousMode = false;
  }
  SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

bool stopSignalled() { return gStop.load() != 0; }

bool stoppedByHangUp() { return gStop.load() == CTRL_CLOSE_EVENT + 1; }

std::string hangUpText() { return ru("Окно консоли закрыто"); }

}  // namespace kordel::cli
