// The backend of a build without its library: every call but close() fails with one message.
#include "store/backend.h"

namespace kordel::store {

namespace {

class MissingDatabase : public CallDatabase {
 public:
  MissingDatabase(std::string description, std::string message)
      : description_(std::move(description)), message_(std::move(message)) {}
  std::string describe() const override { return description_; }
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
  Status missing() const { return Status::failed(message_); }
  std::string description_, message_;
};

}  // namespace

std::unique_ptr<CallDatabase> makeMissingDatabase(std::string description, std::string message) {
  return std::make_unique<MissingDatabase>(std::move(description), std::move(message));
}

}  // namespace kordel::store
