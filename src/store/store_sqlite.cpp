// The embedded backend: one SQLite file (by default beside the data file), in WAL mode so that
// readers (the analysis, db status) never wait for the writer.
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <iterator>
#include <system_error>
#include <thread>

#include "files/data_file.h"
#include "files/text_codec.h"
#include "store/backend.h"
#include "store/call_database.h"

namespace kordel::store {

namespace {

// Step i brings the schema from version i to i + 1.
const char* const kSteps[] = {
    // 1: the calls and the marks of the data files.
    "CREATE TABLE data_files ("
    " id INTEGER PRIMARY KEY,"
    " site TEXT NOT NULL,"
    " path TEXT NOT NULL,"
    " taken_bytes INTEGER NOT NULL,"
    " fingerprint INTEGER NOT NULL,"
    " calls INTEGER NOT NULL DEFAULT 0,"
    " updated_at TEXT NOT NULL,"
    " UNIQUE (site, path));"
    "CREATE TABLE calls ("
    " id INTEGER PRIMARY KEY,"
    " site TEXT NOT NULL,"
    " line BLOB NOT NULL,"
    " start_time TEXT,"
    " duration INTEGER,"
    " hardware TEXT,"
    " programmed TEXT,"
    " trunk TEXT,"
    " dialed TEXT,"
    " marked_date INTEGER,"
    " marked_time INTEGER,"
    " marked_duration INTEGER,"
    " marked_number INTEGER,"
    " parse_error TEXT,"
    " pbx_serial TEXT,"
    " pbx_model TEXT,"
    " unit INTEGER,"
    " file_id INTEGER REFERENCES data_files (id),"
    " UNIQUE (site, line));",
    // 2: periods of one site are asked for by start.
    "CREATE INDEX calls_by_start ON calls (site, start_time);",
};
static_assert(std::size(kSteps) == kSchemaVersion);

// A locked file is waited for this long per statement, in steps; the inserter then tries again
// later, so the wait only smooths over short transactions of other connections.
constexpr int kBusyStepMs = 20;
constexpr int kBusyLimitMs = 2000;
constexpr int kRowsBetweenChecks = 1024;

class Statement {
 public:
  Statement() = default;
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  int prepare(sqlite3* db, const std::string& sql) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    return sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt_, nullptr);
  }
  sqlite3_stmt* get() const { return stmt_; }
  void finalize() {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
  }
  void reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  void text(int index, const std::string& value) {
    sqlite3_bind_text(stmt_, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
  }
  void textOrNull(int index, const std::string& value, bool present) {
    if (present) {
      text(index, value);
    } else {
      sqlite3_bind_null(stmt_, index);
    }
  }
  void blob(int index, const std::string& value) {
    sqlite3_bind_blob(stmt_, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
  }
  void integer(int index, std::int64_t value) { sqlite3_bind_int64(stmt_, index, value); }
  void null(int index) { sqlite3_bind_null(stmt_, index); }
  std::string columnText(int column) const {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    return p == nullptr
               ? std::string()
               : std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)));
  }
  std::string_view columnBlob(int column) const {
    const auto* p = static_cast<const char*>(sqlite3_column_blob(stmt_, column));
    return p == nullptr
               ? std::string_view()
               : std::string_view(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)));
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

bool transient(int code) {
  switch (code & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_FULL:
    case SQLITE_IOERR:
    case SQLITE_CANTOPEN:
    case SQLITE_READONLY:
    case SQLITE_PROTOCOL:
    case SQLITE_INTERRUPT:
      return true;
    default:
      return false;
  }
}

class SqliteDatabase : public CallDatabase {
 public:
  explicit SqliteDatabase(std::string path) : path_(std::move(path)) {}
  ~SqliteDatabase() override { close(); }

  std::string describe() const override { return "SQLite " + quoteForMessage(path_); }

  Status open() override {
    if (db_ != nullptr) return Status();
    if (abandoned_) return Status::unavailable(ru("Работа с базой данных прекращена."));
    const std::string native = nativePath(path_);
    if (native.empty()) return Status::failed(describe() + ru(": неверное имя файла."));
    std::error_code statError;
    const auto type = std::filesystem::status(native, statError).type();
    if (!statError && type != std::filesystem::file_type::not_found &&
        type != std::filesystem::file_type::regular) {
      return Status::failed(describe() + ru(": не является обычным файлом."));
    }
    const int opened =
        sqlite3_open_v2(native.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (opened != SQLITE_OK) {
      const Status s = error(opened, "");
      close();
      return s;
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_handler(db_, &SqliteDatabase::busy, this);
    Status s = exec("PRAGMA journal_mode=WAL");
    if (s.ok()) s = exec("PRAGMA synchronous=NORMAL");
    if (s.ok()) s = exec("PRAGMA cache_size=-65536");
    if (s.ok()) s = migrate();
    if (!s.ok()) close();
    return s;
  }

  void close() override {
    insertCall_.finalize();
    if (db_ != nullptr) sqlite3_close_v2(db_);
    db_ = nullptr;
  }

  int foundSchemaVersion() const override { return found_; }

  Status readMark(const std::string& site, const std::string& path, FileMark& mark) override {
    if (Status s = ready(); !s.ok()) return s;
    Statement q;
    if (q.prepare(db_, "SELECT taken_bytes, fingerprint FROM data_files WHERE site=? AND path=?") !=
        SQLITE_OK) {
      return error(sqlite3_errcode(db_), "");
    }
    q.text(1, cp1251ToUtf8(site));
    q.text(2, cp1251ToUtf8(path));
    mark = FileMark{};
    const int rc = sqlite3_step(q.get());
    if (rc == SQLITE_ROW) {
      mark.known = true;
      mark.offset = static_cast<std::uint64_t>(sqlite3_column_int64(q.get(), 0));
      mark.fingerprint = static_cast<std::uint64_t>(sqlite3_column_int64(q.get(), 1));
      return Status();
    }
    return rc == SQLITE_DONE ? Status() : error(rc, "");
  }

  Status takeIn(const Intake& in, std::uint64_t& inserted) override {
    inserted = 0;
    if (Status s = ready(); !s.ok()) return s;
    if (Status s = exec("BEGIN IMMEDIATE"); !s.ok()) return s;
    const Status s = takeInLocked(in, inserted);
    if (!s.ok()) {
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      inserted = 0;
      return s;
    }
    if (Status c = exec("COMMIT"); !c.ok()) {
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      inserted = 0;
      return c;
    }
    return Status();
  }

  Status fileStates(std::vector<FileState>& states) override {
    states.clear();
    if (Status s = ready(); !s.ok()) return s;
    Statement q;
    if (q.prepare(db_,
                  "SELECT site, path, taken_bytes, calls, updated_at FROM data_files "
                  "ORDER BY site, path") != SQLITE_OK) {
      return error(sqlite3_errcode(db_), "");
    }
    int rc;
    while ((rc = sqlite3_step(q.get())) == SQLITE_ROW) {
      FileState f;
      f.site = utf8ToCp1251(q.columnText(0));
      f.path = utf8ToCp1251(q.columnText(1));
      f.offset = static_cast<std::uint64_t>(sqlite3_column_int64(q.get(), 2));
      f.calls = static_cast<std::uint64_t>(sqlite3_column_int64(q.get(), 3));
      f.updated = q.columnText(4);
      states.push_back(std::move(f));
    }
    return rc == SQLITE_DONE ? Status() : error(rc, "");
  }

  Status sites(std::vector<std::string>& sites) override {
    sites.clear();
    if (Status s = ready(); !s.ok()) return s;
    Statement q;
    if (q.prepare(db_,
                  "SELECT site FROM data_files GROUP BY site HAVING sum(calls) > 0 "
                  "ORDER BY site") != SQLITE_OK) {
      return error(sqlite3_errcode(db_), "");
    }
    int rc;
    while ((rc = sqlite3_step(q.get())) == SQLITE_ROW) {
      sites.push_back(utf8ToCp1251(q.columnText(0)));
    }
    return rc == SQLITE_DONE ? Status() : error(rc, "");
  }

  Status forEachLine(const LineQuery& query, const LineVisitor& visit) override {
    if (Status s = ready(); !s.ok()) return s;
    std::string sql = "SELECT site, line FROM calls WHERE 1";
    if (!query.sites.empty()) {
      sql += " AND site IN (";
      for (std::size_t i = 0; i < query.sites.size(); ++i) sql += i == 0 ? "?" : ",?";
      sql += ")";
    }
    sql += " AND (start_time IS NULL OR (1";
    if (!query.from.empty()) sql += " AND start_time >= ?";
    if (!query.to.empty()) sql += " AND start_time < ?";
    if (query.minDuration > 0) sql += " AND duration >= ?";
    if (query.direction == LineQuery::Direction::kIncoming) sql += " AND dialed = ''";
    if (query.direction == LineQuery::Direction::kOutgoing) sql += " AND dialed <> ''";
    sql += "))";
    Statement q;
    if (q.prepare(db_, sql) != SQLITE_OK) return error(sqlite3_errcode(db_), "");
    int index = 1;
    for (const std::string& site : query.sites) q.text(index++, cp1251ToUtf8(site));
    if (!query.from.empty()) q.text(index++, query.from);
    if (!query.to.empty()) q.text(index++, query.to);
    if (query.minDuration > 0) q.integer(index++, query.minDuration);

    std::string lastUtf8Site, lastSite;
    int rc;
    long rows = 0;
    while ((rc = sqlite3_step(q.get())) == SQLITE_ROW) {
      const std::string_view site(reinterpret_cast<const char*>(sqlite3_column_text(q.get(), 0)),
                                  static_cast<std::size_t>(sqlite3_column_bytes(q.get(), 0)));
      if (site != lastUtf8Site) {
        lastUtf8Site.assign(site);
        lastSite = utf8ToCp1251(site);
      }
      if (!visit(lastSite, q.columnBlob(1))) return Status();
      if (++rows % kRowsBetweenChecks == 0 && abandoned_) {
        return Status::unavailable(ru("Работа с базой данных прекращена."));
      }
    }
    return rc == SQLITE_DONE ? Status() : error(rc, "");
  }

  void abandon() override { abandoned_ = true; }

 private:
  static int busy(void* self, int count) {
    auto* db = static_cast<SqliteDatabase*>(self);
    if (db->abandoned_ || count * kBusyStepMs >= kBusyLimitMs) return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(kBusyStepMs));
    return 1;
  }

  Status ready() {
    if (abandoned_) return Status::unavailable(ru("Работа с базой данных прекращена."));
    return db_ != nullptr ? Status() : open();
  }

  Status error(int code, const std::string& context) const {
    std::string text = describe() + ": ";
    if (!context.empty()) text += context + ": ";
    text += utf8ToCp1251(db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(code));
    return transient(code) ? Status::unavailable(text) : Status::failed(text);
  }

  Status exec(const char* sql) {
    char* message = nullptr;
    const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &message);
    if (rc == SQLITE_OK) return Status();
    std::string text = describe() + ": " + utf8ToCp1251(message != nullptr ? message : "");
    sqlite3_free(message);
    return transient(rc) ? Status::unavailable(text) : Status::failed(text);
  }

  Status migrate() {
    // A schema that is up to date is only read: no write lock, so that a reader (the analysis,
    // db status) does not wait for a collector's transaction.
    {
      Statement q;
      if (q.prepare(db_, "SELECT coalesce(max(version), 0) FROM schema_version") == SQLITE_OK &&
          sqlite3_step(q.get()) == SQLITE_ROW && sqlite3_column_int(q.get(), 0) == kSchemaVersion) {
        found_ = kSchemaVersion;
        return Status();
      }
    }
    if (Status s = exec("BEGIN IMMEDIATE"); !s.ok()) return s;
    Status s = exec(
        "CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL,"
        " applied_at TEXT NOT NULL)");
    int version = 0;
    if (s.ok()) {
      Statement q;
      if (q.prepare(db_, "SELECT coalesce(max(version), 0) FROM schema_version") != SQLITE_OK ||
          sqlite3_step(q.get()) != SQLITE_ROW) {
        s = error(sqlite3_errcode(db_), "");
      } else {
        version = sqlite3_column_int(q.get(), 0);
      }
    }
    if (s.ok() && version > kSchemaVersion) {
      s = Status::failed(describe() + ru(": схема базы данных (версия ") + std::to_string(version) +
                         ru(") новее этой программы (версия ") + std::to_string(kSchemaVersion) +
                         ").");
    }
    for (int step = version; s.ok() && step < kSchemaVersion; ++step) {
      s = exec(kSteps[step]);
      if (s.ok()) {
        Statement q;
        q.prepare(db_,
                  "INSERT INTO schema_version (version, applied_at)"
                  " VALUES (?, datetime('now', 'localtime'))");
        q.integer(1, step + 1);
        if (sqlite3_step(q.get()) != SQLITE_DONE) s = error(sqlite3_errcode(db_), "");
      }
    }
    if (s.ok()) s = exec("COMMIT");
    if (!s.ok()) {
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      return s;
    }
    found_ = version;
    return Status();
  }

  Status takeInLocked(const Intake& in, std::uint64_t& inserted) {
    const std::string site = cp1251ToUtf8(in.site);
    const std::string path = cp1251ToUtf8(in.path);
    Statement mark;
    if (in.expected.known) {
      mark.prepare(db_,
                   "UPDATE data_files SET taken_bytes=?, fingerprint=?,"
                   " updated_at=datetime('now', 'localtime')"
                   " WHERE site=? AND path=? AND taken_bytes=? AND fingerprint=? RETURNING id");
      mark.integer(5, static_cast<std::int64_t>(in.expected.offset));
      mark.integer(6, static_cast<std::int64_t>(in.expected.fingerprint));
    } else {
      mark.prepare(
          db_,
          "INSERT INTO data_files (taken_bytes, fingerprint, site, path, calls, updated_at)"
          " VALUES (?, ?, ?, ?, 0, datetime('now', 'localtime'))"
          " ON CONFLICT (site, path) DO NOTHING RETURNING id");
    }
    if (mark.get() == nullptr) return error(sqlite3_errcode(db_), "");
    mark.integer(1, static_cast<std::int64_t>(in.next.offset));
    mark.integer(2, static_cast<std::int64_t>(in.next.fingerprint));
    mark.text(3, site);
    mark.text(4, path);
    const int rc = sqlite3_step(mark.get());
    if (rc == SQLITE_DONE) {
      return Status::conflict(describe() + ru(": отметку файла данных передвинул другой процесс."));
    }
    if (rc != SQLITE_ROW) return error(rc, "");
    const std::int64_t fileId = sqlite3_column_int64(mark.get(), 0);
    mark.reset();

    if (insertCall_.get() == nullptr &&
        insertCall_.prepare(
            db_,
            "INSERT INTO calls (site, line, start_time, duration, hardware, programmed, trunk,"
            " dialed, marked_date, marked_time, marked_duration, marked_number, parse_error,"
            " pbx_serial, pbx_model, unit, file_id)"
            " VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?) ON CONFLICT (site, line) DO NOTHING") !=
            SQLITE_OK) {
      return error(sqlite3_errcode(db_), "");
    }
    Statement& q = insertCall_;
    std::size_t done = 0;
    for (const CallRow& row : in.rows) {
      q.reset();
      q.text(1, site);
      q.blob(2, row.line);
      if (row.parsed) {
        q.text(3, row.start);
        q.integer(4, row.duration);
        q.text(5, row.hardware);
        q.text(6, row.programmed);
        q.text(7, row.trunk);
        q.text(8, row.dialed);
        q.integer(9, row.markedDate);
        q.integer(10, row.markedTime);
        q.integer(11, row.markedDuration);
        q.integer(12, row.markedNumber);
      } else {
        q.text(13, row.parseError);
      }
      q.textOrNull(14, row.pbxSerial, !row.pbxSerial.empty());
      q.textOrNull(15, row.pbxModel, !row.pbxModel.empty());
      if (row.unit) {
        q.integer(16, *row.unit);
      } else {
        q.null(16);
      }
      q.integer(17, fileId);
      const int step = sqlite3_step(q.get());
      if (step != SQLITE_DONE) {
        const Status s = error(step, "");
        q.reset();
        return s;
      }
      inserted += static_cast<std::uint64_t>(sqlite3_changes(db_));
      if (++done % kRowsBetweenChecks == 0 && abandoned_) {
        q.reset();
        return Status::unavailable(ru("Работа с базой данных прекращена."));
      }
    }
    q.reset();
    Statement count;
    count.prepare(db_, "UPDATE data_files SET calls = calls + ? WHERE id = ?");
    count.integer(1, static_cast<std::int64_t>(inserted));
    count.integer(2, fileId);
    const int counted = sqlite3_step(count.get());
    return counted == SQLITE_DONE ? Status() : error(counted, "");
  }

  std::string path_;
  sqlite3* db_ = nullptr;
  std::atomic<bool> abandoned_{false};
  int found_ = 0;
  Statement insertCall_;
};

}  // namespace

bool sqliteBuiltIn() { return true; }

std::unique_ptr<CallDatabase> makeSqliteDatabase(const std::string& path) {
  return std::make_unique<SqliteDatabase>(path);
}

}  // namespace kordel::store
