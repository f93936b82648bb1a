// Files and formats: what happens to each call record during a read.
//
// RecordSink is the core half of the per-record handler: it renders the line, appends it to
// the data file and keeps the counters; the window actions (gauge, list, selection, the
// 20000-line clear, status panels) go to a RecordView, which the main window implements by
// handing each call to the GUI thread and the command-line tool implements on the terminal.
#pragma once

#include <atomic>
#include <string>

#include "files/data_file.h"
#include "link/call_record.h"

namespace kordel {

class PbxLink;

// The list of the main window is cleared when it would hold more lines than this.
inline constexpr int kMaxListLines = 20000;

// Window actions of a read. Called on the reader thread; each returns only when its action
// is done, so lines appear in read order.
class RecordView {
 public:
  virtual ~RecordView() = default;
  // The buffer gauge goes down by one.
  virtual void lowerGauge() = 0;
  // The line goes to the end of the list and becomes the selected line; a list of more than
  // kMaxListLines lines is then cleared.
  virtual void addLine(const std::string& line) = 0;
  // Status panels 4 and 5: "В буфере : " recordsInBuffer, "Отвергнуто записей: " rejected.
  virtual void showCounters(int recordsInBuffer, int rejectedCount) = 0;
};

// A line the sink stores, with what the reader knew of it.
struct SavedLine {
  std::string line;          // the call-record line
  int unit = 0;              // the unit of a complex that delivered it (0 for a single PBX)
  std::string serialNumber;  // the PBX's, as identified (Windows-1251)
  std::string model;
};

// Keeps a copy of the stored calls elsewhere (the calls database). Called on the reader
// thread; each call must return at once, whatever the copy's state.
class SavedLineListener {
 public:
  virtual ~SavedLineListener() = default;
  // The line is about to be appended to the data file.
  virtual void lineAppending(const SavedLine& line) = 0;
  // The line announced last did not reach the data file after all (its append or its sync
  // failed; the record stays in the PBX).
  virtual void lineNotSaved() = 0;
  // Every line appended so far is on the disk.
  virtual void linesDurable() = 0;
};

class RecordSink {
 public:
  // Both must outlive the sink.
  RecordSink(PbxLink& link, RecordView& view) : link_(link), view_(view) {}

  // Makes the sink the link's recordHandler and its beforeTaking check.
  void attach();
  // Told of every line stored from now on; nullptr: none. Set before a read; must outlive it.
  void setListener(SavedLineListener* listener) { listener_ = listener; }

  // The link's recordHandler: render, append to the data file, lower the gauge, show the line,
  // count down recordsInBuffer, show the counters. The line is made durable on the disk before
  // the PBX may drop the record (waitDurable, the link's beforeTaking).
  //
  // Exactly once: the first record a unit offers in a read (PbxLink::offerFirst) may be the one
  // an earlier read (of this run or an earlier one) stored and then ended before the PBX dropped
  // it. It is then the last call-record line of the data file as the read found it, and is only
  // taken: not stored or shown again (PbxLink::delivery = kAlreadySaved).
  //
  // When the line cannot be appended the sink records the failure, sets delivery to kNotSaved
  // and the link's stopRequested, so that the record is not taken from the PBX and no further
  // record is requested; the line is still shown.
  void onCallRecord(const CallRecord& record);
  // True when every line appended so far is on the disk. A line whose sync failed has been cut
  // from the data file again; the failure is then recorded as for a failed append.
  bool waitDurable();

  int recordsSaved() const { return saved_.load(); }
  int recordsAlreadySaved() const { return alreadySaved_; }
  bool saveFailed() const { return saveFailed_; }
  const std::string& failedLine() const { return failedLine_; }
  // Forgets a failed save, so that a later read may try again.
  void clearFailure() {
    saveFailed_ = false;
    failedLine_.clear();
  }

 private:
  void fail(const std::string& line);

  PbxLink& link_;
  RecordView& view_;
  SavedLineListener* listener_ = nullptr;
  bool announced_ = false;  // the listener was told of lastLine_ and not yet of its sync
  DurableAppender appender_;
  unsigned readSerial_ = 0;
  bool readSeen_ = false;
  std::string resumeLine_;  // the last call-record line of the data file when the read began
  std::string lastLine_;    // the line appended last, until it is durable
  std::atomic<int> saved_{0};  // read by other threads while a read runs (progress, tests)
  int alreadySaved_ = 0;
  bool saveFailed_ = false;
  std::string failedLine_;
};

// Whether two call-record lines describe the same call: equal, but for the separators of the
// date, the time and the duration (a group is marked "*" when its values looked implausible,
// which depends on the workstation's calendar year when the line was written).
bool sameCallLine(const std::string& a, const std::string& b);

}  // namespace kordel
