// Parsing call-record lines back into calls, and loading data files into a ReportBook.
#include <cerrno>
#include <random>

#include "report/report_book.h"
#include "report_test_util.h"

namespace kordel::report {
namespace {

using testing::joinCrLf;
using testing::makeRecord;
using testing::TempDir;
using testing::writeBytes;

ReportCall parseOk(const std::string& line) {
  ReportCall call;
  std::string error;
  EXPECT_TRUE(carriesCall(line)) << line;
  EXPECT_TRUE(parseCallLine(line, call, error)) << line << " : " << cp1251ToUtf8(error);
  return call;
}

TEST(ParseCallLine, ThreeDigitLineGivesEveryField) {
  const std::string line = formatCallRecordLine(makeRecord(123, "201", "7", "567"));
  ASSERT_EQ(line.size(), 76u);
  const ReportCall call = parseOk(line);
  EXPECT_EQ(call.hwNumber, "123");
  EXPECT_EQ(call.prgNumber, "201");
  EXPECT_EQ(call.trunkText, "7");
  EXPECT_EQ(call.extNumber, "567");
  EXPECT_EQ(call.durationSec, 65);
  EXPECT_EQ(call.durHours, 0);
  EXPECT_EQ(call.durMinutes, 1);
  EXPECT_EQ(call.durSeconds, 5);
  // 5 March 2004 is day 38051 of the toolkit's calendar.
  EXPECT_DOUBLE_EQ(call.start, 38051.0 + (9 * 3600 + 7 * 60 + 3) / 86400.0);
  EXPECT_DOUBLE_EQ(call.duration, 2.0 + 65 / 86400.0);
  const DateTimeParts p = decodeDateTime(call.start);
  EXPECT_EQ(std::vector<int>({p.year, p.month, p.day, p.hour, p.minute, p.second}),
            std::vector<int>({2004, 3, 5, 9, 7, 3}));
}

struct ShapeCase {
  int hw;
  std::string prg, trunk, dialed;
  std::string wantPrg;
};

TEST(ParseCallLine, EveryShapeTheWriterProducesRoundTrips) {
  const std::vector<ShapeCase> cases = {
      {5, "21", "3", "8005551234", "21"},    // one-digit hardware number
      {42, "-1", "12", "", ""},              // two digits, no programmed number, incoming
      {1234, "7", "(2)15", "123", "7"},      // four digits, composite trunk
      {987654, "12345", "1", "0", "12345"},  // six digits, over-wide programmed number
      {0, "1", "", "5551234", "1"},          // blank trunk of a model without trunks
      {77, "300", "", "", "300"},            // blank trunk and no dialed number
      {123, "201", "123456", "999", "201"},  // over-wide trunk
      {123, "201", "12", "1234567890123456789012345", "201"},  // 25-digit dialed number
      {-3, "1", "2", "3*#P", "1"},                             // dialing signs
  };
  for (const ShapeCase& c : cases) {
    const CallRecord record = makeRecord(c.hw, c.prg, c.trunk, c.dialed);
    const std::string line = formatCallRecordLine(record);
    SCOPED_TRACE(line);
    const ReportCall call = parseOk(line);
    EXPECT_EQ(call.hwNumber, std::to_string(c.hw));
    EXPECT_EQ(call.prgNumber, c.wantPrg);
    EXPECT_EQ(call.trunkText, c.trunk);
    EXPECT_EQ(call.extNumber, c.dialed);
  }
}

TEST(ParseCallLine, GeneratedRecordsRoundTrip) {
  std::mt19937 rng(20040305);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  auto digits = [&](int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += static_cast<char>('0' + pick(0, 9));
    return s;
  };
  for (int i = 0; i < 3000; ++i) {
    CallRecord r;
    r.year = pick(1980, 2099);
    r.month = pick(1, 12);
    r.day = pick(1, 28);
    r.hour = pick(0, 23);
    r.minute = pick(0, 59);
    r.second = pick(0, 59);
    r.durationHours = pick(0, 23);
    r.durationMinutes = pick(0, 59);
    r.durationSeconds = pick(0, 59);
    r.hardwareNumber = pick(0, 3) == 0 ? pick(0, 99999) : pick(100, 999);
    r.programmedNumber = pick(0, 5) == 0 ? "-1" : std::to_string(pick(0, 99999));
    r.trunk = pick(0, 4) == 0 ? "" : std::to_string(pick(0, pick(0, 1) ? 99 : 9999999));
    r.dialedNumber = pick(0, 3) == 0 ? "" : digits(pick(1, 26));
    // Suspicious groups still carry valid digits here, so the line loads.
    if (pick(0, 9) == 0) r.validity[kValidMonth] = kOutOfRange;
    if (pick(0, 9) == 0) r.validity[kValidSecond] = kOutOfRange;
    if (pick(0, 9) == 0) r.validity[kValidDurationHours] = kOutOfRange;
    const std::string line = formatCallRecordLine(r);
    SCOPED_TRACE(line);
    const ReportCall call = parseOk(line);
    const DateTimeParts p = decodeDateTime(call.start);
    ASSERT_EQ(std::vector<int>({p.year, p.month, p.day, p.hour, p.minute, p.second}),
              std::vector<int>({r.year, r.month, r.day, r.hour, r.minute, r.second}));
    ASSERT_EQ(call.durationSec,
              r.durationHours * 3600 + r.durationMinutes * 60 + r.durationSeconds);
    ASSERT_EQ(call.hwNumber, std::to_string(r.hardwareNumber));
    ASSERT_EQ(call.prgNumber, r.programmedNumber == "-1" ? "" : r.programmedNumber);
    ASSERT_EQ(call.trunkText, r.trunk);
    ASSERT_EQ(call.extNumber, r.dialedNumber);
  }
}

TEST(ParseCallLine, ImpossibleValuesAndMissingBracketsAreErrors) {
  const std::string good = formatCallRecordLine(makeRecord(123, "201", "7", "567"));
  std::vector<std::string> bad;
  std::string s = good;
  s.replace(3, 2, "13");  // month 13
  bad.push_back(s);
  s = good;
  s.replace(0, 2, "00");  // day 0
  bad.push_back(s);
  s = good;
  s.replace(0, 5, "30-02");  // 30 February
  bad.push_back(s);
  s = good;
  s.replace(11, 2, "24");  // hour 24
  bad.push_back(s);
  s = good;
  s.replace(25, 2, "6x");  // minutes not a number
  bad.push_back(s);
  s = good;
  s[41] = ' ';  // no ")"
  bad.push_back(s);
  bad.push_back("Some note that somebody typed into the data file by hand ...");
  for (const std::string& line : bad) {
    ReportCall call;
    std::string error;
    EXPECT_FALSE(parseCallLine(line, call, error)) << line;
    EXPECT_FALSE(error.empty());
  }
}

TEST(ParseCallLine, WithoutABracketTheFixedColumnsGiveTheNumbers) {
  const std::string good = formatCallRecordLine(makeRecord(123, "201", "7", "567"));
  std::string s = good;
  s[36] = ' ';  // no "(" at all
  ReportCall call = parseOk(s);
  EXPECT_EQ(call.hwNumber, "123");
  EXPECT_EQ(call.prgNumber, "201");
  EXPECT_EQ(call.trunkText, "7");
  EXPECT_EQ(call.extNumber, "567");
  s = good;
  s.replace(33, 4, "(12 ");  // the bracket stands where the hardware number begins
  call = parseOk(s);
  EXPECT_EQ(call.hwNumber, "(12");
  EXPECT_EQ(call.prgNumber, "201");
  s = good;
  s.replace(33, 3, "   ");  // no hardware number before the bracket
  call = parseOk(s);
  EXPECT_EQ(call.hwNumber, "   ");
  EXPECT_EQ(call.prgNumber, "201");
}

TEST(ParseCallLine, ForeignSpacingFallsBackToTheFirstWord) {
  // A hand-edited line with one space after ")" still gives the trunk word and the number.
  const std::string line = "05-03-2004 09:07:03   00:01:05   123( 201) 7 567 89";
  const ReportCall call = parseOk(line);
  EXPECT_EQ(call.trunkText, "7");
  EXPECT_EQ(call.extNumber, "56789");
}

TEST(ToInt32, ConvertsLikeTheSortKeys) {
  std::int32_t v = 0;
  EXPECT_TRUE(toInt32("123", v));
  EXPECT_EQ(v, 123);
  EXPECT_TRUE(toInt32(" -7", v));
  EXPECT_EQ(v, -7);
  EXPECT_TRUE(toInt32("-2147483648", v));
  EXPECT_EQ(v, INT32_MIN);
  for (const char* text : {"", " ", "12a", "2147483648", "1 ", "+", "(2)15"}) {
    EXPECT_FALSE(toInt32(text, v)) << text;
  }
}

TEST(DateTime, EncodesAndDecodesAroundTheEpoch) {
  EXPECT_DOUBLE_EQ(encodeDateTime(1899, 12, 30, 0, 0, 0), 0.0);
  EXPECT_DOUBLE_EQ(encodeDateTime(1900, 1, 1, 0, 0, 0), 2.0);
  EXPECT_DOUBLE_EQ(encodeDateTime(1899, 12, 29, 6, 0, 0), -1.25);
  const DateTimeParts p = decodeDateTime(-1.25);
  EXPECT_EQ(std::vector<int>({p.year, p.month, p.day, p.hour}),
            std::vector<int>({1899, 12, 29, 6}));
  const DateTimeParts q = decodeDateTime(encodeDateTime(2099, 12, 31, 23, 59, 59));
  EXPECT_EQ(std::vector<int>({q.year, q.month, q.day, q.hour, q.minute, q.second}),
            std::vector<int>({2099, 12, 31, 23, 59, 59}));
  EXPECT_TRUE(isValidDate(2004, 2, 29));
  EXPECT_FALSE(isValidDate(2100, 2, 29));
}

// ---- Loading -------------------------------------------------------------------------------

TEST(ReportBookLoad, CountsStoredLinesAndParsesOnlyCallLines) {
  TempDir dir;
  const std::string call = formatCallRecordLine(makeRecord(123, "201", "7", "567"));
  PbxClock clock{};
  clock.year = 2004;
  clock.month = 3;
  clock.day = 5;
  const std::string lines[] = {
      headerLine(clock),
      columnTitleLine(),
      std::string(29, '1'),        // dropped, not counted
      "1" + std::string(29, 'x'),  // 30 bytes: counted, no call
      "1" + std::string(45, 'x'),  // 46 bytes: counted, no call
      call.substr(0, 47),          // 47 bytes: parsed
      call,
      "",
  };
  // Every kind of line end, and a last line without one.
  const std::string bytes = lines[0] + "\r\n" + lines[1] + "\n" + lines[2] + "\r" + lines[3] +
                            "\r\n" + lines[4] + "\n\n\r\n" + lines[5] + "\r" + lines[6];
  writeBytes(dir.file("data.txt"), bytes);

  ReportBook book;
  EXPECT_EQ(cp1251ToUtf8(book.fileCaption()), "Кол-во строк: ");
  const LoadResult result = book.load(dir.file("data.txt"));
  ASSERT_TRUE(result.ok()) << cp1251ToUtf8(result.message);
  EXPECT_EQ(cp1251ToUtf8(book.fileCaption()), "Кол-во строк: 6");
  ASSERT_EQ(book.storedLineCount(), 6u);
  EXPECT_EQ(book.storedLine(0), lines[0]);
  EXPECT_EQ(book.storedLine(5), call);
  ASSERT_EQ(book.callList().count(), 2u);
  EXPECT_EQ(book.callList().get(0).hwNumber, "123");
  EXPECT_EQ(book.callList().get(0).trunkText, "");  // cut inside the trunk field
  EXPECT_EQ(book.callList().get(0).extNumber, "");
  EXPECT_EQ(book.callList().get(1).extNumber, "567");
  EXPECT_EQ(regionalFormats().longTime, "hh:mm:ss");
}

TEST(ReportBookLoad, EmptyFileGivesNoRows) {
  TempDir dir;
  writeBytes(dir.file("empty.txt"), "");
  ReportBook book;
  ASSERT_TRUE(book.load(dir.file("empty.txt")).ok());
  EXPECT_EQ(cp1251ToUtf8(book.fileCaption()), "Кол-во строк: 0");
  EXPECT_EQ(book.callRowCount(), 0u);
  EXPECT_EQ(book.lineRowCount(), 0u);
  EXPECT_EQ(book.trunkRowCount(), 0u);
  EXPECT_EQ(book.reportLines(ReportKind::Calls).size(), 1u);
}

TEST(ReportBookLoad, SecondLoadReplacesTheFirst) {
  TempDir dir;
  writeBytes(dir.file("a.txt"), joinCrLf({formatCallRecordLine(makeRecord(101, "1", "1", "5")),
                                          formatCallRecordLine(makeRecord(102, "2", "2", ""))}));
  writeBytes(dir.file("b.txt"), joinCrLf({formatCallRecordLine(makeRecord(555, "9", "4", "7"))}));
  ReportBook book;
  ASSERT_TRUE(book.load(dir.file("a.txt")).ok());
  book.select("", SelectBy::Programmed, "5");
  ASSERT_TRUE(book.load(dir.file("b.txt")).ok());
  EXPECT_FALSE(book.hasSelection());
  ASSERT_EQ(book.callList().count(), 1u);
  EXPECT_EQ(book.callList().get(0).hwNumber, "555");
  ASSERT_EQ(book.lineRowCount(), 1u);
  EXPECT_EQ(book.lineCell(0, 0), "555");
  ASSERT_EQ(book.trunkRowCount(), 1u);
  EXPECT_EQ(book.trunkCell(0, 0), "4");
  EXPECT_EQ(book.findLine("101"), nullptr);
  EXPECT_EQ(cp1251ToUtf8(book.fileCaption()), "Кол-во строк: 1");
}

TEST(ReportBookLoad, LineThatDoesNotConvertKeepsThePreviousFile) {
  TempDir dir;
  writeBytes(dir.file("good.txt"),
             joinCrLf({formatCallRecordLine(makeRecord(101, "1", "1", "5"))}));
  std::string bad = formatCallRecordLine(makeRecord(202, "2", "2", "6"));
  bad.replace(3, 2, "13");
  writeBytes(dir.file("bad.txt"), "short\r\n" + columnTitleLine() + "\r\n" +
                                      formatCallRecordLine(makeRecord(303, "3", "3", "")) + "\r\n" +
                                      bad + "\r\n");
  ReportBook book;
  ASSERT_TRUE(book.load(dir.file("good.txt")).ok());
  const LoadResult result = book.load(dir.file("bad.txt"));
  EXPECT_EQ(result.code, kLoadLineFailed);
  EXPECT_EQ(result.lineNumber, 4u);  // counted in the file, short lines included
  EXPECT_EQ(result.lineText, bad);
  const std::string message = cp1251ToUtf8(result.message);
  EXPECT_NE(message.find("строка 4"), std::string::npos) << message;
  EXPECT_NE(message.find(bad), std::string::npos) << message;
  // Nothing of the new file reached the book.
  EXPECT_EQ(cp1251ToUtf8(book.fileCaption()), "Кол-во строк: 1");
  ASSERT_EQ(book.callList().count(), 1u);
  EXPECT_EQ(book.callList().get(0).hwNumber, "101");
  EXPECT_EQ(book.storedLine(0).substr(33, 3), "101");
  EXPECT_EQ(book.lineCell(0, 0), "101");
}

TEST(ReportBookLoad, UnreadableFileChangesNothing) {
  TempDir dir;
  writeBytes(dir.file("good.txt"),
             joinCrLf({formatCallRecordLine(makeRecord(101, "1", "1", "5"))}));
  ReportBook book;
  ASSERT_TRUE(book.load(dir.file("good.txt")).ok());
  LoadResult result = book.load(dir.file("missing.txt"));
  EXPECT_EQ(result.code, kLoadFileFailed);
  EXPECT_EQ(result.errorNumber, ENOENT);
  EXPECT_FALSE(result.message.empty());
  result = book.load(dir.file(""));  // the folder itself: opens, but does not read
  EXPECT_EQ(result.code, kLoadFileFailed);
  EXPECT_EQ(book.callList().count(), 1u);
  EXPECT_EQ(cp1251ToUtf8(book.fileCaption()), "Кол-во строк: 1");
}

}  // namespace
}  // namespace kordel::report
