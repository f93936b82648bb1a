// Traffic aggregation, sorting, selection and the report files of a ReportBook.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <random>

#include "report/report_book.h"
#include "report_test_util.h"

namespace kordel::report {
namespace {

using testing::joinCrLf;
using testing::makeRecord;
using testing::readBytes;
using testing::TempDir;
using testing::writeBytes;

// A book loaded from the lines of the given records.
class BookTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::useRussianFormats(); }
  void load(const std::vector<CallRecord>& records) {
    std::vector<std::string> lines;
    for (const auto& r : records) lines.push_back(formatCallRecordLine(r));
    writeBytes(dir_.file("data.txt"), joinCrLf(lines));
    const LoadResult result = book_.load(dir_.file("data.txt"));
    ASSERT_TRUE(result.ok()) << cp1251ToUtf8(result.message);
  }
  std::vector<std::string> column(ReportKind kind, std::size_t c) const {
    std::vector<std::string> out;
    if (kind == ReportKind::Lines) {
      for (std::size_t r = 0; r < book_.lineRowCount(); ++r) out.push_back(book_.lineCell(r, c));
    } else if (kind == ReportKind::Trunks) {
      for (std::size_t r = 0; r < book_.trunkRowCount(); ++r) out.push_back(book_.trunkCell(r, c));
    } else {
      for (std::size_t r = 0; r < book_.callRowCount(); ++r) out.push_back(book_.callCell(r, c));
    }
    return out;
  }
  TempDir dir_;
  ReportBook book_;
};

using Strings = std::vector<std::string>;

// ---- Aggregation ---------------------------------------------------------------------------

TEST_F(BookTest, IncomingAndOutgoingCallsAddUpPerLine) {
  load({makeRecord(123, "201", "7", "", 0, 0, 40), makeRecord(123, "201", "8", "555", 0, 0, 50),
        makeRecord(124, "202", "7", "", 0, 2, 0)});
  EXPECT_EQ(column(ReportKind::Lines, 0), Strings({"123", "124"}));
  EXPECT_EQ(column(ReportKind::Lines, 2), Strings({"00:00:50", "00:00:00"}));
  EXPECT_EQ(column(ReportKind::Lines, 3), Strings({"00:00:40", "00:02:00"}));
  EXPECT_EQ(column(ReportKind::Lines, 4), Strings({"00:01:30", "00:02:00"}));
  EXPECT_EQ(column(ReportKind::Trunks, 0), Strings({"7", "8"}));
  EXPECT_EQ(column(ReportKind::Trunks, 3), Strings({"00:02:40", "00:00:50"}));
  const LineTraffic* line = book_.findLine("123");
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(line->inSec, 40);
  EXPECT_EQ(line->outSec, 50);
  EXPECT_EQ(line->totalSec, 90);
  ASSERT_NE(book_.findTrunk("8"), nullptr);
  EXPECT_EQ(book_.findTrunk("8")->outSec, 50);
  EXPECT_EQ(book_.findTrunk("08"), nullptr);
}

TEST_F(BookTest, SecondsAndMinutesCarryAndHoursGrowPast99) {
  std::vector<CallRecord> records = {makeRecord(123, "1", "1", "", 0, 59, 30),
                                     makeRecord(123, "1", "1", "", 0, 0, 45)};
  for (int i = 0; i < 5; ++i) records.push_back(makeRecord(200, "2", "2", "9", 23, 59, 59));
  load(records);
  EXPECT_EQ(column(ReportKind::Lines, 3), Strings({"01:00:15", "00:00:00"}));
  // Five calls of 23:59:59 are 119:59:55.
  EXPECT_EQ(column(ReportKind::Lines, 2), Strings({"00:00:00", "119:59:55"}));
  EXPECT_EQ(column(ReportKind::Lines, 4), Strings({"01:00:15", "119:59:55"}));
}

TEST_F(BookTest, LineKeepsTheProgrammedNumberOfItsFirstCall) {
  load({makeRecord(123, "-1", "1", "5"), makeRecord(123, "201", "1", "5"),
        makeRecord(77, "30", "1", "5"), makeRecord(77, "31", "1", "5")});
  EXPECT_EQ(column(ReportKind::Lines, 1), Strings({"", "30"}));
}

TEST_F(BookTest, TrunksStandWhereTheyFirstOccur) {
  load({makeRecord(1, "1", "5", "1"), makeRecord(2, "2", "", "1"), makeRecord(3, "3", "5", ""),
        makeRecord(4, "4", "(1)12", "1"), makeRecord(5, "5", "", "")});
  EXPECT_EQ(column(ReportKind::Trunks, 0), Strings({"5", "", "(1)12"}));
  EXPECT_EQ(column(ReportKind::Trunks, 3), Strings({"00:02:10", "00:02:10", "00:01:05"}));
}

TEST(Traffic, SettersNormalise) {
  LineTraffic t;
  t.setInMinutes(125);
  EXPECT_EQ(t.inHours, 2);
  EXPECT_EQ(t.inMinutes, 5u);
  t.setInSeconds(3725);  // 62 minutes 5 seconds on top of 5 minutes
  EXPECT_EQ(t.inHours, 3);
  EXPECT_EQ(t.inMinutes, 7u);
  EXPECT_EQ(t.inSeconds, 5u);
  TrunkTraffic u;
  u.setOutSeconds(59);
  EXPECT_EQ(u.outSeconds, 59u);
  EXPECT_EQ(u.outMinutes, 0u);
  u.setOutSeconds(60);
  EXPECT_EQ(u.outSeconds, 0u);
  EXPECT_EQ(u.outMinutes, 1u);
  EXPECT_EQ(formatTraffic(100, 0, 0), "100:00:00");
  EXPECT_EQ(formatTraffic(0, 5, 9), "00:05:09");
  EXPECT_EQ(formatSeconds(3 * 3600 + 61), "03:01:01");
}

// ---- Sorting -------------------------------------------------------------------------------

TEST_F(BookTest, SortByTotalKeepsTiesInTheirOrder) {
  load({makeRecord(101, "1", "1", "", 0, 5, 0), makeRecord(102, "2", "1", "", 0, 1, 0),
        makeRecord(103, "3", "1", "", 0, 5, 0)});
  ASSERT_TRUE(book_.sortLines(LineSortKey::Total).ok);
  EXPECT_EQ(column(ReportKind::Lines, 0), Strings({"102", "101", "103"}));
  // A second sort keeps the ties of its key in the order of the first.
  ASSERT_TRUE(book_.sortLines(LineSortKey::Outgoing).ok);
  EXPECT_EQ(column(ReportKind::Lines, 0), Strings({"102", "101", "103"}));
}

TEST_F(BookTest, SortByProgrammedPutsLinesWithoutOneFirst) {
  load({makeRecord(101, "30", "1", ""), makeRecord(102, "-1", "1", ""),
        makeRecord(103, "4", "1", ""), makeRecord(104, "-5", "1", "")});
  ASSERT_TRUE(book_.sortLines(LineSortKey::Programmed).ok);
  EXPECT_EQ(column(ReportKind::Lines, 1), Strings({"-5", "", "4", "30"}));
  ASSERT_TRUE(book_.sortLines(LineSortKey::Hardware).ok);
  EXPECT_EQ(column(ReportKind::Lines, 0), Strings({"101", "102", "103", "104"}));
}

TEST_F(BookTest, SortByHardwareComparesNumbersNotTexts) {
  load({makeRecord(1000, "1", "1", ""), makeRecord(99, "1", "1", ""), makeRecord(5, "1", "1", "")});
  ASSERT_TRUE(book_.sortLines(LineSortKey::Hardware).ok);
  EXPECT_EQ(column(ReportKind::Lines, 0), Strings({"5", "99", "1000"}));
}

TEST_F(BookTest, KeyThatIsNotANumberStopsTheSortAndLeavesTheList) {
  load({makeRecord(103, "1", "1", ""), makeRecord(102, "12B", "1", ""),
        makeRecord(101, "3", "1", "")});
  const SortResult result = book_.sortLines(LineSortKey::Programmed);
  EXPECT_FALSE(result.ok);
  EXPECT_NE(cp1251ToUtf8(result.message).find("12B"), std::string::npos);
  EXPECT_EQ(column(ReportKind::Lines, 0), Strings({"103", "102", "101"}));
  EXPECT_TRUE(book_.sortLines(LineSortKey::Hardware).ok);
  EXPECT_EQ(column(ReportKind::Lines, 0), Strings({"101", "102", "103"}));
}

TEST_F(BookTest, SortByTrunkIsATextOrder) {
  load({makeRecord(1, "1", "9", ""), makeRecord(1, "1", "10", ""), makeRecord(1, "1", "2", ""),
        makeRecord(1, "1", "", "")});
  ASSERT_TRUE(book_.sortTrunks(TrunkSortKey::Trunk).ok);
  EXPECT_EQ(column(ReportKind::Trunks, 0), Strings({"", "10", "2", "9"}));
}

TEST(CompareTextNoCase, FoldsLatinAndCyrillicAndPutsPrefixesFirst) {
  EXPECT_EQ(compareTextNoCase("abc", "ABC"), 0);
  EXPECT_EQ(compareTextNoCase(ru("ёж"), ru("ЁЖ")), 0);
  EXPECT_EQ(compareTextNoCase(ru("Я"), ru("я")), 0);
  EXPECT_LT(compareTextNoCase(ru("а"), ru("Б")), 0);
  EXPECT_LT(compareTextNoCase("1", "10"), 0);
  EXPECT_GT(compareTextNoCase("9", "10"), 0);
  EXPECT_LT(compareTextNoCase("Z", ru("а")), 0);  // bytes: Latin before Cyrillic
}

// The bubble sort of the traffic tables: n passes, strict test.
template <typename Key>
std::vector<std::size_t> bubbleOrder(const std::vector<Key>& keys) {
  std::vector<std::size_t> order(keys.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  for (std::size_t pass = 0; pass < order.size(); ++pass) {
    for (std::size_t i = 0; i + 1 < order.size(); ++i) {
      if (keys[order[i]] > keys[order[i + 1]]) std::swap(order[i], order[i + 1]);
    }
  }
  return order;
}

TEST_F(BookTest, EverySortMatchesTheBubbleSortOnManyTies) {
  std::mt19937 rng(7);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  std::vector<CallRecord> records;
  for (int i = 0; i < 600; ++i) {
    const int hw = pick(100, 160);
    records.push_back(makeRecord(hw, std::to_string(hw % 7), std::to_string(pick(1, 40)),
                                 pick(0, 1) ? "" : "5", 0, pick(0, 3), pick(0, 1) * 30));
  }
  load(records);
  for (LineSortKey key : {LineSortKey::Total, LineSortKey::Programmed, LineSortKey::Incoming,
                          LineSortKey::Outgoing, LineSortKey::Hardware, LineSortKey::Total}) {
    std::vector<std::int64_t> keys;
    Strings before;
    for (std::size_t i = 0; i < book_.lineList().count(); ++i) {
      const LineTraffic& t = book_.lineList().get(i);
      before.push_back(t.hwNumber);
      switch (key) {
        case LineSortKey::Hardware:
          keys.push_back(std::stoll(t.hwNumber));
          break;
        case LineSortKey::Programmed:
          keys.push_back(std::stoll(t.prgNumber));
          break;
        case LineSortKey::Outgoing:
          keys.push_back(t.outSec);
          break;
        case LineSortKey::Incoming:
          keys.push_back(t.inSec);
          break;
        case LineSortKey::Total:
          keys.push_back(t.totalSec);
          break;
      }
    }
    Strings expected;
    for (std::size_t i : bubbleOrder(keys)) expected.push_back(before[i]);
    ASSERT_TRUE(book_.sortLines(key).ok);
    EXPECT_EQ(column(ReportKind::Lines, 0), expected);
  }
  for (TrunkSortKey key : {TrunkSortKey::Incoming, TrunkSortKey::Total, TrunkSortKey::Outgoing}) {
    std::vector<std::int64_t> keys;
    Strings before;
    for (std::size_t i = 0; i < book_.trunkList().count(); ++i) {
      const TrunkTraffic& t = book_.trunkList().get(i);
      before.push_back(t.trunkText);
      keys.push_back(key == TrunkSortKey::Incoming ? t.inSec
                     : key == TrunkSortKey::Total  ? t.totalSec
                                                   : t.outSec);
    }
    Strings expected;
    for (std::size_t i : bubbleOrder(keys)) expected.push_back(before[i]);
    ASSERT_TRUE(book_.sortTrunks(key).ok);
    EXPECT_EQ(column(ReportKind::Trunks, 0), expected);
  }
  // The index follows the entries wherever the sorts put them.
  EXPECT_EQ(book_.findLine("123")->hwNumber, "123");
}

// ---- Selection -----------------------------------------------------------------------------

TEST_F(BookTest, SelectionCases) {
  load({makeRecord(123, "21", "1", "8001"), makeRecord(124, "210", "1", "8002"),
        makeRecord(21, "5", "1", ""), makeRecord(125, "21", "1", "7003"),
        makeRecord(126, "-1", "1", "8")});
  struct Case {
    std::string subscriber;
    SelectBy by;
    std::string prefix;
    Strings hw;  // hardware numbers of the rows; {""} for the one empty row
  };
  const std::vector<Case> cases = {
      {" 21 ", SelectBy::Programmed, "", {"123", "125"}},
      {"2 1", SelectBy::Programmed, "", {"123", "125"}},
      {"21", SelectBy::Hardware, "", {"21"}},
      {"0123", SelectBy::Hardware, "", {""}},
      {"21", SelectBy::Programmed, "8", {"123"}},
      {"    ", SelectBy::Programmed, "8", {"123", "124", "126"}},
      {"", SelectBy::Programmed, "80", {"123", "124"}},
      {"", SelectBy::Programmed, "", {"123", "124", "21", "125", "126"}},
      {"9999", SelectBy::Programmed, "", {""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.subscriber + "/" + c.prefix);
    book_.select(c.subscriber, c.by, c.prefix);
    EXPECT_EQ(column(ReportKind::Calls, 3), c.hw);
  }
  // The traffic tables still describe the whole file.
  EXPECT_EQ(book_.lineRowCount(), 5u);
  book_.clearSelection();
  EXPECT_EQ(book_.callRowCount(), 5u);
}

// ---- Report files --------------------------------------------------------------------------

TEST(ReportLines, RowLayouts) {
  EXPECT_EQ(callReportLine({"05.03.2004", "09:07:03", "00:01:05", "123", "201", "7", "567"}),
            "05.03.2004  09:07:03  00:01:05  123   201    7      567" + std::string(9, ' '));
  EXPECT_EQ(callReportLine({"5.3.04", "9:07:03", "0:01:05", "1", "", "", ""}),
            "5.3.04  09:07:03  00:01:05" + std::string(6, ' ') + "1" + std::string(18, ' '));
  EXPECT_EQ(callReportLine({"", "", "", "", "", "", ""}), "  0  0" + std::string(24, ' '));
  const std::string line = lineReportLine({"123", "201", "00:00:50", "00:00:40", "00:01:30"});
  EXPECT_EQ(line.substr(12, 3), "201");
  EXPECT_EQ(line.substr(24, 8), "00:00:50");
  EXPECT_EQ(line.substr(39, 8), "00:00:40");
  EXPECT_EQ(line.substr(55, 8), "00:01:30");
  EXPECT_EQ(line.size(), 3u + 45 + 3 + 24);
  const std::string trunk = trunkReportLine({"7", "00:00:50", "00:00:40", "00:01:30"});
  EXPECT_EQ(trunk, "7" + std::string(9, ' ') + "00:00:50" + std::string(7, ' ') + "00:00:40" +
                       std::string(8, ' ') + "00:01:30" + std::string(21, ' '));
  EXPECT_EQ(reportTitleLine(ReportKind::Calls).size(), 67u);
  EXPECT_EQ(reportTitleLine(ReportKind::Lines).size(), 65u);
  EXPECT_EQ(reportTitleLine(ReportKind::Trunks).size(), 51u);
}

TEST_F(BookTest, SavedReportsHaveTheExactBytes) {
  load({makeRecord(123, "201", "7", "567"), makeRecord(45, "-1", "", "")});
  int lastErrno = 0;
  const std::string calls = dir_.file("calls.txt");
  ASSERT_EQ(saveLinesToFile(lastErrno, book_.reportLines(ReportKind::Calls), calls), kSaveOk);
  EXPECT_EQ(readBytes(calls),
            ru("        Начало         Длит.    Апп.  Прг.   СЛ     Набранный номер") + "\r\n" +
                "05.03.2004  09:07:03  00:01:05  123   201    7      567" + std::string(9, ' ') +
                "\r\n" + "05.03.2004  09:07:03  00:01:05  45" + std::string(22, ' ') + "\r\n");
  const std::string lines = dir_.file("lines.txt");
  ASSERT_EQ(saveLinesToFile(lastErrno, book_.reportLines(ReportKind::Lines), lines), kSaveOk);
  EXPECT_EQ(readBytes(lines),
            ru("Апп.АЛ     Прг.АЛ      Исх. трафик    Вх. трафик     Общий трафик") + "\r\n" +
                "123" + std::string(9, ' ') + "201" + std::string(9, ' ') + "00:01:05" +
                std::string(7, ' ') + "00:00:00" + std::string(8, ' ') + "00:01:05" +
                std::string(12, ' ') + "\r\n" + "45" + std::string(10, ' ') + std::string(12, ' ') +
                "00:00:00" + std::string(7, ' ') + "00:01:05" + std::string(8, ' ') + "00:01:05" +
                std::string(8, ' ') + "\r\n");
  // Saving again replaces the file completely.
  book_.select("201", SelectBy::Programmed, "");
  ASSERT_EQ(saveLinesToFile(lastErrno, book_.reportLines(ReportKind::Trunks), calls), kSaveOk);
  EXPECT_EQ(readBytes(calls), joinCrLf(book_.reportLines(ReportKind::Trunks)));
  EXPECT_EQ(book_.reportLines(ReportKind::Trunks).size(), 3u);
}

TEST(SaveLinesToFile, FailuresAreReportedWithTheirErrorNumber) {
  TempDir dir;
  int lastErrno = 0;
  EXPECT_EQ(saveLinesToFile(lastErrno, {"x"}, dir.file("no/such/folder.txt")), kSaveNotOpened);
  EXPECT_EQ(lastErrno, ENOENT);
  EXPECT_EQ(cp1251ToUtf8(saveErrorMessage(kSaveNotOpened, lastErrno)),
            "Не создать или не открыть файл. errno = " + std::to_string(ENOENT));
  // Something that opens for reading but not for writing (even for root): a folder.
  lastErrno = 0;
  EXPECT_EQ(saveLinesToFile(lastErrno, {"x"}, dir.file("")), kSaveNotWritten);
  EXPECT_EQ(lastErrno, EISDIR);
  EXPECT_EQ(cp1251ToUtf8(saveErrorMessage(kSaveNotWritten, 13)),
            "Не удалось записать файл. errno = 13");
  // A write cut short (the file size limit stands in for a full disk) is not a success either.
  {
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit previous{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
    rlimit limited = previous;
    limited.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    lastErrno = 0;
    const int result = saveLinesToFile(lastErrno, {std::string(100000, 'x')}, dir.file("r.txt"));
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(result, kSaveNotWritten);
    EXPECT_EQ(lastErrno, EFBIG);
  }
  // A device is no report file: refused, and said so.
  lastErrno = 5;
  EXPECT_EQ(saveLinesToFile(lastErrno, {"x"}, "/dev/full"), kSaveNotRegular);
  EXPECT_EQ(lastErrno, 0);
  EXPECT_EQ(cp1251ToUtf8(saveErrorMessage(kSaveNotRegular, 0)),
            "Это не обычный файл (канал или устройство). Файл не записан.");
  EXPECT_EQ(cp1251ToUtf8(saveErrorMessage(kSaveNotClosed, 5)), "Не закрыть файл. errno = 5");
  EXPECT_EQ(cp1251ToUtf8(saveErrorMessage(kSaveException, 0)), "Непонятное исключение. errno = 0");
}

TEST(SaveLinesToFile, ReadOnlyFileIsAnErrorForAnOrdinaryUser) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes read-only files";
  TempDir dir;
  const std::string path = dir.file("ro.txt");
  writeBytes(path, "old");
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  int lastErrno = 0;
  EXPECT_EQ(saveLinesToFile(lastErrno, {"new"}, path), kSaveNotWritten);
  EXPECT_EQ(lastErrno, EACCES);
  EXPECT_EQ(readBytes(path), "old");
}

}  // namespace
}  // namespace kordel::report
