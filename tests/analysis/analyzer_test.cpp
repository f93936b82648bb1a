// The analysis: periods, filters, grouping by the directory, costs, top lists, trunk load,
// hidden digits, and the same tables from one thread or two.
#include "analysis/analyzer.h"

#include <map>
#include <random>

#include "analysis_test_util.h"

namespace kordel::analysis {
namespace {

using testing::at;
using testing::callLine;
using testing::crlf;
using testing::loadOk;
using testing::TempDir;
using testing::writeBytes;

class AnalyzerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(directory_
                    .loadBytes(ru("Номер;Имя;Отдел\r\n201;Иванова;Отдел продаж / Москва\r\n"
                                  "202;Петров;Отдел продаж / Тверь\r\n203;Сидоров;Бухгалтерия\r\n"
                                  "204;Секретарь;\r\n"))
                    .ok());
    ASSERT_TRUE(tariffs_
                    .loadBytes(ru("Префикс;Направление;Цена за минуту;Шаг\r\n"
                                  "8;Междугородняя;2,00;60\r\n2;Местная;0,50;60\r\n"))
                    .ok());
  }
  void load(const std::vector<std::string>& lines, unsigned threads = 1) {
    writeBytes(dir_.file("data.txt"), crlf(lines));
    loadOk(store_, {dir_.file("data.txt")}, threads);
  }
  AnalysisResult run(AnalysisOptions options = {}) const {
    return Analyzer(store_, tariffs_, directory_, options).run();
  }
  static std::vector<std::string> extensions(const AnalysisResult& r) {
    std::vector<std::string> out;
    for (const ExtensionRow& e : r.extensions) out.push_back(e.extension);
    return out;
  }

  TempDir dir_;
  CallStore store_;
  TariffPlan tariffs_;
  Directory directory_;
};

TEST_F(AnalyzerTest, ACallBelongsToThePeriodOfItsStart) {
  load({callLine("2024-01-31 23:59:59", 120, 100, "201", "1", "2000001"),  // crosses two ends
        callLine("2024-02-01 00:00:00", 60, 100, "201", "1", "2000002"),
        callLine("2024-02-29 23:59:30", 90, 100, "201", "1", "2000003"),  // into March
        callLine("2024-03-01 00:00:00", 30, 100, "201", "1", "2000004")});
  struct Case {
    const char* from;
    const char* to;
    std::uint64_t calls;
    std::int64_t seconds;
    Money cost;
  };
  const Case cases[] = {
      {"2024-02-01", "2024-03-01", 2, 150, 50 + 100},      // February: the leap day counts whole
      {"2024-01-01", "2024-02-01", 1, 120, 100},           // January keeps its call into February
      {"2024-01-31 23:59:59", "2024-02-01", 1, 120, 100},  // the first second belongs
      {"2024-02-29 23:59:31", "2024-03-01", 0, 0, 0},      // a call that started before does not
      {"2024-03-01", "2024-04-01", 1, 30, 50},
  };
  for (const Case& c : cases) {
    AnalysisOptions options;
    options.filter.from = at(c.from);
    options.filter.to = at(c.to);
    const AnalysisResult r = run(options);
    EXPECT_EQ(r.totals.calls, c.calls) << c.from;
    EXPECT_EQ(r.totals.seconds, c.seconds) << c.from;
    EXPECT_EQ(r.totals.cost, c.cost) << c.from;
  }
  AnalysisOptions february;
  february.filter.from = at("2024-02-01");
  february.filter.to = at("2024-03-01");
  const AnalysisResult r = run(february);
  ASSERT_EQ(r.byDay.size(), 2u);
  EXPECT_EQ(formatDate(r.byDay[0].key), "01.02.2024");
  EXPECT_EQ(formatDate(r.byDay[1].key), "29.02.2024");
  EXPECT_EQ(r.byHour[0].calls, 1u);
  EXPECT_EQ(r.byHour[23].calls, 1u);
  EXPECT_EQ(r.byHour[23].seconds, 90);
  EXPECT_EQ(formatDateTime(*r.lastStart), "29.02.2024 23:59:30");
}

TEST_F(AnalyzerTest, TotalsByExtensionDepartmentAndDirection) {
  load({callLine("2024-03-05 09:00:00", 61, 100, "201", "1", "84951234567"),  // 2 min: 4,00
        callLine("2024-03-05 09:10:00", 30, 101, "202", "1", "2345678"),      // 0,50
        callLine("2024-03-05 09:20:00", 45, 102, "203", "2", ""),             // incoming: 0
        callLine("2024-03-05 09:30:00", 10, 103, "204", "2", "5550000"),      // no tariff
        callLine("2024-03-05 09:40:00", 59, 104, "205", "1", "89161234567"),  // 2,00
        callLine("2024-03-05 09:50:00", 5, 105, "-1", "1", "2*34")});         // 0,50, marked
  const AnalysisResult r = run();
  EXPECT_EQ(r.totals.calls, 6u);
  EXPECT_EQ(r.totals.cost, 400 + 50 + 200 + 50);
  EXPECT_EQ(r.totals.unpricedCalls, 1u);
  EXPECT_EQ(r.totals.markedCalls, 1u);
  EXPECT_EQ(r.totals.incomingCalls, 1u);
  EXPECT_EQ(extensions(r),
            (std::vector<std::string>{"201", "202", "203", "204", "205", ru("апп.105")}));
  EXPECT_EQ(cp1251ToUtf8(r.extensions[0].name), "Иванова");
  EXPECT_EQ(r.extensions[3].department, noDepartment());
  EXPECT_EQ(r.extensions[4].department, outsideDirectory());

  std::map<std::string, std::pair<std::uint64_t, Money>> departments, tops, directions;
  for (const GroupRow& g : r.departments)
    departments[cp1251ToUtf8(g.name)] = {g.totals.calls, g.totals.cost};
  for (const GroupRow& g : r.topDepartments)
    tops[cp1251ToUtf8(g.name)] = {g.totals.calls, g.totals.cost};
  for (const GroupRow& g : r.directions)
    directions[cp1251ToUtf8(g.name)] = {g.totals.calls, g.totals.cost};
  using Row = std::pair<std::uint64_t, Money>;
  EXPECT_EQ(departments, (std::map<std::string, Row>{{"Отдел продаж / Москва", {1, 400}},
                                                     {"Отдел продаж / Тверь", {1, 50}},
                                                     {"Бухгалтерия", {1, 0}},
                                                     {"без отдела", {1, 0}},
                                                     {"вне справочника", {2, 250}}}));
  EXPECT_EQ(tops, (std::map<std::string, Row>{{"Отдел продаж", {2, 450}},
                                              {"Бухгалтерия", {1, 0}},
                                              {"без отдела", {1, 0}},
                                              {"вне справочника", {2, 250}}}));
  EXPECT_EQ(directions, (std::map<std::string, Row>{{"Междугородняя", {2, 600}},
                                                    {"Местная", {2, 100}},
                                                    {"без тарифа", {1, 0}},
                                                    {"входящий", {1, 0}}}));

  AnalysisOptions byHardware;
  byHardware.key = ExtensionKey::Hardware;
  EXPECT_EQ(extensions(run(byHardware)),
            (std::vector<std::string>{"100", "101", "102", "103", "104", "105"}));
}

TEST_F(AnalyzerTest, FiltersNarrowTheCalls) {
  load({callLine("2024-03-05 09:00:00", 61, 100, "201", "1", "84951234567"),
        callLine("2024-03-05 09:10:00", 30, 101, "202", "1", "2345678"),
        callLine("2024-03-05 09:20:00", 45, 102, "203", "2", ""),
        callLine("2024-03-05 09:30:00", 10, 103, "204", "2", "5550000")});
  struct Case {
    const char* name;
    std::function<void(Filter&)> set;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {"top department", [](Filter& f) { f.departments = {ru("Отдел продаж")}; }, {"201", "202"}},
      {"department", [](Filter& f) { f.departments = {ru("Отдел продаж/Тверь")}; }, {"202"}},
      {"extensions",
       [](Filter& f) {
         f.extensions = {"203", "204"};
       },
       {"203", "204"}},
      {"incoming", [](Filter& f) { f.direction = Direction::Incoming; }, {"203"}},
      {"outgoing", [](Filter& f) { f.direction = Direction::Outgoing; }, {"201", "202", "204"}},
      {"trunk", [](Filter& f) { f.trunks = {"2"}; }, {"203", "204"}},
      {"prefix", [](Filter& f) { f.numberPrefix = "8"; }, {"201"}},
      {"shortest", [](Filter& f) { f.minDuration = 31; }, {"201", "203"}},
      {"unknown trunk", [](Filter& f) { f.trunks = {"9"}; }, {}},
  };
  for (const Case& c : cases) {
    AnalysisOptions options;
    c.set(options.filter);
    EXPECT_EQ(extensions(run(options)), c.want) << c.name;
  }
}

TEST_F(AnalyzerTest, TopListsAndHiddenDigits) {
  load({callLine("2024-03-05 09:00:00", 300, 100, "201", "1", "84951234567"),
        callLine("2024-03-05 10:00:00", 30, 101, "202", "1", "84951234999"),
        callLine("2024-03-05 11:00:00", 300, 102, "203", "1", "84951234567"),
        callLine("2024-03-05 12:00:00", 900, 103, "204", "1", "2345678")});
  AnalysisOptions options;
  options.topCount = 2;
  options.hiddenDigits = 4;
  const AnalysisResult r = run(options);
  ASSERT_EQ(r.longest.size(), 2u);
  EXPECT_EQ(r.longest[0].duration, 900u);
  EXPECT_EQ(r.longest[1].extension, "201");  // equal lengths: the earlier first
  EXPECT_EQ(r.longest[1].number, "8495123xxxx");
  ASSERT_EQ(r.costliest.size(), 2u);
  EXPECT_EQ(r.costliest[0].cost, 1000);  // 5 min at 2,00
  EXPECT_EQ(r.costliest[1].cost, 1000);
  EXPECT_EQ(r.costliest[0].extension, "201");
  ASSERT_EQ(r.mostDialed.size(), 2u);
  EXPECT_EQ(r.mostDialed[0].number, "8495123xxxx");  // three numbers as shown
  EXPECT_EQ(r.mostDialed[0].calls, 3u);
  EXPECT_EQ(r.mostDialed[1].number, "234xxxx");
  const Analyzer analyzer(store_, tariffs_, directory_, options);
  const std::vector<std::uint32_t> calls = analyzer.matchingCalls();
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(analyzer.describe(calls[3]).number, "234xxxx");
  EXPECT_EQ(cp1251ToUtf8(analyzer.describe(calls[0]).direction), "Междугородняя");
}

TEST_F(AnalyzerTest, TrunkLoadPerHalfHour) {
  load({callLine("2024-03-05 10:00:00", 600, 100, "201", "1", "2"),  // to 10:09:59
        callLine("2024-03-05 10:05:00", 60, 101, "202", "1", "2"),
        callLine("2024-03-05 10:09:59", 1, 102, "203", "1", "2"),
        callLine("2024-03-05 10:10:00", 60, 103, "204", "1", "2"),   // starts as the first ends
        callLine("2024-03-05 10:20:00", 7200, 104, "205", "1", ""),  // to 12:19:59
        callLine("2024-03-05 11:45:00", 60, 105, "206", "1", "2"),
        callLine("2024-03-05 10:29:59", 1, 106, "207", "2", "2"),
        callLine("2024-03-05 10:30:00", 5, 107, "208", "2", "2"),
        callLine("2024-03-05 12:40:00", 0, 108, "209", "2", "")});  // holds its trunk 1 s
  const AnalysisResult r = run();
  auto slots = [](const TrunkLoad& load) {
    std::vector<std::string> out;
    for (const LoadSlot& s : load.halfHours) {
      out.push_back(formatDateTime(s.start).substr(11, 5) + "=" + std::to_string(s.peak));
    }
    return out;
  };
  ASSERT_EQ(r.trunkLoad.size(), 2u);
  EXPECT_EQ(r.trunkLoad[0].trunk, "1");
  EXPECT_EQ(slots(r.trunkLoad[0]),
            (std::vector<std::string>{"10:00=2", "10:30=1", "11:00=1", "11:30=2", "12:00=1"}));
  EXPECT_EQ(r.trunkLoad[0].peak, 2u);
  EXPECT_EQ(formatDateTime(r.trunkLoad[0].peakSlot), "05.03.2024 10:00:00");
  EXPECT_EQ(slots(r.trunkLoad[1]), (std::vector<std::string>{"10:00=1", "10:30=1", "12:30=1"}));
}

TEST(WallTimes, TheDatesPeopleWrite) {
  struct Case {
    const char* text;
    bool ok;
    bool hasTime;
    const char* shown;
  };
  for (const Case& c :
       {Case{"2024-03-01", true, false, "01.03.2024 00:00:00"},
        Case{"01.03.2024", true, false, "01.03.2024 00:00:00"},
        Case{" 2024-02-29 23:59 ", true, true, "29.02.2024 23:59:00"},
        Case{"2024-03-01T10:20:30", true, true, "01.03.2024 10:20:30"},
        Case{"1969-12-31 23:59:59", true, true, "31.12.1969 23:59:59"},
        Case{"2023-02-29", false, false, ""}, Case{"2024-3-1", false, false, ""},
        Case{"01.03.24", false, false, ""}, Case{"2024-03-01 24:00", false, false, ""},
        Case{"2024-03-01 10:2", false, false, ""}, Case{"2024-03-01 10:20:3x", false, false, ""}}) {
    WallTime t = 0;
    bool hasTime = false;
    ASSERT_EQ(parseWallTime(c.text, t, hasTime), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(hasTime, c.hasTime) << c.text;
    EXPECT_EQ(formatDateTime(t), c.shown) << c.text;
  }
}

TEST_F(AnalyzerTest, ACancelledRunSaysSo) {
  load({callLine("2024-03-05 09:00:00", 61, 100, "201", "1", "84951234567")});
  std::atomic<bool> cancel{true};
  const AnalysisResult r = Analyzer(store_, tariffs_, directory_, {}).run(&cancel);
  EXPECT_TRUE(r.cancelled);
  EXPECT_EQ(r.totals.calls, 0u);
}

// Random calls: two loading threads and two analysing threads give what one and one give, and
// the trunk load is what counting every second gives.
TEST_F(AnalyzerTest, TwoThreadsAndOneGiveTheSameTables) {
  std::mt19937 rng(5);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  std::vector<std::string> lines;
  for (int i = 0; i < 3000; ++i) {
    char start[32];
    std::snprintf(start, sizeof start, "2024-03-%02d %02d:%02d:%02d", pick(1, 2), pick(0, 23),
                  pick(0, 59), pick(0, 59));
    const int ext = pick(200, 206);
    lines.push_back(
        callLine(start, pick(0, 1) ? pick(0, 400) : pick(0, 5000), ext - 100, std::to_string(ext),
                 std::to_string(pick(1, 3)),
                 pick(0, 3) == 0 ? "" : (pick(0, 1) ? "8" : "2") + std::to_string(pick(0, 30))));
  }
  load(lines, 1);
  AnalysisOptions one;
  one.threads = 1;
  one.topCount = 5;
  const AnalysisResult a = run(one);
  CallStore split;
  loadOk(split, {dir_.file("data.txt")}, 2);
  ASSERT_EQ(split.partCount(), 2u);
  AnalysisOptions two = one;
  two.threads = 2;
  const AnalysisResult b = Analyzer(split, tariffs_, directory_, two).run();

  EXPECT_EQ(a.totals.calls, b.totals.calls);
  EXPECT_EQ(a.totals.cost, b.totals.cost);
  EXPECT_EQ(a.totals.seconds, b.totals.seconds);
  ASSERT_EQ(a.extensions.size(), b.extensions.size());
  Money sum = 0;
  for (std::size_t i = 0; i < a.extensions.size(); ++i) {
    EXPECT_EQ(a.extensions[i].extension, b.extensions[i].extension);
    EXPECT_EQ(a.extensions[i].totals.cost, b.extensions[i].totals.cost);
    sum += a.extensions[i].totals.cost;
  }
  EXPECT_EQ(sum, a.totals.cost) << "the parts add up to the total exactly";
  ASSERT_EQ(a.longest.size(), 5u);
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(a.longest[i].start, b.longest[i].start);
    EXPECT_EQ(a.costliest[i].cost, b.costliest[i].cost);
    EXPECT_EQ(a.costliest[i].start, b.costliest[i].start);
    EXPECT_EQ(a.mostDialed[i].number, b.mostDialed[i].number);
  }

  // Every second of the two days (and the night after), per trunk.
  const WallTime day0 = at("2024-03-01");
  std::map<std::string, std::vector<int>> busy;
  for (const std::string& line : lines) {
    const WallTime start = at(line.substr(6, 4) + "-" + line.substr(3, 2) + "-" +
                              line.substr(0, 2) + " " + line.substr(11, 8));
    const int seconds = std::stoi(line.substr(22, 2)) * 3600 + std::stoi(line.substr(25, 2)) * 60 +
                        std::stoi(line.substr(28, 2));
    std::vector<int>& occupied =
        busy[line.substr(45, 5).substr(line.substr(45, 5).find_last_of(' ') + 1)];
    occupied.resize(4 * 86400);
    for (int s = 0; s < std::max(seconds, 1); ++s)
      ++occupied[static_cast<std::size_t>(start - day0 + s)];
  }
  ASSERT_EQ(a.trunkLoad.size(), busy.size());
  for (const std::vector<TrunkLoad>* loads : {&a.trunkLoad, &b.trunkLoad}) {
    for (const TrunkLoad& load : *loads) {
      std::vector<std::string> want, got;
      const std::vector<int>& seconds = busy[load.trunk];
      for (std::size_t slot = 0; slot * 1800 < seconds.size(); ++slot) {
        const int peak =
            *std::max_element(seconds.begin() + static_cast<std::ptrdiff_t>(slot * 1800),
                              seconds.begin() + static_cast<std::ptrdiff_t>(slot * 1800 + 1800));
        if (peak > 0) want.push_back(std::to_string(slot) + "=" + std::to_string(peak));
      }
      for (const LoadSlot& s : load.halfHours) {
        got.push_back(std::to_string((s.start - day0) / 1800) + "=" + std::to_string(s.peak));
      }
      EXPECT_EQ(got, want) << "trunk " << load.trunk;
    }
  }
}

}  // namespace
}  // namespace kordel::analysis
