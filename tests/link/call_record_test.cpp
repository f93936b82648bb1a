// Decoding of call records: packed digits, the trunk texts of each family, the date and
// duration arithmetic and the validity markers.
#include "link/call_record.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace kordel {
namespace {

using Reply = std::array<std::uint8_t, 255>;

Reply replyOf(std::initializer_list<std::uint8_t> bytes) {
  Reply r{};
  std::size_t i = 0;
  for (const auto b : bytes) r[i++] = b;
  return r;
}

struct DigitsCase {
  std::vector<std::uint8_t> bytes;
  bool programmed;
  std::string expected;
};

TEST(NibbleDigits, DecodesPackedDigits) {
  const std::vector<DigitsCase> cases = {
      {{0x8A, 0x30}, false, "803"},
      {{0xBC}, false, "*#"},
      {{0xDE, 0xF1}, false, "PAT1"},
      {{0xA0, 0x0A}, false, "00"},  // zero nibbles are filler, A is the digit 0
      {{0x12, 0x34, 0x56, 0x78, 0x9A}, false, "1234567890"},
      {{0x45, 0x02}, true, "245"},  // the second byte holds the leading digits
      {{0xBC, 0x0A}, true, "0BC"},  // letters stay letters in the programmed form
      {{0x12}, true, "12"},
      {{}, false, ""},
      {{0x00, 0x00}, false, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(nibbleDigits(c.bytes.data(), static_cast<int>(c.bytes.size()), c.programmed),
              c.expected)
        << "case " << c.expected;
  }
}

TEST(IsAcceptable, RefusesOnlyTheEmptySlotPattern) {
  EXPECT_FALSE(isAcceptable(replyOf({0x0F, 0xFF}).data()));
  EXPECT_TRUE(isAcceptable(replyOf({0xFF, 0x0F}).data()));
  EXPECT_TRUE(isAcceptable(replyOf({0x0F, 0xFE}).data()));
  EXPECT_TRUE(isAcceptable(replyOf({0x00, 0x00}).data()));
}

// 5 March 2004 is day 8830 (0x227E); 09:07:06 is 5471 units of 6 s (0x155F).
Reply sampleReply(std::uint8_t trunkByte) {
  return replyOf(
      {0x7E, 0x22, 0x5F, 0x15, 0x58, 0x02, 0x23, 0x01, 0x45, 0x02, trunkByte, 0x8A, 0x30});
}

struct TrunkCase {
  const char* model;
  bool isComplex;
  std::uint8_t trunkByte;
  const char* expected;
};

TEST(DecodeRecord, TrunkTextFollowsTheModel) {
  const std::vector<TrunkCase> cases = {
      {"QTR160", false, 1, "200"},
      {"QTR400-1", false, 0, "198"},
      {"QTR160", false, 5, "208"},
      {"DL40", false, 6, "222"},
      {"DL72", false, 1, "200"},
      {"DL72", false, 4, "212"},
      {"DL256", false, 0x45, "(3)05"},
      {"DL256", false, 0x05, "(2)05"},
      {"DL256", false, 0xD8, "(5)24"},
      {"DL256", false, 0x00, "(2)-1"},
      {"DL256", false, 0x59, "(3)-1"},
      {"DL256", false, 0x0C, "(2)12"},
      {"B", false, 0x45, "(3)05"},
      {"3xB", true, 0x81, "(4)01"},
      {"C", false, 5, ""},
      {"2xZ", false, 5, ""},
  };
  for (const auto& c : cases) {
    const Reply r = sampleReply(c.trunkByte);
    const CallRecord rec = decodeRecord(r.data(), 13, {c.model, c.isComplex, 6, 2024});
    EXPECT_EQ(rec.trunk, c.expected) << c.model << " byte " << int{c.trunkByte};
  }
}

TEST(DecodeRecord, DecodesEveryField) {
  const Reply r = sampleReply(1);
  const CallRecord rec = decodeRecord(r.data(), 13, {"QTR160", false, 6, 2024});
  CallRecord expected;
  expected.year = 2004;
  expected.month = 3;
  expected.day = 5;
  expected.hour = 9;
  expected.minute = 7;
  expected.second = 6;
  expected.durationHours = 1;  // 600 units of 6 s
  expected.durationMinutes = 0;
  expected.durationSeconds = 0;
  expected.hardwareNumber = 0x0123;
  expected.programmedNumber = "1245";
  expected.trunk = "200";
  expected.dialedNumber = "803";
  EXPECT_EQ(rec, expected);
}

struct ShapeCase {
  const char* name;
  Reply reply;
  int length;
  int timeStep;
  CallRecord expected;
};

CallRecord recordOf(int y, int mo, int d, int h, int mi, int s, int dh, int dm, int ds, int hw,
                    const char* prog, const char* trunk, const char* dialed,
                    std::array<int, 9> validity = {}) {
  CallRecord r;
  r.year = y, r.month = mo, r.day = d, r.hour = h, r.minute = mi, r.second = s;
  r.durationHours = dh, r.durationMinutes = dm, r.durationSeconds = ds;
  r.hardwareNumber = hw;
  r.programmedNumber = prog;
  r.trunk = trunk;
  r.dialedNumber = dialed;
  r.validity = validity;
  return r;
}

TEST(DecodeRecord, RecordShapes) {
  const std::array<int, 9> badYear = {-1, 0, 0, 0, 0, 0, 0, 0, 0};
  const std::vector<ShapeCase> cases = {
      {"eleven bytes: no dialed number", replyOf({0x7E, 0x22, 0, 0, 10, 0, 7, 0, 0, 0, 2}), 11, 6,
       recordOf(2004, 3, 5, 0, 0, 0, 0, 1, 0, 7, "-1", "202", "")},
      {"bytes past the length are not digits",
       replyOf({0x7E, 0x22, 0, 0, 0, 0, 7, 0, 0, 0, 2, 0xBC, 0x99}), 12, 6,
       recordOf(2004, 3, 5, 0, 0, 0, 0, 0, 0, 7, "-1", "202", "*#")},
      {"day 0 and time 0: 1980 is out of range", replyOf({0, 0, 0, 0, 0, 0, 1, 0, 0x07, 0x00, 1}),
       11, 6, recordOf(1980, 1, 1, 0, 0, 0, 0, 0, 0, 1, "17", "200", "", badYear)},
      {"a duration of 25 hours keeps only 1 hour",
       replyOf({0x7E, 0x22, 0, 0, 0x98, 0x3A, 0, 0, 0, 0, 1}), 11, 6,
       recordOf(2004, 3, 5, 0, 0, 0, 1, 0, 0, 0, "-1", "200", "")},
      {"a time of day past midnight moves the date on",
       replyOf({0, 0, 0x98, 0x3A, 0, 0, 0, 0, 0, 0, 1}), 11, 6,
       recordOf(1980, 1, 2, 1, 0, 0, 0, 0, 0, 0, "-1", "200", "", badYear)},
      {"a time step of one second", replyOf({0x7E, 0x22, 0x37, 0x80, 0x41, 0, 0, 0, 0, 0, 1}), 11,
       1, recordOf(2004, 3, 5, 9, 7, 3, 0, 1, 5, 0, "-1", "200", "")},
      {"a long dialed number",
       replyOf({0x7E, 0x22, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0x81, 0x2A, 0x98, 0x76, 0x54, 0x32, 0x1B}),
       18, 6, recordOf(2004, 3, 5, 0, 0, 0, 0, 0, 0, 0, "-1", "200", "8120987654321*")},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(decodeRecord(c.reply.data(), c.length, {"QTR160", false, c.timeStep, 2024}),
              c.expected)
        << c.name;
  }
}

TEST(DecodeRecord, FullLengthReplyStaysInsideTheBuffer) {
  Reply r{};
  r.fill(0x11);
  const CallRecord rec = decodeRecord(r.data(), 255, {"QTR160", false, 6, 2024});
  EXPECT_EQ(rec.dialedNumber, std::string(2 * (255 - 11), '1'));
}

TEST(ValidateRecord, MarksOutOfRangeFields) {
  CallRecord good = recordOf(2004, 3, 5, 9, 7, 3, 0, 1, 5, 0, "-1", "", "");
  validateRecord(good, 2024);
  EXPECT_EQ(good.validity, (std::array<int, 9>{}));

  struct Case {
    const char* name;
    CallRecord record;
    int currentYear;
    std::array<int, 9> expected;
  };
  const std::vector<Case> cases = {
      {"year before 2000",
       recordOf(1999, 12, 31, 0, 0, 0, 0, 0, 0, 0, "", "", ""),
       2024,
       {-1, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"year in the future",
       recordOf(2025, 1, 1, 0, 0, 0, 0, 0, 0, 0, "", "", ""),
       2024,
       {-1, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"the current year",
       recordOf(2024, 1, 1, 0, 0, 0, 0, 0, 0, 0, "", "", ""),
       2024,
       {0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"month, day, minute, second",
       recordOf(2004, 13, 0, -1, 60, 60, 0, 0, 0, 0, "", "", ""),
       2024,
       {0, -1, -1, -1, -1, -1, 0, 0, 0}},
      {"month 0, day 32",
       recordOf(2004, 0, 32, 0, -1, -1, 0, 0, 0, 0, "", "", ""),
       2024,
       {0, -1, -1, 0, -1, -1, 0, 0, 0}},
      {"bad duration hours hide the rest",
       recordOf(2004, 1, 1, 0, 0, 0, -1, 99, 99, 0, "", "", ""),
       2024,
       {0, 0, 0, 0, 0, 0, -1, 0, 0}},
      {"bad duration minutes hide the seconds",
       recordOf(2004, 1, 1, 0, 0, 0, 0, 60, 99, 0, "", "", ""),
       2024,
       {0, 0, 0, 0, 0, 0, 0, -1, 0}},
      {"bad duration seconds",
       recordOf(2004, 1, 1, 0, 0, 0, 0, 59, -1, 0, "", "", ""),
       2024,
       {0, 0, 0, 0, 0, 0, 0, 0, -1}},
  };
  for (auto c : cases) {
    c.record.validity.fill(7);  // every marker is set afresh
    validateRecord(c.record, c.currentYear);
    EXPECT_EQ(c.record.validity, c.expected) << c.name;
  }
}

TEST(CurrentCalendarYear, IsPlausible) {
  const int year = currentCalendarYear();
  EXPECT_GE(year, 2024);
  EXPECT_LE(year, 2200);
}

}  // namespace
}  // namespace kordel
