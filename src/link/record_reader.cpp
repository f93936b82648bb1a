// PbxLink: reading the call-record buffer of every unit into the record handler.
#include "link/pbx_link.h"

namespace kordel {

namespace {

constexpr int kRecordTries = 15;
constexpr int kEmptyTryPauseMs = 100;

// Up to fifteen requests of one record. A reply without data is followed by a pause and
// another try; fifteen of them in a row, with result kOk, mean the buffer is empty. The
// result is that of the last try; `length` is below 1 for an empty buffer.
int requestRecord(PbxLink& link, std::uint8_t command, bool verify, ReplyBuffer& reply,
                  int& length) {
  int result = kExchangeFailed;
  for (int i = 0; i < kRecordTries; ++i) {
    reply.fill(0);  // bytes beyond the reply length read as 0 when decoding
    result = link.exchange(command, verify, false, nullptr, 0, 0, reply, length);
    if (length >= 1 && result == kOk) break;
    if (length < 1) pauseMs(kEmptyTryPauseMs);
  }
  return result;
}

}  // namespace

DecodeContext PbxLink::decodeContext() const {
  DecodeContext context;
  context.model = model;
  context.isComplex = isComplex;
  context.timeStep = timeStep;
  context.currentYear = currentCalendarYear();
  return context;
}

int PbxLink::readRecords() {
  int linked = kNoHandshake;
  try {
    port->purgeInput();
    linked = handshake();
  } catch (const ECommError&) {
    return kReadPortError;
  }

  // The empty-slot pattern is counted, never handed on.
  auto deliver = [this](const ReplyBuffer& reply, int length) {
    if (!isAcceptable(reply.data())) {
      ++rejectedCount;
    } else if (recordHandler) {
      recordHandler(decodeRecord(reply.data(), length, decodeContext()));
    }
  };

  ReplyBuffer reply{};
  int length = -1;
  for (int unit = 0;; ++unit) {
    // The handshake before this unit: the first one, or the last one of the previous unit.
    if (linked != kOk) return kReadFailed;
    selectUnit(unit);  // an unacknowledged selection still goes on with the request

    if (requestRecord(*this, kFirstRecordRequest, true, reply, length) != kOk) return kReadFailed;
    bool unitDone = length < 1;
    if (unitDone && !isComplex) return kReadBufferEmpty;
    if (!unitDone) deliver(reply, length);

    while (!unitDone) {
      reply.fill(0);
      port->purgeInput();
      linked = handshake();
      if (linked != kOk) break;
      // A stop is seen only here: the record already requested has been delivered.
      if (stopRequested) return kReadStopped;
      // The next-record request also tells the PBX to drop the record delivered before.
      if (requestRecord(*this, kNextRecordRequest, false, reply, length) != kOk) {
        return kReadFailed;
      }
      if (length < 1) {
        if (!isComplex) return kReadBufferEmpty;
        unitDone = true;
      } else {
        deliver(reply, length);
      }
    }

    if (unit >= extraUnits) return kOk;
  }
}

}  // namespace kordel
