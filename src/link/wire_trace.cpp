#include "link/wire_trace.h"

#include <chrono>
#include <cstdlib>
#include <ctime>

#include "link/coding.h"

namespace kordel {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

std::string stamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
  const std::tm local = localTime(seconds);
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(ms.count()));
  return text;
}

}  // namespace

WireTrace::WireTrace(const std::string& path) : file_(std::fopen(path.c_str(), "ab")) {}

WireTrace::~WireTrace() {
  if (file_ == nullptr) return;
  endLine();
  std::fclose(file_);
}

void WireTrace::begin(char direction) {
  if (direction_ == direction) return;
  // A write after a read starts the next exchange.
  if (direction == '>' && direction_ == '<') endLine();
  if (line_.empty()) line_ = stamp();
  line_ += ' ';
  line_ += direction;
  direction_ = direction;
}

void WireTrace::endLine() {
  if (line_.empty()) return;
  line_ += '\n';
  std::fwrite(line_.data(), 1, line_.size(), file_);
  std::fflush(file_);
  line_.clear();
  direction_ = 0;
}

void WireTrace::sent(std::uint8_t b) {
  if (file_ == nullptr) return;
  begin('>');
  line_ += ' ';
  line_ += kHex[b >> 4];
  line_ += kHex[b & 0x0F];
}

void WireTrace::received(int b) {
  if (file_ == nullptr) return;
  begin('<');
  line_ += ' ';
  if (b < 0) {
    line_ += '~';
  } else {
    line_ += kHex[(b >> 4) & 0x0F];
    line_ += kHex[b & 0x0F];
  }
}

void WireTrace::purged(int discarded) {
  if (file_ == nullptr || discarded <= 0) return;
  if (line_.empty()) line_ = stamp();
  line_ += " [" + std::to_string(discarded) + " unread]";
}

std::shared_ptr<WireTrace> traceFromEnvironment() {
  const char* path = std::getenv("KORDEL_TRACE");
  if (path == nullptr || *path == '\0') return nullptr;
  auto trace = std::make_shared<WireTrace>(path);
  return trace->ok() ? trace : nullptr;
}

}  // namespace kordel
