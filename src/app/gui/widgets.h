// Windows: the small controls the main window is built from: the vertical buffer gauge, a status
// bar of fixed-width panels and the painted images of the tool buttons.
#pragma once

#include <QAbstractListModel>
#include <QColor>
#include <QIcon>
#include <QLabel>
#include <QString>
#include <QStringList>
#include <QStyledItemDelegate>
#include <QWidget>
#include <initializer_list>
#include <vector>

namespace kordel::gui {

// The lines of a list box. A line is added in one step (no separate data change), so that a
// visible list does not lay itself out again for every line of a fast read.
class TLineListModel : public QAbstractListModel {
  Q_OBJECT

 public:
  explicit TLineListModel(QObject* parent = nullptr) : QAbstractListModel(parent) {}

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

  void append(const QString& line);
  void clear();
  const QStringList& lines() const { return lines_; }

 private:
  QStringList lines_;
};

// Rows of one fixed height, whatever the font: the item height of a list box.
class TFixedRowDelegate : public QStyledItemDelegate {
 public:
  TFixedRowDelegate(int rowHeight, QObject* parent)
      : QStyledItemDelegate(parent), rowHeight_(rowHeight) {}
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(rowHeight_);
    return size;
  }

 private:
  int rowHeight_;
};

// A vertical bar gauge: black background, lime fill from the bottom, Progress between
// MinValue and MaxValue. Progress is kept inside the range.
class TGauge : public QWidget {
  Q_OBJECT

 public:
  explicit TGauge(QWidget* parent = nullptr);

  int minValue() const { return minValue_; }
  int maxValue() const { return maxValue_; }
  int progress() const { return progress_; }
  void setRange(int minValue, int maxValue);
  void setProgress(int progress);
  // The filled share, 0 to 100.
  int percentDone() const;
  // The colour of the fill (lime unless an alarm says otherwise).
  QColor fillColor() const { return fillColor_; }
  void setFillColor(const QColor& color);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int minValue_ = 0;
  int maxValue_ = 100;
  int progress_ = 0;
  QColor fillColor_{0, 255, 0};
};

// A status bar made of sunken panels of fixed widths; the last panel takes what is left.
class TPanelBar : public QWidget {
  Q_OBJECT

 public:
  TPanelBar(const QString& name, int height, std::initializer_list<int> widths,
            QWidget* parent = nullptr);

  int panelCount() const { return static_cast<int>(panels_.size()); }
  QString panelText(int index) const;
  void setPanelText(int index, const QString& text);
  QLabel* panel(int index) const { return panels_.at(static_cast<std::size_t>(index)); }

 private:
  std::vector<QLabel*> panels_;
};

// Images of the tool buttons, drawn at 24 by 24 pixels.
enum class ToolImage { Read, Stop, Reload };
QIcon toolIcon(ToolImage image);

}  // namespace kordel::gui
