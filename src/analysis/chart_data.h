// Call analysis: the points a window draws its charts from, made from an AnalysisResult.
//
// The day series of a result holds the days with calls only; a chart over the period wants the
// quiet days too. The trunk load of a result is one value per trunk and half hour of the period;
// whether a trunk needs more lines shows best as its busiest moment at each half hour of the
// day, over all the days counted.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "analysis/analyzer.h"

namespace kordel::analysis {

inline constexpr int kHalfHoursPerDay = 48;

// Every day from the first to the last of `byDay` (days with calls, in order), the days without
// calls as points of zero. When that span is longer than `maxDays` days, `byDay` as it is.
std::vector<SeriesPoint> everyDay(const std::vector<SeriesPoint>& byDay, std::size_t maxDays = 400);

struct TrunkProfile {
  std::string trunk;
  std::uint32_t peak = 0;
  // [i]: the greatest number of calls at one time in the half hour that starts i * 30 minutes
  // after midnight, on any day counted.
  std::array<std::uint32_t, kHalfHoursPerDay> halfHours{};
};

// The profile of each trunk over the half hours of the day. At most `maxTrunks`: those with the
// highest peaks (the earlier one of equal peaks), kept in the order of `loads`.
std::vector<TrunkProfile> trunkProfiles(const std::vector<TrunkLoad>& loads, std::size_t maxTrunks);

}  // namespace kordel::analysis
