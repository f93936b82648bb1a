// Call analysis: exact money. Sums are whole minor units (kopecks) in 64 bits, never binary
// floating point; prices of a tariff keep four decimals.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kordel::analysis {

// An amount in minor units: 123456 is 1 234,56.
using Money = std::int64_t;
inline constexpr int kMoneyDigits = 2;

// A tariff price in ten-thousandths of the unit: 15000 is 1,50.
using Price = std::int64_t;
inline constexpr int kPriceDigits = 4;

// How an amount is written. The default is the Russian one: "1 234,56".
struct MoneyFormat {
  char decimal = ',';
  std::string group = " ";  // between groups of three digits; empty for none
};

std::string formatMoney(Money value, const MoneyFormat& format = {});

// A non-negative decimal with at most `digits` places, ',' or '.' before the fraction, spaces
// (also the no-break space of Windows-1251) allowed between groups: "1 234,5" with 4 digits is
// 12345000. False for anything else, or beyond 10^14 units.
bool parseDecimal(std::string_view text, int digits, std::int64_t& value);

// A price in minor units, rounded half up: ten-thousandths to hundredths.
inline Money priceToMoney(Price price) { return (price + 50) / 100; }

}  // namespace kordel::analysis
