// Windows: the vertical gauge, the panel bar and the tool button images.
#include "app/gui/widgets.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <algorithm>
#include <cmath>

namespace kordel::gui {

int TLineListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(lines_.size());
}

QVariant TLineListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= lines_.size()) return {};
  if (role == Qt::DisplayRole || role == Qt::ToolTipRole) return lines_.at(index.row());
  return {};
}

void TLineListModel::append(const QString& line) {
  const int row = static_cast<int>(lines_.size());
  beginInsertRows(QModelIndex(), row, row);
  lines_.append(line);
  endInsertRows();
}

void TLineListModel::clear() {
  beginResetModel();
  lines_.clear();
  endResetModel();
}

TGauge::TGauge(QWidget* parent) : QWidget(parent) {
  setMinimumWidth(12);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
}

void TGauge::setRange(int minValue, int maxValue) {
  minValue_ = minValue;
  maxValue_ = std::max(minValue, maxValue);
  progress_ = std::clamp(progress_, minValue_, maxValue_);
  update();
}

void TGauge::setProgress(int progress) {
  progress_ = std::clamp(progress, minValue_, maxValue_);
  update();
}

int TGauge::percentDone() const {
  const int span = maxValue_ - minValue_;
  if (span <= 0) return 0;
  return static_cast<int>((static_cast<long long>(progress_ - minValue_) * 100) / span);
}

void TGauge::setFillColor(const QColor& color) {
  if (color == fillColor_) return;
  fillColor_ = color;
  update();
}

void TGauge::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect area = rect();
  painter.fillRect(area, Qt::black);
  const int span = maxValue_ - minValue_;
  if (span > 0) {
    const int filled =
        static_cast<int>((static_cast<long long>(progress_ - minValue_) * area.height()) / span);
    painter.fillRect(QRect(0, area.height() - filled, area.width(), filled), fillColor_);
  }
  painter.setPen(QColor(128, 128, 128));
  painter.drawRect(area.adjusted(0, 0, -1, -1));
}

TPanelBar::TPanelBar(const QString& name, int height, std::initializer_list<int> widths,
                     QWidget* parent)
    : QWidget(parent) {
  setObjectName(name);
  setFixedHeight(height);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 1, 0, 1);
  layout->setSpacing(2);
  int index = 0;
  const int count = static_cast<int>(widths.size());
  for (int width : widths) {
    auto* label = new QLabel(this);
    label->setObjectName(QStringLiteral("%1_Panel%2").arg(name).arg(index));
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setTextFormat(Qt::PlainText);
    label->setContentsMargins(2, 0, 2, 0);
    if (index + 1 < count) {
      label->setFixedWidth(width);
      layout->addWidget(label);
    } else {
      label->setMinimumWidth(width);
      layout->addWidget(label, 1);
    }
    panels_.push_back(label);
    ++index;
  }
}

QString TPanelBar::panelText(int index) const {
  return panels_.at(static_cast<std::size_t>(index))->text();
}

void TPanelBar::setPanelText(int index, const QString& text) {
  panels_.at(static_cast<std::size_t>(index))->setText(text);
}

namespace {

// Read: an arrow pointing down into an open tray.
void paintRead(QPainter& p) {
  p.setPen(QPen(QColor(40, 40, 40), 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  QPainterPath tray;
  tray.moveTo(3, 14);
  tray.lineTo(3, 21);
  tray.lineTo(21, 21);
  tray.lineTo(21, 14);
  p.drawPath(tray);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0, 110, 220));
  p.drawRect(QRectF(10, 2, 4, 9));
  const QPointF head[] = {QPointF(6, 10), QPointF(18, 10), QPointF(12, 17)};
  p.drawPolygon(head, 3);
}

// Stop: a red square.
void paintStop(QPainter& p) {
  p.setPen(QPen(QColor(120, 0, 0), 1));
  p.setBrush(QColor(220, 30, 30));
  p.drawRoundedRect(QRectF(5, 5, 14, 14), 2, 2);
}

// Reload: a circular arrow.
void paintReload(QPainter& p) {
  const QColor green(20, 140, 40);
  p.setPen(QPen(green, 2.5, Qt::SolidLine, Qt::FlatCap));
  p.setBrush(Qt::NoBrush);
  const QRectF circle(5, 5, 14, 14);
  // Qt angles are in 1/16 degree, counter-clockwise from three o'clock.
  p.drawArc(circle, 90 * 16, 280 * 16);
  p.setPen(Qt::NoPen);
  p.setBrush(green);
  // Arrow head at the upper end of the arc, pointing clockwise (to the right).
  const QPointF head[] = {QPointF(11, 1.5), QPointF(17, 5), QPointF(11, 8.5)};
  p.drawPolygon(head, 3);
}

}  // namespace

QIcon toolIcon(ToolImage image) {
  QPixmap pixmap(24, 24);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  switch (image) {
    case ToolImage::Read:
      paintRead(painter);
      break;
    case ToolImage::Stop:
      paintStop(painter);
      break;
    case ToolImage::Reload:
      paintReload(painter);
      break;
  }
  painter.end();
  QIcon icon(pixmap);
  return icon;
}

}  // namespace kordel::gui
