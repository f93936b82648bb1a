// Report builder: the calls parsed back from a data file and the per-line and per-trunk traffic
// derived from them.
//
// The report builder reads data files (call-record lines and title lines, Windows-1251) and turns
// them into tables of calls, subscriber-line traffic ("АЛ") and trunk traffic ("СЛ"); it sorts
// and selects them and writes them as text reports. ReportBook (report_book.h) is the model that
// the report window and kordel-cli share. May use: the standard library and src/files.
// Never Qt.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <ostream>
#include <string>
#include <string_view>

#include "files/call_record_layout.h"

namespace kordel::report {

// A date-time as the desktop toolkits keep it: days since 30 December 1899, the time of day as
// the fraction. Days before that date are negative and carry the time as a positive fraction
// that is subtracted (-1.25 is 29 December 1899, 06:00).
using DateTime = double;

struct DateTimeParts {
  int year = 0, month = 0, day = 0;
  int hour = 0, minute = 0, second = 0;
};

// Valid dates are years 1..9999 with their real month lengths; times 0..23:59:59.
bool isValidDate(int year, int month, int day);
bool isValidTime(int hour, int minute, int second);
// REQUIRES: a valid date and time.
DateTime encodeDateTime(int year, int month, int day, int hour, int minute, int second);
// The parts of a date-time, rounded to the second.
DateTimeParts decodeDateTime(DateTime value);

// A text of a parsed call. Up to 15 bytes are kept inside the object, a longer text on the
// heap: every text of the lines the program writes, but for a dialed number of more than 15
// characters, stays inside, so a million calls cost no million heap blocks.
class CallText {
 public:
  CallText() { setInline(0); }
  CallText(std::string_view text) { init(text); }  // NOLINT: a text converts
  CallText(const CallText& other) { init(other.view()); }
  CallText(CallText&& other) noexcept {
    std::memcpy(bytes_, other.bytes_, sizeof bytes_);
    other.setInline(0);
  }
  CallText& operator=(const CallText& other) {
    if (this != &other) assign(other.view());
    return *this;
  }
  CallText& operator=(CallText&& other) noexcept {
    if (this != &other) {
      release();
      std::memcpy(bytes_, other.bytes_, sizeof bytes_);
      other.setInline(0);
    }
    return *this;
  }
  CallText& operator=(std::string_view text) {
    assign(text);
    return *this;
  }
  ~CallText() { release(); }

  void assign(std::string_view text) {
    release();
    init(text);
  }
  void clear() {
    release();
    setInline(0);
  }
  const char* data() const {
    return onHeap() ? heapPointer() : reinterpret_cast<const char*>(bytes_);
  }
  std::size_t size() const { return onHeap() ? heapSize() : bytes_[kTag]; }
  bool empty() const { return size() == 0; }
  std::string_view view() const { return std::string_view(data(), size()); }
  operator std::string_view() const { return view(); }  // NOLINT: reads as a text

  friend bool operator==(const CallText& a, const CallText& b) { return a.view() == b.view(); }
  friend bool operator==(const CallText& a, std::string_view b) { return a.view() == b; }
  friend std::ostream& operator<<(std::ostream& out, const CallText& text) {
    return out << text.view();
  }

 private:
  // bytes_[kTag] is the length of an inline text, or kOnHeap; a heap text keeps its pointer in
  // bytes 0..7 and its length in bytes 8..11.
  static constexpr std::size_t kInline = 15;
  static constexpr std::size_t kTag = 15;
  static constexpr unsigned char kOnHeap = 0xFF;

  bool onHeap() const { return bytes_[kTag] == kOnHeap; }
  char* heapPointer() const {
    char* p = nullptr;
    std::memcpy(&p, bytes_, sizeof p);
    return p;
  }
  std::size_t heapSize() const {
    std::uint32_t n = 0;
    std::memcpy(&n, bytes_ + 8, sizeof n);
    return n;
  }
  void setInline(std::size_t n) { bytes_[kTag] = static_cast<unsigned char>(n); }
  void init(std::string_view text) {
    if (text.size() <= kInline) {
      if (!text.empty()) std::memcpy(bytes_, text.data(), text.size());
      setInline(text.size());
      return;
    }
    // Longer than any call-record field can sensibly be: cut at 4 GiB rather than wrap.
    const auto n = static_cast<std::uint32_t>(
        std::min<std::size_t>(text.size(), std::numeric_limits<std::uint32_t>::max()));
    char* p = new char[n];
    std::memcpy(p, text.data(), n);
    std::memcpy(bytes_, &p, sizeof p);
    std::memcpy(bytes_ + 8, &n, sizeof n);
    bytes_[kTag] = kOnHeap;
  }
  void release() {
    if (onHeap()) delete[] heapPointer();
  }

  alignas(8) unsigned char bytes_[16];
};

// One call parsed back from a call-record line.
struct ReportCall {
  DateTime start = 0;     // start date and time; milliseconds always 0
  DateTime duration = 0;  // the duration as a time of day on 1 January 1900
  std::uint16_t durHours = 0;
  std::uint16_t durMinutes = 0;
  std::uint16_t durSeconds = 0;
  std::int32_t durationSec = 0;  // durHours * 3600 + durMinutes * 60 + durSeconds
  CallText hwNumber;             // hardware number of the subscriber line, as written
  CallText prgNumber;            // programmed number; empty when the line carries none
  CallText trunkText;            // trunk number; empty when the PBX gave none
  CallText extNumber;            // external (dialed) number; empty for an incoming call
};

// Lines of this length or shorter, empty lines and lines that begin with a space (the title
// lines) carry no call (call_line::carriesCall).
inline constexpr std::size_t kMaxSkippedLineLength = call_line::kMinCallLineLength - 1;
bool carriesCall(std::string_view line);

// Parses one call-record line (one that carriesCall). Returns true and fills `call`, or returns
// false and sets `error` (Windows-1251) when a number does not convert, the date or time is
// impossible, or a bracket is missing.
//
// The columns are those of files/call_record_layout.h (call_line::splitCallLine); the
// programmed and the external number keep their characters other than spaces.
bool parseCallLine(std::string_view line, ReportCall& call, std::string& error);

// The signed 32-bit conversion of the report's number keys: optional leading spaces, an
// optional sign and decimal digits. Returns false when the text is not such a number.
bool toInt32(std::string_view text, std::int32_t& value);

// Seconds counters are kept in 64 bits: a million long calls overflow 32 bits.
using Seconds = std::int64_t;

// The incoming, outgoing and total traffic of one line. The hours-minutes-seconds triples
// feed the traffic columns, the seconds counters the total column and the traffic sorts; both
// always describe the same amounts.
struct Traffic {
  std::int64_t inHours = 0;
  std::uint32_t inMinutes = 0;  // 0..59 after every update
  std::uint32_t inSeconds = 0;  // 0..59 after every update
  std::int64_t outHours = 0;
  std::uint32_t outMinutes = 0;
  std::uint32_t outSeconds = 0;
  Seconds totalSec = 0;
  Seconds inSec = 0;
  Seconds outSec = 0;

  // inMinutes := m, carrying whole hours into inHours.
  void setInMinutes(std::uint32_t m);
  // inSeconds := s, carrying whole minutes through setInMinutes.
  void setInSeconds(std::uint32_t s);
  void setOutMinutes(std::uint32_t m);
  void setOutSeconds(std::uint32_t s);
  // Adds one call: incoming when it has no external number, outgoing otherwise.
  void addCall(const ReportCall& call);
  // Adds the traffic of another entry; the triples stay normalised, so the result is the same
  // as adding that entry's calls one by one.
  void add(const Traffic& other);
};

// The traffic of one subscriber line ("АЛ").
struct LineTraffic : Traffic {
  std::string hwNumber;   // the key
  std::string prgNumber;  // the programmed number of the first call seen on this line
};

// The traffic of one trunk line ("СЛ"), keyed by the trunk number.
struct TrunkTraffic : Traffic {
  std::string trunkText;  // the key
};

// "h:mm:ss" with every part shorter than two digits given a leading 0; hours are not limited
// (100 hours read "100:00:00").
std::string formatTraffic(std::int64_t hours, std::int64_t minutes, std::int64_t seconds);
// The total column: totalSec as hours, minutes and seconds.
std::string formatSeconds(Seconds total);

// Case-insensitive byte-wise comparison of Windows-1251 texts (Latin and Cyrillic letters fold
// to lower case); a text that is a prefix of the other comes first. <0, 0 or >0.
int compareTextNoCase(std::string_view a, std::string_view b);

}  // namespace kordel::report
