// pbxsim: an ORVANEX office PBX on a pseudo-terminal, for tests and trials.
//
// The simulator is the PBX at the far end of the serial line. It answers the handshake
// probe, the identification request, unit selection, the buffer status request, the
// first/next call-record requests and the line state request, with the data bytes masked
// by its key and the one-byte additive checksums on the wire. It keeps a call-record
// buffer per unit and removes a record only when the host asks for the next one. On request
// it misbehaves: corrupted checksums, dropped or truncated replies, garbage, silence,
// hang-ups, slow lines and faults at a chosen byte of its output; and bytes from the host
// lost, damaged or inserted before it takes them.
//
// It is written from the request and reply layouts alone; it shares no code with the
// program's own link, so a decoding mistake cannot hide by being made twice. It uses only
// the C++ standard library and POSIX.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pbxsim {

// ---------------------------------------------------------------------------------------
// Call records
// ---------------------------------------------------------------------------------------

// One call record as the PBX stores it, unmasked. Layout:
//   0-1 day number since 1 January 1980 (little-endian)
//   2-3 start time of day in PBX time units (little-endian)
//   4-5 duration in PBX time units (little-endian)
//   6-7 subscriber hardware number (little-endian)
//   8-9 programmed number, packed nibbles; byte 9 holds the leading digits
//   10  trunk byte
//   11- dialed digits, two per byte, high nibble first (absent for an incoming call)
// Digit nibbles: 1-9 as themselves, 0xA = 0, 0xB = *, 0xC = #, 0xD = P, 0xE = A, 0xF = T;
// a zero nibble is filler.
struct Record {
  std::vector<std::uint8_t> bytes;

  bool operator==(const Record&) const = default;

  // The pattern the PBX uses for an empty slot: bytes 0, 1 = 0x0F, 0xFF (11 bytes long).
  static Record emptySlot();
  bool isEmptySlot() const;

  // Hex text of the bytes: two upper-case digits per byte, separated by one space.
  std::string toHex() const;
  // Parses hex text (bytes separated by spaces); nullopt when malformed or longer than 255.
  static std::optional<Record> fromHex(std::string_view text);
};

// The fields of a call, to build a Record from.
struct CallFields {
  int year = 2024, month = 1, day = 1;   // start date (1980-01-01 or later)
  int hour = 0, minute = 0, second = 0;  // start time
  long durationSeconds = 0;              // may exceed a day
  int hardwareNumber = 0;                // 0..65535
  std::string programmed;                // up to 4 digits 0-9; empty = none (bytes 8, 9 = 0)
  std::uint8_t trunk = 0;                // trunk byte as stored
  std::string dialed;                    // digits 0-9 and * # P A T; empty = incoming call
};

// Builds the record. Start time and duration are divided by `timeStepSeconds` (1..255),
// truncating, and clamped to 65535 units. Throws std::invalid_argument on a character that
// has no nibble code, a programmed number longer than 4 digits or a dialed number longer
// than 488 digits.
Record makeRecord(const CallFields& fields, int timeStepSeconds = 6);

// Packing helpers used by makeRecord (exposed for tests).
std::vector<std::uint8_t> packDialed(std::string_view digits);
// Returns {byte 8, byte 9}.
std::vector<std::uint8_t> packProgrammed(std::string_view digits);
// Days since 1 January 1980 for a civil date (proleptic Gregorian).
int dayNumber(int year, int month, int day);

// ---------------------------------------------------------------------------------------
// Faults
// ---------------------------------------------------------------------------------------

// A fault at one byte position of the PBX's output, for sweeps.
//
// The output is split into segments: a segment ends when a call-record reply or a unit
// selection acknowledgement has been sent. Segment k is the one that follows k record
// replies (replies to 0x02 and 0x03, empty ones included). `position` counts bytes from
// the start of the segment, so while reading records segment 0 is: the five handshake
// echoes (positions 0-4), then the first-record reply (length byte at 5, data, checksum);
// later segments start with the echoes of the handshakes that precede a next-record
// request (ten of them when the host runs two handshakes), then the reply.
struct ByteFault {
  enum class Kind { None, Drop, FlipBit, WrongByte, Delay };
  Kind kind = Kind::None;
  int segment = 0;               // which segment; -1 = every segment
  int position = 0;              // byte index within the segment
  bool persistent = false;       // true: every segment from `segment` on; false: only once
  std::uint8_t flipMask = 0x01;  // FlipBit: XOR mask
  std::uint8_t value = 0x55;     // WrongByte: byte sent instead (a wrong echo at a probe)
  int delayMs = 700;             // Delay: pause before the byte
};

// A fault at one byte the PBX receives from the host, for sweeps and exact reproductions:
// the `nth` received byte whose value is `match` (counted from the moment the fault was set)
// is lost, received as another byte, or received after an extra byte. The fault acts before
// the PBX's request parser sees the byte, as damage on the line from the host would.
struct InputFault {
  enum class Kind { None, Drop, Replace, Insert };
  Kind kind = Kind::None;
  int match = -1;           // the byte value to look for, 0..255; -1 = any byte
  int nth = 1;              // 1 = the first matching byte
  bool persistent = false;  // true: the n-th and every later matching byte; false: once
  int value = -1;           // Replace: the byte received instead; Insert: the byte received
                            // before; -1 = a random byte (for Replace never the byte itself)
};

// Parses "drop|replace|insert:MATCH:N[:VALUE][:persist]"; MATCH is a byte or "any", bytes
// are decimal or 0x.. hex, N counts from 1, VALUE is not taken by drop. Throws
// std::invalid_argument saying what is wrong.
InputFault parseInputFault(std::string_view text);
// Parses "P[:VALUE]": a probability 0..1 and an optional byte (-1 when left out). Throws
// std::invalid_argument saying what is wrong.
std::pair<double, int> parseChanceAndByte(std::string_view text);

// Probabilities are 0..1 and drawn from the scenario's seed. "Requests" below means
// requests other than the handshake probe (identification, unit selection, status, record
// and line state requests), counted as they arrive.
struct Faults {
  double firstRecordChecksum = 0;  // corrupt the checksum of a first-record reply
  double nextRecordChecksum = 0;   // corrupt the checksum of a next-record reply
  double statusChecksum = 0;       // corrupt the checksum of a buffer status reply
  double lineStateChecksum = 0;    // corrupt the checksum of a line state reply
  // After a corrupted checksum, send the data bytes and a correct checksum again (no
  // length byte), as a PBX that repeats a reply the host did not accept.
  bool resendAfterBadChecksum = false;
  double dropEcho = 0;       // do not echo a handshake probe
  double dropReply = 0;      // do not answer a request at all
  double garbageBefore = 0;  // 1..4 random bytes before a reply
  double truncateReply = 0;  // reply stops half-way
  int silentAfter = -1;      // answer nothing (probes included) after N requests
  int slowReplyMs = 0;       // pause before every reply (echoes included)
  int hangupAfter = -1;      // close the pseudo-terminal after N requests
  int comeBackAfterMs = -1;  // after such a hang-up, open a new one after this pause
  bool burst16ms = false;    // release output on 16 ms ticks like a USB adapter
  int byteDelayUs = 0;       // extra pause per output byte
  ByteFault byteFault;
  // Faults on what the PBX receives, acting before its request parser sees a byte (drawn
  // from the seed too, apart from the output faults' draws).
  double inputDrop = 0;        // lose a received byte
  double inputReplace = 0;     // receive another byte instead
  int inputReplaceValue = -1;  // that byte; -1 = a random one other than the byte itself
  double inputInsert = 0;      // receive an extra byte before the byte
  int inputInsertValue = -1;   // that byte; -1 = a random one
  int inputOnly = -1;          // the three above strike only bytes of this value; -1 = any
  // A targeted fault; a byte it strikes is left alone by the three above.
  InputFault inputFault;
};

// ---------------------------------------------------------------------------------------
// Line states
// ---------------------------------------------------------------------------------------

struct LineEntry {
  std::uint8_t kind = 0x44;  // 0x44 subscriber line, 0x45, 0x46 trunk, 0x47
  std::uint8_t index = 0;
  std::uint8_t state = 0;
  bool operator==(const LineEntry&) const = default;
};
using LineGroup = std::vector<LineEntry>;

enum class LineStateMode {
  Live,      // connections from the seed that start and end in real time
  Scripted,  // `lineGroups` as given (count byte + entries per group)
  Payload,   // `lineStateBytes` as the unmasked data: length, masked bytes, checksum
  Wire,      // `lineStateBytes` written to the line exactly as given
};

// The data bytes of a line state reply for these groups (count byte then entries).
std::vector<std::uint8_t> encodeLineGroups(const std::vector<LineGroup>& groups);

// ---------------------------------------------------------------------------------------
// Scenario
// ---------------------------------------------------------------------------------------

struct Unit {
  int capacity = 100;          // buffer capacity reported by the status reply
  std::deque<Record> records;  // oldest first; not yet taken by the host
  int counterBase = 0;         // counter B before anything was taken
  // Fixed counters A, B for the status reply instead of the live ones (A - B = records
  // left); lets a test report B > A.
  std::optional<std::pair<std::uint16_t, std::uint16_t>> fixedCounters;
};

struct Scenario {
  int modelCode = 4;      // 2..8 (2: name in modelName; 3 "C"; 4 QTR160; 5 DL256;
                          // 6 QTR400-1; 7 DL40; 8 DL72); other codes are sent as given
  std::string modelName;  // up to 7 bytes, zero-padded ("2xB", "3xB", "DL256xx")
  std::uint8_t maskKey = 0x5A;
  int timeStepByte = 0;  // identification byte 13; 0 means 6 s
  std::uint16_t serial = 12345;
  std::uint8_t versionLead = 3;        // byte 7
  std::uint8_t versionNibbles = 0x25;  // byte 6
  // PBX clock at start; it runs in real time. -1 = the workstation's local time.
  int clockDay = -1;                // days since 1 January 1980
  int clockSecond = -1;             // seconds of the day
  std::vector<Unit> units{Unit{}};  // 1..3
  bool lineSpeed = false;           // 19200 baud 8N2: ~573 us per byte both ways
  int unitAckDelayMs = 8;           // the least time before a unit selection is acknowledged
  std::uint32_t seed = 1;
  double callsPerMinute = 0;  // new records arriving while running (from live calls)
  LineStateMode lineStateMode = LineStateMode::Live;
  std::vector<LineGroup> lineGroups;         // Scripted
  std::vector<std::uint8_t> lineStateBytes;  // Payload / Wire
  std::string linkPath;                      // if set, a symlink to the current slave device
  std::string takenLogPath;  // if set, every taken record is appended (flushed per line)
  Faults faults;
};

// Seconds per PBX time unit for the scenario (byte 13, 0 meaning 6).
int timeStepSeconds(const Scenario& scenario);
// The model text the host derives from the identification ("QTR160", "DL256", "3xB", ...).
std::string modelText(const Scenario& scenario);

// Deterministic random call records for the scenario's model family: recent dates, times,
// durations from seconds to hours (occasionally over 24 h), hardware numbers of 1 to 4
// digits, programmed numbers of 2..4 digits or none, trunks of the family (QTR index from 1;
// DL40/DL72 index; DL256 module in bits 7-6 and index 1..24), dialed numbers with * and #,
// incoming calls without digits, the occasional empty slot and implausible year.
std::vector<Record> generateRecords(const Scenario& scenario, int count, std::uint32_t seed);

// Record files: one record per line, hex bytes separated by spaces ("1F 2A 00 ...").
// A line may start with "@<unit> " to place the record in unit 1 or 2 (unit 0 otherwise).
// Blank lines and lines starting with '#' are ignored.
struct UnitRecord {
  int unit = 0;
  Record record;
  bool operator==(const UnitRecord&) const = default;
};
// Throws std::runtime_error naming the line when the file cannot be read or a line is bad.
std::vector<UnitRecord> loadRecordFile(const std::string& path);
std::vector<UnitRecord> parseRecordText(std::string_view text);
// One line in the record-file format (with "@<unit> " only for units other than 0).
std::string recordLine(const UnitRecord& r);
void writeRecordFile(const std::string& path, const std::vector<UnitRecord>& records);

// ---------------------------------------------------------------------------------------
// Simulator
// ---------------------------------------------------------------------------------------

struct Counters {
  long probes = 0;               // 0x00
  long identifications = 0;      // 0x01
  long unitSelections = 0;       // 0x84 requests with a valid checksum
  long statusRequests = 0;       // 0x40 0x03
  long firstRecordRequests = 0;  // 0x02
  long nextRecordRequests = 0;   // 0x03
  long lineStateRequests = 0;    // 0xF0 requests with a valid checksum
  long requests = 0;             // all of the above except probes
  long ignoredBytes = 0;         // bytes that started or broke no known request
  long recordsLost = 0;          // live records dropped because the unit was full
  long inputFaults = 0;          // faults applied to received bytes: the three below
  long inputDropped = 0;         // received bytes lost
  long inputReplaced = 0;        // received bytes taken as another byte
  long inputInserted = 0;        // extra bytes taken before a received byte
};

// Thread-safe: every member may be called from any thread while the simulator runs.
class Simulator {
 public:
  explicit Simulator(Scenario scenario);
  ~Simulator();  // stops
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Opens a pseudo-terminal pair (slave in raw mode), starts the answering thread and
  // returns the device path (the symlink when `linkPath` is set, else the slave path).
  // Throws std::runtime_error when the pseudo-terminal cannot be made.
  std::string start();
  void stop();
  std::string devicePath() const;  // symlink or slave path; empty before start
  std::string slavePath() const;   // the current slave device

  // Closes the master side: the host's port sees a hang-up. comeBack opens a new pair and
  // points the symlink (if any) at it; returns the new device path.
  void hangUp();
  std::string comeBack();
  bool isHungUp() const;

  // Records
  void addRecord(const Record& record, int unit = 0);
  std::vector<Record> takenRecords() const;          // all units, in the order taken
  std::vector<Record> takenRecords(int unit) const;  // one unit
  std::vector<UnitRecord> takenWithUnits() const;
  std::vector<Record> sentRecords() const;             // every record reply with data, in order
  std::vector<Record> pendingRecords(int unit) const;  // still in the buffer
  // Waits until at least n records were taken; false on time-out.
  bool waitForTaken(std::size_t n, std::chrono::milliseconds timeout) const;

  // Counters and state
  Counters counters() const;
  int selectedUnit() const;
  // Replaces the faults; a one-shot byte fault may fire again, and a targeted input fault
  // counts its matching bytes from here.
  void setFaults(const Faults& faults);
  Faults faults() const;
  void setClock(int day, int secondOfDay);
  // The PBX clock now, as {day number, second of day}.
  std::pair<int, int> clock() const;

  // Line states
  void setLineStateLive();
  void setLineStateGroups(std::vector<LineGroup> groups);
  void setLineStatePayload(std::vector<std::uint8_t> unmaskedData);
  void setLineStateWire(std::vector<std::uint8_t> wireBytes);
  // The live picture as it stands now (what a query would answer in Live mode).
  std::vector<LineGroup> livePicture() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace pbxsim
