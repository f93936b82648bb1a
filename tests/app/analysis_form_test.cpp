// The analysis window driven through its commands and the dialog seam: data files of two months
// (and a copy of one), tariffs and a directory; filters; the tables against the engine's own
// result and against counts made here; the charts' points; CSV, XLSX and PDF exports; errors in
// the core's words; a cancel during a long load; a calls database as the source, by site; the
// main window's menu item.
#include "analysis/gui/analysis_form.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QTimer>
#include <QXYSeries>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <map>

#include "analysis/analysis_test_util.h"
#include "analysis/export.h"
#include "analysis/gui/analysis_charts.h"
#include "app/gui/main_form.h"
#include "gui_test_support.h"
#include "store/data_file_intake.h"
#include "store/database_choice.h"

namespace kordel::test {
namespace {

using analysis::AnalysisOptions;
using analysis::AnalysisResult;
using analysis::TableKind;
using analysis::testing::callLine;
using kordel::gui::FileDialogRequest;
using kordel::gui::MessageAnswer;

// Answers every dialog from queues and records every box.
class AnswerDialogs : public kordel::gui::Dialogs {
 public:
  AnswerDialogs() { kordel::gui::setDialogs(this); }
  ~AnswerDialogs() override { kordel::gui::setDialogs(nullptr); }
  void message(QWidget*, const QString& text, const QString& caption) override {
    messages.push_back({text, caption});
  }
  MessageAnswer question(QWidget*, const QString& text, const QString& caption) override {
    messages.push_back({text, caption});
    const MessageAnswer a = answers.empty() ? MessageAnswer::Cancel : answers.front();
    if (!answers.empty()) answers.pop_front();
    return a;
  }
  std::optional<QString> askText(QWidget*, const QString&, const QString&,
                                 const QString& initial) override {
    offered.push_back(initial);
    if (texts.empty()) return std::nullopt;
    QString t = texts.front();
    texts.pop_front();
    return t;
  }
  std::optional<QString> openFile(QWidget*, const FileDialogRequest&) override { return next(); }
  std::optional<QString> saveFile(QWidget*, const FileDialogRequest&) override { return next(); }
  std::optional<QString> chooseFolder(QWidget*, const FileDialogRequest&) override {
    return next();
  }
  std::optional<QStringList> openFiles(QWidget*, const FileDialogRequest&) override {
    if (fileLists.empty()) return std::nullopt;
    QStringList l = fileLists.front();
    fileLists.pop_front();
    return l;
  }
  std::vector<ShownMessage> messages;
  std::deque<QString> files;
  std::deque<QStringList> fileLists;
  std::deque<MessageAnswer> answers;
  std::deque<QString> texts;     // answers of text prompts
  std::vector<QString> offered;  // what each text prompt offered

 private:
  std::optional<QString> next() {
    if (files.empty()) return std::nullopt;
    QString f = files.front();
    files.pop_front();
    return f;
  }
};

// One generated call, as the test counts it.
struct Generated {
  analysis::WallTime start;
  int seconds, prg;
  std::string trunk, dialed;
};

const char* const kTariffs =
    "Префикс;Направление;Цена за минуту\r\n2;Местная;0,50\r\n8;Междугородняя;3,20\r\n";
const char* const kDirectory =
    "Номер;Имя;Отдел\r\n201;Иванова;Бухгалтерия\r\n202;Петров;Продажи / Москва\r\n"
    "203;Сидоров;Продажи / Тверь\r\n";

class AnalysisFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Two months, a call every few hours of the working day, on three trunks; calls on one
    // trunk overlap now and then.
    std::uint32_t seed = 12345;
    auto rnd = [&seed](int n) {
      seed = seed * 1103515245u + 12345u;
      return static_cast<int>((seed >> 16) % static_cast<std::uint32_t>(n));
    };
    for (int month : {3, 4}) {
      std::vector<std::string> lines;
      for (int i = 0; i < 180; ++i) {
        Generated g;
        const int day = 1 + rnd(28), hour = 8 + rnd(11), minute = rnd(60);
        g.seconds = 1 + rnd(600);
        g.prg = 201 + rnd(5);
        g.trunk = std::to_string(1 + 3 * rnd(3));  // 1, 4 or 7
        g.dialed = rnd(4) == 0 ? "" : (rnd(2) ? "2" : "8495") + std::to_string(1000000 + rnd(9));
        char start[64];
        std::snprintf(start, sizeof start, "2024-%02d-%02d %02d:%02d:%02d", month, day, hour,
                      minute, i % 60);
        g.start = analysis::testing::at(start);
        lines.push_back(
            callLine(start, g.seconds, g.prg - 100, std::to_string(g.prg), g.trunk, g.dialed));
        calls.push_back(g);
      }
      writeBytes(dir.file(month == 3 ? "march.txt" : "april.txt"), analysis::testing::crlf(lines));
    }
    std::filesystem::copy_file(dir.file("march.txt"), dir.file("march copy.txt"));
    writeBytes(dir.file("tariffs.csv"), kTariffs);
    writeBytes(dir.file("directory.csv"), kDirectory);
    form.setStartDirectory(qs(dir.str()));
  }

  static QString qs(const std::string& s) { return QString::fromStdString(s); }
  QStringList dataFiles() const {
    return {qs(dir.file("march.txt")), qs(dir.file("april.txt")), qs(dir.file("march copy.txt"))};
  }

  // Runs the calculation and waits for its end.
  void run() {
    form.RunClick();
    ASSERT_TRUE(waitUntil([this] { return !form.busy(); }, 60000));
  }

  // The engine's result for the same files and options, made here.
  AnalysisResult engine(const AnalysisOptions& options) {
    std::vector<std::string> paths;
    for (const QString& f : dataFiles()) paths.push_back(f.toStdString());
    analysis::testing::loadOk(store, paths);
    EXPECT_TRUE(tariffs.load(dir.file("tariffs.csv")).ok());
    EXPECT_TRUE(directory.load(dir.file("directory.csv")).ok());
    return analysis::Analyzer(store, tariffs, directory, options).run();
  }

  void chooseEverything() {
    dialogs.fileLists.push_back(dataFiles());
    form.DataFilesClick();
    dialogs.files.push_back(qs(dir.file("tariffs.csv")));
    form.TariffsClick();
    dialogs.files.push_back(qs(dir.file("directory.csv")));
    form.DirectoryClick();
  }

  TempDir dir;
  std::vector<Generated> calls;
  AnswerDialogs dialogs;
  TAnalysisForm form;
  analysis::CallStore store;
  analysis::TariffPlan tariffs;
  analysis::Directory directory;
};

QAbstractItemModel* gridModel(TAnalysisForm& form, const char* key) {
  auto* view = form.findChild<QTableView*>(QString::fromLatin1(key) + QStringLiteral("Grid"));
  return view != nullptr ? view->model() : nullptr;
}

template <class Series>
Series* seriesOf(QChartView* view, int index = 0) {
  const QList<QAbstractSeries*> all = view->chart()->series();
  int seen = 0;
  for (QAbstractSeries* s : all) {
    if (auto* typed = qobject_cast<Series*>(s)) {
      if (seen++ == index) return typed;
    }
  }
  return nullptr;
}

std::string runTool(const std::string& command) {
  std::string out;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    ::pclose(pipe);
  }
  return out;
}

TEST_F(AnalysisFormTest, TotalsChartsAndExportsFollowTheFilters) {
  chooseEverything();
  run();
  ASSERT_NE(form.result(), nullptr);
  EXPECT_TRUE(dialogs.messages.empty()) << dialogs.messages.front().text.toStdString();
  // The copy of March counts once.
  EXPECT_EQ(form.lastLoad().files.size(), 3u);
  EXPECT_EQ(form.lastLoad().duplicates, 180u);
  EXPECT_EQ(form.result()->totals.calls, calls.size());

  // March, outgoing, on trunks 1 and 7, at least 30 s, the last three digits hidden.
  const int march = form.PeriodCombo->findText(q("Март 2024"));
  ASSERT_GE(march, 2) << "the months of the data are offered";
  EXPECT_EQ(form.PeriodCombo->findText(q("Апрель 2024")), march + 1);
  form.PeriodCombo->setCurrentIndex(march);
  form.DirectionCombo->setCurrentIndex(2);
  form.TrunkEdit->setText(QStringLiteral("1, 7"));
  form.MinDurationSpin->setValue(30);
  form.HideDigitsCheck->setChecked(true);
  form.HideDigitsSpin->setValue(3);
  run();
  EXPECT_EQ(form.lastLoad().duplicates, 180u) << "the files are not read again";

  // Counted here from the generated calls.
  const analysis::WallTime from = analysis::testing::at("2024-03-01 00:00:00");
  const analysis::WallTime to = analysis::testing::at("2024-04-01 00:00:00");
  std::uint64_t expectCalls = 0;
  std::int64_t expectSeconds = 0;
  std::map<int, std::uint64_t> byHour;
  std::vector<const Generated*> kept;
  for (const Generated& g : calls) {
    if (g.start < from || g.start >= to || g.dialed.empty() || g.seconds < 30 || g.trunk == "4") {
      continue;
    }
    ++expectCalls;
    expectSeconds += g.seconds;
    ++byHour[static_cast<int>(g.start % 86400 / 3600)];
    kept.push_back(&g);
  }
  const AnalysisResult& shown = *form.result();
  ASSERT_GT(expectCalls, 20u);
  EXPECT_EQ(shown.totals.calls, expectCalls);
  EXPECT_EQ(shown.totals.seconds, expectSeconds);

  // The engine's own result for the same choice: every total and row the same.
  const AnalysisResult mine = engine(form.options());
  EXPECT_EQ(shown.totals.cost, mine.totals.cost);
  EXPECT_GT(shown.totals.cost, 0);
  ASSERT_EQ(shown.extensions.size(), mine.extensions.size());
  for (std::size_t i = 0; i < mine.extensions.size(); ++i) {
    EXPECT_EQ(shown.extensions[i].extension, mine.extensions[i].extension);
    EXPECT_EQ(shown.extensions[i].totals.calls, mine.extensions[i].totals.calls);
    EXPECT_EQ(shown.extensions[i].totals.cost, mine.extensions[i].totals.cost);
  }
  ASSERT_EQ(shown.departments.size(), mine.departments.size());
  for (std::size_t i = 0; i < mine.departments.size(); ++i) {
    EXPECT_EQ(shown.departments[i].name, mine.departments[i].name);
    EXPECT_EQ(shown.departments[i].totals.seconds, mine.departments[i].totals.seconds);
  }
  // The grids show the tables: a row per extension, the cost as the engine writes it.
  QAbstractItemModel* extensions = gridModel(form, "extensions");
  ASSERT_NE(extensions, nullptr);
  ASSERT_EQ(extensions->rowCount(), static_cast<int>(mine.extensions.size()));
  const int costColumn = 7;  // extension, name, department, calls, out, in, duration, cost
  EXPECT_EQ(extensions->headerData(costColumn, Qt::Horizontal).toString(), q("Стоимость"));
  EXPECT_EQ(
      extensions->index(0, costColumn).data().toString(),
      QString::fromStdString(cp1251ToUtf8(analysis::formatMoney(mine.extensions[0].totals.cost))));
  // Hidden digits in what is shown.
  QAbstractItemModel* numbers = gridModel(form, "numbers");
  ASSERT_NE(numbers, nullptr);
  ASSERT_GT(numbers->rowCount(), 0);
  for (int r = 0; r < numbers->rowCount(); ++r) {
    EXPECT_TRUE(numbers->index(r, 0).data().toString().endsWith(QStringLiteral("xxx")));
  }

  // Charts: calls per hour as bars and minutes as a line, the days of March, the trunks.
  auto* hourBars = seriesOf<QBarSeries>(form.HourChartView);
  auto* hourLine = seriesOf<QLineSeries>(form.HourChartView);
  ASSERT_TRUE(hourBars != nullptr && hourLine != nullptr);
  ASSERT_EQ(hourBars->count(), 1);
  QBarSet* hourCalls = hourBars->barSets().front();
  EXPECT_EQ(hourCalls->label(), q("Звонки"));
  ASSERT_EQ(hourCalls->count(), 24);
  ASSERT_EQ(hourLine->count(), 24);
  for (int h = 0; h < 24; ++h) {
    EXPECT_EQ(hourCalls->at(h), static_cast<double>(byHour[h])) << "hour " << h;
    EXPECT_DOUBLE_EQ(hourLine->at(h).y(), static_cast<double>(shown.byHour[h].seconds) / 60.0);
  }
  QBarSet* dayCalls = seriesOf<QBarSeries>(form.DayChartView)->barSets().front();
  const auto firstDay = shown.byDay.front().key, lastDay = shown.byDay.back().key;
  EXPECT_EQ(dayCalls->count(), static_cast<int>((lastDay - firstDay) / 86400 + 1));
  for (const analysis::SeriesPoint& p : shown.byDay) {
    EXPECT_EQ(dayCalls->at(static_cast<int>((p.key - firstDay) / 86400)),
              static_cast<double>(p.calls));
  }
  // Trunk load: per half hour of the day, the most calls at one second, counted here.
  for (int t = 0; t < 2; ++t) {
    auto* line = seriesOf<QLineSeries>(form.TrunkLoadChartView, t);
    ASSERT_NE(line, nullptr);
    const std::string trunk = t == 0 ? "1" : "7";
    EXPECT_EQ(line->name(), q("СЛ ") + qs(trunk));
    ASSERT_EQ(line->count(), 96);
    std::vector<int> most(48, 0);
    for (const Generated* a : kept) {
      if (a->trunk != trunk) continue;
      // The count only rises at a start; within a half hour the peak is at a call's start or
      // at the half hour's first second.
      for (analysis::WallTime at : {a->start, a->start - a->start % 1800,
                                    a->start + a->seconds - (a->start + a->seconds) % 1800}) {
        if (at >= a->start + a->seconds) continue;
        int n = 0;
        for (const Generated* b : kept) {
          if (b->trunk == trunk && b->start <= at && at < b->start + b->seconds) ++n;
        }
        int& cell = most[static_cast<std::size_t>(at % 86400 / 1800)];
        cell = std::max(cell, n);
      }
    }
    for (int i = 0; i < 48; ++i) {
      EXPECT_EQ(line->at(2 * i).y(), most[i]) << "trunk " << trunk << " half hour " << i;
      EXPECT_EQ(line->at(2 * i + 1).y(), most[i]);
    }
  }

  // CSV of the current table: the engine's CSV of the same table.
  form.showTable(TableKind::Extensions);
  dialogs.files.push_back(qs(dir.file("ext.csv")));
  form.ExportCsvClick();
  const AnalysisResult hidden = mine;  // the options carried the hidden digits already
  analysis::SourceInfo source{3, 180, 0};
  EXPECT_EQ(readBytes(dir.file("ext.csv")),
            analysis::toCsv({analysis::makeTable(TableKind::Extensions, hidden, source)}));
  // An existing file is replaced only when the user agrees.
  writeBytes(dir.file("ext.csv"), "keep");
  dialogs.files.push_back(qs(dir.file("ext.csv")));
  dialogs.answers.push_back(MessageAnswer::Cancel);
  form.ExportCsvClick();
  EXPECT_EQ(readBytes(dir.file("ext.csv")), "keep");
  EXPECT_EQ(dialogs.messages.back().caption, q("Предупреждение!"));
  // Never over a data file of the calculation.
  const std::string aprilBytes = readBytes(dir.file("april.txt"));
  dialogs.files.push_back(qs(dir.file("april.txt")));
  form.ExportXlsxClick();
  EXPECT_EQ(dialogs.messages.back().caption, q("Ошибка!"));
  EXPECT_EQ(readBytes(dir.file("april.txt")), aprilBytes);
  EXPECT_TRUE(dialogs.messages.back().text.contains(q("это файл данных")));

  // Every table in one XLSX book, a sheet each.
  dialogs.files.push_back(qs(dir.file("all.xlsx")));
  form.ExportAllClick();
  const std::string book = readBytes(dir.file("all.xlsx"));
  ASSERT_GT(book.size(), 100u);
  EXPECT_EQ(book.substr(0, 2), "PK");
  EXPECT_NE(book.find("xl/worksheets/sheet12.xml"), std::string::npos);

  // The PDF report of the month: title, period, tables and charts.
  dialogs.files.push_back(qs(dir.file("march.pdf")));
  form.PdfReportClick();
  const std::string pdf = readBytes(dir.file("march.pdf"));
  ASSERT_EQ(pdf.substr(0, 5), "%PDF-");
  EXPECT_EQ(form.reportTitle(), q("Анализ звонков за март 2024"));
  if (std::system("command -v pdftotext >/dev/null 2>&1 && command -v pdfinfo >/dev/null 2>&1") ==
      0) {
    const std::string info = runTool("pdfinfo '" + dir.file("march.pdf") + "'");
    const std::size_t pages = info.find("Pages:");
    ASSERT_NE(pages, std::string::npos) << info;
    EXPECT_GE(std::stoi(info.substr(pages + 6)), 2);
    const std::string text = runTool("pdftotext -layout '" + dir.file("march.pdf") + "' -");
    for (const char* expected :
         {"Анализ звонков за март 2024", "Период: с 01.03.2024 по 31.03.2024", "По абонентам",
          "По отделам", "Самые дорогие звонки", "Иванова", "Продажи / Москва",
          "Звонки и минуты по часам суток", "Наибольшее число одновременных звонков"}) {
      EXPECT_NE(text.find(expected), std::string::npos) << expected;
    }
    // Hidden digits stay hidden: no number of a call counted is in the text whole.
    for (const Generated* g : kept) {
      EXPECT_EQ(text.find(" " + g->dialed + " "), std::string::npos) << g->dialed;
    }
    EXPECT_NE(text.find("xxx"), std::string::npos);
  } else {
    // Without poppler: the file's own page objects.
    std::size_t pages = 0;
    for (std::size_t at = pdf.find("/Type /Page\n"); at != std::string::npos;
         at = pdf.find("/Type /Page\n", at + 1)) {
      ++pages;
    }
    EXPECT_GE(pages, 2u);
  }
}

TEST_F(AnalysisFormTest, ErrorsAreShownInTheCoresWordsAndKeepWhatWasLoaded) {
  chooseEverything();
  const QString tariffsShown = form.TariffsLabel->text();
  writeBytes(dir.file("bad.csv"), "Префикс;Направление;Цена за минуту\r\n8;Межгород;1,5,0\r\n");
  dialogs.files.push_back(qs(dir.file("bad.csv")));
  form.TariffsClick();
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].caption, q("Ошибка!"));
  EXPECT_TRUE(dialogs.messages[0].text.contains(q("строка 2")))
      << dialogs.messages[0].text.toStdString();
  EXPECT_EQ(form.TariffsLabel->text(), tariffsShown);

  // A line that does not convert: the load goes on, the user hears where it is.
  std::string lines = readBytes(dir.file("march.txt"));
  lines.insert(lines.find("\r\n") + 2,
               "31-02-2024 10:00:00   00:01:00   101( 201)       1     2000000              \r\n");
  writeBytes(dir.file("march.txt"), lines);
  dialogs.files.push_back(qs(dir.str()));
  form.DataFolderClick();
  EXPECT_TRUE(form.sources().front().endsWith(qs(dir.path().filename().string())));
  run();
  ASSERT_EQ(dialogs.messages.size(), 2u);
  EXPECT_EQ(dialogs.messages[1].caption, q("Предупреждение"));
  EXPECT_TRUE(dialogs.messages[1].text.contains(qs(dir.file("march.txt")) + q(", строка 2")))
      << dialogs.messages[1].text.toStdString();
  ASSERT_NE(form.result(), nullptr);
  EXPECT_EQ(form.result()->totals.calls, calls.size());

  // A data file that is not there: the core's message, the result shown stays.
  form.setSources({qs(dir.file("missing.txt"))});
  run();
  ASSERT_EQ(dialogs.messages.size(), 3u);
  EXPECT_EQ(dialogs.messages[2].caption, q("Ошибка!"));
  EXPECT_TRUE(dialogs.messages[2].text.contains(q("missing.txt")));
  EXPECT_EQ(form.result()->totals.calls, calls.size());
}

// The calls database beside the files: the same totals from it as from the files, a period
// done in its query without losing the months, sites kept apart, and wrong choices refused.
TEST_F(AnalysisFormTest, DatabaseGivesWhatTheFilesGiveAndKeepsSitesApart) {
  const std::string dbPath = dir.file("kordel.sqlite");
  auto intake = [&](const std::string& file, const char* site) {
    store::DatabaseChoice choice{store::DatabaseChoice::Kind::kSqlite, dbPath, ru(site)};
    const std::unique_ptr<store::CallDatabase> db = store::makeDatabase(choice);
    store::IntakeOptions options;
    options.site = ru(site);
    options.dataFile = file;
    const store::IntakeResult r = store::DataFileIntake(*db, options).run();
    ASSERT_TRUE(r.status.ok()) << cp1251ToUtf8(r.status.message());
  };
  intake(dir.file("march.txt"), "Москва");
  intake(dir.file("april.txt"), "Москва");
  intake(dir.file("april.txt"), "Тверь");  // the same calls at a second site

  // Nothing chosen: the prompt offers the main window's database; cancelling keeps none.
  form.proposeDatabase(qs(dbPath));
  form.DatabaseClick();
  ASSERT_EQ(dialogs.offered.size(), 1u);
  EXPECT_EQ(dialogs.offered[0], qs(dbPath));
  EXPECT_TRUE(form.database().isEmpty());
  EXPECT_FALSE(form.SiteEdit->isEnabled());
  // Wrong choices are refused in the core's words.
  for (const QString& wrong :
       {qs(dir.file("missing.sqlite")), q("postgresql://[bad"), q("sqlite:")}) {
    dialogs.messages.clear();
    EXPECT_FALSE(form.setDatabase(wrong)) << wrong.toStdString();
    ASSERT_EQ(dialogs.messages.size(), 1u) << wrong.toStdString();
    EXPECT_EQ(dialogs.messages[0].caption, q("Ошибка!"));
  }
  dialogs.messages.clear();
  dialogs.texts.push_back(qs(dbPath));
  form.DatabaseClick();
  EXPECT_EQ(form.database(), qs(dbPath));
  EXPECT_TRUE(form.SiteEdit->isEnabled());
  EXPECT_TRUE(form.DatabaseLabel->text().contains(q("kordel.sqlite")));

  // One site, no data files: the totals of the files.
  form.SiteEdit->setText(q("Москва"));
  dialogs.files.push_back(qs(dir.file("tariffs.csv")));
  form.TariffsClick();
  run();
  ASSERT_NE(form.result(), nullptr);
  EXPECT_TRUE(dialogs.messages.empty()) << dialogs.messages.front().text.toStdString();
  EXPECT_EQ(form.result()->totals.calls, calls.size());
  EXPECT_EQ(form.result()->totals.cost, engine(form.options()).totals.cost);
  EXPECT_TRUE(form.DatabaseLabel->text().contains(q("площадки: Москва")));
  const int months = form.PeriodCombo->count();

  // A month: the database gives that month only, the months of the data stay offered.
  const int march = form.PeriodCombo->findText(q("Март 2024"));
  ASSERT_GE(march, 2);
  form.PeriodCombo->setCurrentIndex(march);
  run();
  const AnalysisOptions marchOnly = form.options();
  EXPECT_EQ(form.result()->totals.calls, engine(marchOnly).totals.calls);
  EXPECT_EQ(form.result()->totals.seconds, engine(marchOnly).totals.seconds);
  EXPECT_LT(form.lastLoad().calls, calls.size()) << "the period is done in the query";
  EXPECT_EQ(form.PeriodCombo->count(), months);
  EXPECT_EQ(form.PeriodCombo->currentIndex(), march);

  // Every site: April's calls twice, numbers prefixed by the site.
  form.PeriodCombo->setCurrentIndex(0);
  form.SiteEdit->clear();
  run();
  EXPECT_EQ(form.result()->totals.calls, calls.size() + 180);
  EXPECT_TRUE(form.StatusLabel->text().contains(q("ПЛОЩАДКА/НОМЕР")));
  bool tver = false;
  for (const auto& e : form.result()->extensions)
    tver = tver || e.extension.rfind(ru("Тверь/"), 0) == 0;
  EXPECT_TRUE(tver) << "extensions of the second site are its own";

  // A site the database does not hold is named.
  form.SiteEdit->setText(q("Казань, Москва"));
  run();
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_TRUE(dialogs.messages[0].text.contains(q("Казань")));
  EXPECT_FALSE(dialogs.messages[0].text.contains(q("Москва")));
  EXPECT_EQ(form.result()->totals.calls, calls.size());

  // Files and the database at once: the calls that are in both count once.
  dialogs.messages.clear();
  dialogs.fileLists.push_back({qs(dir.file("april.txt"))});
  form.DataFilesClick();
  form.SiteEdit->setText(q("Москва"));
  run();
  EXPECT_EQ(form.result()->totals.calls, calls.size());
  EXPECT_EQ(form.lastLoad().duplicates, 180u);

  // An export over the database file is refused, as over a data file.
  const std::string dbBytes = readBytes(dbPath);
  dialogs.files.push_back(qs(dbPath));
  form.ExportCsvClick();
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].caption, q("Ошибка!"));
  EXPECT_EQ(readBytes(dbPath), dbBytes);

  // None again: the files alone.
  EXPECT_TRUE(form.setDatabase(QString()));
  EXPECT_FALSE(form.SiteEdit->isEnabled());
  run();
  EXPECT_EQ(form.result()->totals.calls, 180u);

  // A database file gone since it was chosen is said so, and not made anew.
  ASSERT_TRUE(form.setDatabase(qs(dbPath)));
  std::filesystem::rename(dbPath, dbPath + ".away");
  dialogs.messages.clear();
  run();
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_TRUE(dialogs.messages[0].text.contains(q("Нет файла базы данных")))
      << dialogs.messages[0].text.toStdString();
  EXPECT_FALSE(std::filesystem::exists(dbPath));
  EXPECT_EQ(form.result()->totals.calls, 180u);
}

TEST_F(AnalysisFormTest, CancelDuringLongLoadKeepsTheWindowUsable) {
  dialogs.fileLists.push_back({qs(dir.file("april.txt"))});
  form.DataFilesClick();
  run();
  ASSERT_NE(form.result(), nullptr);
  const std::uint64_t april = form.result()->totals.calls;

  // Some 45 MB of calls: long enough to be stopped while it loads.
  std::string big;
  const std::string one = callLine("2024-05-02 10:00:00", 60, 101, "201", "1", "2000000") + "\r\n";
  big.reserve(one.size() * 600000);
  auto two = [](std::string& line, std::size_t at, int value) {
    line[at] = static_cast<char>('0' + value / 10);
    line[at + 1] = static_cast<char>('0' + value % 10);
  };
  for (int i = 0; i < 600000; ++i) {
    std::string line = one;  // distinct starts: no call repeats another
    two(line, 17, i % 60);
    two(line, 14, i / 60 % 60);
    two(line, 11, 10 + i / 3600 % 10);
    two(line, 0, 1 + i / 36000);
    big += line;
  }
  writeBytes(dir.file("big.txt"), big);
  form.setSources({qs(dir.file("big.txt"))});

  // A cancel at once, while the worker reads: the loader's last check takes it whatever the
  // speed of the machine.
  form.RunClick();
  ASSERT_TRUE(form.busy());
  EXPECT_FALSE(form.RunButton->isEnabled());
  EXPECT_TRUE(form.CancelButton->isEnabled());
  form.CancelButton->click();
  ASSERT_TRUE(waitUntil([this] { return !form.busy(); }));
  EXPECT_TRUE(form.StatusLabel->text().contains(q("прервана")))
      << form.StatusLabel->text().toStdString();
  EXPECT_TRUE(dialogs.messages.empty());
  // The earlier result stays, and the window works on.
  ASSERT_NE(form.result(), nullptr);
  EXPECT_EQ(form.result()->totals.calls, april);
  EXPECT_EQ(form.lastLoad().files.front().path, dir.file("april.txt"));
  EXPECT_TRUE(form.RunButton->isEnabled());
  EXPECT_FALSE(form.CancelButton->isEnabled());

  // Again, cancelled once the bar shows the load going on; meanwhile the GUI thread runs its
  // timers.
  int ticks = 0;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
  ticker.start(10);
  form.RunClick();
  ASSERT_TRUE(waitUntil([this] { return form.ProgressBar1->value() > 0 || !form.busy(); }));
  EXPECT_TRUE(form.busy()) << "no progress was shown during the load";
  EXPECT_GT(ticks, 0);
  form.CancelClick();
  ASSERT_TRUE(waitUntil([this] { return !form.busy(); }));
  EXPECT_TRUE(form.RunButton->isEnabled());
  form.setSources({qs(dir.file("march.txt"))});
  run();
  EXPECT_EQ(form.lastLoad().files.size(), 1u);
  EXPECT_EQ(form.result()->totals.calls, 180u);
}

// A day axis longer than a year: every day keeps its own category (the axis drops repeats).
TEST(AnalysisDayChart, SpanOverAYearKeepsADayPerBar) {
  for (const char* last : {"2024-12-31 00:00:00", "2025-01-20 00:00:00"}) {
    AnalysisResult result;
    result.byDay.push_back({analysis::testing::at("2024-01-15 00:00:00"), 3, 60, 0});
    result.byDay.push_back({analysis::testing::at(last), 1, 30, 0});
    std::unique_ptr<QChart> chart(analysis::gui::makeDayChart(result));
    auto* axis = qobject_cast<QBarCategoryAxis*>(chart->axes(Qt::Horizontal).front());
    auto* bars = qobject_cast<QBarSeries*>(chart->series().front());
    ASSERT_NE(axis, nullptr);
    ASSERT_NE(bars, nullptr);
    EXPECT_EQ(axis->count(), bars->barSets().front()->count()) << last;
  }
}

TEST(AnalysisMenuItem, ComesAfterTheFileMenuItemsAndStaysFreeDuringReads) {
  TempDir dir;
  TestDialogs dialogs;
  TMainForm main(QString::fromStdString(dir.str()));
  TAnalysisForm analysis;
  main.setAnalysisWindow(&analysis);
  const QList<QAction*> file = main.MainMenu1->actions().front()->menu()->actions();
  ASSERT_EQ(file.size(), 5);  // the three items, a separator, the analysis
  EXPECT_EQ(file[0], main.SelectFileFromData_MenuItem);
  EXPECT_EQ(file[1], main.Report_MenuItem);
  EXPECT_EQ(file[2], main.ExitMenuItem);
  EXPECT_TRUE(file[3]->isSeparator());
  EXPECT_EQ(file[4], main.Analysis_MenuItem);
  EXPECT_EQ(main.Analysis_MenuItem->objectName(), QStringLiteral("Analysis_MenuItem"));
  EXPECT_EQ(main.Analysis_MenuItem->text(), q("Анализ звонков и стоимость"));
  // It only reads files: a read does not lock it.
  main.DisableControls();
  EXPECT_FALSE(main.Report_MenuItem->isEnabled());
  EXPECT_TRUE(main.Analysis_MenuItem->isEnabled());
  main.Analysis_MenuItem->trigger();
  EXPECT_TRUE(analysis.isVisible());
  analysis.close();
}

}  // namespace
}  // namespace kordel::test
