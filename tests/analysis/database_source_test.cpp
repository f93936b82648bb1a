// The analysis of a calls database gives what the analysis of the data files it was filled
// from gives, with each filter; calls of several sites stay apart.
#include "analysis/database_source.h"

#include <random>

#include "analysis/export.h"
#include "analysis/tables.h"
#include "analysis_test_util.h"
#include "store/data_file_intake.h"
#include "store/scratch_database.h"

namespace kordel::analysis {
namespace {

using store::testing::Backend;
using store::testing::ScratchDatabase;
using testing::at;
using testing::callLine;
using testing::crlf;
using testing::writeBytes;

// Every table, as CSV, from a result: what a user gets from the analysis.
std::string everything(const AnalysisResult& result) {
  const std::vector<TableKind> kinds = {
      TableKind::Summary,        TableKind::Extensions, TableKind::Departments,
      TableKind::TopDepartments, TableKind::Directions, TableKind::Trunks,
      TableKind::Longest,        TableKind::Costliest,  TableKind::Numbers,
      TableKind::Hours,          TableKind::Days,       TableKind::TrunkLoad};
  return toCsv(makeTables(kinds, result, SourceInfo{}));
}

// The tables of two results are the same; on a difference, the first line that differs.
void expectSameTables(const AnalysisResult& got, const AnalysisResult& want) {
  const std::string a = everything(got), b = everything(want);
  if (a == b) return;
  std::size_t at = 0;
  while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
  const std::size_t begin = a.rfind('\n', at) == std::string::npos ? 0 : a.rfind('\n', at) + 1;
  ADD_FAILURE() << "the tables differ at line \"" << a.substr(begin, a.find('\r', at) - begin)
                << "\" against \""
                << b.substr(begin, b.find('\r', at) == std::string::npos ? std::string::npos
                                                                         : b.find('\r', at) - begin)
                << "\"";
}

class DatabaseSourceTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    KORDEL_SKIP_WITHOUT_SERVER(GetParam());
    scratch = std::make_unique<ScratchDatabase>(GetParam());
    db = scratch->make();
    ASSERT_TRUE(tariffs
                    .loadBytes(ru("Префикс;Направление;Цена за минуту;Шаг;Первый шаг\r\n"
                                  "8;Междугородняя;2,00;60;\r\n2;Местная;0,50;1;60\r\n"))
                    .ok());
    ASSERT_TRUE(directory
                    .loadBytes(ru("Номер;Имя;Отдел\r\n201;Иванова;Продажи / Москва\r\n"
                                  "A/202;Петров;Продажи / Тверь\r\n"))
                    .ok());
    // Two months of calls in two files, the second repeating the end of the first (a read
    // saved twice), with title lines, marked fields and lines that do not convert.
    std::mt19937 rng(7);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const char* numbers[] = {"", "", "2123456", "84951234567", "8*12", "2000000", "89161112233"};
    std::vector<std::string> march, april;
    for (int i = 0; i < 600; ++i) {
      char start[32];
      std::snprintf(start, sizeof start, "2024-%02d-%02d %02d:%02d:%02d", i < 300 ? 3 : 4,
                    1 + i % 300 / 10, 8 + i % 10, pick(0, 59), pick(0, 59));
      std::string line =
          callLine(start, pick(0, 3) == 0 ? pick(0, 20) : pick(21, 2000), pick(200, 215),
                   std::to_string(pick(200, 215)), std::to_string(pick(1, 6)), numbers[pick(0, 6)]);
      if (i % 97 == 5) line[2] = '*';  // a marked date
      (i < 300 ? march : april).push_back(line);
    }
    std::string bad = march[10];
    bad.replace(0, 2, "32");
    march.insert(march.begin() + 20, bad);
    april.insert(april.begin(), march.end() - 40, march.end());
    const std::string title = " " + std::string(60, '-');
    march.insert(march.begin(), title);
    writeBytes(dir.file("march.txt"), crlf(march));
    writeBytes(dir.file("april.txt"), crlf(april));
    files = {dir.file("march.txt"), dir.file("april.txt")};
    for (const std::string& f : files) takeIn(f, "A");
  }
  void takeIn(const std::string& file, const std::string& site) {
    store::IntakeOptions options;
    options.site = site;
    options.dataFile = file;
    const store::IntakeResult r = store::DataFileIntake(*db, options).run();
    ASSERT_TRUE(r.status.ok()) << cp1251ToUtf8(r.status.message());
  }
  AnalysisResult analyse(const AnalysisOptions& options, bool fromDatabase,
                         std::vector<std::string> sites = {}, LoadResult* loaded = nullptr) {
    CallStore store;
    DatabaseSource source(*db, std::move(sites), options.filter);
    LoadResult r = fromDatabase ? store.load({}, {}, &source) : store.load(files);
    EXPECT_TRUE(r.ok()) << cp1251ToUtf8(r.status.message());
    if (loaded != nullptr) *loaded = r;
    prefixed = source.prefixed();
    return Analyzer(store, tariffs, directory, options).run();
  }

  testing::TempDir dir;
  std::unique_ptr<ScratchDatabase> scratch;
  std::unique_ptr<store::CallDatabase> db;
  std::vector<std::string> files;
  TariffPlan tariffs;
  Directory directory;
  bool prefixed = false;
};

TEST_P(DatabaseSourceTest, EveryFilterGivesWhatTheDataFilesGive) {
  struct Case {
    const char* name;
    AnalysisOptions options;
  };
  std::vector<Case> cases(9);
  cases[0].name = "all";
  cases[1].name = "period";
  cases[1].options.filter.from = at("2024-03-15 12:00:00");
  cases[1].options.filter.to = at("2024-04-10 00:00:00");
  cases[2].name = "incoming";
  cases[2].options.filter.direction = Direction::Incoming;
  cases[3].name = "outgoing, long";
  cases[3].options.filter.direction = Direction::Outgoing;
  cases[3].options.filter.minDuration = 300;
  cases[4].name = "trunks";
  cases[4].options.filter.trunks = {"2", "5"};
  cases[5].name = "hardware numbers";
  cases[5].options.key = ExtensionKey::Hardware;
  cases[6].name = "extensions";
  cases[6].options.filter.extensions = {"201", "210"};
  cases[7].name = "prefix, hidden digits";
  cases[7].options.filter.numberPrefix = "8";
  cases[7].options.hiddenDigits = 3;
  cases[8].name = "a period of one second";
  cases[8].options.filter.from = at("2024-03-01 08:00:00");
  cases[8].options.filter.to = at("2024-03-01 08:00:01");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LoadResult fromFiles, fromDatabase;
    const AnalysisResult want = analyse(c.options, false, {}, &fromFiles);
    const AnalysisResult got = analyse(c.options, true, {}, &fromDatabase);
    EXPECT_FALSE(prefixed);
    expectSameTables(got, want);
    EXPECT_EQ(got.totals.calls, want.totals.calls);
    EXPECT_EQ(got.totals.cost, want.totals.cost);
    // The unreadable line is counted from either; the repeated read only in the files.
    EXPECT_EQ(fromDatabase.badLines, 1u);
    EXPECT_EQ(fromFiles.badLines, 1u);
    EXPECT_EQ(fromFiles.duplicates, 40u);
    EXPECT_EQ(fromDatabase.duplicates, 0u);
  }
  const AnalysisResult all = analyse({}, false);
  EXPECT_EQ(all.totals.calls, 600u);
  EXPECT_GT(all.totals.cost, 0);
  EXPECT_GT(all.totals.markedCalls, 0u);
}

TEST_P(DatabaseSourceTest, CallsOfSeveralSitesStayApart) {
  takeIn(files[0], "B");  // the same calls at another site are calls of their own
  AnalysisOptions options;
  const AnalysisResult one = analyse(options, false);
  const AnalysisResult both = analyse(options, true);
  EXPECT_TRUE(prefixed);
  EXPECT_EQ(both.totals.calls, one.totals.calls + 300);
  bool siteA = false, siteB = false;
  for (const ExtensionRow& row : both.extensions) {
    siteA = siteA || row.extension.rfind("A/", 0) == 0;
    siteB = siteB || row.extension.rfind("B/", 0) == 0;
    EXPECT_TRUE(row.extension.rfind("A/", 0) == 0 || row.extension.rfind("B/", 0) == 0)
        << row.extension;
    if (row.extension == "A/202") {
      EXPECT_EQ(row.name, ru("Петров"));
    }
  }
  EXPECT_TRUE(siteA && siteB);
  for (const GroupRow& trunk : both.trunks) EXPECT_EQ(trunk.name.find('/'), 1u) << trunk.name;

  // One site chosen: its calls, named as in its data files.
  expectSameTables(analyse(options, true, {"A"}), one);
  EXPECT_FALSE(prefixed);
  EXPECT_EQ(analyse(options, true, {"B", "C"}).totals.calls, 300u);
  EXPECT_EQ(analyse(options, true, {"C"}).totals.calls, 0u);
}

TEST_P(DatabaseSourceTest, FilesAndTheDatabaseTogetherCountEachCallOnce) {
  CallStore store;
  DatabaseSource source(*db, {}, Filter{});
  const LoadResult r = store.load({files[1]}, {}, &source);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.calls, 600u);
  EXPECT_EQ(r.duplicates, 340u);  // the April file's calls are all in the database
}

INSTANTIATE_TEST_SUITE_P(Backends, DatabaseSourceTest,
                         ::testing::Values(Backend::kSqlite, Backend::kPostgres),
                         store::testing::backendName);

}  // namespace
}  // namespace kordel::analysis
