// PbxLink: reading the call-record buffer of every unit into the record handler.
//
// The PBX buffer is the only copy of the call records, and the PBX drops a record as soon as
// a next-record request (0x03) arrives after it: that request takes the record sent before
// and answers with the following one. So a 0x03 whose reply is lost or damaged leaves the
// host not knowing which record the PBX now holds first, and asking with another 0x03 would
// take a record the host never received. After such a 0x03 the reader asks with the
// first-record request (0x02) instead: it takes nothing, and its reply is checksum-verified.
// The reader remembers the bytes of the record it handed over last (handedOver); a 0x02 reply
// identical to it means that the 0x03 never reached the PBX, and the record is not handed
// over twice.
#include <algorithm>

#include "link/pbx_link.h"

namespace kordel {

namespace {

constexpr int kRecordTries = 15;
constexpr int kEmptyTryPauseMs = 100;

bool sameRecord(const std::vector<std::uint8_t>& handed, const ReplyBuffer& reply, int length) {
  return length >= 1 && static_cast<int>(handed.size()) == length &&
         std::equal(handed.begin(), handed.end(), reply.begin());
}

// Up to fifteen first-record requests (0x02, checksum verified). A reply without data is
// followed by a pause and another try; fifteen of them in a row, with result kOk, mean the
// buffer is empty. The result is that of the last try; `length` is below 1 for an empty
// buffer. A stop request is honoured between tries: no record has been handed over by them,
// and the 0x02 request takes nothing from the PBX.
int requestFirst(PbxLink& link, ReplyBuffer& reply, int& length) {
  int result = kExchangeFailed;
  for (int i = 0; i < kRecordTries; ++i) {
    if (i > 0 && link.stopRequested) return kReadStopped;
    reply.fill(0);  // bytes beyond the reply length read as 0 when decoding
    result = link.exchange(kFirstRecordRequest, true, false, nullptr, 0, 0, reply, length);
    if (length >= 1 && result == kOk) break;
    if (length < 1) pauseMs(kEmptyTryPauseMs);
  }
  return result;
}

// The record after the one handed over last, within fifteen tries. The next-record request
// (0x03) is sent while its replies arrive intact: length byte and checksum matching (the PBX
// gives next-record replies a checksum, which the reader checks but never reads again). Once
// a 0x03 went out and its reply did not arrive intact, or was empty, the tries go on with
// 0x02 (after an empty reply, after the usual pause): a reply
// identical to the record handed over last means the 0x03 never reached the PBX, and 0x03 is
// sent again; any other reply (an empty one included) is the record that 0x03 asked for.
// A damaged reply is never handed over, and no record is taken that the host has not had
// intact. Results as requestFirst.
int requestNext(PbxLink& link, int unit, ReplyBuffer& reply, int& length) {
  const auto& handed = link.handedOver[static_cast<std::size_t>(unit)];
  bool recovering = false;
  int result = kExchangeFailed;
  for (int i = 0; i < kRecordTries; ++i) {
    if (i > 0 && link.stopRequested) return kReadStopped;
    reply.fill(0);
    if (!recovering) {
      bool intact = false;
      result =
          link.exchange(kNextRecordRequest, false, false, nullptr, 0, 0, reply, length, &intact);
      if (result == kOk && intact) {
        if (length >= 1) return kOk;
        // An empty buffer, as far as this try can tell: the record handed over is taken. The
        // tries that follow ask with 0x02, which takes nothing: a call recorded during the
        // pause must not be taken by a 0x03 before the host has seen it, and a reply that
        // only looked empty (noise reading as length 0 and checksum 0) costs nothing.
        pauseMs(kEmptyTryPauseMs);
        recovering = true;
        continue;
      }
      // A try that brought no data waits like an empty one before the next.
      if (length < 1) pauseMs(kEmptyTryPauseMs);
      // Without a handshake the request was never sent: it is simply repeated.
      if (result == kExchangeNoHandshake) continue;
      // With nothing remembered (a stop came with the last record) a 0x02 may bring that
      // record once more: a repeat in the file rather than a record lost.
      recovering = true;
      result = kExchangeFailed;
      length = -1;
      continue;
    }
    result = link.exchange(kFirstRecordRequest, true, false, nullptr, 0, 0, reply, length);
    if (result != kOk) {
      if (length < 1) pauseMs(kEmptyTryPauseMs);
      continue;
    }
    if (length < 1) {
      pauseMs(kEmptyTryPauseMs);  // the 0x03 took the last record
      continue;
    }
    if (sameRecord(handed, reply, length)) {
      recovering = false;  // the 0x03 was lost on its way: ask for the next record again
      continue;
    }
    return kOk;
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

  // The empty-slot pattern is counted, never handed on. The record is remembered as handed
  // over unless a stop came with it: a stop set while the handler ran may be the data file
  // failing, and that record must come again on the next read.
  auto deliver = [this](int unit, const ReplyBuffer& reply, int length) {
    auto& handed = handedOver[static_cast<std::size_t>(unit)];
    handed.clear();
    if (!isAcceptable(reply.data())) {
      ++rejectedCount;
    } else if (recordHandler) {
      recordHandler(decodeRecord(reply.data(), length, decodeContext()));
    }
    if (!stopRequested) handed.assign(reply.begin(), reply.begin() + length);
  };

  ReplyBuffer reply{};
  int length = -1;
  for (int unit = 0;; ++unit) {
    // The handshake before this unit: the first one, or the last one of the previous unit.
    if (linked != kOk) return kReadFailed;
    selectUnit(unit);  // an unacknowledged selection still goes on with the request

    const int first = requestFirst(*this, reply, length);
    if (first == kReadStopped) return kReadStopped;
    if (first != kOk) return kReadFailed;
    bool unitDone = length < 1;
    if (unitDone) handedOver[static_cast<std::size_t>(unit)].clear();
    if (unitDone && !isComplex) return kReadBufferEmpty;
    // A read that ended after a record was handed over but before a next-record request
    // took it (a lost line, a stop) finds that record first again: it is in the data file
    // already and is only taken now.
    if (!unitDone) {
      if (!sameRecord(handedOver[static_cast<std::size_t>(unit)], reply, length)) {
        deliver(unit, reply, length);
      } else if (recordsInBuffer > 0) {
        --recordsInBuffer;  // the status counted it; the next request takes it
      }
    }

    while (!unitDone) {
      reply.fill(0);
      port->purgeInput();
      linked = handshake();
      if (linked != kOk) break;
      // A stop is seen here, after the record requested has been delivered, and between the
      // tries of a request that has not brought a record.
      if (stopRequested) return kReadStopped;
      // The next-record request also tells the PBX to drop the record delivered before.
      const int next = requestNext(*this, unit, reply, length);
      if (next == kReadStopped) return kReadStopped;
      if (next != kOk) return kReadFailed;
      if (length < 1) {
        handedOver[static_cast<std::size_t>(unit)].clear();  // taken; the buffer is empty
        if (!isComplex) return kReadBufferEmpty;
        unitDone = true;
      } else {
        deliver(unit, reply, length);
      }
    }

    if (unit >= extraUnits) return kOk;
  }
}

}  // namespace kordel
