#include "store/database_choice.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "files/data_file.h"
#include "files/file_access.h"
#include "files/text_codec.h"
#include "store/backend.h"

namespace kordel::store {

namespace {

constexpr std::size_t kMaxConfigBytes = std::size_t{64} << 10;

bool startsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

std::string lowered(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string trimmed(const std::string& text) {
  const auto begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return std::string();
  const auto end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

std::optional<std::string> environment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return std::nullopt;
  return fromNativePath(value);  // the environment is in the system's encoding
}

// A connection string of keyword=value pairs: the first word is a keyword followed by "=".
bool looksLikeKeywords(const std::string& value) {
  const auto eq = value.find('=');
  if (eq == std::string::npos || eq == 0) return false;
  for (std::size_t i = 0; i < eq; ++i) {
    const auto c = static_cast<unsigned char>(value[i]);
    if (!std::isalnum(c) && c != '_') return false;
  }
  return true;
}

struct ConfigValues {
  std::optional<std::string> database, site;
};

Status readConfig(const std::string& startDirectory, ConfigValues& values,
                  std::vector<std::string>& warnings) {
  namespace fs = std::filesystem;
  const std::string name =
      (startDirectory.empty()
           ? std::string(kDatabaseConfigName)
           : (fs::path(nativePath(startDirectory)) / kDatabaseConfigName).string());
  std::string bytes;
  const FileContents read = readRegularFile(name, kMaxConfigBytes, bytes);
  if (read.status == FileContents::NotOpened) return Status();  // no file: nothing chosen
  const std::string quoted = quoteForMessage(fromNativePath(name));
  if (read.status == FileContents::NotRegular) {
    return Status::failed(ru("Файл ") + quoted + ru(" не является обычным файлом."));
  }
  if (read.status == FileContents::TooLarge) {
    return Status::failed(ru("Файл ") + quoted + ru(" больше 64 КБ."));
  }
  if (read.status != FileContents::Ok) {
    return Status::failed(ru("Не удалось прочитать файл ") + quoted + ".");
  }
  if (startsWith(bytes, "\xEF\xBB\xBF")) bytes.erase(0, 3);
  std::size_t at = 0;
  while (at < bytes.size()) {
    std::size_t end = bytes.find_first_of("\r\n", at);
    if (end == std::string::npos) end = bytes.size();
    const std::string line = bytes.substr(at, end - at);
    at = end + 1;
    if (trimmed(line).empty() || line[0] == '#') continue;
    if (startsWith(line, "DB=")) {
      values.database = trimmed(line.substr(3));
    } else if (startsWith(line, "SITE=")) {
      values.site = trimmed(line.substr(5));
    } else {
      warnings.push_back(ru("Строка файла ") + quoted + ru(" без ключа DB= или SITE=: ") +
                         quoteForMessage(line));
    }
  }
  return Status();
}

}  // namespace

Status parseDatabaseValue(const std::string& raw, DatabaseChoice& choice) {
  const std::string value = trimmed(raw);
  if (value.empty()) return Status::failed(ru("Не указана база данных."));
  if (lowered(value) == "off") {
    choice.kind = DatabaseChoice::Kind::kOff;
    choice.target.clear();
    return Status();
  }
  if (startsWith(value, "sqlite:")) {
    const std::string path = value.substr(7);
    if (path.empty()) return Status::failed(ru("После \"sqlite:\" не указан файл базы данных."));
    choice.kind = DatabaseChoice::Kind::kSqlite;
    choice.target = path;
    return Status();
  }
  if (startsWith(value, "postgresql://") || startsWith(value, "postgres://") ||
      looksLikeKeywords(value)) {
    std::string why;
    if (!checkConnectionString(value, why)) {
      return Status::failed(ru("Строка подключения к PostgreSQL не принята: ") + why);
    }
    choice.kind = DatabaseChoice::Kind::kPostgres;
    choice.target = value;
    return Status();
  }
  choice.kind = DatabaseChoice::Kind::kSqlite;
  choice.target = value;
  return Status();
}

Status chooseDatabase(const ChoiceSources& sources, DatabaseChoice& choice,
                      std::vector<std::string>& warnings) {
  std::optional<std::string> database = sources.database;
  std::optional<std::string> site = sources.site;
  if (sources.readEnvironment) {
    if (!database) database = environment(kDatabaseVariable);
    if (!site) site = environment(kSiteVariable);
  }
  // The file is read only for what is still open, so a damaged one cannot stand in the way
  // of a choice made on the command line.
  if (!database || !site) {
    ConfigValues config;
    const Status read = readConfig(sources.startDirectory, config, warnings);
    if (!read.ok()) return read;
    if (!database) database = config.database;
    if (!site) site = config.site;
  }

  DatabaseChoice made;
  if (database) {
    const Status parsed = parseDatabaseValue(*database, made);
    if (!parsed.ok()) return parsed;
  } else if (sqliteBuiltIn()) {
    made.kind = DatabaseChoice::Kind::kSqlite;
    made.target = defaultSqlitePath(sources.dataFile);
  } else {
    // A build without SQLite has no default database: nothing was asked for, nothing fails.
    made.kind = DatabaseChoice::Kind::kOff;
  }
  made.site = site ? trimmed(*site) : std::string();
  if (made.site.empty()) made.site = computerName();
  choice = made;
  return Status();
}

std::string defaultSqlitePath(const std::string& dataFile) {
  namespace fs = std::filesystem;
  const fs::path folder = fs::path(nativePath(dataFile)).parent_path();
  return fromNativePath((folder / kDefaultSqliteName).string());
}

std::string computerName() {
  const std::string name = systemComputerName();
  return name.empty() ? std::string("local") : name;
}

std::unique_ptr<CallDatabase> makeDatabase(const DatabaseChoice& choice) {
  switch (choice.kind) {
    case DatabaseChoice::Kind::kSqlite:
      return makeSqliteDatabase(choice.target);
    case DatabaseChoice::Kind::kPostgres:
      return makePostgresDatabase(choice.target);
    case DatabaseChoice::Kind::kOff:
      break;
  }
  return nullptr;
}

bool sqliteFileMissing(const DatabaseChoice& choice) {
  std::error_code error;
  return choice.kind == DatabaseChoice::Kind::kSqlite &&
         !std::filesystem::is_regular_file(nativePath(choice.target), error);
}

std::string dataFileKey(const std::string& dataFile) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::path path = fs::weakly_canonical(fs::path(nativePath(dataFile)), error);
  if (error) {
    error.clear();
    path = fs::absolute(fs::path(nativePath(dataFile)), error).lexically_normal();
    if (error) return dataFile;
  }
  return fromNativePath(path.string());
}

}  // namespace kordel::store
