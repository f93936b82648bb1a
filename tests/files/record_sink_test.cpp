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

  EXPECT_EQ(link.delivery, Delivery::kNotSaved);
  // The lines are shown; the gauge and the buffer count only follow the records stored (the
  // others stay in the PBX).
  const std::vector<std::string> expected = {
      "gauge", "line " + formatCallRecordLine(first),  "counters 4 0",
      "line " + formatCallRecordLine(second), "counters 4 0",
      "line " + formatCallRecordLine(third),  "counters 4 0",
  };
  EXPECT_EQ(view.calls, expected);
  EXPECT_EQ(link.recordsInBuffer.load(), 4);
  EXPECT_EQ(readBytes(dataFile()), formatCallRecordLine(first) + "\r\n");
}

TEST_F(RecordSinkTest, NoDataFileFailsTheFirstRecord) {
  link.settings.dataFileName.clear();
  sink.onCallRecord(record(201, "1"));
  EXPECT_TRUE(sink.saveFailed());
  EXPECT_TRUE(link.stopRequested.load());
  EXPECT_EQ(sink.recordsSaved(), 0);
  ASSERT_EQ(view.calls.size(), 2u);
  EXPECT_EQ(view.calls[0], "line " + formatCallRecordLine(record(201, "1")));
}

// The data file as an earlier read left it, and whether the first record a unit offers in the
// next read is taken for the one that read stored last (it is then not stored again).
TEST_F(RecordSinkTest, TheRecordAnEarlierReadStoredIsTakenNotStoredAgain) {
  const CallRecord r = record(201, "111");
  const std::string line = formatCallRecordLine(r);
  CallRecord marked = r;
  marked.validity[kValidYear] = kOutOfRange;  // the same call, written in another year
  const std::string title = "       Данные на  05-03-2004 09:07:03 ";
  struct Case {
    const char* name;
    std::string file;
    bool first;
    bool alreadySaved;
  };
  const Case cases[] = {
      {"last call line", "x\r\n" + line + "\r\n", true, true},
      {"title lines after it", line + "\r\n" + title + "\r\n" + title + "\r\n", true, true},
      {"separators marked", formatCallRecordLine(marked) + "\r\n", true, true},
      {"LF line ends", line + "\n", true, true},
      {"not the first offer", line + "\r\n", false, false},
      {"another call last", line + "\r\n" + formatCallRecordLine(record(202, "2")) + "\r\n",
       true, false},
      {"torn last line", line.substr(0, 40), true, false},
      {"empty file", "", true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir d;
    PbxLink l(d.str());
    l.settings.dataFileName = d.file("data.txt");
    test::writeBytes(l.settings.dataFileName, c.file);
    RecordingView v;
    RecordSink s(l, v);
    l.recordsInBuffer = 3;
    ++l.readSerial;
    l.offerFirst = c.first;
    l.delivery = Delivery::kSaved;
    s.onCallRecord(r);
    EXPECT_EQ(l.delivery, c.alreadySaved ? Delivery::kAlreadySaved : Delivery::kSaved);
    EXPECT_EQ(s.recordsSaved(), c.alreadySaved ? 0 : 1);
    EXPECT_EQ(s.recordsAlreadySaved(), c.alreadySaved ? 1 : 0);
    EXPECT_EQ(l.recordsInBuffer.load(), 2);  // taken either way
    const std::string expected =
        c.alreadySaved ? c.file
                       : c.file + (c.file.empty() || c.file.back() == '\n' ? "" : "\r\n") +
                             line + "\r\n";
    EXPECT_EQ(readBytes(l.settings.dataFileName), expected);
  }
}

TEST_F(RecordSinkTest, OnlyOneRecordOfAReadCanBeTheOneLeftInThePbx) {
  // Two units (a complex) whose first records both match the last line: the second is a call
  // of its own (the limit of the rule is byte-identical calls, not this).
  const CallRecord r = record(201, "111");
  test::writeBytes(dataFile(), formatCallRecordLine(r) + "\r\n");
  ++link.readSerial;
  link.offerFirst = true;
  sink.onCallRecord(r);
  EXPECT_EQ(link.delivery, Delivery::kAlreadySaved);
  link.delivery = Delivery::kSaved;
  sink.onCallRecord(r);
  EXPECT_EQ(link.delivery, Delivery::kSaved);
  // The next read looks at the file afresh.
  ++link.readSerial;
  sink.onCallRecord(r);
  EXPECT_EQ(link.delivery, Delivery::kAlreadySaved);
}

}  // namespace
}  // namespace kordel
