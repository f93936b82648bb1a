// The report window driven through its menus and the dialog seam: load, sort, select, save.
#include "report/gui/report_form.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractItemModel>
#include <QAction>
#include <QApplication>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QStatusBar>
#include <QStyle>
#include <QTableView>
#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/gui/dialogs.h"
#include "files/call_record_line.h"
#include "files/regional_format.h"
#include "files/text_codec.h"
#include "support/call_records.h"

namespace {

using kordel::gui::FileDialogRequest;
using kordel::gui::MessageAnswer;

QString u(const char* utf8) { return QString::fromUtf8(utf8); }

// Answers file dialogs and questions from queues and records every box.
class ScriptedDialogs : public kordel::gui::Dialogs {
 public:
  ScriptedDialogs() { kordel::gui::setDialogs(this); }
  ~ScriptedDialogs() override { kordel::gui::setDialogs(nullptr); }
  void message(QWidget*, const QString& text, const QString& caption) override {
    messages.push_back({text, caption});
  }
  MessageAnswer question(QWidget*, const QString& text, const QString& caption) override {
    questions.push_back({text, caption});
    MessageAnswer a = answers.empty() ? MessageAnswer::Cancel : answers.front();
    if (!answers.empty()) answers.pop_front();
    return a;
  }
  std::optional<QString> askText(QWidget*, const QString& caption, const QString&,
                                 const QString&) override {
    ADD_FAILURE() << "the report window asked for text: " << caption.toStdString();
    return std::nullopt;
  }
  std::optional<QString> openFile(QWidget*, const FileDialogRequest& r) override { return next(r); }
  std::optional<QString> saveFile(QWidget*, const FileDialogRequest& r) override { return next(r); }
  std::vector<std::pair<QString, QString>> messages, questions;
  std::deque<MessageAnswer> answers;
  std::deque<std::optional<QString>> files;
  std::vector<FileDialogRequest> requests;

 private:
  std::optional<QString> next(const FileDialogRequest& r) {
    requests.push_back(r);
    if (files.empty()) return std::nullopt;
    auto f = files.front();
    files.pop_front();
    return f;
  }
};

kordel::CallRecord record(int hw, const std::string& prg, const std::string& trunk,
                          const std::string& dialed, int seconds) {
  return kordel::test::makeRecord(hw, prg, trunk, dialed, 0, seconds / 60, seconds % 60);
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class ReportFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("kordel_report_form_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
    kordel::regionalFormats().shortDate = "dd.MM.yyyy";
    std::ofstream out(path("data.txt"), std::ios::binary);
    for (const auto& r : {record(123, "21", "7", "8001", 300), record(124, "210", "9", "", 60),
                          record(125, "5", "10", "7002", 300), record(123, "21", "2", "", 30)}) {
      out << kordel::formatCallRecordLine(r) << "\r\n";
    }
    out << kordel::columnTitleLine() << "\r\n";
    form_.setStartDirectory(QString::fromStdString(dir_.string()));
    form_.show();
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string path(const char* name) const { return (dir_ / name).string(); }
  QString qpath(const char* name) const { return QString::fromStdString(path(name)); }
  QAction* action(const char* name) { return form_.findChild<QAction*>(u(name)); }
  QStringList column(const char* grid, int c) {
    QAbstractItemModel* model = form_.findChild<QTableView*>(u(grid))->model();
    QStringList out;
    for (int r = 0; r < model->rowCount(); ++r) out << model->index(r, c).data().toString();
    return out;
  }
  void load(const char* name) {
    dialogs_.files.push_back(qpath(name));
    action("Load")->trigger();
  }
  void key(QWidget* w, int k, const QString& text = QString()) {
    QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier, text);
    QApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, k, Qt::NoModifier, text);
    QApplication::sendEvent(w, &release);
  }

  std::filesystem::path dir_;
  ScriptedDialogs dialogs_;
  TMainForm_rep form_;
};

TEST_F(ReportFormTest, LoadSortSelectAndSaveThroughTheMenus) {
  EXPECT_EQ(form_.objectName(), u("MainForm_rep"));
  EXPECT_EQ(action("N10")->text(), u("Сортировка по исх. трафику "));
  EXPECT_EQ(action("N13")->text(), u("Сохранить в файл"));

  load("data.txt");
  ASSERT_TRUE(dialogs_.messages.empty());
  ASSERT_EQ(dialogs_.requests.size(), 1u);
  EXPECT_EQ(dialogs_.requests[0].directory, QString::fromStdString(dir_.string()));
  EXPECT_EQ(form_.findChild<QGroupBox*>(u("FileGroupBox"))->title(), u("Кол-во строк: 5"));
  EXPECT_EQ(column("StringGrid1", 3), QStringList({"123", "124", "125", "123"}));
  EXPECT_EQ(column("StringGrid1", 0).front(), u("05.03.2004"));
  EXPECT_EQ(column("StringGrid1", 1).front(), u("09:07:03"));
  EXPECT_EQ(form_.findChild<QTableView*>(u("StringGrid1"))->model()->headerData(6, Qt::Horizontal),
            u("Внешний номер"));
  EXPECT_EQ(column("ALGrid", 4), QStringList({"00:05:30", "00:01:00", "00:05:00"}));

  action("N7")->trigger();  // total traffic: 60, 300 and 330 seconds
  EXPECT_EQ(column("ALGrid", 0), QStringList({"124", "125", "123"}));
  action("N8")->trigger();  // trunks as text
  EXPECT_EQ(column("SLGrid", 0), QStringList({"10", "2", "7", "9"}));

  // Selection: programmed number 21, external numbers from 8; letters do not get in.
  action("N1")->trigger();
  auto* panel = form_.findChild<QWidget*>(u("ALQueryPanel"));
  EXPECT_TRUE(panel->isVisible());
  auto* mask = form_.findChild<QLineEdit*>(u("MaskEdit1"));
  auto* filter = form_.findChild<QLineEdit*>(u("FilterEdit"));
  key(mask, Qt::Key_2, u("2"));
  key(mask, Qt::Key_1, u("1"));
  key(filter, Qt::Key_A, u("a"));
  key(filter, Qt::Key_8, u("8"));
  EXPECT_EQ(filter->text(), u("8"));
  key(filter, Qt::Key_Return);
  EXPECT_FALSE(panel->isVisible());
  EXPECT_EQ(column("StringGrid1", 6), QStringList({"8001"}));

  // Save the selection; the file holds the title and the selected call.
  dialogs_.files.push_back(qpath("calls.txt"));
  action("N2")->trigger();
  EXPECT_EQ(
      slurp(path("calls.txt")),
      kordel::utf8ToCp1251("        Начало         Длит.    Апп.  Прг.   СЛ     Набранный номер\r\n"
                           "05.03.2004  09:07:03  00:05:00  123   21     7      8001" +
                           std::string(8, ' ') + "\r\n"));

  // An existing file: Cancel keeps it, OK replaces it with the trunk report.
  dialogs_.files.push_back(qpath("calls.txt"));
  dialogs_.answers.push_back(MessageAnswer::Cancel);
  action("N13")->trigger();
  ASSERT_EQ(dialogs_.questions.size(), 1u);
  EXPECT_EQ(dialogs_.questions[0].first, u("Такой файл уже существует. Перезапишем?"));
  EXPECT_EQ(dialogs_.questions[0].second, u("Предупреждение!"));
  EXPECT_NE(slurp(path("calls.txt")).find("8001"), std::string::npos);
  dialogs_.files.push_back(qpath("calls.txt"));
  dialogs_.answers.push_back(MessageAnswer::Ok);
  action("N13")->trigger();
  std::string expected;
  for (const auto& line : form_.book().reportLines(kordel::report::ReportKind::Trunks)) {
    expected += line + "\r\n";
  }
  EXPECT_EQ(slurp(path("calls.txt")), expected);
  EXPECT_EQ(std::count(expected.begin(), expected.end(), '\n'), 5);

  // Saving onto something that cannot be written reports it.
  std::filesystem::create_directories(dir_ / "folder");
  dialogs_.files.push_back(qpath("folder"));
  dialogs_.answers.push_back(MessageAnswer::Ok);
  action("N12")->trigger();
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(dialogs_.messages[0].first, u("Ошибка"));
  EXPECT_TRUE(dialogs_.messages[0].second.startsWith(u("Не удалось записать файл. errno = ")));
}

TEST_F(ReportFormTest, LineThatDoesNotConvertLeavesThePreviousFileShown) {
  load("data.txt");
  std::string bad = kordel::formatCallRecordLine(record(300, "3", "3", "3", 3));
  bad.replace(11, 2, "25");
  std::ofstream(path("bad.txt"), std::ios::binary) << "x\r\n" << bad << "\r\n";
  load("bad.txt");
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(dialogs_.messages[0].second, u("Ошибка!"));
  EXPECT_TRUE(dialogs_.messages[0].first.contains(u("строка 2")));
  EXPECT_TRUE(dialogs_.messages[0].first.contains(QString::fromStdString(bad)));
  EXPECT_EQ(form_.findChild<QGroupBox*>(u("FileGroupBox"))->title(), u("Кол-во строк: 5"));
  EXPECT_EQ(column("StringGrid1", 3).size(), 4);
  // A cancelled dialog changes nothing either.
  action("Load")->trigger();
  EXPECT_EQ(column("ALGrid", 0), QStringList({"123", "124", "125"}));
}

TEST_F(ReportFormTest, NoSaveCommandWritesOverTheLoadedDataFile) {
  load("data.txt");
  const std::string before = slurp(path("data.txt"));
  std::filesystem::create_symlink(path("data.txt"), dir_ / "link.txt");
  std::filesystem::create_hard_link(path("data.txt"), dir_ / "hard.txt");
  for (const char* command : {"N2", "N12", "N13"}) {
    for (const char* name : {"data.txt", "link.txt", "hard.txt"}) {
      SCOPED_TRACE(std::string(command) + " onto " + name);
      dialogs_.messages.clear();
      dialogs_.questions.clear();
      dialogs_.files.push_back(qpath(name));
      dialogs_.answers.assign({MessageAnswer::Ok});  // were it asked, the file would go
      action(command)->trigger();
      EXPECT_TRUE(dialogs_.questions.empty()) << "refused before the overwrite question";
      ASSERT_EQ(dialogs_.messages.size(), 1u);
      EXPECT_EQ(dialogs_.messages[0].first,
                u("Отчет не записан: \"") + qpath(name) +
                    u("\" - это файл данных, из которого он построен."));
      EXPECT_EQ(dialogs_.messages[0].second, u("Ошибка!"));
      EXPECT_EQ(slurp(path("data.txt")), before);
    }
  }
  // Any other file is saved as before.
  dialogs_.files.push_back(qpath("report.txt"));
  action("N12")->trigger();
  EXPECT_FALSE(slurp(path("report.txt")).empty());
}

TEST_F(ReportFormTest, ResizeSetsGroupHeightsAndColumnWidths) {
  form_.resize(1200, 600);  // wide enough for every title in its proportional width
  QApplication::processEvents();
  auto* panel = form_.findChild<QWidget*>(u("Panel1"));
  auto* box = form_.findChild<QGroupBox*>(u("ALGroupBox"));
  EXPECT_EQ(box->height(), panel->height() / 3 - 1);
  auto* calls = form_.findChild<QTableView*>(u("StringGrid1"));
  const int w = calls->width();
  EXPECT_EQ(calls->columnWidth(0), w / 7 - 10);
  EXPECT_EQ(calls->columnWidth(2), w / 7);
  EXPECT_EQ(calls->columnWidth(5), w / 7 - 18);
  EXPECT_EQ(calls->columnWidth(6), w - 2 * (w / 7 - 10) - w / 7 - 3 * (w / 7 - 18) - 30);
  auto* trunks = form_.findChild<QTableView*>(u("SLGrid"));
  EXPECT_EQ(trunks->columnWidth(3), trunks->width() / 4 - 13);
  // The empty status bar runs along the bottom, below the panel.
  auto* status = form_.findChild<QStatusBar*>(u("StatusBar1"));
  ASSERT_NE(status, nullptr);
  EXPECT_TRUE(status->currentMessage().isEmpty());
  EXPECT_EQ(status->geometry().bottom(), form_.height() - 1);
  EXPECT_LE(panel->geometry().bottom(), status->geometry().top());
  ASSERT_NE(form_.findChild<QLabel*>(u("Label2")), nullptr);
}

// Every text of a grid fits its column in the font in use: a cell's text inside the item
// margins and left of the grid line, a title inside the header's margins.
void expectTextsFit(QTableView* grid) {
  const int cellMargin =
      2 * (grid->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, grid) + 1) + 1;
  const int headerMargin =
      2 * grid->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, grid->horizontalHeader());
  const QAbstractItemModel* model = grid->model();
  for (int c = 0; c < model->columnCount(); ++c) {
    const int width = grid->columnWidth(c);
    const QString title = model->headerData(c, Qt::Horizontal).toString();
    EXPECT_LE(grid->horizontalHeader()->fontMetrics().horizontalAdvance(title) + headerMargin,
              width)
        << grid->objectName().toStdString() << " title " << title.toStdString();
    for (int r = 0; r < model->rowCount(); ++r) {
      const QString text = model->index(r, c).data().toString();
      EXPECT_LE(grid->fontMetrics().horizontalAdvance(text) + cellMargin, width)
          << grid->objectName().toStdString() << " " << text.toStdString();
    }
  }
}

TEST_F(ReportFormTest, EveryTextFitsItsColumnAtTheDefaultSizeAndAfterResizes) {
  {
    // A call with the longest numbers a line holds, and a day and hour of two digits.
    std::ofstream out(path("data.txt"), std::ios::binary | std::ios::app);
    kordel::CallRecord wide =
        kordel::test::makeRecord(999, "9999", "99", "888888888888888888888", 9, 59, 59);
    wide.day = 28;
    wide.hour = 23;
    // More calls than the grid shows at once, so that its vertical scroll bar takes its room.
    for (int i = 0; i < 12; ++i) out << kordel::formatCallRecordLine(wide) << "\r\n";
  }
  load("data.txt");
  ASSERT_TRUE(dialogs_.messages.empty());
  auto* calls = form_.findChild<QTableView*>(u("StringGrid1"));
  ASSERT_EQ(calls->model()->rowCount(), 16);
  form_.resize(564, 570);  // the window's own size on a screen 1024 pixels wide or more
  QApplication::processEvents();
  for (const char* grid : {"StringGrid1", "ALGrid", "SLGrid"}) {
    expectTextsFit(form_.findChild<QTableView*>(u(grid)));
  }
  // A little wider, the columns give up their spare pixels so that all of them are in view.
  form_.resize(700, 570);
  QApplication::processEvents();
  expectTextsFit(calls);
  int shown = 0;
  for (int c = 0; c < 7; ++c) shown += calls->columnWidth(c);
  EXPECT_LE(shown, calls->viewport()->width());

  // Narrow: the texts still fit (the grid scrolls). Wide: see
  // ResizeSetsGroupHeightsAndColumnWidths.
  form_.resize(420, 500);
  QApplication::processEvents();
  expectTextsFit(calls);
}

// With a file loaded before, its count stays: LineThatDoesNotConvertLeavesThePreviousFileShown.
TEST_F(ReportFormTest, AFailedFirstLoadGivesTheCountOfTheEmptyGrid) {
  std::string bad = kordel::formatCallRecordLine(record(300, "3", "3", "3", 3));
  bad.replace(11, 2, "25");
  std::ofstream(path("bad.txt"), std::ios::binary) << bad << "\r\n";
  auto* box = form_.findChild<QGroupBox*>(u("FileGroupBox"));
  EXPECT_EQ(box->title(), u("Кол-во строк: "));
  load("bad.txt");  // nothing loaded before: the grid is empty
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(box->title(), u("Кол-во строк: 0"));
  EXPECT_EQ(column("StringGrid1", 0).size(), 0);
}

TEST_F(ReportFormTest, EscapeCancelsTheQueryAndLeavesTheWindowOpen) {
  load("data.txt");
  auto* panel = form_.findChild<QFrame*>(u("ALQueryPanel"));
  ASSERT_NE(panel, nullptr);
  form_.N1Click();
  ASSERT_TRUE(panel->isVisible());
  key(&form_, Qt::Key_Escape);
  EXPECT_FALSE(panel->isVisible());
  EXPECT_TRUE(form_.isVisible());
  key(&form_, Qt::Key_Escape);
  EXPECT_TRUE(form_.isVisible());
  EXPECT_EQ(column("StringGrid1", 0).size(), 4);  // the loaded calls are still shown
}

}  // namespace
