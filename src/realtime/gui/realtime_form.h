// Windows: the real-time monitoring window.
//
// Once a second TRealTimeForm asks the PBX which lines take part in connections and shows the
// snapshot; every N-th successful refresh it appends the snapshot to the real-time log when
// logging is ticked. The counting and the log records are the core's (realtime_log.h); the
// window only shows them and gathers the user's choices.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QSpinBox>
#include <QTimer>
#include <functional>
#include <memory>

#include "realtime/realtime_log.h"

class QAction;
class QMenuBar;

class TRealTimeForm : public QDialog {
  Q_OBJECT

 public:
  explicit TRealTimeForm(QWidget* parent = nullptr);

  // The main window's link, handed over before each opening.
  void setLink(std::shared_ptr<kordel::PbxLink> link) { link_ = std::move(link); }
  // Run after a new log file was chosen, so that the main window shows the new name.
  void setShowInfo(std::function<void()> showInfo) { showInfo_ = std::move(showInfo); }

  // Showing: start the timer, refresh the check box, restart the count.
  void FormShow();
  // One timer tick: query, show, and append a log record when one is due.
  void RealTimeTimerTimer();
  // Menu "Файл" / "Выбрать файл для сохранения данных".
  void SelectFile_MenuItemClick();

  int tickCounter() const { return ticker_.tickCounter; }
  QStringList listLines() const;

  QMenuBar* MainMenu1 = nullptr;
  QAction* SelectFile_MenuItem = nullptr;
  QListWidget* ListBox1 = nullptr;
  QCheckBox* WriteFileFlagCheckBox = nullptr;
  QLabel* Label1 = nullptr;
  QSpinBox* UpDown1 = nullptr;
  QTimer* RealTimeTimer = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void updateCheckBox();

  std::shared_ptr<kordel::PbxLink> link_;
  std::function<void()> showInfo_;
  kordel::RealTimeTicker ticker_;
  QString proposedName_ = QStringLiteral("real_time.log");
};
