#include "analysis/gui/analysis_pdf.h"

#include <QCoreApplication>
#include <QFile>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QtCharts/QChartView>
#include <algorithm>
#include <functional>

#include "analysis/export.h"
#include "analysis/gui/analysis_charts.h"
#include "app/gui/qt_text.h"

namespace kordel::analysis::gui {

namespace {

using kordel::gui::u;

constexpr int kResolution = 300;  // dots per inch of the page
// The size at which a chart is laid out before it is drawn onto the page (scaled to fit).
constexpr int kChartWidth = 760;
constexpr int kChartHeight = 400;
// Rows of a table measured for its column widths.
constexpr std::size_t kMeasuredRows = 2000;

class PageWriter {
 public:
  PageWriter(QPdfWriter& writer, QPainter& painter)
      : writer_(writer), painter_(painter), width_(writer.width()), height_(writer.height()) {}

  void font(double points, bool bold) {
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setStyleHint(QFont::SansSerif);
    f.setPointSizeF(points);
    f.setBold(bold);
    painter_.setFont(f);
  }
  double lineHeight() const {
    return QFontMetricsF(painter_.font(), painter_.device()).height() * 1.25;
  }

  // A new page when `height` does not fit below the cursor.
  void room(double height) {
    if (y_ + height > height_ && y_ > 0) newPage();
  }
  void newPage() {
    writer_.newPage();
    y_ = 0;
  }

  void line(const QString& text) {
    const double h = lineHeight();
    room(h);
    painter_.drawText(
        QRectF(0, y_, width_, h), Qt::AlignLeft | Qt::AlignVCenter,
        QFontMetricsF(painter_.font(), painter_.device()).elidedText(text, Qt::ElideRight, width_));
    y_ += h;
  }
  // Lines in two columns, filled down the first one first.
  void columns(const QStringList& texts) {
    const double h = lineHeight();
    const int rows = static_cast<int>((texts.size() + 1) / 2);
    room(h * rows);
    const QFontMetricsF metrics(painter_.font(), painter_.device());
    for (int i = 0; i < texts.size(); ++i) {
      const QRectF box(i < rows ? 0 : width_ / 2, y_ + h * (i % rows), width_ / 2, h);
      painter_.drawText(box, Qt::AlignLeft | Qt::AlignVCenter,
                        metrics.elidedText(texts[i], Qt::ElideRight, box.width()));
    }
    y_ += h * rows;
  }
  void space(double lines) { y_ += lineHeight() * lines; }

  void table(const ResultTable& table) {
    if (table.columns.empty()) return;
    font(11, true);
    room(lineHeight() * 3);
    line(kordel::gui::fromCp1251(table.title));
    font(7, false);
    const QFont plainFont = painter_.font();
    QFont boldFont = plainFont;
    boldFont.setBold(true);
    const QFontMetricsF plain(plainFont, painter_.device()), bold(boldFont, painter_.device());
    const double pad = plain.averageCharWidth();
    // Columns as wide as their widest text. When the page is narrower, the titles give way
    // first (cut short), then every column alike.
    std::vector<QString> titles;
    std::vector<double> widths, content;
    for (const Column& c : table.columns) {
      titles.push_back(kordel::gui::fromCp1251(c.title));
      widths.push_back(bold.horizontalAdvance(titles.back()) + 2 * pad);
      content.push_back(plain.horizontalAdvance(QStringLiteral("0000")) + 2 * pad);
    }
    for (std::size_t r = 0; r < std::min(table.rows.size(), kMeasuredRows); ++r) {
      for (std::size_t c = 0; c < widths.size() && c < table.rows[r].size(); ++c) {
        const QString text = kordel::gui::fromCp1251(cellText(table.rows[r][c]));
        content[c] = std::max(content[c], plain.horizontalAdvance(text) + 2 * pad);
      }
    }
    double total = 0, spare = 0;
    for (std::size_t c = 0; c < widths.size(); ++c) {
      widths[c] = std::max(widths[c], content[c]);
      total += widths[c];
      spare += widths[c] - content[c];
    }
    if (total > width_ && spare > 0) {
      const double share = std::min(1.0, (total - width_) / spare);
      total = 0;
      for (std::size_t c = 0; c < widths.size(); ++c) {
        widths[c] -= (widths[c] - content[c]) * share;
        total += widths[c];
      }
    }
    if (total > width_) {
      for (double& w : widths) w *= width_ / total;
      total = width_;
    }
    const double h = plain.height() * 1.35;
    auto header = [&] {
      painter_.setFont(boldFont);
      painter_.fillRect(QRectF(0, y_, total, h), QColor(225, 225, 225));
      double x = 0;
      for (std::size_t c = 0; c < widths.size(); ++c) {
        cell(QRectF(x, y_, widths[c], h), titles[c], Qt::AlignLeft, pad, bold);
        x += widths[c];
      }
      y_ += h;
      painter_.setFont(plainFont);
    };
    room(2 * h);
    header();
    for (const std::vector<Cell>& row : table.rows) {
      if (y_ + h > height_) {
        newPage();
        header();
      }
      double x = 0;
      for (std::size_t c = 0; c < widths.size() && c < row.size(); ++c) {
        const Qt::Alignment align = row[c].type == CellType::Text ? Qt::AlignLeft : Qt::AlignRight;
        cell(QRectF(x, y_, widths[c], h), kordel::gui::fromCp1251(cellText(row[c])), align, pad,
             plain);
        x += widths[c];
      }
      painter_.setPen(QColor(200, 200, 200));
      painter_.drawLine(QPointF(0, y_ + h), QPointF(total, y_ + h));
      painter_.setPen(Qt::black);
      y_ += h;
    }
    if (table.rows.empty()) line(u("(нет звонков)"));
    space(1);
  }

  void chart(QChart* chart) {
    // The view lays the chart out at a screen size; the page gets it scaled, as vectors.
    QChartView view(chart);
    view.setAttribute(Qt::WA_DontShowOnScreen);
    view.setRenderHint(QPainter::Antialiasing);
    view.resize(kChartWidth, kChartHeight);
    view.show();
    QCoreApplication::sendPostedEvents();
    const double h = width_ * double(kChartHeight) / kChartWidth;
    room(h);
    view.render(&painter_, QRectF(0, y_, width_, h), view.viewport()->rect());
    y_ += h + lineHeight();
  }

 private:
  void cell(const QRectF& box, const QString& text, Qt::Alignment align, double pad,
            const QFontMetricsF& metrics) {
    const QRectF inner = box.adjusted(pad, 0, -pad, 0);
    painter_.drawText(inner, align | Qt::AlignVCenter,
                      metrics.elidedText(text, Qt::ElideRight, inner.width()));
  }

  QPdfWriter& writer_;
  QPainter& painter_;
  double width_, height_;
  double y_ = 0;
};

}  // namespace

bool writePdfReport(const QString& path, const PdfReport& report, QString& error) {
  // Refused before anything is replaced: the writer would open the file only when painting.
  QFile probe(path);
  if (!probe.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    error = probe.errorString();
    return false;
  }
  probe.close();
  QPdfWriter writer(path);
  writer.setResolution(kResolution);
  writer.setTitle(report.title);
  writer.setCreator(QStringLiteral("Kordel 2.15"));
  writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                   QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter));
  QPainter painter;
  if (!painter.begin(&writer)) {
    error = u("файл не открывается для записи");
    return false;
  }
  PageWriter page(writer, painter);
  page.font(16, true);
  page.line(report.title);
  page.font(10, false);
  page.line(report.period);
  for (const QString& text : report.header) page.line(text);
  page.columns(report.summary);
  page.space(1);
  if (report.result != nullptr) {
    for (auto make : {&makeHourChart, &makeDayChart, &makeTrunkLoadChart}) {
      page.chart(make(*report.result));
    }
  }
  for (const ResultTable* table : report.tables) {
    if (table != nullptr) page.table(*table);
  }
  if (!painter.end()) {
    error = u("файл не записан");
    return false;
  }
  return true;
}

}  // namespace kordel::analysis::gui
