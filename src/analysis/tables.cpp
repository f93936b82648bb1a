#include "analysis/tables.h"

#include "files/text_codec.h"

namespace kordel::analysis {

namespace {

struct KindName {
  TableKind kind;
  const char* key;
  const char* title;  // UTF-8
};

const KindName kKinds[] = {
    {TableKind::Summary, "summary", "Итого"},
    {TableKind::Extensions, "extensions", "По абонентам"},
    {TableKind::Departments, "departments", "По отделам"},
    {TableKind::TopDepartments, "top_departments", "По отделам верхнего уровня"},
    {TableKind::Directions, "directions", "По направлениям"},
    {TableKind::Trunks, "trunks", "По СЛ"},
    {TableKind::Longest, "longest", "Самые длинные звонки"},
    {TableKind::Costliest, "costliest", "Самые дорогие звонки"},
    {TableKind::Numbers, "numbers", "Чаще всего набирали"},
    {TableKind::Hours, "hours", "По часам суток"},
    {TableKind::Days, "days", "По дням"},
    {TableKind::TrunkLoad, "trunk_load", "Нагрузка СЛ по получасам"},
};

Column col(const char* key, const char* titleUtf8, CellType type) {
  return Column{key, ru(titleUtf8), type};
}

Cell text(const std::string& t) { return Cell::ofText(t); }
Cell integer(std::uint64_t n) { return Cell::of(CellType::Integer, static_cast<std::int64_t>(n)); }
Cell seconds(std::int64_t s) { return Cell::of(CellType::Seconds, s); }
Cell money(Money m) { return Cell::of(CellType::Money, m); }
Cell dateTime(const std::optional<WallTime>& t) {
  return t ? Cell::of(CellType::DateTime, *t) : Cell::ofText(std::string());
}

// The columns of the totals shared by several tables, and their cells.
void totalsColumns(std::vector<Column>& c, bool split, bool unpriced) {
  c.push_back(col("calls", "Звонков", CellType::Integer));
  if (split) {
    c.push_back(col("outgoing", "Исходящих", CellType::Integer));
    c.push_back(col("incoming", "Входящих", CellType::Integer));
  }
  c.push_back(col("duration", "Длительность", CellType::Seconds));
  c.push_back(col("cost", "Стоимость", CellType::Money));
  if (unpriced) c.push_back(col("unpriced", "Без тарифа", CellType::Integer));
}
void totalsCells(std::vector<Cell>& row, const Totals& t, bool split, bool unpriced) {
  row.push_back(integer(t.calls));
  if (split) {
    row.push_back(integer(t.outgoingCalls));
    row.push_back(integer(t.incomingCalls));
  }
  row.push_back(seconds(t.seconds));
  row.push_back(money(t.cost));
  if (unpriced) row.push_back(integer(t.unpricedCalls));
}

void callTable(ResultTable& t, const std::vector<CallRow>& calls) {
  t.columns = {col("start", "Начало", CellType::DateTime),
               col("duration", "Длительность", CellType::Seconds),
               col("extension", "Абонент", CellType::Text),
               col("name", "Имя", CellType::Text),
               col("department", "Отдел", CellType::Text),
               col("trunk", "СЛ", CellType::Text),
               col("number", "Номер", CellType::Text),
               col("direction", "Направление", CellType::Text),
               col("billed", "Оплачено", CellType::Seconds),
               col("cost", "Стоимость", CellType::Money),
               col("marks", "Отметки", CellType::Text)};
  for (const CallRow& c : calls) {
    t.rows.push_back({Cell::of(CellType::DateTime, c.start), seconds(c.duration), text(c.extension),
                      text(c.name), text(c.department), text(c.trunk), text(c.number),
                      text(c.direction), seconds(static_cast<std::int64_t>(c.billedSeconds)),
                      money(c.cost), text(marksText(c.marks))});
  }
}

void seriesTable(ResultTable& t, const std::vector<SeriesPoint>& points, Column first) {
  t.columns = {std::move(first)};
  totalsColumns(t.columns, false, false);
  for (const SeriesPoint& p : points) {
    t.rows.push_back(
        {Cell::of(t.columns[0].type, p.key), integer(p.calls), seconds(p.seconds), money(p.cost)});
  }
}

void groupTable(ResultTable& t, const std::vector<GroupRow>& groups, Column first,
                bool withExtensions) {
  t.columns = {std::move(first)};
  if (withExtensions) t.columns.push_back(col("extensions", "Абонентов", CellType::Integer));
  totalsColumns(t.columns, true, true);
  for (const GroupRow& g : groups) {
    std::vector<Cell> row{text(g.name)};
    if (withExtensions) row.push_back(integer(g.extensions));
    totalsCells(row, g.totals, true, true);
    t.rows.push_back(std::move(row));
  }
}

}  // namespace

const char* tableKey(TableKind kind) {
  for (const KindName& k : kKinds) {
    if (k.kind == kind) return k.key;
  }
  return "";
}

bool tableKindOf(std::string_view key, TableKind& kind) {
  for (const KindName& k : kKinds) {
    if (key == k.key) {
      kind = k.kind;
      return true;
    }
  }
  return false;
}

ResultTable makeTable(TableKind kind, const AnalysisResult& r, const SourceInfo& source) {
  ResultTable t;
  for (const KindName& k : kKinds) {
    if (k.kind == kind) {
      t.key = k.key;
      t.title = ru(k.title);
    }
  }
  switch (kind) {
    case TableKind::Summary: {
      t.columns = {col("first_call", "Первый звонок", CellType::DateTime),
                   col("last_call", "Последний звонок", CellType::DateTime)};
      totalsColumns(t.columns, true, true);
      t.columns.push_back(col("outgoing_duration", "Длительность исходящих", CellType::Seconds));
      t.columns.push_back(col("incoming_duration", "Длительность входящих", CellType::Seconds));
      t.columns.push_back(col("marked", "С отметками *", CellType::Integer));
      t.columns.push_back(col("files", "Файлов", CellType::Integer));
      t.columns.push_back(col("duplicates", "Повторных строк", CellType::Integer));
      t.columns.push_back(col("bad_lines", "Непрочитанных строк", CellType::Integer));
      std::vector<Cell> row{dateTime(r.firstStart), dateTime(r.lastStart)};
      totalsCells(row, r.totals, true, true);
      row.push_back(seconds(r.totals.outgoingSeconds));
      row.push_back(seconds(r.totals.incomingSeconds));
      row.push_back(integer(r.totals.markedCalls));
      row.push_back(integer(source.files));
      row.push_back(integer(source.duplicates));
      row.push_back(integer(source.badLines));
      t.rows.push_back(std::move(row));
      break;
    }
    case TableKind::Extensions:
      t.columns = {col("extension", "Абонент", CellType::Text), col("name", "Имя", CellType::Text),
                   col("department", "Отдел", CellType::Text)};
      totalsColumns(t.columns, true, true);
      t.columns.push_back(col("marked", "С отметками *", CellType::Integer));
      for (const ExtensionRow& e : r.extensions) {
        std::vector<Cell> row{text(e.extension), text(e.name), text(e.department)};
        totalsCells(row, e.totals, true, true);
        row.push_back(integer(e.totals.markedCalls));
        t.rows.push_back(std::move(row));
      }
      break;
    case TableKind::Departments:
      groupTable(t, r.departments, col("department", "Отдел", CellType::Text), true);
      break;
    case TableKind::TopDepartments:
      groupTable(t, r.topDepartments, col("department", "Отдел", CellType::Text), true);
      break;
    case TableKind::Directions:
      t.columns = {col("direction", "Направление", CellType::Text)};
      totalsColumns(t.columns, false, false);
      for (const GroupRow& g : r.directions) {
        std::vector<Cell> row{text(g.name)};
        totalsCells(row, g.totals, false, false);
        t.rows.push_back(std::move(row));
      }
      break;
    case TableKind::Trunks: {
      t.columns = {col("trunk", "СЛ", CellType::Text)};
      totalsColumns(t.columns, true, false);
      t.columns.push_back(col("peak", "Наибольшая нагрузка", CellType::Integer));
      t.columns.push_back(col("peak_at", "Получас наибольшей нагрузки", CellType::DateTime));
      for (std::size_t i = 0; i < r.trunks.size(); ++i) {
        std::vector<Cell> row{text(r.trunks[i].name)};
        totalsCells(row, r.trunks[i].totals, true, false);
        const TrunkLoad* load = i < r.trunkLoad.size() ? &r.trunkLoad[i] : nullptr;
        row.push_back(load ? integer(load->peak) : text(std::string()));
        row.push_back(load && load->peak > 0 ? Cell::of(CellType::DateTime, load->peakSlot)
                                             : text(std::string()));
        t.rows.push_back(std::move(row));
      }
      break;
    }
    case TableKind::Longest:
      callTable(t, r.longest);
      break;
    case TableKind::Costliest:
      callTable(t, r.costliest);
      break;
    case TableKind::Numbers:
      t.columns = {col("number", "Номер", CellType::Text),
                   col("direction", "Направление", CellType::Text)};
      totalsColumns(t.columns, false, false);
      for (const NumberRow& n : r.mostDialed) {
        t.rows.push_back({text(n.number), text(n.direction), integer(n.calls), seconds(n.seconds),
                          money(n.cost)});
      }
      break;
    case TableKind::Hours:
      seriesTable(t, r.byHour, col("hour", "Час", CellType::Integer));
      break;
    case TableKind::Days:
      seriesTable(t, r.byDay, col("date", "Дата", CellType::Date));
      break;
    case TableKind::TrunkLoad:
      t.columns = {col("trunk", "СЛ", CellType::Text),
                   col("half_hour", "Получас", CellType::DateTime),
                   col("calls_at_once", "Одновременно", CellType::Integer)};
      for (const TrunkLoad& load : r.trunkLoad) {
        for (const LoadSlot& s : load.halfHours) {
          t.rows.push_back(
              {text(load.trunk), Cell::of(CellType::DateTime, s.start), integer(s.peak)});
        }
      }
      break;
  }
  return t;
}

std::vector<ResultTable> makeTables(const std::vector<TableKind>& kinds,
                                    const AnalysisResult& result, const SourceInfo& source) {
  std::vector<ResultTable> tables;
  for (TableKind kind : kinds) tables.push_back(makeTable(kind, result, source));
  return tables;
}

}  // namespace kordel::analysis
