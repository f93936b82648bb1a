// Files and formats: appending lines to the data file (and other append-only text files).
//
// The file is opened for every write, written, flushed and closed; it is never truncated below
// the size it had before an append (a failed append removes only the bytes it wrote itself).
#pragma once

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kordel {

// Results of appendLines.
inline constexpr int kAppendOk = 1;
inline constexpr int kAppendFailed = -2;  // the file could not be opened or written: line lost
inline constexpr int kAppendError = -1;   // an exception escaped

// Appends each line followed by CR LF to `fileName` (Windows-1251 path), creating the file.
// When the first open fails and the file exists and is readable, it tries once more. A FIFO or
// device of that name is refused (kAppendFailed) without waiting. A line that could not be
// written completely (disk full, I/O error) makes the result kAppendFailed, and the file is cut
// back to its size before the call, so no piece of a line stays behind. A file whose last line
// has no line end (torn by a power cut or a killed writer) gets its CR LF first, so the new
// lines start lines of their own; the bytes already there are not touched.
int appendLines(const std::string& fileName, const std::vector<std::string>& lines);

// Appends like appendLines and makes the lines durable (fsync) on a thread of its own, so that
// the caller can go on meanwhile (the reader talks to the PBX while the disk catches up).
// waitDurable is where the caller needs them on the disk: before the PBX may drop the record
// they hold. Calls from one thread at a time.
class DurableAppender {
 public:
  DurableAppender();
  ~DurableAppender();  // waits for the syncs in progress
  DurableAppender(const DurableAppender&) = delete;
  DurableAppender& operator=(const DurableAppender&) = delete;

  // As appendLines; when it returns kAppendOk the lines are written and flushed, and their
  // sync has started.
  int append(const std::string& fileName, const std::vector<std::string>& lines);
  // Waits for every sync started so far: true when all of them reached the disk. False when one
  // failed; the lines of that append (and any appended after it) have then been cut from the
  // file again, as a failed write is. The failure is reported once.
  bool waitDurable();

 private:
  struct Job {
    std::FILE* file = nullptr;
    std::string path;
    long sizeBefore = -1;
  };
  void run();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Job> jobs_;
  bool busy_ = false;
  bool failed_ = false;
  bool stopping_ = false;
  std::thread worker_;
};

// The last complete call-record line of the data file: title lines (they begin with a space),
// empty lines and a last line without its line end are skipped; empty when there is none
// within the last kCallLineScanBytes of the file, or the file cannot be read.
inline constexpr long kCallLineScanBytes = 1L << 20;
std::string lastCallLine(const std::string& fileName);

// A Windows-1251 path as the file system takes it (UTF-8 on POSIX), and back. A path holding a
// NUL byte becomes the empty path, which no open accepts.
std::string nativePath(const std::string& cp1251Path);
std::string fromNativePath(const std::string& nativeName);

}  // namespace kordel
