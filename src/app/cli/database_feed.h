// kordel-cli: the calls database of a read or a collection.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "files/record_sink.h"
#include "files/settings.h"
#include "store/database_choice.h"
#include "store/database_inserter.h"

namespace kordel::cli {

// --db and --site as given (UTF-8).
struct DatabaseOptions {
  std::optional<std::string> database;
  std::optional<std::string> site;
};

// The choice for `dataFile` (Windows-1251): --db and --site, KORDEL_DB and KORDEL_SITE,
// "KordelDb.cfg" in the start directory, the SQLite file beside the data file. Prints what
// "KordelDb.cfg" had wrong; false with a message printed for a wrong choice.
bool chooseDatabase(const DatabaseOptions& options, const Settings& settings,
                    const std::string& dataFile, store::DatabaseChoice& choice);

// Fills the database as the sink stores the calls, on the inserter's thread; says on stderr
// when the database does not take them and when it is back.
class DatabaseFeed : public store::InserterObserver {
 public:
  // Starts the inserter unless the choice is off.
  void start(const store::DatabaseChoice& choice, const std::string& dataFile);
  void attach(RecordSink& sink);
  bool active() const { return inserter_ != nullptr; }
  // The database, for messages (Windows-1251); empty when off.
  std::string describe() const { return inserter_ ? inserter_->description() : std::string(); }
  // The last pass before the program ends, at most `waitMs` long: says so when the database
  // has not taken every call (the next run or "db import" takes them in).
  void finish(int waitMs);

  void databaseFailed(const std::string& reason, int retryMs) override;
  void databaseBack(std::uint64_t behind) override;

 private:
  std::unique_ptr<store::DatabaseInserter> inserter_;
};

}  // namespace kordel::cli
