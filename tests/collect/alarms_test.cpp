// The alarms of unattended collection: raised once, cleared once, at the thresholds.
#include "collect/alarms.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kordel {
namespace {

const PbxClock kNoon{2024, 3, 5, 12, 0, 0};

std::vector<std::string> names(const std::vector<AlarmEvent>& events) {
  std::vector<std::string> out;
  for (const AlarmEvent& e : events)
    out.push_back(std::string(e.raised ? "+" : "-") + alarmName(e.kind));
  return out;
}

TEST(AlarmMonitor, BufferFillAtEightyAndAtAHundredPercent) {
  const struct {
    int waiting;
    int capacity;
    std::vector<std::string> events;  // from a monitor with no alarm on
  } cases[] = {
      {79, 100, {}},
      {80, 100, {"+buffer-filling"}},
      {99, 100, {"+buffer-filling"}},
      {100, 100, {"+buffer-filling", "+buffer-full"}},
      {130, 100, {"+buffer-filling", "+buffer-full"}},
      {-3, 100, {}},  // counter B ahead of A
      {5, 0, {}},     // no capacity reported
      {1600, 2000, {"+buffer-filling"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.waiting) + " of " + std::to_string(c.capacity));
    AlarmMonitor m;
    EXPECT_EQ(names(m.identified(c.waiting, c.capacity, kNoon, kNoon, 0)), c.events);
  }
}

TEST(AlarmMonitor, EachAlarmIsRaisedOnceAndClearedOnce) {
  AlarmMonitor m;
  EXPECT_EQ(names(m.identified(85, 100, kNoon, kNoon, 0)),
            (std::vector<std::string>{"+buffer-filling"}));
  EXPECT_TRUE(m.identified(90, 100, kNoon, kNoon, 1000).empty());
  EXPECT_EQ(names(m.identified(100, 100, kNoon, kNoon, 2000)),
            (std::vector<std::string>{"+buffer-full"}));
  EXPECT_EQ(names(m.identified(10, 100, kNoon, kNoon, 3000)),
            (std::vector<std::string>{"-buffer-filling", "-buffer-full"}));
  EXPECT_FALSE(m.active(AlarmKind::kBufferFull));
}

TEST(AlarmMonitor, PbxClockAgainstTheComputersClock) {
  const struct {
    PbxClock pbx;
    bool alarm;
  } cases[] = {
      {{2024, 3, 5, 12, 5, 0}, false},   // 5 min ahead: the limit itself
      {{2024, 3, 5, 12, 5, 1}, true},    // a second more
      {{2024, 3, 5, 11, 54, 59}, true},  // behind
      {{2024, 3, 4, 12, 0, 0}, true},    // a day off
      {{2023, 3, 5, 12, 0, 0}, true},    // a year off (a clock never set)
      {{2024, 3, 5, 12, 0, 0}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pbx.hour * 100 + c.pbx.minute);
    AlarmMonitor m;
    m.identified(0, 100, c.pbx, kNoon, 0);
    EXPECT_EQ(m.active(AlarmKind::kClockSkew), c.alarm);
  }
  // Across midnight and a month's end the difference is counted in seconds, not fields.
  EXPECT_EQ(secondsBetween({2024, 2, 29, 23, 59, 0}, {2024, 3, 1, 0, 1, 0}), 120);
  EXPECT_EQ(secondsBetween({2024, 12, 31, 23, 59, 59}, {2025, 1, 1, 0, 0, 0}), 1);
}

TEST(AlarmMonitor, ASilentPbxAfterTheSetTime) {
  AlarmMonitor m(AlarmThresholds{.silentMinutes = 15});
  m.answered(0);
  EXPECT_TRUE(m.notAnswered(14 * 60000).empty());
  EXPECT_TRUE(m.notAnswered(15 * 60000).empty());  // not longer than the set time yet
  EXPECT_EQ(names(m.notAnswered(15 * 60000 + 1)), (std::vector<std::string>{"+pbx-silent"}));
  EXPECT_TRUE(m.notAnswered(40 * 60000).empty());
  EXPECT_EQ(names(m.answered(41 * 60000)), (std::vector<std::string>{"-pbx-silent"}));
  // Silent from the start: counted from the first failure.
  AlarmMonitor fresh;
  EXPECT_TRUE(fresh.notAnswered(100 * 60000).empty());
  EXPECT_EQ(names(fresh.notAnswered(116 * 60000)), (std::vector<std::string>{"+pbx-silent"}));
}

TEST(AlarmMonitor, TheDataFile) {
  AlarmMonitor m;
  const auto raised = m.dataFileFailed("/var/lib/kordel/office/calls.txt");
  ASSERT_EQ(raised.size(), 1u);
  EXPECT_NE(raised[0].text.find("/var/lib/kordel/office/calls.txt"), std::string::npos);
  EXPECT_TRUE(m.dataFileFailed("x").empty());
  EXPECT_EQ(names(m.dataFileWritten()), (std::vector<std::string>{"-data-file"}));
  EXPECT_TRUE(m.dataFileWritten().empty());
}

}  // namespace
}  // namespace kordel
