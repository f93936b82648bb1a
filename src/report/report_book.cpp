#include "report/report_book.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>
#include <new>
#include <numeric>
#include <thread>

#include "files/data_file.h"
#include "files/file_access.h"
#include "files/regional_format.h"
#include "files/text_codec.h"

namespace kordel::report {

namespace {

// Lines shorter than this are dropped from the line store and not counted.
constexpr std::size_t kMinStoredLineLength = 30;
// Data files larger than this are refused: a year of calls of a large PBX is a few hundred MB.
constexpr std::size_t kMaxDataFileBytes = std::size_t{1} << 30;
// callList and the two traffic lists start with room for this many entries.
constexpr std::size_t kCallCapacity = 100000;
constexpr std::size_t kTrafficCapacity = 500;

// The 1-based number of the line of `bytes` that begins at `offset`.
std::size_t lineNumberAt(const std::string& bytes, std::size_t offset) {
  std::size_t number = 1;
  for (std::size_t i = 0; i < offset; ++i) {
    if (bytes[i] == '\n') {
      ++number;
    } else if (bytes[i] == '\r' && (i + 1 >= bytes.size() || bytes[i + 1] != '\n')) {
      ++number;
    }
  }
  return number;
}

// Delphi-style Insert at a 1-based position: beyond the end appends.
void insertAt(std::string& line, std::size_t position, const std::string& text) {
  const std::size_t index = position - 1;
  if (index >= line.size()) {
    line += text;
  } else {
    line.insert(index, text);
  }
}

std::string leadingZeroIfShort(const std::string& time) {
  return time.size() < 8 ? "0" + time : time;
}

template <typename T, typename Key>
void stableSortByKeys(TStrList_rep<T>& list, const std::vector<Key>& keys) {
  std::vector<std::size_t> order(list.count());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&keys](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
  list.permute(order);
}

template <typename T, typename Field>
void sortBySeconds(TStrList_rep<T>& list, Field field) {
  std::vector<Seconds> keys(list.count());
  for (std::size_t i = 0; i < keys.size(); ++i) keys[i] = list.get(i).*field;
  stableSortByKeys(list, keys);
}

std::string notANumberMessage(const std::string& text) {
  return ru("Сортировка не выполнена: \"") + quoteForMessage(text) +
         ru("\" не является целым числом.");
}

template <typename Traffic>
std::string trafficCell(const Traffic& entry, std::size_t column) {
  switch (column) {
    case 0:
      return formatTraffic(entry.outHours, entry.outMinutes, entry.outSeconds);
    case 1:
      return formatTraffic(entry.inHours, entry.inMinutes, entry.inSeconds);
    default:
      return formatSeconds(entry.totalSec);
  }
}

}  // namespace

const std::string& callColumnTitle(std::size_t column) {
  static const std::string kTitles[kCallColumns] = {
      ru("Дата"),    ru("Время"),    ru("Длительность"), ru("Апп. АЛ"),
      ru("Прг. АЛ"), ru("Номер СЛ"), ru("Внешний номер")};
  return kTitles[column];
}

const std::string& lineColumnTitle(std::size_t column) {
  static const std::string kTitles[kLineColumns] = {ru("Апп. АЛ"), ru("Прг. АЛ"), ru("Исх. трафик"),
                                                    ru("Вх. трафик"), ru("Общий трафик")};
  return kTitles[column];
}

const std::string& trunkColumnTitle(std::size_t column) {
  static const std::string kTitles[kTrunkColumns] = {ru("Апп. СЛ"), ru("Исх. трафик"),
                                                     ru("Вх. трафик"), ru("Общий трафик")};
  return kTitles[column];
}

const std::string& reportTitleLine(ReportKind kind) {
  static const std::string kCalls =
      ru("        Начало         Длит.    Апп.  Прг.   СЛ     Набранный номер");
  static const std::string kLines =
      ru("Апп.АЛ     Прг.АЛ      Исх. трафик    Вх. трафик     Общий трафик");
  static const std::string kTrunks = ru("Апп.СЛ   Исх. трафик    Вх. трафик     Общий трафик");
  switch (kind) {
    case ReportKind::Calls:
      return kCalls;
    case ReportKind::Lines:
      return kLines;
    default:
      return kTrunks;
  }
}

std::string callReportLine(const std::vector<std::string>& cells) {
  std::string line = cells[0] + "  " + leadingZeroIfShort(cells[1]) + "  " +
                     leadingZeroIfShort(cells[2]) + std::string(24, ' ');
  insertAt(line, 33, cells[3]);
  insertAt(line, 39, cells[4]);
  insertAt(line, 46, cells[5]);
  insertAt(line, 53, cells[6]);
  return line;
}

std::string lineReportLine(const std::vector<std::string>& cells) {
  std::string line = cells[0] + std::string(45, ' ');
  insertAt(line, 13, cells[1]);
  insertAt(line, 25, cells[2]);
  insertAt(line, 40, cells[3]);
  insertAt(line, 56, cells[4]);
  return line;
}

std::string trunkReportLine(const std::vector<std::string>& cells) {
  std::string line = cells[0] + std::string(45, ' ');
  insertAt(line, 11, cells[1]);
  insertAt(line, 26, cells[2]);
  insertAt(line, 42, cells[3]);
  return line;
}

// One share of a load: its stored lines, parsed into whole blocks of calls, and the line and
// trunk traffic of those calls in their order of first occurrence.
struct ReportBook::ParseShare {
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::size_t firstLine = 0;  // stored lines [firstLine, endLine)
  std::size_t endLine = 0;
  std::vector<std::vector<ReportCall>> blocks;
  std::size_t failedLine = kNone;  // the stored line that did not convert
  std::string error;
  std::vector<std::unique_ptr<LineTraffic>> lines;  // in the order of first occurrence
  std::vector<std::unique_ptr<TrunkTraffic>> trunks;
  std::exception_ptr failure;
};

// Parses the stored lines [firstLine, endLine) of a share into whole blocks of calls and adds
// each call to the share's line and trunk traffic. Stops at the first line that does not
// convert.
void ReportBook::parseShare(const char* data, const std::vector<std::uint64_t>& begins,
                            const std::vector<std::uint32_t>& lengths, ParseShare& share) {
  constexpr std::size_t kBlock = TValueList_rep<ReportCall>::kBlockSize;
  try {
    TextIndex<LineTraffic> lineIndex;
    TextIndex<TrunkTraffic> trunkIndex;
    for (std::size_t i = share.firstLine; i < share.endLine; ++i) {
      const std::string_view line(data + begins[i], lengths[i]);
      if (!carriesCall(line)) continue;
      if (share.blocks.empty() || share.blocks.back().size() == kBlock) {
        share.blocks.emplace_back();
        share.blocks.back().reserve(kBlock);
      }
      ReportCall& call = share.blocks.back().emplace_back();
      if (!parseCallLine(line, call, share.error)) {
        share.blocks.back().pop_back();
        share.failedLine = i;
        return;
      }
      LineTraffic* entry = lineIndex.find(call.hwNumber);
      if (entry == nullptr) {
        share.lines.push_back(std::make_unique<LineTraffic>());
        entry = share.lines.back().get();
        entry->hwNumber.assign(call.hwNumber.view());
        entry->prgNumber.assign(call.prgNumber.view());
        lineIndex.insert(entry->hwNumber, entry);
      }
      entry->addCall(call);
      TrunkTraffic* trunk = trunkIndex.find(call.trunkText);
      if (trunk == nullptr) {
        share.trunks.push_back(std::make_unique<TrunkTraffic>());
        trunk = share.trunks.back().get();
        trunk->trunkText.assign(call.trunkText.view());
        trunkIndex.insert(trunk->trunkText, trunk);
      }
      trunk->addCall(call);
    }
  } catch (...) {
    share.failure = std::current_exception();
  }
}

ReportBook::ReportBook() {
  callList_.setCapacity(kCallCapacity);
  lineList_.setCapacity(kTrafficCapacity);
  trunkList_.setCapacity(kTrafficCapacity);
}

LoadResult ReportBook::load(const std::string& path) {
  LoadResult result;
  // The whole file is held in memory: a file far larger than any data file (a wrong choice, a
  // damaged disk, a growing file) is refused before it can exhaust the memory, and a FIFO or
  // device (which may never end, or never open) is refused at once.
  std::string bytes;
  const FileContents read = readRegularFile(nativePath(path), kMaxDataFileBytes, bytes);
  const std::string name = quoteForMessage(path);
  switch (read.status) {
    case FileContents::Ok:
      return loadBytes(std::move(bytes));
    case FileContents::NotOpened:
      result.errorNumber = read.error;
      result.message = ru("Не удалось открыть файл \"") + name + ru("\". errno = ") +
                       std::to_string(result.errorNumber);
      break;
    case FileContents::NotRegular:
      result.message =
          ru("Файл \"") + name +
          ru("\" не является обычным файлом (папка, канал или устройство) и не загружен.");
      break;
    case FileContents::TooLarge:
      result.errorNumber = EFBIG;
      result.message = ru("Файл \"") + name + ru("\" слишком велик (больше 1 ГБ) и не загружен.");
      break;
    case FileContents::ReadFailed:
      result.errorNumber = read.error;
      result.message = ru("Не удалось прочитать файл \"") + name + ru("\". errno = ") +
                       std::to_string(result.errorNumber);
      break;
  }
  result.code = kLoadFileFailed;
  return result;
}

LoadResult ReportBook::loadBytes(std::string bytes) {
  LoadResult result;
  // The line store: every line of 30 bytes or more, as offsets into the bytes.
  std::vector<std::uint64_t> begins;
  std::vector<std::uint32_t> lengths;
  begins.reserve(bytes.size() / 64 + 16);
  lengths.reserve(bytes.size() / 64 + 16);
  std::size_t callLines = 0;
  const std::size_t size = bytes.size();
  const char* data = bytes.data();
  for (std::size_t pos = 0; pos < size;) {
    // A line ends at the first CR or LF; CR LF counts as one end.
    const void* lf = std::memchr(data + pos, '\n', size - pos);
    std::size_t end =
        lf != nullptr ? static_cast<std::size_t>(static_cast<const char*>(lf) - data) : size;
    if (const void* cr = std::memchr(data + pos, '\r', end - pos)) {
      end = static_cast<std::size_t>(static_cast<const char*>(cr) - data);
    }
    const std::size_t length = end - pos;
    if (length >= kMinStoredLineLength) {
      if (length > std::numeric_limits<std::uint32_t>::max()) {
        result.code = kLoadFileFailed;
        result.message = ru("Строка файла слишком длинная: ") + std::to_string(length);
        return result;
      }
      begins.push_back(pos);
      lengths.push_back(static_cast<std::uint32_t>(length));
      if (carriesCall(std::string_view(data + pos, length))) ++callLines;
    }
    if (end < size && data[end] == '\r' && end + 1 < size && data[end + 1] == '\n') ++end;
    pos = end + 1;
  }

  // The calls, parsed into new lists: a line that does not convert leaves the book unchanged.
  // A large file is parsed in two shares on two threads, each into whole blocks of calls.
  using Calls = TValueList_rep<ReportCall>;
  std::vector<ParseShare> shares(1);
  shares[0].endLine = begins.size();
  if (callLines >= 2 * Calls::kBlockSize && std::thread::hardware_concurrency() >= 2) {
    const std::size_t half = (callLines / 2 + Calls::kBlockSize - 1) / Calls::kBlockSize;
    const std::size_t firstOfSecond = half * Calls::kBlockSize;
    std::size_t seen = 0;
    std::size_t line = 0;
    for (; line < begins.size(); ++line) {
      if (carriesCall(std::string_view(data + begins[line], lengths[line])) &&
          seen++ == firstOfSecond) {
        break;
      }
    }
    shares.resize(2);
    shares[0].endLine = line;
    shares[1].firstLine = line;
    shares[1].endLine = begins.size();
  }
  {
    std::vector<std::thread> workers;
    for (std::size_t i = 1; i < shares.size(); ++i) {
      workers.emplace_back([&, i] { parseShare(data, begins, lengths, shares[i]); });
    }
    parseShare(data, begins, lengths, shares[0]);
    for (std::thread& worker : workers) worker.join();
  }
  for (ParseShare& share : shares) {
    if (share.failure) std::rethrow_exception(share.failure);
  }
  for (ParseShare& share : shares) {
    if (share.failedLine == ParseShare::kNone) continue;
    const std::string_view line(data + begins[share.failedLine], lengths[share.failedLine]);
    result.code = kLoadLineFailed;
    result.lineNumber = lineNumberAt(bytes, begins[share.failedLine]);
    result.lineText.assign(line);
    result.message = ru("Файл не загружен: строка ") + std::to_string(result.lineNumber) +
                     ru(" не преобразуется (") + share.error + "):\n" +
                     quoteForMessage(result.lineText);
    return result;
  }

  Calls calls;
  calls.setCapacity(std::max(kCallCapacity, callLines));
  for (ParseShare& share : shares) {
    for (std::vector<ReportCall>& block : share.blocks) calls.appendBlock(std::move(block));
  }
  bytes_ = std::move(bytes);
  lineBegin_ = std::move(begins);
  lineLength_ = std::move(lengths);
  callList_.swap(calls);
  selection_.reset();
  loaded_ = true;
  mergeTraffic(shares);
  regionalFormats().longTime = kReportLongTimeFormat;
  return result;
}

void ReportBook::mergeTraffic(std::vector<ParseShare>& shares) {
  lineIndex_.clear();
  trunkIndex_.clear();
  lineList_.clear();
  trunkList_.clear();
  lineList_.setCapacity(kTrafficCapacity);
  trunkList_.setCapacity(kTrafficCapacity);
  // The shares follow each other in the file, so taking their entries share by share keeps the
  // order of first occurrence; an entry seen before only gains the share's traffic.
  for (ParseShare& share : shares) {
    for (std::unique_ptr<LineTraffic>& entry : share.lines) {
      if (LineTraffic* known = lineIndex_.find(entry->hwNumber)) {
        known->add(*entry);
      } else {
        LineTraffic& added = lineList_.add(std::move(entry));
        lineIndex_.insert(added.hwNumber, &added);
      }
    }
    for (std::unique_ptr<TrunkTraffic>& entry : share.trunks) {
      if (TrunkTraffic* known = trunkIndex_.find(entry->trunkText)) {
        known->add(*entry);
      } else {
        TrunkTraffic& added = trunkList_.add(std::move(entry));
        trunkIndex_.insert(added.trunkText, &added);
      }
    }
  }
}

std::string_view ReportBook::storedLine(std::size_t index) const {
  return std::string_view(bytes_.data() + lineBegin_[index], lineLength_[index]);
}

std::string ReportBook::fileCaption() const {
  static const std::string kCaption = ru("Кол-во строк: ");
  return loaded_ ? kCaption + std::to_string(storedLineCount()) : kCaption;
}

const LineTraffic* ReportBook::findLine(std::string_view hwNumber) const {
  return lineIndex_.find(hwNumber);
}

const TrunkTraffic* ReportBook::findTrunk(std::string_view trunkText) const {
  return trunkIndex_.find(trunkText);
}

SortResult ReportBook::sortLines(LineSortKey key) {
  SortResult result;
  switch (key) {
    case LineSortKey::Hardware:
    case LineSortKey::Programmed: {
      // A list of one entry is never compared, so its key is never converted.
      if (lineList_.count() < 2) return result;
      std::vector<std::int32_t> keys(lineList_.count());
      for (std::size_t i = 0; i < keys.size(); ++i) {
        const LineTraffic& entry = lineList_.get(i);
        const std::string& text = key == LineSortKey::Hardware ? entry.hwNumber : entry.prgNumber;
        if (key == LineSortKey::Programmed && text.empty()) {
          keys[i] = 0;
        } else if (!toInt32(text, keys[i])) {
          result.ok = false;
          result.message = notANumberMessage(text);
          return result;
        }
      }
      stableSortByKeys(lineList_, keys);
      break;
    }
    case LineSortKey::Outgoing:
      sortBySeconds(lineList_, &LineTraffic::outSec);
      break;
    case LineSortKey::Incoming:
      sortBySeconds(lineList_, &LineTraffic::inSec);
      break;
    case LineSortKey::Total:
      sortBySeconds(lineList_, &LineTraffic::totalSec);
      break;
  }
  return result;
}

SortResult ReportBook::sortTrunks(TrunkSortKey key) {
  switch (key) {
    case TrunkSortKey::Trunk:
      trunkList_.sort([](const TrunkTraffic& a, const TrunkTraffic& b) {
        return compareTextNoCase(a.trunkText, b.trunkText);
      });
      break;
    case TrunkSortKey::Outgoing:
      sortBySeconds(trunkList_, &TrunkTraffic::outSec);
      break;
    case TrunkSortKey::Incoming:
      sortBySeconds(trunkList_, &TrunkTraffic::inSec);
      break;
    case TrunkSortKey::Total:
      sortBySeconds(trunkList_, &TrunkTraffic::totalSec);
      break;
  }
  return SortResult{};
}

std::size_t ReportBook::select(std::string_view subscriber, SelectBy by, std::string_view prefix) {
  std::string number;
  for (char c : subscriber) {
    if (c != ' ') number += c;
  }
  std::vector<std::uint32_t> rows;
  for (std::size_t i = 0; i < callList_.count(); ++i) {
    const ReportCall& call = callList_.get(i);
    if (!number.empty()) {
      const std::string_view key = by == SelectBy::Programmed ? call.prgNumber : call.hwNumber;
      if (key != number) continue;
    }
    if (!prefix.empty() && !call.extNumber.view().starts_with(prefix)) continue;
    rows.push_back(static_cast<std::uint32_t>(i));
  }
  const std::size_t matches = rows.size();
  selection_ = std::move(rows);
  return matches;
}

std::size_t ReportBook::callRowCount() const {
  if (!selection_) return callList_.count();
  return selection_->empty() ? 1 : selection_->size();
}

const ReportCall* ReportBook::callAtRow(std::size_t row) const {
  if (!selection_) return &callList_.get(row);
  if (selection_->empty()) return nullptr;
  return &callList_.get((*selection_)[row]);
}

std::string ReportBook::callCell(std::size_t row, std::size_t column) const {
  const ReportCall* call = callAtRow(row);
  if (call == nullptr) return std::string();
  const RegionalFormats& formats = regionalFormats();
  switch (column) {
    case 0: {
      const DateTimeParts p = decodeDateTime(call->start);
      return formatDate(formats.shortDate, p.year, p.month, p.day);
    }
    case 1: {
      const DateTimeParts p = decodeDateTime(call->start);
      return formatTime(formats.longTime, p.hour, p.minute, p.second);
    }
    case 2: {
      const DateTimeParts p = decodeDateTime(call->duration);
      return formatTime(formats.longTime, p.hour, p.minute, p.second);
    }
    case 3:
      return std::string(call->hwNumber.view());
    case 4:
      return std::string(call->prgNumber.view());
    case 5:
      return std::string(call->trunkText.view());
    default:
      return std::string(call->extNumber.view());
  }
}

std::string ReportBook::lineCell(std::size_t row, std::size_t column) const {
  const LineTraffic& entry = lineList_.get(row);
  switch (column) {
    case 0:
      return entry.hwNumber;
    case 1:
      return entry.prgNumber;
    default:
      return trafficCell(entry, column - 2);
  }
}

std::string ReportBook::trunkCell(std::size_t row, std::size_t column) const {
  const TrunkTraffic& entry = trunkList_.get(row);
  return column == 0 ? entry.trunkText : trafficCell(entry, column - 1);
}

std::vector<std::string> ReportBook::reportLines(ReportKind kind) const {
  std::vector<std::string> lines;
  lines.push_back(reportTitleLine(kind));
  std::vector<std::string> cells;
  switch (kind) {
    case ReportKind::Calls:
      lines.reserve(callRowCount() + 1);
      cells.resize(kCallColumns);
      for (std::size_t row = 0; row < callRowCount(); ++row) {
        for (std::size_t c = 0; c < kCallColumns; ++c) cells[c] = callCell(row, c);
        lines.push_back(callReportLine(cells));
      }
      break;
    case ReportKind::Lines:
      lines.reserve(lineRowCount() + 1);
      cells.resize(kLineColumns);
      for (std::size_t row = 0; row < lineRowCount(); ++row) {
        for (std::size_t c = 0; c < kLineColumns; ++c) cells[c] = lineCell(row, c);
        lines.push_back(lineReportLine(cells));
      }
      break;
    case ReportKind::Trunks:
      lines.reserve(trunkRowCount() + 1);
      cells.resize(kTrunkColumns);
      for (std::size_t row = 0; row < trunkRowCount(); ++row) {
        for (std::size_t c = 0; c < kTrunkColumns; ++c) cells[c] = trunkCell(row, c);
        lines.push_back(trunkReportLine(cells));
      }
      break;
  }
  return lines;
}

namespace {

// Writes the lines with CR LF and closes the file; false (errno kept) when any step failed.
bool writeLines(std::FILE* file, const std::vector<std::string>& lines, int& error) {
  bool ok = true;
  for (const std::string& line : lines) {
    if (std::fwrite(line.data(), 1, line.size(), file) != line.size() ||
        std::fwrite("\r\n", 1, 2, file) != 2) {
      ok = false;
      error = errno;
      break;
    }
  }
  if (ok && std::fflush(file) != 0) {
    ok = false;
    error = errno;
  }
  if (std::fclose(file) != 0 && ok) {
    ok = false;
    error = errno;
  }
  return ok;
}

}  // namespace

int saveLinesToFile(int& lastErrno, const std::vector<std::string>& lines,
                    const std::string& fileName) {
  try {
    const std::string native = nativePath(fileName);
    // Only a regular file is written: a FIFO would hold the window until something reads it,
    // and a device is no report.
    OpenedFile out = openRegularFile(native, FileMode::Write);
    if (out.file == nullptr && !out.notRegular) {
      const int writeError = out.error;
      // A file that exists and reads may have been busy for a moment: one more try.
      const OpenedFile probe = openRegularFile(native, FileMode::Read);
      if (probe.notRegular) {
        // A folder: it exists, and cannot be written.
        lastErrno = writeError;
        return kSaveNotWritten;
      }
      if (probe.file == nullptr) {
        lastErrno = probe.error;
        return kSaveNotOpened;
      }
      if (std::fclose(probe.file) != 0) {
        lastErrno = errno;
        return kSaveNotClosed;
      }
      out = openRegularFile(native, FileMode::Write);
      if (out.file == nullptr && !out.notRegular) {
        // Read-only or otherwise unwritable: the report was not saved, and the user hears so.
        lastErrno = out.error;
        return kSaveNotWritten;
      }
    }
    if (out.notRegular) {
      lastErrno = 0;
      return kSaveNotRegular;
    }
    int error = 0;
    if (!writeLines(out.file, lines, error)) {
      lastErrno = error;
      return kSaveNotWritten;
    }
    return kSaveOk;
  } catch (const std::exception&) {
    lastErrno = errno;
    return kSaveException;
  }
}

std::string reportOverDataFileMessage(const std::string& fileName) {
  return ru("Отчет не записан: \"") + quoteForMessage(fileName) +
         ru("\" - это файл данных, из которого он построен.");
}

std::string saveErrorMessage(int code, int lastErrno) {
  const std::string number = std::to_string(lastErrno);
  switch (code) {
    case kSaveOk:
      return std::string();
    case kSaveException:
      return ru("Непонятное исключение. errno = ") + number;
    case kSaveNotOpened:
      return ru("Не создать или не открыть файл. errno = ") + number;
    case kSaveNotClosed:
      return ru("Не закрыть файл. errno = ") + number;
    case kSaveNotRegular:
      return ru("Это не обычный файл (канал или устройство). Файл не записан.");
    default:
      return ru("Не удалось записать файл. errno = ") + number;
  }
}

}  // namespace kordel::report
