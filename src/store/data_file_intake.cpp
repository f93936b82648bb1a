#include "store/data_file_intake.h"

#include <cerrno>
#include <cstdio>
#include <vector>

#include "files/data_file.h"
#include "files/file_access.h"
#include "files/text_codec.h"
#include "store/call_row.h"
#include "store/database_choice.h"

namespace kordel::store {

namespace {

class File {
 public:
  explicit File(std::FILE* f) : f_(f) {}
  ~File() {
    if (f_ != nullptr) std::fclose(f_);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  std::FILE* get() const { return f_; }

  // The bytes [from, from + length), fewer at the end of the file; false on a read error.
  bool read(std::uint64_t from, std::size_t length, std::string& out) const {
    out.resize(length);
    if (std::fseek(f_, static_cast<long>(from), SEEK_SET) != 0) return false;
    const std::size_t got = std::fread(out.data(), 1, length, f_);
    out.resize(got);
    return got == length || !std::ferror(f_);
  }

 private:
  std::FILE* f_;
};

std::uint64_t fingerprintAt(const std::string& head, const File& file, std::uint64_t offset,
                            bool& ok) {
  const std::uint64_t from = offset > kFingerprintSpan ? offset - kFingerprintSpan : 0;
  std::string tail;
  ok = file.read(from, static_cast<std::size_t>(offset - from), tail) &&
       tail.size() == offset - from;
  const std::size_t headLength =
      static_cast<std::size_t>(offset < kFingerprintSpan ? offset : kFingerprintSpan);
  return fingerprint(offset, std::string_view(head).substr(0, headLength), tail);
}

}  // namespace

DataFileIntake::DataFileIntake(CallDatabase& db, IntakeOptions options)
    : db_(db), options_(std::move(options)), key_(dataFileKey(options_.dataFile)) {}

IntakeResult DataFileIntake::run() {
  IntakeResult result;
  auto readFailed = [&] {
    result.status = Status::unavailable(ru("Не удалось прочитать файл данных ") +
                                        quoteForMessage(options_.dataFile) + ".");
    return result;
  };
  const OpenedFile opened = openRegularFile(nativePath(options_.dataFile), FileMode::Read);
  if (opened.file == nullptr) {
    if (!opened.notRegular && opened.error == ENOENT) {
      result.missing = true;
      return result;
    }
    if (opened.notRegular) {
      result.status = Status::failed(ru("Файл данных ") + quoteForMessage(options_.dataFile) +
                                     ru(" не является обычным файлом."));
      return result;
    }
    return readFailed();
  }
  const File file(opened.file);
  if (!markValid_) {
    if (Status s = db_.readMark(options_.site, key_, mark_); !s.ok()) {
      result.status = s;
      return result;
    }
    markValid_ = true;
  }
  if (std::fseek(file.get(), 0, SEEK_END) != 0) return readFailed();
  const long end = std::ftell(file.get());
  if (end < 0) return readFailed();
  result.size = static_cast<std::uint64_t>(end);
  std::string head;
  if (!file.read(0,
                 static_cast<std::size_t>(std::min<std::uint64_t>(result.size, kFingerprintSpan)),
                 head)) {
    return readFailed();
  }

  std::uint64_t start = mark_.known ? mark_.offset : 0;
  if (mark_.known) {
    bool ok = true;
    const bool same = mark_.offset <= result.size &&
                      fingerprintAt(head, file, mark_.offset, ok) == mark_.fingerprint;
    if (!ok) return readFailed();
    if (!same) {
      result.restarted = true;
      start = 0;
    }
  }
  result.offset = mark_.offset;

  std::string buffer;
  std::vector<CallRow> rows;
  while (start < result.size) {
    if (options_.stop != nullptr && options_.stop->load()) break;
    // A batch ends at a line end; a line longer than the batch is read whole.
    std::size_t want = options_.batchBytes;
    std::size_t consumed = 0;
    for (;;) {
      const std::size_t left = static_cast<std::size_t>(result.size - start);
      if (!file.read(start, std::min(want, left), buffer)) return readFailed();
      const std::size_t lastLf = buffer.rfind('\n');
      if (lastLf != std::string::npos) {
        consumed = lastLf + 1;
        break;
      }
      if (buffer.size() < want) break;  // the end of the file: no line end yet
      want *= 2;
    }
    if (consumed == 0) break;
    // The mark after the batch, before the rows take the origins of their calls: a read that
    // fails here leaves the origins where they were.
    FileMark next;
    next.known = true;
    next.offset = start + consumed;
    bool ok = true;
    next.fingerprint = fingerprintAt(head, file, next.offset, ok);
    if (!ok) return readFailed();

    rows.clear();
    std::size_t at = 0;
    while (at < consumed) {
      std::size_t stop = buffer.find_first_of("\r\n", at);
      const std::string_view line(buffer.data() + at, stop - at);
      at = stop +
           ((buffer[stop] == '\r' && stop + 1 < consumed && buffer[stop + 1] == '\n') ? 2 : 1);
      if (!storesLine(line)) continue;
      rows.push_back(makeCallRow(line));
      if (options_.origins != nullptr) options_.origins->fill(rows.back());
    }
    std::uint64_t inserted = 0;
    const Status stored = db_.takeIn(Intake{options_.site, key_, mark_, next, rows}, inserted);
    if (options_.origins != nullptr) options_.origins->settled(stored.ok());
    if (!stored.ok()) {
      markValid_ = false;
      result.status = stored;
      return result;
    }
    mark_ = next;
    result.offset = next.offset;
    result.inserted += inserted;
    result.offered += rows.size();
    start = next.offset;
  }
  return result;
}

}  // namespace kordel::store
