// Collection: the alarms an unattended reader raises when calls are in danger.
//
// The program knows the buffer capacity, the records waiting, when the PBX last answered,
// whether the data file takes lines, and the PBX clock. AlarmMonitor turns what the reader
// learns into alarms that are raised once and cleared once: the buffer at 80 % of its
// capacity and again when full (calls are about to be or being overwritten), a PBX that has
// not answered for longer than a set time, a data file that cannot be written, and a PBX
// clock that differs from the computer's. Pure logic: times and clocks come from the caller.
//
// May use: link/ (PbxClock), the standard library.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/coding.h"

namespace kordel {

enum class AlarmKind { kBufferFilling, kBufferFull, kPbxSilent, kDataFile, kClockSkew };

// The alarm's name in messages and for the alarm command: "buffer-filling", "buffer-full",
// "pbx-silent", "data-file", "clock".
const char* alarmName(AlarmKind kind);

struct AlarmThresholds {
  int fillPercent = 80;      // kBufferFilling at this share of the capacity
  int silentMinutes = 15;    // kPbxSilent after the PBX has not answered this long
  int clockSkewMinutes = 5;  // kClockSkew when the clocks differ by more than this
};

struct AlarmEvent {
  AlarmKind kind;
  bool raised;       // false: cleared
  std::string text;  // Windows-1251
  bool operator==(const AlarmEvent&) const = default;
};

class AlarmMonitor {
 public:
  explicit AlarmMonitor(AlarmThresholds thresholds = {}) : thresholds_(thresholds) {}

  // Each returns the alarms raised or cleared by what the reader learned; `nowMs` is a
  // monotonic clock in milliseconds.

  // An identification succeeded: the buffer fill and the PBX clock against the computer's
  // (`computer`, local time), and the PBX answered.
  std::vector<AlarmEvent> identified(int recordsInBuffer, int capacity, const PbxClock& pbx,
                                     const PbxClock& computer, std::uint64_t nowMs);
  // A read went through: the PBX answered.
  std::vector<AlarmEvent> answered(std::uint64_t nowMs);
  // A try failed: the PBX has not answered since it last did.
  std::vector<AlarmEvent> notAnswered(std::uint64_t nowMs);
  // The data file took the lines of a read, or refused one (`fileName`, Windows-1251).
  std::vector<AlarmEvent> dataFileWritten();
  std::vector<AlarmEvent> dataFileFailed(const std::string& fileName);

  bool active(AlarmKind kind) const { return active_[static_cast<int>(kind)]; }
  const AlarmThresholds& thresholds() const { return thresholds_; }

 private:
  void set(AlarmKind kind, bool on, const std::string& text, std::vector<AlarmEvent>& out);

  AlarmThresholds thresholds_;
  bool active_[5] = {};
  std::optional<std::uint64_t> lastAnswerMs_;
};

// The computer's local time now, as the fields of a PBX clock.
PbxClock computerClock();
// Seconds from `a` to `b` (civil dates of the proleptic Gregorian calendar).
long long secondsBetween(const PbxClock& a, const PbxClock& b);

}  // namespace kordel
