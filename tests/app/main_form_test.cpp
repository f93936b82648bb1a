// The main window against a simulated PBX: start-up, status, reads, Stop, closing, the data
// file choice, autostart, the running clock and the failures the user must hear about.
#include "app/gui/main_form.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QDate>
#include <QElapsedTimer>
#include <QTime>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>

#include "analysis/gui/analysis_form.h"
#include "app/gui/read_ats_thread.h"
#include "app/gui/widgets.h"
#include "collect/alarms.h"
#include "files/regional_format.h"
#include "gui_test_support.h"
#include "link/pbx_link.h"

namespace kordel::test {
namespace {

class MainFormTest : public ::testing::Test {
 protected:
  void TearDown() override {
    form.reset();
    pbx.reset();
  }

  void startPbx(pbxsim::Scenario scenario) {
    pbx = std::make_unique<SimulatedPbx>(std::move(scenario));
  }

  TMainForm& openForm() {
    form = std::make_unique<TMainForm>(QString::fromStdString(dir.str()));
    form->show();  // runs the start-up sequence
    return *form;
  }

  QString panel(int i) const { return form->StatusBar1->panelText(i); }
  bool commandsLocked() const {
    return !form->LoadFromATSMenuItem->isEnabled() && !form->ReadDataToolButton->isEnabled() &&
           !form->OptionsMenuItem->isEnabled() && form->StopToolButton->isEnabled();
  }
  bool commandsFree() const {
    return form->LoadFromATSMenuItem->isEnabled() && form->ReadDataToolButton->isEnabled() &&
           form->SelectFileFromData_MenuItem->isEnabled() && form->ReloadToolButton->isEnabled() &&
           form->OptionsMenuItem->isEnabled() && !form->StopToolButton->isEnabled();
  }
  bool readerDone() const { return form->reader() != nullptr && form->reader()->isFinished(); }
  // Waits until the current read has ended (the reader ran its end steps).
  bool waitForReadEnd(int timeoutMs = 20000) {
    return waitUntil([this] { return readerDone(); }, timeoutMs);
  }
  std::string dataFile() const { return dir.file("calls.txt"); }

  TempDir dir;
  TestDialogs dialogs;
  std::unique_ptr<SimulatedPbx> pbx;
  std::unique_ptr<TMainForm> form;
};

TEST_F(MainFormTest, FirstRunShowsNoticeDeletesOutputConfigAndReadsNothing) {
  startPbx(scenarioWith(3));
  writeOutputConfig(dir, dataFile(), "", "AUTOSTART_1");  // no Kordel.cfg: a first run
  openForm();

  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].caption, q("Уведомление"));
  EXPECT_EQ(dialogs.messages[0].text,
            q("Это первый запуск программы Kordel(возможно были удалены файлы конфигурации). "
              "Выберите пункт \"Настройки\" и установите номер СОМ-порта "));
  EXPECT_FALSE(std::filesystem::exists(dir.file("KordelOut.cfg")));
  EXPECT_EQ(std::filesystem::file_size(dir.file("Kordel.cfg")), 30u);
  EXPECT_EQ((*pbx)->counters().requests, 0);
  EXPECT_EQ((*pbx)->counters().probes, 0);
  EXPECT_EQ(form->reader(), nullptr);
  EXPECT_FALSE(form->exitAfterRead());
  EXPECT_TRUE(panel(0).isEmpty());
  EXPECT_TRUE(form->listLines().isEmpty());
  EXPECT_EQ(form->windowTitle(), q("Kordel 2.15"));
}

TEST_F(MainFormTest, SilentPbxShowsDashesAndStartsNoRead) {
  pbxsim::Scenario scenario = scenarioWith(3);
  scenario.faults.silentAfter = 0;  // not even the handshake is echoed
  startPbx(scenario);
  writePortConfig(dir, 1, true);
  writeOutputConfig(dir, dataFile(), "", "AUTOSTART_1");
  QElapsedTimer clock;
  clock.start();
  openForm();

  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_EQ(panel(0), q("АТС: -"));
  EXPECT_EQ(panel(1), q("ПО вер. -"));
  EXPECT_EQ(panel(2), q("Зав. номер : -"));
  EXPECT_EQ(panel(3), q("Емкость буфера : -"));
  EXPECT_EQ(panel(4), q("В буфере : -"));
  EXPECT_EQ(form->CGauge1->minValue(), 0);
  EXPECT_EQ(form->CGauge1->maxValue(), 100);
  EXPECT_EQ(form->CGauge1->progress(), 0);
  EXPECT_EQ(form->DatePicker->date(), QDate::currentDate());
  EXPECT_EQ(form->reader(), nullptr);  // no autostart without an answer
  EXPECT_TRUE(form->exitAfterRead() == false);
  EXPECT_FALSE(std::filesystem::exists(dataFile()));
  EXPECT_GT(clock.elapsed(), 2000);  // the handshake was tried for a while
}

TEST_F(MainFormTest, ConnectedWindowShowsIdentityFileNamesAndPbxClock) {
  pbxsim::Scenario scenario = scenarioWith(3);
  scenario.clockDay = pbxsim::dayNumber(2023, 12, 31);
  scenario.clockSecond = 23 * 3600 + 59 * 60 + 58;
  scenario.timeStepByte = 2;  // a PBX counting the time of day in units of two seconds
  startPbx(scenario);
  writePortConfig(dir, 1, true);
  writeOutputConfig(dir, dataFile(), dir.file("rt.log"), "");
  openForm();

  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_EQ(panel(0), q("АТС: QTR160"));
  EXPECT_TRUE(panel(1).startsWith(q("ПО вер. ")));
  EXPECT_EQ(panel(2), q("Зав. номер : 12345"));
  EXPECT_EQ(panel(3), q("Емкость буфера : 500"));
  EXPECT_EQ(panel(4), q("В буфере : 3"));
  EXPECT_EQ(form->CGauge1->maxValue(), 500);
  EXPECT_EQ(form->CGauge1->progress(), 3);
  EXPECT_EQ(form->TarifFileNameStatusBar->panelText(1), QString::fromStdString(dataFile()));
  EXPECT_EQ(form->RealTimeFileNameStatusBar->panelText(1),
            QString::fromStdString(dir.file("rt.log")));
  // The PBX date and time, not the computer's (the PBX clock may have ticked on).
  const QDate date = form->DatePicker->date();
  const QTime time = form->TimePicker->time();
  EXPECT_TRUE((date == QDate(2023, 12, 31) && time >= QTime(23, 59, 56)) ||
              (date == QDate(2024, 1, 1) && time <= QTime(0, 0, 4)))
      << date.toString().toStdString() << " " << time.toString().toStdString();
  EXPECT_EQ(form->reader(), nullptr);
  EXPECT_TRUE(commandsFree());

  // Reload closes the open port first, so it opens and connects again.
  const long identifications = (*pbx)->counters().identifications;
  dialogs.messages.clear();
  form->ReloadToolButtonClick();
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_GT((*pbx)->counters().identifications, identifications);
  EXPECT_EQ(panel(0), q("АТС: QTR160"));

  // The analysis window is offered this window's data file and the database its reads fill.
  if (std::getenv("KORDEL_DB") == nullptr) {
    writeBytes(dataFile(), "");
    TAnalysisForm analysis;
    form->setAnalysisWindow(&analysis);
    form->Analysis_MenuItemClick();
    EXPECT_EQ(analysis.sources(), QStringList{QString::fromStdString(dataFile())});
    analysis.DatabaseClick();
    ASSERT_EQ(dialogs.textInitials.size(), 1u);
    EXPECT_EQ(dialogs.textInitials[0], QString::fromStdString(dir.file("kordel.sqlite")));
    form->setAnalysisWindow(nullptr);
  }
}

TEST_F(MainFormTest, ReadAllWithTitlesAppendsToTheListAndTheDataFile) {
  startPbx(scenarioWith(4));
  writePortConfig(dir, 1, true);
  writeOutputConfig(dir, dataFile(), "", "");
  openForm();

  form->LoadFromATSMenuItemClick();
  ASSERT_TRUE(waitForReadEnd());
  QStringList lines = form->listLines();
  ASSERT_EQ(lines.size(), 6);
  EXPECT_TRUE(lines[0].startsWith(q("       Данные на  ")));
  EXPECT_EQ(lines[1], q("       Начало         Продолжит   Абонент      СЛ     Номер"));
  EXPECT_TRUE(lines[2].startsWith(QStringLiteral("05-03-2024 09:07:00   00:01:06   201(")))
      << lines[2].toStdString();
  EXPECT_TRUE(lines[5].startsWith(QStringLiteral("05-03-2024 09:10:00")));
  EXPECT_EQ(fileLines(dataFile()), lines);
  EXPECT_TRUE(commandsFree());
  EXPECT_EQ(panel(4), q("В буфере : 0"));
  EXPECT_EQ(panel(5), q("Отвергнуто записей: 0"));
  EXPECT_EQ(form->ListBox1->currentIndex().row(), 5);  // the newest line is selected
  EXPECT_EQ((*pbx)->pendingRecords(0).size(), 0u);
  EXPECT_EQ(form->reader()->objectName(), QString::fromLatin1(ReadATSThread::kThreadName));

  // A second read adds its own title lines after the lines already shown.
  for (const pbxsim::Record& r : sampleRecords(2, 301)) (*pbx)->addRecord(r);
  form->LoadFromATSMenuItemClick();
  ASSERT_TRUE(waitForReadEnd());
  lines = form->listLines();
  ASSERT_EQ(lines.size(), 10);
  EXPECT_TRUE(lines[6].startsWith(q("       Данные на  ")));
  EXPECT_TRUE(lines[8].startsWith(QStringLiteral("05-03-2024 09:07:00   00:01:06   301(")));
  EXPECT_EQ(fileLines(dataFile()), lines);
  EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(MainFormTest, ReadAllWithoutTitlesShowsOnlyCallLines) {
  startPbx(scenarioWith(3));
  writePortConfig(dir, 1, false);
  writeOutputConfig(dir, dataFile(), "", "");
  openForm();
  form->ClearListMenuItemClick();

  form->LoadFromATSMenuItemClick();
  ASSERT_TRUE(waitForReadEnd());
  const QStringList lines = form->listLines();
  ASSERT_EQ(lines.size(), 3);
  for (const QString& line : lines) EXPECT_TRUE(line.startsWith(QStringLiteral("05-03-2024")));
  EXPECT_EQ(fileLines(dataFile()), lines);

  // Clear list empties the list only.
  form->ClearListMenuItemClick();
  EXPECT_TRUE(form->listLines().isEmpty());
  EXPECT_EQ(fileLines(dataFile()).size(), 3);
}

TEST_F(MainFormTest, ReadWithoutDataFileWarnsAndStartsNothing) {
  startPbx(scenarioWith(3));
  writePortConfig(dir, 1, true);
  writeOutputConfig(dir, "", "", "");
  openForm();
  const long requests = (*pbx)->counters().requests;

  form->LoadFromATSMenuItemClick();
  form->ReadUninterruptMenuItemClick();
  ASSERT_EQ(dialogs.messages.size(), 2u);
  for (const ShownMessage& m : dialogs.messages) {
    EXPECT_EQ(m.text, q("Не выбран файл для сохранения данных."));
    EXPECT_EQ(m.caption, q("Внимание!"));
  }
  EXPECT_EQ(form->reader(), nullptr);
  EXPECT_EQ((*pbx)->counters().requests, requests);
  EXPECT_TRUE(form->UnInterruptPanel->text().isEmpty());
}

TEST_F(MainFormTest, StopDuringReadUnlocksAtOnceAndLeavesTheRestInThePbx) {
  pbxsim::Scenario scenario = scenarioWith(200);
  scenario.faults.slowReplyMs = 3;
  startPbx(scenario);
  writePortConfig(dir, 1, false);
  writeOutputConfig(dir, dataFile(), "", "");
  openForm();

  form->LoadFromATSMenuItemClick();
  ASSERT_TRUE(waitUntil([this] { return form->listLines().size() >= 3; }));
  EXPECT_TRUE(commandsLocked());
  form->StopToolButtonClick();
  EXPECT_TRUE(commandsFree());
  ASSERT_TRUE(waitForReadEnd());
  EXPECT_TRUE(commandsFree());
  const QStringList lines = form->listLines();
  EXPECT_LT(lines.size(), 200);
  EXPECT_EQ(fileLines(dataFile()), lines);
  EXPECT_EQ((*pbx)->pendingRecords(0).size() + (*pbx)->takenRecords().size(), 200u);
  EXPECT_GT((*pbx)->pendingRecords(0).size(), 0u);
  EXPECT_TRUE(dialogs.messages.empty());
}

// Stop pressed while a record is being handed to the window, then a second read, and closing
// the window during a read, then a new run of the program: every call once in the data file.
TEST_F(MainFormTest, StopDuringAHandOverAndClosingDuringAReadRepeatNoCall) {
  pbxsim::Scenario scenario = scenarioWith(40);
  scenario.faults.slowReplyMs = 2;
  startPbx(scenario);
  writePortConfig(dir, 1, false);
  writeOutputConfig(dir, dataFile(), "", "");
  openForm();
  // The list grows inside the hand-over, on the GUI thread, while the reader waits for it.
  QObject::connect(form->ListBox1->model(), &QAbstractItemModel::rowsInserted, form.get(), [this] {
    if (form->listLines().size() == 3) form->StopToolButtonClick();
  });
  form->LoadFromATSMenuItemClick();
  ASSERT_TRUE(waitForReadEnd());
  EXPECT_EQ(form->listLines().size(), 3);
  EXPECT_EQ((*pbx)->takenRecords().size(), 3u);  // the record in hand was taken with the stop
  ASSERT_EQ(fileLines(dataFile()).size(), 3);
  form->ListBox1->model()->disconnect(form.get());
  form->LoadFromATSMenuItemClick();
  ASSERT_TRUE(waitUntil([this] { return form->listLines().size() >= 10; }));
  form->close();  // during the read
  ASSERT_TRUE(form->reader()->isFinished());
  form.reset();

  // The next run of the program reads the rest.
  openForm();
  form->LoadFromATSMenuItemClick();
  ASSERT_TRUE(waitForReadEnd(60000));
  EXPECT_TRUE((*pbx)->pendingRecords(0).empty());
  // The 40 calls differ from one another: 40 lines and no repeat is each call once.
  QStringList lines = fileLines(dataFile());
  EXPECT_EQ(lines.size(), 40);
  EXPECT_EQ(lines.removeDuplicates(), 0);
}

TEST_F(MainFormTest, ClosingDuringReadWaitsForTheReader) {
  pbxsim::Scenario scenario = scenarioWith(200);
  scenario.faults.slowReplyMs = 3;
  startPbx(scenario);
  writePortConfig(dir, 1, false);
  writeOutputConfig(dir, dataFile(), "", "");
  openForm();
  int closed = 0;
  QObject::connect(form.get(), &TMainForm::closed, [&closed] { ++closed; });

  form->LoadFromATSMenuItemClick();
  ASSERT_TRUE(waitUntil([this] { return form->listLines().size() >= 2; }));
  form->close();
  EXPECT_EQ(closed, 1);
  ASSERT_NE(form->reader(), nullptr);
  EXPECT_TRUE(form->reader()->isFinished());
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(fileLines(dataFile()), form->listLines());
  EXPECT_GT((*pbx)->pendingRecords(0).size(), 0u);
}

TEST_F(MainFormTest, ChoosingTheDataFile) {
  startPbx(scenarioWith(2));
  writePortConfig(dir, 1, false);
  writeOutputConfig(dir, dataFile(), "", "");
  openForm();
  form->LoadFromATSMenuItemClick();
  ASSERT_TRUE(waitForReadEnd());
  ASSERT_EQ(form->listLines().size(), 2);

  // The same file again keeps the list.
  dialogs.fileAnswers.push_back(QString::fromStdString(dataFile()));
  form->SelectFileFromData_MenuItemClick();
  ASSERT_EQ(dialogs.fileRequests.size(), 1u);
  EXPECT_EQ(dialogs.fileRequests[0].fileName, QString::fromStdString(dataFile()));
  EXPECT_EQ(dialogs.fileRequests[0].directory, QString::fromStdString(dir.str()));
  EXPECT_EQ(dialogs.fileRequests[0].defaultSuffix, QStringLiteral("txt"));
  EXPECT_EQ(form->listLines().size(), 2);

  // Cancelling keeps the list and the name but writes the output configuration again.
  std::filesystem::remove(dir.file("KordelOut.cfg"));
  form->SelectFileFromData_MenuItemClick();
  EXPECT_EQ(form->listLines().size(), 2);
  EXPECT_NE(readFile(dir.file("KordelOut.cfg")).find("TARIF_FNAME=" + dataFile()),
            std::string::npos);

  // Another file clears the list, is shown and is saved.
  const std::string other = dir.file("other.txt");
  dialogs.fileAnswers.push_back(QString::fromStdString(other));
  form->SelectFileFromData_MenuItemClick();
  EXPECT_TRUE(form->listLines().isEmpty());
  EXPECT_EQ(form->TarifFileNameStatusBar->panelText(1), QString::fromStdString(other));
  EXPECT_EQ(form->link()->settings.dataFileName, other);
  EXPECT_NE(readFile(dir.file("KordelOut.cfg")).find("TARIF_FNAME=" + other), std::string::npos);
  EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(MainFormTest, AutostartReadOnceEndsTheProgramAboutTwoSecondsAfterTheRead) {
  startPbx(scenarioWith(3));
  writePortConfig(dir, 1, true);
  writeOutputConfig(dir, dataFile(), "", "AUTOSTART_1");
  form = std::make_unique<TMainForm>(QString::fromStdString(dir.str()));
  int closed = 0;
  QObject::connect(form.get(), &TMainForm::closed, [&closed] { ++closed; });
  QElapsedTimer sinceRead;
  QObject::connect(form.get(), &TMainForm::readFinished, [&sinceRead] { sinceRead.start(); });
  form->show();
  EXPECT_TRUE(form->exitAfterRead());

  ASSERT_TRUE(waitUntil([&] { return closed == 1; }, 20000));
  ASSERT_TRUE(sinceRead.isValid());
  EXPECT_GE(sinceRead.elapsed(), 1500);
  EXPECT_LT(sinceRead.elapsed(), 6000);
  EXPECT_EQ(form->listLines().size(), 5);
  EXPECT_EQ(fileLines(dataFile()), form->listLines());
  EXPECT_FALSE(form->isVisible());
}

TEST_F(MainFormTest, AutostartContinuousReadsOnUntilStop) {
  startPbx(scenarioWith(2));
  writePortConfig(dir, 1, true);
  writeOutputConfig(dir, dataFile(), "", "AUTOSTART_UNINTERRUPT");
  openForm();

  EXPECT_EQ(form->UnInterruptPanel->text(), q("Идет непрерывное считывание"));
  EXPECT_TRUE(form->link()->continuousMode);
  ASSERT_TRUE(waitUntil([this] { return form->listLines().size() == 4; }));
  EXPECT_TRUE(commandsLocked());
  // A call made while the program reads on reaches the list without a new command.
  for (const pbxsim::Record& r : sampleRecords(1, 333)) (*pbx)->addRecord(r);
  ASSERT_TRUE(waitUntil([this] { return form->listLines().size() == 5; }));
  EXPECT_TRUE(
      form->listLines()[4].startsWith(QStringLiteral("05-03-2024 09:07:00   00:01:06   333(")));
  EXPECT_FALSE(form->reader()->isFinished());

  form->StopToolButtonClick();
  EXPECT_TRUE(form->UnInterruptPanel->text().isEmpty());
  EXPECT_TRUE(commandsFree());
  ASSERT_TRUE(waitForReadEnd());
  EXPECT_FALSE(form->link()->continuousMode);
  EXPECT_EQ(fileLines(dataFile()), form->listLines());
  EXPECT_TRUE(form->isVisible());
}

TEST_F(MainFormTest, AutostartContinuousRidesOutAPortThatGoesAwayAndComesBack) {
  pbxsim::Scenario scenario = scenarioWith(2);
  scenario.linkPath = dir.file("pbx");
  startPbx(scenario);
  writePortConfig(dir, 1, false);
  writeOutputConfig(dir, dataFile(), "", "AUTOSTART_UNINTERRUPT");
  openForm();
  ASSERT_TRUE(waitUntil([this] { return form->listLines().size() == 2; }));
  EXPECT_TRUE(form->LinkStatusBar->isHidden());

  // The line hangs up while the buffer is empty: the window says so without a box that would
  // wait for someone, and tries again by itself.
  (*pbx)->hangUp();
  auto linkState = [this] { return form->LinkStatusBar->panelText(0); };
  ASSERT_TRUE(waitUntil([&] { return linkState().contains(q("Повтор через")); }, 15000));
  EXPECT_FALSE(form->LinkStatusBar->isHidden());
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_TRUE(commandsLocked());
  (*pbx)->comeBack();
  ASSERT_TRUE(waitUntil([&] { return linkState().contains(q("восстановлена")); }, 20000));
  for (const pbxsim::Record& r : sampleRecords(1, 444)) (*pbx)->addRecord(r);
  ASSERT_TRUE(waitUntil([this] { return form->listLines().size() == 3; }, 10000));
  form->StopToolButtonClick();
  ASSERT_TRUE(waitForReadEnd());
  EXPECT_EQ(fileLines(dataFile()), form->listLines());
  EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(MainFormTest, AlarmsShowInTheGaugeAndBelowTheStatusBarsWithoutABox) {
  pbxsim::Scenario scenario = scenarioWith(90);
  scenario.units[0].capacity = 100;
  startPbx(scenario);
  writePortConfig(dir, 1, false);
  writeOutputConfig(dir, dataFile(), "", "");
  openForm();
  // 90 of 100: the buffer is filling up.
  EXPECT_TRUE(form->alarms().active(AlarmKind::kBufferFilling));
  EXPECT_EQ(form->CGauge1->fillColor(), QColor(255, 210, 0));
  EXPECT_FALSE(form->LinkStatusBar->isHidden());
  EXPECT_TRUE(
      form->LinkStatusBar->panelText(0).startsWith(q("Тревога: В буфере АТС 90 записей из 100")))
      << form->LinkStatusBar->panelText(0).toStdString();
  EXPECT_TRUE(dialogs.messages.empty());

  // Read, then connect again: the alarm clears and the gauge is lime again.
  form->LoadFromATSMenuItemClick();
  ASSERT_TRUE(waitForReadEnd(60000));
  form->ReloadToolButtonClick();
  EXPECT_FALSE(form->alarms().active(AlarmKind::kBufferFilling));
  EXPECT_EQ(form->CGauge1->fillColor(), QColor(0, 255, 0));
  EXPECT_TRUE(form->LinkStatusBar->panelText(0).startsWith(q("Отбой тревоги: ")));

  // A PBX clock an hour behind the computer's.
  int secondOfDay = QTime::currentTime().msecsSinceStartOfDay() / 1000;
  (*pbx)->setClock((*pbx)->clock().first, (secondOfDay + 86400 - 3600) % 86400);
  form->ReloadToolButtonClick();
  if (secondOfDay >= 3600) {  // not across midnight, where the PBX date would be a day off too
    EXPECT_TRUE(form->alarms().active(AlarmKind::kClockSkew));
    EXPECT_NE(form->LinkStatusBar->panelText(0).indexOf(q("расходятся на 60 мин.")), -1)
        << form->LinkStatusBar->panelText(0).toStdString();
  }
  EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(MainFormTest, TimePickerAdvancesAndWrapsAtMidnightWithoutTouchingTheDate) {
  form = std::make_unique<TMainForm>(QString::fromStdString(dir.str()));
  EXPECT_TRUE(form->PickerTimer->isActive());
  EXPECT_EQ(form->PickerTimer->interval(), 1000);
  EXPECT_FALSE(form->UnInterruptTimer->isActive());
  EXPECT_EQ(form->UnInterruptTimer->interval(), 2000);
  form->DatePicker->setDate(QDate(2024, 2, 29));
  form->TimePicker->setTime(QTime(23, 59, 58));
  form->PickerTimerTimer();
  EXPECT_EQ(form->TimePicker->time(), QTime(23, 59, 59));
  form->PickerTimerTimer();
  EXPECT_EQ(form->TimePicker->time(), QTime(0, 0, 0));
  EXPECT_EQ(form->DatePicker->date(), QDate(2024, 2, 29));
}

TEST_F(MainFormTest, PortFailureDuringReadIsReportedAndUnlocksTheWindow) {
  startPbx(scenarioWith(30));
  writePortConfig(dir, 1, false);
  writeOutputConfig(dir, dataFile(), "", "AUTOSTART_1");
  form = std::make_unique<TMainForm>(QString::fromStdString(dir.str()));
  int closed = 0;
  QObject::connect(form.get(), &TMainForm::closed, [&closed] { ++closed; });
  // The PBX hangs up a few records into the read that the autostart begins.
  pbxsim::Faults faults;
  faults.hangupAfter = 12;
  (*pbx)->setFaults(faults);
  form->show();

  ASSERT_TRUE(waitUntil([this] { return !dialogs.messages.empty(); }, 30000));
  EXPECT_EQ(dialogs.messages[0].text, q("Ошибка при работе с СОМ-портом."));
  EXPECT_EQ(dialogs.messages[0].caption, q("Ошибка!"));
  EXPECT_TRUE(commandsFree());
  const QStringList lines = form->listLines();
  EXPECT_GT(lines.size(), 0);
  EXPECT_LT(lines.size(), 30);
  EXPECT_EQ(fileLines(dataFile()), lines);
  // The read-once start-up still ends the program after the failed read.
  EXPECT_TRUE(waitUntil([&] { return closed == 1; }, 10000));
}

TEST_F(MainFormTest, UnwritableDataFileStopsTheReadAndIsReported) {
  startPbx(scenarioWith(5));
  writePortConfig(dir, 1, false);
  const std::string badFile = dir.file("missing-folder/calls.txt");
  writeOutputConfig(dir, badFile, "", "");
  openForm();

  form->LoadFromATSMenuItemClick();
  ASSERT_TRUE(waitForReadEnd());
  ASSERT_TRUE(waitUntil([this] { return !dialogs.messages.empty(); }));
  EXPECT_EQ(dialogs.messages[0].text, q("Не удалось записать строку в файл данных: ") +
                                          QString::fromStdString(badFile) +
                                          q(". Считывание остановлено."));
  EXPECT_EQ(dialogs.messages[0].caption, q("Ошибка!"));
  // The line is shown; nothing was taken from the PBX, so nothing is lost.
  EXPECT_EQ(form->listLines().size(), 1);
  EXPECT_EQ((*pbx)->pendingRecords(0).size(), 5u);
  EXPECT_TRUE(commandsFree());

  // With title lines the read does not start at all.
  dialogs.messages.clear();
  form->link()->settings.titleEnabled = true;
  form->StatusBar1->setPanelText(4, QStringLiteral("stale"));
  form->LoadFromATSMenuItemClick();
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].caption, q("Ошибка!"));
  EXPECT_EQ(panel(4), q("В буфере : 5"));  // the status read before the titles is shown
  EXPECT_FALSE(form->reader()->isRunning());
  EXPECT_FALSE(form->reader()->isFinished());  // never started
  EXPECT_EQ(form->listLines().size(), 3);
  EXPECT_EQ((*pbx)->pendingRecords(0).size(), 5u);
}

TEST_F(MainFormTest, RealTimeWindowOnlyForQtrModels) {
  startPbx(scenarioWith(0, 7));  // DL40
  writePortConfig(dir, 1, true);
  writeOutputConfig(dir, dataFile(), "", "");
  openForm();
  ASSERT_EQ(panel(0), q("АТС: DL40"));

  form->RealTime_MenuItemClick();
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text, q("Данная функция работает только с КТР160/400"));
  EXPECT_EQ(dialogs.messages[0].caption, q("Предупреждение"));
}

TEST_F(MainFormTest, LinesHandedOverFromAnotherThreadArriveInOrder) {
  form = std::make_unique<TMainForm>(QString::fromStdString(dir.str()));
  std::atomic<bool> done{false};
  std::thread reader([this, &done] {
    for (int i = 0; i < 200; ++i) form->addLine("line " + std::to_string(i));
    form->showCounters(7, 2);
    done = true;
  });
  const bool finished = waitUntil([&done] { return done.load(); });
  reader.join();
  ASSERT_TRUE(finished);
  const QStringList lines = form->listLines();
  ASSERT_EQ(lines.size(), 200);
  for (int i = 0; i < 200; ++i) EXPECT_EQ(lines[i], QStringLiteral("line %1").arg(i));
  EXPECT_EQ(form->ListBox1->currentIndex().row(), 199);
  EXPECT_EQ(form->StatusBar1->panelText(4), q("В буфере : 7"));
  EXPECT_EQ(form->StatusBar1->panelText(5), q("Отвергнуто записей: 2"));
}

TEST_F(MainFormTest, ListIsClearedWhenItWouldHoldMoreThanTwentyThousandLines) {
  openForm();  // shown, so that each line is also scrolled into view
  for (int i = 0; i < 20000; ++i) form->addLine("x");
  EXPECT_EQ(form->listLines().size(), 20000);
  form->addLine("x");
  EXPECT_TRUE(form->listLines().isEmpty());
}

TEST_F(MainFormTest, WindowLayoutAndNames) {
  form = std::make_unique<TMainForm>(QString::fromStdString(dir.str()));
  const struct {
    QAction* action;
    const char* name;
    const char* caption;
  } items[] = {
      {form->SelectFileFromData_MenuItem, "SelectFileFromData_MenuItem",
       "Выбрать файл для сохранения данных"},
      {form->Report_MenuItem, "Report_MenuItem", "Составление выборки данных"},
      {form->ExitMenuItem, "ExitMenuItem", "Выйти из программы"},
      {form->LoadFromATSMenuItem, "LoadFromATSMenuItem", "Считать все данные из АТС"},
      {form->ReadUninterruptMenuItem, "ReadUninterruptMenuItem", "Считывать данные непрерывно."},
      {form->RealTime_MenuItem, "RealTime_MenuItem",
       "Отслеживание соединений в режиме реального времени"},
      {form->ClearListMenuItem, "ClearListMenuItem", "Очистить список"},
      {form->OptionsMenuItem, "OptionsMenuItem", "Настройки программы"},
      {form->AboutMenuItem, "AboutMenuItem", "О программе"},
  };
  for (const auto& item : items) {
    EXPECT_EQ(item.action->objectName(), QString::fromLatin1(item.name));
    EXPECT_EQ(item.action->text(), q(item.caption));
    EXPECT_EQ(form->findChild<QAction*>(QString::fromLatin1(item.name)), item.action);
  }
  EXPECT_FALSE(form->StopToolButton->isEnabled());
  EXPECT_EQ(form->StopToolButton->toolTip(), q("Остановить  считывание"));
  EXPECT_EQ(form->width(), 794);
  EXPECT_EQ(form->TarifFileNameStatusBar->panelText(0), q("Файл учета звонков: "));
  EXPECT_EQ(form->StatusBar1->panelCount(), 6);
  EXPECT_TRUE(form->ListBox1->font().bold());
  EXPECT_TRUE(QFontInfo(form->ListBox1->font()).fixedPitch());
  // Rows are 14 pixels high whatever the font's own height.
  auto* lines = qobject_cast<kordel::gui::TLineListModel*>(form->ListBox1->model());
  ASSERT_NE(lines, nullptr);
  lines->append(QStringLiteral("05-03-2004 09:07:03   00:01:05   123( 201)"));
  EXPECT_EQ(form->ListBox1->sizeHintForRow(0), 14);
  // The time picker shows the program's long time format (H:mm:ss by default; Qt writes the
  // designator tt as AP).
  EXPECT_EQ(form->TimePicker->displayFormat(),
            QString::fromStdString(kordel::regionalFormats().longTime)
                .replace(QStringLiteral("tt"), QStringLiteral("AP")));
}

}  // namespace
}  // namespace kordel::test
