// Files and formats: what happens to each call record during a read.
//
// RecordSink is the core half of the per-record handler: it renders the line, appends it to
// the data file and keeps the counters; the window actions (gauge, list, selection, the
// 20000-line clear, status panels) go to a RecordView, which the main window implements by
// handing each call to the GUI thread and the command-line tool implements on the terminal.
#pragma once

#include <string>

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

class RecordSink {
 public:
  // Both must outlive the sink.
  RecordSink(PbxLink& link, RecordView& view) : link_(link), view_(view) {}

  // The link's recordHandler: render, lower the gauge, append to the data file, show the line,
  // count down recordsInBuffer, show the counters. When the line cannot be appended the sink
  // records the failure and sets the link's stopRequested, so that no further record is
  // requested from the PBX; the line is still shown.
  void onCallRecord(const CallRecord& record);

  int recordsSaved() const { return saved_; }
  bool saveFailed() const { return saveFailed_; }
  const std::string& failedLine() const { return failedLine_; }

 private:
  PbxLink& link_;
  RecordView& view_;
  int saved_ = 0;
  bool saveFailed_ = false;
  std::string failedLine_;
};

}  // namespace kordel
