// A build without libpq: the central backend says so when it is opened.
#include "files/text_codec.h"
#include "store/backend.h"
#include "store/call_database.h"

namespace kordel::store {

namespace {

class MissingPostgres : public CallDatabase {
 public:
  std::string describe() const override { return "PostgreSQL"; }
  Status open() override { return missing(); }
  void close() override {}
  int foundSchemaVersion() const override { return 0; }
  Status readMark(const std::string&, const std::string&, FileMark&) override { return missing(); }
  Status takeIn(const Intake&, std::uint64_t&) override { return missing(); }
  Status fileStates(std::vector<FileState>&) override { return missing(); }
  Status sites(std::vector<std::string>&) override { return missing(); }
  Status forEachLine(const LineQuery&, const LineVisitor&) override { return missing(); }
  void abandon() override {}

 private:
  static Status missing() {
    return Status::failed(ru("Программа собрана без PostgreSQL (libpq)."));
  }
};

}  // namespace

std::unique_ptr<CallDatabase> makePostgresDatabase(const std::string&) {
  return std::make_unique<MissingPostgres>();
}

bool checkConnectionString(const std::string&, std::string&) { return true; }

}  // namespace kordel::store
