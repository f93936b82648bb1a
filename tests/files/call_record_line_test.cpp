#include "files/call_record_line.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "files/text_codec.h"
#include "link/pbx_link.h"
#include "support/call_records.h"
#include "support/temp_dir.h"

namespace kordel {
namespace {

// 5 March 2004, 09:07:03, lasting 65 s, from line 123 (programmed 4567) on trunk 12345.
CallRecord baseRecord() { return test::makeRecord(123, "4567", "12345", "0123456789", 0, 1, 5); }

const std::string kBaseLine =
    "05-03-2004 09:07:03   00:01:05   123(4567)   12345     0123456789           ";

struct LineCase {
  const char* name;
  std::function<void(CallRecord&)> change;
  std::string expected;
};

class CallRecordLineTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(CallRecordLineTest, Renders) {
  CallRecord record = baseRecord();
  GetParam().change(record);
  EXPECT_EQ(formatCallRecordLine(record), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, CallRecordLineTest,
    ::testing::Values(
        LineCase{"Base", [](CallRecord&) {}, kBaseLine},
        LineCase{"MonthMarker", [](CallRecord& r) { r.validity[kValidMonth] = kOutOfRange; },
                 "05*03*2004 09:07:03   00:01:05   123(4567)   12345     0123456789           "},
        LineCase{"TimeMarker", [](CallRecord& r) { r.validity[kValidSecond] = kOutOfRange; },
                 "05-03-2004 09*07*03   00:01:05   123(4567)   12345     0123456789           "},
        LineCase{"AllMarkers", [](CallRecord& r) { r.validity.fill(kOutOfRange); },
                 "05*03*2004 09*07*03   00*01*05   123(4567)   12345     0123456789           "},
        LineCase{"LongestDayAndDuration",
                 [](CallRecord& r) {
                   r.year = 1999;
                   r.month = 12;
                   r.day = 31;
                   r.hour = 23;
                   r.minute = 59;
                   r.second = 58;
                   r.durationHours = 23;
                   r.durationMinutes = 59;
                   r.durationSeconds = 59;
                 },
                 "31-12-1999 23:59:58   23:59:59   123(4567)   12345     0123456789           "},
        LineCase{"NoProgrammedNumber", [](CallRecord& r) { r.programmedNumber = "-1"; },
                 "05-03-2004 09:07:03   00:01:05   123(    )   12345     0123456789           "},
        LineCase{"OneDigitProgrammedNumber", [](CallRecord& r) { r.programmedNumber = "7"; },
                 "05-03-2004 09:07:03   00:01:05   123(   7)   12345     0123456789           "},
        LineCase{"LongProgrammedNumberWrittenWhole",
                 [](CallRecord& r) { r.programmedNumber = "123456"; },
                 "05-03-2004 09:07:03   00:01:05   123(123456)   12345     0123456789           "},
        LineCase{"EmptyTrunk", [](CallRecord& r) { r.trunk = ""; },
                 "05-03-2004 09:07:03   00:01:05   123(4567)             0123456789           "},
        LineCase{"OneCharacterTrunk", [](CallRecord& r) { r.trunk = "7"; },
                 "05-03-2004 09:07:03   00:01:05   123(4567)       7     0123456789           "},
        LineCase{"CompositeTrunk", [](CallRecord& r) { r.trunk = "(2)05"; },
                 "05-03-2004 09:07:03   00:01:05   123(4567)   (2)05     0123456789           "},
        LineCase{"NoDialedDigits", [](CallRecord& r) { r.dialedNumber = ""; },
                 "05-03-2004 09:07:03   00:01:05   123(4567)   12345                          "},
        LineCase{"DialedNumberOf25DigitsWrittenWhole",
                 [](CallRecord& r) { r.dialedNumber = "1234567890123456789012345"; },
                 "05-03-2004 09:07:03   00:01:05   123(4567)   12345     "
                 "1234567890123456789012345"},
        LineCase{"DialingSigns", [](CallRecord& r) { r.dialedNumber = "*#P8T"; },
                 "05-03-2004 09:07:03   00:01:05   123(4567)   12345     *#P8T                "},
        LineCase{"OneDigitHardwareNumber", [](CallRecord& r) { r.hardwareNumber = 7; },
                 "05-03-2004 09:07:03   00:01:05   7(4567)   12345     0123456789           "},
        LineCase{"FiveDigitHardwareNumber", [](CallRecord& r) { r.hardwareNumber = 12345; },
                 "05-03-2004 09:07:03   00:01:05   12345(4567)   12345     0123456789           "}),
    [](const auto& info) { return std::string(info.param.name); });

// Positions (from 0) of the separators of the three groups: date, time, duration.
constexpr std::size_t kSeparators[3][2] = {{2, 5}, {13, 16}, {24, 27}};
constexpr char kNormal[3] = {'-', ':', ':'};

TEST(CallRecordLineMarkerTest, EachMarkerStarsOnlyItsOwnGroup) {
  for (int marker = kValidYear; marker <= kValidDurationSeconds; ++marker) {
    SCOPED_TRACE(marker);
    CallRecord record = baseRecord();
    record.validity[static_cast<std::size_t>(marker)] = kOutOfRange;
    const std::string line = formatCallRecordLine(record);
    ASSERT_EQ(line.size(), kBaseLine.size());
    std::string expected = kBaseLine;
    const int group = marker / 3;
    for (int g = 0; g < 3; ++g) {
      for (std::size_t pos : kSeparators[g]) {
        ASSERT_EQ(kBaseLine[pos], kNormal[g]);
        if (g == group) expected[pos] = '*';
      }
    }
    EXPECT_EQ(line, expected);
  }
}

TEST(CallRecordLineColumnTest, ThreeDigitHardwareNumberGivesTheFixedColumns) {
  CallRecord record = baseRecord();
  record.hardwareNumber = 987;
  record.programmedNumber = "42";
  record.trunk = "203";
  record.dialedNumber = "123456789012345678901";  // exactly 21
  const std::string line = formatCallRecordLine(record);
  ASSERT_EQ(line.size(), 76u);
  // Columns counted from 1, as the report reader takes the line apart.
  auto column = [&](int from, int to) {
    return line.substr(static_cast<std::size_t>(from - 1), static_cast<std::size_t>(to - from + 1));
  };
  EXPECT_EQ(column(1, 10), "05-03-2004");
  EXPECT_EQ(column(11, 11), " ");
  EXPECT_EQ(column(12, 19), "09:07:03");
  EXPECT_EQ(column(20, 22), "   ");
  EXPECT_EQ(column(23, 30), "00:01:05");
  EXPECT_EQ(column(31, 33), "   ");
  EXPECT_EQ(column(34, 36), "987");
  EXPECT_EQ(column(37, 37), "(");
  EXPECT_EQ(column(38, 41), "  42");
  EXPECT_EQ(column(42, 42), ")");
  EXPECT_EQ(column(43, 45), "   ");
  EXPECT_EQ(column(46, 50), "  203");
  EXPECT_EQ(column(51, 55), "     ");
  EXPECT_EQ(column(56, 76), "123456789012345678901");
}

TEST(CallRecordLineColumnTest, HardwareNumberWidthShiftsLaterColumns) {
  const int numbers[] = {5, 45, 245, 1245, 12345};
  for (int n : numbers) {
    SCOPED_TRACE(n);
    CallRecord record = baseRecord();
    record.hardwareNumber = n;
    const std::string line = formatCallRecordLine(record);
    const std::size_t digits = std::to_string(n).size();
    EXPECT_EQ(line.size(), 73 + digits);
    EXPECT_EQ(line.substr(33, digits), std::to_string(n));
    EXPECT_EQ(line[33 + digits], '(');
    EXPECT_EQ(line.substr(33 + digits), "(4567)   12345     0123456789           ");
    EXPECT_NE(line[0], ' ') << "a call-record line begins with a digit";
  }
}

TEST(TitleLineTest, HeaderCarriesThePbxClock) {
  const PbxClock clock{2004, 3, 5, 9, 7, 3};
  const std::string line = headerLine(clock);
  EXPECT_EQ(line, "       \xC4\xE0\xED\xED\xFB\xE5 \xED\xE0  05-03-2004 09:07:03 ");
  EXPECT_EQ(line.size(), 38u);
  EXPECT_EQ(headerLine(PbxClock{2031, 12, 31, 23, 59, 58}).substr(18), "31-12-2031 23:59:58 ");
}

TEST(TitleLineTest, ColumnTitlesSitAtTheirColumns) {
  const std::string& line = columnTitleLine();
  ASSERT_EQ(line.size(), 59u);
  const struct {
    std::size_t column;
    const char* word;
  } words[] = {{8, "Начало"}, {23, "Продолжит"}, {35, "Абонент"}, {48, "СЛ"}, {55, "Номер"}};
  std::string expected(59, ' ');
  for (const auto& w : words) {
    const std::string bytes = ru(w.word);
    expected.replace(w.column - 1, bytes.size(), bytes);
  }
  EXPECT_EQ(line, expected);
  EXPECT_EQ(line.substr(7, 6), "\xCD\xE0\xF7\xE0\xEB\xEE");  // "Начало" in Windows-1251
  EXPECT_EQ(line.substr(47, 2), "\xD1\xCB");                 // "СЛ"
}

TEST(TitleLineTest, LinkBuildsBothTitleLines) {
  test::TempDir dir;
  PbxLink link(dir.str());
  link.buildTitleLines(PbxClock{2010, 1, 2, 3, 4, 5});
  EXPECT_EQ(link.headerLine, headerLine(PbxClock{2010, 1, 2, 3, 4, 5}));
  EXPECT_EQ(link.headerLine.substr(18), "02-01-2010 03:04:05 ");
  EXPECT_EQ(link.columnTitleLine, columnTitleLine());
}

}  // namespace
}  // namespace kordel
