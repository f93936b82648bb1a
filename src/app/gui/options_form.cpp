// Windows: the settings dialog.
#include "app/gui/options_form.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "app/gui/desktop.h"
#include "app/gui/dialogs.h"
#include "app/gui/main_form.h"
#include "app/gui/qt_text.h"
#include "files/settings.h"
#include "link/pbx_link.h"

namespace {
using kordel::gui::kCaptionError;
using kordel::gui::u;
}  // namespace

TOptionsForm::TOptionsForm(TMainForm* mainForm, QWidget* parent)
    : QDialog(parent), mainForm_(mainForm) {
  setObjectName(QStringLiteral("OptionsForm"));
  setWindowIcon(kordel::gui::programIcon());
  setWindowTitle(u("Настройки программы"));
  setModal(true);
  QFont windowFont(QStringLiteral("MS Sans Serif"));
  windowFont.setStyleHint(QFont::SansSerif);
  windowFont.setPointSize(8);
  setFont(windowFont);

  QFont bold = windowFont;
  bold.setBold(true);
  // The controls inside the bold group boxes are not bold: the weight is set, not inherited.
  QFont normal = windowFont;
  normal.setBold(false);

  GroupBox1 = new QGroupBox(u("Номер СОМ-порта"), this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  GroupBox1->setFont(bold);
  COMPortComboBox = new QComboBox(GroupBox1);
  COMPortComboBox->setObjectName(QStringLiteral("COMPortComboBox"));
  COMPortComboBox->setEditable(false);
  COMPortComboBox->setFont(normal);
  for (int n = 1; n <= 8; ++n) COMPortComboBox->addItem(QStringLiteral("COM%1").arg(n));
  COMPortComboBox->setCurrentIndex(0);
  auto* portLayout = new QVBoxLayout(GroupBox1);
  portLayout->addWidget(COMPortComboBox);
  portLayout->addStretch(1);

  GroupBox2 = new QGroupBox(u("Заголовок файла"), this);
  GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
  GroupBox2->setFont(bold);
  SaveTitleRadioButton = new QRadioButton(u("Сохранять заголовок в файле"), GroupBox2);
  SaveTitleRadioButton->setObjectName(QStringLiteral("SaveTitleRadioButton"));
  SaveTitleRadioButton->setFont(normal);
  SaveTitleRadioButton->setChecked(true);
  NotSaveTitleRadioButton = new QRadioButton(u("Не сохранять заголовок"), GroupBox2);
  NotSaveTitleRadioButton->setObjectName(QStringLiteral("NotSaveTitleRadioButton"));
  NotSaveTitleRadioButton->setFont(normal);
  auto* titleLayout = new QVBoxLayout(GroupBox2);
  titleLayout->addWidget(SaveTitleRadioButton);
  titleLayout->addWidget(NotSaveTitleRadioButton);

  Button2 = new QPushButton(u("OK"), this);
  Button2->setObjectName(QStringLiteral("Button2"));
  Button2->setFont(bold);
  Button2->setDefault(true);
  Button1 = new QPushButton(u("Cancel"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  connect(Button2, &QPushButton::clicked, this, &TOptionsForm::Button2Click);
  connect(Button1, &QPushButton::clicked, this, &TOptionsForm::Button1Click);

  auto* groups = new QHBoxLayout;
  groups->addWidget(GroupBox1);
  groups->addWidget(GroupBox2);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(Button2);
  buttons->addWidget(Button1);
  buttons->addStretch(1);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(6, 6, 6, 6);
  column->addLayout(groups);
  column->addLayout(buttons);
  setSizeGripEnabled(false);
  layout()->setSizeConstraint(QLayout::SetFixedSize);
}

void TOptionsForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormShow();
}

void TOptionsForm::FormShow() {
  if (!link_) return;
  const QString portName = kordel::gui::fromCp1251(link_->settings.portName);
  // A name that matches no item (a damaged file may leave "COM") keeps the selection.
  for (int i = 0; i < COMPortComboBox->count(); ++i) {
    if (COMPortComboBox->itemText(i) == portName) {
      COMPortComboBox->setCurrentIndex(i);
      break;
    }
  }
  if (link_->settings.titleEnabled) {
    SaveTitleRadioButton->setChecked(true);
  } else {
    NotSaveTitleRadioButton->setChecked(true);
  }
}

void TOptionsForm::Button2Click() {
  if (!link_) {
    accept();
    return;
  }
  const std::string portName = kordel::gui::toCp1251(COMPortComboBox->currentText());
  // Reconnect on the chosen port (even an unchanged one) before the file is written, so that
  // the new port is in use for this run whatever happens to the file.
  link_->port->close();
  link_->settings.portName = portName;
  if (mainForm_ != nullptr) {
    mainForm_->ConnectATS(portName);
    mainForm_->StatusBar1->repaint();
    mainForm_->repaint();
  }
  if (link_->savePortConfig(portName, SaveTitleRadioButton->isChecked()) != kordel::kConfigOk) {
    kordel::gui::dialogs().message(this, u("Произошел сбой при записи файла конфигурации."),
                                   u(kCaptionError));
  }
  accept();
}

void TOptionsForm::Button1Click() { reject(); }
