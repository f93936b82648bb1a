#include "analysis/gui/analysis_charts.h"

#include <QtCharts/QBarCategoryAxis>
#include <QtCharts/QBarSeries>
#include <QtCharts/QBarSet>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <algorithm>
#include <cmath>

#include "analysis/calendar.h"
#include "analysis/chart_data.h"
#include "app/gui/qt_text.h"

namespace kordel::analysis::gui {

namespace {

using kordel::gui::u;

// A value axis from 0 with whole-number labels and a little room above the highest value.
QValueAxis* countAxis(double highest, const QString& title) {
  auto* axis = new QValueAxis;
  axis->setTitleText(title);
  axis->setLabelFormat(QStringLiteral("%.0f"));
  axis->setRange(0, std::max(1.0, std::ceil(highest * 1.1)));
  axis->applyNiceNumbers();
  return axis;
}

QChart* newChart(const QString& title) {
  auto* chart = new QChart;
  chart->setTitle(title);
  chart->setAnimationOptions(QChart::NoAnimation);
  chart->legend()->setAlignment(Qt::AlignBottom);
  chart->setMargins(QMargins(4, 4, 4, 4));
  return chart;
}

// Calls as bars and minutes as a line over categories.
QChart* callsAndMinutes(const QString& title, const QStringList& categories,
                        const std::vector<SeriesPoint>& points) {
  QChart* chart = newChart(title);
  auto* calls = new QBarSet(u("Звонки"));
  auto* minutes = new QLineSeries;
  minutes->setName(u("Минуты"));
  double mostCalls = 0, mostMinutes = 0;
  for (std::size_t i = 0; i < points.size(); ++i) {
    const double n = static_cast<double>(points[i].calls);
    const double m = static_cast<double>(points[i].seconds) / 60.0;
    calls->append(n);
    minutes->append(static_cast<double>(i), m);
    mostCalls = std::max(mostCalls, n);
    mostMinutes = std::max(mostMinutes, m);
  }
  auto* bars = new QBarSeries;
  bars->append(calls);
  chart->addSeries(bars);
  chart->addSeries(minutes);

  auto* x = new QBarCategoryAxis;
  x->append(categories);
  if (categories.size() > 24) x->setLabelsAngle(-90);
  chart->addAxis(x, Qt::AlignBottom);
  QValueAxis* left = countAxis(mostCalls, u("Звонки"));
  chart->addAxis(left, Qt::AlignLeft);
  QValueAxis* right = countAxis(mostMinutes, u("Минуты"));
  chart->addAxis(right, Qt::AlignRight);
  bars->attachAxis(x);
  bars->attachAxis(left);
  minutes->attachAxis(x);
  minutes->attachAxis(right);
  return chart;
}

}  // namespace

QChart* makeHourChart(const AnalysisResult& result) {
  QStringList hours;
  for (int h = 0; h < 24; ++h) hours << QString::number(h);
  std::vector<SeriesPoint> points = result.byHour;
  points.resize(24);  // a result always has 24; an empty one (nothing analysed yet) none
  return callsAndMinutes(u("Звонки и минуты по часам суток"), hours, points);
}

QChart* makeDayChart(const AnalysisResult& result) {
  const std::vector<SeriesPoint> points = everyDay(result.byDay);
  // The axis drops a repeated category, so a span of more than one year names the years.
  const bool years =
      !points.empty() && civilTime(points.front().key).year != civilTime(points.back().key).year;
  QStringList days;
  for (const SeriesPoint& p : points) {
    const CivilTime t = civilTime(p.key);
    QString day = QStringLiteral("%1.%2")
                      .arg(t.day, 2, 10, QLatin1Char('0'))
                      .arg(t.month, 2, 10, QLatin1Char('0'));
    if (years) day += QStringLiteral(".%1").arg(t.year % 100, 2, 10, QLatin1Char('0'));
    days << day;
  }
  return callsAndMinutes(u("Звонки и минуты по дням"), days, points);
}

QChart* makeTrunkLoadChart(const AnalysisResult& result) {
  const std::vector<TrunkProfile> profiles = trunkProfiles(result.trunkLoad, kChartTrunks);
  QString title = u("Наибольшее число одновременных звонков на СЛ по получасам суток");
  if (result.trunkLoad.size() > profiles.size()) {
    title += u(" (%1 СЛ с наибольшей нагрузкой из %2)")
                 .arg(profiles.size())
                 .arg(result.trunkLoad.size());
  }
  QChart* chart = newChart(title);
  std::uint32_t highest = 0;
  std::vector<QLineSeries*> lines;
  for (const TrunkProfile& profile : profiles) {
    auto* line = new QLineSeries;
    line->setName(u("СЛ ") + kordel::gui::fromCp1251(profile.trunk));
    // Steps: the value holds for the whole half hour.
    for (int i = 0; i < kHalfHoursPerDay; ++i) {
      const double v = profile.halfHours[static_cast<std::size_t>(i)];
      line->append(i / 2.0, v);
      line->append((i + 1) / 2.0, v);
    }
    highest = std::max(highest, profile.peak);
    chart->addSeries(line);
    lines.push_back(line);
  }
  auto* x = new QValueAxis;
  x->setTitleText(u("Час суток"));
  x->setRange(0, 24);
  x->setTickCount(13);
  x->setLabelFormat(QStringLiteral("%.0f"));
  chart->addAxis(x, Qt::AlignBottom);
  auto* y = new QValueAxis;
  y->setTitleText(u("Одновременно"));
  y->setLabelFormat(QStringLiteral("%.0f"));
  y->setRange(0, highest + 1);
  if (highest + 2 <= 11) {
    y->setTickCount(static_cast<int>(highest + 2));  // one tick per call
  } else {
    y->applyNiceNumbers();
  }
  chart->addAxis(y, Qt::AlignLeft);
  for (QLineSeries* line : lines) {
    line->attachAxis(x);
    line->attachAxis(y);
  }
  return chart;
}

}  // namespace kordel::analysis::gui
