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
    form.reset();
    pbx.reset();
  }
  void openForm(pbxsim::Scenario scenario) {
    pbx = std::make_unique<SimulatedPbx>(std::move(scenario));
    writePortConfig(dir, 1, false);
    writeOutputConfig(dir, dataFile(), "", "");
    form = std::make_unique<TMainForm>(QString::fromStdString(dir.str()));
    form->setWindows(nullptr, nullptr, &report, nullptr);
    form->show();  // runs the start-up sequence
  }
  bool readEnded() const { return form->reader() != nullptr && form->reader()->isFinished(); }
  std::string dataFile() const { return dir.file("calls.txt"); }

  TempDir dir;
  TestDialogs dialogs;
  TMainForm_rep report;
  std::unique_ptr<SimulatedPbx> pbx;
  std::unique_ptr<TMainForm> form;
};

TEST_F(DesktopFormTest, ASilentPbxIsWaitedForWithTheWaitCursorWhileTheWindowRunsOn) {
  pbxsim::Scenario scenario = scenarioWith(3);
  scenario.faults.silentAfter = 0;
  bool fired = false, waitCursor = false, closeRefused = false;
  QTimer::singleShot(1000, [&] {  // inside the start-up's ConnectATS
    fired = true;
    const QCursor* cursor = QApplication::overrideCursor();
    waitCursor = cursor != nullptr && cursor->shape() == Qt::WaitCursor;
    closeRefused = !form->close() && form->isVisible();
  });
  openForm(scenario);
  EXPECT_TRUE(fired) << "the window ran its timers during the wait";
  EXPECT_TRUE(waitCursor);
  EXPECT_TRUE(closeRefused);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(form->StatusBar1->panelText(0), q("АТС: -"));
}

TEST_F(DesktopFormTest, ReloadAfterStopWaitsForTheReadToEndFirst) {
  pbxsim::Scenario scenario = scenarioWith(100);
  scenario.faults.slowReplyMs = 40;  // the reader is in the middle of a request at Stop
  openForm(scenario);
  form->LoadFromATSMenuItemClick();
  ASSERT_TRUE(waitUntil([this] { return form->listLines().size() >= 1; }));
  form->StopToolButtonClick();
  form->ReloadToolButtonClick();  // the port is not closed under the reader
  EXPECT_TRUE(readEnded());
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_EQ(form->StatusBar1->panelText(0), q("АТС: QTR160"));
  EXPECT_EQ(fileLines(dataFile()), form->listLines());
}

TEST_F(DesktopFormTest, TheUsualKeysRunTheCommands) {
  openForm(scenarioWith(3));
  const auto press = [this](Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    QTest::keyClick(form.get(), key, modifiers);
  };
  // The menus show the keys beside the captions, which stay as they are.
  EXPECT_EQ(form->LoadFromATSMenuItem->text(), q("Считать все данные из АТС"));
  EXPECT_EQ(form->ReloadToolButton->toolTip(), q("Обновить"));

  press(Qt::Key_R, Qt::ControlModifier);
  ASSERT_TRUE(waitUntil([this] { return readEnded(); }));
  EXPECT_EQ(fileLines(dataFile()).size(), 3);

  const long identifications = (*pbx)->counters().identifications;
  press(Qt::Key_F5);
  EXPECT_GT((*pbx)->counters().identifications, identifications);

  // Esc stops a continuous read as the Stop button does; with Stop disabled it does nothing.
  form->ReadUninterruptMenuItemClick();
  press(Qt::Key_Escape);
  EXPECT_FALSE(form->link()->continuousMode);
  ASSERT_TRUE(waitUntil([this] { return readEnded(); }));
  form->UnInterruptPanel->setText(q("x"));
  press(Qt::Key_Escape);
  EXPECT_EQ(form->UnInterruptPanel->text(), q("x")) << "no Stop ran";

  bool reportShown = false;  // the report window is modal: a timer closes it again
  QTimer::singleShot(200, [this, &reportShown] {
    reportShown = report.isVisible();
    report.reject();
  });
  press(Qt::Key_T, Qt::ControlModifier);
  EXPECT_TRUE(reportShown);

  int closed = 0;
  QObject::connect(form.get(), &TMainForm::closed, [&closed] { ++closed; });
  press(Qt::Key_Q, Qt::ControlModifier);
  EXPECT_EQ(closed, 1);
}

}  // namespace
}  // namespace kordel::test
