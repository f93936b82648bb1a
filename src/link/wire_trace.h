// PBX link: a trace of every byte on the serial line, for diagnosing a real line.
//
// One line per exchange: the time stamp of its first byte (local time, milliseconds), the bytes
// written (">") and then the bytes read ("<") in hex; "~" marks a read that timed out, and
// "[N unread]" a purge that threw away N bytes that came unasked. A new line starts when the
// program writes after it has read. Lines are
// written to the file as each one ends, so a trace survives a crash up to its last exchange.
//
// May use: the standard library only.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace kordel {

class WireTrace {
 public:
  // Appends to `path` (a name as the file system takes it). ok() is false when it cannot.
  explicit WireTrace(const std::string& path);
  ~WireTrace();  // ends the open line
  WireTrace(const WireTrace&) = delete;
  WireTrace& operator=(const WireTrace&) = delete;

  bool ok() const { return file_ != nullptr; }
  void sent(std::uint8_t b);
  void received(int b);  // 0..255, or -1 for a read that timed out
  void purged(int discarded);  // bytes thrown away unread

 private:
  void begin(char direction);
  void endLine();

  std::FILE* file_ = nullptr;
  std::string line_;
  char direction_ = 0;  // '>' or '<' while a line is open, 0 between lines
};

// The trace named by the environment variable KORDEL_TRACE, when it is set and the file
// opens; null otherwise.
std::shared_ptr<WireTrace> traceFromEnvironment();

}  // namespace kordel
