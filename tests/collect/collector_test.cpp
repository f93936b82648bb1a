// Continuous collection against the PBX simulator: a port that goes away and comes back, a data
// file that cannot be written for a while, and single reads that meet a port error or a PBX
// that falls silent.
#include "collect/collector.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "files/record_sink.h"
#include "pbxsim.h"
#include "support/call_records.h"
#include "support/temp_dir.h"

namespace kordel {
namespace {

using namespace std::chrono_literals;

class NullView : public RecordView {
 public:
  void lowerGauge() override {}
  void addLine(const std::string&) override {}
  void showCounters(int, int) override {}
};

class Events : public CollectorObserver {
 public:
  void passFailed(const std::string& reason, int) override { add("failed " + reason); }
  void retryFailed(const std::string&, int) override { ++retries; }
  void recovered() override { add("recovered"); }
  void add(const std::string& e) {
    std::lock_guard lock(mutex);
    events.push_back(e);
  }
  std::vector<std::string> snapshot() {
    std::lock_guard lock(mutex);
    return events;
  }
  std::mutex mutex;
  std::vector<std::string> events;
  std::atomic<int> retries{0};
};

pbxsim::Record callAt(int minute) {
  pbxsim::CallFields f;
  f.year = 2024;
  f.month = 3;
  f.day = 5;
  f.hour = 9;
  f.minute = minute;
  f.durationSeconds = 60;
  f.hardwareNumber = 200 + minute;
  f.programmed = "21";
  f.trunk = 1;
  f.dialed = "84951234";
  return pbxsim::makeRecord(f, 6);
}

int callLines(const std::string& file) {
  const std::string text = test::readBytes(file);
  int n = 0;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\n', at);
    if (text[at] != ' ') ++n;
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return n;
}

struct Collecting {
  explicit Collecting(int records) {
    pbxsim::Scenario s;
    s.modelCode = 4;
    s.linkPath = dir.file("pbx");
    for (int i = 0; i < records; ++i) s.units[0].records.push_back(callAt(i));
    sim = std::make_unique<pbxsim::Simulator>(s);
    sim->start();
    link = std::make_unique<PbxLink>(dir.str());
    link->settings.portName = s.linkPath;
    link->settings.dataFileName = dir.file("calls.txt");
    EXPECT_EQ(link->openPort(link->settings.portName), kOk);
    EXPECT_EQ(link->queryStatus(), kOk);
    sink = std::make_unique<RecordSink>(*link, view);
    sink->attach();
  }
  void start(CollectorOptions options) {
    link->continuousMode = true;
    collector = std::make_unique<Collector>(*link, *sink, events, options);
    thread = std::thread([this] { end = collector->run(); });
  }
  void stop() {
    link->stopRequested = true;
    link->continuousMode = false;
    thread.join();
  }

  test::TempDir dir;
  std::unique_ptr<pbxsim::Simulator> sim;
  std::unique_ptr<PbxLink> link;
  NullView view;
  std::unique_ptr<RecordSink> sink;
  Events events;
  std::unique_ptr<Collector> collector;
  std::thread thread;
  CollectorResult end;
};

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

TEST(Collector, AContinuousReadWaitsForAPortThatWentAwayAndGoesOnWhenItIsBack) {
  Collecting c(3);
  c.start({.firstRetryMs = 200, .maxRetryMs = 800});
  ASSERT_TRUE(c.sim->waitForTaken(3, 10s));
  // The line hangs up while the buffer is empty: no busy loop, one report, tries that wait.
  c.sim->hangUp();
  const unsigned passesBefore = c.link->readSerial;
  std::this_thread::sleep_for(2500ms);
  const unsigned passesDuring = c.link->readSerial - passesBefore;
  EXPECT_LE(passesDuring, 2u) << "passes while the port was gone";
  EXPECT_GE(c.events.retries.load(), 1);
  EXPECT_LE(c.events.retries.load(), 6);  // 0.2, 0.4, 0.8, 0.8 s ... apart
  c.sim->comeBack();  // a new device under the same name
  ASSERT_TRUE(waitFor([&] { return c.events.snapshot().size() >= 2; }, 10s));
  c.sim->addRecord(callAt(30));
  ASSERT_TRUE(c.sim->waitForTaken(4, 10s));
  ASSERT_TRUE(waitFor([&] { return c.sink->recordsSaved() == 4; }, 5s));
  c.stop();
  const auto events = c.events.snapshot();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].rfind("failed ", 0), 0u);
  EXPECT_EQ(events[1], "recovered");
  EXPECT_EQ(callLines(c.link->settings.dataFileName), 4);
}

TEST(Collector, TheServiceKeepsTryingADataFileThatCannotBeWrittenYet) {
  Collecting c(4);
  const std::string folder = c.dir.file("later");
  c.link->settings.dataFileName = folder + "/calls.txt";
  c.start({.firstRetryMs = 200, .maxRetryMs = 400, .retryFailedSave = true});
  ASSERT_TRUE(waitFor([&] { return !c.events.snapshot().empty(); }, 10s));
  EXPECT_TRUE(c.sim->takenRecords().empty());  // nothing taken that was not stored
  std::filesystem::create_directory(folder);
  ASSERT_TRUE(c.sim->waitForTaken(4, 15s));
  ASSERT_TRUE(waitFor([&] { return c.sink->recordsSaved() == 4; }, 5s));
  c.stop();
  EXPECT_EQ(callLines(c.link->settings.dataFileName), 4);
}

TEST(Collector, ASingleReadEndsOnAPortErrorAndSaysSo) {
  Collecting c(50);
  pbxsim::Faults f;
  f.hangupAfter = static_cast<int>(c.sim->counters().requests) + 6;
  c.sim->setFaults(f);
  Collector collector(*c.link, *c.sink, c.events);
  const CollectorResult end = collector.run();
  EXPECT_TRUE(end.portError || end.result == kReadPortError || end.result == kReadFailed);
  EXPECT_TRUE(c.events.snapshot().empty());  // no retries: the caller reports it
  // Every record the PBX dropped is stored; one more may be, handed over and not yet taken.
  const int lines = callLines(c.link->settings.dataFileName);
  const int taken = static_cast<int>(c.sim->takenRecords().size());
  EXPECT_GT(taken, 0);
  EXPECT_GE(lines, taken);
  EXPECT_LE(lines, taken + 1);
}

TEST(Collector, ASingleReadThatThePbxFallsSilentInIsAFailure) {
  Collecting c(50);
  pbxsim::Faults f;
  f.silentAfter = static_cast<int>(c.sim->counters().requests) + 20;
  c.sim->setFaults(f);
  Collector collector(*c.link, *c.sink, c.events);
  const CollectorResult end = collector.run();
  EXPECT_EQ(end.result, kReadFailed);
  EXPECT_FALSE(end.portError);
  EXPECT_EQ(c.link->lastFault, LinkFault::kNoHandshake);
  const int taken = static_cast<int>(c.sim->takenRecords().size());
  EXPECT_GT(taken, 0);
  EXPECT_LT(taken, 50);
  EXPECT_GE(callLines(c.link->settings.dataFileName), taken);
}

}  // namespace
}  // namespace kordel
