// A build without SQLite's library: the embedded backend says so when it is opened.
#include "files/text_codec.h"
#include "store/backend.h"
#include "store/call_database.h"

namespace kordel::store {

namespace {

class MissingSqlite : public CallDatabase {
 public:
  explicit MissingSqlite(std::string path) : path_(std::move(path)) {}
  std::string describe() const override { return "SQLite " + quoteForMessage(path_); }
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
  Status missing() const {
    return Status::failed(describe() + ru(": программа собрана без SQLite."));
  }
  std::string path_;
};

}  // namespace

bool sqliteBuiltIn() { return false; }

std::unique_ptr<CallDatabase> makeSqliteDatabase(const std::string& path) {
  return std::make_unique<MissingSqlite>(path);
}

}  // namespace kordel::store
