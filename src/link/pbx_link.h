// PBX link: the one protocol object through which the program talks to the PBX.
//
// PbxLink owns the SerialPort, knows the byte protocol of the ORVANEX PBXs (handshake,
// masking, checksums, identification, unit selection, buffer status, call records, line
// states) and keeps what it learned: the PBX identity (model, softwareVersion, serialNumber,
// bufferCapacity, recordsInBuffer, clock) and the protocol parameters maskKey, timeStep,
// isComplex and extraUnits. It also carries the Settings, the two title lines of the data file
// and the real-time snapshot.
//
// Results are integers (named below); only the serial port throws (ECommError), and each
// operation says whether it catches it.
//
// Threads: no lock. The windows run one link operation at a time; during a read only the
// reader thread uses the link, and the GUI thread only writes stopRequested/continuousMode.
//
// May use: link/, files/ (settings, data file), realtime/ (the snapshot walk).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "files/settings.h"
#include "link/call_record.h"
#include "link/coding.h"
#include "link/serial_port.h"

namespace kordel {

// Protocol bytes, host to PBX.
inline constexpr std::uint8_t kHandshakeProbe = 0x00;     // sent five times; the PBX echoes 0x00
inline constexpr std::uint8_t kIdentifyRequest = 0x01;    // answered by the identification reply
inline constexpr std::uint8_t kSelectUnitCommand = 0x84;  // then 0x01, masked unit, checksum
inline constexpr std::uint8_t kSelectUnitCount = 0x01;
inline constexpr std::uint8_t kStatusRequest0 = 0x40;  // buffer status: 0x40 0x03, in clear
inline constexpr std::uint8_t kStatusRequest1 = 0x03;
inline constexpr std::uint8_t kFirstRecordRequest = 0x02;  // reply checksum verified
inline constexpr std::uint8_t kNextRecordRequest = 0x03;   // takes the previous record; unverified
inline constexpr std::uint8_t kLineStateCommand = 0xF0;    // subcommand 0x01, one data byte 0xFF
inline constexpr std::uint8_t kLineStateSubcommand = 0x01;
inline constexpr std::uint8_t kLineStateData = 0xFF;

inline constexpr int kReplySize = 255;
using ReplyBuffer = std::array<std::uint8_t, kReplySize>;

inline constexpr int kMaxStateLines = 60;

// Results. Callers compare with these names; the values are the program's fixed codes.
inline constexpr int kOk = 1;
// openPort
inline constexpr int kPortFailed = -1;
inline constexpr int kPortAlreadyOpen = -2;
// handshake, handshakeAttempt, queryStatus, queryLineStates
inline constexpr int kNoHandshake = -1;
// queryStatus
inline constexpr int kNoIdentification = -2;  // no identification reply, or no second handshake
inline constexpr int kUnsupportedModel = -3;
inline constexpr int kStatusChecksum = -5;  // a unit's status failed its checksum 11 times
// selectUnit
inline constexpr int kUnitNotAcknowledged = -5;
// exchange
inline constexpr int kExchangeFailed = -1;  // a port error, or a PBX that stopped sending
inline constexpr int kExchangeNoHandshake = -2;
// exchange of a next-record request (0x03) that was not sent: a stray byte was heard during
// its handshakes, or the record handed over last is not yet safely stored (beforeTaking)
inline constexpr int kExchangeNotSent = -3;
// readRecords
inline constexpr int kReadBufferEmpty = 2;
inline constexpr int kReadStopped = 3;
inline constexpr int kReadFailed = -1;
inline constexpr int kReadPortError = -2;
// queryLineStates
inline constexpr int kLineStatePortError = -2;
// appendDataLine, appendTitleLines
inline constexpr int kAppendException = -1;
inline constexpr int kAppendNotWritten = -2;  // the data file could not be opened: line lost

// Why the last queryStatus or readRecords ended as it did (kNone after a success). The
// results stay the program's integer codes; this only tells the callers what to say.
enum class LinkFault {
  kNone,
  kNoHandshake,          // no echo to the handshake probes
  kPortError,            // the serial port failed
  kNoIdentification,     // no identification reply (faultDetail: the length byte or -1)
  kEmptyIdentification,  // an identification reply of length 0
  kUnsupportedModel,     // faultDetail: the model code
  kSilentAfterIdentify,  // the handshake after the identification failed
  kStatusChecksum,       // faultDetail: the unit whose buffer status never checked out
  kDamagedReplies,       // record replies kept failing their checksum or were too short
  kStoppedSending,       // the PBX stopped part-way through its replies
  kRecordRepeated,       // the PBX offered the record just handed over again and again
  kTooManyRecords,       // more records than the buffer status allows for (faultDetail)
};

// What the record handler did with the record it was given (PbxLink::delivery).
enum class Delivery {
  kSaved,         // stored (the default when a handler does not say)
  kAlreadySaved,  // it was stored before (an earlier read ended before the PBX dropped it)
  kNotSaved,      // it could not be stored: it must not be taken from the PBX
};

class PbxLink {
 public:
  // Builds the link with a new closed port and default settings for `startDirectory` (the
  // current directory when empty), then runs loadOutputConfig.
  explicit PbxLink(const std::string& startDirectory = std::string());
  ~PbxLink();  // closes the port
  PbxLink(const PbxLink&) = delete;
  PbxLink& operator=(const PbxLink&) = delete;

  // --- serial protocol (pbx_link.cpp) ---
  // kOk opened and purged; kPortAlreadyOpen (nothing done); kPortFailed (ECommError caught).
  int openPort(const std::string& portName);
  // Five probes, each echoed by 0x00. kOk or kNoHandshake. ECommError passes.
  int handshakeAttempt();
  // Up to eleven attempts 300 ms apart (about 8.5 s when nothing answers). ECommError passes.
  int handshake();
  // kOk or kUnitNotAcknowledged after eleven tries. ECommError passes.
  int selectUnit(int unit);
  // Identification and buffer status of every unit. kOk, kNoHandshake, kNoIdentification,
  // kUnsupportedModel, kStatusChecksum. ECommError passes.
  int queryStatus();
  // Learns from an identification reply of `length` bytes as received (byte 11 holds the key
  // in clear, every other byte is masked with it; bytes not received are 0): maskKey, model,
  // isComplex, extraUnits, softwareVersion, serialNumber, timeStep and clock. Returns kOk, or
  // kUnsupportedModel with only maskKey (and the unit fields) changed. No I/O.
  int takeIdentification(ReplyBuffer id, int length);
  // One masked request/reply. On kOk `reply` holds `replyLength` unmasked bytes
  // (replyLength -1 when no length byte came). With `verify`, a reply whose checksum does
  // not match is read again from the line (same length, new checksum, no new request).
  // kExchangeNoHandshake when three handshakes failed; kExchangeFailed on a port error, when
  // a checksum re-read hears nothing at all from the PBX (every byte, and the checksum, timed
  // out), or when 16 re-reads all failed their checksum. Never throws ECommError. Never
  // touches bytes outside `reply`. When `intact` is given it tells whether a length byte came
  // and the last checksum read matched the bytes (also without `verify`, which only decides
  // whether a mismatch is read again). A next-record request (0x03) is not sent, and the
  // result is kExchangeNotSent, when strayHeard is set after the handshakes or beforeTaking
  // says no.
  int exchange(std::uint8_t command, bool verify, bool withPayload, const std::uint8_t* data,
               int count, std::uint8_t subcommand, ReplyBuffer& reply, int& replyLength,
               bool* intact = nullptr);

  // --- call records (record_reader.cpp) ---
  // Empties the buffer of every unit into recordHandler. kOk, kReadBufferEmpty, kReadStopped,
  // kReadFailed, kReadPortError. Port errors after the first handshake leave as ECommError.
  // Before each call of recordHandler, offerUnit and offerFirst say where the record came
  // from and delivery is kSaved; the handler sets delivery when it did not store the record.
  // A clean stop takes the record in hand when it was stored (one more next-record request,
  // whose reply is not handed over), so that the PBX and the data file agree. A read ends
  // with kReadFailed (lastFault kTooManyRecords) once it has handed over more records than
  // the buffer status allowed for with a margin, and (kRecordRepeated) when the PBX keeps
  // offering the record handed over last instead of the next one. A handshake that fails
  // between two records of the last unit ends the read with kOk and lastFault kNoHandshake.
  int readRecords();
  DecodeContext decodeContext() const;

  // --- configuration files (files/, settings.h) ---
  int loadOutputConfig();
  int loadPortConfig();
  int savePortConfig(const std::string& portName, bool titleEnabled);
  int saveOutputConfig(const std::string& dataFileName, const std::string& realTimeLogName);

  // --- data file (files/data_file.h) ---
  // Sets headerLine (from the PBX date and time) and columnTitleLine.
  void buildTitleLines(const PbxClock& pbxTime);
  // Append to settings.dataFileName: kOk, kAppendNotWritten, kAppendException.
  int appendTitleLines();
  int appendDataLine(const std::string& line);

  // --- real-time line states (realtime/) ---
  // kOk (snapshot new, or unchanged when the exchange failed), kNoHandshake,
  // kLineStatePortError.
  int queryLineStates();

  // Fields, in the protocol's terms.
  bool isComplex = false;
  int extraUnits = 0;
  std::shared_ptr<SerialPort> port;
  std::atomic<int> rejectedCount{0};
  std::string softwareVersion;
  std::string serialNumber;
  std::string model;
  std::uint8_t maskKey = 0;
  int timeStep = 6;
  std::atomic<int> recordsInBuffer{0};
  int bufferCapacity = 100;
  PbxClock clock;
  std::function<void(const CallRecord&)> recordHandler;
  std::atomic<bool> stopRequested{false};
  std::atomic<bool> continuousMode{false};
  // Read by the record handler: the unit of the record, and whether it is the first record
  // the unit offered in this read (the first-record request, which takes nothing).
  int offerUnit = 0;
  bool offerFirst = false;
  // Set by the record handler (readRecords makes it kSaved before each call).
  Delivery delivery = Delivery::kSaved;
  // Called just before a next-record request goes out, which tells the PBX to drop the record
  // handed over before: false when that record is not safely stored, and the request is not
  // sent. Empty: always sent.
  std::function<bool()> beforeTaking;
  // Counts readRecords calls, so that a handler can tell one read from the next.
  std::atomic<unsigned> readSerial{0};
  // Why the last queryStatus or readRecords ended as it did.
  LinkFault lastFault = LinkFault::kNone;
  int faultDetail = 0;
  // Why the last exchange failed: kNone, kNoHandshake, kPortError, kDamagedReplies (the
  // checksum never matched) or kStoppedSending.
  LinkFault exchangeFault = LinkFault::kNone;
  // Set by handshakeAttempt when a byte other than the echo 0x00 came back: a probe damaged on
  // its way may have reached the PBX as a request, and the PBX answered it. Bytes the port
  // discarded unread since clearStray (a reply to a request the host never made) count the
  // same. A next-record request is not sent while strayNoticed() holds.
  bool strayHeard = false;
  std::uint64_t strayMark = 0;
  void clearStray() {
    strayHeard = false;
    strayMark = port->discardedBytes;
  }
  bool strayNoticed() const { return strayHeard || port->discardedBytes != strayMark; }
  // Per unit: the bytes of the record last handed to recordHandler (or refused) that the PBX
  // may still hold, because no next-record reply has yet shown it taken; empty when there is
  // none. Within a read, readRecords never hands the same record over twice in a row; whether
  // the first record of a read was stored by an earlier one is the handler's to decide
  // (offerFirst), from what it stored.
  std::array<std::vector<std::uint8_t>, 3> handedOver;

  Settings settings;
  std::string headerLine;
  std::string columnTitleLine;
  std::array<std::string, kMaxStateLines> stateLines;
  unsigned stateLineCount = 0;
};

}  // namespace kordel
