#include "files/data_file.h"

#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "files/file_access.h"
#include "files/text_codec.h"

namespace kordel {

std::string nativePath(const std::string& cp1251Path) {
  // A name with a NUL byte (a damaged configuration file) names no file: the file system
  // would cut it short at the NUL and write somewhere else. The empty path opens nothing.
  if (cp1251Path.find('\0') != std::string::npos) return std::string();
#ifdef _WIN32
  return cp1251Path;  // the ANSI file functions of a Russian Windows take Windows-1251
#else
  return cp1251ToUtf8(cp1251Path);
#endif
}

std::string fromNativePath(const std::string& nativeName) {
#ifdef _WIN32
  return nativeName;
#else
  return utf8ToCp1251(nativeName);
#endif
}

namespace {

// A write that failed part-way (a full disk) leaves a piece of a line without its line end, and
// the next line appended would be glued to it. The file is cut back to the size it had when
// this append began: only what this append wrote is removed.
void dropPartialWrite(const std::string& path, long sizeBefore) {
  std::error_code ec;
  const std::filesystem::path file(path);
  if (sizeBefore < 0 || !std::filesystem::is_regular_file(file, ec)) return;
  const auto size = std::filesystem::file_size(file, ec);
  if (ec || size <= static_cast<std::uintmax_t>(sizeBefore)) return;
  std::filesystem::resize_file(file, static_cast<std::uintmax_t>(sizeBefore), ec);
}

// Opens the file for appending, ends a torn last line, writes the lines and flushes. On
// kAppendOk `file` is left open for the caller to close (and sync); `sizeBefore` is the size the
// file had before anything was written, -1 when unknown.
int writeLines(const std::string& fileName, const std::vector<std::string>& lines, std::FILE*& file,
               std::string& path, long& sizeBefore) {
  file = nullptr;
  sizeBefore = -1;
  if (fileName.empty()) return kAppendFailed;
  path = nativePath(fileName);
  // Only a regular file takes lines: a FIFO would hold the reader until something reads it,
  // and a device (/dev/null) would lose the records while the PBX gives them away. Read and
  // append: the last bytes are looked at, every write goes to the end.
  OpenedFile opened = openRegularFile(path, FileMode::AppendRead);
  if (opened.notRegular) return kAppendFailed;
  file = opened.file;
  if (file == nullptr) {
    // A file that exists and reads may have been busy for a moment: one more try.
    const OpenedFile probe = openRegularFile(path, FileMode::Read);
    if (probe.file == nullptr) return kAppendFailed;
    std::fclose(probe.file);
    file = openRegularFile(path, FileMode::AppendRead).file;
    if (file == nullptr) return kAppendFailed;
  }
  if (std::fseek(file, 0, SEEK_END) == 0) sizeBefore = std::ftell(file);
  std::string ending;
  if (sizeBefore > 0 && std::fseek(file, -1, SEEK_END) == 0) {
    const int last = std::fgetc(file);
    if (last == '\r') ending = "\n";
    if (last != EOF && last != '\n' && last != '\r') ending = "\r\n";
    std::fseek(file, 0, SEEK_END);  // a read must be followed by a seek before a write
  }
  bool written =
      ending.empty() || std::fwrite(ending.data(), 1, ending.size(), file) == ending.size();
  for (const std::string& line : lines) {
    if (!written) break;
    written = std::fwrite(line.data(), 1, line.size(), file) == line.size() &&
              std::fwrite("\r\n", 1, 2, file) == 2;
  }
  if (std::fflush(file) != 0) written = false;
  if (!written) {
    std::fclose(file);
    file = nullptr;
    dropPartialWrite(path, sizeBefore);
    return kAppendFailed;
  }
  return kAppendOk;
}

bool syncFile(std::FILE* file) {
#ifdef _WIN32
  return _commit(_fileno(file)) == 0;
#else
  return ::fsync(fileno(file)) == 0;
#endif
}

}  // namespace

int appendLines(const std::string& fileName, const std::vector<std::string>& lines) {
  try {
    std::FILE* file = nullptr;
    std::string path;
    long sizeBefore = -1;
    const int result = writeLines(fileName, lines, file, path, sizeBefore);
    if (result != kAppendOk) return result;
    if (std::fclose(file) != 0) {
      dropPartialWrite(path, sizeBefore);
      return kAppendFailed;
    }
    return kAppendOk;
  } catch (const std::exception&) {
    return kAppendError;
  }
}

DurableAppender::DurableAppender() : worker_([this] { run(); }) {}

DurableAppender::~DurableAppender() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  worker_.join();
}

int DurableAppender::append(const std::string& fileName, const std::vector<std::string>& lines) {
  try {
    Job job;
    const int result = writeLines(fileName, lines, job.file, job.path, job.sizeBefore);
    if (result != kAppendOk) return result;
    {
      std::lock_guard lock(mutex_);
      jobs_.push_back(std::move(job));
    }
    changed_.notify_all();
    return kAppendOk;
  } catch (const std::exception&) {
    return kAppendError;
  }
}

bool DurableAppender::waitDurable() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return jobs_.empty() && !busy_; });
  const bool ok = !failed_;
  failed_ = false;
  return ok;
}

void DurableAppender::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
    if (jobs_.empty()) return;  // stopping, and nothing left to sync
    Job job = std::move(jobs_.front());
    jobs_.pop_front();
    busy_ = true;
    const bool cutAfter = failed_;  // an earlier sync failed: what followed it goes too
    lock.unlock();
    bool ok = syncFile(job.file);
    if (std::fclose(job.file) != 0) ok = false;
    if (!ok || cutAfter) dropPartialWrite(job.path, job.sizeBefore);
    lock.lock();
    if (!ok) failed_ = true;
    busy_ = false;
    changed_.notify_all();
  }
}

std::string lastCallLine(const std::string& fileName) {
  std::FILE* file = openRegularFile(nativePath(fileName), FileMode::Read).file;
  if (file == nullptr) return std::string();
  std::string tail;
  long from = 0;
  if (std::fseek(file, 0, SEEK_END) == 0) {
    const long size = std::ftell(file);
    from = size > kCallLineScanBytes ? size - kCallLineScanBytes : 0;
    if (size > 0 && std::fseek(file, from, SEEK_SET) == 0) {
      tail.resize(static_cast<std::size_t>(size - from));
      tail.resize(std::fread(tail.data(), 1, tail.size(), file));
    }
  }
  std::fclose(file);
  // Complete lines only: what follows the last line end is a torn line, and when the scan began
  // inside the file, what precedes the first line end is not known whole.
  const std::size_t firstWhole = from > 0 ? tail.find('\n') : std::string::npos;
  const std::size_t begin =
      from > 0 ? (firstWhole == std::string::npos ? tail.size() : firstWhole + 1) : 0;
  std::size_t end = tail.rfind('\n');
  while (end != std::string::npos && end >= begin) {
    const std::size_t previous = end > begin ? tail.rfind('\n', end - 1) : std::string::npos;
    const std::size_t start =
        previous == std::string::npos || previous < begin ? begin : previous + 1;
    std::string line = tail.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] != ' ') return line;
    if (start == begin) break;
    end = start - 1;
  }
  return std::string();
}

}  // namespace kordel
