// Analysis window: the charts of a result, drawn with Qt Charts.
//
// - By hour of the day: calls as bars (left axis), minutes as a line (right axis).
// - By day of the period: the same for every day from the first to the last with calls.
// - Trunk load: for each trunk (at most kChartTrunks, the busiest), the greatest number of calls
//   at one time in each half hour of the day over the days counted, as steps: more lines are
//   needed where a trunk stands at its number of lines.
//
// The series carry names the tests and the legend read: "Звонки", "Минуты", and the trunk's
// number for each trunk.
#pragma once

#include <QtCharts/QChart>
#include <cstddef>

#include "analysis/analyzer.h"

namespace kordel::analysis::gui {

inline constexpr std::size_t kChartTrunks = 12;

// New charts (the caller owns them; a QChartView takes them over).
QChart* makeHourChart(const AnalysisResult& result);
QChart* makeDayChart(const AnalysisResult& result);
QChart* makeTrunkLoadChart(const AnalysisResult& result);

}  // namespace kordel::analysis::gui
