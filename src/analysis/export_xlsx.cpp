// XLSX through libxlsxwriter: the one file of the analysis that uses it.
#include <xlsxwriter.h>

#include <algorithm>
#include <set>

#include "analysis/calendar.h"
#include "analysis/export.h"
#include "files/data_file.h"
#include "files/text_codec.h"

namespace kordel::analysis {

namespace {

// The spreadsheet's day 0 is 30 December 1899; ours is 1 January 1970, 25569 days later.
constexpr double kEpochDays = 25569.0;
// Above this many rows in all, the sheets are written row by row through a temporary file
// instead of being held in memory.
constexpr std::size_t kRowsInMemory = 100000;

// A sheet name: at most 31 characters, none of []:*?/\, unique in the workbook.
std::string sheetName(const std::string& titleUtf8, std::set<std::string>& used) {
  std::string name;
  std::size_t characters = 0;
  for (std::size_t i = 0; i < titleUtf8.size() && characters < 28;) {
    const auto c = static_cast<unsigned char>(titleUtf8[i]);
    const std::size_t length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    const std::string piece = titleUtf8.substr(i, length);
    i += length;
    if (piece.size() == 1 && std::string("[]:*?/\\'").find(piece[0]) != std::string::npos) continue;
    name += piece;
    ++characters;
  }
  if (name.empty()) name = "Sheet";
  std::string unique = name;
  for (int n = 2; used.count(unique) != 0; ++n) unique = name + " " + std::to_string(n);
  used.insert(unique);
  return unique;
}

}  // namespace

bool xlsxAvailable() { return true; }

Status writeXlsx(const std::vector<ResultTable>& tables, const std::string& path) {
  std::size_t rows = 0;
  for (const ResultTable& t : tables) rows += t.rows.size();
  const std::string native = nativePath(path);
  lxw_workbook_options options{};
  options.constant_memory = rows > kRowsInMemory ? LXW_TRUE : LXW_FALSE;
  lxw_workbook* book = workbook_new_opt(native.c_str(), &options);
  if (book == nullptr) {
    return Status::error(ru("Не удалось создать файл \"") + path + "\"");
  }
  lxw_format* header = workbook_add_format(book);
  format_set_bold(header);
  lxw_format* money = workbook_add_format(book);
  format_set_num_format(money, "#,##0.00");
  lxw_format* span = workbook_add_format(book);
  format_set_num_format(span, "[h]:mm:ss");
  lxw_format* dateTime = workbook_add_format(book);
  format_set_num_format(dateTime, "dd.mm.yyyy hh:mm:ss");
  lxw_format* date = workbook_add_format(book);
  format_set_num_format(date, "dd.mm.yyyy");

  std::set<std::string> used;
  lxw_error failure = LXW_NO_ERROR;
  auto check = [&failure](lxw_error e) {
    if (e != LXW_NO_ERROR && failure == LXW_NO_ERROR) failure = e;
  };
  for (const ResultTable& table : tables) {
    lxw_worksheet* sheet =
        workbook_add_worksheet(book, sheetName(cp1251ToUtf8(table.title), used).c_str());
    if (sheet == nullptr) {
      check(LXW_ERROR_MEMORY_MALLOC_FAILED);
      break;
    }
    std::vector<std::size_t> widths(table.columns.size(), 8);
    for (std::size_t c = 0; c < table.columns.size(); ++c) {
      const std::string title = cp1251ToUtf8(table.columns[c].title);
      check(worksheet_write_string(sheet, 0, static_cast<lxw_col_t>(c), title.c_str(), header));
      widths[c] = std::max(widths[c], table.columns[c].title.size() + 2);
    }
    for (std::size_t r = 0; r < table.rows.size(); ++r) {
      const auto row = static_cast<lxw_row_t>(r + 1);
      for (std::size_t c = 0; c < table.rows[r].size(); ++c) {
        const Cell& cell = table.rows[r][c];
        const auto column = static_cast<lxw_col_t>(c);
        const double n = static_cast<double>(cell.number);
        switch (cell.type) {
          case CellType::Text:
            if (!cell.text.empty()) {
              check(worksheet_write_string(sheet, row, column, cp1251ToUtf8(cell.text).c_str(),
                                           nullptr));
              widths[c] = std::max(widths[c], std::min<std::size_t>(cell.text.size() + 2, 60));
            }
            break;
          case CellType::Integer:
            check(worksheet_write_number(sheet, row, column, n, nullptr));
            break;
          case CellType::Seconds:
            check(worksheet_write_number(sheet, row, column, n / kSecondsPerDay, span));
            widths[c] = std::max<std::size_t>(widths[c], 11);
            break;
          case CellType::Money:
            // The exact amount in minor units, shown as the nearest binary fraction.
            check(worksheet_write_number(sheet, row, column, n / 100.0, money));
            widths[c] = std::max<std::size_t>(widths[c], 14);
            break;
          case CellType::DateTime:
            check(worksheet_write_number(sheet, row, column, n / kSecondsPerDay + kEpochDays,
                                         dateTime));
            widths[c] = std::max<std::size_t>(widths[c], 20);
            break;
          case CellType::Date:
            check(
                worksheet_write_number(sheet, row, column, n / kSecondsPerDay + kEpochDays, date));
            widths[c] = std::max<std::size_t>(widths[c], 12);
            break;
        }
      }
    }
    for (std::size_t c = 0; c < widths.size(); ++c) {
      check(worksheet_set_column(sheet, static_cast<lxw_col_t>(c), static_cast<lxw_col_t>(c),
                                 static_cast<double>(widths[c]), nullptr));
    }
    worksheet_freeze_panes(sheet, 1, 0);
  }
  const lxw_error closed = workbook_close(book);
  if (failure == LXW_NO_ERROR) failure = closed;
  if (failure != LXW_NO_ERROR) {
    return Status::error(ru("Не удалось записать файл \"") + path + "\": " + lxw_strerror(failure));
  }
  return Status();
}

}  // namespace kordel::analysis
