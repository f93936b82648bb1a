// Call analysis: the results as tables of typed cells, the one form that every export (CSV,
// XLSX, JSON, aligned text) writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/analyzer.h"
#include "analysis/call_store.h"

namespace kordel::analysis {

enum class CellType {
  Text,      // Windows-1251
  Integer,   // a count
  Seconds,   // a span of time: "hh:mm:ss", seconds in JSON
  Money,     // minor units
  DateTime,  // a WallTime
  Date,      // a WallTime at midnight
};

struct Cell {
  CellType type = CellType::Text;
  std::int64_t number = 0;
  std::string text;
  static Cell ofText(std::string t) { return Cell{CellType::Text, 0, std::move(t)}; }
  static Cell of(CellType type, std::int64_t n) { return Cell{type, n, {}}; }
};

struct Column {
  std::string key;    // for JSON and the command line: "calls", "cost", ...
  std::string title;  // for people (Windows-1251): "Звонков", "Стоимость", ...
  CellType type = CellType::Text;
};

struct ResultTable {
  std::string key;    // "extensions", "departments", ...
  std::string title;  // "По абонентам", ...
  std::vector<Column> columns;
  std::vector<std::vector<Cell>> rows;
};

// The tables that can be made, in the order exports write them.
enum class TableKind {
  Summary,
  Extensions,
  Departments,
  TopDepartments,
  Directions,
  Trunks,
  Longest,
  Costliest,
  Numbers,
  Hours,
  Days,
  TrunkLoad,  // one row per trunk and half hour with calls: long, never made unless asked
};

// The key of a kind ("summary", "extensions", "departments", "top_departments", "directions",
// "trunks", "longest", "costliest", "numbers", "hours", "days", "trunk_load"), and back.
const char* tableKey(TableKind kind);
bool tableKindOf(std::string_view key, TableKind& kind);

// What the load of the store said, for the summary table.
struct SourceInfo {
  std::uint64_t files = 0;
  std::uint64_t duplicates = 0;
  std::uint64_t badLines = 0;
};

ResultTable makeTable(TableKind kind, const AnalysisResult& result, const SourceInfo& source);
std::vector<ResultTable> makeTables(const std::vector<TableKind>& kinds,
                                    const AnalysisResult& result, const SourceInfo& source);

}  // namespace kordel::analysis
