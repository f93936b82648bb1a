// Call analysis: the tables that people keep in a spreadsheet (tariffs, the directory), read
// from CSV files.
//
// The file is UTF-8 (with or without a byte-order mark) or Windows-1251, whichever it is: a
// file that is valid UTF-8 is taken as UTF-8. The separator is the one of ';', ',' and TAB that
// the first row uses most (Russian Excel writes ';'). Fields may be quoted with '"' (a quote
// inside doubled) and then hold separators and line ends. The first row names the columns.
// Rows whose cells are all empty, and rows whose first cell begins with '#', are skipped.
// Cells are trimmed of spaces and converted to Windows-1251.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/status.h"

namespace kordel::analysis {

struct TableRow {
  std::size_t number = 0;  // the row in the file, the header being row 1 (as a spreadsheet counts)
  std::vector<std::string> cells;  // as many as the header has columns
};

struct TableFile {
  std::vector<std::string> header;
  std::vector<TableRow> rows;
  char separator = ';';
  bool utf8 = false;  // the file was UTF-8
};

// Reads a file (Windows-1251 path). A row with more non-empty cells than the header is an error.
Status readTableFile(const std::string& path, TableFile& table);
Status parseTableFile(std::string_view bytes, TableFile& table);

// A column name as compared: lower case, without spaces, '_', '.' and ':' ("Цена за минуту",
// "цена_за_минуту" and "ЦЕНА ЗА МИНУТУ." are one name).
std::string columnKey(std::string_view name);

// `text` for a message: quoted, at most 40 characters, control characters shown as '?'.
std::string quoteForMessage(std::string_view text);

}  // namespace kordel::analysis
