// Windows: the reader thread of the read-all and continuous read commands.
//
// ReadATSThread runs PbxLink::readRecords on its own thread, once or (continuous mode) until a
// stop is requested. It never touches a widget: every window action goes through
// TMainForm::runOnGui and is done before the thread goes on. The object is created suspended,
// owned by the main window's reader pointer and replaced by the next read.
#pragma once

#include <QThread>
#include <atomic>
#include <memory>

namespace kordel {
class PbxLink;
}
class TMainForm;

class ReadATSThread : public QThread {
  Q_OBJECT

 public:
  // The name the thread carries in debuggers and in the system's thread list.
  static constexpr const char* kThreadName = "Brevik_ReaderThread";

  ReadATSThread(TMainForm* form, std::shared_ptr<kordel::PbxLink> link);
  // Waits until the thread has finished. On the GUI thread the wait keeps serving the calls
  // the thread hands over, so that it can finish.
  ~ReadATSThread() override;

  // Waits as the destructor does; returns at once for a thread that never started.
  void waitServingHandOvers();

  TMainForm* form;
  // A second owner of the main window's link, so that the link outlives the thread.
  std::shared_ptr<kordel::PbxLink> link;

 protected:
  void run() override;

 private:
  // Set last by run(), read after every wait: the end of the thread's work is then ordered
  // before whatever the waiter does next in terms the sanitizers see (QThread::wait itself
  // synchronises inside Qt).
  std::atomic<bool> finished_{false};
};
