// PBX link: one call record as the PBX buffer delivers it, and its decoding.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kordel {

// Positions of the validity markers in CallRecord::validity.
enum ValidityIndex {
  kValidYear, kValidMonth, kValidDay, kValidHour, kValidMinute, kValidSecond,
  kValidDurationHours, kValidDurationMinutes, kValidDurationSeconds,
};
inline constexpr int kPlausible = 0;
inline constexpr int kOutOfRange = -1;

struct CallRecord {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int durationHours = 0;    // 0..23: whole days of a longer call are dropped
  int durationMinutes = 0;
  int durationSeconds = 0;
  int hardwareNumber = 0;
  std::string programmedNumber = "-1";  // "-1" when the record has none
  std::string trunk;                     // decimal, a composite "(m)nn" for DL256, or empty
  std::string dialedNumber;              // empty for a call without dialed digits
  std::array<int, 9> validity{};         // kPlausible or kOutOfRange, see ValidityIndex
  bool operator==(const CallRecord&) const = default;
};

// What decoding needs to know about the PBX it came from.
struct DecodeContext {
  std::string model;      // PbxLink::model
  bool isComplex = false; // PbxLink::isComplex
  int timeStep = 6;       // seconds per PBX time unit
  int currentYear = 0;    // the workstation's calendar year, for the year marker
};

// The PBX marks an empty buffer slot with 0x0F 0xFF in bytes 0 and 1.
bool isAcceptable(const std::uint8_t* reply);

// Decodes L bytes of an unmasked record reply. `reply` must hold 255 bytes (bytes beyond L
// are read as they stand, which is 0 in the cleared reply buffer). L is 1..255.
CallRecord decodeRecord(const std::uint8_t* reply, int length, const DecodeContext& context);

// Sets the nine markers of `record`.
void validateRecord(CallRecord& record, int currentYear);

// Packed digits to text: hex digits, "0" removed, "A" -> "0"; without the programmed flag
// also B..F -> * # P A T. With the programmed flag the first two bytes are swapped.
std::string nibbleDigits(const std::uint8_t* bytes, int count, bool programmed);

// The workstation's current calendar year.
int currentCalendarYear();

}  // namespace kordel
