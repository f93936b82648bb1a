// The settings dialog, the About window and the application's error box.
#include <gtest/gtest.h>

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "app/gui/about_form.h"
#include "app/gui/application.h"
#include "app/gui/main_form.h"
#include "app/gui/options_form.h"
#include "gui_test_support.h"
#include "link/pbx_link.h"
#include "link/serial_port.h"
#include "report/gui/report_form.h"

namespace kordel::test {
namespace {

class OptionsFormTest : public ::testing::Test {
 protected:
  void TearDown() override {
    options.reset();
    form.reset();
    pbx.reset();
  }
  void open() {
    form = std::make_unique<TMainForm>(QString::fromStdString(dir.str()));
    options = std::make_unique<TOptionsForm>(form.get());
    form->setWindows(options.get(), nullptr, nullptr, nullptr);
    form->show();
    options->setLink(form->link());
    options->FormShow();
  }
  std::string portConfig() const { return readFile(dir.file("Kordel.cfg")); }

  TempDir dir;
  TestDialogs dialogs;
  std::unique_ptr<SimulatedPbx> pbx;
  std::unique_ptr<TMainForm> form;
  std::unique_ptr<TOptionsForm> options;
};

TEST_F(OptionsFormTest, OpeningShowsTheConfiguredPortAndTitleOption) {
  writePortConfig(dir, 3, false);  // COM3 has no device here: the port error is expected
  writeOutputConfig(dir, "", "", "");
  open();
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text, q("Ошибка при открытии СОМ-порта."));

  EXPECT_EQ(options->windowTitle(), q("Настройки программы"));
  EXPECT_EQ(options->COMPortComboBox->count(), 8);
  EXPECT_EQ(options->COMPortComboBox->itemText(7), QStringLiteral("COM8"));
  EXPECT_EQ(options->COMPortComboBox->currentIndex(), 2);
  EXPECT_TRUE(options->NotSaveTitleRadioButton->isChecked());
  EXPECT_FALSE(options->SaveTitleRadioButton->isChecked());
  EXPECT_TRUE(options->Button2->font().bold());
  EXPECT_TRUE(options->GroupBox1->font().bold());
  EXPECT_TRUE(options->GroupBox2->font().bold());
  // The controls inside the group boxes keep the normal weight.
  EXPECT_FALSE(options->COMPortComboBox->font().bold());
  EXPECT_FALSE(options->SaveTitleRadioButton->font().bold());
  EXPECT_FALSE(options->NotSaveTitleRadioButton->font().bold());
}

TEST_F(OptionsFormTest, OkAfterFirstRunConnectsAndWritesThePortConfiguration) {
  pbx = std::make_unique<SimulatedPbx>(scenarioWith(2));
  open();  // no configuration files: a first run, nothing connected
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_TRUE(form->StatusBar1->panelText(0).isEmpty());

  options->COMPortComboBox->setCurrentIndex(0);
  options->NotSaveTitleRadioButton->setChecked(true);
  options->Button2Click();
  EXPECT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(form->StatusBar1->panelText(0), q("АТС: QTR160"));
  EXPECT_EQ(form->StatusBar1->panelText(4), q("В буфере : 2"));
  const std::string bytes = portConfig();
  ASSERT_EQ(bytes.size(), 30u);
  EXPECT_EQ(bytes[0], 1);
  EXPECT_EQ(bytes[1], 0);
  EXPECT_EQ(form->link()->settings.portName, "COM1");
  EXPECT_FALSE(form->link()->settings.titleEnabled);

  // OK without a change still reconnects and rewrites the file.
  const long identifications = (*pbx)->counters().identifications;
  std::filesystem::remove(dir.file("Kordel.cfg"));
  options->FormShow();
  options->Button2Click();
  EXPECT_GT((*pbx)->counters().identifications, identifications);
  EXPECT_EQ(portConfig().size(), 30u);
}

TEST_F(OptionsFormTest, CancelChangesNothing) {
  pbx = std::make_unique<SimulatedPbx>(scenarioWith(1));
  writePortConfig(dir, 1, true);
  writeOutputConfig(dir, "", "", "");
  open();
  const std::string before = portConfig();
  const long identifications = (*pbx)->counters().identifications;

  options->COMPortComboBox->setCurrentIndex(4);
  options->NotSaveTitleRadioButton->setChecked(true);
  options->Button1Click();
  EXPECT_EQ(portConfig(), before);
  EXPECT_EQ(form->link()->settings.portName, "COM1");
  EXPECT_TRUE(form->link()->settings.titleEnabled);
  EXPECT_TRUE(form->link()->port->isOpen);
  EXPECT_EQ((*pbx)->counters().identifications, identifications);

  options->FormShow();  // the next opening shows the port in use again
  EXPECT_EQ(options->COMPortComboBox->currentText(), QStringLiteral("COM1"));
  EXPECT_TRUE(options->SaveTitleRadioButton->isChecked());
}

TEST(AboutFormTest, ShowsTheFixedReadOnlyText) {
  TAboutForm about;
  EXPECT_EQ(about.windowTitle(), q("О программе"));
  EXPECT_EQ(about.size(), QSize(638, 253));
  EXPECT_TRUE(about.RichEdit1->isReadOnly());
  const QStringList lines = about.RichEdit1->toPlainText().split(QLatin1Char('\n'));
  ASSERT_EQ(lines.size(), 30);
  EXPECT_EQ(lines[13], q("   - В Kordel 2.13  включена программа KordelReport."));
  EXPECT_TRUE(lines[26].endsWith(q("программы.  ")));
  EXPECT_TRUE(lines[2].isEmpty());
  EXPECT_EQ(lines[28], q("Пожелания по усовершенствованию: ") +
                           QString::fromLatin1(TAboutForm::kContactAddress));
  about.show();
  EXPECT_EQ(about.RichEdit1->lineWrapMode(), QPlainTextEdit::WidgetWidth);
  about.close();
}

TEST(AboutFormTest, OpensModelesslyBesideTheMainWindow) {
  TempDir dir;
  TMainForm form(QString::fromStdString(dir.str()));
  TAboutForm about;
  form.setWindows(nullptr, &about, nullptr, nullptr);
  form.move(100, 100);
  form.AboutMenuItemClick();
  EXPECT_TRUE(about.isVisible());
  EXPECT_FALSE(about.isModal());
  EXPECT_EQ(about.pos(), form.pos() + QPoint(20, 20));
  about.close();
}

// Follows whether the window system's input to a window is blocked by a modal window.
class BlockedWatch : public QObject {
 public:
  bool blocked = false;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::WindowBlocked) blocked = true;
    if (event->type() == QEvent::WindowUnblocked) blocked = false;
    return QObject::eventFilter(watched, event);
  }
};

// The main window, its About window and the report window, wired as the program wires them,
// with the About window's blocked state followed.
class AboutAndReportTest : public ::testing::Test {
 protected:
  AboutAndReportTest() {
    form.setWindows(nullptr, &about, &report, nullptr);
    about.installEventFilter(&watch);
    // The report window runs modally over the whole program, as its menu command opens it.
    report.setWindowModality(Qt::ApplicationModal);
  }
  ~AboutAndReportTest() override {
    report.hide();
    about.close();
  }
  void showReport() {
    report.show();
    QCoreApplication::processEvents();
  }
  void aboutFromReport() {
    report.AboutMenuItemClick();
    QCoreApplication::processEvents();
  }

  TempDir dir;
  TMainForm form{QString::fromStdString(dir.str())};
  TAboutForm about;
  TMainForm_rep report;
  BlockedWatch watch;
};

TEST_F(AboutAndReportTest, TheReportWindowOpensTheSameAboutWindowAndItStaysUsable) {
  showReport();
  aboutFromReport();
  EXPECT_TRUE(about.isVisible());
  EXPECT_FALSE(watch.blocked) << "the About window opened from the report window takes no input";
  report.hide();
  QCoreApplication::processEvents();
  // Once the report window is closed the About window is an ordinary window again, and the
  // main window's command shows it as before.
  EXPECT_TRUE(about.isVisible());
  form.AboutMenuItemClick();
  EXPECT_TRUE(about.isVisible());
  EXPECT_FALSE(watch.blocked);
}

TEST_F(AboutAndReportTest, AnAboutWindowBlockedByTheReportWindowIsFreedByItsCommand) {
  form.AboutMenuItemClick();  // open beside the main window first
  showReport();
  EXPECT_TRUE(watch.blocked);  // the modal report window blocks it, as any other window
  aboutFromReport();
  EXPECT_FALSE(watch.blocked);
}

TEST(ApplicationTest, AnEscapedExceptionIsShownAndTheProgramGoesOn) {
  TestDialogs dialogs;
  bool later = false;
  QTimer::singleShot(0, [] { throw kordel::ECommError(kordel::kCommReadFailed, 5); });
  QTimer::singleShot(1, [&later] { later = true; });
  ASSERT_TRUE(waitUntil([&] { return later; }, 5000));
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].caption, q("Kordel 2.15"));
  EXPECT_FALSE(dialogs.messages[0].text.isEmpty());
  EXPECT_TRUE(dialogs.messages[0].errorBox);

  EXPECT_FALSE(kordel::gui::runGuarded([] { throw std::runtime_error("broken"); }));
  ASSERT_EQ(dialogs.messages.size(), 2u);
  EXPECT_EQ(dialogs.messages[1].text, QStringLiteral("broken"));
  EXPECT_TRUE(dialogs.messages[1].errorBox);
  EXPECT_TRUE(kordel::gui::runGuarded([] {}));
}

}  // namespace
}  // namespace kordel::test
