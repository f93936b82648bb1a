// The byte helpers: words, the PBX calendar, the checksum and the number rules per family.
#include "link/coding.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace kordel {
namespace {

TEST(Word16, IsLittleEndian) {
  EXPECT_EQ(word16(0, 0), 0);
  EXPECT_EQ(word16(0x39, 0x30), 12345);
  EXPECT_EQ(word16(0xFF, 0xFF), 65535);
  EXPECT_EQ(word16(0x00, 0x01), 256);
}

struct CalendarCase {
  std::uint32_t seconds;
  PbxClock expected;
};

TEST(SecondsToDateTime, FollowsThePbxCalendar) {
  constexpr std::uint32_t kDay = 86400;
  const std::vector<CalendarCase> cases = {
      {0, {1980, 1, 1, 0, 0, 0}},
      {59 * kDay, {1980, 2, 29, 0, 0, 0}},  // 1980 is a leap year
      {60 * kDay, {1980, 3, 1, 0, 0, 0}},
      {365 * kDay, {1980, 12, 31, 0, 0, 0}},
      {366 * kDay, {1981, 1, 1, 0, 0, 0}},
      {(366 + 58) * kDay, {1981, 2, 28, 0, 0, 0}},
      {(366 + 59) * kDay, {1981, 3, 1, 0, 0, 0}},  // 1981 has no 29 February
      {1460 * kDay, {1983, 12, 31, 0, 0, 0}},
      {1520 * kDay, {1984, 2, 29, 0, 0, 0}},
      {1521 * kDay, {1984, 3, 1, 0, 0, 0}},
      {1520 * kDay + 13 * 3600 + 5 * 60 + 9, {1984, 2, 29, 13, 5, 9}},
      {kDay - 1, {1980, 1, 1, 23, 59, 59}},
      // 2000 is a leap year and so is 2100 for the PBX (no century rule).
      {7364 * kDay, {2000, 2, 29, 0, 0, 0}},
      {43889 * kDay, {2100, 2, 29, 0, 0, 0}},
      {0xFFFFFFFFu, {2116, 2, 6, 6, 28, 15}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(secondsToDateTime(c.seconds), c.expected) << "seconds " << c.seconds;
  }
}

TEST(Checksum, IsTheSumModulo256) {
  const std::uint8_t none[1] = {0};
  EXPECT_EQ(checksum(none, 0), 0);
  const std::uint8_t bytes[] = {0x80, 0x80, 0x05, 0xFF};
  EXPECT_EQ(checksum(bytes, sizeof bytes), 0x04);
}

struct NumberCase {
  const char* family;
  int index;
  int expected;
};

TEST(TrunkNumber, FollowsTheFamilyRules) {
  const std::vector<NumberCase> cases = {
      {"QTR", -1, 198},   {"QTR160", 0, 200},  {"QTR400-1", 3, 206},
      {"DL40", 0, 200},   {"DL40", 1, 202},    {"DL40", 2, 210},
      {"DL40", 3, 212},   {"DL40", 5, 222},    {"DL40", -1, 198},
      {"DL256", 0x45, 5}, {"DL256", 0x40, -1}, {"DL256", 25, -1},
      {"DL256", 24, 24},  {"DL256", 0xD8, 24}, {"DL256", 1, 1},
      {"DL72", 3, -1},  // the caller maps DL72 onto the DL40 rule itself
      {"C", 3, -1},       {"", 0, -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(trunkNumber(c.family, c.index), c.expected) << c.family << " " << c.index;
  }
}

TEST(LineNumber, FollowsTheFamilyRules) {
  const std::vector<NumberCase> cases = {
      {"QTR160", 3, 203}, {"QTR400-1", 0, 200}, {"DL72", 9, 211}, {"DL72", 7, 207},
      {"DL40", 8, 210},   {"DL40", 17, 221},    {"DL256", 0, 1},  {"3xB", 4, 5},
      {"2?B", 0, 1},      {"C", 5, -1},         {"", 5, -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(lineNumber(c.family, c.index), c.expected) << c.family << " " << c.index;
  }
}

}  // namespace
}  // namespace kordel
