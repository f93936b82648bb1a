// A data file large enough to be parsed in two shares: the tables, the calls and the reported
// line must be those of a file read from top to bottom.
#include <map>
#include <random>

#include "report/report_book.h"
#include "report_test_util.h"

namespace kordel::report {
namespace {

using testing::makeRecord;
using testing::TempDir;
using testing::writeBytes;

constexpr std::size_t kCalls = 3 * TValueList_rep<ReportCall>::kBlockSize + 123;

struct Expected {
  std::string prg;
  std::int64_t in = 0, out = 0;
};

class LargeBook : public ::testing::Test {
 protected:
  void SetUp() override {
    std::mt19937 rng(77);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (std::size_t i = 0; i < kCalls; ++i) {
      // Lines and trunks that first appear late in the file, and programmed numbers that
      // change, so that the order of first occurrence and the first programmed number count.
      const int hw = i < kCalls / 2 ? pick(100, 140) : pick(100, 160);
      const std::string trunk = std::to_string(i < kCalls / 2 ? pick(1, 5) : pick(1, 9));
      const bool incoming = pick(0, 2) == 0;
      CallRecord r = makeRecord(hw, std::to_string(pick(1, 3) * 1000 + hw), trunk,
                                incoming ? "" : std::to_string(pick(1000, 99999)), 0, pick(0, 59),
                                pick(0, 59));
      lines_.push_back(formatCallRecordLine(r));
      hw_.push_back(std::to_string(hw));
      const std::int64_t seconds = r.durationMinutes * 60 + r.durationSeconds;
      auto [line, newLine] = lineTotals_.try_emplace(hw_.back());
      if (newLine) {
        lineOrder_.push_back(hw_.back());
        line->second.prg = r.programmedNumber;
      }
      (incoming ? line->second.in : line->second.out) += seconds;
      auto [t, newTrunk] = trunkTotals_.try_emplace(trunk);
      if (newTrunk) trunkOrder_.push_back(trunk);
      (incoming ? t->second.in : t->second.out) += seconds;
    }
  }
  std::string file(const std::vector<std::string>& lines) {
    std::string bytes;
    for (const std::string& l : lines) bytes += l + "\r\n";
    writeBytes(dir_.file("big.txt"), bytes);
    return dir_.file("big.txt");
  }

  TempDir dir_;
  std::vector<std::string> lines_, hw_;
  std::map<std::string, Expected> lineTotals_, trunkTotals_;
  std::vector<std::string> lineOrder_, trunkOrder_;
};

TEST_F(LargeBook, TablesAndCallsAreThoseOfOneReadingInFileOrder) {
  ReportBook book;
  const LoadResult result = book.load(file(lines_));
  ASSERT_TRUE(result.ok()) << cp1251ToUtf8(result.message);
  ASSERT_EQ(book.callList().count(), kCalls);
  for (std::size_t i = 0; i < kCalls; ++i) ASSERT_EQ(book.callList().get(i).hwNumber, hw_[i]) << i;

  ASSERT_EQ(book.lineRowCount(), lineOrder_.size());
  for (std::size_t row = 0; row < lineOrder_.size(); ++row) {
    const Expected& want = lineTotals_[lineOrder_[row]];
    ASSERT_EQ(book.lineCell(row, 0), lineOrder_[row]);
    EXPECT_EQ(book.lineCell(row, 1), want.prg) << row;
    EXPECT_EQ(book.lineCell(row, 2), formatSeconds(want.out)) << row;
    EXPECT_EQ(book.lineCell(row, 3), formatSeconds(want.in)) << row;
    EXPECT_EQ(book.lineCell(row, 4), formatSeconds(want.in + want.out)) << row;
  }
  ASSERT_EQ(book.trunkRowCount(), trunkOrder_.size());
  for (std::size_t row = 0; row < trunkOrder_.size(); ++row) {
    const Expected& want = trunkTotals_[trunkOrder_[row]];
    ASSERT_EQ(book.trunkCell(row, 0), trunkOrder_[row]);
    EXPECT_EQ(book.trunkCell(row, 1), formatSeconds(want.out)) << row;
    EXPECT_EQ(book.trunkCell(row, 2), formatSeconds(want.in)) << row;
    const TrunkTraffic* trunk = book.findTrunk(trunkOrder_[row]);
    ASSERT_NE(trunk, nullptr);
    EXPECT_EQ(trunk->totalSec, want.in + want.out);
  }
}

TEST_F(LargeBook, TheFirstBadLineOfTheFileIsReported) {
  std::vector<std::string> lines = lines_;
  std::string& late = lines[kCalls - 10];
  late.replace(3, 2, "13");
  ReportBook book;
  LoadResult result = book.load(file(lines));
  EXPECT_EQ(result.code, kLoadLineFailed);
  EXPECT_EQ(result.lineNumber, kCalls - 9);
  EXPECT_EQ(result.lineText, late);

  std::string& early = lines[5];
  early.replace(0, 2, "00");
  result = book.load(file(lines));
  EXPECT_EQ(result.lineNumber, 6u);
  EXPECT_EQ(result.lineText, early);
  EXPECT_FALSE(book.loaded());
}

}  // namespace
}  // namespace kordel::report
