// Windows: the main window of kordel, owner of the one PbxLink.
//
// TMainForm creates the link when it is first shown, connects to the PBX and shows its status,
// runs the read-all and continuous read commands on a ReadATSThread, and opens the settings,
// About, real-time and report windows. It is the RecordView of every read: the reader thread
// hands each window action to the GUI thread and waits until it is done, so lines appear in
// read order and no widget is touched off the GUI thread.
//
// Threads: every member runs on the GUI thread except the RecordView members and the other
// members the reader calls through runOnGui().
#pragma once

#include <QDateEdit>
#include <QLabel>
#include <QListView>
#include <QMainWindow>
#include <QTimeEdit>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "app/gui/widgets.h"
#include "app/gui/window_database.h"
#include "collect/collector.h"
#include "files/record_sink.h"

namespace kordel {
class PbxLink;
}

class QAction;
class QMenuBar;
class ReadATSThread;
class TOptionsForm;
class TAboutForm;
class TRealTimeForm;
class TMainForm_rep;
class TAnalysisForm;

namespace kordel::gui {
// The application title, also the caption of the main window.
inline constexpr const char* kApplicationTitle = "Kordel 2.15";
}  // namespace kordel::gui

class TMainForm : public QMainWindow, public kordel::RecordView, public kordel::CollectorObserver {
  Q_OBJECT

 public:
  // `startDirectory` is the directory of the configuration files and the start folder of the
  // file dialogs; the program passes the current directory.
  explicit TMainForm(const QString& startDirectory, QWidget* parent = nullptr);
  ~TMainForm() override;  // releases the reader (waiting for it) before the link

  // The other windows, created by the program after this one; any may be null.
  void setWindows(TOptionsForm* options, TAboutForm* about, TMainForm_rep* report,
                  TRealTimeForm* realTime);
  // The call analysis window, created after the others; may be null.
  void setAnalysisWindow(TAnalysisForm* analysis) { analysis_ = analysis; }

  // --- start-up, connection, status ---
  void FormCreate();
  // The start-up sequence; runs once, on the first showing (later calls do nothing).
  void FormShow();
  // 1 connected and identified, -1 the port cannot be opened, -2 the PBX did not answer.
  int ConnectATS(const std::string& portName);
  void ShowATSInfo();

  // --- commands ---
  void LoadFromATSMenuItemClick();
  void ReadUninterruptMenuItemClick();
  void StopToolButtonClick();
  void ReloadToolButtonClick();
  void SelectFileFromData_MenuItemClick();
  void ClearListMenuItemClick();
  void ExitMenuItemClick();
  void OptionsMenuItemClick();
  void AboutMenuItemClick();
  void RealTime_MenuItemClick();
  void Report_MenuItemClick();
  // "Анализ звонков и стоимость": shows the analysis window beside this one. It only reads
  // data files, so it stays available during a read (the data file is opened only per line).
  void Analysis_MenuItemClick();
  void UnInterruptTimerTimer();
  void PickerTimerTimer();

  void DisableControls();
  void EnableControls();
  void SelectLastLine();

  // --- RecordView, called on the reader thread ---
  void lowerGauge() override;
  void addLine(const std::string& line) override;
  void showCounters(int recordsInBuffer, int rejectedCount) override;

  // --- CollectorObserver, called on the reader thread: a continuous read that lost the PBX
  // says so in LinkStatusBar (it does not stop to ask), and shows the fresh status when the PBX
  // is back.
  void passFailed(const std::string& reason, int retryMs) override;
  void retryFailed(const std::string& reason, int retryMs) override;
  void recovered() override;
  void alarm(const kordel::AlarmEvent& event) override;
  // The alarms of this window (thresholds from KORDEL_ALARM_FILL, KORDEL_ALARM_SILENCE and
  // KORDEL_ALARM_CLOCK when set, else 80 %, 15 min, 5 min).
  const kordel::AlarmMonitor& alarms() const { return alarms_; }
  kordel::AlarmMonitor& alarmMonitor() { return alarms_; }
  // The sink of the current read (for the reader thread).
  kordel::RecordSink* sink() const { return sink_.get(); }

  // Runs `action` on the GUI thread and returns when it is done (directly when called there).
  void runOnGui(const std::function<void()>& action);
  // The reader's end steps, on the GUI thread: unlock the commands, report a failed read, and
  // start the delayed exit when the program reads once and ends. `error` is empty for a read
  // that ended normally.
  void readEnded(const QString& error);

  // --- state, for the other windows and for tests ---
  std::shared_ptr<kordel::PbxLink> link() const { return link_; }
  ReadATSThread* reader() const { return reader_.get(); }
  bool exitAfterRead() const { return ExitAfterRead; }
  QString startDirectory() const { return startDirectory_; }
  QStringList listLines() const;
  // The file name OpenDialog1 currently holds and its initial folder.
  QString openDialogFileName() const { return openDialogFileName_; }
  QString openDialogDirectory() const { return openDialogDirectory_; }

  // Controls (names as in the window).
  QToolBar* ToolBar1 = nullptr;
  QToolButton* ReadDataToolButton = nullptr;
  QToolButton* StopToolButton = nullptr;
  QToolButton* ReloadToolButton = nullptr;
  QDateEdit* DatePicker = nullptr;
  QTimeEdit* TimePicker = nullptr;
  QLabel* UnInterruptPanel = nullptr;
  QListView* ListBox1 = nullptr;
  kordel::gui::TGauge* CGauge1 = nullptr;
  kordel::gui::TPanelBar* TarifFileNameStatusBar = nullptr;
  kordel::gui::TPanelBar* RealTimeFileNameStatusBar = nullptr;
  kordel::gui::TPanelBar* StatusBar1 = nullptr;
  // Below the status bars, hidden while there is nothing to say: the state of the link during
  // a continuous read (lost, trying again, back).
  kordel::gui::TPanelBar* LinkStatusBar = nullptr;
  QMenuBar* MainMenu1 = nullptr;
  QAction* SelectFileFromData_MenuItem = nullptr;
  QAction* Report_MenuItem = nullptr;
  QAction* ExitMenuItem = nullptr;
  QAction* Analysis_MenuItem = nullptr;
  QAction* LoadFromATSMenuItem = nullptr;
  QAction* ReadUninterruptMenuItem = nullptr;
  QAction* RealTime_MenuItem = nullptr;
  QAction* ClearListMenuItem = nullptr;
  QAction* OptionsMenuItem = nullptr;
  QAction* AboutMenuItem = nullptr;
  // The keys of the Stop and Reload buttons (Esc, F5): they press the button when it is enabled.
  QAction* StopAction = nullptr;
  QAction* ReloadAction = nullptr;
  QTimer* UnInterruptTimer = nullptr;
  QTimer* PickerTimer = nullptr;

 private:
  // Runs the actions the reader has handed over, in order, and tells it each is done.
  Q_INVOKABLE void serveHandOvers();

  // One action handed over by the reader; it lives on the reader's stack until `done`.
  struct HandOver {
    const std::function<void()>& action;
    bool done = false;
  };
  // The hand-over is synchronised with standard primitives (visible to ThreadSanitizer); Qt
  // only wakes the GUI thread up.
  std::mutex handOverMutex_;
  std::condition_variable handOverDone_;
  std::deque<HandOver*> handOvers_;

 signals:
  // The window was closed (the program ends).
  void closed();
  // A reader thread finished its end steps.
  void readFinished();

 protected:
  // The start-up sequence runs once the window is on the screen, so that it paints while the
  // PBX is waited for.
  void setVisible(bool visible) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void buildWindow();
  void buildMenu();
  void buildToolBar();
  void buildShortcuts();
  // The start folder of the report and analysis windows' dialogs: the start directory.
  QString dialogDirectory() const;
  // The status of a PBX that did not answer: "-" texts, gauge 0 of 100, the computer's clock.
  void showNoAnswer();
  void showIdentity();
  void setPickers(int year, int month, int day, int hour, int minute, int second, int msec);
  // Makes a suspended reader the current one; the previous one is released after it ended.
  void replaceReader(std::shared_ptr<ReadATSThread> next);
  // Waits until the current reader has finished, serving its hand-overs meanwhile.
  void waitForReader();
  // Before a command that uses the link: a read that Stop ended may still be finishing its
  // last request; it is waited for (with the wait cursor), so that the two never meet.
  void settleReader();
  // queryStatus on a worker thread, the window painting and showing the wait cursor meanwhile.
  int queryStatusWhileBusy();
  // A new record sink as the link's recordHandler.
  void installRecordHandler();
  // Title lines to the list and the data file; false (and the user told) when not written.
  bool writeTitleLines();
  void reportDataFileFailure();
  void appendListLine(const QString& line);
  void showLinkState(const QString& text);
  // On the GUI thread: the gauge's colour and the alarm's text.
  void showAlarm(const kordel::AlarmEvent& event);

  QString startDirectory_;
  std::shared_ptr<kordel::PbxLink> link_;
  std::shared_ptr<ReadATSThread> reader_;
  std::shared_ptr<kordel::RecordSink> sink_;
  // The calls database the reads fill, kept from read to read (window_database.h).
  std::unique_ptr<kordel::gui::WindowDatabase> database_;
  kordel::AlarmMonitor alarms_;
  bool ExitAfterRead = false;
  bool started_ = false;
  bool closing_ = false;
  bool scrollPending_ = false;

  kordel::gui::TLineListModel* listModel_ = nullptr;
  QString openDialogFileName_ = QStringLiteral("list");
  QString openDialogDirectory_;

  TOptionsForm* options_ = nullptr;
  TAboutForm* about_ = nullptr;
  TMainForm_rep* report_ = nullptr;
  TRealTimeForm* realTime_ = nullptr;
  TAnalysisForm* analysis_ = nullptr;
};
