// Dates of the proleptic Gregorian calendar as days since 1 January 1970 (H. Hinnant's
// algorithms): the one conversion the report's date-times, the call analysis and the PBX clock
// check share.
#pragma once

#include <cstdint>

namespace kordel {

// Days from 1 January 1970 to the date (negative before it). A day outside the month counts on
// from its start (day 0 is the day before the 1st).
std::int64_t daysFromCivil(std::int64_t year, int month, int day);
// The date of a day count.
void civilFromDays(std::int64_t days, int& year, int& month, int& day);

}  // namespace kordel
