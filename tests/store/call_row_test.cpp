#include "store/call_row.h"

#include <gtest/gtest.h>

#include "files/call_record_line.h"
#include "files/text_codec.h"
#include "support/call_records.h"

namespace kordel::store {
namespace {

std::string line(int hw, const std::string& prg, const std::string& trunk,
                 const std::string& dialed, int markGroup = -1) {
  CallRecord r = test::makeRecord(hw, prg, trunk, dialed, 0, 1, 5);
  if (markGroup >= 0) r.validity[static_cast<std::size_t>(markGroup * 3 + 1)] = -1;
  return formatCallRecordLine(r);
}

TEST(CallRow, TakesTheFieldsApartAsTheAnalysisDoes) {
  struct Case {
    std::string line;
    std::string hardware, programmed, trunk, dialed;
    bool date, time, duration, number;
  };
  const Case cases[] = {
      {line(123, "201", "7", "567"), "123", "201", "7", "567", false, false, false, false},
      {line(123, "-1", "7", ""), "123", "", "7", "", false, false, false, false},
      {line(45, "2", "", "8495*23"), "45", "2", "", "8495*23", false, false, false, true},
      {line(123, "201", "12", "5", 0), "123", "201", "12", "5", true, false, false, false},
      {line(123, "201", "12", "5", 1), "123", "201", "12", "5", false, true, false, false},
      {line(1234, "20", "3", "9 12", 2), "1234", "20", "3", "912", false, false, true, false},
      {line(123, "201", ru("Б2"), "5"), "123", "201", "Б2", "5", false, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    ASSERT_TRUE(storesLine(c.line));
    const CallRow row = makeCallRow(c.line);
    ASSERT_TRUE(row.parsed) << row.parseError;
    EXPECT_EQ(row.line, c.line);
    EXPECT_EQ(row.start, "2004-03-05 09:07:03");
    EXPECT_EQ(row.duration, 65);
    EXPECT_EQ(row.hardware, c.hardware);
    EXPECT_EQ(row.programmed, c.programmed);
    EXPECT_EQ(row.trunk, c.trunk);  // UTF-8
    EXPECT_EQ(row.dialed, c.dialed);
    EXPECT_EQ(row.markedDate, c.date);
    EXPECT_EQ(row.markedTime, c.time);
    EXPECT_EQ(row.markedDuration, c.duration);
    EXPECT_EQ(row.markedNumber, c.number);
    EXPECT_FALSE(row.unit.has_value());
  }
}

TEST(CallRow, TitleAndShortLinesAreNotStoredAndBadLinesKeepTheirReason) {
  EXPECT_FALSE(storesLine(headerLine(PbxClock{2024, 3, 1, 9, 0, 0})));
  EXPECT_FALSE(storesLine(columnTitleLine()));
  EXPECT_FALSE(storesLine(""));
  EXPECT_FALSE(storesLine(line(123, "201", "7", "567").substr(0, 46)));
  EXPECT_TRUE(storesLine(line(123, "201", "7", "567").substr(0, 47)));

  std::string badDate = line(123, "201", "7", "567");
  badDate.replace(0, 2, "31");
  badDate.replace(3, 2, "02");
  std::string noBracket = line(123, "201", "7", "567");
  noBracket.replace(noBracket.find(')'), 1, " ");
  for (const auto& [text, reason] : {std::pair{badDate, "неверная дата"},
                                     std::pair{noBracket, "нет \")\" после программного номера"}}) {
    const CallRow row = makeCallRow(text);
    EXPECT_FALSE(row.parsed);
    EXPECT_EQ(row.parseError, reason);
    EXPECT_EQ(row.line, text);
  }
}

TEST(CallRow, TheFingerprintSeesOtherBytesAndAnotherOffset) {
  const std::uint64_t base = fingerprint(100, "head", "tail");
  EXPECT_EQ(base, fingerprint(100, "head", "tail"));
  EXPECT_NE(base, fingerprint(101, "head", "tail"));
  EXPECT_NE(base, fingerprint(100, "heaD", "tail"));
  EXPECT_NE(base, fingerprint(100, "head", "tai1"));
}

}  // namespace
}  // namespace kordel::store
