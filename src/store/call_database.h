// Calls database (src/store, library kordel_store): every call of the data files, kept in a
// database as well, so that years of calls of several PBXs at several sites can be queried at
// once. The data file stays the first and exact record of every call; the database is filled
// from it and catches up from it (data_file_intake.h, database_inserter.h).
//
// One interface, CallDatabase, and one file per backend: store_sqlite.cpp (an embedded file
// beside the data file, the default) and store_postgres.cpp (a central server for several
// collectors). Callers never ask which one they hold.
//
// What the database holds:
// - calls: one row per call, identified by the site and the exact bytes of its call-record
//   line (unique), with the fields parsed from the line (start as the PBX's local time,
//   duration, hardware and programmed number, trunk, dialed digits, the marks of suspicious
//   fields), the line itself (Windows-1251 bytes, BLOB/bytea), the PBX's serial number and
//   model and the unit of a complex when the collector knew them, and the data file it came
//   from. Text columns are UTF-8.
// - data_files: per site and data file, how far the file has been taken in (a byte offset and
//   a fingerprint of the bytes before it), moved in the same transaction as the calls.
// - schema_version: the schema's version; older schemas are migrated when the database opens.
//
// May use: the core's files/ and link/ types, SQLite's C library and libpq; never Qt.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kordel::store {

// The result of an operation on the database, with the message for the user.
class Status {
 public:
  enum class Code {
    kOk,
    kUnavailable,  // cannot be reached or written now (server away, file locked, disk full)
    kConflict,     // another writer moved the data file's mark first: read it again
    kFailed,       // anything else (a schema newer than the program, a wrong choice, ...)
  };
  Status() = default;
  static Status unavailable(std::string message) {
    return Status(Code::kUnavailable, std::move(message));
  }
  static Status conflict(std::string message) {
    return Status(Code::kConflict, std::move(message));
  }
  static Status failed(std::string message) { return Status(Code::kFailed, std::move(message)); }

  bool ok() const { return code_ == Code::kOk; }
  Code code() const { return code_; }
  // Windows-1251; empty on success.
  const std::string& message() const { return message_; }

 private:
  Status(Code code, std::string message) : code_(code), message_(std::move(message)) {
    if (message_.empty()) message_ = "?";
  }
  Code code_ = Code::kOk;
  std::string message_;
};

// The newest schema this program writes.
inline constexpr int kSchemaVersion = 2;

// One call-record line as a row. Text fields are UTF-8, the line is the exact bytes.
struct CallRow {
  std::string line;           // Windows-1251, without its line end
  bool parsed = false;        // false: the line carries a call but does not convert
  std::string start;          // "YYYY-MM-DD HH:MM:SS", the PBX's local time
  std::int32_t duration = 0;  // seconds
  std::string hardware;       // as written
  std::string programmed;     // without spaces; empty when the PBX sent none
  std::string trunk;          // empty when blank
  std::string dialed;         // without spaces; empty for an incoming call
  bool markedDate = false, markedTime = false, markedDuration = false, markedNumber = false;
  std::string parseError;  // why the line did not convert (parsed false)
  // What the collector knew when it stored the line; empty (NULL) for a line taken in from a
  // data file alone (an import, a catch-up after a restart).
  std::string pbxSerial;
  std::string pbxModel;
  std::optional<std::int32_t> unit;
};

// How far a data file has been taken in.
struct FileMark {
  bool known = false;  // false: never taken in (offset 0)
  std::uint64_t offset = 0;
  std::uint64_t fingerprint = 0;
  bool operator==(const FileMark&) const = default;
};

// A batch of calls of one data file and the mark that follows them: stored in one transaction,
// and only if the mark is still `expected` (else Status::kConflict, nothing stored).
struct Intake {
  std::string site;  // Windows-1251
  std::string path;  // Windows-1251, as dataFileKey gives it
  FileMark expected;
  FileMark next;
  std::span<const CallRow> rows;
};

// What db status shows of one data file.
struct FileState {
  std::string site;  // Windows-1251
  std::string path;
  std::uint64_t offset = 0;
  std::uint64_t calls = 0;  // calls that came from this file first
  std::string updated;      // "YYYY-MM-DD HH:MM:SS", the computer's local time of the last move
};

// Which lines the analysis wants. Lines that did not convert are always given (they are
// counted as unreadable, as in the data files).
struct LineQuery {
  std::vector<std::string> sites;  // Windows-1251; empty: every site
  std::string from;                // "YYYY-MM-DD HH:MM:SS": start at or after; empty: no bound
  std::string to;                  // start before; empty: no bound
  std::int32_t minDuration = 0;
  enum class Direction { kAny, kIncoming, kOutgoing } direction = Direction::kAny;
};

// Called for each line: the site and the exact line. Returning false stops the walk.
using LineVisitor = std::function<bool(std::string_view site, std::string_view line)>;

// REQUIRES: one thread at a time calls the methods, except abandon().
class CallDatabase {
 public:
  virtual ~CallDatabase() = default;

  // What it is, for messages: the SQLite file, or the server and database (no password).
  // Windows-1251.
  virtual std::string describe() const = 0;
  // Connects (or opens the file) unless that is done, and brings the schema up to date. May be
  // called again after a failure.
  virtual Status open() = 0;
  // Drops the connection; open() makes a new one.
  virtual void close() = 0;
  // The schema version found before open() migrated it (0: a new database).
  virtual int foundSchemaVersion() const = 0;

  virtual Status readMark(const std::string& site, const std::string& path, FileMark& mark) = 0;
  // Stores the rows whose (site, line) is not there yet, and moves the mark. `inserted` is the
  // number of new rows.
  virtual Status takeIn(const Intake& intake, std::uint64_t& inserted) = 0;
  virtual Status fileStates(std::vector<FileState>& states) = 0;
  // The sites the database holds calls of, sorted.
  virtual Status sites(std::vector<std::string>& sites) = 0;
  virtual Status forEachLine(const LineQuery& query, const LineVisitor& visit) = 0;

  // From any thread: a wait in progress (a locked file, a server that does not answer) gives
  // up soon, and every later call fails at once. For stopping the thread that uses it.
  virtual void abandon() = 0;
};

// The backends. `path` and `conninfo` are Windows-1251 (a connection string is ASCII in
// practice). Nothing is opened before open().
std::unique_ptr<CallDatabase> makeSqliteDatabase(const std::string& path);
std::unique_ptr<CallDatabase> makePostgresDatabase(const std::string& conninfo);

}  // namespace kordel::store
