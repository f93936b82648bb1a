#include "files/record_sink.h"

#include "files/call_record_line.h"
#include "link/pbx_link.h"

namespace kordel {

namespace {

// Positions of the separators that "*" may replace: date, time, duration.
constexpr int kSeparatorColumns[] = {2, 5, 13, 16, 24, 27};

char plainSeparator(int column) { return column < 10 ? '-' : ':'; }

}  // namespace

bool sameCallLine(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] == b[i]) continue;
    bool separator = false;
    for (int column : kSeparatorColumns) {
      if (static_cast<std::size_t>(column) != i) continue;
      const char plain = plainSeparator(column);
      separator = (a[i] == '*' || a[i] == plain) && (b[i] == '*' || b[i] == plain);
    }
    if (!separator) return false;
  }
  return true;
}

void RecordSink::attach() {
  link_.recordHandler = [this](const CallRecord& record) { onCallRecord(record); };
  link_.beforeTaking = [this] { return waitDurable(); };
}

void RecordSink::fail(const std::string& line) {
  // The record is still in the PBX: it is only taken from the buffer by the next-record
  // request, which the stop request prevents. Nothing is lost; the read ends here.
  if (!saveFailed_) {
    saveFailed_ = true;
    failedLine_ = line;
  }
  link_.delivery = Delivery::kNotSaved;
  link_.stopRequested = true;
}

void RecordSink::onCallRecord(const CallRecord& record) {
  const std::string line = formatCallRecordLine(record);
  if (!readSeen_ || link_.readSerial != readSerial_) {
    // A new read: what the data file holds now is what earlier reads stored.
    readSeen_ = true;
    readSerial_ = link_.readSerial;
    resumeLine_ = lastCallLine(link_.settings.dataFileName);
  }
  if (link_.offerFirst && !resumeLine_.empty() && sameCallLine(line, resumeLine_)) {
    resumeLine_.clear();  // only one record can have been left in the PBX that way
    link_.delivery = Delivery::kAlreadySaved;
    ++alreadySaved_;
    int inBuffer = link_.recordsInBuffer.load();
    if (inBuffer > 0) link_.recordsInBuffer = --inBuffer;  // the status counted it
    view_.lowerGauge();
    view_.showCounters(inBuffer, link_.rejectedCount.load());
    return;
  }
  if (listener_ != nullptr && !saveFailed_) {
    listener_->lineAppending(
        SavedLine{line, link_.isComplex ? link_.offerUnit : 0, link_.serialNumber, link_.model});
  }
  const bool appended =
      !saveFailed_ && appender_.append(link_.settings.dataFileName, {line}) == kAppendOk;
  if (!appended) {
    if (listener_ != nullptr && !saveFailed_) listener_->lineNotSaved();
    fail(line);
    view_.addLine(line);  // the user still sees the call that could not be stored
    view_.showCounters(link_.recordsInBuffer.load(), link_.rejectedCount.load());
    return;
  }
  ++saved_;
  lastLine_ = line;
  announced_ = listener_ != nullptr;
  view_.lowerGauge();
  view_.addLine(line);
  int inBuffer = link_.recordsInBuffer.load();
  if (inBuffer > 0) link_.recordsInBuffer = --inBuffer;
  view_.showCounters(inBuffer, link_.rejectedCount.load());
}

bool RecordSink::waitDurable() {
  const bool announced = announced_;
  announced_ = false;
  if (appender_.waitDurable()) {
    if (announced) listener_->linesDurable();
    return true;
  }
  // The line is not on the disk (and has been cut from the file): it is as if the append had
  // failed, and the record stays in the PBX.
  if (announced) listener_->lineNotSaved();
  if (saved_ > 0) --saved_;
  fail(lastLine_);
  return false;
}

}  // namespace kordel
