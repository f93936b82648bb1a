// Call analysis: writing result tables as CSV, JSON, aligned text and XLSX.
//
// CSV is made for spreadsheets with Russian settings (Excel, LibreOffice Calc): UTF-8 with a
// byte-order mark (so that Excel does not take it for the ANSI code page), ';' between fields
// (the list separator of the Russian settings, so that amounts can keep their decimal comma),
// amounts as "1234,56" without grouping (so that they are read as numbers), times as
// "hh:mm:ss", dates as "dd.mm.yyyy", CR LF line ends. A text that a spreadsheet would take for
// a formula (beginning with '=', '+', '-' or '@') is written with a leading apostrophe.
// JSON is UTF-8: an object with one array of row objects per table, keyed by the column keys;
// amounts are decimal numbers of the unit (1234.56), spans are seconds, times are ISO texts.
#pragma once

#include <string>
#include <vector>

#include "analysis/call_store.h"
#include "analysis/money.h"
#include "analysis/status.h"
#include "analysis/tables.h"

namespace kordel::analysis {

// A cell as people read it (Windows-1251): a count, "hh:mm:ss", "1 234,56", "05.03.2004" or
// "05.03.2004 09:07:03".
std::string cellText(const Cell& cell, const MoneyFormat& money = {});

// One table: its header row and rows. Several: each headed by a line with its title, a blank
// line between them.
std::string toCsv(const std::vector<ResultTable>& tables);
std::string toJson(const std::vector<ResultTable>& tables);
// Aligned columns in Windows-1251 (a table of one row is written as "title: value" lines).
std::string toText(const std::vector<ResultTable>& tables, const MoneyFormat& money = {});
// One sheet per table (libxlsxwriter). `path` is Windows-1251.
Status writeXlsx(const std::vector<ResultTable>& tables, const std::string& path);
// Whether this build writes XLSX: a build without libxlsxwriter (export_no_xlsx.cpp) has a
// writeXlsx that writes nothing and says so.
bool xlsxAvailable();

// The files an analysis read, which no export may replace: `paths` as named, the data files
// `load` found in them, and an SQLite database (when `sqlitePath` is not empty) with its
// "-wal" and "-shm" files. Windows-1251.
std::vector<std::string> analysedFiles(const std::vector<std::string>& paths,
                                       const LoadResult& load, const std::string& sqlitePath);
// True when `output` names one of `files`, whatever the spelling (links included).
bool namesOneOf(const std::string& output, const std::vector<std::string>& files);

// Writes bytes to a file (Windows-1251 path), replacing it.
Status writeBytesToFile(const std::string& bytes, const std::string& path);

}  // namespace kordel::analysis
