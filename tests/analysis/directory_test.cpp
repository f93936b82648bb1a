// The directory of extensions: departments of one or two levels, wrong rows.
#include "analysis/directory.h"

#include "analysis_test_util.h"

namespace kordel::analysis {
namespace {

TEST(Directory, ReadsPeopleAndWritesDepartmentsInOneForm) {
  Directory directory;
  const Status status = directory.loadBytes(
      "\xEF\xBB\xBFНомер;Имя;Отдел\r\n"
      "201;Иванова Анна;Отдел продаж/Москва\r\n"
      "202;Петров Пётр;  Отдел продаж  /  Тверь \r\n"
      "203;Сидоров;Бухгалтерия\r\n"
      "204;Секретарь;\r\n");
  ASSERT_TRUE(status.ok()) << cp1251ToUtf8(status.message());
  struct Case {
    const char* extension;
    const char* name;
    const char* department;
    const char* top;
  };
  for (const Case& c :
       {Case{"201", "Иванова Анна", "Отдел продаж / Москва", "Отдел продаж"},
        Case{"202", "Петров Пётр", "Отдел продаж / Тверь", "Отдел продаж"},
        Case{"203", "Сидоров", "Бухгалтерия", "Бухгалтерия"}, Case{"204", "Секретарь", "", ""}}) {
    const Person* p = directory.find(c.extension);
    ASSERT_NE(p, nullptr) << c.extension;
    EXPECT_EQ(cp1251ToUtf8(p->name), c.name);
    EXPECT_EQ(cp1251ToUtf8(p->department), c.department);
    EXPECT_EQ(cp1251ToUtf8(p->topDepartment), c.top);
  }
  EXPECT_EQ(directory.find("205"), nullptr);
}

// Quoted cells keep separators, quotes and line ends; a row with a line end inside still
// counts as one row, as a spreadsheet counts.
TEST(Directory, QuotedCellsAndRowNumbersAfterThem) {
  Directory directory;
  ASSERT_TRUE(directory
                  .loadBytes(ru("Номер,Имя,Отдел\n201,\"Иванова \"\"Аня\"\", каб. 5\",\"Склад\"\n"
                                "202,\"Петров\r\nстарший\",\n"))
                  .ok());
  ASSERT_NE(directory.find("201"), nullptr);
  EXPECT_EQ(cp1251ToUtf8(directory.find("201")->name), "Иванова \"Аня\", каб. 5");
  EXPECT_EQ(cp1251ToUtf8(directory.find("202")->name), "Петров\r\nстарший");
  const Status status = directory.loadBytes(ru("Номер;Имя\n1;\"А\nБ\"\n2;В\n1;Г\n"));
  ASSERT_FALSE(status.ok());
  EXPECT_NE(cp1251ToUtf8(status.message()).find("строка 4: номер \"1\" уже есть в строке 2"),
            std::string::npos)
      << cp1251ToUtf8(status.message());
}

TEST(Directory, WrongRowsAreNamedAndNothingIsLoaded) {
  Directory directory;
  ASSERT_TRUE(directory.loadBytes(ru("Номер;Отдел\r\n101;Склад\r\n")).ok());
  struct Case {
    const char* file;
    const char* want;
  };
  for (const Case& c :
       {Case{"Номер;Имя;Отдел\r\n1;А;Продажи / Москва / Центр\r\n",
             "строка 2: отдел \"Продажи / Москва / Центр\""},
        Case{"Номер;Имя;Отдел\r\n1;А;Продажи /\r\n", "строка 2: отдел"},
        Case{"Номер;Имя\r\n1;А\r\n2;Б\r\n1;В\r\n", "строка 4: номер \"1\" уже есть в строке 2"},
        Case{"Номер;Имя\r\n;А\r\n", "строка 2: нет номера"},
        Case{"Номер;Должность\r\n1;А\r\n", "неизвестный столбец \"Должность\""},
        Case{"Имя;Отдел\r\nА;Б\r\n", "нет столбца \"Номер\""}}) {
    const Status status = directory.loadBytes(ru(c.file));
    ASSERT_FALSE(status.ok()) << c.want;
    EXPECT_NE(cp1251ToUtf8(status.message()).find(c.want), std::string::npos)
        << cp1251ToUtf8(status.message());
    ASSERT_EQ(directory.people().size(), 1u);
    EXPECT_NE(directory.find("101"), nullptr);
  }
}

}  // namespace
}  // namespace kordel::analysis
