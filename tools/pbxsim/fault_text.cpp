// The text forms of the input faults, as the program's options take them.
#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "pbxsim.h"

namespace pbxsim {

namespace {

std::vector<std::string> splitColons(std::string_view text) {
  std::vector<std::string> parts;
  std::size_t from = 0;
  for (;;) {
    const auto at = text.find(':', from);
    parts.emplace_back(text.substr(from, at == std::string_view::npos ? at : at - from));
    if (at == std::string_view::npos) return parts;
    from = at + 1;
  }
}

// A whole number, decimal or 0x.. hex, in [min, max].
long wholeNumber(const std::string& text, long min, long max, const std::string& what) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  char* end = nullptr;
  errno = 0;
  const long v = digits.empty() || digits[0] == '-' || digits[0] == '+' || digits[0] == ' '
                     ? -1
                     : std::strtol(digits.c_str(), &end, hex ? 16 : 10);
  if (v < min || v > max || errno != 0 || !end || *end != '\0')
    throw std::invalid_argument(what + " \"" + text + "\" is not a whole number from " +
                                std::to_string(min) + " to " + std::to_string(max));
  return v;
}

int byteValue(const std::string& text, const std::string& what) {
  return static_cast<int>(wholeNumber(text, 0, 255, what));
}

}  // namespace

InputFault parseInputFault(std::string_view text) {
  auto parts = splitColons(text);
  InputFault f;
  if (parts.size() < 3 || parts.size() > 5)
    throw std::invalid_argument("\"" + std::string(text) +
                                "\" is not KIND:MATCH:N[:VALUE][:persist]");
  if (parts[0] == "drop")
    f.kind = InputFault::Kind::Drop;
  else if (parts[0] == "replace")
    f.kind = InputFault::Kind::Replace;
  else if (parts[0] == "insert")
    f.kind = InputFault::Kind::Insert;
  else
    throw std::invalid_argument("\"" + parts[0] + "\" is not one of drop, replace, insert");
  f.match = parts[1] == "any" ? -1 : byteValue(parts[1], "match");
  f.nth = static_cast<int>(wholeNumber(parts[2], 1, 1000000000, "count"));
  if (parts.size() > 3 && parts.back() == "persist") {
    f.persistent = true;
    parts.pop_back();
  }
  if (parts.size() == 5) throw std::invalid_argument("\"" + parts[4] + "\" is not persist");
  if (parts.size() == 4) {
    if (f.kind == InputFault::Kind::Drop)
      throw std::invalid_argument("drop takes no value: \"" + parts[3] + "\"");
    f.value = byteValue(parts[3], "value");
  }
  return f;
}

std::pair<double, int> parseChanceAndByte(std::string_view text) {
  const auto parts = splitColons(text);
  if (parts.size() > 2)
    throw std::invalid_argument("\"" + std::string(text) + "\" is not P[:VALUE]");
  char* end = nullptr;
  const double p = parts[0].empty() ? -1 : std::strtod(parts[0].c_str(), &end);
  if (!(p >= 0 && p <= 1) || !end || *end != '\0')
    throw std::invalid_argument("\"" + parts[0] + "\" is not a number from 0 to 1");
  return {p, parts.size() == 2 ? byteValue(parts[1], "value") : -1};
}

}  // namespace pbxsim
