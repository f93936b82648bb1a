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
//
// Faults on the way to the PBX are met the same way. A probe damaged into a request makes the
// PBX answer where the host expected an echo (PbxLink::strayHeard); the 0x03 is then not sent
// until a 0x02 has shown what the PBX holds first. A reply shorter than a call record (the
// buffer status, answered to a 0x40 inserted before the 0x03) is never taken for a call, and a
// 0x03 answered with the record just handed over (the request arrived as a 0x02, or the PBX
// did not move on) is not handed over again.
#include <algorithm>

#include "link/pbx_link.h"

namespace kordel {

namespace {

constexpr int kRecordTries = 15;
constexpr int kEmptyTryPauseMs = 100;
// Bytes 0 to 10 of a call record: start, duration, line, programmed number and trunk.
constexpr int kMinRecordLength = 11;
// A 0x03 answered by the record handed over last is asked again this many times before the
// read gives up on a PBX that does not move on.
constexpr int kMaxRepeats = 3;
// Records a read may hand over beyond what the buffer status reported and the buffer can hold
// (calls that arrive while the buffer is read).
constexpr int kLimitMargin = 100;

bool sameRecord(const std::vector<std::uint8_t>& handed, const ReplyBuffer& reply, int length) {
  return length >= 1 && static_cast<int>(handed.size()) == length &&
         std::equal(handed.begin(), handed.end(), reply.begin());
}

// A reply that can be a call record: long enough for its fixed fields, or the PBX's pattern
// for an empty slot (refused, whatever its length).
bool isRecordReply(const ReplyBuffer& reply, int length) {
  return length >= kMinRecordLength || (length >= 2 && !isAcceptable(reply.data()));
}

// Up to fifteen first-record requests (0x02, checksum verified). A reply without data is
// followed by a pause and another try; fifteen of them in a row, with result kOk, mean the
// buffer is empty. A reply too short for a call record is no record and is asked for again.
// The result is that of the last try; `length` is below 1 for an empty buffer. A stop request
// is honoured between tries: no record has been handed over by them, and the 0x02 request
// takes nothing from the PBX. `why` says what went wrong with the last failed try.
int requestFirst(PbxLink& link, ReplyBuffer& reply, int& length, LinkFault& why) {
  int result = kExchangeFailed;
  for (int i = 0; i < kRecordTries; ++i) {
    if (i > 0 && link.stopRequested) return kReadStopped;
    reply.fill(0);  // bytes beyond the reply length read as 0 when decoding
    result = link.exchange(kFirstRecordRequest, true, false, nullptr, 0, 0, reply, length);
    link.clearStray();  // whatever a stray request did, this reply shows what is first
    if (result != kOk) {
      why = link.exchangeFault;
    } else if (length >= 1 && !isRecordReply(reply, length)) {
      why = LinkFault::kDamagedReplies;
      result = kExchangeFailed;
      continue;
    } else if (length >= 1) {
      break;
    }
    if (length < 1) pauseMs(kEmptyTryPauseMs);
  }
  return result;
}

// The record after the one handed over last, within fifteen tries. The next-record request
// (0x03) is sent while its replies arrive intact: length byte and checksum matching (the PBX
// gives next-record replies a checksum, which the reader checks but never reads again), and
// long enough for a call record. Once a 0x03 went out and its reply did not arrive intact, or
// was empty, or a stray byte was heard before it (it is then not sent at all), the tries go on
// with 0x02 (after an empty reply, after the usual pause): a reply identical to the record
// handed over last means the 0x03 never reached the PBX, and 0x03 is sent again; any other
// reply (an empty one included) is the record that 0x03 asked for. A damaged reply is never
// handed over, and no record is taken that the host has not had intact. An intact 0x03 reply
// identical to the record handed over last is not handed over again: the request is repeated,
// and after kMaxRepeats of them the read ends (why: kRecordRepeated). Results as requestFirst,
// and kReadStopped when the record in hand may not be taken (beforeTaking said no).
int requestNext(PbxLink& link, int unit, ReplyBuffer& reply, int& length, LinkFault& why) {
  const auto& handed = link.handedOver[static_cast<std::size_t>(unit)];
  bool recovering = false;
  int repeats = 0;
  int result = kExchangeFailed;
  for (int i = 0; i < kRecordTries; ++i) {
    if (i > 0 && link.stopRequested) return kReadStopped;
    reply.fill(0);
    if (!recovering) {
      bool intact = false;
      result =
          link.exchange(kNextRecordRequest, false, false, nullptr, 0, 0, reply, length, &intact);
      if (result == kExchangeNotSent) {
        // Not safely stored: the record stays in the PBX, and the read ends here.
        if (!link.strayNoticed()) return kReadStopped;
        // A stray byte: the PBX may have taken a request of its own. Ask what it holds.
        why = LinkFault::kDamagedReplies;
        recovering = true;
        result = kExchangeFailed;
        length = -1;
        continue;
      }
      if (result == kOk && intact && length < 1) {
        // An empty buffer, as far as this try can tell: the record handed over is taken. The
        // tries that follow ask with 0x02, which takes nothing: a call recorded during the
        // pause must not be taken by a 0x03 before the host has seen it, and a reply that
        // only looked empty (noise reading as length 0 and checksum 0) costs nothing.
        pauseMs(kEmptyTryPauseMs);
        recovering = true;
        continue;
      }
      if (result == kOk && intact && isRecordReply(reply, length)) {
        if (!sameRecord(handed, reply, length)) return kOk;
        // The record handed over, offered again: the request reached the PBX as another one,
        // or the PBX did not move on. It was handed over already; ask for the next again.
        if (++repeats > kMaxRepeats) {
          why = LinkFault::kRecordRepeated;
          return kReadFailed;
        }
        pauseMs(kEmptyTryPauseMs);
        continue;
      }
      // A try that brought no data waits like an empty one before the next.
      if (length < 1) pauseMs(kEmptyTryPauseMs);
      // Without a handshake the request was never sent: it is simply repeated.
      if (result == kExchangeNoHandshake) {
        why = LinkFault::kNoHandshake;
        continue;
      }
      why = result == kOk ? LinkFault::kDamagedReplies : link.exchangeFault;
      recovering = true;
      result = kExchangeFailed;
      length = -1;
      continue;
    }
    result = link.exchange(kFirstRecordRequest, true, false, nullptr, 0, 0, reply, length);
    link.clearStray();  // the 0x02 reply shows what the PBX holds first now
    if (result != kOk) {
      why = link.exchangeFault;
      if (length < 1) pauseMs(kEmptyTryPauseMs);
      continue;
    }
    if (length < 1) {
      pauseMs(kEmptyTryPauseMs);  // the 0x03 took the last record
      continue;
    }
    if (!isRecordReply(reply, length)) {
      why = LinkFault::kDamagedReplies;
      result = kExchangeFailed;
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
  ++readSerial;
  lastFault = LinkFault::kNone;
  faultDetail = 0;
  auto fail = [this](int result, LinkFault fault, int detail = 0) {
    lastFault = fault;
    faultDetail = detail;
    return result;
  };
  int linked = kNoHandshake;
  try {
    port->purgeInput();
    linked = handshake();
  } catch (const ECommError&) {
    return fail(kReadPortError, LinkFault::kPortError);
  }

  // No more records than the buffer held, plus what it can hold besides, plus a margin: a PBX
  // that hands over one record after another without end ends the read.
  const int limit =
      std::max(recordsInBuffer.load(), 0) + std::max(bufferCapacity, 0) + kLimitMargin;
  int handed = 0;

  // The empty-slot pattern is counted, never handed on (it needs no storing and is taken).
  auto deliver = [&](int unit, const ReplyBuffer& reply, int length, bool first) {
    handedOver[static_cast<std::size_t>(unit)].assign(reply.begin(), reply.begin() + length);
    ++handed;
    delivery = Delivery::kSaved;
    if (!isAcceptable(reply.data())) {
      ++rejectedCount;
      return;
    }
    offerUnit = unit;
    offerFirst = first;
    if (recordHandler) recordHandler(decodeRecord(reply.data(), length, decodeContext()));
  };

  // The next-record request of a clean stop: it takes the record in hand, and its reply (the
  // following record) stays in the PBX, not handed over. A byte the PBX sends unasked after it
  // (a request a damaged byte made, which may have taken that reply too) is looked for with one
  // more handshake; then the reply is handed over after all: stored, it cannot be lost, and a
  // later read that finds it still in the PBX knows it from the data file.
  auto finishOnStop = [&](int unit, ReplyBuffer& buffer) {
    auto& handed = handedOver[static_cast<std::size_t>(unit)];
    int got = -1;
    bool intact = false;
    buffer.fill(0);
    const int result =
        exchange(kNextRecordRequest, false, false, nullptr, 0, 0, buffer, got, &intact);
    const bool next = result == kOk && intact && isRecordReply(buffer, got) &&
                      !sameRecord(handed, buffer, got);
    handed.clear();
    if (!next) return;
    clearStray();
    try {
      port->purgeInput();
      handshake();
    } catch (const ECommError&) {
      return;  // the port is gone: the reply stays in the PBX for the next read
    }
    if (strayNoticed()) deliver(unit, buffer, got, false);
  };

  ReplyBuffer reply{};
  int length = -1;
  LinkFault why = LinkFault::kNoHandshake;
  for (int unit = 0;; ++unit) {
    // The handshake before this unit: the first one, or the last one of the previous unit.
    if (linked != kOk) return fail(kReadFailed, LinkFault::kNoHandshake);
    selectUnit(unit);  // an unacknowledged selection still goes on with the request

    const int first = requestFirst(*this, reply, length, why);
    if (first == kReadStopped) return kReadStopped;
    if (first != kOk) return fail(kReadFailed, why);
    bool unitDone = length < 1;
    if (unitDone) handedOver[static_cast<std::size_t>(unit)].clear();
    if (unitDone && !isComplex) return kReadBufferEmpty;
    // The first record may be one an earlier read handed over and stored but did not take
    // (it ended first): the handler knows it from offerFirst and the data file.
    if (!unitDone) deliver(unit, reply, length, true);

    while (!unitDone) {
      // A record the handler could not store must stay in the PBX: no request takes it.
      if (delivery == Delivery::kNotSaved) return kReadStopped;
      reply.fill(0);
      // From here to the next-record request, any byte the PBX sends unasked (a reply to a
      // request that a damaged byte made) is noticed, and the request waits for a 0x02.
      clearStray();
      port->purgeInput();
      linked = handshake();
      if (linked != kOk) {
        // The PBX fell silent between two records. On the last unit the read still ends with
        // kOk; lastFault tells that it did not reach the end of the buffer.
        lastFault = LinkFault::kNoHandshake;
        break;
      }
      // A stop is seen here, after the record requested has been delivered, and between the
      // tries of a request that has not brought a record. A clean stop finishes the record in
      // hand: stored, it is taken now with one more next-record request, whose reply (the
      // following record) is not handed over and stays in the PBX.
      if (stopRequested) {
        finishOnStop(unit, reply);
        return kReadStopped;
      }
      if (handed >= limit) return fail(kReadFailed, LinkFault::kTooManyRecords, limit);
      // The next-record request also tells the PBX to drop the record delivered before.
      const int next = requestNext(*this, unit, reply, length, why);
      if (next == kReadStopped) return kReadStopped;
      if (next != kOk) return fail(kReadFailed, why);
      if (length < 1) {
        handedOver[static_cast<std::size_t>(unit)].clear();  // taken; the buffer is empty
        if (!isComplex) return kReadBufferEmpty;
        unitDone = true;
      } else {
        deliver(unit, reply, length, false);
      }
    }

    if (unit >= extraUnits) return kOk;
  }
}

}  // namespace kordel
