// Tariffs: billing steps, prefix matching, access codes, tariff files; money.
#include "analysis/tariffs.h"

#include "analysis_test_util.h"

namespace kordel::analysis {
namespace {

using testing::TempDir;
using testing::writeBytes;

TariffRow row(Price perMinute, std::uint32_t step, std::uint32_t first, std::uint32_t free = 0,
              Price fee = 0) {
  TariffRow r;
  r.prefix = "8";
  r.direction = "x";
  r.pricePerMinute = perMinute;
  r.connectionFee = fee;
  r.step = step;
  r.firstStep = first;
  r.freeSeconds = free;
  return r;
}

TEST(Billing, StepsFirstStepsAndFreeSeconds) {
  struct Case {
    const char* name;
    TariffRow row;
    std::uint32_t seconds;
    std::uint64_t billed;
    Money cost;
  };
  const Case cases[] = {
      {"per second", row(12000, 1, 1), 61, 61, 122},
      {"per started minute, one second", row(15000, 60, 60), 1, 60, 150},
      {"per started minute, exactly one", row(15000, 60, 60), 60, 60, 150},
      {"per started minute, one more second", row(15000, 60, 60), 61, 120, 300},
      {"first minute, then per second: short", row(20000, 1, 60), 30, 60, 200},
      {"first minute, then per second: 20333.3 rounds down", row(20000, 1, 60), 61, 61, 203},
      {"half a kopeck rounds up", row(100, 1, 1), 30, 30, 1},
      {"less than half a kopeck rounds down", row(100, 1, 1), 29, 29, 0},
      {"within the free seconds", row(15000, 60, 60, 5), 5, 0, 0},
      {"just beyond the free seconds", row(15000, 60, 60, 5), 6, 60, 150},
      {"zero seconds", row(15000, 60, 60), 0, 0, 0},
      {"connection fee and a started minute", row(10000, 60, 60, 0, 5000), 10, 60, 150},
      {"6-second steps after 30", row(60000, 6, 30), 31, 36, 360},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(billedSeconds(c.row, c.seconds), c.billed) << c.name;
    EXPECT_EQ(callCost(c.row, c.seconds), c.cost) << c.name;
  }
}

class PlanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<TariffRow> rows;
    auto add = [&](const char* prefix, const char* direction, const char* trunk = "",
                   CallKind kind = CallKind::Outgoing) {
      TariffRow r = row(10000, 60, 60);
      r.prefix = prefix;
      r.direction = direction;
      r.trunk = trunk;
      r.kind = kind;
      rows.push_back(r);
    };
    add("8", "long");
    add("8495", "moscow");
    add("89", "mobile");
    add("810", "international");
    add("2", "local");
    add("8", "other carrier", "5");
    add("", "incoming on 5", "5", CallKind::Incoming);
    rows[0].accessCode = "9";
    ASSERT_TRUE(plan_.setRows(rows).ok());
    ASSERT_TRUE(plan_.setAccessCode("7", "0").ok());
  }
  std::string direction(const char* trunk, const char* dialed) const {
    const TariffRow* r = plan_.matchOutgoing(trunk, dialed);
    return r ? r->direction : "none";
  }
  TariffPlan plan_;
};

TEST_F(PlanTest, LongestPrefixOfTheTrunksTableAfterItsAccessCode) {
  struct Case {
    const char* trunk;
    const char* dialed;
    const char* want;
  };
  const Case cases[] = {
      {"1", "84951234567", "moscow"},  // longest prefix wins
      {"1", "84731234567", "long"},
      {"1", "89161234567", "mobile"},
      {"1", "8101234", "international"},
      {"1", "2345678", "local"},
      {"1", "5551234", "none"},               // no prefix matches
      {"1", "98495123", "moscow"},            // the general access code is stripped
      {"1", "8*495*123", "moscow"},           // matched on its digits
      {"5", "84951234567", "other carrier"},  // a trunk with its own table
      {"5", "2345678", "none"},               // ... uses that table alone
      {"7", "02345678", "local"},             // the trunk's own access code
      {"7", "92345678", "none"},              // ... replaces the general one
      {"1", "9", "none"},                     // nothing left after the access code
  };
  for (const Case& c : cases) {
    EXPECT_EQ(direction(c.trunk, c.dialed), c.want) << c.trunk << " " << c.dialed;
  }
  ASSERT_NE(plan_.matchIncoming("5"), nullptr);
  EXPECT_EQ(plan_.matchIncoming("5")->direction, "incoming on 5");
  EXPECT_EQ(plan_.matchIncoming("1"), nullptr);
}

// A realistic file as Russian Excel saves it: Windows-1251, ';', decimal commas.
const char* kTariffsUtf8 =
    "Префикс;Направление;Цена за минуту;Плата за соединение;Шаг;Первый шаг;Бесплатно;СЛ;Вид\r\n"
    "# местные звонки поминутно\r\n"
    "2;Местная;0,50;;60;;3;;\r\n"
    "8;Междугородняя;3,20;0,10;60;;;;\r\n"
    "89;Мобильная;1,95;;1;60;;;\r\n"
    ";Входящие по СЛ 3;0,1;;60;;;3;вх\r\n"
    ";;;;;;;;\r\n";

TEST(TariffFile, Windows1251SemicolonsAndUtf8CommasReadAlike) {
  TariffPlan a, b, c;
  ASSERT_TRUE(a.loadBytes(ru(kTariffsUtf8)).ok());
  // UTF-8 with a byte-order mark, ',' between fields, prices quoted or with '.'.
  std::string commas = std::string("\xEF\xBB\xBF") +
                       "Префикс,Направление,Цена за минуту,Плата за соединение,Шаг,Первый шаг,"
                       "Бесплатно,СЛ,Вид\n2,Местная,\"0,50\",,60,,3,,\n8,Междугородняя,3.20,0.1,60,"
                       ",,,\n89,Мобильная,1.95,,1,60,,,\n,Входящие по СЛ 3,0.1,,60,,,3,вх\n";
  Status status = b.loadBytes(commas);
  ASSERT_TRUE(status.ok()) << cp1251ToUtf8(status.message());
  // English column names, tabs, no BOM.
  status = c.loadBytes(
      "prefix\tdirection\tprice_per_minute\tconnection_fee\tstep\tfirst_step\tfree_seconds\t"
      "trunk\tkind\n2\tlocal\t0.5\t\t60\t\t3\t\t\n8\tlong\t3,2\t0,10\t60\t\t\t\t\n"
      "89\tmobile\t1.95\t\t1\t60\t\t\t\n\tin\t0.1\t\t60\t\t\t3\tin\n");
  ASSERT_TRUE(status.ok()) << cp1251ToUtf8(status.message());
  for (const TariffPlan* plan : {&a, &b, &c}) {
    ASSERT_EQ(plan->rows().size(), 4u);
    const TariffRow& local = plan->rows()[0];
    EXPECT_EQ(local.pricePerMinute, 5000);
    EXPECT_EQ(local.freeSeconds, 3u);
    EXPECT_EQ(plan->rows()[1].connectionFee, 1000);
    const TariffRow& mobile = plan->rows()[2];
    EXPECT_EQ(mobile.step, 1u);
    EXPECT_EQ(mobile.firstStep, 60u);
    EXPECT_EQ(callCost(mobile, 90), 293);  // 1,95 for 60 s, then per second: 2,925
    EXPECT_EQ(plan->rows()[3].kind, CallKind::Incoming);
    EXPECT_NE(plan->matchIncoming("3"), nullptr);
    EXPECT_EQ(plan->matchIncoming("4"), nullptr);
  }
  EXPECT_EQ(cp1251ToUtf8(a.rows()[1].direction), "Междугородняя");
  EXPECT_EQ(cp1251ToUtf8(b.rows()[1].direction), "Междугородняя");
}

TEST(TariffFile, AWrongRowIsNamedAndNothingIsLoaded) {
  TempDir dir;
  writeBytes(dir.file("good.csv"), ru(kTariffsUtf8));
  TariffPlan plan;
  ASSERT_TRUE(plan.load(dir.file("good.csv")).ok());
  struct Case {
    std::string file;
    std::string wantInMessage;
  };
  const std::string header = "Префикс;Направление;Цена за минуту;Шаг\r\n";
  const Case cases[] = {
      {header + "2;Местная;0,50;60\r\n8;Межгород;3,2,0;60\r\n",
       "строка 3: цена за минуту \"3,2,0\""},
      {header + "2;Местная;0,50;60\r\n\r\n2;Опять;1;60\r\n",
       "строка 4: префикс \"2\" уже есть в строке 2"},
      {header + "8-495;Москва;1;60\r\n", "строка 2: префикс \"8-495\""},
      {header + "2;Местная;0,50;0\r\n", "строка 2: шаг \"0\""},
      {header + "2;;0,50;60\r\n", "строка 2: нет названия"},
      {header + "2;Местная;-1;60\r\n", "строка 2: цена за минуту \"-1\""},
      {"Префикс;Направление;Цена\r\n2;Местная;1;лишнее\r\n", "строка 2: ячейка \"лишнее\""},
      {"Префикс;Направление;Стоимость\r\n2;Местная;1\r\n", "неизвестный столбец \"Стоимость\""},
      {"Префикс;Направление\r\n2;Местная\r\n", "нет столбца \"Цена за минуту\""},
      {header + "2;\"Местная;0,50;60\r\n", "кавычка не закрыта"},
  };
  for (const Case& c : cases) {
    writeBytes(dir.file("bad.csv"), ru(c.file));
    const Status status = plan.load(dir.file("bad.csv"));
    ASSERT_FALSE(status.ok()) << c.wantInMessage;
    const std::string message = cp1251ToUtf8(status.message());
    EXPECT_NE(message.find(c.wantInMessage), std::string::npos) << message;
    EXPECT_NE(message.find("bad.csv"), std::string::npos) << message;
    ASSERT_EQ(plan.rows().size(), 4u) << "the plan loaded before stays";
  }
  EXPECT_FALSE(plan.load(dir.file("missing.csv")).ok());
  EXPECT_EQ(plan.rows().size(), 4u);
}

TEST(Money, FormatsAndParsesExactly) {
  struct Out {
    Money value;
    const char* russian;
    const char* english;
  };
  for (const Out& c : std::initializer_list<Out>{{0, "0,00", "0.00"},
                                                 {5, "0,05", "0.05"},
                                                 {123456, "1 234,56", "1,234.56"},
                                                 {100000000, "1 000 000,00", "1,000,000.00"},
                                                 {-150, "-1,50", "-1.50"},
                                                 {INT64_MIN, "-92 233 720 368 547 758,08", ""}}) {
    EXPECT_EQ(formatMoney(c.value), c.russian);
    if (*c.english) {
      EXPECT_EQ(formatMoney(c.value, MoneyFormat{'.', ","}), c.english);
    }
  }
  struct In {
    const char* text;
    bool ok;
    std::int64_t value;  // with four decimals
  };
  for (const In& c : std::initializer_list<In>{{"1,5", true, 15000},
                                               {" 1.5 ", true, 15000},
                                               {"1 234,56", true, 12345600},
                                               {"1\xA0"
                                                "234",
                                                true, 12340000},
                                               {"0,0001", true, 1},
                                               {"0,00001", false, 0},
                                               {"1,2,3", false, 0},
                                               {",", false, 0},
                                               {"", false, 0},
                                               {"-1", false, 0},
                                               {"1e3", false, 0},
                                               {"99999999999999999", false, 0}}) {
    std::int64_t v = -1;
    EXPECT_EQ(parseDecimal(c.text, kPriceDigits, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
}

}  // namespace
}  // namespace kordel::analysis
