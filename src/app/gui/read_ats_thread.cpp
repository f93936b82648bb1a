// Windows: the reader thread.
#include "app/gui/read_ats_thread.h"

#include <QCoreApplication>
#include <exception>

#include "app/gui/main_form.h"
#include "collect/collector.h"
#include "link/pbx_link.h"
#include "link/serial_port.h"

ReadATSThread::ReadATSThread(TMainForm* form, std::shared_ptr<kordel::PbxLink> link)
    : form(form), link(std::move(link)) {
  // QThread names the system thread after the object when it starts.
  setObjectName(QString::fromLatin1(kThreadName));
}

ReadATSThread::~ReadATSThread() { waitServingHandOvers(); }

void ReadATSThread::waitServingHandOvers() {
  if (QCoreApplication::instance() != nullptr &&
      QThread::currentThread() == QCoreApplication::instance()->thread()) {
    // The thread may be waiting for a call it handed to this (GUI) thread: keep executing
    // those while waiting. User input stays queued so that no command starts meanwhile.
    while (!wait(10)) {
      QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
  } else {
    wait();
  }
  (void)finished_.load(std::memory_order_acquire);
}

void ReadATSThread::run() {
  TMainForm* window = form;
  window->runOnGui([window] { window->DisableControls(); });

  QString error;
  try {
    // One pass, or passes until Stop; a continuous read rides out a silent PBX and a port that
    // goes away. The result of a pass does not matter: a failed pass ends like an empty one.
    kordel::CollectorOptions options;
    options.alarms = &window->alarmMonitor();
    kordel::Collector collector(*link, *window->sink(), *window, options);
    const kordel::CollectorResult end = collector.run();
    // The port failed in the middle of a read: the read ends here, and the window says so
    // instead of staying locked.
    if (end.portError) error = QString::fromUtf8("Ошибка при работе с СОМ-портом.");
  } catch (const std::exception& e) {
    error = QString::fromLocal8Bit(e.what());
  }

  window->runOnGui([window, &error] { window->readEnded(error); });
  finished_.store(true, std::memory_order_release);
}
