// Report builder: ReportBook, the model behind the report window and `kordel-cli report`.
//
// A book holds the line store of the loaded data file, the parsed calls (callList), the
// subscriber-line and trunk tables (lineList, trunkList), the sort orders and the current call
// selection. The window's grids and the command-line tool read their cells and report lines
// from here, so both produce the same bytes. Texts are Windows-1251; paths are Windows-1251.
//
// REQUIRES: used from one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "report/report_data.h"
#include "report/str_list.h"
#include "report/text_index.h"

namespace kordel::report {

// Results of ReportBook::load.
inline constexpr int kLoadOk = 1;
inline constexpr int kLoadFileFailed = -2;  // the file cannot be opened or read (errorNumber)
inline constexpr int kLoadLineFailed = -5;  // a call-record line does not convert (lineNumber)

struct LoadResult {
  int code = kLoadOk;
  int errorNumber = 0;         // errno of a failed open or read (0: not a regular file)
  std::size_t lineNumber = 0;  // 1-based line of the file that did not convert
  std::string lineText;        // that line
  std::string message;         // for the user, Windows-1251 (empty on success); the file name
                               // and the line in it are shown cut short and escaped
  bool ok() const { return code == kLoadOk; }
};

// Results of the sorts: a key that does not convert to an integer stops the sort.
struct SortResult {
  bool ok = true;
  std::string message;  // Windows-1251
};

enum class LineSortKey { Hardware, Programmed, Outgoing, Incoming, Total };
enum class TrunkSortKey { Trunk, Outgoing, Incoming, Total };
enum class SelectBy { Programmed, Hardware };
enum class ReportKind { Calls, Lines, Trunks };

inline constexpr std::size_t kCallColumns = 7;
inline constexpr std::size_t kLineColumns = 5;
inline constexpr std::size_t kTrunkColumns = 4;

// Column titles of the three grids (Windows-1251).
const std::string& callColumnTitle(std::size_t column);
const std::string& lineColumnTitle(std::size_t column);
const std::string& trunkColumnTitle(std::size_t column);
// Title lines of the three report files.
const std::string& reportTitleLine(ReportKind kind);

// Lines of the three reports, built from the cells of one grid row as the grid shows them.
std::string callReportLine(const std::vector<std::string>& cells);
std::string lineReportLine(const std::vector<std::string>& cells);
std::string trunkReportLine(const std::vector<std::string>& cells);

class ReportBook {
 public:
  ReportBook();

  // Loads a data file: its lines (CR LF, LF or CR ends) less those shorter than 30 bytes become
  // the line store, every call-record line is parsed into callList, and lineList and trunkList
  // are rebuilt in the order of first occurrence. A successful load clears the selection and
  // sets the program-wide long time format to "hh:mm:ss". On any failure the book is left
  // exactly as it was (the previous file stays loaded) and the result says why. A large file
  // is parsed in two shares on two threads; the lists and the reported line are those of one
  // reading from top to bottom.
  LoadResult load(const std::string& path);
  // The same from the bytes of a file; never fails for want of a file.
  LoadResult loadBytes(std::string bytes);

  // The line store: lines of 30 bytes or more, in file order.
  std::size_t storedLineCount() const { return lineBegin_.size(); }
  std::string_view storedLine(std::size_t index) const;
  // "Кол-во строк: " and the stored line count ("Кол-во строк: " alone before the first load).
  std::string fileCaption() const;
  bool loaded() const { return loaded_; }

  const TValueList_rep<ReportCall>& callList() const { return callList_; }
  const TStrList_rep<LineTraffic>& lineList() const { return lineList_; }
  const TStrList_rep<TrunkTraffic>& trunkList() const { return trunkList_; }

  // The first entry with this key, or nullptr. Constant time: an index is kept beside the list.
  const LineTraffic* findLine(std::string_view hwNumber) const;
  const TrunkTraffic* findTrunk(std::string_view trunkText) const;

  // Ascending sorts; entries with equal keys keep their relative order. Sorting by hardware or
  // programmed number converts the texts to integers (an empty programmed number counts as 0);
  // a text that does not convert stops the sort with a message and leaves the list unchanged.
  SortResult sortLines(LineSortKey key);
  SortResult sortTrunks(TrunkSortKey key);

  // Replaces the call grid's rows by the matching calls of callList. `subscriber` has its
  // spaces removed; when it is not empty a call matches when its programmed (or hardware)
  // number equals it exactly. A non-empty `prefix` further requires the external number to
  // begin with it. Nothing matching leaves one empty row. Returns the number of matches.
  std::size_t select(std::string_view subscriber, SelectBy by, std::string_view prefix);
  // Shows every call again.
  void clearSelection() { selection_.reset(); }
  bool hasSelection() const { return selection_.has_value(); }

  // Data rows of the three grids (the title row not counted) and their cells.
  std::size_t callRowCount() const;
  std::size_t lineRowCount() const { return lineList_.count(); }
  std::size_t trunkRowCount() const { return trunkList_.count(); }
  // The call shown in a call grid row, or nullptr for the empty row of a failed selection.
  const ReportCall* callAtRow(std::size_t row) const;
  std::string callCell(std::size_t row, std::size_t column) const;
  std::string lineCell(std::size_t row, std::size_t column) const;
  std::string trunkCell(std::size_t row, std::size_t column) const;

  // The report of one grid: its title line and one line per grid row, in grid order.
  std::vector<std::string> reportLines(ReportKind kind) const;

 private:
  struct ParseShare;  // a part of a load, parsed on a thread of its own
  static void parseShare(const char* data, const std::vector<std::uint64_t>& begins,
                         const std::vector<std::uint32_t>& lengths, ParseShare& share);
  void mergeTraffic(std::vector<ParseShare>& shares);

  bool loaded_ = false;
  std::string bytes_;                     // the file as read
  std::vector<std::uint64_t> lineBegin_;  // line store: offsets into bytes_
  std::vector<std::uint32_t> lineLength_;
  TValueList_rep<ReportCall> callList_;
  TStrList_rep<LineTraffic> lineList_;
  TStrList_rep<TrunkTraffic> trunkList_;
  TextIndex<LineTraffic> lineIndex_;  // keys live in the entries
  TextIndex<TrunkTraffic> trunkIndex_;
  std::optional<std::vector<std::uint32_t>> selection_;  // call indexes; none: every call
};

// Results of saveLinesToFile.
inline constexpr int kSaveOk = 0;
inline constexpr int kSaveException = -1;   // an exception escaped the writer
inline constexpr int kSaveNotOpened = -2;   // neither opened for writing nor for reading
inline constexpr int kSaveNotClosed = -3;   // the test open succeeded, closing it failed
inline constexpr int kSaveNotWritten = -4;  // the file exists but could not be written whole
inline constexpr int kSaveNotRegular = -5;  // a FIFO, socket or device: refused, nothing written

// Writes every line followed by CR LF to `fileName` (Windows-1251 path), creating or
// truncating it. Returns one of the codes above; for every failure `lastErrno` receives the
// C runtime's error number (0 for kSaveNotRegular, which is refused before any open).
int saveLinesToFile(int& lastErrno, const std::vector<std::string>& lines,
                    const std::string& fileName);
// The message for a failed save, e.g. "Не создать или не открыть файл. errno = 2".
std::string saveErrorMessage(int code, int lastErrno);
// The message for a report refused because its file is the data file it is built from
// (sameFile): writing it would replace the calls with the report.
std::string reportOverDataFileMessage(const std::string& fileName);

}  // namespace kordel::report
