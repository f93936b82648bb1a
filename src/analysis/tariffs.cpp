#include "analysis/tariffs.h"

#include <algorithm>

#include "analysis/table_file.h"
#include "files/text_codec.h"

namespace kordel::analysis {

namespace {

enum Column { kPrefix, kDirection, kPrice, kFee, kStep, kFirstStep, kFree, kTrunk, kKind, kCode };

struct ColumnName {
  Column column;
  const char* russian;  // UTF-8, as written in the docs
  const char* english;
};

const ColumnName kColumns[] = {
    {kPrefix, "Префикс", "prefix"},
    {kDirection, "Направление", "direction"},
    {kPrice, "Цена за минуту", "price_per_minute"},
    {kFee, "Плата за соединение", "connection_fee"},
    {kStep, "Шаг", "step"},
    {kFirstStep, "Первый шаг", "first_step"},
    {kFree, "Бесплатно", "free_seconds"},
    {kTrunk, "СЛ", "trunk"},
    {kKind, "Вид", "kind"},
    {kCode, "Код выхода", "access_code"},
};
constexpr std::size_t kColumnCount = sizeof kColumns / sizeof kColumns[0];

std::string rowPrefix(std::size_t row) { return ru("строка ") + std::to_string(row) + ": "; }

bool allDigits(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A whole number of seconds in [min, 10^6].
bool parseSeconds(std::string_view text, std::uint32_t min, std::uint32_t& value) {
  if (text.empty() || text.size() > 7 || !allDigits(text)) return false;
  std::uint32_t v = 0;
  for (char c : text) v = v * 10 + static_cast<std::uint32_t>(c - '0');
  if (v < min || v > 1000000) return false;
  value = v;
  return true;
}

Status rowError(std::size_t row, const std::string& what) {
  return Status::error((row > 0 ? rowPrefix(row) : std::string()) + what);
}

const std::string& kindOut() {
  static const std::string k = ru("исх");
  return k;
}

}  // namespace

std::vector<std::string> tariffColumnNames() {
  std::vector<std::string> names;
  for (const ColumnName& c : kColumns) names.push_back(ru(c.russian));
  return names;
}

std::uint64_t billedSeconds(const TariffRow& row, std::uint32_t seconds) {
  if (seconds <= row.freeSeconds) return 0;
  const std::uint64_t first = row.firstStep;
  if (seconds <= first) return first;
  const std::uint64_t rest = seconds - first;
  const std::uint64_t steps = (rest + row.step - 1) / row.step;
  return first + steps * row.step;
}

Money callCost(const TariffRow& row, std::uint32_t seconds) {
  const std::uint64_t billed = billedSeconds(row, seconds);
  if (billed == 0) return 0;
  // In ten-thousandths times 60: the fee and the price of the billed seconds, then rounded half
  // up to hundredths.
  const std::int64_t scaled =
      row.connectionFee * 60 + row.pricePerMinute * static_cast<std::int64_t>(billed);
  return (scaled + 3000) / 6000;
}

std::string dialedDigits(std::string_view dialed) {
  std::string digits;
  digits.reserve(dialed.size());
  for (char c : dialed) {
    if (c >= '0' && c <= '9') digits += c;
  }
  return digits;
}

Status TariffPlan::build(const std::vector<TariffRow>& rows, std::vector<Table>& tables) {
  tables.assign(1, Table{});
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const TariffRow& r = rows[i];
    if (!allDigits(r.prefix)) {
      return rowError(r.fileRow,
                      ru("префикс ") + quoteForMessage(r.prefix) + ru(" должен состоять из цифр"));
    }
    if (r.kind == CallKind::Outgoing && r.prefix.empty()) {
      return rowError(r.fileRow, ru("нет префикса (пустой префикс бывает только у входящих)"));
    }
    if (r.kind == CallKind::Incoming && !r.prefix.empty()) {
      return rowError(r.fileRow, ru("у входящего тарифа не бывает префикса"));
    }
    if (r.direction.empty()) return rowError(r.fileRow, ru("нет названия направления"));
    if (r.step < 1 || r.firstStep < 1) return rowError(r.fileRow, ru("шаг меньше 1 секунды"));
    if (r.pricePerMinute < 0 || r.connectionFee < 0) {
      return rowError(r.fileRow, ru("цена не может быть отрицательной"));
    }
    if (!allDigits(r.accessCode)) {
      return rowError(r.fileRow, ru("код выхода ") + quoteForMessage(r.accessCode) +
                                     ru(" должен состоять из цифр"));
    }
    auto table = std::find_if(tables.begin(), tables.end(),
                              [&](const Table& t) { return t.trunk == r.trunk; });
    if (r.trunk.empty()) table = tables.begin();
    if (table == tables.end()) {
      tables.push_back(Table{});
      table = tables.end() - 1;
      table->trunk = r.trunk;
    }
    if (!r.accessCode.empty()) {
      if (!table->accessCode.empty() && table->accessCode != r.accessCode) {
        return rowError(r.fileRow, ru("другой код выхода для того же СЛ: ") +
                                       quoteForMessage(r.accessCode) + ru(" и ") +
                                       quoteForMessage(table->accessCode));
      }
      table->accessCode = r.accessCode;
    }
    if (table->next.empty()) {
      table->next.push_back({});
      table->next.back().fill(-1);
      table->row.push_back(-1);
    }
    const auto index = static_cast<std::int32_t>(i);
    if (r.kind == CallKind::Incoming) {
      if (table->incoming >= 0) {
        return rowError(
            r.fileRow, ru("второй входящий тариф для того же СЛ (первый: строка ") +
                           std::to_string(rows[static_cast<std::size_t>(table->incoming)].fileRow) +
                           ")");
      }
      table->incoming = index;
      continue;
    }
    std::size_t node = 0;
    for (char c : r.prefix) {
      const auto digit = static_cast<std::size_t>(c - '0');
      if (table->next[node][digit] < 0) {
        table->next[node][digit] = static_cast<std::int32_t>(table->next.size());
        table->next.push_back({});
        table->next.back().fill(-1);
        table->row.push_back(-1);
      }
      node = static_cast<std::size_t>(table->next[node][digit]);
    }
    if (table->row[node] >= 0) {
      return rowError(r.fileRow,
                      ru("префикс ") + quoteForMessage(r.prefix) + ru(" уже есть в строке ") +
                          std::to_string(rows[static_cast<std::size_t>(table->row[node])].fileRow));
    }
    table->row[node] = index;
  }
  return Status();
}

Status TariffPlan::setRows(std::vector<TariffRow> rows) {
  std::vector<Table> tables;
  Status status = build(rows, tables);
  if (!status.ok()) return status;
  rows_ = std::move(rows);
  tables_ = std::move(tables);
  return Status();
}

Status TariffPlan::setAccessCode(std::string_view trunk, std::string_view code) {
  if (!allDigits(code)) {
    return Status::error(ru("код выхода ") + quoteForMessage(code) +
                         ru(" должен состоять из цифр"));
  }
  for (TrunkCode& c : codes_) {
    if (c.trunk == trunk) {
      c.code = code;
      return Status();
    }
  }
  codes_.push_back(TrunkCode{std::string(trunk), std::string(code)});
  return Status();
}

Status TariffPlan::loadBytes(std::string_view bytes) {
  TableFile file;
  Status status = parseTableFile(bytes, file);
  return status.ok() ? fromTable(file) : status;
}

Status TariffPlan::load(const std::string& path) {
  TableFile file;
  Status status = readTableFile(path, file);
  if (status.ok()) status = fromTable(file);
  if (status.ok()) return status;
  return Status::error(ru("Тарифы \"") + path + "\": " + status.message());
}

Status TariffPlan::fromTable(const TableFile& file) {
  int where[kColumnCount];
  std::fill(std::begin(where), std::end(where), -1);
  for (std::size_t c = 0; c < file.header.size(); ++c) {
    const std::string key = columnKey(file.header[c]);
    bool known = false;
    for (const ColumnName& name : kColumns) {
      if (key == columnKey(ru(name.russian)) || key == columnKey(name.english)) {
        if (where[name.column] >= 0) {
          return Status::error(ru("столбец ") + quoteForMessage(file.header[c]) +
                               ru(" встречается дважды"));
        }
        where[name.column] = static_cast<int>(c);
        known = true;
      }
    }
    if (!known && !file.header[c].empty()) {
      return Status::error(ru("неизвестный столбец ") + quoteForMessage(file.header[c]));
    }
  }
  for (Column required : {kPrefix, kDirection, kPrice}) {
    if (where[required] < 0) {
      return Status::error(ru("нет столбца ") + quoteForMessage(ru(kColumns[required].russian)));
    }
  }
  std::vector<TariffRow> rows;
  for (const TableRow& line : file.rows) {
    auto cell = [&](Column c) -> const std::string& {
      static const std::string kEmpty;
      return where[c] >= 0 ? line.cells[static_cast<std::size_t>(where[c])] : kEmpty;
    };
    TariffRow r;
    r.fileRow = line.number;
    r.prefix = cell(kPrefix);
    r.direction = cell(kDirection);
    r.trunk = cell(kTrunk);
    r.accessCode = cell(kCode);
    if (!parseDecimal(cell(kPrice), kPriceDigits, r.pricePerMinute)) {
      return rowError(line.number, ru("цена за минуту ") + quoteForMessage(cell(kPrice)) +
                                       ru(" не является числом (пример: 1,50)"));
    }
    if (!cell(kFee).empty() && !parseDecimal(cell(kFee), kPriceDigits, r.connectionFee)) {
      return rowError(line.number, ru("плата за соединение ") + quoteForMessage(cell(kFee)) +
                                       ru(" не является числом"));
    }
    if (!cell(kStep).empty() && !parseSeconds(cell(kStep), 1, r.step)) {
      return rowError(line.number, ru("шаг ") + quoteForMessage(cell(kStep)) +
                                       ru(" не является целым числом секунд от 1"));
    }
    r.firstStep = r.step;
    if (!cell(kFirstStep).empty() && !parseSeconds(cell(kFirstStep), 1, r.firstStep)) {
      return rowError(line.number, ru("первый шаг ") + quoteForMessage(cell(kFirstStep)) +
                                       ru(" не является целым числом секунд от 1"));
    }
    if (!cell(kFree).empty() && !parseSeconds(cell(kFree), 0, r.freeSeconds)) {
      return rowError(line.number, ru("бесплатные секунды ") + quoteForMessage(cell(kFree)) +
                                       ru(" не являются целым числом"));
    }
    const std::string kind = columnKey(cell(kKind));
    if (kind.empty() || kind == kindOut() || kind == ru("исходящий") || kind == "out" ||
        kind == "outgoing") {
      r.kind = CallKind::Outgoing;
    } else if (kind == ru("вх") || kind == ru("входящий") || kind == "in" || kind == "incoming") {
      r.kind = CallKind::Incoming;
    } else {
      return rowError(line.number,
                      ru("вид ") + quoteForMessage(cell(kKind)) + ru(" не \"исх\" и не \"вх\""));
    }
    rows.push_back(std::move(r));
  }
  return setRows(std::move(rows));
}

std::size_t TariffPlan::tableOf(std::string_view trunk) const {
  for (std::size_t t = 1; t < tables_.size(); ++t) {
    if (tables_[t].trunk == trunk) return t;
  }
  return 0;
}

std::string_view TariffPlan::accessCodeOf(std::string_view trunk) const {
  for (const TrunkCode& c : codes_) {
    if (!c.trunk.empty() && c.trunk == trunk) return c.code;
  }
  const std::size_t own = tableOf(trunk);
  if (own != 0 && !tables_[own].accessCode.empty()) return tables_[own].accessCode;
  for (const TrunkCode& c : codes_) {
    if (c.trunk.empty()) return c.code;
  }
  return tables_[0].accessCode;
}

const TariffRow* TariffPlan::matchDigits(std::size_t table, std::string_view digits) const {
  const Table& t = tables_[table];
  if (t.next.empty()) return nullptr;
  std::int32_t best = -1;
  std::size_t node = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') break;
    const std::int32_t next = t.next[node][static_cast<std::size_t>(c - '0')];
    if (next < 0) break;
    node = static_cast<std::size_t>(next);
    if (t.row[node] >= 0) best = t.row[node];
  }
  return best >= 0 ? &rows_[static_cast<std::size_t>(best)] : nullptr;
}

const TariffRow* TariffPlan::matchOutgoing(std::string_view trunk, std::string_view dialed) const {
  std::string digits = dialedDigits(dialed);
  const std::string_view code = accessCodeOf(trunk);
  std::string_view rest = digits;
  if (!code.empty() && rest.starts_with(code)) rest.remove_prefix(code.size());
  return matchDigits(tableOf(trunk), rest);
}

const TariffRow* TariffPlan::incomingRow(std::size_t table) const {
  const int row = tables_[table].incoming;
  return row >= 0 ? &rows_[static_cast<std::size_t>(row)] : nullptr;
}

const TariffRow* TariffPlan::matchIncoming(std::string_view trunk) const {
  return incomingRow(tableOf(trunk));
}

}  // namespace kordel::analysis
