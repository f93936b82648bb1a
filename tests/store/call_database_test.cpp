// The calls database against both backends: the same cases on a real SQLite file and on a real
// PostgreSQL server.
#include "store/call_database.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>

#include "files/call_record_line.h"
#include "files/text_codec.h"
#include "store/call_row.h"
#include "store/data_file_intake.h"
#include "store/database_choice.h"
#include "store/scratch_database.h"
#include "support/call_records.h"

namespace kordel::store {
namespace {

using testing::Backend;
using testing::ScratchDatabase;

// A call line of 2024-03-dd hh:mm:00, lasting `seconds`.
std::string callLine(int day, int hour, int seconds, int hw, const std::string& dialed,
                     const std::string& trunk = "7") {
  CallRecord r = test::makeRecord(hw, std::to_string(hw + 100), trunk, dialed, seconds / 3600,
                                  seconds / 60 % 60, seconds % 60);
  r.year = 2024;
  r.month = 3;
  r.day = day;
  r.hour = hour;
  r.minute = 0;
  r.second = 0;
  return formatCallRecordLine(r);
}

std::string titles() {
  return headerLine(PbxClock{2024, 3, 1, 8, 0, 0}) + "\r\n" + columnTitleLine() + "\r\n";
}

std::vector<std::string> sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

void append(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::app);
  out << bytes;
}

class CallDatabaseTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    KORDEL_SKIP_WITHOUT_SERVER(GetParam());
    scratch = std::make_unique<ScratchDatabase>(GetParam());
    db = scratch->make();
    dataFile = scratch->dir().file("calls.txt");
  }
  IntakeResult takeIn(const std::string& site = "A", CallDatabase* into = nullptr) {
    IntakeOptions options;
    options.site = site;
    options.dataFile = dataFile;
    options.batchBytes = 200;  // a few lines per transaction, so batches are exercised
    DataFileIntake intake(into != nullptr ? *into : *db, options);
    IntakeResult r = intake.run();
    EXPECT_TRUE(r.status.ok()) << cp1251ToUtf8(r.status.message());
    return r;
  }
  std::vector<std::string> lines(const LineQuery& query = {}) {
    std::vector<std::string> out;
    const Status s = db->forEachLine(query, [&](std::string_view site, std::string_view line) {
      out.push_back(std::string(site) + ":" + std::string(line));
      return true;
    });
    EXPECT_TRUE(s.ok()) << cp1251ToUtf8(s.message());
    std::sort(out.begin(), out.end());
    return out;
  }

  std::unique_ptr<ScratchDatabase> scratch;
  std::unique_ptr<CallDatabase> db;
  std::string dataFile;
};

TEST_P(CallDatabaseTest, EachCallIsStoredOnceHoweverOftenItIsOffered) {
  const std::string a = callLine(1, 9, 65, 201, "567"), b = callLine(1, 10, 5, 202, "");
  std::string badDate = callLine(1, 11, 30, 203, "1");
  badDate.replace(0, 2, "32");
  append(dataFile, titles() + a + "\r\n" + b + "\r\n" + a + "\r\n" + badDate + "\r\n");
  IntakeResult r = takeIn();
  EXPECT_EQ(r.offered, 4u);
  EXPECT_EQ(r.inserted, 3u);  // the repeated line once
  EXPECT_EQ(r.offset, r.size);
  EXPECT_EQ(lines(), sorted({"A:" + a, "A:" + b, "A:" + badDate}));

  r = takeIn();  // nothing new: nothing read, nothing stored
  EXPECT_EQ(r.offered, 0u);
  EXPECT_EQ(r.inserted, 0u);

  const std::string c = callLine(2, 9, 600, 201, "8495");
  append(dataFile, c + "\r\n");
  r = takeIn();
  EXPECT_EQ(r.offered, 1u);
  EXPECT_EQ(r.inserted, 1u);
  EXPECT_EQ(lines().size(), 4u);

  // The columns hold the fields, the line its exact bytes.
  EXPECT_EQ(
      scratch->query("SELECT start_time, duration, hardware, programmed, trunk, dialed,"
                     " pbx_serial, unit FROM calls WHERE hardware = '201' ORDER BY start_time"),
      (std::vector<std::string>{"2024-03-01 09:00:00|65|201|301|7|567|NULL|NULL",
                                "2024-03-02 09:00:00|600|201|301|7|8495|NULL|NULL"}));
  EXPECT_EQ(scratch->query("SELECT parse_error, start_time FROM calls WHERE start_time IS NULL"),
            std::vector<std::string>{"неверная дата|NULL"});
  std::vector<FileState> states;
  ASSERT_TRUE(db->fileStates(states).ok());
  ASSERT_EQ(states.size(), 1u);
  EXPECT_EQ(states[0].site, "A");
  EXPECT_EQ(states[0].path, dataFileKey(dataFile));
  EXPECT_EQ(states[0].calls, 4u);
  EXPECT_EQ(states[0].offset, r.size);
}

TEST_P(CallDatabaseTest, OneLineAtTwoSitesIsTwoCalls) {
  const std::string a = callLine(1, 9, 65, 201, "567");
  append(dataFile, a + "\r\n");
  EXPECT_EQ(takeIn("A").inserted, 1u);
  EXPECT_EQ(takeIn(ru("Тверь")).inserted, 1u);  // its own mark: taken in from the start
  EXPECT_EQ(lines(), (std::vector<std::string>{"A:" + a, ru("Тверь") + ":" + a}));
  std::vector<std::string> sites;
  ASSERT_TRUE(db->sites(sites).ok());
  EXPECT_EQ(sites, (std::vector<std::string>{"A", ru("Тверь")}));
  EXPECT_EQ(scratch->query("SELECT site FROM calls ORDER BY site"),
            (std::vector<std::string>{"A", "Тверь"}));  // UTF-8 in the database
}

TEST_P(CallDatabaseTest, AReplacedOrCutFileIsTakenInAgainWithoutRepeats) {
  const std::string a = callLine(1, 9, 65, 201, "567"), b = callLine(1, 10, 5, 202, "");
  const std::string c = callLine(1, 11, 7, 203, "12"), d = callLine(1, 12, 9, 204, "34");
  append(dataFile, a + "\r\n" + b + "\r\n");
  takeIn();

  // Replaced by a file as long as the mark, with other bytes before it.
  test::writeBytes(dataFile, c + "\r\n" + b + "\r\n");
  IntakeResult r = takeIn();
  EXPECT_TRUE(r.restarted);
  EXPECT_EQ(r.inserted, 1u);

  // Cut short, then written again: what is new is taken in, what is known is not repeated.
  test::writeBytes(dataFile, a + "\r\n");
  r = takeIn();
  EXPECT_TRUE(r.restarted);
  EXPECT_EQ(r.inserted, 0u);
  append(dataFile, d + "\r\n");
  r = takeIn();
  EXPECT_FALSE(r.restarted);
  EXPECT_EQ(r.inserted, 1u);
  EXPECT_EQ(lines(), sorted({"A:" + a, "A:" + b, "A:" + c, "A:" + d}));
}

TEST_P(CallDatabaseTest, ALastLineWithoutItsEndWaitsForIt) {
  const std::string a = callLine(1, 9, 65, 201, "567"), b = callLine(1, 10, 5, 202, "");
  append(dataFile, a + "\r\n" + b.substr(0, 50));
  IntakeResult r = takeIn();
  EXPECT_EQ(r.inserted, 1u);
  EXPECT_EQ(r.offset, a.size() + 2);
  append(dataFile, b.substr(50) + "\r");  // a lone CR at the end may be half of CR LF
  EXPECT_EQ(takeIn().inserted, 0u);
  append(dataFile, "\n");
  EXPECT_EQ(takeIn().inserted, 1u);
  EXPECT_EQ(lines(), (std::vector<std::string>{"A:" + a, "A:" + b}));
}

TEST_P(CallDatabaseTest, AMarkMovedByAnotherWriterIsReadAgain) {
  const std::string a = callLine(1, 9, 65, 201, "567"), b = callLine(1, 10, 5, 202, "");
  append(dataFile, a + "\r\n");
  IntakeOptions options;
  options.site = "A";
  options.dataFile = dataFile;
  DataFileIntake first(*db, options);
  ASSERT_TRUE(first.run().status.ok());

  // Another process (its own connection) takes in the next line.
  const std::unique_ptr<CallDatabase> other = scratch->make();
  append(dataFile, b + "\r\n");
  EXPECT_EQ(takeIn("A", other.get()).inserted, 1u);

  // The first still holds the old mark: its write is refused, nothing is stored twice, and its
  // next pass starts from the mark the other left.
  IntakeResult r = first.run();
  EXPECT_EQ(r.status.code(), Status::Code::kConflict);
  r = first.run();
  EXPECT_TRUE(r.status.ok());
  EXPECT_EQ(r.offered, 0u);
  EXPECT_EQ(lines().size(), 2u);
}

TEST_P(CallDatabaseTest, TheQueryFiltersByColumnsAndAlwaysGivesUnreadLines) {
  const std::string in = callLine(1, 9, 65, 201, ""), out = callLine(2, 9, 5, 202, "12");
  const std::string late = callLine(3, 9, 600, 203, "34");
  std::string bad = callLine(4, 9, 30, 204, "1");
  bad.replace(bad.find(')'), 1, " ");
  append(dataFile, in + "\r\n" + out + "\r\n" + late + "\r\n" + bad + "\r\n");
  takeIn("A");
  takeIn("B");
  LineQuery q;
  q.sites = {"B"};
  q.from = "2024-03-02 00:00:00";
  q.to = "2024-03-03 09:00:00";  // before, not at
  EXPECT_EQ(lines(q), sorted({"B:" + bad, "B:" + out}));
  q = LineQuery{};
  q.sites = {"A"};
  q.direction = LineQuery::Direction::kIncoming;
  EXPECT_EQ(lines(q), sorted({"A:" + bad, "A:" + in}));
  q.direction = LineQuery::Direction::kOutgoing;
  q.minDuration = 6;
  EXPECT_EQ(lines(q), sorted({"A:" + bad, "A:" + late}));
}

// A database left by the first version of the schema: its calls and marks stay, the index of
// the second version is made, and taking in goes on from the old mark.
TEST_P(CallDatabaseTest, ADatabaseOfTheOlderSchemaIsMigrated) {
  const bool pg = GetParam() == Backend::kPostgres;
  const std::string a = callLine(1, 9, 65, 201, "567"), b = callLine(1, 10, 5, 202, "");
  append(dataFile, a + "\r\n");
  const std::string key = dataFileKey(dataFile);
  const std::string blob = pg ? "'\\x" : "X'";
  std::string hex;
  for (unsigned char ch : a) {
    static const char digits[] = "0123456789abcdef";
    hex += digits[ch >> 4];
    hex += digits[ch & 15];
  }
  // The first version's tables, as that version made them.
  const std::string id = pg ? "bigserial" : "INTEGER";
  const std::string bytes = pg ? "bytea" : "BLOB";
  const std::string flag = pg ? "boolean" : "INTEGER";
  const std::string time = pg ? "timestamp" : "TEXT";
  scratch->exec(
      "CREATE TABLE schema_version (version integer NOT NULL, applied_at " + time +
      " NOT NULL);"
      "INSERT INTO schema_version VALUES (1, '2024-01-01 00:00:00');"
      "CREATE TABLE data_files (id " +
      id +
      " PRIMARY KEY, site text NOT NULL, path text NOT NULL,"
      " taken_bytes bigint NOT NULL, fingerprint bigint NOT NULL, calls bigint NOT NULL DEFAULT 0,"
      " updated_at " +
      time +
      " NOT NULL, UNIQUE (site, path));"
      "CREATE TABLE calls (id " +
      id + " PRIMARY KEY, site text NOT NULL, line " + bytes + " NOT NULL, start_time " + time +
      ", duration integer, hardware text, programmed text,"
      " trunk text, dialed text, marked_date " +
      flag + ", marked_time " + flag + ", marked_duration " + flag + ", marked_number " + flag +
      ", parse_error text,"
      " pbx_serial text, pbx_model text, unit integer, file_id bigint REFERENCES data_files (id),"
      " UNIQUE (site, line));");
  // Its mark after the line: the whole file so far, with the fingerprint of those bytes.
  const std::string before = test::readBytes(dataFile);
  scratch->exec(
      "INSERT INTO data_files (site, path, taken_bytes, fingerprint, calls, updated_at)"
      " VALUES ('A', '" +
      cp1251ToUtf8(key) + "', " + std::to_string(before.size()) + ", " +
      std::to_string(static_cast<std::int64_t>(fingerprint(before.size(), before, before))) +
      ", 1, '2024-01-01 00:00:00');"
      "INSERT INTO calls (site, line, start_time, duration, hardware, file_id)"
      " VALUES ('A', " +
      blob + hex + "', '2024-03-01 09:00:00', 65, '201', 1);");

  const Status opened = db->open();
  ASSERT_TRUE(opened.ok()) << cp1251ToUtf8(opened.message());
  EXPECT_EQ(db->foundSchemaVersion(), 1);
  EXPECT_EQ(scratch->query("SELECT max(version) FROM schema_version"),
            std::vector<std::string>{"2"});
  const std::string index =
      pg ? "SELECT indexname FROM pg_indexes WHERE indexname = 'calls_by_start'"
         : "SELECT name FROM sqlite_master WHERE type = 'index' AND name = 'calls_by_start'";
  EXPECT_EQ(scratch->query(index), std::vector<std::string>{"calls_by_start"});
  append(dataFile, b + "\r\n");
  const IntakeResult r = takeIn();
  EXPECT_FALSE(r.restarted);
  EXPECT_EQ(r.offered, 1u);
  EXPECT_EQ(r.inserted, 1u);
  EXPECT_EQ(lines(), (std::vector<std::string>{"A:" + a, "A:" + b}));

  // Opening it again migrates nothing; a schema newer than the program is refused.
  const std::unique_ptr<CallDatabase> again = scratch->make();
  ASSERT_TRUE(again->open().ok());
  EXPECT_EQ(again->foundSchemaVersion(), 2);
  again->close();
  scratch->exec("INSERT INTO schema_version VALUES (99, '2030-01-01 00:00:00')");
  const std::unique_ptr<CallDatabase> newer = scratch->make();
  const Status refused = newer->open();
  EXPECT_EQ(refused.code(), Status::Code::kFailed);
  EXPECT_NE(cp1251ToUtf8(refused.message()).find("новее этой программы"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Backends, CallDatabaseTest,
                         ::testing::Values(Backend::kSqlite, Backend::kPostgres),
                         testing::backendName);

}  // namespace
}  // namespace kordel::store
