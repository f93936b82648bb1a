// A build without libpq: the central backend says so when it is opened.
#include "files/text_codec.h"
#include "store/backend.h"

namespace kordel::store {

std::unique_ptr<CallDatabase> makePostgresDatabase(const std::string&) {
  return makeMissingDatabase("PostgreSQL", ru("Программа собрана без PostgreSQL (libpq)."));
}

bool checkConnectionString(const std::string&, std::string&) { return true; }

}  // namespace kordel::store
