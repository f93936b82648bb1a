// What kordel-cli and pbxsim add to CLI11 for their options: whole numbers written in decimal
// or 0x.. hex (never octal), numbers, ranges and choices with plain messages, help texts
// wrapped to 100 columns, and the exit statuses (0 after --help, 2 for a wrong command line).
// Uses the C++ standard library and CLI11 only; it knows nothing of the PBX.
#pragma once

#include <CLI/CLI.hpp>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <concepts>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

namespace kordel::options {

// An optional sign, then decimal digits or "0x" and hex digits, in [min, max]. strtoll alone
// would take blanks, octal and a second sign.
inline std::optional<long long> parseInteger(const std::string& text, long long min,
                                             long long max) {
  std::string digits = text;
  const bool negative = !digits.empty() && digits[0] == '-';
  if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) digits.erase(0, 1);
  const bool hex = digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X');
  if (hex) digits.erase(0, 2);
  if (digits.empty()) return std::nullopt;
  for (const char c : digits)
    if (!(hex ? std::isxdigit(static_cast<unsigned char>(c))
              : std::isdigit(static_cast<unsigned char>(c))))
      return std::nullopt;
  errno = 0;
  const long long magnitude = std::strtoll(digits.c_str(), nullptr, hex ? 16 : 10);
  if (errno == ERANGE) return std::nullopt;
  const long long value = negative ? -magnitude : magnitude;
  if (value < min || value > max) return std::nullopt;
  return value;
}

// A finite decimal floating-point number in [min, max], nothing before or after it.
inline std::optional<double> parseNumber(const std::string& text, double min, double max) {
  if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (errno == ERANGE || *end != '\0' || !std::isfinite(value)) return std::nullopt;
  if (value < min || value > max) return std::nullopt;
  return value;
}

// Checks a whole number and hands it on in decimal, so that CLI11 converts it as written.
inline CLI::Validator wholeNumber(long long min, long long max) {
  return CLI::Validator(
      [min, max](std::string& text) -> std::string {
        const auto n = parseInteger(text, min, max);
        if (!n)
          return "\"" + text + "\" is not a whole number from " + std::to_string(min) + " to " +
                 std::to_string(max);
        text = std::to_string(*n);
        return {};
      },
      "");
}

inline CLI::Validator number(double min, double max) {
  return CLI::Validator(
      [min, max](std::string& text) -> std::string {
        if (parseNumber(text, min, max)) return {};
        std::ostringstream os;
        os << "\"" << text << "\" is not a number";
        if (min > -std::numeric_limits<double>::max() || max < std::numeric_limits<double>::max())
          os << " from " << min << " to " << max;
        return os.str();
      },
      "");
}

inline CLI::Validator oneOf(std::vector<std::string> choices) {
  return CLI::Validator(
      [choices](std::string& text) -> std::string {
        for (const auto& c : choices)
          if (c == text) return {};
        return "\"" + text + "\" is not one of " + CLI::detail::join(choices, ", ");
      },
      "");
}

// " (min..max)" when the range is narrower than the target's type.
template <typename T>
std::string rangeNote(long long min, long long max) {
  if (min == static_cast<long long>(std::numeric_limits<T>::min()) &&
      max == static_cast<long long>(std::numeric_limits<T>::max()))
    return {};
  return " (" + std::to_string(min) + ".." + std::to_string(max) + ")";
}

template <typename T>
concept WholeNumberTarget = std::integral<T> &&
    (std::is_signed_v<T> || sizeof(T) < sizeof(long long));

// A whole number in [min, max] (by default the range of the target's type). The value goes
// through long long, so a byte-sized target takes "5" as 5, not as the character '5'.
template <WholeNumberTarget T, typename Target>
CLI::Option* integerInto(CLI::App& app, const std::string& name, Target& target,
                         const std::string& help, long long min, long long max) {
  return app
      .add_option_function<long long>(
          name, [&target](const long long& v) { target = static_cast<T>(v); },
          help + rangeNote<T>(min, max))
      ->type_name("N")
      ->transform(wholeNumber(min, max));
}
template <WholeNumberTarget T>
CLI::Option* integer(CLI::App& app, const std::string& name, T& target, const std::string& help,
                     long long min = std::numeric_limits<T>::min(),
                     long long max = static_cast<long long>(std::numeric_limits<T>::max())) {
  return integerInto<T, T>(app, name, target, help, min, max);
}
template <WholeNumberTarget T>
CLI::Option* integer(CLI::App& app, const std::string& name, std::optional<T>& target,
                     const std::string& help, long long min = std::numeric_limits<T>::min(),
                     long long max = static_cast<long long>(std::numeric_limits<T>::max())) {
  return integerInto<T, std::optional<T>>(app, name, target, help, min, max);
}

// Exactly `count` whole numbers in [min, max] after the name.
inline CLI::Option* integers(CLI::App& app, const std::string& name, std::vector<int>& target,
                             int count, const std::string& help, long long min, long long max) {
  return app.add_option(name, target, help + rangeNote<int>(min, max))
      ->type_name("N")
      ->expected(count)
      ->multi_option_policy(CLI::MultiOptionPolicy::Throw)
      ->transform(wholeNumber(min, max));
}

// A number (fractions allowed) in [min, max].
inline CLI::Option* decimal(CLI::App& app, const std::string& name, double& target,
                            const std::string& help,
                            double min = -std::numeric_limits<double>::max(),
                            double max = std::numeric_limits<double>::max()) {
  return app.add_option(name, target, help)->type_name("X")->check(number(min, max));
}

// A text that must be one of `choices`; `Target` is std::string or std::optional<std::string>.
template <typename Target>
CLI::Option* choice(CLI::App& app, const std::string& name, Target& target,
                    std::vector<std::string> choices, const std::string& help) {
  const std::string valueName = "{" + CLI::detail::join(choices, ",") + "}";
  return app.add_option(name, target, help)->type_name(valueName)->check(oneOf(std::move(choices)));
}

// CLI11's layout with "Usage: NAME [POSITIONALS] [COMMAND] [OPTIONS]" and help texts wrapped
// at word boundaries to fit 100 columns. Commands are listed under the group they are given
// ("Commands").
class Formatter : public CLI::Formatter {
 public:
  Formatter() {
    column_width(36);
    label("SUBCOMMAND", "COMMAND");
  }

  std::string make_usage(const CLI::App* app, std::string name) const override {
    std::string out = get_label("Usage") + ": " + name;
    for (const CLI::Option* o :
         app->get_options([](const CLI::Option* o) { return o->get_positional(); }))
      out += " " + make_option_usage(o);
    if (!app->get_subcommands([](const CLI::App* s) { return !s->get_name().empty(); }).empty())
      out += " " + get_label("SUBCOMMAND");
    return out + " [" + get_label("OPTIONS") + "]\n";
  }

  // A blank line between the description and the usage line.
  std::string make_description(const CLI::App* app) const override {
    const std::string d = CLI::Formatter::make_description(app);
    return d.empty() ? d : d + "\n";
  }

  std::string make_option_desc(const CLI::Option* o) const override {
    return wrapped(o->get_description());
  }
  std::string make_subcommand(const CLI::App* sub) const override {
    std::stringstream out;
    CLI::detail::format_help(out, sub->get_display_name(), wrapped(sub->get_description()),
                             get_column_width());
    return out.str();
  }

 private:
  // Lines of at most 100 columns after the left column; CLI11 indents each new line.
  std::string wrapped(const std::string& text) const {
    const std::size_t room = 100 - get_column_width();
    std::istringstream words(text);
    std::string out, word;
    std::size_t used = 0;
    while (words >> word) {
      if (used > 0 && used + 1 + word.size() > room) {
        out += '\n';
        used = 0;
      } else if (used > 0) {
        out += ' ';
        ++used;
      }
      out += word;
      used += word.size();
    }
    return out;
  }
};

// Sets up a program's App before its options and commands are added (commands take these
// settings over): the layout, the help option, and the last of a repeated option counting.
inline void configure(CLI::App& app) {
  app.formatter(std::make_shared<Formatter>());
  app.set_help_flag("-h,--help", "Show this help and exit");
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

// Parses the command line. Returns -1 to go on, or the exit status to end with: 0 after the
// help was printed on stdout, 2 after the reason for a wrong command line was printed on
// stderr.
inline int parse(CLI::App& app, int argc, const char* const* argv) {
  try {
    app.parse(argc, argv);
    return -1;
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return 0;
  } catch (const CLI::ParseError& e) {
    std::cerr << app.get_name() << ": " << e.what() << "\nRun with --help for more information.\n";
    return 2;
  }
}

}  // namespace kordel::options
