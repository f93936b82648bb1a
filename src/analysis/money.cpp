#include "analysis/money.h"

namespace kordel::analysis {

std::string formatMoney(Money value, const MoneyFormat& format) {
  const bool negative = value < 0;
  // Built from the unsigned magnitude, so the smallest value is written too.
  std::uint64_t magnitude =
      negative ? ~static_cast<std::uint64_t>(value) + 1 : static_cast<std::uint64_t>(value);
  std::uint64_t scale = 1;
  for (int i = 0; i < kMoneyDigits; ++i) scale *= 10;
  const std::string whole = std::to_string(magnitude / scale);
  std::string fraction = std::to_string(magnitude % scale);
  fraction.insert(0, static_cast<std::size_t>(kMoneyDigits) - fraction.size(), '0');
  std::string out = negative ? "-" : "";
  for (std::size_t i = 0; i < whole.size(); ++i) {
    if (i > 0 && (whole.size() - i) % 3 == 0) out += format.group;
    out += whole[i];
  }
  out += format.decimal;
  out += fraction;
  return out;
}

bool parseDecimal(std::string_view text, int digits, std::int64_t& value) {
  constexpr std::int64_t kLimit = 100000000000000;  // 10^14
  std::size_t i = 0;
  auto isSpace = [](char c) { return c == ' ' || c == '\xA0'; };
  while (i < text.size() && isSpace(text[i])) ++i;
  std::size_t end = text.size();
  while (end > i && isSpace(text[end - 1])) --end;
  if (i == end) return false;
  std::int64_t whole = 0;
  std::int64_t fraction = 0;
  int places = 0;
  bool anyDigit = false;
  bool inFraction = false;
  for (; i < end; ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      anyDigit = true;
      if (inFraction) {
        if (++places > digits) return false;
        fraction = fraction * 10 + (c - '0');
      } else {
        whole = whole * 10 + (c - '0');
        if (whole > kLimit) return false;
      }
    } else if ((c == ',' || c == '.') && !inFraction) {
      inFraction = true;
    } else if (isSpace(c) && !inFraction && i + 1 < end && text[i + 1] >= '0' &&
               text[i + 1] <= '9') {
      continue;  // a group separator
    } else {
      return false;
    }
  }
  if (!anyDigit) return false;
  for (; places < digits; ++places) fraction *= 10;
  std::int64_t scale = 1;
  for (int k = 0; k < digits; ++k) scale *= 10;
  value = whole * scale + fraction;
  return true;
}

}  // namespace kordel::analysis
