#include "analysis/call_store.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <system_error>
#include <thread>

#include "files/call_record_layout.h"
#include "files/data_file.h"
#include "files/text_codec.h"

namespace kordel::analysis {

// ---- Text pool -------------------------------------------------------------------------------

TextPool::TextPool() : begin_{0, 0}, slots_(16) {}

std::uint64_t TextPool::keyOf(std::string_view text) {
  if (text.size() <= 7) {
    std::uint64_t key = 0;
    if (!text.empty()) std::memcpy(&key, text.data(), text.size());
    return key | (static_cast<std::uint64_t>(text.size()) << 56);
  }
  const std::uint64_t length = std::min<std::uint64_t>(text.size(), 247) + 8;
  return (lineHash(text) & 0x00FFFFFFFFFFFFFFull) | (length << 56);
}

bool TextPool::sameText(const Slot& slot, std::string_view text) const {
  if (text.size() <= 7) return true;  // the key is the text
  if (text.size() >= 247) return this->text(slot.id) == text;
  return std::memcmp(chars_.data() + slot.offset, text.data(), text.size()) == 0;
}

std::int64_t TextPool::find(std::string_view text) const {
  if (text.empty()) return 0;
  const std::uint64_t key = keyOf(text);
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = home(key);; i = (i + 1) & mask) {
    const Slot& slot = slots_[i];
    if (slot.id == 0) return -1;
    if (slot.key == key && sameText(slot, text)) return slot.id;
  }
}

std::uint32_t TextPool::intern(std::string_view text, std::uint64_t key) {
  if (text.empty()) return 0;
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = home(key);
  for (;; i = (i + 1) & mask) {
    const Slot& slot = slots_[i];
    if (slot.id == 0) break;
    if (slot.key == key && sameText(slot, text)) return slot.id;
  }
  const std::uint32_t id = size();
  slots_[i] = Slot{key, id, static_cast<std::uint32_t>(chars_.size())};
  chars_.append(text);
  begin_.push_back(static_cast<std::uint32_t>(chars_.size()));
  if (static_cast<std::size_t>(size()) * 2 > slots_.size()) grow();
  return id;
}

void TextPool::grow() {
  std::vector<Slot, LargeAllocator<Slot>> old = std::move(slots_);
  slots_.assign(old.size() * 2, Slot{});
  --shift_;
  const std::size_t mask = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (slot.id == 0) continue;
    std::size_t i = home(slot.key);
    while (slots_[i].id != 0) i = (i + 1) & mask;
    slots_[i] = slot;
  }
}

// ---- Line hash -------------------------------------------------------------------------------

std::uint64_t lineHash(std::string_view text) {
  // Two 64-bit lanes over 8-byte words, then the murmur3 finalizer over both.
  std::uint64_t a = 0x9E3779B97F4A7C15ull ^ text.size();
  std::uint64_t b = 0xC2B2AE3D27D4EB4Full;
  const char* p = text.data();
  std::size_t n = text.size();
  while (n >= 16) {
    std::uint64_t x, y;
    std::memcpy(&x, p, 8);
    std::memcpy(&y, p + 8, 8);
    a = (a ^ x) * 0x87C37B91114253D5ull;
    a = (a << 31) | (a >> 33);
    b = (b ^ y) * 0x4CF5AD432745937Full;
    b = (b << 29) | (b >> 35);
    p += 16;
    n -= 16;
  }
  std::uint64_t x = 0, y = 0;
  if (n > 0) std::memcpy(&x, p, n < 8 ? n : 8);
  if (n > 8) std::memcpy(&y, p + 8, n - 8);
  a = (a ^ x) * 0x87C37B91114253D5ull;
  b = (b ^ y) * 0x4CF5AD432745937Full;
  auto fmix = [](std::uint64_t k) {
    k ^= k >> 33;
    k *= 0xFF51AFD7ED558CCDull;
    k ^= k >> 33;
    k *= 0xC4CEB9FE1A85EC53ull;
    k ^= k >> 33;
    return k;
  };
  a = fmix(a + b);
  b = fmix(b + a);
  return a ^ (b << 1);
}

// ---- Listing the files -----------------------------------------------------------------------

bool isDatabaseFileName(std::string_view name) {
  for (std::string_view end : {".sqlite", ".sqlite-wal", ".sqlite-shm", ".sqlite-journal"}) {
    if (name.size() > end.size() && name.substr(name.size() - end.size()) == end) return true;
  }
  return false;
}

Status listDataFiles(const std::vector<std::string>& paths, std::vector<InputFile>& files) {
  namespace fs = std::filesystem;
  std::vector<InputFile> found;
  for (const std::string& path : paths) {
    const fs::path native(nativePath(path));
    std::error_code error;
    const fs::file_status status = fs::status(native, error);
    if (error || !fs::exists(status)) {
      return Status::error(ru("Нет такого файла или папки: \"") + path + "\"");
    }
    if (fs::is_regular_file(status)) {
      found.push_back(InputFile{path, fs::file_size(native, error)});
      if (error) return Status::error(ru("Не удалось узнать размер файла \"") + path + "\"");
      continue;
    }
    if (!fs::is_directory(status)) {
      return Status::error(ru("Не файл и не папка: \"") + path + "\"");
    }
    std::vector<fs::path> inFolder;
    for (fs::directory_iterator it(native, error), end; !error && it != end; it.increment(error)) {
      const std::string name = it->path().filename().string();
      if (name.empty() || name[0] == '.' || isDatabaseFileName(name)) continue;
      std::error_code typeError;
      if (it->is_regular_file(typeError) && !typeError) inFolder.push_back(it->path());
    }
    if (error) return Status::error(ru("Не удалось прочитать папку \"") + path + "\"");
    std::sort(inFolder.begin(), inFolder.end());
    for (const fs::path& file : inFolder) {
      std::error_code sizeError;
      const std::uintmax_t bytes = fs::file_size(file, sizeError);
      if (sizeError) {
        return Status::error(ru("Не удалось узнать размер файла \"") +
                             fromNativePath(file.string()) + "\"");
      }
      found.push_back(InputFile{fromNativePath(file.string()), bytes});
    }
  }
  files = std::move(found);
  return Status();
}

// ---- Loading ---------------------------------------------------------------------------------

namespace {

// The lines that begin in [begin, end) of one file.
struct Segment {
  std::size_t file = 0;
  std::uint64_t begin = 0;
  std::uint64_t end = 0;
};

// A set of 64-bit hashes: open addressing in one large block, at most 3/4 full.
class HashSet {
 public:
  explicit HashSet(std::uint64_t expected) { slots_.assign(capacityFor(expected), 0); }
  void prefetch(std::uint64_t hash) const {
#if defined(__GNUC__)
    __builtin_prefetch(slots_.data() + home(hash));
#else
    (void)hash;
#endif
  }
  // False when the hash was there already.
  bool insert(std::uint64_t hash) {
    if (hash == 0) hash = 1;  // 0 marks a free slot
    std::size_t i = home(hash);
    for (; slots_[i] != 0; i = i + 1 == slots_.size() ? 0 : i + 1) {
      if (slots_[i] == hash) return false;
    }
    slots_[i] = hash;
    if (++used_ * 4 > slots_.size() * 3) grow();
    return true;
  }

 private:
  static std::size_t capacityFor(std::uint64_t entries) {
    return static_cast<std::size_t>(std::max<std::uint64_t>(1024, entries * 4 / 3 + 1));
  }
  // The slot from the hash's high 32 bits, for any table size below 2^32.
  std::size_t home(std::uint64_t hash) const {
    return static_cast<std::size_t>(((hash >> 32) * slots_.size()) >> 32);
  }
  void grow() {
    std::vector<std::uint64_t, LargeAllocator<std::uint64_t>> old = std::move(slots_);
    slots_.assign(capacityFor(used_ * 2), 0);
    for (std::uint64_t h : old) {
      if (h == 0) continue;
      std::size_t i = home(h);
      while (slots_[i] != 0) i = i + 1 == slots_.size() ? 0 : i + 1;
      slots_[i] = h;
    }
  }
  std::vector<std::uint64_t, LargeAllocator<std::uint64_t>> slots_;
  std::size_t used_ = 0;
};

// A hash of what a call shows: two lines of the same call (a file read twice, a line copied)
// give the same value.
std::uint64_t callHash(const Call& c) {
  auto mix = [](std::uint64_t h, std::uint64_t v) {
    h ^= v * 0x9E3779B97F4A7C15ull;
    h = (h << 27) | (h >> 37);
    return h * 0xC2B2AE3D27D4EB4Full;
  };
  std::uint64_t h = mix(0x27D4EB2F165667C5ull, static_cast<std::uint64_t>(c.start));
  h = mix(h, (std::uint64_t{c.duration} << 32) | c.hardware);
  h = mix(h, (std::uint64_t{c.programmed} << 32) | c.trunk);
  h = mix(h, (std::uint64_t{c.number} << 8) | c.marks);
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDull;
  h ^= h >> 33;
  return h;
}

struct PendingBadLine {
  std::size_t file = 0;
  std::size_t segment = 0;          // index in the worker's segments
  std::uint64_t lineInSegment = 0;  // 1-based
  std::string text;
  std::string reason;
};

// One loading thread: its segments, its calls and text pools, its counts.
struct Worker {
  std::vector<Segment> segments;
  std::vector<std::uint64_t> linesInSegment;
  CallVector calls;
  TextPool hardware, programmed, trunks, numbers;
  std::uint64_t lines = 0, callLines = 0, badLines = 0;
  std::vector<PendingBadLine> bad;
  Status status;
  bool cancelled = false;
  bool sourceFailed = false;
};

struct Shared {
  const std::vector<InputFile>* files = nullptr;
  const std::atomic<bool>* cancel = nullptr;
  std::atomic<std::uint64_t> bytesDone{0};
  std::atomic<std::uint64_t> sourceBytes{0};  // of the line source, as they arrive
};

// The characters of `field` other than spaces; usually one piece, taken as it stands.
std::string_view withoutSpaces(std::string_view field, std::string& scratch) {
  std::size_t begin = 0;
  std::size_t end = field.size();
  while (begin < end && field[begin] == ' ') ++begin;
  while (end > begin && field[end - 1] == ' ') --end;
  const std::string_view piece = field.substr(begin, end - begin);
  if (piece.find(' ') == std::string_view::npos) return piece;
  scratch.clear();
  call_line::forEachNonSpace(piece, [&](char c) { scratch += c; });
  return scratch;
}

class LineReader {
 public:
  LineReader(Worker& worker, Shared& shared) : w_(worker), shared_(shared) {}

  void processLine(std::string_view line, std::size_t segment, std::uint64_t lineInSegment) {
    ++w_.lines;
    if (!call_line::carriesCall(line)) return;
    ++w_.callLines;
    call_line::CallLineFields f;
    const call_line::LineError error = call_line::splitCallLine(line, f);
    if (error != call_line::LineError::None) {
      ++w_.badLines;
      if (w_.bad.size() < CallStore::kListedBadLines) {
        w_.bad.push_back(PendingBadLine{w_.segments[segment].file, segment, lineInSegment,
                                        std::string(line.substr(0, 200)),
                                        call_line::lineErrorText(error)});
      }
      return;
    }
    Pending& p = pending_[(pendingFirst_ + pendingCount_) % kPending];
    p.call = Call{};
    p.call.start = wallTime(f.year, f.month, f.day, f.hour, f.minute, f.second);
    p.call.duration = static_cast<std::uint32_t>(f.durationHours * 3600 + f.durationMinutes * 60 +
                                                 f.durationSeconds);
    p.call.hardware = w_.hardware.intern(prefixed(f.hardware));
    p.call.programmed = w_.programmed.intern(prefixed(withoutSpaces(f.programmed, scratch_)));
    p.call.trunk = w_.trunks.intern(prefixed(f.trunk));
    const std::string_view number = withoutSpaces(f.dialed, scratch_);
    p.call.marks = static_cast<std::uint8_t>(
        (number.find('*') != std::string_view::npos ? kMarkedNumber : 0) |
        (f.markedDate ? kMarkedDate : 0) | (f.markedTime ? kMarkedTime : 0) |
        (f.markedDuration ? kMarkedDuration : 0));
    p.number.assign(number);
    p.numberKey = TextPool::keyOf(number);
    w_.numbers.prefetch(p.numberKey);
    // The text of the number that will be finished next but three, now that its slot is near.
    if (pendingCount_ >= 4) {
      const Pending& soon = pending_[(pendingFirst_ + pendingCount_ - 4) % kPending];
      w_.numbers.prefetchText(soon.numberKey);
    }
    if (++pendingCount_ == kPending) finishOne();
  }

  // The last step of the oldest pending call: its number's id, from a table slot and a text
  // that were asked for while the lines after it were read.
  void finishOne() {
    Pending& p = pending_[pendingFirst_];
    pendingFirst_ = (pendingFirst_ + 1) % kPending;
    --pendingCount_;
    p.call.number = w_.numbers.intern(p.number, p.numberKey);
    w_.calls.push_back(p.call);
  }
  void finishAll() {
    while (pendingCount_ > 0) finishOne();
  }

  // Reads the lines that begin in the segment. False on a read failure or a cancel.
  bool readSegment(std::size_t index) {
    const Segment& seg = w_.segments[index];
    const InputFile& input = (*shared_.files)[seg.file];
    in_ = std::ifstream(nativePath(input.path), std::ios::binary);
    path_ = &input.path;
    if (!in_) {
      w_.status = Status::error(ru("Не удалось открыть файл \"") + input.path + "\"");
      return false;
    }
    // Start one byte early: the byte before the segment tells whether a line begins there.
    const std::uint64_t readFrom = seg.begin > 0 ? seg.begin - 1 : 0;
    in_.seekg(static_cast<std::streamoff>(readFrom));
    if (!in_) return readFailed();
    if (buffer_.size() < kChunk) buffer_.resize(kChunk);
    have_ = pos_ = 0;
    bufferAt_ = readFrom;
    eof_ = false;
    if (seg.begin > 0) {
      if (!fillMore()) return false;
      if (have_ == 0) return true;
      const char before = buffer_[0];
      pos_ = 1;
      if (before == '\r') {
        if (have_ < 2 && !eof_ && !fillMore()) return false;
        if (have_ >= 2 && buffer_[1] == '\n') pos_ = 2;  // the end of the line before
      } else if (before != '\n') {
        std::string_view rest;  // the end of a line of the segment before
        bool failed = false;
        if (!nextLine(rest, failed)) return !failed;
      }
    }
    std::uint64_t lineNo = 0;
    for (;;) {
      if (bufferAt_ + pos_ >= seg.end) break;  // the next line belongs to the next segment
      std::string_view line;
      bool failed = false;
      if (!nextLine(line, failed)) {
        if (failed) return false;
        break;
      }
      processLine(line, index, ++lineNo);
    }
    w_.linesInSegment[index] = lineNo;
    return true;
  }

  void run() {
    w_.linesInSegment.assign(w_.segments.size(), 0);
    for (std::size_t i = 0; i < w_.segments.size(); ++i) {
      if (!readSegment(i)) return;
    }
    finishAll();
  }

  // The lines of a source, as the one segment of the worker.
  void runSource(LineSource& source) {
    w_.linesInSegment.assign(1, 0);
    std::uint64_t lineNo = 0;
    const Status walked = source.forEachLine([&](std::string_view prefix, std::string_view line) {
      if (shared_.cancel != nullptr && shared_.cancel->load(std::memory_order_relaxed)) {
        w_.cancelled = true;
        return false;
      }
      prefix_ = prefix;
      processLine(line, 0, ++lineNo);
      shared_.bytesDone.fetch_add(line.size() + 2, std::memory_order_relaxed);
      shared_.sourceBytes.fetch_add(line.size() + 2, std::memory_order_relaxed);
      return true;
    });
    prefix_ = std::string_view();
    finishAll();
    w_.linesInSegment[0] = lineNo;
    if (!walked.ok() && !w_.cancelled) {
      w_.status = walked;
      w_.sourceFailed = true;
    }
  }

 private:
  // A text of the call with the source's prefix before it (none for an empty text).
  std::string_view prefixed(std::string_view text) {
    if (prefix_.empty() || text.empty()) return text;
    prefixedText_.assign(prefix_);
    prefixedText_.append(text);
    return prefixedText_;
  }

  static constexpr std::size_t kChunk = std::size_t{4} << 20;

  bool readFailed() {
    w_.status = Status::error(ru("Не удалось прочитать файл \"") + *path_ + "\"");
    return false;
  }

  // Moves the unread bytes to the front and reads a chunk behind them; `keep` is an index into
  // the buffer that the caller holds, moved along. False on a failure or a cancel.
  bool fill(std::size_t& keep) {
    if (pos_ > 0) {
      std::memmove(buffer_.data(), buffer_.data() + pos_, have_ - pos_);
      have_ -= pos_;
      bufferAt_ += pos_;
      keep -= pos_;
      pos_ = 0;
    }
    if (buffer_.size() < have_ + kChunk) buffer_.resize(have_ + kChunk);
    in_.read(buffer_.data() + have_, static_cast<std::streamsize>(kChunk));
    const auto got = static_cast<std::size_t>(in_.gcount());
    if (in_.bad()) return readFailed();
    if (got < kChunk) eof_ = true;
    have_ += got;
    shared_.bytesDone.fetch_add(got, std::memory_order_relaxed);
    if (shared_.cancel != nullptr && shared_.cancel->load(std::memory_order_relaxed)) {
      w_.cancelled = true;
      return false;
    }
    return true;
  }
  bool fillMore() {
    std::size_t unused = pos_;
    return fill(unused);
  }

  // The line that begins at pos_, up to its end (CR, LF or CR LF, or the end of the file),
  // which is consumed. False at the end of the file, or with `failed` set on a failure.
  bool nextLine(std::string_view& line, bool& failed) {
    std::size_t scanned = pos_;
    for (;;) {
      const char* data = buffer_.data();
      std::size_t stop = have_;
      if (const void* lf = std::memchr(data + scanned, '\n', have_ - scanned)) {
        stop = static_cast<std::size_t>(static_cast<const char*>(lf) - data);
      }
      if (const void* cr = std::memchr(data + scanned, '\r', stop - scanned)) {
        stop = static_cast<std::size_t>(static_cast<const char*>(cr) - data);
      }
      // A CR as the last byte read may be the first half of a CR LF: read on first.
      const bool needMore = stop == have_ || (data[stop] == '\r' && stop + 1 == have_);
      if (!needMore || eof_) {
        if (stop == have_ && pos_ == have_) return false;  // nothing left
        line = std::string_view(data + pos_, stop - pos_);
        std::size_t next = stop;
        if (next < have_) {
          next += (data[next] == '\r' && next + 1 < have_ && data[next + 1] == '\n') ? 2 : 1;
        }
        pos_ = next;
        return true;
      }
      scanned = stop;
      if (!fill(scanned)) {
        failed = true;
        return false;
      }
    }
  }

  Worker& w_;
  Shared& shared_;
  std::ifstream in_;
  const std::string* path_ = nullptr;
  std::vector<char> buffer_;
  std::size_t have_ = 0;        // bytes in buffer_
  std::size_t pos_ = 0;         // the first byte not consumed
  std::uint64_t bufferAt_ = 0;  // the file offset of buffer_[0]
  bool eof_ = false;
  std::string scratch_;
  std::string_view prefix_;
  std::string prefixedText_;
  // Calls read but not yet finished: the memory that their last step needs is fetched while
  // the next lines are read.
  struct Pending {
    Call call;
    std::uint64_t numberKey = 0;
    std::string number;
  };
  static constexpr std::size_t kPending = 8;
  Pending pending_[kPending];
  std::size_t pendingFirst_ = 0;
  std::size_t pendingCount_ = 0;
};

// Splits the bytes of the files into `count` shares of about equal size.
std::vector<std::vector<Segment>> planShares(const std::vector<InputFile>& files, unsigned count) {
  std::uint64_t total = 0;
  for (const InputFile& f : files) total += f.bytes;
  std::vector<std::vector<Segment>> shares(count);
  std::uint64_t offset = 0;  // in the files taken one after another
  for (std::size_t i = 0; i < files.size(); ++i) {
    std::uint64_t at = 0;
    while (at < files[i].bytes) {
      const auto share = static_cast<unsigned>(std::min<std::uint64_t>(
          count - 1, (offset + at) * count / std::max<std::uint64_t>(total, 1)));
      const std::uint64_t shareEnd = (static_cast<std::uint64_t>(share) + 1) * total / count;
      const std::uint64_t end = std::min(files[i].bytes, shareEnd - offset);
      shares[share].push_back(Segment{i, at, end > at ? end : files[i].bytes});
      at = shares[share].back().end;
    }
    offset += files[i].bytes;
  }
  return shares;
}

}  // namespace

LoadResult CallStore::load(const std::vector<std::string>& paths, const LoadOptions& options,
                           LineSource* source) {
  std::vector<InputFile> files;
  Status listed = listDataFiles(paths, files);
  if (!listed.ok()) {
    LoadResult result;
    result.status = listed;
    return result;
  }
  return loadFiles(files, options, source);
}

LoadResult CallStore::loadFiles(const std::vector<InputFile>& files, const LoadOptions& options,
                                LineSource* source) {
  LoadResult result;
  result.files = files;
  std::uint64_t total = 0;
  for (const InputFile& f : files) total += f.bytes;
  unsigned threads = options.threads;
  if (threads == 0) {
    threads = std::thread::hardware_concurrency();
    // Not worth a thread for a few files; a database brings its calls in numbers unknown
    // before, so its load keeps both threads for the rest.
    if (total < (std::uint64_t{8} << 20) && source == nullptr) threads = 1;
  }
  threads = std::clamp(threads, 1u, 2u);

  Shared shared;
  shared.files = &files;
  shared.cancel = options.cancel;
  // The lines the program writes are 78 bytes with their CR LF; the tables grow if they must.
  // A line source has a worker of its own, after those of the files.
  std::vector<Worker> workers(threads + (source != nullptr ? 1 : 0));
  if (source != nullptr) workers.back().segments.push_back(Segment{files.size(), 0, 0});
  const std::vector<std::vector<Segment>> shares = planShares(files, threads);
  for (unsigned t = 0; t < threads; ++t) {
    workers[t].segments = shares[t];
    std::uint64_t bytes = 0;
    for (const Segment& s : shares[t]) bytes += s.end - s.begin;
    // Room for the most calls the bytes can hold; pages are only used as calls arrive.
    workers[t].calls.reserve(bytes / call_line::kMinCallLineLength + 1);
  }

  const std::size_t workerCount = workers.size();
  std::mutex mutex;
  std::condition_variable done;
  std::size_t running = workerCount;
  std::vector<std::thread> pool;
  std::vector<std::exception_ptr> failures(workerCount);
  for (std::size_t t = 0; t < workerCount; ++t) {
    pool.emplace_back([&, t] {
      try {
        if (t < threads) {
          LineReader(workers[t], shared).run();
        } else {
          LineReader(workers[t], shared).runSource(*source);
        }
      } catch (...) {
        failures[t] = std::current_exception();
      }
      std::lock_guard<std::mutex> lock(mutex);
      --running;
      done.notify_all();
    });
  }
  {
    std::unique_lock<std::mutex> lock(mutex);
    while (running > 0) {
      done.wait_for(lock, std::chrono::milliseconds(50));
      if (options.progress && running > 0) {
        lock.unlock();
        options.progress(LoadProgress{shared.bytesDone.load(), total + shared.sourceBytes.load()});
        lock.lock();
      }
    }
  }
  for (std::thread& t : pool) t.join();
  for (const std::exception_ptr& failure : failures) {
    if (failure) std::rethrow_exception(failure);
  }
  if (options.progress) {
    options.progress(LoadProgress{shared.bytesDone.load(), total + shared.sourceBytes.load()});
  }

  for (const Worker& w : workers) {
    if (w.cancelled || (options.cancel != nullptr && options.cancel->load())) {
      result.cancelled = true;
      result.status = Status::error(ru("Загрузка прервана."));
      return result;
    }
  }
  for (const Worker& w : workers) {
    if (!w.status.ok()) {
      result.status = w.status;
      result.sourceFailed = w.sourceFailed;
      return result;
    }
  }

  // Counts, and the bad lines with their numbers in their files: a segment that starts inside a
  // file follows the lines of the segments before it in that file.
  std::vector<std::uint64_t> linesBefore(files.size() + 1, 0);
  auto pathOf = [&](std::size_t file) {
    return file < files.size() ? files[file].path : source->name();
  };
  std::vector<BadLine> bad;
  for (Worker& w : workers) {
    result.lines += w.lines;
    result.callLines += w.callLines;
    result.badLines += w.badLines;
    std::vector<std::uint64_t> segmentStart(w.segments.size());
    for (std::size_t s = 0; s < w.segments.size(); ++s) {
      segmentStart[s] = linesBefore[w.segments[s].file];
      linesBefore[w.segments[s].file] += w.linesInSegment[s];
    }
    for (PendingBadLine& p : w.bad) {
      bad.push_back(BadLine{pathOf(p.file), segmentStart[p.segment] + p.lineInSegment,
                            std::move(p.text), std::move(p.reason)});
    }
  }
  if (bad.size() > kListedBadLines) bad.resize(kListedBadLines);
  result.firstBadLines = std::move(bad);

  // One set of text ids: the first thread's pools, the others' texts mapped onto them.
  TextPool hardware = std::move(workers[0].hardware);
  TextPool programmed = std::move(workers[0].programmed);
  TextPool trunks = std::move(workers[0].trunks);
  TextPool numbers = std::move(workers[0].numbers);
  auto remapTable = [](const TextPool& from, TextPool& to) {
    std::vector<std::uint32_t> map(from.size());
    for (std::uint32_t id = 0; id < from.size(); ++id) map[id] = to.intern(from.text(id));
    return map;
  };
  for (std::size_t t = 1; t < workerCount; ++t) {
    Worker& w = workers[t];
    const auto hw = remapTable(w.hardware, hardware);
    const auto prg = remapTable(w.programmed, programmed);
    const auto tr = remapTable(w.trunks, trunks);
    const auto num = remapTable(w.numbers, numbers);
    for (Call& c : w.calls) {
      c.hardware = hw[c.hardware];
      c.programmed = prg[c.programmed];
      c.trunk = tr[c.trunk];
      c.number = num[c.number];
    }
  }

  // The same call seen again is taken once. Each thread keeps the hashes of one share of the
  // values (the hash modulo the threads) and walks every call in file order, so the first of
  // equal calls stays; it notes the calls to drop in a bitmap of its own, and they are taken
  // out when all threads are done.
  {
    std::size_t calls = 0;
    for (const Worker& w : workers) calls += w.calls.size();
    std::vector<std::vector<std::uint64_t>> drop(threads);
    std::vector<std::uint64_t> dropped(threads, 0);
    auto dedupe = [&](unsigned t) {
      drop[t].assign(calls / 64 + 1, 0);
      HashSet seen(calls / threads + 1);
      std::size_t index = 0;  // over all calls, part after part
      for (const Worker& w : workers) {
        const Call* c = w.calls.data();
        const std::size_t n = w.calls.size();
        constexpr std::size_t kAhead = 16;
        std::uint64_t ahead[kAhead];
        for (std::size_t i = 0; i < n && i < kAhead; ++i) ahead[i] = callHash(c[i]);
        for (std::size_t i = 0; i < n; ++i, ++index) {
          const std::uint64_t h = ahead[i % kAhead];
          if (i + kAhead < n) {
            const std::uint64_t next = callHash(c[i + kAhead]);
            ahead[i % kAhead] = next;
            if (next % threads == t) seen.prefetch(next);
          }
          if (h % threads != t || seen.insert(h)) continue;
          drop[t][index / 64] |= std::uint64_t{1} << (index % 64);
          ++dropped[t];
        }
      }
    };
    std::vector<std::thread> helpers;
    for (unsigned t = 1; t < threads; ++t) helpers.emplace_back(dedupe, t);
    dedupe(0);
    for (std::thread& h : helpers) h.join();
    helpers.clear();
    for (std::uint64_t d : dropped) result.duplicates += d;
    if (result.duplicates > 0) {
      std::vector<std::size_t> first(workerCount, 0);
      for (std::size_t t = 1; t < workerCount; ++t) {
        first[t] = first[t - 1] + workers[t - 1].calls.size();
      }
      auto compact = [&](std::size_t t) {
        CallVector& v = workers[t].calls;
        std::size_t kept = 0;
        for (std::size_t i = 0; i < v.size(); ++i) {
          const std::size_t index = first[t] + i;
          bool gone = false;
          for (const std::vector<std::uint64_t>& bits : drop) {
            gone = gone || ((bits[index / 64] >> (index % 64)) & 1) != 0;
          }
          if (!gone) v[kept++] = v[i];
        }
        v.resize(kept);
      };
      for (std::size_t t = 1; t < workerCount; ++t) helpers.emplace_back(compact, t);
      compact(0);
      for (std::thread& h : helpers) h.join();
    }
  }

  parts_.clear();
  partBegin_.clear();
  size_ = 0;
  for (Worker& w : workers) {
    partBegin_.push_back(size_);
    size_ += w.calls.size();
    parts_.push_back(std::move(w.calls));
  }
  hardware_ = std::move(hardware);
  programmed_ = std::move(programmed);
  trunks_ = std::move(trunks);
  numbers_ = std::move(numbers);
  result.calls = size_;
  return result;
}

const Call& CallStore::operator[](std::size_t index) const {
  std::size_t p = parts_.size() - 1;
  while (partBegin_[p] > index) --p;
  return parts_[p][index - partBegin_[p]];
}

}  // namespace kordel::analysis
