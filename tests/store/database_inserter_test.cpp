// The inserter thread fed by a real RecordSink writing a real data file.
#include "store/database_inserter.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "files/call_record_line.h"
#include "files/text_codec.h"
#include "link/pbx_link.h"
#include "store/scratch_database.h"
#include "support/call_records.h"

namespace kordel::store {
namespace {

using testing::Backend;
using testing::ScratchDatabase;
using Clock = std::chrono::steady_clock;

class NoView : public RecordView {
 public:
  void lowerGauge() override {}
  void addLine(const std::string&) override {}
  void showCounters(int, int) override {}
};

class Events : public InserterObserver {
 public:
  void databaseFailed(const std::string& reason, int retryMs) override {
    std::lock_guard lock(mutex);
    failures.push_back(reason);
    lastRetryMs = retryMs;
  }
  void databaseBack(std::uint64_t behind) override {
    std::lock_guard lock(mutex);
    backWith.push_back(behind);
  }
  std::mutex mutex;
  std::vector<std::string> failures;
  std::vector<std::uint64_t> backWith;
  int lastRetryMs = 0;
};

CallRecord call(int n) {
  CallRecord r = test::makeRecord(100 + n, std::to_string(200 + n), "3", std::to_string(9000 + n));
  r.minute = n % 60;
  r.hour = 9 + n / 60;
  return r;
}

class InserterTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    KORDEL_SKIP_WITHOUT_SERVER(GetParam());
    scratch = std::make_unique<ScratchDatabase>(GetParam());
    link = std::make_unique<PbxLink>(scratch->dir().str());
    link->settings.dataFileName = scratch->dir().file("calls.txt");
    link->serialNumber = "4711";
    link->model = "DL256";
    link->isComplex = true;
    sink = std::make_unique<RecordSink>(*link, view);
  }
  std::unique_ptr<DatabaseInserter> start(int firstRetryMs = 1000) {
    InserterOptions options;
    options.site = "A";
    options.dataFile = link->settings.dataFileName;
    options.observer = &events;
    options.firstRetryMs = firstRetryMs;
    return std::make_unique<DatabaseInserter>(scratch->make(), options);
  }
  // The sink saves the record as a read does: append, then durable before the next request.
  void save(int n, int unit) {
    link->offerUnit = unit;
    sink->onCallRecord(call(n));
    ASSERT_TRUE(sink->waitDurable());
  }

  std::unique_ptr<ScratchDatabase> scratch;
  std::unique_ptr<PbxLink> link;
  NoView view;
  std::unique_ptr<RecordSink> sink;
  Events events;
};

TEST_P(InserterTest, TheCallsTheSinkSavesReachTheDatabaseWithTheirUnitAndPbx) {
  // A line an earlier run stored while no database took it: caught up, without its origin.
  ASSERT_EQ(appendLines(link->settings.dataFileName, {formatCallRecordLine(call(0))}), kAppendOk);
  const auto inserter = start();
  sink->setListener(inserter.get());
  save(1, 0);
  save(2, 2);
  save(3, 1);
  ASSERT_TRUE(inserter->catchUp(20000)) << cp1251ToUtf8(inserter->state().reason);
  EXPECT_EQ(
      scratch->query("SELECT hardware, pbx_serial, pbx_model, unit FROM calls ORDER BY hardware"),
      (std::vector<std::string>{"100|NULL|NULL|NULL", "101|4711|DL256|0", "102|4711|DL256|2",
                                "103|4711|DL256|1"}));
  const DatabaseInserter::State state = inserter->state();
  EXPECT_FALSE(state.failing);
  EXPECT_EQ(state.inserted, 4u);
  EXPECT_TRUE(events.failures.empty());
}

TEST_P(InserterTest, ADatabaseThatCannotBeReachedHoldsNothingBackAndStopsAtOnce) {
  InserterOptions options;
  options.site = "A";
  options.dataFile = link->settings.dataFileName;
  options.observer = &events;
  options.firstRetryMs = options.maxRetryMs = 50;  // many tries, all waits alike
  test::TempDir nowhere;
  auto db = GetParam() == Backend::kSqlite
                ? makeSqliteDatabase(nowhere.file("missing/folder/calls.sqlite"))
                : makePostgresDatabase("host=" + nowhere.str() + " user=postgres dbname=none");
  auto inserter = std::make_unique<DatabaseInserter>(std::move(db), options);
  sink->setListener(inserter.get());
  for (int n = 1; n <= 5; ++n) save(n, 0);
  EXPECT_EQ(sink->recordsSaved(), 5);
  EXPECT_FALSE(inserter->catchUp(20000));
  while (inserter->state().passes < 6) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(inserter->state().failing);
  {
    std::lock_guard lock(events.mutex);
    ASSERT_FALSE(events.failures.empty());
    EXPECT_EQ(events.failures.size(), 1u);  // said once, not once per try
    EXPECT_NE(events.failures[0].find(GetParam() == Backend::kSqlite ? "SQLite" : "PostgreSQL"),
              std::string::npos);
  }
  const auto before = Clock::now();
  inserter.reset();
  EXPECT_LT(Clock::now() - before, std::chrono::seconds(2));
}

// Another connection holds the SQLite file's write lock while the reader saves calls: the
// reader is not held, and the database catches up once the lock goes, with nothing repeated.
class SqliteInserterTest : public InserterTest {};

TEST_P(SqliteInserterTest, ALockedFileIsCaughtUpAfterTheLockGoes) {
  auto inserter = start(100);
  sink->setListener(inserter.get());
  save(1, 0);
  ASSERT_TRUE(inserter->catchUp(20000));

  sqlite3* holder = nullptr;
  ASSERT_EQ(sqlite3_open(scratch->value().c_str(), &holder), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  const auto started = Clock::now();
  for (int n = 2; n <= 20; ++n) save(n, 0);
  // Each statement waits up to 2 s for the lock; the reader never waited for one.
  EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(1500));
  EXPECT_FALSE(inserter->catchUp(10000));
  EXPECT_TRUE(inserter->state().failing);
  ASSERT_EQ(sqlite3_exec(holder, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(holder);

  ASSERT_TRUE(inserter->catchUp(20000)) << cp1251ToUtf8(inserter->state().reason);
  EXPECT_EQ(scratch->query("SELECT count(*), count(DISTINCT line), min(hardware), max(hardware)"
                           " FROM calls"),
            std::vector<std::string>{"20|20|101|120"});
  std::lock_guard lock(events.mutex);
  ASSERT_FALSE(events.failures.empty());
  EXPECT_NE(events.failures[0].find("locked"), std::string::npos) << events.failures[0];
  EXPECT_EQ(events.backWith, std::vector<std::uint64_t>{19});
}

INSTANTIATE_TEST_SUITE_P(Backends, InserterTest,
                         ::testing::Values(Backend::kSqlite, Backend::kPostgres),
                         testing::backendName);
INSTANTIATE_TEST_SUITE_P(Backends, SqliteInserterTest, ::testing::Values(Backend::kSqlite),
                         testing::backendName);

}  // namespace
}  // namespace kordel::store
