#include "files/record_sink.h"

#include "files/call_record_line.h"
#include "link/pbx_link.h"

namespace kordel {

void RecordSink::onCallRecord(const CallRecord& record) {
  const std::string line = formatCallRecordLine(record);
  view_.lowerGauge();
  if (link_.appendDataLine(line) == kOk) {
    ++saved_;
  } else if (!saveFailed_) {
    // The record is still in the PBX: it is only taken from the buffer by the next-record
    // request, which the stop request prevents. Nothing is lost; the read ends here.
    saveFailed_ = true;
    failedLine_ = line;
  }
  if (saveFailed_) link_.stopRequested = true;
  view_.addLine(line);
  int inBuffer = link_.recordsInBuffer.load();
  if (inBuffer > 0) link_.recordsInBuffer = --inBuffer;
  view_.showCounters(inBuffer, link_.rejectedCount.load());
}

}  // namespace kordel
