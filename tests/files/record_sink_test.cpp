#include "files/record_sink.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "files/call_record_line.h"
#include "link/pbx_link.h"
#include "support/call_records.h"
#include "support/temp_dir.h"

namespace kordel {
namespace {

using test::readBytes;
using test::TempDir;

// Records every window action as one text, in call order.
class RecordingView : public RecordView {
 public:
  void lowerGauge() override { calls.push_back("gauge"); }
  void addLine(const std::string& line) override { calls.push_back("line " + line); }
  void showCounters(int recordsInBuffer, int rejectedCount) override {
    calls.push_back("counters " + std::to_string(recordsInBuffer) + " " +
                    std::to_string(rejectedCount));
  }
  std::vector<std::string> calls;
};

CallRecord record(int hardwareNumber, const std::string& dialed) {
  return test::makeRecord(hardwareNumber, "21", "201", dialed, 0, 0, 40);
}

class RecordSinkTest : public ::testing::Test {
 protected:
  RecordSinkTest() : link(dir.str()), sink(link, view) { link.settings.dataFileName = dataFile(); }
  std::string dataFile() const { return dir.file("data.txt"); }

  TempDir dir;
  PbxLink link;
  RecordingView view;
  RecordSink sink;
};

TEST_F(RecordSinkTest, EachRecordIsSavedThenShownInOrder) {
  link.recordsInBuffer = 2;
  link.rejectedCount = 1;
  const CallRecord records[] = {record(201, "123"), record(202, "456"), record(203, "")};
  sink.onCallRecord(records[0]);
  sink.onCallRecord(records[1]);
  link.rejectedCount = 4;
  sink.onCallRecord(records[2]);

  const std::string lines[] = {formatCallRecordLine(records[0]), formatCallRecordLine(records[1]),
                               formatCallRecordLine(records[2])};
  const std::vector<std::string> expected = {
      "gauge", "line " + lines[0], "counters 1 1",  //
      "gauge", "line " + lines[1], "counters 0 1",  //
      "gauge", "line " + lines[2], "counters 0 4",  // never below zero
  };
  EXPECT_EQ(view.calls, expected);
  EXPECT_EQ(link.recordsInBuffer.load(), 0);
  EXPECT_EQ(readBytes(dataFile()), lines[0] + "\r\n" + lines[1] + "\r\n" + lines[2] + "\r\n");
  EXPECT_EQ(sink.recordsSaved(), 3);
  EXPECT_FALSE(sink.saveFailed());
  EXPECT_TRUE(sink.failedLine().empty());
  EXPECT_FALSE(link.stopRequested.load());
}

TEST_F(RecordSinkTest, FailedAppendStopsTheReadButStillShowsTheLine) {
  link.recordsInBuffer = 5;
  const CallRecord first = record(201, "111");
  const CallRecord second = record(202, "222");
  const CallRecord third = record(203, "333");
  sink.onCallRecord(first);
  ASSERT_FALSE(link.stopRequested.load());

  link.settings.dataFileName = dir.file("gone") + "/data.txt";
  sink.onCallRecord(second);
  EXPECT_TRUE(sink.saveFailed());
  EXPECT_EQ(sink.failedLine(), formatCallRecordLine(second));
  EXPECT_TRUE(link.stopRequested.load());
  EXPECT_EQ(sink.recordsSaved(), 1);

  // A record that still arrives keeps the read stopped; the first failed line is kept.
  link.stopRequested = false;
  sink.onCallRecord(third);
  EXPECT_TRUE(link.stopRequested.load());
  EXPECT_EQ(sink.failedLine(), formatCallRecordLine(second));

  const std::vector<std::string> expected = {
      "gauge", "line " + formatCallRecordLine(first),  "counters 4 0",
      "gauge", "line " + formatCallRecordLine(second), "counters 3 0",
      "gauge", "line " + formatCallRecordLine(third),  "counters 2 0",
  };
  EXPECT_EQ(view.calls, expected);
  EXPECT_EQ(readBytes(dataFile()), formatCallRecordLine(first) + "\r\n");
}

TEST_F(RecordSinkTest, NoDataFileFailsTheFirstRecord) {
  link.settings.dataFileName.clear();
  sink.onCallRecord(record(201, "1"));
  EXPECT_TRUE(sink.saveFailed());
  EXPECT_TRUE(link.stopRequested.load());
  EXPECT_EQ(sink.recordsSaved(), 0);
  ASSERT_EQ(view.calls.size(), 3u);
  EXPECT_EQ(view.calls[1], "line " + formatCallRecordLine(record(201, "1")));
}

}  // namespace
}  // namespace kordel
