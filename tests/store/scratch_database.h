// Test support for the calls database: a fresh database of each backend, and the test's own
// connection to look into it. SQLite is a file in a temporary folder; PostgreSQL is a new
// database on the server that KORDEL_TEST_PG names (scripts/test.sh starts one around ctest,
// tests/support/pg_server.sh makes one by hand), dropped at the end. Without KORDEL_TEST_PG the
// PostgreSQL cases skip, saying why.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "store/call_database.h"
#include "support/temp_dir.h"

namespace kordel::store::testing {

enum class Backend { kSqlite, kPostgres };
std::string backendName(const ::testing::TestParamInfo<Backend>& info);

// The connection string of the test server, or empty.
std::string postgresServer();

#define KORDEL_SKIP_WITHOUT_SERVER(backend)                                 \
  if ((backend) == ::kordel::store::testing::Backend::kPostgres &&          \
      ::kordel::store::testing::postgresServer().empty())                   \
  GTEST_SKIP()                                                              \
      << "KORDEL_TEST_PG is not set: no PostgreSQL server for this case "   \
         "(scripts/test.sh starts one; or: export KORDEL_TEST_PG=\"$(bash " \
         "tests/support/pg_server.sh conninfo $(bash tests/support/pg_server.sh start))\")"

class ScratchDatabase {
 public:
  explicit ScratchDatabase(Backend backend);
  ~ScratchDatabase();
  ScratchDatabase(const ScratchDatabase&) = delete;
  ScratchDatabase& operator=(const ScratchDatabase&) = delete;

  Backend backend() const { return backend_; }
  // What --db takes: the SQLite file or the connection string.
  const std::string& value() const { return value_; }
  std::unique_ptr<CallDatabase> make() const;
  // A query on a connection of the test's own: each row as its columns joined by '|', NULL as
  // "NULL". A failing statement fails the test.
  std::vector<std::string> query(const std::string& sql) const;
  void exec(const std::string& sql) const { query(sql); }
  // The folder the SQLite file is in (temporary either way).
  const test::TempDir& dir() const { return dir_; }

 private:
  Backend backend_;
  test::TempDir dir_;
  std::string value_;
  std::string databaseName_;  // PostgreSQL
};

}  // namespace kordel::store::testing
