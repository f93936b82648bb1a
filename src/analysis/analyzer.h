// Call analysis (src/analysis, library kordel_analysis): filters, costs and the tables made
// from the calls of a CallStore. The library may use the standard library, src/files and
// src/report of the core, libxlsxwriter (in export_xlsx.cpp alone) and the calls database of
// src/store (in database_source.cpp alone); never Qt.
//
// An Analyzer joins a store with a tariff plan, a directory and the options (which calls,
// keyed how, how many in the top lists, how many digits hidden) and makes an AnalysisResult of
// plain structs that a window model or an export can take as they are. It can also list and
// describe the single calls that match, for a table of calls.
//
// Rules:
// - A call belongs to the period of its start: a call that starts before the end of the
//   period counts whole (all its seconds and its cost), even when it ends after it; a call
//   that started before the period does not count, even when it lasts into it. The hour and
//   day series count a call at the hour and day of its start as well.
// - Outgoing calls (those with dialed digits) are priced by the tariff plan; one that matches
//   no prefix costs 0 and is shown with the direction "без тарифа". Incoming calls cost 0
//   unless their table has an incoming row.
// - The extension of a call is its programmed number or its hardware number (ExtensionKey). A
//   call without a programmed number, keyed by programmed number, has the extension "апп." and
//   its hardware number. Extensions not in the directory stand in the department
//   "вне справочника", people of the directory without one in "без отдела".
// - Trunk load: the greatest number of calls at one time on each trunk in each half hour of
//   the clock, a call occupying its trunk from its start for its duration (at least one
//   second); a call that ends at the second another starts does not overlap it.
// - Hidden digits replace the last digits of external numbers by 'x' in everything the result
//   holds; the most-dialed list then counts the numbers as shown.
//
// REQUIRES: the store, the plan and the directory outlive the Analyzer and are not changed
// while it is used. run() may be called from any one thread at a time.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/call_store.h"
#include "analysis/directory.h"
#include "analysis/money.h"
#include "analysis/tariffs.h"

namespace kordel::analysis {

enum class ExtensionKey { Programmed, Hardware };
enum class Direction { Any, Incoming, Outgoing };

struct Filter {
  std::optional<WallTime> from;          // calls that start at or after
  std::optional<WallTime> to;            // calls that start before
  std::vector<std::string> extensions;   // as keyed; empty: every one
  std::vector<std::string> departments;  // a department, or a top level with all below it
  Direction direction = Direction::Any;
  std::vector<std::string> trunks;
  std::string numberPrefix;       // digits that the dialed digits begin with (outgoing calls only)
  std::uint32_t minDuration = 0;  // seconds
};

struct AnalysisOptions {
  ExtensionKey key = ExtensionKey::Programmed;
  Filter filter;
  std::size_t topCount = 10;
  int hiddenDigits = 0;
  bool trunkLoad = true;
  unsigned threads = 0;  // at most two; 0: two for a large store on a machine with two cores
};

struct Totals {
  std::uint64_t calls = 0;
  std::uint64_t outgoingCalls = 0;
  std::uint64_t incomingCalls = 0;
  std::int64_t seconds = 0;
  std::int64_t outgoingSeconds = 0;
  std::int64_t incomingSeconds = 0;
  Money cost = 0;
  std::uint64_t unpricedCalls = 0;  // outgoing calls that matched no prefix
  std::uint64_t markedCalls = 0;    // calls with "*" marks
  void add(const Totals& other);
};

struct ExtensionRow {
  std::string extension;  // Windows-1251 texts
  std::string name;
  std::string department;  // the department, "вне справочника" or "без отдела"
  std::string topDepartment;
  Totals totals;
};

struct GroupRow {  // a department, a direction or a trunk
  std::string name;
  std::size_t extensions = 0;  // extensions with calls (departments only)
  Totals totals;
};

struct CallRow {
  std::uint32_t index = 0;  // in the store
  WallTime start = 0;
  std::uint32_t duration = 0;
  std::string extension, name, department;
  std::string trunk;
  std::string number;     // as shown (digits hidden)
  std::string direction;  // the tariff's, "без тарифа", or "входящий"
  std::uint64_t billedSeconds = 0;
  Money cost = 0;
  std::uint8_t marks = 0;
  bool incoming = false;
};

struct NumberRow {
  std::string number;  // as shown
  std::string direction;
  std::uint64_t calls = 0;
  std::int64_t seconds = 0;
  Money cost = 0;
};

struct SeriesPoint {
  std::int64_t key = 0;  // the hour 0..23, or the day as the WallTime of its midnight
  std::uint64_t calls = 0;
  std::int64_t seconds = 0;
  Money cost = 0;
};

struct LoadSlot {
  WallTime start = 0;  // the half hour's first second
  std::uint32_t peak = 0;
};

struct TrunkLoad {
  std::string trunk;
  std::uint32_t peak = 0;
  WallTime peakSlot = 0;  // the first half hour with the peak
  // The half hours with any call, in time order ("slots" would clash with Qt's keyword).
  std::vector<LoadSlot> halfHours;
};

struct AnalysisResult {
  bool cancelled = false;
  Totals totals;
  std::optional<WallTime> firstStart, lastStart;  // of the calls counted
  std::vector<ExtensionRow> extensions;           // by extension
  std::vector<GroupRow> departments;              // by department name
  std::vector<GroupRow> topDepartments;
  std::vector<GroupRow> directions;   // by direction name
  std::vector<GroupRow> trunks;       // by trunk
  std::vector<CallRow> longest;       // longest first
  std::vector<CallRow> costliest;     // dearest first
  std::vector<NumberRow> mostDialed;  // most calls first
  std::vector<SeriesPoint> byHour;    // 24 points
  std::vector<SeriesPoint> byDay;     // the days with calls, in order
  std::vector<TrunkLoad> trunkLoad;   // by trunk, as the trunks table
};

// The texts of the rules above (Windows-1251).
const std::string& unpricedDirection();  // "без тарифа"
const std::string& incomingDirection();  // "входящий"
const std::string& outsideDirectory();   // "вне справочника"
const std::string& noDepartment();       // "без отдела"
// A number as shown with `hidden` last digits replaced by 'x'.
std::string hideDigits(std::string_view number, int hidden);
// "номер*", "дата*", "время*", "длит.*" for the marks, joined by spaces.
std::string marksText(std::uint8_t marks);

class Analyzer {
 public:
  Analyzer(const CallStore& store, const TariffPlan& tariffs, const Directory& directory,
           AnalysisOptions options);

  // The tables. With `cancel` set during the run, returns early with cancelled set.
  AnalysisResult run(const std::atomic<bool>* cancel = nullptr) const;

  bool matches(const Call& call) const;
  // The store indexes of the matching calls, in the order of their start.
  std::vector<std::uint32_t> matchingCalls() const;
  CallRow describe(std::uint32_t index) const;

  // The extension text of a call as keyed.
  std::string extensionOf(const Call& call) const;

 private:
  struct Price {
    std::int32_t row = -1;  // tariff row, -1: none
    std::int32_t direction = 0;
    std::uint64_t billed = 0;
    Money cost = 0;
  };
  struct Part;
  struct Piece {  // a run of calls handled by one thread
    std::span<const Call> calls;
    std::size_t firstIndex = 0;
  };
  std::uint32_t slotOf(const Call& call) const;
  Price priceOf(const Call& call) const;
  // The order of calls with equal keys in the top lists: by what they show.
  bool contentLess(std::uint32_t a, std::uint32_t b) const;
  void runPart(std::span<const Call> calls, std::size_t firstIndex, Part& part,
               const std::atomic<bool>* cancel) const;
  std::vector<TrunkLoad> loadOfTrunks(const std::vector<Piece>& pieces, unsigned threads,
                                      WallTime firstStart, WallTime lastEnd,
                                      const std::vector<std::uint32_t>& trunkOrder) const;

  const CallStore& store_;
  const TariffPlan& tariffs_;
  const Directory& directory_;
  AnalysisOptions options_;

  // Extension slots: programmed ids, then hardware ids (keyed by hardware, or the fallback of
  // a call without a programmed number).
  std::vector<std::string> slotText_;
  std::vector<std::int32_t> slotPerson_;  // index into the directory, -1: outside
  std::vector<std::uint32_t> slotDepartment_, slotTop_;
  std::vector<std::string> departmentNames_, topNames_;
  std::vector<bool> slotAllowed_;  // extension and department filters
  std::vector<bool> trunkAllowed_;
  std::vector<bool> numberAllowed_;  // prefix filter
  // Pricing: the context (table and access code) of each trunk, and per context the tariff row
  // of each dialed number.
  std::vector<std::uint32_t> trunkContext_;
  std::vector<std::size_t> contextTable_;
  std::vector<std::vector<std::int32_t>> contextRow_;
  std::vector<std::string> directionNames_;  // [0] "без тарифа", [1] "входящий", then tariffs'
  std::vector<std::int32_t> rowDirection_;
};

}  // namespace kordel::analysis
