// Exports: the bytes of CSV and JSON cells, aligned text, and an XLSX that cannot be written.
#include "analysis/export.h"

#include "analysis_test_util.h"

namespace kordel::analysis {
namespace {

using testing::TempDir;

ResultTable sample() {
  ResultTable t;
  t.key = "calls";
  t.title = ru("Звонки");
  t.columns = {{"who", ru("Кто"), CellType::Text},
               {"n", ru("Звонков"), CellType::Integer},
               {"time", ru("Длительность"), CellType::Seconds},
               {"cost", ru("Стоимость"), CellType::Money},
               {"at", ru("Начало"), CellType::DateTime}};
  const WallTime start = wallTime(2024, 3, 5, 9, 7, 3);
  t.rows.push_back({Cell::ofText(ru("Иванова; \"Анна\"")), Cell::of(CellType::Integer, 3),
                    Cell::of(CellType::Seconds, 3725), Cell::of(CellType::Money, 123456),
                    Cell::of(CellType::DateTime, start)});
  t.rows.push_back({Cell::ofText("=1+2"), Cell::of(CellType::Integer, 0),
                    Cell::of(CellType::Seconds, 0), Cell::of(CellType::Money, -5),
                    Cell::ofText("")});
  return t;
}

TEST(Export, CsvForRussianSpreadsheets) {
  EXPECT_EQ(toCsv({sample()}),
            "\xEF\xBB\xBF"
            "Кто;Звонков;Длительность;Стоимость;Начало\r\n"
            "\"Иванова; \"\"Анна\"\"\";3;01:02:05;1234,56;05.03.2024 09:07:03\r\n"
            "'=1+2;0;00:00:00;-0,05;\r\n");
  ResultTable second = sample();
  second.title = "B";
  second.rows.clear();
  const std::string two = toCsv({sample(), second});
  EXPECT_NE(two.find("\xEF\xBB\xBF"
                     "Звонки\r\nКто;"),
            std::string::npos);
  EXPECT_NE(two.find("\r\n\r\nB\r\nКто;"), std::string::npos);
}

TEST(Export, JsonKeepsTypesAndEscapes) {
  ResultTable t = sample();
  t.rows[1][0] = Cell::ofText(std::string("tab\there\x01") + "\\");
  EXPECT_EQ(toJson({t}),
            "{\n  \"calls\": [\n"
            "    {\"who\": \"Иванова; \\\"Анна\\\"\", \"n\": 3, \"time\": 3725, \"cost\": 1234.56, "
            "\"at\": \"2024-03-05T09:07:03\"},\n"
            "    {\"who\": \"tab\\u0009here\\u0001\\\\\", \"n\": 0, \"time\": 0, \"cost\": -0.05, "
            "\"at\": null}\n  ]\n}\n");
}

TEST(Export, TextAlignsNumbersRight) {
  ResultTable t = sample();
  t.rows.pop_back();
  t.rows.push_back(t.rows[0]);
  t.rows[1][0] = Cell::ofText("x");
  t.rows[1][1] = Cell::of(CellType::Integer, 12345);
  const std::string text = cp1251ToUtf8(toText({t}));
  EXPECT_NE(text.find("\n  Иванова; \"Анна\"        3  "), std::string::npos) << text;
  EXPECT_NE(text.find("\n  x" + std::string(18, ' ') + "12345  "), std::string::npos) << text;
  EXPECT_NE(text.find("  1 234,56  "), std::string::npos) << text;
  ResultTable one = sample();
  one.rows.resize(1);
  const std::string vertical = cp1251ToUtf8(toText({one}));
  EXPECT_NE(vertical.find("  Стоимость:    1 234,56\n"), std::string::npos) << vertical;
}

TEST(Export, FilesThatCannotBeWrittenAreReported) {
  TempDir dir;
  const std::string inMissingFolder = dir.file("missing/out.xlsx");
  const Status xlsx = writeXlsx({sample()}, inMissingFolder);
  EXPECT_FALSE(xlsx.ok());
  EXPECT_NE(xlsx.message().find("out.xlsx"), std::string::npos);
  EXPECT_FALSE(writeBytesToFile("x", dir.file("missing/out.csv")).ok());
  ASSERT_TRUE(writeXlsx({sample()}, dir.file("out.xlsx")).ok());
  EXPECT_EQ(test::readBytes(dir.path() / "out.xlsx").substr(0, 2), "PK");
}

}  // namespace
}  // namespace kordel::analysis
