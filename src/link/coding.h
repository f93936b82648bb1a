// PBX link: byte-level helpers shared by identification, record decoding and the line-state
// query: 16-bit words, the PBX calendar, the additive checksum and the number rules of each
// model family. Pure functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace kordel {

// The computer's local time of `t` (localtime_r, or localtime_s on Windows).
std::tm localTime(std::time_t t);

// A date and time as the PBX counts it (seconds since 1 January 1980, no century rule).
struct PbxClock {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  bool operator==(const PbxClock&) const = default;
};

// lo + 256 * hi.
constexpr int word16(std::uint8_t lo, std::uint8_t hi) { return lo + 256 * hi; }

// Seconds since 1980-01-01 00:00:00 to a calendar date and time; exact from 1980 to 2099.
PbxClock secondsToDateTime(std::uint32_t s);

// The sum modulo 256 of the bytes as they travel on the wire.
std::uint8_t checksum(const std::uint8_t* bytes, std::size_t count);

// Trunk number of index i in the family named by `family` (a model text, tested by substring):
// "QTR" 2i+200; "DL40" 2i+6(i/2)+200; "DL256" i&63 when 1..24 else -1; otherwise -1.
int trunkNumber(std::string_view family, int i);
// Line number of index i: "QTR" i+200; "DL40"/"DL72" 10(i/8)+(i%8)+200; "B"/"DL256" i+1;
// otherwise -1.
int lineNumber(std::string_view family, int i);

}  // namespace kordel
