// The real-time log record, its appending, and the counting of the real-time timer.
#include "realtime/realtime_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "files/data_file.h"
#include "files/regional_format.h"
#include "files/text_codec.h"
#include "support/temp_dir.h"

namespace kordel {
namespace {

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Sets the program-wide formats for one test and puts the previous ones back.
class FormatsOverride {
 public:
  FormatsOverride(const std::string& date, const std::string& time) : saved_(regionalFormats()) {
    regionalFormats() = RegionalFormats{date, time};
  }
  ~FormatsOverride() { regionalFormats() = saved_; }

 private:
  RegionalFormats saved_;
};

const StampTime kWhen{2024, 3, 5, 9, 7, 3};

TEST(LogRecord, StampUsesGivenFormats) {
  EXPECT_EQ(logStampLine(kWhen, "dd.MM.yyyy", "H:mm:ss"),
            ru("****** Дата и время считывания: 05.03.2024   9:07:03"));
  EXPECT_EQ(logStampLine(kWhen, "MM/dd/yy", "hh:mm:ss"),
            ru("****** Дата и время считывания: 03/05/24   09:07:03"));
}

TEST(LogRecord, ExactBytesWithLinesAndEmptyLine) {
  FormatsOverride formats("dd.MM.yyyy", "hh:mm:ss");
  std::array<std::string, kMaxStateLines> lines;
  lines[0] = ru("АЛ205(2)   ");
  lines[1] = "";
  lines[2] = ru("СЛ206(1)   ");
  lines[3] = "stale, beyond the count";
  const std::string expected = ru("****** Дата и время считывания: 05.03.2024   09:07:03") +
                               "\r\n" + ru("АЛ205(2)   ") + "\r\n\r\n" + ru("СЛ206(1)   ") +
                               "\r\n\r\n";
  EXPECT_EQ(logRecord(lines, 3, kWhen), expected);
  // Windows-1251 on disk: "А" is 0xC0, "Л" 0xCB.
  EXPECT_NE(expected.find("\xC0\xCB"
                          "205"),
            std::string::npos);
}

TEST(LogRecord, EmptySnapshotIsStampAndOneEmptyLine) {
  FormatsOverride formats("dd.MM.yyyy", "H:mm:ss");
  std::array<std::string, kMaxStateLines> lines;
  lines[0] = "stale";
  EXPECT_EQ(logRecord(lines, 0, kWhen),
            ru("****** Дата и время считывания: 05.03.2024   9:07:03") + "\r\n\r\n");
}

TEST(LogAppend, AppendsWithoutTruncating) {
  test::TempDir dir;
  const std::string log = dir.file("real_time.log");
  { std::ofstream(log, std::ios::binary) << "old\r\n"; }
  EXPECT_EQ(appendLogRecord(log, "first\r\n\r\n"), kAppendOk);
  EXPECT_EQ(appendLogRecord(log, "second\r\n\r\n"), kAppendOk);
  EXPECT_EQ(readAll(log), "old\r\nfirst\r\n\r\nsecond\r\n\r\n");
}

TEST(LogAppend, CreatesMissingFile) {
  test::TempDir dir;
  const std::string log = dir.file("new.log");
  EXPECT_EQ(appendLogRecord(log, "x\r\n"), kAppendOk);
  EXPECT_EQ(readAll(log), "x\r\n");
}

TEST(LogAppend, CyrillicPathIsWindows1251) {
  test::TempDir dir;
  const std::string log = dir.file("журнал.log");  // UTF-8 on this file system
  EXPECT_EQ(appendLogRecord(utf8ToCp1251(log), "x\r\n"), kAppendOk);
  EXPECT_EQ(readAll(log), "x\r\n");
}

TEST(LogAppend, UnopenablePathReportsLostRecord) {
  test::TempDir dir;
  // A directory cannot be opened for appending; it exists, so nothing is created either.
  EXPECT_EQ(appendLogRecord(dir.str(), "x\r\n"), kAppendFailed);
  EXPECT_TRUE(std::filesystem::is_directory(dir.path()));
  // A file in a missing directory can be neither opened nor created.
  const std::string inMissing = dir.file("missing/real_time.log");
  EXPECT_EQ(appendLogRecord(inMissing, "x\r\n"), kAppendFailed);
  EXPECT_FALSE(std::filesystem::exists(inMissing));
}

// --- the timer tick ---

TEST(RealTimeTicker, IntervalOneLogsEverySuccessfulTick) {
  RealTimeTicker ticker;
  ticker.reset();
  for (int i = 0; i < 5; ++i) {
    const TickOutcome outcome = ticker.tick(kOk, 1, true);
    EXPECT_TRUE(outcome.refresh);
    EXPECT_TRUE(outcome.writeLog) << "tick " << i;
    EXPECT_EQ(ticker.tickCounter, 1);
  }
}

TEST(RealTimeTicker, IntervalTenLogsAtTenthAndTwentiethTick) {
  RealTimeTicker ticker;
  ticker.reset();
  std::vector<int> logged;
  for (int i = 1; i <= 25; ++i) {
    if (ticker.tick(kOk, 10, true).writeLog) logged.push_back(i);
  }
  EXPECT_EQ(logged, (std::vector<int>{10, 20}));
}

TEST(RealTimeTicker, LoweringIntervalBelowCounterLogsNextTick) {
  RealTimeTicker ticker;
  ticker.reset();
  for (int i = 0; i < 5; ++i) ASSERT_FALSE(ticker.tick(kOk, 10, true).writeLog);
  ASSERT_EQ(ticker.tickCounter, 6);
  EXPECT_TRUE(ticker.tick(kOk, 3, true).writeLog);
  EXPECT_EQ(ticker.tickCounter, 1);
}

TEST(RealTimeTicker, FailedQueriesChangeNothing) {
  RealTimeTicker ticker;
  ticker.reset();
  ticker.tick(kOk, 10, true);
  ticker.tick(kOk, 10, true);
  ASSERT_EQ(ticker.tickCounter, 3);
  for (int i = 0; i < 50; ++i) {
    for (int result : {kNoHandshake, kLineStatePortError}) {
      const TickOutcome outcome = ticker.tick(result, 1, true);
      EXPECT_FALSE(outcome.refresh);
      EXPECT_FALSE(outcome.writeLog);
    }
  }
  EXPECT_EQ(ticker.tickCounter, 3);
}

TEST(RealTimeTicker, LoggingOffStillRestartsCount) {
  RealTimeTicker ticker;
  ticker.reset();
  for (int i = 1; i <= 3; ++i) {
    const TickOutcome outcome = ticker.tick(kOk, 3, false);
    EXPECT_TRUE(outcome.refresh);
    EXPECT_FALSE(outcome.writeLog);
  }
  EXPECT_EQ(ticker.tickCounter, 1);
  // Turning logging on mid-count: the record waits for the count to reach the interval.
  EXPECT_FALSE(ticker.tick(kOk, 3, true).writeLog);
  EXPECT_FALSE(ticker.tick(kOk, 3, true).writeLog);
  EXPECT_TRUE(ticker.tick(kOk, 3, true).writeLog);
}

TEST(RealTimeTicker, ResetRestartsCount) {
  RealTimeTicker ticker;
  ticker.tick(kOk, 10, true);
  ticker.tick(kOk, 10, true);
  ticker.reset();
  EXPECT_EQ(ticker.tickCounter, 1);
}

TEST(LogInterval, WrapsAndClamps) {
  EXPECT_EQ(stepLogInterval(300, 1), 1);
  EXPECT_EQ(stepLogInterval(1, -1), 300);
  EXPECT_EQ(stepLogInterval(10, 1), 11);
  EXPECT_EQ(stepLogInterval(10, -1), 9);
  EXPECT_EQ(stepLogInterval(299, 3), 2);
  EXPECT_EQ(stepLogInterval(5, -600), 5);
  EXPECT_EQ(clampLogInterval(0), 1);
  EXPECT_EQ(clampLogInterval(-7), 1);
  EXPECT_EQ(clampLogInterval(301), 300);
  EXPECT_EQ(clampLogInterval(42), 42);
}

}  // namespace
}  // namespace kordel
