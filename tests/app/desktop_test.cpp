// What the user meets on the desktop: Qt's texts in Russian, the program's icon on every
// window, the wait cursor while a silent PBX is waited for, and the keys of the commands.
#include "app/gui/desktop.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <memory>
#include <stdexcept>

#include "app/gui/about_form.h"
#include "app/gui/dialogs.h"
#include "app/gui/main_form.h"
#include "app/gui/options_form.h"
#include "app/gui/read_ats_thread.h"
#include "gui_test_support.h"
#include "link/pbx_link.h"
#include "realtime/gui/realtime_form.h"
#include "report/gui/report_form.h"

namespace kordel::test {
namespace {

TEST(DesktopTest, QtsOwnDialogsAndButtonsSpeakRussian) {
  // The application object of the test program installed them, as the program's does.
  EXPECT_EQ(QCoreApplication::translate("QFileDialog", "Open"), q("Открыть"));
  QDialogButtonBox box(QDialogButtonBox::Cancel);
  EXPECT_EQ(box.button(QDialogButtonBox::Cancel)->text(), q("Отмена"));

  // The dialog the program shows for a file: Qt's own here, which the translation reaches.
  kordel::gui::FileDialogRequest request;
  request.caption = q("Выбрать файл для сохранения данных");
  request.directory = QDir::tempPath();
  request.nameFilters = {q("Текстовые файлы (*.txt)")};
  const std::unique_ptr<QFileDialog> dialog = kordel::gui::makeFileDialog(nullptr, request, false);
  dialog->show();
  auto* buttons = dialog->findChild<QDialogButtonBox*>();
  ASSERT_NE(buttons, nullptr);
  EXPECT_EQ(buttons->button(QDialogButtonBox::Cancel)->text(), q("Отмена"));
  auto* lookIn = dialog->findChild<QLabel*>(QStringLiteral("lookInLabel"));
  ASSERT_NE(lookIn, nullptr);
  EXPECT_EQ(lookIn->text(), q("Перейти к:"));
  EXPECT_EQ(dialog->windowTitle(), request.caption);
  dialog->hide();
}

TEST(DesktopTest, EveryWindowCarriesTheProgramsIcon) {
  TempDir dir;
  TMainForm mainForm(QString::fromStdString(dir.str()));
  TOptionsForm options(&mainForm);
  TAboutForm about;
  TMainForm_rep report;
  TRealTimeForm realTime;
  const QWidget* windows[] = {&mainForm, &options, &about, &report, &realTime};
  for (const QWidget* window : windows) {
    SCOPED_TRACE(window->objectName().toStdString());
    EXPECT_FALSE(window->windowIcon().isNull());
    // Drawn from the SVG, so the resource and Qt's SVG plugin are both there.
    EXPECT_FALSE(window->windowIcon().pixmap(32, 32).isNull());
  }
  EXPECT_FALSE(QApplication::windowIcon().pixmap(16, 16).isNull());
}

TEST(DesktopTest, RunWhileBusyThrowsTheWorksExceptionHereAndRestoresTheCursor) {
  EXPECT_THROW(kordel::gui::runWhileBusy([] { throw std::runtime_error("lost"); }),
               std::runtime_error);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

class DesktopFormTest : public ::testing::Test {
 protected:
  void TearDown() override {
    options.reset();
    form.reset();
    pbx.reset();
  }
  void startPbx(pbxsim::Scenario scenario) {
    pbx = std::make_unique<SimulatedPbx>(std::move(scenario));
  }
  TMainForm& openForm() {
    form = std::make_unique<TMainForm>(QString::fromStdString(dir.str()));
    options = std::make_unique<TOptionsForm>(form.get());
    form->setWindows(options.get(), nullptr, &report, nullptr);
    form->show();  // runs the start-up sequence
    return *form;
  }
  bool readEnded() const { return form->reader() != nullptr && form->reader()->isFinished(); }
  std::string dataFile() const { return dir.file("calls.txt"); }

  TempDir dir;
  TestDialogs dialogs;
  TMainForm_rep report;
  std::unique_ptr<SimulatedPbx> pbx;
  std::unique_ptr<TMainForm> form;
  std::unique_ptr<TOptionsForm> options;
};

// What a timer running inside a wait for the PBX saw.
struct DuringTheWait {
  bool fired = false;
  bool waitCursor = false;
  bool closeRefused = false;
};

// Arms a timer that looks at the cursor and tries to close `window` while the GUI thread waits.
void lookDuringTheWait(DuringTheWait& seen, QWidget* window) {
  QTimer::singleShot(1000, [&seen, window] {
    seen.fired = true;
    const QCursor* cursor = QApplication::overrideCursor();
    seen.waitCursor = cursor != nullptr && cursor->shape() == Qt::WaitCursor;
    seen.closeRefused = !window->close() && window->isVisible();
  });
}

TEST_F(DesktopFormTest, ASilentPbxIsWaitedForWithTheWaitCursorWhileTheWindowRunsOn) {
  pbxsim::Scenario scenario = scenarioWith(3);
  scenario.faults.silentAfter = 0;
  startPbx(scenario);
  writePortConfig(dir, 1, true);
  writeOutputConfig(dir, dataFile(), "", "");

  // The start-up connection.
  form = std::make_unique<TMainForm>(QString::fromStdString(dir.str()));
  options = std::make_unique<TOptionsForm>(form.get());
  form->setWindows(options.get(), nullptr, nullptr, nullptr);
  DuringTheWait startUp;
  lookDuringTheWait(startUp, form.get());
  form->show();
  EXPECT_TRUE(startUp.fired) << "the window ran its timers during the wait";
  EXPECT_TRUE(startUp.waitCursor);
  EXPECT_TRUE(startUp.closeRefused);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(form->StatusBar1->panelText(0), q("АТС: -"));
  EXPECT_TRUE(form->isVisible());

  // The settings dialog's OK reconnects the same way.
  options->setLink(form->link());
  options->show();
  DuringTheWait settings;
  lookDuringTheWait(settings, options.get());
  options->Button2Click();
  EXPECT_TRUE(settings.fired);
  EXPECT_TRUE(settings.waitCursor);
  EXPECT_TRUE(settings.closeRefused);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_FALSE(options->isVisible());  // OK closed it after the wait
  EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(DesktopFormTest, ReloadAfterStopWaitsForTheReadToEndFirst) {
  pbxsim::Scenario scenario = scenarioWith(100);
  scenario.faults.slowReplyMs = 40;  // the reader is in the middle of a request at Stop
  startPbx(scenario);
  writePortConfig(dir, 1, false);
  writeOutputConfig(dir, dataFile(), "", "");
  openForm();

  form->LoadFromATSMenuItemClick();
  ASSERT_TRUE(waitUntil([this] { return form->listLines().size() >= 1; }));
  form->StopToolButtonClick();
  form->ReloadToolButtonClick();  // the port is not closed under the reader
  EXPECT_TRUE(readEnded());
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_EQ(form->StatusBar1->panelText(0), q("АТС: QTR160"));
  EXPECT_EQ(fileLines(dataFile()), form->listLines());
  EXPECT_EQ((*pbx)->pendingRecords(0).size() + (*pbx)->takenRecords().size(), 100u);
}

TEST_F(DesktopFormTest, TheUsualKeysRunTheCommands) {
  startPbx(scenarioWith(3));
  writePortConfig(dir, 1, false);
  writeOutputConfig(dir, dataFile(), "", "");
  openForm();
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  const auto press = [this](const QKeySequence& keys) {
    QTest::keyClick(form.get(), keys[0].key(), keys[0].keyboardModifiers());
  };

  // The menu items carry their keys (the menus show them beside the unchanged captions).
  EXPECT_EQ(form->LoadFromATSMenuItem->shortcut(), QKeySequence(q("Ctrl+R")));
  EXPECT_EQ(form->Report_MenuItem->shortcut(), QKeySequence(q("Ctrl+T")));
  EXPECT_EQ(form->ExitMenuItem->shortcut(), QKeySequence(q("Ctrl+Q")));
  EXPECT_EQ(form->StopAction->shortcut(), QKeySequence(Qt::Key_Escape));
  EXPECT_EQ(form->ReloadAction->shortcut(), QKeySequence(Qt::Key_F5));
  EXPECT_EQ(form->LoadFromATSMenuItem->text(), q("Считать все данные из АТС"));
  EXPECT_EQ(form->ReloadToolButton->toolTip(), q("Обновить"));

  // Ctrl+R reads everything.
  press(form->LoadFromATSMenuItem->shortcut());
  ASSERT_TRUE(waitUntil([this] { return readEnded(); }));
  EXPECT_EQ(fileLines(dataFile()).size(), 3);

  // F5 reloads: the PBX is identified again.
  const long identifications = (*pbx)->counters().identifications;
  press(form->ReloadAction->shortcut());
  EXPECT_GT((*pbx)->counters().identifications, identifications);

  // Esc stops a continuous read, as the Stop button does; with Stop disabled it does nothing.
  form->ReadUninterruptMenuItemClick();
  ASSERT_TRUE(waitUntil([this] { return !form->LoadFromATSMenuItem->isEnabled(); }));
  press(form->StopAction->shortcut());
  EXPECT_FALSE(form->link()->continuousMode);
  EXPECT_TRUE(form->UnInterruptPanel->text().isEmpty());
  ASSERT_TRUE(waitUntil([this] { return readEnded(); }));
  EXPECT_FALSE(form->StopToolButton->isEnabled());
  form->UnInterruptPanel->setText(q("x"));
  press(form->StopAction->shortcut());
  EXPECT_EQ(form->UnInterruptPanel->text(), q("x")) << "no Stop ran";

  // Ctrl+T opens the report window (modal: a timer closes it again).
  bool reportShown = false;
  QTimer::singleShot(200, [this, &reportShown] {
    reportShown = report.isVisible();
    report.reject();
  });
  press(form->Report_MenuItem->shortcut());
  EXPECT_TRUE(reportShown);

  // Ctrl+Q ends the program.
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  int closed = 0;
  QObject::connect(form.get(), &TMainForm::closed, [&closed] { ++closed; });
  press(form->ExitMenuItem->shortcut());
  EXPECT_EQ(closed, 1);
  EXPECT_FALSE(form->isVisible());
}

}  // namespace
}  // namespace kordel::test
