// Day counts of dates and back, across the edges where the arithmetic turns: the epoch, leap
// days, century years, dates before 1970, and days outside their month (a damaged PBX clock).
#include "files/civil_date.h"

#include <gtest/gtest.h>

namespace kordel {
namespace {

TEST(CivilDate, DayCountsAndBack) {
  struct Case {
    int year, month, day;
    std::int64_t days;
  };
  const Case cases[] = {
      {1970, 1, 1, 0},      {1969, 12, 31, -1},  {1899, 12, 30, -25569}, {2000, 2, 29, 11016},
      {2000, 3, 1, 11017},  {2100, 3, 1, 47541}, {1900, 3, 1, -25508},   {2024, 12, 31, 20088},
      {9999, 12, 31, 2932896},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(daysFromCivil(c.year, c.month, c.day), c.days) << c.year << "-" << c.month;
    int y = 0, m = 0, d = 0;
    civilFromDays(c.days, y, m, d);
    EXPECT_EQ(y * 10000 + m * 100 + d, c.year * 10000 + c.month * 100 + c.day) << c.days;
  }
}

TEST(CivilDate, DayOutsideItsMonthCountsOnFromTheMonth) {
  EXPECT_EQ(daysFromCivil(2000, 3, 0), daysFromCivil(2000, 2, 29));
  EXPECT_EQ(daysFromCivil(2023, 1, 0), daysFromCivil(2022, 12, 31));
  EXPECT_EQ(daysFromCivil(2023, 4, 31), daysFromCivil(2023, 5, 1));
}

}  // namespace
}  // namespace kordel
