#include "app/args/option_parser.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace kordel::args {

std::optional<long long> parseInteger(const std::string& text, long long min, long long max) {
  std::string digits = text;
  bool negative = false;
  if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) {
    negative = digits[0] == '-';
    digits.erase(0, 1);
  }
  int base = 10;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16;
    digits.erase(0, 2);
  }
  // strtoll would skip blanks and take a sign of its own; allow digits only.
  if (digits.empty()) return std::nullopt;
  for (char c : digits) {
    const bool ok = base == 16 ? std::isxdigit(static_cast<unsigned char>(c)) != 0
                               : (c >= '0' && c <= '9');
    if (!ok) return std::nullopt;
  }
  errno = 0;
  char* end = nullptr;
  const long long magnitude = std::strtoll(digits.c_str(), &end, base);
  if (errno == ERANGE || *end != '\0') return std::nullopt;
  const long long value = negative ? -magnitude : magnitude;
  if (value < min || value > max) return std::nullopt;
  return value;
}

std::optional<double> parseNumber(const std::string& text, double min, double max) {
  if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (errno == ERANGE || *end != '\0' || !std::isfinite(value)) return std::nullopt;
  if (value < min || value > max) return std::nullopt;
  return value;
}

OptionParser::OptionParser(std::string usage, std::string description)
    : usage_(std::move(usage)), description_(std::move(description)) {}

void OptionParser::add(const std::string& name, const std::string& valueName,
                       const std::string& help, bool takesValue,
                       std::function<std::string(const std::string&)> set) {
  options_.push_back({name, valueName, help, takesValue ? 1 : 0,
                      [set = std::move(set)](const std::vector<std::string>& values) {
                        return set(values.empty() ? std::string() : values.front());
                      }});
}

void OptionParser::flag(const std::string& name, bool& target, const std::string& help) {
  add(name, "", help, false, [&target](const std::string&) {
    target = true;
    return std::string();
  });
}

void OptionParser::text(const std::string& name, std::string& target, const std::string& help) {
  add(name, "TEXT", help, true, [&target](const std::string& v) {
    target = v;
    return std::string();
  });
}

void OptionParser::text(const std::string& name, std::optional<std::string>& target,
                        const std::string& help) {
  add(name, "TEXT", help, true, [&target](const std::string& v) {
    target = v;
    return std::string();
  });
}

namespace {

std::string joined(const std::vector<std::string>& items, const char* separator) {
  std::string out;
  for (const auto& item : items) {
    if (!out.empty()) out += separator;
    out += item;
  }
  return out;
}

std::string checkChoice(const std::string& name, const std::string& value,
                        const std::vector<std::string>& choices) {
  for (const auto& c : choices)
    if (c == value) return {};
  return name + ": \"" + value + "\" is not one of " + joined(choices, ", ");
}

}  // namespace

template <typename Target>
void OptionParser::addChoice(const std::string& name, Target& target,
                             std::vector<std::string> choices, const std::string& help) {
  const std::string valueName = "{" + joined(choices, ",") + "}";
  add(name, valueName, help, true, [&target, name, choices](const std::string& v) {
    std::string err = checkChoice(name, v, choices);
    if (err.empty()) target = v;
    return err;
  });
}

void OptionParser::choice(const std::string& name, std::string& target,
                          std::vector<std::string> choices, const std::string& help) {
  addChoice(name, target, std::move(choices), help);
}

void OptionParser::choice(const std::string& name, std::optional<std::string>& target,
                          std::vector<std::string> choices, const std::string& help) {
  addChoice(name, target, std::move(choices), help);
}

void OptionParser::integers(const std::string& name, std::vector<int>& target, int count,
                            const std::string& help, long long min, long long max) {
  Option o{name, "N", help, count, nullptr};
  o.set = [&target, name, min, max](const std::vector<std::string>& values) -> std::string {
    std::vector<int> numbers;
    for (const auto& v : values) {
      auto n = parseInteger(v, min, max);
      if (!n) return integerError(name, v, min, max);
      numbers.push_back(static_cast<int>(*n));
    }
    target = std::move(numbers);
    return {};
  };
  options_.push_back(std::move(o));
}

void OptionParser::number(const std::string& name, double& target, const std::string& help,
                          double min, double max) {
  add(name, "X", help, true, [&target, name, min, max](const std::string& v) -> std::string {
    auto x = parseNumber(v, min, max);
    if (!x) {
      std::ostringstream os;
      os << name << ": \"" << v << "\" is not a number";
      if (min > -std::numeric_limits<double>::max() || max < std::numeric_limits<double>::max())
        os << " from " << min << " to " << max;
      return os.str();
    }
    target = *x;
    return std::string();
  });
}

void OptionParser::positional(const std::string& name, std::string& target,
                              const std::string& help, bool required) {
  positionals_.push_back({name, help, &target, required});
}

void OptionParser::excludes(const std::string& first, const std::string& second) {
  exclusions_.emplace_back(first, second);
}

std::string OptionParser::rangeNote(long long min, long long max, long long typeMin,
                                    long long typeMax) {
  if (min == typeMin && max == typeMax) return {};
  return " (" + std::to_string(min) + ".." + std::to_string(max) + ")";
}

std::string OptionParser::integerError(const std::string& name, const std::string& value,
                                       long long min, long long max) {
  return name + ": \"" + value + "\" is not a whole number from " + std::to_string(min) +
         " to " + std::to_string(max);
}

const OptionParser::Option* OptionParser::find(const std::string& name) const {
  for (const auto& o : options_)
    if (o.name == name) return &o;
  return nullptr;
}

ParseStatus OptionParser::parse(const std::vector<std::string>& arguments) {
  error_.clear();
  for (const auto& a : arguments)
    if (a == "-h" || a == "--help") return ParseStatus::Help;

  std::vector<std::string> seen;
  std::size_t nextPositional = 0;
  bool onlyPositionals = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& arg = arguments[i];
    if (onlyPositionals || arg.size() < 2 || arg[0] != '-' ||
        (arg[1] != '-' && parseNumber(arg, -std::numeric_limits<double>::max(),
                                      std::numeric_limits<double>::max()))) {
      if (nextPositional >= positionals_.size()) {
        error_ = "unexpected argument: " + arg;
        return ParseStatus::Error;
      }
      *positionals_[nextPositional++].target = arg;
      continue;
    }
    if (arg == "--") {
      onlyPositionals = true;
      continue;
    }
    std::string name = arg;
    std::optional<std::string> inlineValue;
    if (const auto eq = arg.find('='); eq != std::string::npos && arg.rfind("--", 0) == 0) {
      name = arg.substr(0, eq);
      inlineValue = arg.substr(eq + 1);
    }
    const Option* o = find(name);
    if (!o) {
      error_ = "unknown option: " + name;
      return ParseStatus::Error;
    }
    std::vector<std::string> values;
    if (o->values == 0) {
      if (inlineValue) {
        error_ = name + " takes no value";
        return ParseStatus::Error;
      }
    } else {
      if (inlineValue) {
        if (o->values != 1) {
          error_ = name + " needs " + std::to_string(o->values) + " values after a space";
          return ParseStatus::Error;
        }
        values.push_back(*inlineValue);
      } else {
        if (i + static_cast<std::size_t>(o->values) >= arguments.size()) {
          error_ = name + (o->values == 1 ? " needs a value"
                                           : " needs " + std::to_string(o->values) + " values");
          return ParseStatus::Error;
        }
        for (int k = 0; k < o->values; ++k) values.push_back(arguments[++i]);
      }
    }
    if (std::string err = o->set(values); !err.empty()) {
      error_ = err;
      return ParseStatus::Error;
    }
    seen.push_back(name);
  }

  auto given = [&](const std::string& n) {
    for (const auto& s : seen)
      if (s == n) return true;
    return false;
  };
  for (const auto& [a, b] : exclusions_) {
    if (given(a) && given(b)) {
      error_ = a + " and " + b + " exclude each other";
      return ParseStatus::Error;
    }
  }
  for (std::size_t k = nextPositional; k < positionals_.size(); ++k) {
    if (positionals_[k].required) {
      error_ = positionals_[k].name + " is required";
      return ParseStatus::Error;
    }
  }
  return ParseStatus::Ok;
}

std::string OptionParser::help() const {
  std::ostringstream os;
  os << description_ << "\n\nUsage: " << usage_ << "\n";
  std::vector<std::pair<std::string, std::string>> rows;
  for (const auto& p : positionals_) rows.emplace_back(p.name, p.help);
  for (const auto& o : options_) {
    std::string left = o.name;
    for (int k = 0; k < o.values; ++k) left += " " + o.valueName;
    rows.emplace_back(left, o.help);
  }
  rows.emplace_back("-h, --help", "Show this help and exit");
  std::size_t width = 0;
  for (const auto& r : rows) width = std::max(width, r.first.size());
  if (width > 32) width = 32;
  os << "\n";
  // Help texts are wrapped at word boundaries to fit 100 columns.
  const std::size_t indent = width + 4;
  const std::size_t room = 100 - indent;
  for (const auto& [left, text] : rows) {
    os << "  " << left;
    if (left.size() > width) {
      os << "\n  " << std::string(width, ' ');
    } else {
      os << std::string(width - left.size(), ' ');
    }
    os << "  ";
    std::istringstream words(text);
    std::string word;
    std::size_t used = 0;
    while (words >> word) {
      if (used > 0 && used + 1 + word.size() > room) {
        os << "\n" << std::string(indent, ' ');
        used = 0;
      } else if (used > 0) {
        os << ' ';
        ++used;
      }
      os << word;
      used += word.size();
    }
    os << "\n";
  }
  return os.str();
}

}  // namespace kordel::args
