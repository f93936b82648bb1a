// Loading many data files: folders, repeated lines, skipped and bad lines, two threads,
// cancelling.
#include "analysis/call_store.h"

#include <algorithm>
#include <filesystem>

#include "analysis_test_util.h"

namespace kordel::analysis {
namespace {

using testing::callLine;
using testing::crlf;
using testing::loadOk;
using testing::TempDir;
using testing::writeBytes;

// Every call of a store as text, sorted: stores with other text ids compare equal.
std::vector<std::string> callsOf(const CallStore& store) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < store.size(); ++i) {
    const Call& c = store[i];
    out.push_back(formatDateTime(c.start) + " " + std::to_string(c.duration) + " " +
                  std::string(store.hardware().text(c.hardware)) + "(" +
                  std::string(store.programmed().text(c.programmed)) + ") " +
                  std::string(store.trunks().text(c.trunk)) + " " +
                  std::string(store.numbers().text(c.number)) + " " + std::to_string(c.marks));
  }
  std::sort(out.begin(), out.end());
  return out;
}

TEST(CallStore, ReadsFilesAndTheRegularFilesOfFolders) {
  TempDir dir;
  std::filesystem::create_directories(dir.path() / "year" / "old");
  writeBytes(dir.file("year/2024-01.txt"),
             crlf({callLine("2024-01-05 10:00:00", 65, 123, "201", "1", "84951234567")}));
  writeBytes(dir.file("year/2024-02.txt"),
             crlf({callLine("2024-02-05 10:00:00", 40, 124, "202", "2", ""),
                   callLine("2024-02-06 11:00:00", 50, 124, "202", "2", "2345678")}));
  writeBytes(dir.file("year/.hidden.txt"),
             crlf({callLine("2024-03-01 10:00:00", 1, 1, "1", "1", "")}));
  writeBytes(dir.file("year/old/2023.txt"),
             crlf({callLine("2023-03-01 10:00:00", 1, 1, "1", "1", "")}));
  writeBytes(dir.file("single.txt"),
             crlf({callLine("2024-03-05 09:07:03", 5, 125, "-1", "", "567")}));

  CallStore store;
  const LoadResult result = loadOk(store, {dir.file("year"), dir.file("single.txt")});
  ASSERT_EQ(result.files.size(), 3u);
  EXPECT_NE(result.files[0].path.find("2024-01.txt"), std::string::npos);
  EXPECT_NE(result.files[1].path.find("2024-02.txt"), std::string::npos);
  EXPECT_EQ(result.calls, 4u);
  EXPECT_EQ(
      callsOf(store),
      (std::vector<std::string>{
          "05.01.2024 10:00:00 65 123(201) 1 84951234567 0", "05.02.2024 10:00:00 40 124(202) 2  0",
          "05.03.2024 09:07:03 5 125()  567 0", "06.02.2024 11:00:00 50 124(202) 2 2345678 0"}));

  const LoadResult missing = store.load({dir.file("nothing-here")});
  EXPECT_FALSE(missing.ok());
  EXPECT_EQ(store.size(), 4u) << "a failed load keeps the calls";
}

TEST(CallStore, ARepeatedLineCountsOnceInAnyFile) {
  TempDir dir;
  const std::string a = callLine("2024-01-05 10:00:00", 65, 123, "201", "1", "84951234567");
  const std::string b = callLine("2024-01-05 10:05:00", 30, 123, "201", "1", "");
  std::string marked = a;
  marked[2] = marked[5] = '*';  // the same digits with a suspicious date: another line
  writeBytes(dir.file("jan.txt"), crlf({a, b, a}));
  writeBytes(dir.file("jan copy.txt"), crlf({a, b}));
  writeBytes(dir.file("edited.txt"),
             a + "\n" + b.substr(0, b.find_last_not_of(' ') + 1) + "\n" + marked + "\n");
  CallStore store;
  const LoadResult result = loadOk(store, {dir.str()});
  EXPECT_EQ(result.callLines, 8u);
  EXPECT_EQ(result.calls, 3u);
  EXPECT_EQ(result.duplicates, 5u);
  std::size_t markedCalls = 0;
  for (std::size_t i = 0; i < store.size(); ++i) markedCalls += store[i].marks == kMarkedDate;
  EXPECT_EQ(markedCalls, 1u);
}

TEST(CallStore, SkipsTitleAndShortLinesAndListsBadOnes) {
  TempDir dir;
  PbxClock clock{2024, 3, 5, 9, 0, 0};
  std::string bad = callLine("2024-03-05 09:00:00", 1, 123, "1", "1", "2");
  bad.replace(3, 2, "13");
  const std::string good = callLine("2024-03-05 09:00:00", 61, 123, "201", "1", "2*345");
  const std::string bytes = headerLine(clock) + "\r\n" + columnTitleLine() + "\r\n" +
                            std::string(46, '1') + "\n" + good.substr(0, 47) + "\r" + "\r\n" + bad +
                            "\n" + good;
  writeBytes(dir.file("data.txt"), bytes);
  CallStore store;
  const LoadResult result = loadOk(store, {dir.file("data.txt")});
  EXPECT_EQ(result.lines, 7u);
  EXPECT_EQ(result.callLines, 3u);
  EXPECT_EQ(result.calls, 2u);
  EXPECT_EQ(result.badLines, 1u);
  ASSERT_EQ(result.firstBadLines.size(), 1u);
  EXPECT_EQ(result.firstBadLines[0].lineNumber, 6u);
  EXPECT_EQ(result.firstBadLines[0].text, bad);
  EXPECT_EQ(cp1251ToUtf8(result.firstBadLines[0].reason), "неверная дата");
  bool sawMarkedNumber = false;
  for (std::size_t i = 0; i < store.size(); ++i) {
    if (store[i].marks == kMarkedNumber) {
      sawMarkedNumber = true;
      EXPECT_EQ(store.numbers().text(store[i].number), "2*345");
    }
  }
  EXPECT_TRUE(sawMarkedNumber);
}

// The two threads split the bytes at their middle; wherever that falls (inside a line, on a
// CR of a CR LF, between CR and LF), every line is read once and the bad lines keep their
// numbers.
TEST(CallStore, TwoThreadsReadWhatOneReads) {
  TempDir dir;
  std::vector<std::string> lines;
  for (int i = 0; i < 12; ++i) {
    lines.push_back(
        callLine("2024-01-0" + std::to_string(1 + i % 9) + " 10:00:0" + std::to_string(i % 10),
                 60 + i, 100 + i % 3, std::to_string(200 + i % 3), "1",
                 i % 4 == 0 ? "" : "8495" + std::to_string(i)));
  }
  std::string bad = lines[9];
  bad.replace(0, 2, "32");
  const char* ends[] = {"\r\n", "\n", "\r"};
  for (std::size_t shift = 0; shift < 90; ++shift) {
    std::string bytes =
        " " + std::string(shift, 'x') + "\r\n";  // a title-like line moves the middle
    for (std::size_t i = 0; i < lines.size(); ++i) {
      bytes += (i == 7 ? bad : lines[i]) + ends[(i + shift) % 3];
      if (i == 3) bytes += lines[1] + "\r\n";  // a repeated line
    }
    writeBytes(dir.file("a.txt"), bytes);
    writeBytes(dir.file("b.txt"), crlf({lines[0], lines[11]}));
    CallStore one, two;
    const LoadResult r1 = loadOk(one, {dir.file("a.txt"), dir.file("b.txt")}, 1);
    const LoadResult r2 = loadOk(two, {dir.file("a.txt"), dir.file("b.txt")}, 2);
    ASSERT_EQ(callsOf(one), callsOf(two)) << "shift " << shift;
    EXPECT_EQ(r1.calls, 11u) << shift;
    EXPECT_EQ(r2.lines, r1.lines) << shift;
    EXPECT_EQ(r2.duplicates, 3u) << shift;
    ASSERT_EQ(r2.firstBadLines.size(), 1u) << shift;
    EXPECT_EQ(r2.firstBadLines[0].lineNumber, 10u) << shift;
    EXPECT_EQ(r2.firstBadLines[0].text, bad) << shift;
  }
}

TEST(CallStore, ACancelledLoadKeepsTheCallsAndProgressReachesTheEnd) {
  TempDir dir;
  std::vector<std::string> lines;
  for (int i = 0; i < 2000; ++i) {
    lines.push_back(callLine("2024-01-01 10:00:00", i, 100 + i % 50, "1", "1", "8"));
  }
  writeBytes(dir.file("a.txt"), crlf(lines));
  CallStore store;
  LoadProgress last;
  std::size_t reports = 0;
  LoadOptions options;
  options.progress = [&](const LoadProgress& p) {
    last = p;
    ++reports;
  };
  ASSERT_TRUE(store.load({dir.file("a.txt")}, options).ok());
  EXPECT_GE(reports, 1u);
  EXPECT_EQ(last.bytesDone, last.bytesTotal);
  EXPECT_EQ(last.bytesTotal, std::filesystem::file_size(dir.path() / "a.txt"));
  EXPECT_EQ(store.size(), 2000u);

  writeBytes(dir.file("b.txt"), crlf({lines[0]}));
  std::atomic<bool> cancel{true};
  LoadOptions cancelled;
  cancelled.cancel = &cancel;
  const LoadResult result = store.load({dir.file("b.txt")}, cancelled);
  EXPECT_TRUE(result.cancelled);
  EXPECT_FALSE(result.ok());
  EXPECT_EQ(store.size(), 2000u);
}

}  // namespace
}  // namespace kordel::analysis
