#include "app/args/option_parser.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kordel::args {
namespace {

TEST(ParseInteger, AcceptsDecimalAndHexWithinTheRangeOnly) {
  struct Case {
    const char* text;
    long long min, max;
    std::optional<long long> want;
  };
  const Case cases[] = {
      {"0", 0, 10, 0},          {"10", 0, 10, 10},        {"11", 0, 10, std::nullopt},
      {"-1", -1, 10, -1},       {"-2", -1, 10, std::nullopt},
      {"+7", 0, 10, 7},         {"0x5A", 0, 255, 0x5A},   {"0XfF", 0, 255, 255},
      {"0x100", 0, 255, std::nullopt},
      {"010", 0, 100, 10},  // a leading zero is not octal
      {"", 0, 10, std::nullopt}, {"0x", 0, 10, std::nullopt},
      {" 5", 0, 10, std::nullopt}, {"5 ", 0, 10, std::nullopt}, {"5x", 0, 10, std::nullopt},
      {"1.5", 0, 10, std::nullopt}, {"--5", -10, 10, std::nullopt}, {"-", -10, 10, std::nullopt},
      {"99999999999999999999", 0, 10, std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(parseInteger(c.text, c.min, c.max), c.want) << c.text;
}

TEST(ParseNumber, AcceptsFractionsWithinTheRangeOnly) {
  EXPECT_EQ(parseNumber("0.25", 0, 1), 0.25);
  EXPECT_EQ(parseNumber("1", 0, 1), 1.0);
  EXPECT_EQ(parseNumber("1e-3", 0, 1), 0.001);
  EXPECT_EQ(parseNumber("1.01", 0, 1), std::nullopt);
  EXPECT_EQ(parseNumber("-0.1", 0, 1), std::nullopt);
  EXPECT_EQ(parseNumber("nan", 0, 1), std::nullopt);
  EXPECT_EQ(parseNumber("inf", 0, 1e300), std::nullopt);
  EXPECT_EQ(parseNumber("", 0, 1), std::nullopt);
  EXPECT_EQ(parseNumber(" 0.5", 0, 1), std::nullopt);
  EXPECT_EQ(parseNumber("0.5s", 0, 1), std::nullopt);
}

// A parser with one option of each kind, bound to the fields of this struct.
struct Bound {
  bool flag = false;
  bool other = false;
  std::optional<std::string> text;
  std::string file;
  int count = 10;
  std::optional<int> limit;
  std::uint8_t byte = 0x55;
  double probability = 0;
  std::string mode = "live";
  std::vector<int> pair;
  OptionParser parser{"prog [OPTIONS]", "A test program"};

  Bound() {
    parser.flag("--flag", flag, "a flag");
    parser.flag("--other", other, "another flag");
    parser.excludes("--flag", "--other");
    parser.text("--text", text, "a text");
    parser.integer("--count", count, "a count", 1, 300);
    parser.integer("--limit", limit, "a limit", -1, 1000);
    parser.integer("--byte", byte, "a byte");
    parser.number("--probability", probability, "a probability", 0, 1);
    parser.choice("--mode", mode, {"live", "groups"}, "a mode");
    parser.integers("--pair", pair, 2, "two numbers", 0, 65535);
    parser.positional("FILE", file, "a file", true);
  }
};

TEST(OptionParser, FillsTheBoundVariablesFromBothSpellings) {
  Bound b;
  ASSERT_EQ(b.parser.parse({"--flag", "--text", "a b", "--count=300", "--limit", "-1", "--byte",
                            "0xFF", "--probability=0.5", "--mode", "groups", "--pair", "3", "4",
                            "data.txt"}),
            ParseStatus::Ok)
      << b.parser.error();
  EXPECT_TRUE(b.flag);
  EXPECT_FALSE(b.other);
  EXPECT_EQ(b.text, "a b");
  EXPECT_EQ(b.count, 300);
  EXPECT_EQ(b.limit, -1);
  EXPECT_EQ(b.byte, 0xFF);
  EXPECT_EQ(b.probability, 0.5);
  EXPECT_EQ(b.mode, "groups");
  EXPECT_EQ(b.pair, (std::vector<int>{3, 4}));
  EXPECT_EQ(b.file, "data.txt");
}

TEST(OptionParser, LeavesWhatIsNotGivenAsItWas) {
  Bound b;
  ASSERT_EQ(b.parser.parse({"f.txt"}), ParseStatus::Ok) << b.parser.error();
  EXPECT_FALSE(b.flag);
  EXPECT_EQ(b.text, std::nullopt);
  EXPECT_EQ(b.count, 10);
  EXPECT_EQ(b.limit, std::nullopt);
  EXPECT_EQ(b.byte, 0x55);
  EXPECT_EQ(b.mode, "live");
  EXPECT_TRUE(b.pair.empty());
}

TEST(OptionParser, TextValuesMayLookLikeAnything) {
  Bound b;
  ASSERT_EQ(b.parser.parse({"--text", "--count", "f.txt"}), ParseStatus::Ok) << b.parser.error();
  EXPECT_EQ(b.text, "--count");
  EXPECT_EQ(b.count, 10);
  Bound c;
  ASSERT_EQ(c.parser.parse({"--text=", "--", "--odd-file"}), ParseStatus::Ok) << c.parser.error();
  EXPECT_EQ(c.text, "");
  EXPECT_EQ(c.file, "--odd-file");
}

TEST(OptionParser, RejectsWrongArgumentsWithAReason) {
  struct Case {
    std::vector<std::string> args;
    const char* reasonPart;
  };
  const Case cases[] = {
      {{"f", "--nope"}, "unknown option: --nope"},
      {{"f", "--nope=1"}, "unknown option: --nope"},
      {{"f", "-x"}, "unknown option: -x"},
      {{"f", "--count"}, "--count needs a value"},
      {{"f", "--count", "0"}, "\"0\" is not a whole number from 1 to 300"},
      {{"f", "--count", "301"}, "from 1 to 300"},
      {{"f", "--count", "ten"}, "--count: \"ten\""},
      {{"f", "--byte", "256"}, "from 0 to 255"},
      {{"f", "--byte", "-1"}, "from 0 to 255"},
      {{"f", "--probability", "2"}, "not a number from 0 to 1"},
      {{"f", "--mode", "wire"}, "\"wire\" is not one of live, groups"},
      {{"f", "--pair", "1"}, "--pair needs 2 values"},
      {{"f", "--pair=1"}, "--pair needs 2 values after a space"},
      {{"f", "--pair", "1", "x"}, "--pair: \"x\""},
      {{"f", "--flag=1"}, "--flag takes no value"},
      {{"f", "--flag", "--other"}, "--flag and --other exclude each other"},
      {{}, "FILE is required"},
      {{"f", "g"}, "unexpected argument: g"},
  };
  for (const auto& c : cases) {
    Bound b;
    EXPECT_EQ(b.parser.parse(c.args), ParseStatus::Error) << c.reasonPart;
    EXPECT_NE(b.parser.error().find(c.reasonPart), std::string::npos)
        << "wanted \"" << c.reasonPart << "\" in \"" << b.parser.error() << "\"";
  }
}

TEST(OptionParser, HelpIsAskedForAnywhereAndListsEveryOption) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--help"}, {"-h"}, {"--count", "999", "--help"}, {"--nope", "-h"}}) {
    Bound b;
    EXPECT_EQ(b.parser.parse(args), ParseStatus::Help) << args.front();
  }
  Bound b;
  const std::string help = b.parser.help();
  EXPECT_EQ(help.rfind("A test program\n\nUsage: prog [OPTIONS]\n", 0), 0u) << help;
  for (const char* part : {"FILE", "--flag", "--text TEXT", "--count N", "(1..300)",
                           "--mode {live,groups}", "--pair N N", "--probability X", "--help"})
    EXPECT_NE(help.find(part), std::string::npos) << part << "\n" << help;
}

}  // namespace
}  // namespace kordel::args
