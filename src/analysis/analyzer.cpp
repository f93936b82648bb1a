#include "analysis/analyzer.h"

#include <algorithm>
#include <array>
#include <functional>
#include <limits>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "files/text_codec.h"

namespace kordel::analysis {

namespace {

constexpr std::int64_t kSlotSeconds = 1800;
constexpr std::size_t kCancelCheck = 1 << 16;

// Numbers compare by value, other texts byte by byte: "2" before "10", "10" before "1a".
bool naturalLess(std::string_view a, std::string_view b) {
  auto isNumber = [](std::string_view s) {
    return !s.empty() && s.size() < 19 &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  const bool na = isNumber(a), nb = isNumber(b);
  if (na && nb) {
    const long long x = std::stoll(std::string(a)), y = std::stoll(std::string(b));
    if (x != y) return x < y;
    return a < b;
  }
  if (na != nb) return na;
  return a < b;
}

std::uint32_t internName(std::vector<std::string>& names,
                         std::unordered_map<std::string, std::uint32_t>& index,
                         const std::string& name) {
  const auto [it, added] = index.emplace(name, static_cast<std::uint32_t>(names.size()));
  if (added) names.push_back(name);
  return it->second;
}

// Runs work(k) for k in [0, count) on up to `threads` threads, this one among them.
template <typename Work>
void parallelFor(std::size_t count, unsigned threads, Work work) {
  const std::size_t workers = std::min<std::size_t>(std::max(threads, 1u), count);
  auto share = [&](std::size_t w) {
    for (std::size_t k = w; k < count; k += workers) work(k);
  };
  std::vector<std::thread> pool;
  for (std::size_t w = 1; w < workers; ++w) pool.emplace_back(share, w);
  if (workers > 0) share(0);
  for (std::thread& t : pool) t.join();
}

void addCall(Totals& t, const Call& call, Money cost, bool unpriced) {
  ++t.calls;
  t.seconds += call.duration;
  t.cost += cost;
  if (call.incoming()) {
    ++t.incomingCalls;
    t.incomingSeconds += call.duration;
  } else {
    ++t.outgoingCalls;
    t.outgoingSeconds += call.duration;
  }
  if (unpriced) ++t.unpricedCalls;
  if (call.marks != 0) ++t.markedCalls;
}

}  // namespace

void Totals::add(const Totals& o) {
  calls += o.calls;
  outgoingCalls += o.outgoingCalls;
  incomingCalls += o.incomingCalls;
  seconds += o.seconds;
  outgoingSeconds += o.outgoingSeconds;
  incomingSeconds += o.incomingSeconds;
  cost += o.cost;
  unpricedCalls += o.unpricedCalls;
  markedCalls += o.markedCalls;
}

const std::string& unpricedDirection() {
  static const std::string k = ru("без тарифа");
  return k;
}
const std::string& incomingDirection() {
  static const std::string k = ru("входящий");
  return k;
}
const std::string& outsideDirectory() {
  static const std::string k = ru("вне справочника");
  return k;
}
const std::string& noDepartment() {
  static const std::string k = ru("без отдела");
  return k;
}

std::string hideDigits(std::string_view number, int hidden) {
  std::string out(number);
  for (std::size_t i = out.size(); i > 0 && hidden > 0; --i) {
    if (out[i - 1] >= '0' && out[i - 1] <= '9') {
      out[i - 1] = 'x';
      --hidden;
    }
  }
  return out;
}

std::string marksText(std::uint8_t marks) {
  static const std::string kNumber = ru("номер*"), kDate = ru("дата*"), kTime = ru("время*"),
                           kDuration = ru("длит.*");
  std::string out;
  auto add = [&](std::uint8_t bit, const std::string& text) {
    if ((marks & bit) == 0) return;
    if (!out.empty()) out += ' ';
    out += text;
  };
  add(kMarkedNumber, kNumber);
  add(kMarkedDate, kDate);
  add(kMarkedTime, kTime);
  add(kMarkedDuration, kDuration);
  return out;
}

// ---- Preparation -----------------------------------------------------------------------------

Analyzer::Analyzer(const CallStore& store, const TariffPlan& tariffs, const Directory& directory,
                   AnalysisOptions options)
    : store_(store), tariffs_(tariffs), directory_(directory), options_(std::move(options)) {
  const Filter& filter = options_.filter;
  const std::uint32_t programmedCount = store_.programmed().size();
  const std::uint32_t hardwareCount = store_.hardware().size();
  static const std::string kHardwarePrefix = ru("апп.");

  // Extension slots and who they are.
  std::unordered_map<std::string, std::uint32_t> departmentIndex, topIndex;
  internName(departmentNames_, departmentIndex, outsideDirectory());
  internName(departmentNames_, departmentIndex, noDepartment());
  internName(topNames_, topIndex, outsideDirectory());
  internName(topNames_, topIndex, noDepartment());
  const std::size_t slots = std::size_t{programmedCount} + hardwareCount;
  slotText_.resize(slots);
  slotPerson_.assign(slots, -1);
  slotDepartment_.assign(slots, 0);
  slotTop_.assign(slots, 0);
  for (std::size_t s = 0; s < slots; ++s) {
    const bool isHardware = s >= programmedCount;
    const std::string_view text =
        isHardware ? store_.hardware().text(static_cast<std::uint32_t>(s - programmedCount))
                   : store_.programmed().text(static_cast<std::uint32_t>(s));
    const bool keyed = (options_.key == ExtensionKey::Hardware) == isHardware;
    slotText_[s] = keyed ? std::string(text) : kHardwarePrefix + std::string(text);
    const Person* person = directory_.find(slotText_[s]);
    if (person == nullptr) continue;
    slotPerson_[s] = static_cast<std::int32_t>(person - directory_.people().data());
    if (!person->department.empty()) {
      slotDepartment_[s] = internName(departmentNames_, departmentIndex, person->department);
      slotTop_[s] = internName(topNames_, topIndex, person->topDepartment);
    } else {
      slotDepartment_[s] = slotTop_[s] = 1;
    }
  }

  // Filters.
  std::unordered_set<std::string> extensions(filter.extensions.begin(), filter.extensions.end());
  std::vector<std::string> departments;
  for (const std::string& d : filter.departments) {
    std::string department, top;
    departments.push_back(normalizeDepartment(d, department, top) ? department : d);
  }
  slotAllowed_.assign(slots, true);
  for (std::size_t s = 0; s < slots; ++s) {
    if (!extensions.empty() && extensions.count(slotText_[s]) == 0) slotAllowed_[s] = false;
    if (!departments.empty()) {
      const std::string& d = departmentNames_[slotDepartment_[s]];
      const std::string& t = topNames_[slotTop_[s]];
      const bool in = std::any_of(departments.begin(), departments.end(),
                                  [&](const std::string& x) { return x == d || x == t; });
      if (!in) slotAllowed_[s] = false;
    }
  }
  const std::uint32_t trunkCount = store_.trunks().size();
  trunkAllowed_.assign(trunkCount, filter.trunks.empty());
  for (const std::string& t : filter.trunks) {
    const std::int64_t id = store_.trunks().find(t);
    if (id >= 0) trunkAllowed_[static_cast<std::size_t>(id)] = true;
  }
  const std::uint32_t numberCount = store_.numbers().size();
  numberAllowed_.assign(numberCount, true);
  if (!filter.numberPrefix.empty()) {
    const std::string prefix = dialedDigits(filter.numberPrefix);
    for (std::uint32_t n = 0; n < numberCount; ++n) {
      numberAllowed_[n] = n != 0 && dialedDigits(store_.numbers().text(n)).starts_with(prefix);
    }
  }

  // Pricing contexts: one per table and access code in use.
  directionNames_ = {unpricedDirection(), incomingDirection()};
  std::unordered_map<std::string, std::uint32_t> directionIndex{{unpricedDirection(), 0},
                                                                {incomingDirection(), 1}};
  for (const TariffRow& row : tariffs_.rows()) {
    rowDirection_.push_back(
        static_cast<std::int32_t>(internName(directionNames_, directionIndex, row.direction)));
  }
  std::vector<std::string> contextCode;
  trunkContext_.resize(trunkCount);
  for (std::uint32_t t = 0; t < trunkCount; ++t) {
    const std::string_view trunk = store_.trunks().text(t);
    const std::size_t table = tariffs_.tableOf(trunk);
    const std::string code(tariffs_.accessCodeOf(trunk));
    std::size_t c = 0;
    while (c < contextTable_.size() && (contextTable_[c] != table || contextCode[c] != code)) ++c;
    if (c == contextTable_.size()) {
      contextTable_.push_back(table);
      contextCode.push_back(code);
    }
    trunkContext_[t] = static_cast<std::uint32_t>(c);
  }
  const TariffRow* firstRow = tariffs_.rows().empty() ? nullptr : tariffs_.rows().data();
  auto rowIndex = [firstRow](const TariffRow* row) {
    return row == nullptr ? -1 : static_cast<std::int32_t>(row - firstRow);
  };
  contextRow_.resize(contextTable_.size());
  for (std::size_t c = 0; c < contextTable_.size(); ++c) {
    std::vector<std::int32_t>& rows = contextRow_[c];
    rows.assign(numberCount, -1);
    rows[0] = rowIndex(tariffs_.incomingRow(contextTable_[c]));
    if (tariffs_.empty()) continue;
    for (std::uint32_t n = 1; n < numberCount; ++n) {
      const std::string digits = dialedDigits(store_.numbers().text(n));
      std::string_view rest = digits;
      if (!contextCode[c].empty() && rest.starts_with(contextCode[c])) {
        rest.remove_prefix(contextCode[c].size());
      }
      rows[n] = rowIndex(tariffs_.matchDigits(contextTable_[c], rest));
    }
  }
}

std::uint32_t Analyzer::slotOf(const Call& call) const {
  const std::uint32_t programmedCount = store_.programmed().size();
  if (options_.key == ExtensionKey::Hardware || call.programmed == 0) {
    return programmedCount + call.hardware;
  }
  return call.programmed;
}

std::string Analyzer::extensionOf(const Call& call) const { return slotText_[slotOf(call)]; }

bool Analyzer::matches(const Call& call) const {
  const Filter& f = options_.filter;
  if (f.from && call.start < *f.from) return false;
  if (f.to && call.start >= *f.to) return false;
  if (f.direction == Direction::Incoming && !call.incoming()) return false;
  if (f.direction == Direction::Outgoing && call.incoming()) return false;
  if (call.duration < f.minDuration) return false;
  if (!trunkAllowed_[call.trunk] || !numberAllowed_[call.number]) return false;
  return slotAllowed_[slotOf(call)];
}

Analyzer::Price Analyzer::priceOf(const Call& call) const {
  Price p;
  p.row = contextRow_[trunkContext_[call.trunk]][call.number];
  if (p.row < 0) {
    p.direction = call.incoming() ? 1 : 0;
    return p;
  }
  const TariffRow& row = tariffs_.rows()[static_cast<std::size_t>(p.row)];
  p.direction = rowDirection_[static_cast<std::size_t>(p.row)];
  p.billed = billedSeconds(row, call.duration);
  p.cost = callCost(row, call.duration);
  return p;
}

CallRow Analyzer::describe(std::uint32_t index) const {
  const Call& call = store_[index];
  const Price price = priceOf(call);
  CallRow row;
  row.index = index;
  row.start = call.start;
  row.duration = call.duration;
  const std::uint32_t slot = slotOf(call);
  row.extension = slotText_[slot];
  if (slotPerson_[slot] >= 0) {
    row.name = directory_.people()[static_cast<std::size_t>(slotPerson_[slot])].name;
  }
  row.department = departmentNames_[slotDepartment_[slot]];
  row.trunk = std::string(store_.trunks().text(call.trunk));
  row.number = hideDigits(store_.numbers().text(call.number), options_.hiddenDigits);
  row.direction = directionNames_[static_cast<std::size_t>(price.direction)];
  row.billedSeconds = price.billed;
  row.cost = price.cost;
  row.marks = call.marks;
  row.incoming = call.incoming();
  return row;
}

std::vector<std::uint32_t> Analyzer::matchingCalls() const {
  std::vector<std::uint32_t> out;
  std::size_t index = 0;
  for (std::size_t p = 0; p < store_.partCount(); ++p) {
    for (const Call& call : store_.part(p)) {
      if (matches(call)) out.push_back(static_cast<std::uint32_t>(index));
      ++index;
    }
  }
  std::stable_sort(out.begin(), out.end(), [this](std::uint32_t a, std::uint32_t b) {
    return store_[a].start < store_[b].start;
  });
  return out;
}

bool Analyzer::contentLess(std::uint32_t a, std::uint32_t b) const {
  const Call& x = store_[a];
  const Call& y = store_[b];
  if (x.start != y.start) return x.start < y.start;
  if (x.duration != y.duration) return x.duration < y.duration;
  const int ext = slotText_[slotOf(x)].compare(slotText_[slotOf(y)]);
  if (ext != 0) return ext < 0;
  const int num = store_.numbers().text(x.number).compare(store_.numbers().text(y.number));
  if (num != 0) return num < 0;
  const int tr = store_.trunks().text(x.trunk).compare(store_.trunks().text(y.trunk));
  if (tr != 0) return tr < 0;
  if (x.marks != y.marks) return x.marks < y.marks;
  return a < b;  // the same call in every shown column
}

// ---- The run ---------------------------------------------------------------------------------

namespace {

struct NumberStat {
  std::uint64_t calls = 0;
  std::int64_t seconds = 0;
  Money cost = 0;
  std::int32_t direction = 0;
};

struct Candidate {
  std::uint32_t index = 0;
  std::int64_t key = 0;  // greater is better
  Money cost = 0;
};

}  // namespace

struct Analyzer::Part {
  std::vector<Totals> bySlot, byTrunk, byDirection;
  std::vector<NumberStat, LargeAllocator<NumberStat>> byNumber;
  Totals total;
  std::array<SeriesPoint, 24> hours{};
  std::unordered_map<std::int64_t, SeriesPoint> days;
  std::vector<Candidate> longest, costliest;  // heaps, worst on top
  std::optional<WallTime> first, last;
  WallTime lastEnd = 0;  // the last second occupied by any call counted
  bool cancelled = false;
};

void Analyzer::runPart(std::span<const Call> calls, std::size_t firstIndex, Part& part,
                       const std::atomic<bool>* cancel) const {
  part.bySlot.assign(slotText_.size(), Totals{});
  part.byTrunk.assign(store_.trunks().size(), Totals{});
  part.byDirection.assign(directionNames_.size(), Totals{});
  part.byNumber.assign(store_.numbers().size(), NumberStat{});
  for (std::size_t h = 0; h < 24; ++h) part.hours[h].key = static_cast<std::int64_t>(h);
  const std::size_t top = options_.topCount;
  // The heaps keep the worst candidate on top.
  auto better = [this](const Candidate& a, const Candidate& b) {
    return a.key != b.key ? a.key > b.key : contentLess(a.index, b.index);
  };
  auto offer = [&](std::vector<Candidate>& heap, const Candidate& c) {
    if (top == 0) return;
    if (heap.size() < top) {
      heap.push_back(c);
      std::push_heap(heap.begin(), heap.end(), better);
    } else if (better(c, heap.front())) {
      std::pop_heap(heap.begin(), heap.end(), better);
      heap.back() = c;
      std::push_heap(heap.begin(), heap.end(), better);
    }
  };
  std::int64_t lastDay = std::numeric_limits<std::int64_t>::min();
  SeriesPoint* day = nullptr;
  for (std::size_t i = 0; i < calls.size(); ++i) {
    if (i % kCancelCheck == 0 && cancel != nullptr && cancel->load(std::memory_order_relaxed)) {
      part.cancelled = true;
      return;
    }
#if defined(__GNUC__)
    // The tariff row and the statistics of a number are far apart in memory: ask for those of
    // a call a little ahead.
    if (i + 8 < calls.size()) {
      const Call& ahead = calls[i + 8];
      __builtin_prefetch(&contextRow_[trunkContext_[ahead.trunk]][ahead.number]);
      __builtin_prefetch(&part.byNumber[ahead.number], 1);
    }
#endif
    const Call& call = calls[i];
    if (!matches(call)) continue;
    const Price price = priceOf(call);
    const bool unpriced = price.row < 0 && !call.incoming();
    addCall(part.total, call, price.cost, unpriced);
    addCall(part.bySlot[slotOf(call)], call, price.cost, unpriced);
    addCall(part.byTrunk[call.trunk], call, price.cost, unpriced);
    addCall(part.byDirection[static_cast<std::size_t>(price.direction)], call, price.cost,
            unpriced);
    if (!call.incoming()) {
      NumberStat& n = part.byNumber[call.number];
      ++n.calls;
      n.seconds += call.duration;
      n.cost += price.cost;
      n.direction = price.direction;
    }
    const std::int64_t dayStart = floorDiv(call.start, kSecondsPerDay) * kSecondsPerDay;
    SeriesPoint& hour = part.hours[static_cast<std::size_t>((call.start - dayStart) / 3600)];
    ++hour.calls;
    hour.seconds += call.duration;
    hour.cost += price.cost;
    if (dayStart != lastDay) {
      day = &part.days[dayStart];
      day->key = dayStart;
      lastDay = dayStart;
    }
    ++day->calls;
    day->seconds += call.duration;
    day->cost += price.cost;
    if (!part.first || call.start < *part.first) part.first = call.start;
    if (!part.last || call.start > *part.last) part.last = call.start;
    part.lastEnd =
        std::max(part.lastEnd, call.start + std::max<std::int64_t>(call.duration, 1) - 1);
    const auto index = static_cast<std::uint32_t>(firstIndex + i);
    offer(part.longest, Candidate{index, call.duration, price.cost});
    offer(part.costliest, Candidate{index, price.cost, price.cost});
  }
}

AnalysisResult Analyzer::run(const std::atomic<bool>* cancel) const {
  AnalysisResult result;
  // The calls in pieces of about equal size, one per thread.
  unsigned threads = options_.threads;
  if (threads == 0) {
    threads = std::thread::hardware_concurrency();
    if (store_.size() < 100000) threads = 1;  // not worth a thread
  }
  threads = std::clamp(threads, 1u, 2u);
  // Pieces of at most an equal share each, within the parts of the store.
  std::vector<Piece> pieces;
  const std::size_t per = std::max<std::size_t>(1, (store_.size() + threads - 1) / threads);
  std::size_t index = 0;
  for (std::size_t p = 0; p < store_.partCount(); ++p) {
    for (std::span<const Call> rest = store_.part(p); !rest.empty();) {
      const std::size_t take = std::min(rest.size(), per);
      pieces.push_back(Piece{rest.first(take), index});
      index += take;
      rest = rest.subspan(take);
    }
  }
  std::vector<Part> parts(pieces.size());
  parallelFor(pieces.size(), threads, [&](std::size_t k) {
    runPart(pieces[k].calls, pieces[k].firstIndex, parts[k], cancel);
  });
  for (const Part& p : parts) {
    if (p.cancelled) {
      result.cancelled = true;
      return result;
    }
  }

  // Merge the parts.
  std::vector<Totals> bySlot(slotText_.size()), byTrunk(store_.trunks().size()),
      byDirection(directionNames_.size());
  std::vector<NumberStat, LargeAllocator<NumberStat>> byNumber(store_.numbers().size());
  std::array<SeriesPoint, 24> hours{};
  std::unordered_map<std::int64_t, SeriesPoint> days;
  std::vector<Candidate> longest, costliest;
  for (std::size_t h = 0; h < 24; ++h) hours[h].key = static_cast<std::int64_t>(h);
  for (Part& p : parts) {
    result.totals.add(p.total);
    for (std::size_t s = 0; s < bySlot.size(); ++s) bySlot[s].add(p.bySlot[s]);
    for (std::size_t t = 0; t < byTrunk.size(); ++t) byTrunk[t].add(p.byTrunk[t]);
    for (std::size_t d = 0; d < byDirection.size(); ++d) byDirection[d].add(p.byDirection[d]);
    for (std::size_t n = 0; n < byNumber.size(); ++n) {
      const NumberStat& s = p.byNumber[n];
      if (s.calls == 0) continue;
      byNumber[n].calls += s.calls;
      byNumber[n].seconds += s.seconds;
      byNumber[n].cost += s.cost;
      byNumber[n].direction = s.direction;
    }
    for (std::size_t h = 0; h < 24; ++h) {
      hours[h].calls += p.hours[h].calls;
      hours[h].seconds += p.hours[h].seconds;
      hours[h].cost += p.hours[h].cost;
    }
    for (const auto& [key, point] : p.days) {
      SeriesPoint& d = days[key];
      d.key = key;
      d.calls += point.calls;
      d.seconds += point.seconds;
      d.cost += point.cost;
    }
    longest.insert(longest.end(), p.longest.begin(), p.longest.end());
    costliest.insert(costliest.end(), p.costliest.begin(), p.costliest.end());
    if (p.first && (!result.firstStart || *p.first < *result.firstStart))
      result.firstStart = p.first;
    if (p.last && (!result.lastStart || *p.last > *result.lastStart)) result.lastStart = p.last;
  }

  // Extensions, departments.
  std::vector<GroupRow> departments(departmentNames_.size()), tops(topNames_.size());
  for (std::size_t s = 0; s < bySlot.size(); ++s) {
    const Totals& t = bySlot[s];
    if (t.calls == 0) continue;
    ExtensionRow row;
    row.extension = slotText_[s];
    if (slotPerson_[s] >= 0)
      row.name = directory_.people()[static_cast<std::size_t>(slotPerson_[s])].name;
    row.department = departmentNames_[slotDepartment_[s]];
    row.topDepartment = topNames_[slotTop_[s]];
    row.totals = t;
    result.extensions.push_back(std::move(row));
    departments[slotDepartment_[s]].totals.add(t);
    ++departments[slotDepartment_[s]].extensions;
    tops[slotTop_[s]].totals.add(t);
    ++tops[slotTop_[s]].extensions;
  }
  std::sort(result.extensions.begin(), result.extensions.end(),
            [](const ExtensionRow& a, const ExtensionRow& b) {
              return naturalLess(a.extension, b.extension);
            });
  auto groups = [](std::vector<GroupRow>& rows, const std::vector<std::string>& names) {
    std::vector<GroupRow> out;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (rows[i].totals.calls == 0) continue;
      rows[i].name = names[i];
      out.push_back(std::move(rows[i]));
    }
    std::sort(out.begin(), out.end(),
              [](const GroupRow& a, const GroupRow& b) { return a.name < b.name; });
    return out;
  };
  result.departments = groups(departments, departmentNames_);
  result.topDepartments = groups(tops, topNames_);
  std::vector<GroupRow> directions(directionNames_.size());
  for (std::size_t d = 0; d < directions.size(); ++d) directions[d].totals = byDirection[d];
  result.directions = groups(directions, directionNames_);

  std::vector<std::uint32_t> trunkOrder;
  for (std::uint32_t t = 0; t < byTrunk.size(); ++t) {
    if (byTrunk[t].calls > 0) trunkOrder.push_back(t);
  }
  std::sort(trunkOrder.begin(), trunkOrder.end(), [this](std::uint32_t a, std::uint32_t b) {
    return naturalLess(store_.trunks().text(a), store_.trunks().text(b));
  });
  for (std::uint32_t t : trunkOrder) {
    result.trunks.push_back(GroupRow{std::string(store_.trunks().text(t)), 0, byTrunk[t]});
  }

  // Top lists. The order of equal keys is decided by the calls' contents, so it does not
  // depend on how the files were split between threads.
  auto topRows = [&](std::vector<Candidate>& all) {
    std::sort(all.begin(), all.end(), [&](const Candidate& a, const Candidate& b) {
      return a.key != b.key ? a.key > b.key : contentLess(a.index, b.index);
    });
    if (all.size() > options_.topCount) all.resize(options_.topCount);
    std::vector<CallRow> rows;
    for (const Candidate& c : all) rows.push_back(describe(c.index));
    return rows;
  };
  result.longest = topRows(longest);
  result.costliest = topRows(costliest);

  // Most-dialed numbers, as shown: with hidden digits, numbers that look alike count as one.
  {
    auto better = [](const NumberRow& a, const NumberRow& b) {
      if (a.calls != b.calls) return a.calls > b.calls;
      if (a.seconds != b.seconds) return a.seconds > b.seconds;
      return a.number < b.number;
    };
    std::vector<NumberRow> rows;
    if (options_.hiddenDigits > 0) {
      std::unordered_map<std::string, NumberRow> shown;
      for (std::uint32_t n = 1; n < byNumber.size(); ++n) {
        const NumberStat& s = byNumber[n];
        if (s.calls == 0) continue;
        const std::string text = hideDigits(store_.numbers().text(n), options_.hiddenDigits);
        NumberRow& row = shown[text];
        if (row.calls == 0) {
          row.number = text;
          row.direction = directionNames_[static_cast<std::size_t>(s.direction)];
        }
        row.calls += s.calls;
        row.seconds += s.seconds;
        row.cost += s.cost;
      }
      rows.reserve(shown.size());
      for (auto& [text, row] : shown) rows.push_back(std::move(row));
      const std::size_t keep = std::min(rows.size(), options_.topCount);
      std::partial_sort(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(keep), rows.end(),
                        better);
      rows.resize(keep);
    } else {
      std::vector<std::uint32_t> ids;
      for (std::uint32_t n = 1; n < byNumber.size(); ++n) {
        if (byNumber[n].calls > 0) ids.push_back(n);
      }
      auto idBetter = [&](std::uint32_t a, std::uint32_t b) {
        const NumberStat& x = byNumber[a];
        const NumberStat& y = byNumber[b];
        if (x.calls != y.calls) return x.calls > y.calls;
        if (x.seconds != y.seconds) return x.seconds > y.seconds;
        return store_.numbers().text(a) < store_.numbers().text(b);
      };
      const std::size_t keep = std::min(ids.size(), options_.topCount);
      std::partial_sort(ids.begin(), ids.begin() + static_cast<std::ptrdiff_t>(keep), ids.end(),
                        idBetter);
      for (std::size_t k = 0; k < keep; ++k) {
        const NumberStat& s = byNumber[ids[k]];
        rows.push_back(NumberRow{std::string(store_.numbers().text(ids[k])),
                                 directionNames_[static_cast<std::size_t>(s.direction)], s.calls,
                                 s.seconds, s.cost});
      }
    }
    result.mostDialed = std::move(rows);
  }

  result.byHour.assign(hours.begin(), hours.end());
  for (auto& [key, point] : days) result.byDay.push_back(point);
  std::sort(result.byDay.begin(), result.byDay.end(),
            [](const SeriesPoint& a, const SeriesPoint& b) { return a.key < b.key; });

  if (options_.trunkLoad && result.totals.calls > 0) {
    WallTime lastEnd = 0;
    for (const Part& p : parts) lastEnd = std::max(lastEnd, p.lastEnd);
    result.trunkLoad = loadOfTrunks(pieces, threads, *result.firstStart, lastEnd, trunkOrder);
  }
  return result;
}

// ---- Trunk load ------------------------------------------------------------------------------

// Events of a half hour, one 32-bit code each: the trunk, the second within the half hour and
// whether the call starts (0) or has its last second (1) there.
namespace {
constexpr unsigned kTrunkShift = 12;
constexpr std::uint32_t kTimeMask = (std::uint32_t{1} << kTrunkShift) - 1;
constexpr std::uint32_t kMaxLoadTrunks = std::uint32_t{1} << 20;
std::uint32_t eventCode(std::uint32_t trunk, std::int64_t secondInSlot, bool last) {
  return (trunk << kTrunkShift) | (static_cast<std::uint32_t>(secondInSlot) << 1) | (last ? 1 : 0);
}
}  // namespace

std::vector<TrunkLoad> Analyzer::loadOfTrunks(const std::vector<Piece>& pieces, unsigned threads,
                                              WallTime firstStart, WallTime lastEnd,
                                              const std::vector<std::uint32_t>& trunkOrder) const {
  const std::uint32_t trunkCount = store_.trunks().size();
  if (trunkCount >= kMaxLoadTrunks) return {};
  const std::int64_t firstSlot = floorDiv(firstStart, kSlotSeconds);
  const std::int64_t lastSlot = floorDiv(lastEnd, kSlotSeconds);
  const auto slotCount = static_cast<std::uint64_t>(lastSlot - firstSlot + 1);

  // Counting sort of the events by half hour, each piece counting and placing its own events.
  std::uint64_t events = 0;
  for (const Piece& piece : pieces) events += piece.calls.size() * 2;
  std::vector<std::uint32_t, LargeAllocator<std::uint32_t>> codes;
  std::vector<std::uint64_t> slotBegin;  // events of slot s: codes[slotBegin[s], slotBegin[s+1])
  std::vector<std::int64_t> groupSlot;   // the slot offset of each group
  auto forEachEvent = [&](const Piece& piece, auto&& take) {
    for (const Call& call : piece.calls) {
      if (!matches(call)) continue;
      const WallTime last = call.start + std::max<std::int64_t>(call.duration, 1) - 1;
      const std::int64_t s0 = floorDiv(call.start, kSlotSeconds);
      const std::int64_t s1 = floorDiv(last, kSlotSeconds);
      take(s0 - firstSlot, eventCode(call.trunk, call.start - s0 * kSlotSeconds, false));
      take(s1 - firstSlot, eventCode(call.trunk, last - s1 * kSlotSeconds, true));
    }
  };
  // The counting sort needs a few bytes per half hour of the span; beyond that, sort.
  if (slotCount <= events / 8 + 65536) {
    std::vector<std::vector<std::uint32_t>> counts(pieces.size());
    parallelFor(pieces.size(), threads, [&](std::size_t k) {
      counts[k].assign(slotCount, 0);
      forEachEvent(pieces[k], [&](std::int64_t slot, std::uint32_t) {
        ++counts[k][static_cast<std::size_t>(slot)];
      });
    });
    // Where each piece writes in each slot.
    std::vector<std::vector<std::uint64_t>> at(pieces.size(),
                                               std::vector<std::uint64_t>(slotCount));
    std::uint64_t total = 0;
    for (std::size_t s = 0; s < slotCount; ++s) {
      const std::uint64_t begin = total;
      for (std::size_t k = 0; k < pieces.size(); ++k) {
        at[k][s] = total;
        total += counts[k][s];
      }
      if (total > begin) {
        groupSlot.push_back(static_cast<std::int64_t>(s));
        slotBegin.push_back(begin);
      }
    }
    slotBegin.push_back(total);
    counts.clear();
    codes.resize(total);
    parallelFor(pieces.size(), threads, [&](std::size_t k) {
      std::vector<std::uint64_t>& next = at[k];
      forEachEvent(pieces[k], [&](std::int64_t slot, std::uint32_t code) {
        codes[next[static_cast<std::size_t>(slot)]++] = code;
      });
    });
  } else {
    // Calls spread over centuries (a damaged clock): sort the few events instead.
    std::vector<std::uint64_t> keyed;
    for (const Piece& piece : pieces) {
      forEachEvent(piece, [&](std::int64_t slot, std::uint32_t code) {
        keyed.push_back((static_cast<std::uint64_t>(slot) << 32) | code);
      });
    }
    std::sort(keyed.begin(), keyed.end());
    codes.resize(keyed.size());
    for (std::size_t i = 0; i < keyed.size(); ++i) {
      const auto slot = static_cast<std::int64_t>(keyed[i] >> 32);
      if (groupSlot.empty() || groupSlot.back() != slot) {
        groupSlot.push_back(slot);
        slotBegin.push_back(i);
      }
      codes[i] = static_cast<std::uint32_t>(keyed[i]);
    }
    slotBegin.push_back(codes.size());
  }
  // Put each half hour's events in time order, a start before a last second at the same
  // second: a counting sort on the second and the kind (in two halves of the half hours when
  // there are two threads).
  {
    const std::size_t groups = groupSlot.size();
    auto sortGroups = [&](std::size_t from, std::size_t to) {
      constexpr std::uint32_t kKeys = 2 * kSlotSeconds;
      std::vector<std::uint32_t> count(kKeys + 1);
      std::vector<std::uint32_t> sorted;
      for (std::size_t g = from; g < to; ++g) {
        std::uint32_t* first = codes.data() + slotBegin[g];
        const std::size_t n = slotBegin[g + 1] - slotBegin[g];
        std::fill(count.begin(), count.end(), 0);
        for (std::size_t i = 0; i < n; ++i) ++count[(first[i] & kTimeMask) + 1];
        for (std::uint32_t k = 1; k <= kKeys; ++k) count[k] += count[k - 1];
        sorted.resize(n);
        for (std::size_t i = 0; i < n; ++i) sorted[count[first[i] & kTimeMask]++] = first[i];
        std::copy(sorted.begin(), sorted.end(), first);
      }
    };
    if (threads > 1 && groups > 1) {
      std::thread other(sortGroups, groups / 2, groups);
      sortGroups(0, groups / 2);
      other.join();
    } else {
      sortGroups(0, groups);
    }
  }

  // The sweep: the level of each trunk carries from one half hour to the next; a trunk's peak
  // in a half hour is its level at the start or after any of its calls starting.
  std::vector<std::int32_t> level(trunkCount, 0);
  std::vector<std::int32_t> peak(trunkCount, 0);
  std::vector<std::int64_t> seenIn(trunkCount, -1);  // the slot whose peak a trunk holds
  std::vector<std::vector<LoadSlot>> slots(trunkCount);
  std::vector<std::uint32_t> active;  // trunks with calls going on at the start of the slot
  std::vector<std::uint32_t> inSlot;  // trunks with calls in the slot
  auto record = [&](std::uint32_t trunk, std::int64_t slot, std::int32_t value) {
    slots[trunk].push_back(
        LoadSlot{(firstSlot + slot) * kSlotSeconds, static_cast<std::uint32_t>(value)});
  };
  for (std::size_t g = 0; g < groupSlot.size(); ++g) {
    const std::int64_t slot = groupSlot[g];
    // Half hours without events before this one: calls going on fill them at their level.
    if (g > 0) {
      for (std::int64_t s = groupSlot[g - 1] + 1; s < slot && !active.empty(); ++s) {
        for (std::uint32_t t : active) record(t, s, level[t]);
      }
    }
    inSlot.clear();
    auto enter = [&](std::uint32_t t) {
      if (seenIn[t] == slot) return;
      seenIn[t] = slot;
      peak[t] = level[t];
      inSlot.push_back(t);
    };
    for (std::uint32_t t : active) enter(t);
    for (std::uint64_t i = slotBegin[g]; i < slotBegin[g + 1]; ++i) {
      const std::uint32_t t = codes[i] >> kTrunkShift;
      enter(t);
      if ((codes[i] & 1) == 0) {
        peak[t] = std::max(peak[t], ++level[t]);
      } else {
        --level[t];
      }
    }
    active.clear();
    for (std::uint32_t t : inSlot) {
      if (peak[t] > 0) record(t, slot, peak[t]);
      if (level[t] > 0) active.push_back(t);
    }
  }

  std::vector<TrunkLoad> out;
  for (std::uint32_t t : trunkOrder) {
    TrunkLoad load;
    load.trunk = std::string(store_.trunks().text(t));
    load.halfHours = std::move(slots[t]);
    for (const LoadSlot& s : load.halfHours) {
      if (s.peak > load.peak) {
        load.peak = s.peak;
        load.peakSlot = s.start;
      }
    }
    out.push_back(std::move(load));
  }
  return out;
}

}  // namespace kordel::analysis
