// The program-wide date and time formats: the rule that picks them, and their rendering.
#include "files/regional_format.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "support/temp_dir.h"

// With LOCPATH set, the C library's newlocale keeps its copy of the path list for good; the
// leak checker is told so, as the tests below set LOCPATH on purpose.
extern "C" const char* __lsan_default_suppressions() { return "leak:__argz_add_sep\n"; }

namespace kordel {
namespace {

// --- rendering ---

struct DateCase {
  const char* format;
  int year, month, day;
  const char* expected;
};

class FormatDateTest : public testing::TestWithParam<DateCase> {};

TEST_P(FormatDateTest, Renders) {
  const DateCase& c = GetParam();
  EXPECT_EQ(formatDate(c.format, c.year, c.month, c.day), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Dates, FormatDateTest,
                         testing::Values(DateCase{"dd.MM.yyyy", 2024, 3, 5, "05.03.2024"},
                                         DateCase{"d.M.yy", 2024, 3, 5, "5.3.24"},
                                         DateCase{"yyyy-MM-dd", 2009, 12, 31, "2009-12-31"},
                                         DateCase{"MM/dd/yy", 2000, 1, 1, "01/01/00"},
                                         DateCase{"d/M/y", 2007, 11, 22, "22/11/7"},
                                         DateCase{"dd.MM.yyyy", 980, 1, 2, "02.01.0980"},
                                         // time letters mean nothing in a date
                                         DateCase{"dd hh:mm", 2024, 3, 5, "05 hh:mm"}));

struct TimeCase {
  const char* format;
  int hour, minute, second;
  const char* expected;
};

class FormatTimeTest : public testing::TestWithParam<TimeCase> {};

TEST_P(FormatTimeTest, Renders) {
  const TimeCase& c = GetParam();
  EXPECT_EQ(formatTime(c.format, c.hour, c.minute, c.second), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Times, FormatTimeTest,
                         testing::Values(TimeCase{"H:mm:ss", 9, 7, 3, "9:07:03"},
                                         TimeCase{"hh:mm:ss", 9, 7, 3, "09:07:03"},
                                         TimeCase{"HH.mm", 23, 59, 0, "23.59"},
                                         // without a designator h is the 24-hour hour too
                                         TimeCase{"h:mm:ss", 21, 0, 9, "21:00:09"},
                                         TimeCase{"h:m:s", 0, 0, 0, "0:0:0"},
                                         TimeCase{"H:mm dd.MM", 1, 2, 3, "1:02 dd.MM"},
                                         // with one, h and hh give 1 to 12; H stays 24-hour
                                         TimeCase{"h:mm:ss tt", 15, 4, 5, "3:04:05 PM"},
                                         TimeCase{"hh:mm:ss tt", 9, 4, 5, "09:04:05 AM"},
                                         TimeCase{"h:mm tt", 0, 5, 0, "12:05 AM"},
                                         TimeCase{"h:mm tt", 12, 0, 0, "12:00 PM"},
                                         TimeCase{"h:mm t", 23, 59, 0, "11:59 P"},
                                         TimeCase{"tt H:mm", 13, 1, 0, "PM 13:01"}));

TEST(FormatTime, TakesTheDesignatorsItIsGiven) {
  const std::string am = "\xE4\xEF";  // "дп" in Windows-1251
  const std::string pm = "\xEF\xEF";  // "пп"
  EXPECT_EQ(formatTime("tt h:mm", 7, 30, 0, am, pm), am + " 7:30");
  EXPECT_EQ(formatTime("tt h:mm", 19, 30, 0, am, pm), pm + " 7:30");
  EXPECT_EQ(formatTime("h:mm:ss", 19, 30, 0, am, pm), "19:30:00");
}

// --- C-library patterns ---

struct PatternCase {
  const char* strftime;
  const char* expected;  // "" = cannot be used
};

class TranslatePatternTest : public testing::TestWithParam<PatternCase> {};

TEST_P(TranslatePatternTest, Translates) {
  EXPECT_EQ(translateStrftimePattern(GetParam().strftime), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, TranslatePatternTest,
    testing::Values(PatternCase{"%d.%m.%Y", "dd.MM.yyyy"}, PatternCase{"%m/%d/%y", "MM/dd/yy"},
                    PatternCase{"%e.%m.%Y", "d.MM.yyyy"}, PatternCase{"%-d.%-m.%Y", "d.M.yyyy"},
                    PatternCase{"%Od.%Om.%EY", "dd.MM.yyyy"}, PatternCase{"%F", "yyyy-MM-dd"},
                    PatternCase{"%D", "MM/dd/yy"}, PatternCase{"%T", "HH:mm:ss"},
                    PatternCase{"%H:%M", "HH:mm"}, PatternCase{"%k:%M:%S", "H:mm:ss"},
                    PatternCase{"%r", "hh:mm:ss tt"}, PatternCase{"%I:%M:%S %p", "hh:mm:ss tt"},
                    PatternCase{"%p %l:%M:%S", "tt h:mm:ss"}, PatternCase{"%Y%%%m", "yyyy%MM"},
                    PatternCase{"%l:%M %P", "h:mm tt"},
                    // names, literal letters and non-ASCII text cannot be shown
                    PatternCase{"%a %d %b %Y", ""}, PatternCase{"%d de %m", ""},
                    PatternCase{"%Y\xE5\xB9\xB4%m\xE6\x9C\x88%d", ""}, PatternCase{"%d.%", ""},
                    PatternCase{"%Z", ""}, PatternCase{"", ""}));

// --- the rule ---

// Sets the locale variables for one test and restores them afterwards.
class LocaleEnvironment {
 public:
  LocaleEnvironment() {
    for (int i = 0; i < kCount; ++i) {
      const char* value = std::getenv(kNames[i]);
      if (value != nullptr) saved_[i] = value;
      unsetenv(kNames[i]);
    }
  }
  ~LocaleEnvironment() {
    for (int i = 0; i < kCount; ++i) {
      if (saved_[i]) {
        setenv(kNames[i], saved_[i]->c_str(), 1);
      } else {
        unsetenv(kNames[i]);
      }
    }
  }
  void set(const char* name, const char* value) { setenv(name, value, 1); }

 private:
  static constexpr int kCount = 4;
  static constexpr const char* kNames[kCount] = {"LC_ALL", "LC_TIME", "LANG", "LOCPATH"};
  std::optional<std::string> saved_[kCount];
};

void expectRussianDefaults(const RegionalFormats& formats) {
  EXPECT_EQ(formats.shortDate, "dd.MM.yyyy");
  EXPECT_EQ(formats.longTime, "H:mm:ss");
}

TEST(FormatsFromEnvironment, NothingSetGivesRussianDefaults) {
  LocaleEnvironment env;
  expectRussianDefaults(formatsFromEnvironment());
}

TEST(FormatsFromEnvironment, PlainLocalesGiveRussianDefaults) {
  for (const char* plain : {"C", "POSIX", "C.UTF-8", "C.utf8"}) {
    LocaleEnvironment env;
    env.set("LANG", plain);
    SCOPED_TRACE(plain);
    expectRussianDefaults(formatsFromEnvironment());
  }
}

TEST(FormatsFromEnvironment, LocaleThatCannotBeLoadedGivesDefaults) {
  LocaleEnvironment env;
  env.set("LC_ALL", "xx_NOWHERE.UTF-8");
  expectRussianDefaults(formatsFromEnvironment());
}

// Compiles locales from the system's sources into a private directory (LOCPATH), so that the
// rule can be seen picking a real locale's formats. Skipped where localedef is missing.
class RealLocaleTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::TempDir();
    for (const char* name : {"en_US", "ru_RU"}) {
      const std::string command = "localedef -i " + std::string(name) + " -f UTF-8 '" +
                                  dir_->file(std::string(name) + ".UTF-8") + "' >/dev/null 2>&1";
      if (std::system(command.c_str()) != 0) available_ = false;
    }
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    if (!available_) GTEST_SKIP() << "localedef or the locale sources are missing";
    env_.set("LOCPATH", dir_->str().c_str());
  }

  static inline test::TempDir* dir_ = nullptr;
  static inline bool available_ = true;
  LocaleEnvironment env_;
};

TEST_F(RealLocaleTest, LcAllWins) {
  env_.set("LC_ALL", "en_US.UTF-8");
  env_.set("LC_TIME", "ru_RU.UTF-8");
  const RegionalFormats formats = formatsFromEnvironment();
  EXPECT_EQ(formats.shortDate, "MM/dd/yyyy");
  EXPECT_EQ(formats.longTime, "hh:mm:ss tt");
  EXPECT_EQ(formats.timeAm, "AM");
  EXPECT_EQ(formats.timePm, "PM");
  EXPECT_EQ(formatTime(formats.longTime, 15, 4, 5, formats.timeAm, formats.timePm),
            "03:04:05 PM");
}

TEST_F(RealLocaleTest, LcTimeBeforeLang) {
  env_.set("LC_TIME", "ru_RU.UTF-8");
  env_.set("LANG", "en_US.UTF-8");
  const RegionalFormats formats = formatsFromEnvironment();
  EXPECT_EQ(formats.shortDate, "dd.MM.yyyy");
  EXPECT_EQ(formats.longTime, "HH:mm:ss");
}

TEST_F(RealLocaleTest, EmptyVariablesAreSkipped) {
  env_.set("LC_ALL", "");
  env_.set("LC_TIME", "");
  env_.set("LANG", "en_US.UTF-8");
  EXPECT_EQ(formatsFromEnvironment().shortDate, "MM/dd/yyyy");
}

TEST_F(RealLocaleTest, PlainLocaleFirstHidesTheOthers) {
  env_.set("LC_ALL", "C");
  env_.set("LC_TIME", "en_US.UTF-8");
  expectRussianDefaults(formatsFromEnvironment());
}

}  // namespace
}  // namespace kordel
