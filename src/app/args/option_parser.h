// A small command-line option parser for kordel-cli and pbxsim.
//
// Each option is bound to a variable of the caller's; `parse` fills the variables it sees and
// checks ranges and choices. Options are written "--name value" or "--name=value"; flags take
// no value; positional arguments are taken in order. "-h" and "--help" ask for the help text.
#pragma once

#include <concepts>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace kordel::args {

// Parses a whole decimal number, or a hexadecimal one written "0x..", into [min, max].
std::optional<long long> parseInteger(const std::string& text, long long min, long long max);
// Parses a whole decimal floating-point number into [min, max].
std::optional<double> parseNumber(const std::string& text, double min, double max);

enum class ParseStatus {
  Ok,    // every argument was taken; the bound variables hold the values
  Help,  // help was asked for; nothing else was checked
  Error  // the arguments are wrong; `error()` says why
};

class OptionParser {
 public:
  // `usage` follows "Usage: " in the help text, e.g. "kordel-cli read [OPTIONS]".
  OptionParser(std::string usage, std::string description);

  void flag(const std::string& name, bool& target, const std::string& help);

  void text(const std::string& name, std::string& target, const std::string& help);
  void text(const std::string& name, std::optional<std::string>& target, const std::string& help);

  // A text that must be one of `choices`.
  void choice(const std::string& name, std::string& target, std::vector<std::string> choices,
              const std::string& help);
  void choice(const std::string& name, std::optional<std::string>& target,
              std::vector<std::string> choices, const std::string& help);

  // A whole number in [min, max] (by default the range of the target's type).
  template <std::integral T>
    requires(std::is_signed_v<T> || sizeof(T) < sizeof(long long))
  void integer(const std::string& name, T& target, const std::string& help,
               long long min = std::numeric_limits<T>::min(),
               long long max = static_cast<long long>(std::numeric_limits<T>::max())) {
    addInteger<T>(name, target, help, min, max);
  }
  template <std::integral T>
    requires(std::is_signed_v<T> || sizeof(T) < sizeof(long long))
  void integer(const std::string& name, std::optional<T>& target, const std::string& help,
               long long min = std::numeric_limits<T>::min(),
               long long max = static_cast<long long>(std::numeric_limits<T>::max())) {
    addInteger<T>(name, target, help, min, max);
  }

  // Exactly `count` whole numbers in [min, max], given as that many values after the name.
  void integers(const std::string& name, std::vector<int>& target, int count,
                const std::string& help, long long min, long long max);

  // A number (fractions allowed) in [min, max].
  void number(const std::string& name, double& target, const std::string& help,
              double min = -std::numeric_limits<double>::max(),
              double max = std::numeric_limits<double>::max());

  // A positional argument; a required one missing is an error.
  void positional(const std::string& name, std::string& target, const std::string& help,
                  bool required);

  // The two options may not both be given.
  void excludes(const std::string& first, const std::string& second);

  // Parses the arguments after the program (and sub-command) name.
  ParseStatus parse(const std::vector<std::string>& arguments);

  const std::string& error() const { return error_; }
  std::string help() const;

 private:
  struct Option {
    std::string name;
    std::string valueName;  // empty for a flag
    std::string help;
    int values = 1;         // values taken after the name
    std::function<std::string(const std::vector<std::string>&)> set;  // "" or an error
  };
  struct Positional {
    std::string name;
    std::string help;
    std::string* target;
    bool required;
  };

  void add(const std::string& name, const std::string& valueName, const std::string& help,
           bool takesValue, std::function<std::string(const std::string&)> set);
  // `Target` is T or std::optional<T>.
  template <typename T, typename Target>
  void addInteger(const std::string& name, Target& target, const std::string& help,
                  long long min, long long max) {
    add(name, "N", help + rangeNote(min, max, std::numeric_limits<T>::min(),
                                    static_cast<long long>(std::numeric_limits<T>::max())),
        true, [&target, min, max, name](const std::string& v) -> std::string {
          auto n = parseInteger(v, min, max);
          if (!n) return integerError(name, v, min, max);
          target = static_cast<T>(*n);
          return {};
        });
  }
  // `Target` is std::string or std::optional<std::string>.
  template <typename Target>
  void addChoice(const std::string& name, Target& target, std::vector<std::string> choices,
                 const std::string& help);
  const Option* find(const std::string& name) const;
  static std::string rangeNote(long long min, long long max, long long typeMin,
                               long long typeMax);
  static std::string integerError(const std::string& name, const std::string& value,
                                  long long min, long long max);

  std::string usage_;
  std::string description_;
  std::vector<Option> options_;
  std::vector<Positional> positionals_;
  std::vector<std::pair<std::string, std::string>> exclusions_;
  std::string error_;
};

}  // namespace kordel::args
