// Call analysis: the calls of many data files, kept compact.
//
// A CallStore reads one data file, several, or every file of a folder (a year of monthly
// files) and keeps each call as 32 bytes: the start in wall-clock seconds, the duration and the
// ids of its texts (hardware number, programmed number, trunk, dialed number) in text pools.
// Title lines and short lines are skipped as the report builder skips them (lines shorter than
// 47 bytes, empty, or beginning with a space). A line that does not convert is counted and
// listed, and the load goes on. A call that appears again, in another file or in the same one
// (a file copied twice, a read repeated), is taken once: calls are the same when their start,
// duration, numbers, trunk and "*" marks are (compared by a 64-bit hash of these).
//
// Loading runs on up to two threads over byte ranges of the files; it reports progress and can
// be cancelled (see LoadOptions). A load is all or nothing: when a file cannot be read or the
// load is cancelled, the store keeps what it had.
//
// REQUIRES: one thread at a time calls the methods; const methods may be called from several
// threads at once.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/calendar.h"
#include "analysis/large_memory.h"
#include "analysis/status.h"

namespace kordel::analysis {

// Marks of a call: the PBX flagged a value out of range ("*" in the line).
inline constexpr std::uint8_t kMarkedNumber = 1;    // "*" in the dialed digits
inline constexpr std::uint8_t kMarkedDate = 2;      // "*" separators in the date
inline constexpr std::uint8_t kMarkedTime = 4;      // ... in the time
inline constexpr std::uint8_t kMarkedDuration = 8;  // ... in the duration

struct Call {
  WallTime start = 0;          // seconds, see calendar.h
  std::uint32_t duration = 0;  // seconds
  std::uint32_t hardware = 0;  // text ids (0 is the empty text)
  std::uint32_t programmed = 0;
  std::uint32_t trunk = 0;
  std::uint32_t number = 0;  // the dialed number; 0 for a call without one (incoming)
  std::uint8_t marks = 0;
  bool incoming() const { return number == 0; }
};
static_assert(sizeof(Call) == 32);

using CallVector = std::vector<Call, LargeAllocator<Call>>;

// Interned texts: each distinct text has one id, 0 being the empty text.
class TextPool {
 public:
  TextPool();
  std::uint32_t intern(std::string_view text) { return intern(text, keyOf(text)); }
  // The same with the key made before (keyOf), after a prefetch(key).
  std::uint32_t intern(std::string_view text, std::uint64_t key);
  static std::uint64_t keyOf(std::string_view text);
  void prefetch(std::uint64_t key) const {
#if defined(__GNUC__)
    __builtin_prefetch(slots_.data() + home(key));
#else
    (void)key;
#endif
  }
  // After prefetch(key), some lines later: the text in the key's first slot, when it has it.
  void prefetchText(std::uint64_t key) const {
#if defined(__GNUC__)
    const Slot& slot = slots_[home(key)];
    if (slot.key == key && key >> 56 > 7) __builtin_prefetch(chars_.data() + slot.offset);
#else
    (void)key;
#endif
  }
  std::string_view text(std::uint32_t id) const {
    return std::string_view(chars_.data() + begin_[id], begin_[id + 1] - begin_[id]);
  }
  // The number of ids, the empty text included.
  std::uint32_t size() const { return static_cast<std::uint32_t>(begin_.size() - 1); }
  // The id of a text, or -1 when it was never interned.
  std::int64_t find(std::string_view text) const;

 private:
  // A text of up to 7 bytes is its own key (the bytes and, in the top byte, the length); a
  // longer one is keyed by its hash with 8 + its length (at most 255) in the top byte, and
  // compared when the keys agree.
  struct Slot {
    std::uint64_t key = 0;
    std::uint32_t id = 0;      // 0: free (the empty text never has a slot)
    std::uint32_t offset = 0;  // of the text in chars_
  };
  bool sameText(const Slot& slot, std::string_view text) const;
  std::size_t home(std::uint64_t key) const {
    return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> shift_);
  }
  void grow();
  std::string chars_;
  std::vector<std::uint32_t> begin_;               // text i is chars_[begin_[i], begin_[i + 1])
  std::vector<Slot, LargeAllocator<Slot>> slots_;  // a power of two, at most half full
  unsigned shift_ = 60;                            // 64 - log2(slots_.size())
};

struct InputFile {
  std::string path;  // Windows-1251
  std::uint64_t bytes = 0;
};

// Expands files and folders into the data files to read: a folder gives its regular files (not
// those of its subfolders, not hidden ones, not the files of an SQLite calls database beside
// the data files), sorted by name. Fails when a path does not exist or is neither a regular
// file nor a folder.
Status listDataFiles(const std::vector<std::string>& paths, std::vector<InputFile>& files);
// "kordel.sqlite", "x.sqlite-wal", ...: names a folder listing passes over.
bool isDatabaseFileName(std::string_view name);

// Lines that come from elsewhere than data files (the calls database), read by a CallStore
// load beside its files, on a loading thread of their own.
class LineSource {
 public:
  using Take = std::function<bool(std::string_view prefix, std::string_view line)>;
  virtual ~LineSource() = default;
  // The source in messages and in the list of lines that did not convert (Windows-1251).
  virtual std::string name() const = 0;
  // Calls `take` for every line, in any order; `take` returns false to end the walk (the load
  // was cancelled), which is then no failure. `prefix` is put before the hardware number, the
  // programmed number and the trunk of the line's call ("SITE/" when calls of several sites
  // are loaded, so that one number at two sites stays two), empty for none.
  virtual Status forEachLine(const Take& take) = 0;
};

struct LoadProgress {
  std::uint64_t bytesDone = 0;
  std::uint64_t bytesTotal = 0;
};

struct LoadOptions {
  // Called on the thread that called load, about every 50 ms and once at the end.
  std::function<void(const LoadProgress&)> progress;
  // Set (from any thread) to stop the load; the store then keeps what it had.
  const std::atomic<bool>* cancel = nullptr;
  // Threads that read, at most two; 0: two on a machine with two cores and more than a few
  // megabytes to read, else one.
  unsigned threads = 0;
};

// A line that did not convert.
struct BadLine {
  std::string path;
  std::uint64_t lineNumber = 0;  // 1-based
  std::string text;
  std::string reason;  // Windows-1251
};

struct LoadResult {
  Status status;  // failed: a file could not be read, or the load was cancelled
  bool cancelled = false;
  std::vector<InputFile> files;
  std::uint64_t lines = 0;             // lines read
  std::uint64_t callLines = 0;         // lines that carry a call (all but title and short lines)
  std::uint64_t calls = 0;             // calls kept
  std::uint64_t duplicates = 0;        // call lines seen before
  std::uint64_t badLines = 0;          // call lines that did not convert
  std::vector<BadLine> firstBadLines;  // the first few, in file order
  bool sourceFailed = false;           // the status is the line source's failure
  bool ok() const { return status.ok(); }
};

class CallStore {
 public:
  static constexpr std::size_t kListedBadLines = 20;

  // Replaces the calls by those of `paths` (files and folders, see listDataFiles) and of
  // `source`, when given (its lines count as one more input after the files).
  LoadResult load(const std::vector<std::string>& paths, const LoadOptions& options = {},
                  LineSource* source = nullptr);
  // The same for files already listed.
  LoadResult loadFiles(const std::vector<InputFile>& files, const LoadOptions& options = {},
                       LineSource* source = nullptr);

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  // The calls are kept in parts (one per loading thread); every call is in exactly one.
  std::size_t partCount() const { return parts_.size(); }
  std::span<const Call> part(std::size_t index) const { return parts_[index]; }
  const Call& operator[](std::size_t index) const;

  const TextPool& hardware() const { return hardware_; }
  const TextPool& programmed() const { return programmed_; }
  const TextPool& trunks() const { return trunks_; }
  const TextPool& numbers() const { return numbers_; }

 private:
  std::vector<CallVector> parts_;
  std::vector<std::size_t> partBegin_;  // index of the first call of each part
  std::size_t size_ = 0;
  TextPool hardware_, programmed_, trunks_, numbers_;
};

// A 64-bit hash of a text.
std::uint64_t lineHash(std::string_view text);

}  // namespace kordel::analysis
