// Windows: the real-time monitoring window.
#include "realtime/gui/realtime_form.h"

#include <QAction>
#include <QFile>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QShowEvent>
#include <QVBoxLayout>

#include "app/gui/desktop.h"
#include "app/gui/dialogs.h"
#include "app/gui/qt_text.h"
#include "files/settings.h"
#include "link/pbx_link.h"

namespace {
using kordel::gui::kCaptionError;
using kordel::gui::u;
}  // namespace

TRealTimeForm::TRealTimeForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("RealTimeForm"));
  setWindowIcon(kordel::gui::programIcon());
  setWindowTitle(u("Отслеживание соединений в режиме реального времени"));
  setModal(true);
  QFont windowFont(QStringLiteral("MS Sans Serif"));
  windowFont.setStyleHint(QFont::SansSerif);
  windowFont.setPointSize(8);
  setFont(windowFont);

  MainMenu1 = new QMenuBar(this);
  MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
  QMenu* file = MainMenu1->addMenu(u("Файл"));
  SelectFile_MenuItem = file->addAction(u("Выбрать файл для сохранения данных"));
  SelectFile_MenuItem->setObjectName(QStringLiteral("SelectFile_MenuItem"));
  connect(SelectFile_MenuItem, &QAction::triggered, this, &TRealTimeForm::SelectFile_MenuItemClick);

  ListBox1 = new QListWidget(this);
  ListBox1->setObjectName(QStringLiteral("ListBox1"));
  ListBox1->setMinimumSize(285, 20);

  WriteFileFlagCheckBox = new QCheckBox(u("Записывать в файл: "), this);
  WriteFileFlagCheckBox->setObjectName(QStringLiteral("WriteFileFlagCheckBox"));
  WriteFileFlagCheckBox->setEnabled(false);

  Label1 = new QLabel(u("Частота записи в файл (1 раз в N секунд)   "), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  UpDown1 = new QSpinBox(this);
  UpDown1->setObjectName(QStringLiteral("UpDown1"));
  UpDown1->setRange(kordel::kMinLogInterval, kordel::kMaxLogInterval);
  UpDown1->setWrapping(true);
  UpDown1->setValue(kordel::kDefaultLogInterval);
  UpDown1->setFixedWidth(60);
  // The value is chosen with the arrows only; the text beside them just shows it (typed digits
  // would pass through every value on the way, e.g. 2 on the way to 25).
  if (auto* text = UpDown1->findChild<QLineEdit*>()) text->setReadOnly(true);

  auto* intervalRow = new QHBoxLayout;
  intervalRow->addWidget(Label1);
  intervalRow->addWidget(UpDown1);
  intervalRow->addStretch(1);

  auto* column = new QVBoxLayout(this);
  column->setMenuBar(MainMenu1);
  column->setContentsMargins(3, 3, 3, 3);
  column->addWidget(ListBox1, 1);
  column->addWidget(WriteFileFlagCheckBox);
  column->addLayout(intervalRow);

  RealTimeTimer = new QTimer(this);
  RealTimeTimer->setObjectName(QStringLiteral("RealTimeTimer"));
  RealTimeTimer->setInterval(1000);
  connect(RealTimeTimer, &QTimer::timeout, this, &TRealTimeForm::RealTimeTimerTimer);

  resize(523, 347);
}

// Opening and closing the window start and stop the polling. The window system's own show
// and hide events (minimising and restoring) do not: monitoring and logging go on while the
// window is minimised.
void TRealTimeForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void TRealTimeForm::hideEvent(QHideEvent* event) {
  if (!event->spontaneous()) RealTimeTimer->stop();
  QDialog::hideEvent(event);
}

void TRealTimeForm::FormShow() {
  RealTimeTimer->start();
  updateCheckBox();
  // The list keeps the last snapshot until the first successful refresh.
  ticker_.reset();
}

void TRealTimeForm::updateCheckBox() {
  const std::string name = link_ ? link_->settings.realTimeLogName : std::string();
  WriteFileFlagCheckBox->setEnabled(!name.empty());
  WriteFileFlagCheckBox->setText(u("Записывать в файл: ") + kordel::gui::fromCp1251(name));
}

void TRealTimeForm::RealTimeTimerTimer() {
  if (!link_) return;
  const int result = link_->queryLineStates();
  const bool logEnabled = WriteFileFlagCheckBox->isEnabled() && WriteFileFlagCheckBox->isChecked();
  const kordel::TickOutcome outcome = ticker_.tick(result, UpDown1->value(), logEnabled);
  if (outcome.refresh) {
    ListBox1->clear();
    for (unsigned i = 0; i < link_->stateLineCount && i < link_->stateLines.size(); ++i) {
      ListBox1->addItem(kordel::gui::fromCp1251(link_->stateLines[i]));
    }
  }
  if (outcome.writeLog) {
    // A record the log cannot take is lost; the core creates the file for the next one.
    kordel::appendLogRecord(
        link_->settings.realTimeLogName,
        kordel::logRecord(link_->stateLines, link_->stateLineCount, kordel::localTimeNow()));
  }
}

void TRealTimeForm::SelectFile_MenuItemClick() {
  if (!link_) return;
  kordel::Settings& settings = link_->settings;
  kordel::gui::FileDialogRequest request;
  request.caption = u("Выбрать файл для сохранения данных");
  request.defaultSuffix = QStringLiteral("log");
  if (!settings.realTimeLogName.empty()) {
    request.directory = kordel::gui::fromCp1251(settings.startDirectory);
    request.fileName = kordel::gui::fromCp1251(settings.realTimeLogName);
  } else {
    request.fileName = proposedName_;
  }
  const std::optional<QString> chosen = kordel::gui::dialogs().openFile(this, request);
  if (!chosen) return;
  proposedName_ = *chosen;
  const std::string name = kordel::gui::toCp1251(*chosen);
  // A choice that cannot be stored would be gone at the next start without a word; say so,
  // and use the file for this run all the same.
  if (link_->saveOutputConfig(settings.dataFileName, name) != kordel::kConfigOk) {
    kordel::gui::dialogs().message(this, u("Произошел сбой при записи файла конфигурации."),
                                   u(kCaptionError));
  }
  if (name != settings.realTimeLogName) ListBox1->clear();
  settings.realTimeLogName = name;
  updateCheckBox();
  if (showInfo_) showInfo_();
}

QStringList TRealTimeForm::listLines() const {
  QStringList lines;
  for (int i = 0; i < ListBox1->count(); ++i) lines << ListBox1->item(i)->text();
  return lines;
}
