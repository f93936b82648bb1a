// PbxLink: the serial protocol primitives, identification and buffer status.
#include "link/pbx_link.h"

#include <algorithm>

namespace kordel {

namespace {

constexpr int kProbesPerAttempt = 5;
constexpr int kProbeWaitMs = 30;
constexpr int kHandshakeAttempts = 11;
constexpr int kHandshakePauseMs = 300;
constexpr int kUnitTries = 11;
constexpr int kReplyByteWaitMs = 500;
constexpr int kStatusTries = 11;
constexpr int kExchangeHandshakes = 3;
// A verified reply whose checksum does not match is read again from the line; a PBX that
// keeps sending garbage must not hold the exchange forever.
constexpr int kMaxChecksumRereads = 16;
constexpr int kNoLengthByte = 255;  // an identification length of 255 means "no reply"

// Model names by identification code; code 2 carries its name in the reply.
const char* modelForCode(int code) {
  switch (code) {
    case 3:
      return "C";
    case 4:
      return "QTR160";
    case 5:
      return "DL256";
    case 6:
      return "QTR400-1";
    case 7:
      return "DL40";
    case 8:
      return "DL72";
    default:
      return nullptr;
  }
}

}  // namespace

PbxLink::PbxLink(const std::string& startDirectory) : port(std::make_shared<SerialPort>()) {
  port->trace = traceFromEnvironment();  // off unless KORDEL_TRACE names a file
  if (!startDirectory.empty()) settings.startDirectory = startDirectory;
  loadOutputConfig();
}

PbxLink::~PbxLink() {
  try {
    if (port) port->close();
  } catch (const ECommError&) {
    // Nothing can be reported from here; the link is going away.
  }
}

int PbxLink::openPort(const std::string& portName) {
  if (port->isOpen) return kPortAlreadyOpen;
  try {
    port->setDeviceName(portName);
    port->open(portName);
    port->purgeInput();
    return kOk;
  } catch (const ECommError&) {
    // A failed open has closed its handle already; a failed purge must not leave it open.
    try {
      port->close();
    } catch (const ECommError&) {
      // The port is reported as failed either way.
    }
    return kPortFailed;
  }
}

int PbxLink::handshakeAttempt() {
  for (int i = 0; i < kProbesPerAttempt; ++i) {
    port->purgeInput();
    port->writeByte(kHandshakeProbe);
    // The PBX answers each probe with 0x00; anything else, or nothing, ends the attempt. A
    // byte other than 0x00 may be the PBX answering a probe that reached it damaged, as a
    // request: the reader must not trust what it thinks the PBX holds until it has asked.
    const int echo = port->readByteWithin(kProbeWaitMs);
    if (echo != 0x00) {
      if (echo > 0) strayHeard = true;
      return kNoHandshake;
    }
  }
  return kOk;
}

int PbxLink::handshake() {
  if (handshakeAttempt() == kOk) return kOk;
  for (int i = 1; i < kHandshakeAttempts; ++i) {
    pauseMs(kHandshakePauseMs);
    if (handshakeAttempt() == kOk) return kOk;
  }
  return kNoHandshake;
}

int PbxLink::selectUnit(int unit) {
  const auto masked = static_cast<std::uint8_t>(unit ^ maskKey);
  for (int i = 0; i < kUnitTries; ++i) {
    port->purgeInput();
    port->writeByte(kSelectUnitCommand);
    port->writeByte(kSelectUnitCount);
    port->writeByte(masked);
    port->writeByte(masked);  // the checksum of one data byte is the byte itself
    port->purgeInput();       // drops whatever arrived while sending
    if (port->readByteWithin(kReplyByteWaitMs) == 0x00) return kOk;
  }
  return kUnitNotAcknowledged;
}

int PbxLink::queryStatus() {
  auto fail = [this](int result, LinkFault fault, int detail = 0) {
    lastFault = fault;
    faultDetail = detail;
    return result;
  };
  lastFault = LinkFault::kNone;
  faultDetail = 0;
  if (handshake() != kOk) return fail(kNoHandshake, LinkFault::kNoHandshake);

  port->purgeInput();
  port->writeByte(kIdentifyRequest);
  const int length = port->readByteWithin(kReplyByteWaitMs);
  if (length < 0 || length == kNoLengthByte) {
    return fail(kNoIdentification, LinkFault::kNoIdentification, length);
  }

  ReplyBuffer id{};
  for (int i = 0; i < length; ++i) {
    const int b = port->readByteWithin(kReplyByteWaitMs);
    if (b < 0) {
      // A timed-out byte reads as 0xFF. Once the PBX has fallen silent the rest would only
      // time out as well, so it is filled without waiting for each byte.
      std::fill(id.begin() + i, id.begin() + length, std::uint8_t{0xFF});
      break;
    }
    id[i] = static_cast<std::uint8_t>(b);
  }
  if (const int taken = takeIdentification(id, length); taken != kOk) {
    // An empty reply carries no model code at all; say so rather than "unknown model 0".
    if (length == 0) return fail(taken, LinkFault::kEmptyIdentification);
    return fail(taken, LinkFault::kUnsupportedModel, length > 5 ? (id[5] ^ maskKey) & 0xFF : 0);
  }

  bufferCapacity = 0;
  recordsInBuffer = 0;
  if (handshake() != kOk) return fail(kNoIdentification, LinkFault::kSilentAfterIdentify);

  for (int unit = 0;; ++unit) {
    selectUnit(unit);  // an unacknowledged selection still goes on with the request
    ReplyBuffer status{};
    bool good = false;
    for (int attempt = 0; attempt < kStatusTries && !good; ++attempt) {
      port->purgeInput();
      port->writeByte(kStatusRequest0);
      port->writeByte(kStatusRequest1);
      // The length is taken as a byte: a time-out would count as 255. A silent PBX cannot
      // match any checksum, so the try ends at the first byte that does not come.
      const int n = port->readByteWithin(kReplyByteWaitMs);
      if (n < 0) continue;
      std::uint8_t sum = 0;
      bool silent = false;
      for (int i = 0; i < n; ++i) {
        const int b = port->readByteWithin(kReplyByteWaitMs);
        if (b < 0) {
          silent = true;
          break;
        }
        sum = static_cast<std::uint8_t>(sum + b);
        status[i] = static_cast<std::uint8_t>(b ^ maskKey);
      }
      if (silent) continue;
      good = port->readByteWithin(kReplyByteWaitMs) == sum;
    }
    if (!good) return fail(kStatusChecksum, LinkFault::kStatusChecksum, unit);
    bufferCapacity += word16(status[0], status[1]);
    // Counter A minus counter B: a signed difference, negative when B runs ahead.
    recordsInBuffer += word16(status[2], status[3]) - word16(status[4], status[5]);
    if (!isComplex || unit >= extraUnits) return kOk;
  }
}

int PbxLink::takeIdentification(ReplyBuffer id, int length) {
  length = std::clamp(length, 0, kReplySize);
  // The key travels in clear in byte 11; every other byte the PBX sent is masked with it.
  maskKey = id[11];
  for (int i = 0; i < length; ++i) {
    if (i != 11) id[i] ^= maskKey;
  }

  const int modelCode = id[5];
  if (modelCode == 2) {
    std::string name(reinterpret_cast<const char*>(&id[16]), 7);
    const bool complexName = name[0] == '2' || name[0] == '3';
    if (complexName && name[2] == 'B') {
      name.resize(3);
    } else if (name.starts_with("DL2")) {
      name.resize(5);
    }
    extraUnits = 0;
    isComplex = complexName;
    if (complexName) extraUnits = name[0] == '2' ? 1 : 2;
    model = name.substr(0, name.find('\0'));
  } else {
    // Only a complex reports its units; a single PBX must not inherit those of an earlier
    // identification, or a read would visit units that do not exist.
    isComplex = false;
    extraUnits = 0;
    const char* name = modelForCode(modelCode);
    if (name == nullptr) return kUnsupportedModel;
    model = name;
  }

  softwareVersion =
      std::to_string(id[7]) + std::to_string(id[6] >> 4) + "," + std::to_string(id[6] & 0x0F);
  serialNumber = std::to_string(word16(id[14], id[15]));
  timeStep = id[13] == 0 ? 6 : id[13];
  clock = secondsToDateTime(static_cast<std::uint32_t>(word16(id[0], id[1])) * 86400u +
                            static_cast<std::uint32_t>(word16(id[2], id[3])) *
                                static_cast<std::uint32_t>(timeStep));

  return kOk;
}

int PbxLink::exchange(std::uint8_t command, bool verify, bool withPayload, const std::uint8_t* data,
                      int count, std::uint8_t subcommand, ReplyBuffer& reply, int& replyLength,
                      bool* intact) {
  replyLength = -1;
  if (intact != nullptr) *intact = false;
  exchangeFault = LinkFault::kNone;
  try {
    port->purgeInput();
    bool connected = false;
    for (int i = 0; i < kExchangeHandshakes && !connected; ++i) {
      if (i > 0) pauseMs(kHandshakePauseMs);
      connected = handshake() == kOk;
    }
    if (!connected) {
      exchangeFault = LinkFault::kNoHandshake;
      return kExchangeNoHandshake;
    }
    // The next-record request makes the PBX drop the record it sent before. It waits while a
    // stray byte has been heard (the PBX may already have moved on: the reader must ask with
    // the first-record request first) and while that record is not safely stored.
    if (command == kNextRecordRequest && (strayNoticed() || (beforeTaking && !beforeTaking()))) {
      return kExchangeNotSent;
    }

    port->purgeInput();
    port->writeByte(command);
    if (withPayload) {
      const int n = data == nullptr ? 0 : std::max(count, 0);
      port->writeByte(subcommand);
      port->writeByte(static_cast<std::uint8_t>(n));
      std::uint8_t sum = 0;
      for (int i = 0; i < n; ++i) {
        const auto masked = static_cast<std::uint8_t>(data[i] ^ maskKey);
        port->writeByte(masked);
        sum = static_cast<std::uint8_t>(sum + masked);
      }
      port->writeByte(sum);
    }

    // The length byte is 0..255 (or -1 when none came), so the reply always fits the buffer.
    replyLength = port->readByteWithin(kReplyByteWaitMs);
    const int n = std::clamp(replyLength, 0, kReplySize);
    // Whether the first pass got every byte it asked for: a reply that came whole with a wrong
    // checksum is damaged; one that stopped coming is a PBX that stopped sending.
    bool cameWhole = false;
    for (int pass = 0;; ++pass) {
      bool heard = false;
      // The PBX sends a reply in one go. A byte that does not come within its wait means the
      // reply has stopped (or a damaged length byte asks for more than was sent): the rest of
      // this pass reads as time-outs without waiting for each byte, so that a misread length
      // of up to 255 cannot hold the line for minutes.
      bool stopped = false;
      std::uint8_t sum = 0;
      for (int i = 0; i < n; ++i) {
        const int b = stopped ? -1 : port->readByteWithin(kReplyByteWaitMs);
        if (b >= 0) heard = true;
        if (b < 0) stopped = true;
        reply[i] = static_cast<std::uint8_t>(b);  // a time-out stores 0xFF
        sum = static_cast<std::uint8_t>(sum + reply[i]);
      }
      const int check = stopped ? -1 : port->readByteWithin(kReplyByteWaitMs);
      if (check >= 0) heard = true;
      if (pass == 0) cameWhole = replyLength >= 0 && check >= 0;
      if (intact != nullptr) *intact = replyLength >= 0 && check == sum;
      if (!verify || check == sum) break;
      // A bad checksum: the same number of bytes and a new checksum are read again from the
      // line, without a new request. A re-read that hears nothing at all means the PBX has
      // stopped sending; a PBX that keeps sending garbage is given up after a bounded number.
      if (pass > 0 && !heard) {
        exchangeFault = cameWhole ? LinkFault::kDamagedReplies : LinkFault::kStoppedSending;
        return kExchangeFailed;
      }
      if (pass == kMaxChecksumRereads) {
        exchangeFault = LinkFault::kDamagedReplies;
        return kExchangeFailed;
      }
    }
    for (int i = 0; i < n; ++i) reply[i] ^= maskKey;
    return kOk;
  } catch (const ECommError&) {
    exchangeFault = LinkFault::kPortError;
    return kExchangeFailed;
  }
}

}  // namespace kordel
