// The programs' option code on top of CLI11: what numbers are taken, the messages, the help.
#include "app/options/cli_options.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

namespace opt = kordel::options;

struct Outcome {
  int status;         // -1: parsed
  std::string error;  // what went to stderr
};

Outcome parse(CLI::App& app, std::vector<std::string> args) {
  std::vector<const char*> argv{"prog"};
  for (const auto& a : args) argv.push_back(a.c_str());
  std::ostringstream err;
  auto* old = std::cerr.rdbuf(err.rdbuf());
  const int rc = opt::parse(app, static_cast<int>(argv.size()), argv.data());
  std::cerr.rdbuf(old);
  return {rc, err.str()};
}

TEST(CliOptions, WholeNumbersAreDecimalOrHexOnly) {
  struct Case {
    const char* text;
    int want;  // -1: refused
  } cases[] = {{"10", 10},   {"010", 10},  {"0x1F", 31}, {"0X1f", 31},
               {"+7", 7},    {"255", 255}, {"256", -1},  {" 5", -1},
               {"5 ", -1},   {"0x", -1},   {"1e2", -1},  {"--5", -1},
               {"0x1G", -1}, {"", -1},     {"-1", -1},   {"99999999999999999999", -1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    CLI::App app{"test", "prog"};
    opt::configure(app);
    std::uint8_t byte = 0;  // a byte-sized target must not take "5" as the character '5'
    opt::integer(app, "--byte", byte, "a byte");
    const Outcome o = parse(app, {"--byte", c.text});
    if (c.want < 0) {
      EXPECT_EQ(o.status, 2);
      EXPECT_NE(o.error.find(std::string("prog: --byte: \"") + c.text +
                             "\" is not a whole number from 0 to 255"),
                std::string::npos)
          << o.error;
    } else {
      EXPECT_EQ(o.status, -1) << o.error;
      EXPECT_EQ(byte, c.want);
    }
  }
}

TEST(CliOptions, NumbersChoicesAndRepeats) {
  CLI::App app{"test", "prog"};
  opt::configure(app);
  double p = 0;
  std::string kind = "a";
  std::optional<int> count;
  opt::decimal(app, "--p", p, "a probability", 0, 1);
  opt::choice(app, "--kind", kind, {"a", "bc"}, "a kind");
  opt::integer(app, "--count", count, "a count", 1, 9);
  EXPECT_EQ(parse(app, {"--p=0.25", "--kind", "bc", "--count", "3", "--count", "4"}).status, -1);
  EXPECT_EQ(p, 0.25);
  EXPECT_EQ(kind, "bc");
  EXPECT_EQ(count, 4) << "the last of a repeated option counts";
  for (const auto& [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--p", "1.5"}, "--p: \"1.5\" is not a number from 0 to 1"},
           {{"--p", "nan"}, "--p: \"nan\" is not a number from 0 to 1"},
           {{"--kind", "b"}, "--kind: \"b\" is not one of a, bc"},
           {{"--count", "0"}, "--count: \"0\" is not a whole number from 1 to 9"}}) {
    const Outcome o = parse(app, args);
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.error.find(message), std::string::npos) << o.error;
  }
}

TEST(CliOptions, HelpIsWrappedAndShowsRangesAndChoices) {
  CLI::App app{"test", "prog"};
  opt::configure(app);
  int n = 0;
  std::string file, kind;
  app.add_option("FILE", file, "the file")->required();
  opt::integer(app, "--n", n, std::string(30, 'x') + " " + std::string(50, 'y'), 1, 300);
  opt::choice(app, "--kind", kind, {"a", "bc"}, "a kind");
  const std::string help = app.help();
  EXPECT_NE(help.find("Usage: prog FILE [OPTIONS]"), std::string::npos) << help;
  EXPECT_NE(help.find("--kind {a,bc}"), std::string::npos) << help;
  EXPECT_NE(help.find(std::string(30, 'x') + "\n" + std::string(36, ' ') + std::string(50, 'y') +
                      " (1..300)\n"),
            std::string::npos)
      << help;
  std::istringstream lines(help);
  for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 100u) << line;
}

}  // namespace
