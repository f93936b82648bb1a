// The real-time window against a simulated QTR160: refreshes, the log and its file choice.
#include "realtime/gui/realtime_form.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>

#include <filesystem>
#include <memory>

#include "app/gui/main_form.h"
#include "gui_test_support.h"
#include "link/pbx_link.h"

namespace kordel::test {
namespace {

class RealTimeFormTest : public ::testing::Test {
 protected:
  void TearDown() override {
    realTime.reset();
    form.reset();
    pbx.reset();
  }

  void open(const std::string& logName) {
    pbxsim::Scenario scenario = scenarioWith(0);
    scenario.lineStateMode = pbxsim::LineStateMode::Scripted;
    scenario.lineGroups = {{{0x44, 5, 2}}, {{0x46, 3, 1}, {0x44, 17, 0}}};
    pbx = std::make_unique<SimulatedPbx>(scenario);
    writePortConfig(dir, 1, true);
    writeOutputConfig(dir, dir.file("calls.txt"), logName, "");
    form = std::make_unique<TMainForm>(QString::fromStdString(dir.str()));
    realTime = std::make_unique<TRealTimeForm>();
    form->setWindows(nullptr, nullptr, nullptr, realTime.get());
    form->show();
    realTime->setLink(form->link());
    realTime->FormShow();
    // Ticks are driven by the test, not by the clock.
    realTime->RealTimeTimer->stop();
  }

  // Records in the log: each begins with the stamp line.
  int logRecords(const std::string& path) const {
    int count = 0;
    for (const QString& line : fileLines(path)) {
      if (line.startsWith(q("****** Дата и время считывания: "))) ++count;
    }
    return count;
  }

  TempDir dir;
  TestDialogs dialogs;
  std::unique_ptr<SimulatedPbx> pbx;
  std::unique_ptr<TMainForm> form;
  std::unique_ptr<TRealTimeForm> realTime;
};

TEST_F(RealTimeFormTest, EveryRefreshIsLoggedAtIntervalOne) {
  const std::string log = dir.file("rt.log");
  open(log);
  EXPECT_EQ(realTime->windowTitle(), q("Отслеживание соединений в режиме реального времени"));
  EXPECT_EQ(realTime->UpDown1->value(), 10);
  EXPECT_TRUE(realTime->WriteFileFlagCheckBox->isEnabled());
  EXPECT_EQ(realTime->WriteFileFlagCheckBox->text(),
            q("Записывать в файл: ") + QString::fromStdString(log));
  realTime->WriteFileFlagCheckBox->setChecked(true);
  realTime->UpDown1->setValue(1);

  for (int i = 0; i < 3; ++i) realTime->RealTimeTimerTimer();
  const QStringList shown = realTime->listLines();
  ASSERT_EQ(shown.size(), 2);
  EXPECT_EQ(shown[0], q("АЛ205(2)   "));
  EXPECT_EQ(shown[1], q("СЛ206(1)   АЛ217(0)   "));
  EXPECT_EQ(logRecords(log), 3);
  const QStringList lines = fileLines(log);
  ASSERT_EQ(lines.size(), 12);
  EXPECT_EQ(lines[1], shown[0]);
  EXPECT_EQ(lines[2], shown[1]);
  EXPECT_TRUE(lines[3].isEmpty());
  EXPECT_EQ(realTime->tickCounter(), 1);
  EXPECT_EQ((*pbx)->counters().lineStateRequests, 3);
}

TEST_F(RealTimeFormTest, IntervalCountsSuccessfulRefreshes) {
  const std::string log = dir.file("rt.log");
  open(log);
  realTime->WriteFileFlagCheckBox->setChecked(true);
  realTime->UpDown1->setValue(3);
  for (int i = 0; i < 7; ++i) realTime->RealTimeTimerTimer();
  EXPECT_EQ(logRecords(log), 2);  // at the third and the sixth refresh
  EXPECT_EQ(realTime->tickCounter(), 2);

  // The selector wraps at both ends.
  realTime->UpDown1->setValue(300);
  realTime->UpDown1->stepUp();
  EXPECT_EQ(realTime->UpDown1->value(), 1);
  realTime->UpDown1->stepDown();
  EXPECT_EQ(realTime->UpDown1->value(), 300);

  // Typed digits do not reach the value; the arrow keys step it.
  auto* text = realTime->UpDown1->findChild<QLineEdit*>();
  ASSERT_NE(text, nullptr);
  QKeyEvent digit(QEvent::KeyPress, Qt::Key_2, Qt::NoModifier, QStringLiteral("2"));
  QCoreApplication::sendEvent(text, &digit);
  EXPECT_EQ(realTime->UpDown1->value(), 300);
  QKeyEvent up(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier);
  QCoreApplication::sendEvent(realTime->UpDown1, &up);
  EXPECT_EQ(realTime->UpDown1->value(), 1);
}

TEST_F(RealTimeFormTest, WithoutLogNameTheCheckBoxIsDisabledAndNothingIsWritten) {
  open("");
  EXPECT_FALSE(realTime->WriteFileFlagCheckBox->isEnabled());
  realTime->WriteFileFlagCheckBox->setChecked(true);  // even a tick set in code writes nothing
  realTime->UpDown1->setValue(1);
  realTime->RealTimeTimerTimer();
  realTime->RealTimeTimerTimer();
  EXPECT_EQ(realTime->listLines().size(), 2);
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    EXPECT_NE(entry.path().extension(), ".log") << entry.path();
  }
}

TEST_F(RealTimeFormTest, ChoosingAnotherLogFileClearsTheListAndMovesTheLog) {
  const std::string first = dir.file("first.log");
  open(first);
  realTime->WriteFileFlagCheckBox->setChecked(true);
  realTime->UpDown1->setValue(1);
  realTime->RealTimeTimerTimer();
  ASSERT_EQ(realTime->listLines().size(), 2);

  // The same file keeps the list.
  dialogs.fileAnswers.push_back(QString::fromStdString(first));
  realTime->SelectFile_MenuItemClick();
  ASSERT_EQ(dialogs.fileRequests.size(), 1u);
  EXPECT_EQ(dialogs.fileRequests[0].defaultSuffix, QStringLiteral("log"));
  EXPECT_EQ(realTime->listLines().size(), 2);

  const std::string second = dir.file("second.log");
  dialogs.fileAnswers.push_back(QString::fromStdString(second));
  realTime->SelectFile_MenuItemClick();
  EXPECT_TRUE(realTime->listLines().isEmpty());
  EXPECT_EQ(form->link()->settings.realTimeLogName, second);
  EXPECT_EQ(form->RealTimeFileNameStatusBar->panelText(1), QString::fromStdString(second));
  EXPECT_NE(readFile(dir.file("KordelOut.cfg")).find("REALTIME_FNAME=" + second),
            std::string::npos);
  EXPECT_EQ(realTime->WriteFileFlagCheckBox->text(),
            q("Записывать в файл: ") + QString::fromStdString(second));

  realTime->RealTimeTimerTimer();
  EXPECT_EQ(logRecords(first), 1);
  EXPECT_EQ(logRecords(second), 1);

  // Cancelling changes nothing.
  realTime->SelectFile_MenuItemClick();
  EXPECT_EQ(form->link()->settings.realTimeLogName, second);
  EXPECT_EQ(realTime->listLines().size(), 2);
  EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(RealTimeFormTest, OpensFromTheMainWindowForQtr) {
  open("");
  // The modal window is closed by a timer as soon as it runs, so the test does not block.
  QTimer::singleShot(50, realTime.get(), [this] {
    EXPECT_TRUE(realTime->isVisible());
    EXPECT_TRUE(realTime->RealTimeTimer->isActive());
    realTime->reject();
  });
  form->RealTime_MenuItemClick();
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_FALSE(realTime->RealTimeTimer->isActive());
  EXPECT_EQ(realTime->pos(), form->pos() + QPoint(20, 10));
}

}  // namespace
}  // namespace kordel::test
