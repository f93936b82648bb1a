// The central backend: a PostgreSQL server that several collectors (sites) write into at once.
// Everything waits on the connection's socket in short steps, so that abandon() ends a wait for
// a server that went away; keepalives notice a server that vanished without closing.
#include <libpq-fe.h>
#include <poll.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <iterator>
#include <optional>
#include <vector>

#include "files/text_codec.h"
#include "store/backend.h"
#include "store/call_database.h"

namespace kordel::store {

namespace {

// Step i brings the schema from version i to i + 1.
const char* const kSteps[] = {
    // 1: the calls and the marks of the data files.
    "CREATE TABLE data_files ("
    " id bigserial PRIMARY KEY,"
    " site text NOT NULL,"
    " path text NOT NULL,"
    " taken_bytes bigint NOT NULL,"
    " fingerprint bigint NOT NULL,"
    " calls bigint NOT NULL DEFAULT 0,"
    " updated_at timestamp NOT NULL,"
    " UNIQUE (site, path));"
    "CREATE TABLE calls ("
    " id bigserial PRIMARY KEY,"
    " site text NOT NULL,"
    " line bytea NOT NULL,"
    " start_time timestamp without time zone,"
    " duration integer,"
    " hardware text,"
    " programmed text,"
    " trunk text,"
    " dialed text,"
    " marked_date boolean,"
    " marked_time boolean,"
    " marked_duration boolean,"
    " marked_number boolean,"
    " parse_error text,"
    " pbx_serial text,"
    " pbx_model text,"
    " unit integer,"
    " file_id bigint REFERENCES data_files (id),"
    " UNIQUE (site, line));",
    // 2: periods of one site are asked for by start.
    "CREATE INDEX calls_by_start ON calls (site, start_time);",
};
static_assert(std::size(kSteps) == kSchemaVersion);

// Taken by every process that migrates, so that collectors starting together migrate once.
constexpr long long kMigrationLock = 0x4B6F7264656C;  // "Kordel"
constexpr int kConnectTimeoutMs = 15000;
constexpr int kWaitStepMs = 100;

// The columns a batch brings, in the order of the COPY lines.
constexpr const char* kRowColumns =
    "site, line, start_time, duration, hardware, programmed, trunk, dialed, marked_date,"
    " marked_time, marked_duration, marked_number, parse_error, pbx_serial, pbx_model, unit";

void ignoreNotice(void*, const char*) {}

class Result {
 public:
  Result() = default;
  explicit Result(PGresult* r) : r_(r) {}
  ~Result() { PQclear(r_); }
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
  Result(Result&& other) noexcept : r_(other.r_) { other.r_ = nullptr; }
  Result& operator=(Result&& other) noexcept {
    std::swap(r_, other.r_);
    return *this;
  }
  PGresult* get() const { return r_; }
  int rows() const { return PQntuples(r_); }
  std::string text(int row, int column) const {
    return std::string(PQgetvalue(r_, row, column),
                       static_cast<std::size_t>(PQgetlength(r_, row, column)));
  }

 private:
  PGresult* r_ = nullptr;
};

// COPY text format: backslash, tab, line ends escaped; NULL as \N.
void copyText(std::string& out, const std::string& value) {
  for (char c : value) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
}
void copyField(std::string& out, const std::string& value, bool present, bool last = false) {
  if (present) {
    copyText(out, value);
  } else {
    out += "\\N";
  }
  out += last ? '\n' : '\t';
}
void copyBytea(std::string& out, const std::string& bytes) {
  static const char kHex[] = "0123456789abcdef";
  out += "\\\\x";  // the bytea text "\x..." with its backslash escaped for COPY
  for (unsigned char c : bytes) {
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  out += '\t';
}

std::uint32_t bigEndian32(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return (std::uint32_t{u[0]} << 24) | (std::uint32_t{u[1]} << 16) | (std::uint32_t{u[2]} << 8) |
         u[3];
}

// libpq's message as one line: its lines (and their leading tabs) joined by spaces.
std::string trimmedMessage(const char* message) {
  std::string text;
  for (const char* p = message != nullptr ? message : ""; *p != '\0'; ++p) {
    const bool blank = *p == '\n' || *p == '\t' || *p == '\r';
    if (blank) {
      if (!text.empty() && text.back() != ' ') text += ' ';
    } else {
      text += *p;
    }
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return utf8ToCp1251(text);
}

class PostgresDatabase : public CallDatabase {
 public:
  explicit PostgresDatabase(std::string conninfo) : conninfo_(std::move(conninfo)) {}
  ~PostgresDatabase() override { close(); }

  std::string describe() const override {
    std::string text = "PostgreSQL";
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(conninfo_.c_str(), &error);
    PQfreemem(error);
    if (options == nullptr) return text;
    for (PQconninfoOption* o = options; o->keyword != nullptr; ++o) {
      if (o->val == nullptr || *o->val == '\0') continue;
      const std::string key = o->keyword;
      if (key == "host" || key == "hostaddr" || key == "port" || key == "dbname" || key == "user") {
        text += " " + key + "=" + quoteForMessage(o->val, 80);
      }
    }
    PQconninfoFree(options);
    return text;
  }

  Status open() override {
    if (conn_ != nullptr && PQstatus(conn_) == CONNECTION_OK) return Status();
    close();
    if (abandoned_) return stoppedStatus();
    if (Status s = connect(); !s.ok()) {
      close();
      return s;
    }
    Status s = migrate();
    if (s.ok()) {
      s = simple("CREATE TEMP TABLE incoming_calls ON COMMIT DELETE ROWS AS SELECT " +
                 std::string(kRowColumns) + " FROM calls WITH NO DATA");
    }
    if (!s.ok()) close();
    return s;
  }

  void close() override {
    if (conn_ != nullptr) PQfinish(conn_);
    conn_ = nullptr;
  }

  int foundSchemaVersion() const override { return found_; }

  Status readMark(const std::string& site, const std::string& path, FileMark& mark) override {
    if (Status s = ready(); !s.ok()) return s;
    Result r;
    if (Status s =
            query("SELECT taken_bytes, fingerprint FROM data_files WHERE site=$1 AND path=$2",
                  {cp1251ToUtf8(site), cp1251ToUtf8(path)}, r);
        !s.ok()) {
      return s;
    }
    mark = FileMark{};
    if (r.rows() > 0) {
      mark.known = true;
      mark.offset = std::stoull(r.text(0, 0));
      mark.fingerprint = static_cast<std::uint64_t>(std::stoll(r.text(0, 1)));
    }
    return Status();
  }

  Status takeIn(const Intake& in, std::uint64_t& inserted) override {
    inserted = 0;
    if (Status s = ready(); !s.ok()) return s;
    if (Status s = simple("BEGIN"); !s.ok()) return s;
    const Status s = takeInLocked(in, inserted);
    if (!s.ok()) {
      rollback();
      inserted = 0;
      return s;
    }
    if (Status c = simple("COMMIT"); !c.ok()) {
      rollback();
      inserted = 0;
      return c;
    }
    return Status();
  }

  Status fileStates(std::vector<FileState>& states) override {
    states.clear();
    if (Status s = ready(); !s.ok()) return s;
    Result r;
    if (Status s = query("SELECT site, path, taken_bytes, calls,"
                         " to_char(updated_at, 'YYYY-MM-DD HH24:MI:SS')"
                         " FROM data_files ORDER BY site, path",
                         {}, r);
        !s.ok()) {
      return s;
    }
    for (int i = 0; i < r.rows(); ++i) {
      FileState f;
      f.site = utf8ToCp1251(r.text(i, 0));
      f.path = utf8ToCp1251(r.text(i, 1));
      f.offset = std::stoull(r.text(i, 2));
      f.calls = std::stoull(r.text(i, 3));
      f.updated = r.text(i, 4);
      states.push_back(std::move(f));
    }
    return Status();
  }

  Status sites(std::vector<std::string>& sites) override {
    sites.clear();
    if (Status s = ready(); !s.ok()) return s;
    Result r;
    if (Status s = query("SELECT site FROM data_files GROUP BY site HAVING sum(calls) > 0"
                         " ORDER BY site",
                         {}, r);
        !s.ok()) {
      return s;
    }
    for (int i = 0; i < r.rows(); ++i) sites.push_back(utf8ToCp1251(r.text(i, 0)));
    return Status();
  }

  Status forEachLine(const LineQuery& query, const LineVisitor& visit) override {
    if (Status s = ready(); !s.ok()) return s;
    // COPY takes no parameters: the values are quoted by libpq.
    std::string where = "TRUE";
    if (!query.sites.empty()) {
      where += " AND site IN (";
      for (std::size_t i = 0; i < query.sites.size(); ++i) {
        if (i > 0) where += ",";
        where += literal(cp1251ToUtf8(query.sites[i]));
      }
      where += ")";
    }
    where += " AND (start_time IS NULL OR (TRUE";
    if (!query.from.empty()) where += " AND start_time >= " + literal(query.from) + "::timestamp";
    if (!query.to.empty()) where += " AND start_time < " + literal(query.to) + "::timestamp";
    if (query.minDuration > 0) where += " AND duration >= " + std::to_string(query.minDuration);
    if (query.direction == LineQuery::Direction::kIncoming) where += " AND dialed = ''";
    if (query.direction == LineQuery::Direction::kOutgoing) where += " AND dialed <> ''";
    where += "))";
    const std::string sql =
        "COPY (SELECT site, line FROM calls WHERE " + where + ") TO STDOUT (FORMAT binary)";
    if (PQsendQuery(conn_, sql.c_str()) == 0) return connectionError();
    Result start;
    if (Status s = nextResult(start); !s.ok()) return s;
    if (PQresultStatus(start.get()) != PGRES_COPY_OUT) return queryFailed(start);

    bool headerSeen = false;
    bool stopped = false;
    std::string lastUtf8Site, lastSite;
    for (;;) {
      char* buffer = nullptr;
      const int got = PQgetCopyData(conn_, &buffer, 1);
      if (got == 0) {
        if (Status s = waitReadable(); !s.ok()) return s;
        if (PQconsumeInput(conn_) == 0) return connectionError();
        continue;
      }
      if (got == -1) break;  // the end of the copy
      if (got < 0) return connectionError();
      std::string_view data(buffer, static_cast<std::size_t>(got));
      bool ok = true;
      if (!headerSeen) {
        // "PGCOPY\n\377\r\n\0", flags, then the length of a header extension.
        constexpr std::size_t kSignature = 11;
        ok = data.size() >= kSignature + 8;
        if (ok) {
          const std::uint32_t extension = bigEndian32(data.data() + kSignature + 4);
          ok = data.size() >= kSignature + 8 + extension;
          if (ok) data.remove_prefix(kSignature + 8 + extension);
        }
        headerSeen = true;
      }
      while (ok && !stopped && data.size() >= 2) {
        const auto fields = static_cast<std::int16_t>((static_cast<unsigned char>(data[0]) << 8) |
                                                      static_cast<unsigned char>(data[1]));
        data.remove_prefix(2);
        if (fields == -1) break;  // the trailer
        std::string_view values[2];
        ok = fields == 2;
        for (int i = 0; ok && i < 2; ++i) {
          ok = data.size() >= 4;
          if (!ok) break;
          const std::uint32_t length = bigEndian32(data.data());
          data.remove_prefix(4);
          ok = length != 0xFFFFFFFFu && data.size() >= length;
          if (ok) {
            values[i] = data.substr(0, length);
            data.remove_prefix(length);
          }
        }
        if (!ok) break;
        if (values[0] != lastUtf8Site) {
          lastUtf8Site.assign(values[0]);
          lastSite = utf8ToCp1251(values[0]);
        }
        if (!visit(lastSite, values[1])) stopped = true;
      }
      PQfreemem(buffer);
      if (!ok) {
        close();
        return Status::failed(describe() + ru(": сервер прислал строки в неожиданном виде."));
      }
      if (stopped || abandoned_) {
        // The rest of the copy is not wanted: the connection is dropped rather than drained.
        close();
        return stopped ? Status() : stoppedStatus();
      }
    }
    Result end;
    if (Status s = nextResult(end); !s.ok()) return s;
    if (PQresultStatus(end.get()) != PGRES_COMMAND_OK) return queryFailed(end);
    return drain();
  }

  void abandon() override { abandoned_ = true; }

 private:
  Status stoppedStatus() const {
    return Status::unavailable(ru("Работа с базой данных прекращена."));
  }

  Status ready() {
    if (abandoned_) return stoppedStatus();
    return open();
  }

  Status connectionError() {
    const Status s = Status::unavailable(describe() + ": " + trimmedMessage(PQerrorMessage(conn_)));
    close();
    return s;
  }

  Status resultError(const Result& r) {
    const char* state = PQresultErrorField(r.get(), PG_DIAG_SQLSTATE);
    const std::string text = describe() + ": " + trimmedMessage(PQresultErrorMessage(r.get()));
    // Class 08 (connection), 53 (resources: disk full, out of memory), 57 (operator
    // intervention: a server shutting down), 40 (a transaction rolled back, e.g. a deadlock)
    // and 55P03 (a lock not available) may pass; the rest are faults of their own.
    const std::string code = state != nullptr ? state : "";
    const bool passing = code.rfind("08", 0) == 0 || code.rfind("53", 0) == 0 ||
                         code.rfind("57", 0) == 0 || code.rfind("40", 0) == 0 || code == "55P03" ||
                         PQstatus(conn_) != CONNECTION_OK;
    if (PQstatus(conn_) != CONNECTION_OK) close();
    return passing ? Status::unavailable(text) : Status::failed(text);
  }

  // Waits until the socket can be read (or written): false when abandoned or the socket fails.
  Status waitSocket(bool forWrite, int timeoutMs) {
    const int socket = PQsocket(conn_);
    if (socket < 0) return connectionError();
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
      if (abandoned_) {
        close();
        return stoppedStatus();
      }
      pollfd p{socket, static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
      const int rc = ::poll(&p, 1, kWaitStepMs);
      if (rc > 0) return Status();
      if (rc < 0 && errno != EINTR) return connectionError();
      if (timeoutMs > 0 &&
          std::chrono::steady_clock::now() - start > std::chrono::milliseconds(timeoutMs)) {
        close();
        return Status::unavailable(describe() + ru(": сервер не ответил вовремя."));
      }
    }
  }
  Status waitReadable() { return waitSocket(false, 0); }

  Status connect() {
    // Ours first: a connection string that names any of them takes its own value.
    const char* keys[] = {"keepalives",
                          "keepalives_idle",
                          "keepalives_interval",
                          "keepalives_count",
                          "tcp_user_timeout",
                          "application_name",
                          "client_encoding",
                          "options",
                          "dbname",
                          nullptr};
    const char* values[] = {
        "1",    "10", "5", "3", "30000", "kordel", "UTF8", "-c lock_timeout=30s", conninfo_.c_str(),
        nullptr};
    conn_ = PQconnectStartParams(keys, values, 1);
    if (conn_ == nullptr) return Status::unavailable(describe() + ru(": нет памяти."));
    if (PQstatus(conn_) == CONNECTION_BAD) return connectionError();
    PQsetNoticeProcessor(conn_, ignoreNotice, nullptr);
    const auto start = std::chrono::steady_clock::now();
    PostgresPollingStatusType polling = PGRES_POLLING_WRITING;
    while (polling != PGRES_POLLING_OK) {
      if (polling == PGRES_POLLING_FAILED) return connectionError();
      const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count();
      // A wait of 0 would be one without end: the time is up.
      const int left = kConnectTimeoutMs - static_cast<int>(spent);
      if (left <= 0) {
        close();
        return Status::unavailable(describe() + ru(": сервер не ответил вовремя."));
      }
      if (Status s = waitSocket(polling == PGRES_POLLING_WRITING, left); !s.ok()) return s;
      polling = PQconnectPoll(conn_);
    }
    return Status();
  }

  // The error of a result that ends a query early, after reading the query's other results, so
  // that the connection can take the next one.
  Status queryFailed(const Result& r) {
    const Status error = resultError(r);
    if (conn_ != nullptr) drain();
    return error;
  }

  // The next result of the query in progress (empty at its end).
  Status nextResult(Result& out) {
    for (;;) {
      if (PQconsumeInput(conn_) == 0) return connectionError();
      if (PQisBusy(conn_) == 0) break;
      if (Status s = waitReadable(); !s.ok()) return s;
    }
    out = Result(PQgetResult(conn_));
    return Status();
  }

  // Reads the results of the query in progress to its end; the first error is returned.
  Status drain() {
    Status first;
    for (;;) {
      Result r;
      if (Status s = nextResult(r); !s.ok()) return s;
      if (r.get() == nullptr) return first;
      const ExecStatusType t = PQresultStatus(r.get());
      if (first.ok() && t != PGRES_COMMAND_OK && t != PGRES_TUPLES_OK) first = resultError(r);
      if (conn_ == nullptr) return first;
    }
  }

  Status simple(const std::string& sql) {
    if (PQsendQuery(conn_, sql.c_str()) == 0) return connectionError();
    return drain();
  }

  Status query(const char* sql, const std::vector<std::string>& params, Result& out) {
    std::vector<const char*> values;
    for (const std::string& p : params) values.push_back(p.c_str());
    if (PQsendQueryParams(conn_, sql, static_cast<int>(values.size()), nullptr, values.data(),
                          nullptr, nullptr, 0) == 0) {
      return connectionError();
    }
    Status first;
    for (;;) {
      Result r;
      if (Status s = nextResult(r); !s.ok()) return s;
      if (r.get() == nullptr) return first;
      const ExecStatusType t = PQresultStatus(r.get());
      if (first.ok() && t != PGRES_COMMAND_OK && t != PGRES_TUPLES_OK) {
        first = resultError(r);
        if (conn_ == nullptr) return first;
      } else if (first.ok()) {
        out = std::move(r);
      }
    }
  }

  void rollback() {
    if (conn_ != nullptr && PQstatus(conn_) == CONNECTION_OK) {
      if (!simple("ROLLBACK").ok()) close();
    }
  }

  std::string literal(const std::string& utf8) {
    char* quoted = PQescapeLiteral(conn_, utf8.c_str(), utf8.size());
    std::string text = quoted != nullptr ? quoted : "NULL";
    PQfreemem(quoted);
    return text;
  }

  Status migrate() {
    {
      // A schema that is up to date is only read.
      Result r;
      if (query("SELECT coalesce(max(version), 0) FROM schema_version", {}, r).ok() &&
          r.rows() == 1 && r.text(0, 0) == std::to_string(kSchemaVersion)) {
        found_ = kSchemaVersion;
        return Status();
      }
      if (conn_ == nullptr) return Status::unavailable(describe() + ru(": соединение потеряно."));
    }
    if (Status s = simple("BEGIN; SELECT pg_advisory_xact_lock(" + std::to_string(kMigrationLock) +
                          ");"
                          " CREATE TABLE IF NOT EXISTS schema_version (version integer NOT NULL,"
                          " applied_at timestamp NOT NULL DEFAULT localtimestamp)");
        !s.ok()) {
      rollback();
      return s;
    }
    Result r;
    Status s = query("SELECT coalesce(max(version), 0) FROM schema_version", {}, r);
    int version = 0;
    if (s.ok()) version = std::stoi(r.text(0, 0));
    if (s.ok() && version > kSchemaVersion) {
      s = Status::failed(describe() + ru(": схема базы данных (версия ") + std::to_string(version) +
                         ru(") новее этой программы (версия ") + std::to_string(kSchemaVersion) +
                         ").");
    }
    for (int step = version; s.ok() && step < kSchemaVersion; ++step) {
      s = simple(kSteps[step]);
      if (s.ok()) {
        s = simple("INSERT INTO schema_version (version, applied_at) VALUES (" +
                   std::to_string(step + 1) + ", localtimestamp)");
      }
    }
    if (s.ok()) s = simple("COMMIT");
    if (!s.ok()) {
      rollback();
      return s;
    }
    found_ = version;
    return Status();
  }

  Status takeInLocked(const Intake& in, std::uint64_t& inserted) {
    const std::string site = cp1251ToUtf8(in.site);
    const std::string path = cp1251ToUtf8(in.path);
    Result mark;
    Status s;
    if (in.expected.known) {
      s = query(
          "UPDATE data_files SET taken_bytes=$1, fingerprint=$2, updated_at=localtimestamp"
          " WHERE site=$3 AND path=$4 AND taken_bytes=$5 AND fingerprint=$6 RETURNING id",
          {std::to_string(in.next.offset),
           std::to_string(static_cast<std::int64_t>(in.next.fingerprint)), site, path,
           std::to_string(in.expected.offset),
           std::to_string(static_cast<std::int64_t>(in.expected.fingerprint))},
          mark);
    } else {
      s = query(
          "INSERT INTO data_files (taken_bytes, fingerprint, site, path, calls, updated_at)"
          " VALUES ($1, $2, $3, $4, 0, localtimestamp)"
          " ON CONFLICT (site, path) DO NOTHING RETURNING id",
          {std::to_string(in.next.offset),
           std::to_string(static_cast<std::int64_t>(in.next.fingerprint)), site, path},
          mark);
    }
    if (!s.ok()) return s;
    if (mark.get() == nullptr || mark.rows() == 0) {
      return Status::conflict(describe() + ru(": отметку файла данных передвинул другой процесс."));
    }
    const std::string fileId = mark.text(0, 0);
    if (in.rows.empty()) return Status();

    if (PQsendQuery(
            conn_, ("COPY incoming_calls (" + std::string(kRowColumns) + ") FROM STDIN").c_str()) ==
        0) {
      return connectionError();
    }
    Result copying;
    if (s = nextResult(copying); !s.ok()) return s;
    if (PQresultStatus(copying.get()) != PGRES_COPY_IN) return queryFailed(copying);
    std::string chunk;
    constexpr std::size_t kChunkBytes = 256 << 10;
    for (const CallRow& row : in.rows) {
      copyField(chunk, site, true);
      copyBytea(chunk, row.line);
      copyField(chunk, row.start, row.parsed);
      copyField(chunk, std::to_string(row.duration), row.parsed);
      copyField(chunk, row.hardware, row.parsed);
      copyField(chunk, row.programmed, row.parsed);
      copyField(chunk, row.trunk, row.parsed);
      copyField(chunk, row.dialed, row.parsed);
      copyField(chunk, row.markedDate ? "t" : "f", row.parsed);
      copyField(chunk, row.markedTime ? "t" : "f", row.parsed);
      copyField(chunk, row.markedDuration ? "t" : "f", row.parsed);
      copyField(chunk, row.markedNumber ? "t" : "f", row.parsed);
      copyField(chunk, row.parseError, !row.parsed);
      copyField(chunk, row.pbxSerial, !row.pbxSerial.empty());
      copyField(chunk, row.pbxModel, !row.pbxModel.empty());
      copyField(chunk, row.unit ? std::to_string(*row.unit) : std::string(), row.unit.has_value(),
                true);
      if (chunk.size() >= kChunkBytes) {
        if (PQputCopyData(conn_, chunk.data(), static_cast<int>(chunk.size())) != 1) {
          return connectionError();
        }
        chunk.clear();
        if (abandoned_) {
          close();
          return stoppedStatus();
        }
      }
    }
    if (!chunk.empty() && PQputCopyData(conn_, chunk.data(), static_cast<int>(chunk.size())) != 1) {
      return connectionError();
    }
    if (PQputCopyEnd(conn_, nullptr) != 1) return connectionError();
    if (s = drain(); !s.ok()) return s;

    Result insert;
    if (s = query(("INSERT INTO calls (" + std::string(kRowColumns) + ", file_id) SELECT " +
                   kRowColumns + ", $1 FROM incoming_calls ON CONFLICT (site, line) DO NOTHING")
                      .c_str(),
                  {fileId}, insert);
        !s.ok()) {
      return s;
    }
    inserted = std::stoull(PQcmdTuples(insert.get()));
    Result count;
    return query("UPDATE data_files SET calls = calls + $1 WHERE id = $2",
                 {std::to_string(inserted), fileId}, count);
  }

  std::string conninfo_;
  PGconn* conn_ = nullptr;
  std::atomic<bool> abandoned_{false};
  int found_ = 0;
};

}  // namespace

std::unique_ptr<CallDatabase> makePostgresDatabase(const std::string& conninfo) {
  return std::make_unique<PostgresDatabase>(conninfo);
}

bool checkConnectionString(const std::string& conninfo, std::string& why) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &error);
  if (options == nullptr) {
    why = trimmedMessage(error);
    PQfreemem(error);
    return false;
  }
  PQconninfoFree(options);
  return true;
}

}  // namespace kordel::store
