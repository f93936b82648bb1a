// Real-time monitoring: the real-time log and the refresh/log decision of each timer tick.
//
// The log is Windows-1251 text with CR LF line ends, only ever appended to and opened for
// every record. A record is a stamp line with the date and time of reading (in the
// program-wide short date and long time formats), one line per snapshot line, and one empty
// line. The real-time window (TRealTimeForm) and `kordel-cli monitor` build records and decide
// when to write them with the same code, so both write the same bytes.
//
// May use: link/ (result codes), files/ (regional formats, text codec, file paths). No Qt.
// REQUIRES: used from one thread (the GUI thread, or the command-line tool's main thread).
#pragma once

#include <array>
#include <string>

#include "link/pbx_link.h"

namespace kordel {

// The interval selector: "write one record every N seconds".
inline constexpr int kMinLogInterval = 1;
inline constexpr int kMaxLogInterval = 300;
inline constexpr int kDefaultLogInterval = 10;

// The interval moved by `delta` steps of the up-down control, wrapping from 300 to 1 and from
// 1 to 300. A value outside 1..300 is first brought into range.
int stepLogInterval(int interval, int delta);
// The interval limited to 1..300.
int clampLogInterval(int interval);

// A local calendar date and time of the workstation, year to second: the same fields as the
// PBX clock.
using StampTime = PbxClock;
// The workstation's local time now.
StampTime localTimeNow();

// "****** Дата и время считывания: " + date + three spaces + time (Windows-1251, no line end),
// with the date and time rendered in the given formats.
std::string logStampLine(const StampTime& when, const std::string& shortDate,
                         const std::string& longTime);

// The bytes of one record: the stamp line in the program-wide formats (regionalFormats()),
// the first `lineCount` lines of `lines` (an empty line stays an empty line), and one empty
// line; every line ended by CR LF.
std::string logRecord(const std::array<std::string, kMaxStateLines>& lines, unsigned lineCount,
                      const StampTime& when);

// Appends `record` to the file `fileName` (a Windows-1251 path), then flushes and closes it.
// Returns kAppendOk (from files/data_file.h) when the record was written; kAppendFailed when
// the file could not be opened for appending (the record is lost; the file is then created
// when it does not exist, without content, so that a later record can be written; a FIFO or
// device of that name is refused without waiting);
// kAppendError when writing or closing failed (part of the record may be in the file).
int appendLogRecord(const std::string& fileName, const std::string& record);

// What one tick of the real-time timer does.
struct TickOutcome {
  bool refresh = false;   // show the new snapshot
  bool writeLog = false;  // append one record to the log
};

// The counting of the real-time window: refresh on every successful query, and write a log
// record on every N-th successful refresh since the window was shown (N the interval).
class RealTimeTicker {
 public:
  // The window is shown: the count starts again.
  void reset() { tickCounter = 1; }
  // One tick after queryLineStates returned `queryResult`. A failed query changes nothing.
  // Otherwise the snapshot is shown; when the counter has reached (or passed) `interval`, the
  // counter restarts at 1 and a record is due if `logEnabled`; else the counter goes up.
  TickOutcome tick(int queryResult, int interval, bool logEnabled);

  // Successful refreshes since the last log decision, plus one.
  int tickCounter = 1;
};

}  // namespace kordel
