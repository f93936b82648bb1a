// Calls database: which database a collector writes to, and under which site name.
//
// The choice comes, first found first, from the command line (--db, --site), the environment
// (KORDEL_DB, KORDEL_SITE), or the file "KordelDb.cfg" in the start directory (lines "DB=" and
// "SITE=", Windows-1251, like "KordelOut.cfg"); without any, the calls go to the SQLite file
// "kordel.sqlite" in the folder of the data file (none in a build without SQLite), and the
// site is the computer's name.
//
// A value is "off" (no database), a PostgreSQL connection string ("postgresql://..." or
// "postgres://...", or keyword=value pairs such as "host=db1 dbname=kordel"), or the path of
// an SQLite file ("sqlite:PATH" for a path that would read as something else).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "store/call_database.h"

namespace kordel::store {

inline constexpr const char* kDatabaseConfigName = "KordelDb.cfg";
inline constexpr const char* kDefaultSqliteName = "kordel.sqlite";
inline constexpr const char* kDatabaseVariable = "KORDEL_DB";
inline constexpr const char* kSiteVariable = "KORDEL_SITE";

struct DatabaseChoice {
  enum class Kind { kOff, kSqlite, kPostgres };
  Kind kind = Kind::kOff;
  std::string target;  // the SQLite path or the connection string (Windows-1251)
  std::string site;    // Windows-1251
  bool operator==(const DatabaseChoice&) const = default;
};

// What the choice is made from. Texts are Windows-1251.
struct ChoiceSources {
  std::optional<std::string> database;  // --db
  std::optional<std::string> site;      // --site
  std::string startDirectory;           // where "KordelDb.cfg" is looked for
  std::string dataFile;                 // for the default SQLite file beside it
  bool readEnvironment = true;
};

// The choice; a wrong value (a connection string libpq does not take, "sqlite:" with no path,
// a "KordelDb.cfg" that is not a regular file or is larger than 64 KB) gives kFailed with the
// message. Lines of "KordelDb.cfg" with neither key are named in `warnings`.
Status chooseDatabase(const ChoiceSources& sources, DatabaseChoice& choice,
                      std::vector<std::string>& warnings);
// One value as above (not the defaults).
Status parseDatabaseValue(const std::string& value, DatabaseChoice& choice);

// "kordel.sqlite" in the folder of `dataFile`.
std::string defaultSqlitePath(const std::string& dataFile);
// The computer's name (Windows-1251), or "local" when it has none.
std::string computerName();

// The database of a choice that is not off.
std::unique_ptr<CallDatabase> makeDatabase(const DatabaseChoice& choice);
// True for an SQLite choice whose file is not there (or is not a regular file). A reader, such
// as the analysis, asks first: opening the choice would make the file.
bool sqliteFileMissing(const DatabaseChoice& choice);

// The key under which a data file's mark is kept: its absolute path, links resolved, so that
// two spellings of one file share one mark (Windows-1251).
std::string dataFileKey(const std::string& dataFile);

}  // namespace kordel::store
