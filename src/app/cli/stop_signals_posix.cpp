// kordel-cli on POSIX: SIGINT, SIGTERM and SIGHUP stop the link; SIGPIPE and SIGXFSZ are
// ignored, so that a closed standard output or a file-size limit shows as a failing write.
#include <atomic>
#include <csignal>

#include "app/cli/cli_common.h"
#include "files/text_codec.h"

namespace kordel::cli {
namespace {

std::atomic<PbxLink*> gLink{nullptr};
volatile std::sig_atomic_t gStop = 0;

extern "C" void onStopSignal(int signal) {
  gStop = signal;
  if (PbxLink* link = gLink.load()) {
    link->stopRequested = true;
    link->continuousMode = false;
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
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
}

bool stopSignalled() { return gStop != 0; }

bool stoppedByHangUp() { return gStop == SIGHUP; }

std::string hangUpText() { return ru("Получен сигнал SIGHUP"); }

}  // namespace kordel::cli
