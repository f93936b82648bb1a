// Windows: the main window.
#include "app/gui/main_form.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QMetaObject>
#include <QScreen>
#include <QToolTip>
#include <QVBoxLayout>
#include <QWindow>
#include <cstdlib>
#include <cstring>

#include "analysis/gui/analysis_form.h"
#include "app/gui/about_form.h"
#include "app/gui/desktop.h"
#include "app/gui/dialogs.h"
#include "app/gui/options_form.h"
#include "app/gui/qt_text.h"
#include "app/gui/read_ats_thread.h"
#include "collect/start_up.h"
#include "files/regional_format.h"
#include "files/settings.h"
#include "link/pbx_link.h"
#include "realtime/gui/realtime_form.h"
#include "report/gui/report_form.h"

using kordel::gui::dialogs;
using kordel::gui::fromCp1251;
using kordel::gui::toCp1251;

namespace {

using kordel::gui::u;

using kordel::gui::kCaptionAttention;
using kordel::gui::kCaptionError;
using kordel::gui::kCaptionNotice;
using kordel::gui::kCaptionWarning;

const char* const kContinuousCaption = "Идет непрерывное считывание";

// Qt date and time formats share the letters d, M, y, h, H, m and s with the regional formats
// (h is the 12-hour hour in both when the format has a designator, the 24-hour one otherwise);
// the designator t or tt is Qt's AP. A format holding any other letter, which Qt would read
// differently, falls back to the Russian default.
QString qtFormat(const std::string& format, const char* letters, const char* fallback) {
  if (format.empty()) return QString::fromLatin1(fallback);
  QString out;
  for (std::size_t i = 0; i < format.size(); ++i) {
    const char c = format[i];
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (letter && std::strchr(letters, c) == nullptr) return QString::fromLatin1(fallback);
    if (c == 't') {
      while (i + 1 < format.size() && format[i + 1] == 't') ++i;
      out += QStringLiteral("AP");
    } else {
      out += fromCp1251(std::string(1, c));
    }
  }
  return out;
}

QString qtDateFormat() {
  return qtFormat(kordel::regionalFormats().shortDate, "dMy", "dd.MM.yyyy");
}
QString qtTimeFormat() { return qtFormat(kordel::regionalFormats().longTime, "hHmst", "H:mm:ss"); }

}  // namespace

namespace {

// Alarm thresholds for the window: the environment may set them (whole numbers).
kordel::AlarmThresholds thresholdsFromEnvironment() {
  kordel::AlarmThresholds t;
  auto take = [](const char* name, int& value, int min, int max) {
    const char* text = std::getenv(name);
    if (text == nullptr) return;
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end != text && *end == '\0' && v >= min && v <= max) value = static_cast<int>(v);
  };
  take("KORDEL_ALARM_FILL", t.fillPercent, 1, 100);
  take("KORDEL_ALARM_SILENCE", t.silentMinutes, 1, 100000);
  take("KORDEL_ALARM_CLOCK", t.clockSkewMinutes, 0, 100000);
  return t;
}

}  // namespace

TMainForm::TMainForm(const QString& startDirectory, QWidget* parent)
    : QMainWindow(parent),
      startDirectory_(startDirectory),
      alarms_(thresholdsFromEnvironment()),
      openDialogDirectory_(startDirectory) {
  setObjectName(QStringLiteral("MainForm"));
  setWindowIcon(kordel::gui::programIcon());
  buildWindow();
  FormCreate();
}

TMainForm::~TMainForm() {
  // The reader goes first: it may still hand calls to this window, and it holds the link.
  if (link_) {
    link_->stopRequested = true;
    link_->continuousMode = false;
  }
  reader_.reset();
  if (link_) link_->recordHandler = nullptr;
  sink_.reset();
  database_.reset();
  link_.reset();
}

void TMainForm::setWindows(TOptionsForm* options, TAboutForm* about, TMainForm_rep* report,
                           TRealTimeForm* realTime) {
  options_ = options;
  about_ = about;
  report_ = report;
  realTime_ = realTime;
  if (realTime_ != nullptr) realTime_->setShowInfo([this] { ShowATSInfo(); });
  if (report_ != nullptr && about_ != nullptr) {
    // The report window's "О программе." shows this program's About window beside it.
    // The report window runs modally; a window of its own (a transient child) is the only
    // kind it leaves usable, so the About window becomes one while it is shown from there.
    connect(report_, &TMainForm_rep::aboutRequested, about_, [this](const QPoint& topLeft) {
      about_->winId();  // makes the native window, so that it can be given a transient parent
      if (QWindow* window = about_->windowHandle()) {
        window->setTransientParent(report_->windowHandle());
      }
      about_->move(topLeft);
      about_->show();
      about_->raise();
      about_->activateWindow();
    });
  }
}

void TMainForm::FormCreate() { setWindowTitle(QString::fromUtf8(kordel::gui::kApplicationTitle)); }

// --- building the window -------------------------------------------------------------------

void TMainForm::buildWindow() {
  QFont windowFont(QStringLiteral("MS Sans Serif"));
  windowFont.setStyleHint(QFont::SansSerif);
  windowFont.setPointSize(8);
  setFont(windowFont);

  buildMenu();
  buildToolBar();
  buildShortcuts();

  auto* central = new QWidget(this);
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  auto* row = new QHBoxLayout;
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);

  auto* listPanel = new QWidget(central);
  listPanel->setObjectName(QStringLiteral("Panel1"));
  auto* listLayout = new QVBoxLayout(listPanel);
  listLayout->setContentsMargins(4, 4, 4, 4);
  listModel_ = new kordel::gui::TLineListModel(this);
  ListBox1 = new QListView(listPanel);
  ListBox1->setObjectName(QStringLiteral("ListBox1"));
  ListBox1->setModel(listModel_);
  ListBox1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
  ListBox1->setUniformItemSizes(true);
  ListBox1->setItemDelegate(new kordel::gui::TFixedRowDelegate(14, ListBox1));
  // Call-record lines are fixed-column text: the list needs a monospace font.
  QFont listFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  listFont.setFamilies({QStringLiteral("Courier New"), QStringLiteral("DejaVu Sans Mono"),
                        QStringLiteral("Liberation Mono"), QStringLiteral("Noto Mono"),
                        listFont.family()});
  listFont.setStyleHint(QFont::Monospace);
  listFont.setFixedPitch(true);
  listFont.setPointSize(8);
  listFont.setBold(true);
  ListBox1->setFont(listFont);
  listLayout->addWidget(ListBox1);
  row->addWidget(listPanel, 1);

  auto* gaugePanel = new QWidget(central);
  gaugePanel->setObjectName(QStringLiteral("Panel2"));
  gaugePanel->setFixedWidth(39);
  auto* gaugeLayout = new QVBoxLayout(gaugePanel);
  gaugeLayout->setContentsMargins(6, 4, 6, 4);
  CGauge1 = new kordel::gui::TGauge(gaugePanel);
  CGauge1->setObjectName(QStringLiteral("CGauge1"));
  gaugeLayout->addWidget(CGauge1);
  row->addWidget(gaugePanel);
  column->addLayout(row, 1);

  TarifFileNameStatusBar =
      new kordel::gui::TPanelBar(QStringLiteral("TarifFileNameStatusBar"), 19, {150, 50}, central);
  TarifFileNameStatusBar->setPanelText(0, u("Файл учета звонков: "));
  column->addWidget(TarifFileNameStatusBar);
  RealTimeFileNameStatusBar = new kordel::gui::TPanelBar(
      QStringLiteral("RealTimeFileNameStatusBar"), 19, {380, 50}, central);
  RealTimeFileNameStatusBar->setPanelText(
      0, u("Файл отслеживания соединений в режиме реального времени :"));
  column->addWidget(RealTimeFileNameStatusBar);
  StatusBar1 = new kordel::gui::TPanelBar(QStringLiteral("StatusBar1"), 21,
                                          {110, 100, 130, 160, 125, 50}, central);
  column->addWidget(StatusBar1);
  LinkStatusBar = new kordel::gui::TPanelBar(QStringLiteral("LinkStatusBar"), 21, {0}, central);
  LinkStatusBar->hide();
  column->addWidget(LinkStatusBar);
  setCentralWidget(central);

  UnInterruptTimer = new QTimer(this);
  UnInterruptTimer->setObjectName(QStringLiteral("UnInterruptTimer"));
  UnInterruptTimer->setInterval(2000);
  connect(UnInterruptTimer, &QTimer::timeout, this, &TMainForm::UnInterruptTimerTimer);
  PickerTimer = new QTimer(this);
  PickerTimer->setObjectName(QStringLiteral("PickerTimer"));
  PickerTimer->setInterval(1000);
  connect(PickerTimer, &QTimer::timeout, this, &TMainForm::PickerTimerTimer);
  PickerTimer->start();

  // Client area 794 x 490 below the menu, centred on the screen.
  resize(794, 490 + MainMenu1->sizeHint().height());
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect available = screen->availableGeometry();
    move(available.center() - QPoint(width() / 2, height() / 2));
  }
}

void TMainForm::buildMenu() {
  MainMenu1 = new QMenuBar(this);
  MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
  setMenuBar(MainMenu1);

  auto item = [this](QMenu* menu, const char* name, const char* caption,
                     void (TMainForm::*handler)()) {
    QAction* action = menu->addAction(u(caption));
    action->setObjectName(QString::fromLatin1(name));
    connect(action, &QAction::triggered, this, handler);
    return action;
  };

  QMenu* file = MainMenu1->addMenu(u("Файл"));
  file->setObjectName(QStringLiteral("N1"));
  SelectFileFromData_MenuItem =
      item(file, "SelectFileFromData_MenuItem", "Выбрать файл для сохранения данных",
           &TMainForm::SelectFileFromData_MenuItemClick);
  Report_MenuItem =
      item(file, "Report_MenuItem", "Составление выборки данных", &TMainForm::Report_MenuItemClick);
  ExitMenuItem = item(file, "ExitMenuItem", "Выйти из программы", &TMainForm::ExitMenuItemClick);
  file->addSeparator();
  Analysis_MenuItem = item(file, "Analysis_MenuItem", "Анализ звонков и стоимость",
                           &TMainForm::Analysis_MenuItemClick);

  QMenu* pbx = MainMenu1->addMenu(u("АТС"));
  pbx->setObjectName(QStringLiteral("N2"));
  LoadFromATSMenuItem = item(pbx, "LoadFromATSMenuItem", "Считать все данные из АТС",
                             &TMainForm::LoadFromATSMenuItemClick);
  // The default item of its menu is shown in bold.
  QFont bold = LoadFromATSMenuItem->font();
  bold.setBold(true);
  LoadFromATSMenuItem->setFont(bold);
  ReadUninterruptMenuItem = item(pbx, "ReadUninterruptMenuItem", "Считывать данные непрерывно.",
                                 &TMainForm::ReadUninterruptMenuItemClick);
  RealTime_MenuItem =
      item(pbx, "RealTime_MenuItem", "Отслеживание соединений в режиме реального времени",
           &TMainForm::RealTime_MenuItemClick);
  ClearListMenuItem =
      item(pbx, "ClearListMenuItem", "Очистить список", &TMainForm::ClearListMenuItemClick);

  QMenu* settings = MainMenu1->addMenu(u("Настройки"));
  settings->setObjectName(QStringLiteral("N3"));
  OptionsMenuItem =
      item(settings, "OptionsMenuItem", "Настройки программы", &TMainForm::OptionsMenuItemClick);

  QMenu* help = MainMenu1->addMenu(u("Помощь"));
  help->setObjectName(QStringLiteral("N4"));
  AboutMenuItem = item(help, "AboutMenuItem", "О программе", &TMainForm::AboutMenuItemClick);
}

void TMainForm::buildToolBar() {
  ToolBar1 = new QToolBar(this);
  ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
  ToolBar1->setMovable(false);
  ToolBar1->setFloatable(false);
  ToolBar1->setIconSize(QSize(20, 20));
  addToolBar(Qt::TopToolBarArea, ToolBar1);

  auto button = [this](const char* name, kordel::gui::ToolImage image, const char* hint) {
    auto* b = new QToolButton(ToolBar1);
    b->setObjectName(QString::fromLatin1(name));
    b->setIcon(kordel::gui::toolIcon(image));
    b->setToolTip(u(hint));
    b->setAutoRaise(true);
    b->setFixedSize(24, 24);
    return b;
  };

  ToolBar1->addSeparator();
  ReadDataToolButton =
      button("ReadDataToolButton", kordel::gui::ToolImage::Read, "Считать все данные из АТС");
  // The button runs the menu item it is bound to.
  connect(ReadDataToolButton, &QToolButton::clicked, LoadFromATSMenuItem, &QAction::trigger);
  ToolBar1->addWidget(ReadDataToolButton);
  ToolBar1->addSeparator();
  ToolBar1->addSeparator();
  StopToolButton = button("StopToolButton", kordel::gui::ToolImage::Stop, "Остановить  считывание");
  StopToolButton->setEnabled(false);
  connect(StopToolButton, &QToolButton::clicked, this, &TMainForm::StopToolButtonClick);
  ToolBar1->addWidget(StopToolButton);
  ToolBar1->addSeparator();
  ReloadToolButton = button("ReloadToolButton", kordel::gui::ToolImage::Reload, "Обновить");
  connect(ReloadToolButton, &QToolButton::clicked, this, &TMainForm::ReloadToolButtonClick);
  ToolBar1->addWidget(ReloadToolButton);
  ToolBar1->addSeparator();

  DatePicker = new QDateEdit(ToolBar1);
  DatePicker->setObjectName(QStringLiteral("DatePicker"));
  DatePicker->setDisplayFormat(qtDateFormat());
  DatePicker->setFixedWidth(96);
  DatePicker->setEnabled(false);  // display only
  ToolBar1->addWidget(DatePicker);
  TimePicker = new QTimeEdit(ToolBar1);
  TimePicker->setObjectName(QStringLiteral("TimePicker"));
  TimePicker->setDisplayFormat(qtTimeFormat());
  TimePicker->setFixedWidth(88);
  TimePicker->setEnabled(false);  // display only
  ToolBar1->addWidget(TimePicker);
  ToolBar1->addSeparator();

  UnInterruptPanel = new QLabel(ToolBar1);
  UnInterruptPanel->setObjectName(QStringLiteral("UnInterruptPanel"));
  UnInterruptPanel->setFixedWidth(410);
  QFont bold = UnInterruptPanel->font();
  bold.setBold(true);
  UnInterruptPanel->setFont(bold);
  UnInterruptPanel->setStyleSheet(QStringLiteral("color: #008000;"));
  UnInterruptPanel->setContentsMargins(6, 0, 0, 0);
  ToolBar1->addWidget(UnInterruptPanel);
}

namespace {

// Shows a tool button's hint with the key that presses it, e.g. "Обновить (F5)"; the hint
// itself stays as it is.
class ShortcutHint : public QObject {
 public:
  ShortcutHint(QToolButton* button, const QKeySequence& keys)
      : QObject(button), button_(button), keys_(keys) {
    button->installEventFilter(this);
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != button_ || event->type() != QEvent::ToolTip) return false;
    QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(),
                       button_->toolTip() + QStringLiteral(" (") +
                           keys_.toString(QKeySequence::NativeText) + QStringLiteral(")"),
                       button_);
    return true;
  }

 private:
  QToolButton* button_;
  QKeySequence keys_;
};

}  // namespace

void TMainForm::buildShortcuts() {
  // The usual keys of the commands; the menus show them beside their items.
  LoadFromATSMenuItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
  Report_MenuItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
  ExitMenuItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  new ShortcutHint(ReadDataToolButton, LoadFromATSMenuItem->shortcut());

  // Stop and Reload live on the tool bar only: their keys press the button when it is enabled,
  // so a key does what a click would and nothing when a click could not.
  auto buttonKey = [this](const char* name, QToolButton* button, const QKeySequence& keys) {
    auto* action = new QAction(this);
    action->setObjectName(QString::fromLatin1(name));
    action->setShortcut(keys);
    addAction(action);  // a key of the window, with no menu item
    connect(action, &QAction::triggered, button, [button] {
      if (button->isEnabled()) button->click();
    });
    new ShortcutHint(button, keys);
    return action;
  };
  StopAction = buttonKey("StopAction", StopToolButton, QKeySequence(Qt::Key_Escape));
  ReloadAction = buttonKey("ReloadAction", ReloadToolButton, QKeySequence(Qt::Key_F5));
}

// --- start-up, connection, status ----------------------------------------------------------

void TMainForm::setVisible(bool visible) {
  QMainWindow::setVisible(visible);
  if (visible && !started_) FormShow();
}

void TMainForm::FormShow() {
  if (started_) return;
  started_ = true;
  ExitAfterRead = false;
  link_ = std::make_shared<kordel::PbxLink>(
      kordel::startDirectoryName(QFile::encodeName(startDirectory_).toStdString()));
  const kordel::StartUp started = kordel::startUp(*link_);
  if (started.configFailed) {
    dialogs().message(this, u("Исключение при открытии/чтении файла конфигурации."),
                      u(kCaptionError));
  }
  kordel::Settings& settings = link_->settings;
  if (!settings.startDirectory.empty()) {
    openDialogDirectory_ = fromCp1251(settings.startDirectory);
  }
  if (!settings.dataFileName.empty()) openDialogFileName_ = fromCp1251(settings.dataFileName);

  if (started.firstRun) {
    // "KordelOut.cfg" is gone already (startUp): no start-up mode acts before the port is set.
    dialogs().message(this,
                      u("Это первый запуск программы Kordel(возможно были удалены файлы "
                        "конфигурации). Выберите пункт \"Настройки\" и установите номер "
                        "СОМ-порта "),
                      u(kCaptionNotice));
    return;
  }

  if (ConnectATS(settings.portName) == 1) {
    if (settings.autostartMode == kordel::kAutostartReadOnce) {
      ExitAfterRead = true;
      LoadFromATSMenuItemClick();
    } else if (settings.autostartMode == kordel::kAutostartContinuous) {
      ReadUninterruptMenuItemClick();
    }
  } else {
    const QDateTime now = QDateTime::currentDateTime();
    DatePicker->setDate(now.date());
    TimePicker->setTime(now.time());
  }
}

int TMainForm::ConnectATS(const std::string& /*portName*/) {
  // The link's own port name is the one in use; callers pass the same text.
  // A PBX that does not answer takes seconds to give up: the window paints meanwhile and shows
  // the wait cursor; the commands wait.
  int opened = 0;
  int status = 0;
  kordel::gui::runWhileBusy([&] {
    opened = link_->openPort(link_->settings.portName);
    if (opened == kordel::kOk || opened == kordel::kPortAlreadyOpen) status = link_->queryStatus();
  });
  if (opened != kordel::kOk && opened != kordel::kPortAlreadyOpen) {
    dialogs().message(this, u("Ошибка при открытии СОМ-порта."), u(kCaptionError));
    return -1;
  }
  if (status < 0) {
    showNoAnswer();
    return -2;
  }
  showIdentity();
  const kordel::PbxClock& c = link_->clock;
  setPickers(c.year, c.month, c.day, c.hour, c.minute, c.second, 500);
  for (const kordel::AlarmEvent& e :
       alarms_.identified(link_->recordsInBuffer.load(), link_->bufferCapacity, link_->clock,
                          kordel::computerClock(), kordel::tickCount())) {
    showAlarm(e);
  }
  repaint();
  StatusBar1->repaint();
  return 1;
}

void TMainForm::ShowATSInfo() {
  if (!link_) return;
  showIdentity();
  // The clock is unset until a status query has succeeded; the pickers then keep their values.
  const kordel::PbxClock& c = link_->clock;
  if (!link_->settings.firstRun && c.year != 0) {
    setPickers(c.year, c.month, c.day, c.hour, c.minute, c.second, 500);
  }
  if (!link_->continuousMode) UnInterruptPanel->clear();
}

void TMainForm::showIdentity() {
  StatusBar1->setPanelText(0, u("АТС: ") + fromCp1251(link_->model));
  StatusBar1->setPanelText(1, u("ПО вер. ") + fromCp1251(link_->softwareVersion));
  StatusBar1->setPanelText(2, u("Зав. номер : ") + fromCp1251(link_->serialNumber));
  StatusBar1->setPanelText(3, u("Емкость буфера : ") + QString::number(link_->bufferCapacity));
  StatusBar1->setPanelText(4, u("В буфере : ") + QString::number(link_->recordsInBuffer.load()));
  TarifFileNameStatusBar->setPanelText(1, fromCp1251(link_->settings.dataFileName));
  RealTimeFileNameStatusBar->setPanelText(1, fromCp1251(link_->settings.realTimeLogName));
  CGauge1->setRange(0, link_->bufferCapacity);
  CGauge1->setProgress(link_->recordsInBuffer.load());
}

void TMainForm::showNoAnswer() {
  StatusBar1->setPanelText(0, u("АТС: -"));
  StatusBar1->setPanelText(1, u("ПО вер. -"));
  StatusBar1->setPanelText(2, u("Зав. номер : -"));
  StatusBar1->setPanelText(3, u("Емкость буфера : -"));
  StatusBar1->setPanelText(4, u("В буфере : -"));
  CGauge1->setRange(0, 100);
  CGauge1->setProgress(0);
  const QDateTime now = QDateTime::currentDateTime();
  DatePicker->setDate(now.date());
  TimePicker->setTime(now.time());
}

void TMainForm::setPickers(int year, int month, int day, int hour, int minute, int second,
                           int msec) {
  const QDate date(year, month, day);
  if (date.isValid()) DatePicker->setDate(date);
  const QTime time(hour, minute, second, msec);
  if (time.isValid()) TimePicker->setTime(time);
}

// --- commands ------------------------------------------------------------------------------

void TMainForm::LoadFromATSMenuItemClick() {
  if (!link_) return;
  if (link_->settings.dataFileName.empty()) {
    dialogs().message(this, u("Не выбран файл для сохранения данных."), u(kCaptionAttention));
    return;
  }
  replaceReader(std::make_shared<ReadATSThread>(this, link_));
  link_->stopRequested = false;
  installRecordHandler();
  try {
    if (queryStatusWhileBusy() < 0) {
      showNoAnswer();
      return;  // the new thread object is never started
    }
    link_->rejectedCount = 0;
    if (link_->settings.titleEnabled && !writeTitleLines()) {
      ShowATSInfo();  // the status just read is shown even though the read does not start
      return;
    }
    ShowATSInfo();
    reader_->start(QThread::TimeCriticalPriority);
  } catch (const kordel::ECommError&) {
    // A command that fails before the reader starts would otherwise end without a trace,
    // and the user would wait for records that never come.
    dialogs().message(this, u("Ошибка при работе с СОМ-портом."), u(kCaptionError));
  } catch (const std::exception& e) {
    dialogs().message(this, QString::fromLocal8Bit(e.what()), u(kCaptionError));
  }
}

void TMainForm::ReadUninterruptMenuItemClick() {
  if (!link_) return;
  if (link_->settings.dataFileName.empty()) {
    dialogs().message(this, u("Не выбран файл для сохранения данных."), u(kCaptionAttention));
    return;
  }
  link_->rejectedCount = 0;
  UnInterruptPanel->setText(u(kContinuousCaption));
  StopToolButton->setEnabled(true);
  try {
    replaceReader(std::make_shared<ReadATSThread>(this, link_));
    link_->continuousMode = true;
    link_->stopRequested = false;
    installRecordHandler();
    if (queryStatusWhileBusy() < 0) {
      // The caption, the Stop button and continuousMode stay until the user presses Stop.
      showNoAnswer();
      return;
    }
    link_->rejectedCount = 0;
    DisableControls();
    // The title lines head the whole continuous read, not each pass.
    if (link_->settings.titleEnabled && !writeTitleLines()) {
      link_->continuousMode = false;
      EnableControls();
      ShowATSInfo();
      return;
    }
    ShowATSInfo();
    reader_->start(QThread::TimeCriticalPriority);
    ReadDataToolButton->setDown(false);
  } catch (const kordel::ECommError&) {
    // A command that fails before the reader starts would otherwise end without a trace,
    // and the user would wait for records that never come.
    dialogs().message(this, u("Ошибка при работе с СОМ-портом."), u(kCaptionError));
  } catch (const std::exception& e) {
    dialogs().message(this, QString::fromLocal8Bit(e.what()), u(kCaptionError));
  }
}

void TMainForm::StopToolButtonClick() {
  if (link_) {
    link_->stopRequested = true;
    link_->continuousMode = false;
  }
  EnableControls();
  ShowATSInfo();
  if (ExitAfterRead) close();
}

void TMainForm::ReloadToolButtonClick() {
  if (!link_) return;
  settleReader();
  link_->port->close();
  ConnectATS(link_->settings.portName);
  ShowATSInfo();
}

void TMainForm::SelectFileFromData_MenuItemClick() {
  if (!link_) return;
  settleReader();  // the reader's appends use the data file's name
  kordel::Settings& settings = link_->settings;
  const QString remembered = openDialogFileName_;
  kordel::gui::FileDialogRequest request;
  request.caption = u("Выбрать файл для сохранения данных");
  request.directory = openDialogDirectory_;
  request.fileName = openDialogFileName_;
  request.defaultSuffix = QStringLiteral("txt");
  const std::optional<QString> chosen = dialogs().openFile(this, request);
  int saved = kordel::kConfigOk;
  if (chosen) {
    openDialogFileName_ = *chosen;
    settings.dataFileName = toCp1251(*chosen);
    saved = link_->saveOutputConfig(settings.dataFileName, settings.realTimeLogName);
    if (*chosen != remembered) listModel_->clear();
    ShowATSInfo();
  } else {
    saved = link_->saveOutputConfig(settings.dataFileName, settings.realTimeLogName);
  }
  if (saved != kordel::kConfigOk) {
    // The choice holds for this run, but the next start would not know it.
    dialogs().message(this, u("Произошел сбой при записи файла конфигурации."), u(kCaptionError));
  }
}

void TMainForm::ClearListMenuItemClick() { listModel_->clear(); }

void TMainForm::ExitMenuItemClick() { close(); }

void TMainForm::OptionsMenuItemClick() {
  if (options_ == nullptr || !link_) return;
  settleReader();
  options_->setLink(link_);
  options_->move(pos() + QPoint(25, 25));
  options_->exec();
}

void TMainForm::AboutMenuItemClick() {
  if (about_ == nullptr) return;
  about_->move(pos() + QPoint(20, 20));
  about_->show();
  about_->raise();
  about_->activateWindow();
}

void TMainForm::RealTime_MenuItemClick() {
  if (link_) settleReader();  // a continuous read refreshes the identity the check reads
  if (!link_ || !kordel::realTimeSupported(*link_)) {
    dialogs().message(this, u("Данная функция работает только с КТР160/400"), u(kCaptionWarning));
    return;
  }
  if (realTime_ == nullptr) return;
  realTime_->move(pos() + QPoint(20, 10));
  realTime_->setLink(link_);
  realTime_->exec();
}

QString TMainForm::dialogDirectory() const {
  if (link_ && !link_->settings.startDirectory.empty()) {
    return fromCp1251(link_->settings.startDirectory);
  }
  return startDirectory_;
}

void TMainForm::Report_MenuItemClick() {
  if (report_ == nullptr) return;
  report_->setStartDirectory(dialogDirectory());
  report_->exec();
}

void TMainForm::Analysis_MenuItemClick() {
  if (analysis_ == nullptr) return;
  analysis_->setStartDirectory(dialogDirectory());
  if (link_) {
    analysis_->proposeDataFile(fromCp1251(link_->settings.dataFileName));
    // The database this window's reads fill is the one offered for the analysis.
    kordel::store::DatabaseChoice choice;
    QString proposed;
    if (kordel::gui::WindowDatabase::choose(link_->settings, choice).ok()) {
      if (choice.kind == kordel::store::DatabaseChoice::Kind::kSqlite) {
        proposed = QFileInfo(fromCp1251(choice.target)).absoluteFilePath();
      } else if (choice.kind == kordel::store::DatabaseChoice::Kind::kPostgres) {
        proposed = fromCp1251(choice.target);
      }
    }
    analysis_->proposeDatabase(proposed);
  }
  analysis_->show();
  analysis_->raise();
  analysis_->activateWindow();
}

void TMainForm::UnInterruptTimerTimer() {
  // A close refused while the window waits for the PBX is tried again at the next tick.
  if (close()) UnInterruptTimer->stop();
}

void TMainForm::PickerTimerTimer() {
  // The picker holds a time of day: 23:59:59 plus one second shows 00:00:00, the date stays.
  TimePicker->setTime(TimePicker->time().addSecs(1));
}

void TMainForm::DisableControls() {
  for (QAction* a :
       {SelectFileFromData_MenuItem, Report_MenuItem, LoadFromATSMenuItem, ReadUninterruptMenuItem,
        RealTime_MenuItem, ClearListMenuItem, OptionsMenuItem}) {
    a->setEnabled(false);
  }
  ReloadToolButton->setEnabled(false);
  ReadDataToolButton->setEnabled(false);
  StopToolButton->setEnabled(true);
}

void TMainForm::EnableControls() {
  for (QAction* a :
       {SelectFileFromData_MenuItem, Report_MenuItem, LoadFromATSMenuItem, ReadUninterruptMenuItem,
        RealTime_MenuItem, ClearListMenuItem, OptionsMenuItem}) {
    a->setEnabled(true);
  }
  ReloadToolButton->setEnabled(true);
  ReadDataToolButton->setEnabled(true);
  StopToolButton->setEnabled(false);
}

void TMainForm::SelectLastLine() {
  // Selecting and scrolling lay the list out again; during a fast read that is done once per
  // batch of lines, when the GUI thread next gets to its events, not once per line.
  if (scrollPending_) return;
  scrollPending_ = true;
  QTimer::singleShot(0, this, [this] {
    scrollPending_ = false;
    const int rows = listModel_->rowCount();
    if (rows == 0) return;
    const QModelIndex last = listModel_->index(rows - 1);
    ListBox1->setCurrentIndex(last);
    ListBox1->scrollTo(last);
  });
}

QStringList TMainForm::listLines() const { return listModel_->lines(); }

void TMainForm::appendListLine(const QString& line) { listModel_->append(line); }

// --- reading -------------------------------------------------------------------------------

void TMainForm::replaceReader(std::shared_ptr<ReadATSThread> next) {
  std::shared_ptr<ReadATSThread> previous = std::move(reader_);
  reader_ = std::move(next);
  if (previous) previous->waitServingHandOvers();
}

void TMainForm::waitForReader() {
  if (reader_) reader_->waitServingHandOvers();
}

void TMainForm::settleReader() {
  if (!reader_ || !reader_->isRunning()) return;
  kordel::gui::BusyCursor busy;
  reader_->waitServingHandOvers();
}

int TMainForm::queryStatusWhileBusy() {
  int status = 0;
  kordel::gui::runWhileBusy([this, &status] { status = link_->queryStatus(); });
  return status;
}

void TMainForm::installRecordHandler() {
  // A new read starts with the link's state unsaid; an alarm still on stays in view.
  bool alarmOn = false;
  for (auto kind : {kordel::AlarmKind::kBufferFilling, kordel::AlarmKind::kBufferFull,
                    kordel::AlarmKind::kPbxSilent, kordel::AlarmKind::kDataFile,
                    kordel::AlarmKind::kClockSkew}) {
    alarmOn = alarmOn || alarms_.active(kind);
  }
  if (!alarmOn) LinkStatusBar->hide();
  sink_ = std::make_shared<kordel::RecordSink>(*link_, *this);
  sink_->attach();
  if (!database_) {
    database_ = std::make_unique<kordel::gui::WindowDatabase>(
        this, [this](const QString& text) { showLinkState(text); });
  }
  database_->attach(*sink_, link_->settings);
}

bool TMainForm::writeTitleLines() {
  link_->buildTitleLines(link_->clock);
  appendListLine(fromCp1251(link_->headerLine));
  appendListLine(fromCp1251(link_->columnTitleLine));
  if (link_->appendTitleLines() != kordel::kOk) {
    // Nothing is taken from the PBX when the data file cannot hold it.
    reportDataFileFailure();
    return false;
  }
  return true;
}

void TMainForm::reportDataFileFailure() {
  dialogs().message(this,
                    u("Не удалось записать строку в файл данных: ") +
                        fromCp1251(link_->settings.dataFileName) + u(". Считывание остановлено."),
                    u(kCaptionError));
}

void TMainForm::runOnGui(const std::function<void()>& action) {
  if (QThread::currentThread() == thread()) {
    action();
    return;
  }
  HandOver handOver{action};
  {
    std::lock_guard lock(handOverMutex_);
    handOvers_.push_back(&handOver);
  }
  // Called by name, so the wake-up event carries no data of its own.
  QMetaObject::invokeMethod(this, "serveHandOvers", Qt::QueuedConnection);
  std::unique_lock lock(handOverMutex_);
  handOverDone_.wait(lock, [&handOver] { return handOver.done; });
}

void TMainForm::serveHandOvers() {
  for (;;) {
    HandOver* next = nullptr;
    {
      std::lock_guard lock(handOverMutex_);
      if (handOvers_.empty()) return;
      next = handOvers_.front();
      handOvers_.pop_front();
    }
    // The reader goes on even when the action throws (the error box shows the exception).
    struct Release {
      TMainForm* form;
      HandOver* handOver;
      ~Release() {
        {
          std::lock_guard lock(form->handOverMutex_);
          handOver->done = true;
        }
        form->handOverDone_.notify_all();
      }
    } release{this, next};
    next->action();
  }
}

void TMainForm::readEnded(const QString& error) {
  EnableControls();
  const bool saveFailed = sink_ && sink_->saveFailed();
  const bool failed = !error.isEmpty() || saveFailed;
  if (failed && link_) {
    // The read is over for good: a continuous read does not go on after a failure.
    link_->continuousMode = false;
    ShowATSInfo();
  }
  if (ExitAfterRead) UnInterruptTimer->start();
  emit readFinished();
  if (!failed) return;
  // Reported after the hand-over returns, so that the reader is not held by an open box.
  QTimer::singleShot(0, this, [this, error, saveFailed] {
    if (closing_) return;
    if (!error.isEmpty()) dialogs().message(this, error, u(kCaptionError));
    if (saveFailed) reportDataFileFailure();
  });
}

// --- RecordView: on the reader thread -------------------------------------------------------

void TMainForm::lowerGauge() {
  runOnGui([this] { CGauge1->setProgress(CGauge1->progress() - 1); });
}

void TMainForm::addLine(const std::string& line) {
  const QString text = fromCp1251(line);
  runOnGui([this, &text] {
    appendListLine(text);
    SelectLastLine();
    if (listModel_->rowCount() > kordel::kMaxListLines) listModel_->clear();
  });
}

void TMainForm::showCounters(int recordsInBuffer, int rejectedCount) {
  runOnGui([this, recordsInBuffer, rejectedCount] {
    StatusBar1->setPanelText(4, u("В буфере : ") + QString::number(recordsInBuffer));
    StatusBar1->setPanelText(5, u("Отвергнуто записей: ") + QString::number(rejectedCount));
  });
}

// --- CollectorObserver: on the reader thread ------------------------------------------------

namespace {

QString retryText(int retryMs) {
  return u(" Повтор через ") + QString::number((retryMs + 999) / 1000) + u(" с.");
}

}  // namespace

void TMainForm::showLinkState(const QString& text) {
  LinkStatusBar->setPanelText(0, text);
  LinkStatusBar->show();
}

void TMainForm::passFailed(const std::string& reason, int retryMs) {
  const QString text = fromCp1251(reason) + retryText(retryMs);
  runOnGui([this, &text] { showLinkState(text); });
}

void TMainForm::retryFailed(const std::string& reason, int retryMs) {
  const QString text = fromCp1251(reason) + retryText(retryMs);
  runOnGui([this, &text] { showLinkState(text); });
}

void TMainForm::showAlarm(const kordel::AlarmEvent& event) {
  using kordel::AlarmKind;
  // Lime while the buffer has room, yellow when it is filling up, red when calls are lost.
  QColor fill(0, 255, 0);
  if (alarms_.active(AlarmKind::kBufferFilling)) fill = QColor(255, 210, 0);
  if (alarms_.active(AlarmKind::kBufferFull)) fill = QColor(255, 40, 40);
  CGauge1->setFillColor(fill);
  showLinkState((event.raised ? u("Тревога: ") : u("Отбой тревоги: ")) + fromCp1251(event.text));
  LinkStatusBar->panel(0)->setStyleSheet(event.raised ? QStringLiteral("color: #B00000;")
                                                      : QString());
}

void TMainForm::alarm(const kordel::AlarmEvent& event) {
  runOnGui([this, &event] { showAlarm(event); });
}

void TMainForm::recovered() {
  runOnGui([this] {
    ShowATSInfo();
    showLinkState(u("Связь с АТС восстановлена ") +
                  QTime::currentTime().toString(QStringLiteral("HH:mm:ss")) + u("."));
  });
}

// --- closing -------------------------------------------------------------------------------

void TMainForm::closeEvent(QCloseEvent* event) {
  if (closing_) {
    event->accept();
    return;
  }
  closing_ = true;
  if (link_) link_->stopRequested = true;
  if (reader_) reader_->requestInterruption();
  // The program ends only after the reader has finished; meanwhile its hand-overs are served.
  waitForReader();
  if (database_) {
    if (sink_) sink_->setListener(nullptr);
    database_->finish();
  }
  UnInterruptTimer->stop();
  PickerTimer->stop();
  event->accept();
  emit closed();
}
