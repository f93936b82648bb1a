// Record building, generation and record files of the simulator.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "pbxsim.h"

namespace pbxsim {
namespace {

TEST(PbxsimRecords, DayNumbersFollowTheCalendar) {
  struct Case {
    int y, m, d, expected;
  } cases[] = {{1980, 1, 1, 0},    {1980, 2, 29, 59},  {1981, 1, 1, 366},    {1984, 2, 29, 1520},
               {1984, 3, 1, 1521}, {2000, 3, 1, 7365}, {2024, 12, 31, 16436}};
  for (const auto& c : cases)
    EXPECT_EQ(dayNumber(c.y, c.m, c.d), c.expected) << c.y << "-" << c.m << "-" << c.d;
}

TEST(PbxsimRecords, DigitsPackIntoNibbles) {
  EXPECT_EQ(packDialed("803"), (std::vector<std::uint8_t>{0x8A, 0x30}));
  EXPECT_EQ(packDialed("*#"), (std::vector<std::uint8_t>{0xBC}));
  EXPECT_EQ(packDialed("PAT1"), (std::vector<std::uint8_t>{0xDE, 0xF1}));
  EXPECT_TRUE(packDialed("").empty());
  // Programmed numbers: {byte 8, byte 9}, byte 9 holding the leading digits.
  EXPECT_EQ(packProgrammed("245"), (std::vector<std::uint8_t>{0x45, 0x02}));
  EXPECT_EQ(packProgrammed("1034"), (std::vector<std::uint8_t>{0x34, 0x1A}));
  EXPECT_EQ(packProgrammed(""), (std::vector<std::uint8_t>{0x00, 0x00}));
  EXPECT_THROW(packDialed("12x"), std::invalid_argument);
  EXPECT_THROW(packProgrammed("12345"), std::invalid_argument);
  EXPECT_THROW(packProgrammed("1*"), std::invalid_argument);
}

TEST(PbxsimRecords, MakeRecordLaysOutTheFields) {
  CallFields f;
  f.year = 1984;
  f.month = 3;
  f.day = 1;
  f.hour = 1;
  f.minute = 0;
  f.second = 6;
  f.durationSeconds = 25 * 3600;
  f.hardwareNumber = 0x1234;
  f.programmed = "245";
  f.trunk = 0x45;
  f.dialed = "803";
  const Record r = makeRecord(f, 6);
  const std::vector<std::uint8_t> expected = {0xF1, 0x05,  // day 1521
                                              0x59, 0x02,  // 3606 s / 6 = 601 units
                                              0x98, 0x3A,  // 90000 s / 6 = 15000 units
                                              0x34, 0x12, 0x45, 0x02, 0x45, 0x8A, 0x30};
  EXPECT_EQ(r.bytes, expected);

  f.dialed.clear();
  EXPECT_EQ(makeRecord(f, 6).bytes.size(), 11u) << "an incoming call has no digit bytes";
  // A time step of one second and a duration beyond the word are clamped, not wrapped.
  f.durationSeconds = 100000;
  const Record one = makeRecord(f, 1);
  EXPECT_EQ(one.bytes[4], 0xFF);
  EXPECT_EQ(one.bytes[5], 0xFF);
}

TEST(PbxsimRecords, EmptySlotPattern) {
  const Record e = Record::emptySlot();
  ASSERT_EQ(e.bytes.size(), 11u);
  EXPECT_EQ(e.bytes[0], 0x0F);
  EXPECT_EQ(e.bytes[1], 0xFF);
  EXPECT_TRUE(e.isEmptySlot());
  EXPECT_FALSE(makeRecord(CallFields{}).isEmptySlot());
}

TEST(PbxsimRecords, HexTextRoundTripAndRejectsBadText) {
  const Record r{{0x00, 0x0F, 0xFF, 0xA5}};
  EXPECT_EQ(r.toHex(), "00 0F FF A5");
  EXPECT_EQ(Record::fromHex("00 0f FF a5"), r);
  for (const char* bad : {"", "0", "0G", "001", "00 1", "zz"})
    EXPECT_FALSE(Record::fromHex(bad).has_value()) << bad;
  std::string long256;
  for (int i = 0; i < 256; ++i) long256 += "01 ";
  EXPECT_FALSE(Record::fromHex(long256).has_value());
}

TEST(PbxsimRecords, GenerationIsDeterministicPerSeed) {
  Scenario sc;
  const auto a = generateRecords(sc, 200, 7);
  const auto b = generateRecords(sc, 200, 7);
  const auto c = generateRecords(sc, 200, 8);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
}

TEST(PbxsimRecords, GeneratedRecordsCoverTheVariety) {
  struct Case {
    int modelCode;
    const char* name;
  } cases[] = {{4, ""}, {6, ""}, {7, ""}, {8, ""}, {5, ""}, {2, "3xB"}, {3, ""}};
  for (const auto& cs : cases) {
    Scenario sc;
    sc.modelCode = cs.modelCode;
    sc.modelName = cs.name;
    const auto recs = generateRecords(sc, 1000, 3);
    const std::string model = modelText(sc);
    int empty = 0, incoming = 0, oldYear = 0, future = 0, longCall = 0, stars = 0;
    std::set<std::uint8_t> modules;
    for (const auto& r : recs) {
      ASSERT_GE(r.bytes.size(), 11u);
      ASSERT_LE(r.bytes.size(), 255u);
      if (r.isEmptySlot()) {
        ++empty;
        continue;
      }
      if (r.bytes.size() == 11) ++incoming;
      const int day = r.bytes[0] | r.bytes[1] << 8;
      if (day < dayNumber(2000, 1, 1)) ++oldYear;
      if (day > dayNumber(2030, 1, 1)) ++future;
      const int dur = (r.bytes[4] | r.bytes[5] << 8) * 6;
      if (dur > 24 * 3600) ++longCall;
      for (std::size_t i = 11; i < r.bytes.size(); ++i)
        if ((r.bytes[i] >> 4) == 0xB || (r.bytes[i] & 0xF) == 0xC) ++stars;
      const std::uint8_t t = r.bytes[10];
      if (model.starts_with("QTR")) {
        EXPECT_GE(t, 1);
        EXPECT_LE(t, 16);
      } else if (model == "DL256" || model == "3xB") {
        EXPECT_GE(t & 63, 1);
        EXPECT_LE(t & 63, 24);
        EXPECT_LE(t >> 6, 2);
        modules.insert(static_cast<std::uint8_t>(t >> 6));
      }
    }
    EXPECT_GT(empty, 0) << model;
    EXPECT_GT(incoming, 100) << model;
    EXPECT_GT(oldYear, 0) << model;
    EXPECT_GT(future, 0) << model;
    EXPECT_GT(longCall, 0) << model;
    EXPECT_GT(stars, 0) << model;
    if (model == "DL256") {
      EXPECT_EQ(modules.size(), 3u);
    }
  }
}

TEST(PbxsimRecords, ModelTextAsTheHostDerivesIt) {
  struct Case {
    int code;
    const char* name;
    const char* expected;
  } cases[] = {{3, "", "C"},
               {4, "", "QTR160"},
               {5, "", "DL256"},
               {6, "", "QTR400-1"},
               {7, "", "DL40"},
               {8, "", "DL72"},
               {2, "3xB", "3xB"},
               {2, "2yBzzzz", "2yB"},
               {2, "DL256xx", "DL256"},
               {2, "OTHER", "OTHER"},
               {9, "", ""}};
  for (const auto& c : cases) {
    Scenario sc;
    sc.modelCode = c.code;
    sc.modelName = c.name;
    EXPECT_EQ(modelText(sc), c.expected) << c.code << " " << c.name;
  }
}

class PbxsimRecordFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("pbxsim_rf_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::filesystem::path dir_;
};

TEST_F(PbxsimRecordFile, WriteThenLoadGivesTheSameRecords) {
  Scenario sc;
  std::vector<UnitRecord> recs;
  int i = 0;
  for (auto& r : generateRecords(sc, 50, 11)) recs.push_back({i++ % 3, r});
  const auto path = (dir_ / "records.txt").string();
  writeRecordFile(path, recs);
  EXPECT_EQ(loadRecordFile(path), recs);
}

TEST_F(PbxsimRecordFile, CommentsBlankLinesAndCrLfAreAccepted) {
  const auto got = parseRecordText("# records\r\n\r\n01 02 03\r\n  @2 0F FF 00\r\n");
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], (UnitRecord{0, Record{{1, 2, 3}}}));
  EXPECT_EQ(got[1], (UnitRecord{2, Record{{0x0F, 0xFF, 0}}}));
}

TEST_F(PbxsimRecordFile, BadLinesAndMissingFilesThrow) {
  EXPECT_THROW(parseRecordText("01 02\n0X\n"), std::runtime_error);
  EXPECT_THROW(parseRecordText("@5 01\n"), std::runtime_error);
  EXPECT_THROW(loadRecordFile((dir_ / "missing.txt").string()), std::runtime_error);
}

}  // namespace
}  // namespace pbxsim
