// Call analysis: the result of an operation that can fail, with the message for the user.
#pragma once

#include <string>
#include <utility>

namespace kordel::analysis {

class Status {
 public:
  Status() = default;  // success
  static Status error(std::string message) { return Status(std::move(message)); }

  bool ok() const { return message_.empty(); }
  // Windows-1251; empty on success.
  const std::string& message() const { return message_; }

 private:
  explicit Status(std::string message) : message_(std::move(message)) {
    if (message_.empty()) message_ = "?";
  }
  std::string message_;
};

}  // namespace kordel::analysis
