// A build without SQLite's library: the embedded backend says so when it is opened.
#include "files/text_codec.h"
#include "store/backend.h"

namespace kordel::store {

bool sqliteBuiltIn() { return false; }

std::unique_ptr<CallDatabase> makeSqliteDatabase(const std::string& path) {
  const std::string description = "SQLite " + quoteForMessage(path);
  return makeMissingDatabase(description, description + ru(": программа собрана без SQLite."));
}

}  // namespace kordel::store
