#include "store/scratch_database.h"

#include <libpq-fe.h>
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

namespace kordel::store::testing {

std::string backendName(const ::testing::TestParamInfo<Backend>& info) {
  return info.param == Backend::kSqlite ? "Sqlite" : "Postgres";
}

std::string postgresServer() {
  const char* value = std::getenv("KORDEL_TEST_PG");
  return value != nullptr ? value : "";
}

namespace {

std::vector<std::string> pgQuery(const std::string& conninfo, const std::string& sql) {
  std::vector<std::string> rows;
  PGconn* conn = PQconnectdb(conninfo.c_str());
  if (PQstatus(conn) != CONNECTION_OK) {
    ADD_FAILURE() << "cannot connect to " << conninfo << ": " << PQerrorMessage(conn);
    PQfinish(conn);
    return rows;
  }
  PQsetNoticeProcessor(
      conn, [](void*, const char*) {}, nullptr);
  PGresult* r = PQexec(conn, sql.c_str());
  const ExecStatusType status = PQresultStatus(r);
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
    ADD_FAILURE() << sql << ": " << PQresultErrorMessage(r);
  } else {
    for (int i = 0; i < PQntuples(r); ++i) {
      std::string row;
      for (int j = 0; j < PQnfields(r); ++j) {
        if (j > 0) row += '|';
        row += PQgetisnull(r, i, j) ? "NULL" : PQgetvalue(r, i, j);
      }
      rows.push_back(row);
    }
  }
  PQclear(r);
  PQfinish(conn);
  return rows;
}

std::vector<std::string> sqliteQuery(const std::string& path, const std::string& sql) {
  std::vector<std::string> rows;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    ADD_FAILURE() << "cannot open " << path;
    sqlite3_close(db);
    return rows;
  }
  sqlite3_busy_timeout(db, 5000);
  const char* tail = sql.c_str();
  while (*tail != '\0') {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, tail, -1, &stmt, &tail) != SQLITE_OK) {
      ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db);
      break;
    }
    if (stmt == nullptr) break;  // only blanks were left
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      std::string row;
      for (int j = 0; j < sqlite3_column_count(stmt); ++j) {
        if (j > 0) row += '|';
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, j));
        row += text == nullptr ? "NULL" : std::string(text, sqlite3_column_bytes(stmt, j));
      }
      rows.push_back(row);
    }
    if (rc != SQLITE_DONE) ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db);
    sqlite3_finalize(stmt);
  }
  sqlite3_close(db);
  return rows;
}

}  // namespace

ScratchDatabase::ScratchDatabase(Backend backend) : backend_(backend) {
  if (backend_ == Backend::kSqlite) {
    value_ = dir_.file("calls.sqlite");
    return;
  }
  static std::atomic<int> counter{0};
  databaseName_ = "kordel_test_" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
  pgQuery(postgresServer(), "DROP DATABASE IF EXISTS " + databaseName_);
  pgQuery(postgresServer(), "CREATE DATABASE " + databaseName_);
  value_ = postgresServer() + " dbname=" + databaseName_;
}

ScratchDatabase::~ScratchDatabase() {
  if (backend_ == Backend::kPostgres) {
    pgQuery(postgresServer(), "DROP DATABASE IF EXISTS " + databaseName_ + " WITH (FORCE)");
  }
}

std::unique_ptr<CallDatabase> ScratchDatabase::make() const {
  return backend_ == Backend::kSqlite ? makeSqliteDatabase(value_) : makePostgresDatabase(value_);
}

std::vector<std::string> ScratchDatabase::query(const std::string& sql) const {
  return backend_ == Backend::kSqlite ? sqliteQuery(value_, sql) : pgQuery(value_, sql);
}

}  // namespace kordel::store::testing
