// Call analysis: tariffs, and what a call costs.
//
// A tariff plan is a table of rows: a dialed-number prefix, the name of the direction, the price
// per minute, a connection fee, the billing step (1 = per second, 60 = each started minute), an
// optional different first step, and free seconds (a call that is not longer costs nothing).
// The longest prefix that the dialed digits begin with wins. Rows may name a trunk: a trunk
// with rows of its own is priced by those rows alone (another carrier), the other trunks by the
// rows without a trunk. An access code of a trunk (the digit dialed to seize it, e.g. "9") is
// stripped from the dialed digits before matching. Calls without dialed digits (incoming) cost
// nothing unless an incoming row ("вх") of their table says otherwise.
//
// The file format (CSV, one row per tariff) is described in docs/analysis.md.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/money.h"
#include "analysis/status.h"

namespace kordel::analysis {

struct TableFile;

enum class CallKind { Outgoing, Incoming };

struct TariffRow {
  std::string prefix;     // digits; empty for an incoming row
  std::string direction;  // "Местная", "Мобильная", ... (Windows-1251)
  Price pricePerMinute = 0;
  Price connectionFee = 0;
  std::uint32_t step = 60;       // seconds, at least 1
  std::uint32_t firstStep = 60;  // the first step, at least 1
  std::uint32_t freeSeconds = 0;
  std::string trunk;  // empty: the general table
  CallKind kind = CallKind::Outgoing;
  std::string accessCode;   // digits stripped on this row's trunk (or on every trunk); may be empty
  std::size_t fileRow = 0;  // the row of the file it came from, 0 when made in code
};

// The seconds billed for a call of `seconds`: 0 for a call within the free seconds, else the
// first step and then whole steps until the call is covered.
std::uint64_t billedSeconds(const TariffRow& row, std::uint32_t seconds);
// The connection fee plus the price of the billed seconds, rounded half up to minor units;
// 0 within the free seconds.
Money callCost(const TariffRow& row, std::uint32_t seconds);

// The digits of a dialed number: the dialing signs ('*' of a suspicious digit group, '#', P, A
// and T) are dropped.
std::string dialedDigits(std::string_view dialed);

class TariffPlan {
 public:
  // Reads a tariff file (Windows-1251 path). All or nothing: on any error the plan keeps what
  // it had and the message names the row.
  Status load(const std::string& path);
  Status loadBytes(std::string_view bytes);
  // Replaces the plan by these rows, checked as the rows of a file.
  Status setRows(std::vector<TariffRow> rows);
  // The access code of a trunk (empty `trunk`: of every trunk without a code of its own);
  // digits only.
  Status setAccessCode(std::string_view trunk, std::string_view code);

  bool empty() const { return rows_.empty(); }
  const std::vector<TariffRow>& rows() const { return rows_; }

  // The table that prices a trunk's calls: 0 for the general table, 1.. for a trunk's own.
  std::size_t tableOf(std::string_view trunk) const;
  std::string_view accessCodeOf(std::string_view trunk) const;
  // The row for dialed digits (access code already stripped) in a table, or nullptr.
  const TariffRow* matchDigits(std::size_t table, std::string_view digits) const;
  // The row for an outgoing call on a trunk, or nullptr when no prefix matches ("без тарифа").
  const TariffRow* matchOutgoing(std::string_view trunk, std::string_view dialed) const;
  // The incoming row of a trunk's table, or nullptr (incoming calls are then free).
  const TariffRow* matchIncoming(std::string_view trunk) const;
  const TariffRow* incomingRow(std::size_t table) const;

 private:
  struct Table {
    std::string trunk;
    std::string accessCode;
    int incoming = -1;  // row index
    // A trie over the digits: node 0 is the root; row -1 where no prefix ends.
    std::vector<std::array<std::int32_t, 10>> next;
    std::vector<std::int32_t> row;
  };
  struct TrunkCode {
    std::string trunk;
    std::string code;
  };
  static Status build(const std::vector<TariffRow>& rows, std::vector<Table>& tables);
  Status fromTable(const TableFile& file);

  std::vector<TariffRow> rows_;
  std::vector<Table> tables_{Table{}};  // [0] is the general table
  std::vector<TrunkCode> codes_;        // set in code, over those of the rows
};

// The names the tariff file may give its columns (Russian or English), for the documentation
// and the messages.
std::vector<std::string> tariffColumnNames();

}  // namespace kordel::analysis
