#include "analysis/chart_data.h"

#include <algorithm>
#include <numeric>

#include "analysis/calendar.h"

namespace kordel::analysis {

std::vector<SeriesPoint> everyDay(const std::vector<SeriesPoint>& byDay, std::size_t maxDays) {
  if (byDay.empty()) return {};
  const std::int64_t first = byDay.front().key;
  const std::int64_t last = byDay.back().key;
  const std::int64_t days = (last - first) / kSecondsPerDay + 1;
  if (days <= 0 || static_cast<std::uint64_t>(days) > maxDays) return byDay;
  std::vector<SeriesPoint> out(static_cast<std::size_t>(days));
  for (std::size_t i = 0; i < out.size(); ++i) {
    out[i].key = first + static_cast<std::int64_t>(i) * kSecondsPerDay;
  }
  for (const SeriesPoint& p : byDay) {
    out[static_cast<std::size_t>((p.key - first) / kSecondsPerDay)] = p;
  }
  return out;
}

std::vector<TrunkProfile> trunkProfiles(const std::vector<TrunkLoad>& loads,
                                        std::size_t maxTrunks) {
  std::vector<std::size_t> order(loads.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  if (order.size() > maxTrunks) {
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return loads[a].peak > loads[b].peak; });
    order.resize(maxTrunks);
    std::sort(order.begin(), order.end());
  }
  std::vector<TrunkProfile> out;
  out.reserve(order.size());
  for (std::size_t i : order) {
    const TrunkLoad& load = loads[i];
    TrunkProfile profile;
    profile.trunk = load.trunk;
    profile.peak = load.peak;
    for (const LoadSlot& slot : load.halfHours) {
      const std::int64_t second =
          slot.start - floorDiv(slot.start, kSecondsPerDay) * kSecondsPerDay;
      std::uint32_t& cell = profile.halfHours[static_cast<std::size_t>(second / 1800)];
      cell = std::max(cell, slot.peak);
    }
    out.push_back(std::move(profile));
  }
  return out;
}

}  // namespace kordel::analysis
