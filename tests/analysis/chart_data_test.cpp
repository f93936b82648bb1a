// The points of the analysis window's charts: every day of a span, trunk profiles over the
// half hours of the day.
#include "analysis/chart_data.h"

#include <gtest/gtest.h>

#include "analysis/analysis_test_util.h"

namespace kordel::analysis {
namespace {

using testing::at;

SeriesPoint day(const char* date, std::uint64_t calls) {
  return SeriesPoint{at(std::string(date) + " 00:00:00"), calls,
                     static_cast<std::int64_t>(calls) * 60, 0};
}

TEST(EveryDay, FillsTheQuietDaysAndLeavesTooLongASpanAsItIs) {
  EXPECT_TRUE(everyDay({}).empty());
  const std::vector<SeriesPoint> days = {day("2024-02-28", 3), day("2024-03-02", 1)};
  const std::vector<SeriesPoint> filled = everyDay(days);
  ASSERT_EQ(filled.size(), 4u);  // a leap year: 28, 29 February, 1 and 2 March
  const std::uint64_t calls[] = {3, 0, 0, 1};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(filled[i].key, days[0].key + static_cast<std::int64_t>(i) * kSecondsPerDay);
    EXPECT_EQ(filled[i].calls, calls[i]);
  }
  EXPECT_EQ(filled[3].seconds, 60);
  EXPECT_EQ(everyDay(days, 3).size(), 2u);
}

TEST(TrunkProfiles, TakeTheBusiestMomentOfEachHalfHourOverTheDays) {
  auto load = [](const char* trunk, std::vector<std::pair<const char*, std::uint32_t>> slots) {
    TrunkLoad l;
    l.trunk = trunk;
    for (const auto& [time, peak] : slots) {
      l.halfHours.push_back(LoadSlot{at(time), peak});
      l.peak = std::max(l.peak, peak);
    }
    return l;
  };
  const std::vector<TrunkLoad> loads = {
      load("1",
           {{"2024-03-01 09:00:00", 2}, {"2024-03-02 09:00:00", 5}, {"2024-03-02 23:30:00", 1}}),
      load("2", {{"2024-03-01 00:00:00", 1}}), load("3", {{"2024-03-01 09:30:00", 5}}),
      load("4", {{"1969-12-31 12:30:00", 3}}),  // before 1970: still the right half hour
  };
  const std::vector<TrunkProfile> all = trunkProfiles(loads, 10);
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(all[0].halfHours[18], 5u);
  EXPECT_EQ(all[0].halfHours[47], 1u);
  EXPECT_EQ(all[0].halfHours[19], 0u);
  EXPECT_EQ(all[1].halfHours[0], 1u);
  EXPECT_EQ(all[3].halfHours[25], 3u);
  // The two busiest (equal peaks: both kept), in the order of the trunks.
  const std::vector<TrunkProfile> two = trunkProfiles(loads, 2);
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[0].trunk, "1");
  EXPECT_EQ(two[1].trunk, "3");
  EXPECT_EQ(trunkProfiles(loads, 3)[2].trunk, "4");
}

}  // namespace
}  // namespace kordel::analysis
