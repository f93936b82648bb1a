// Test support: call records to render, save and load.
#pragma once

#include <string>

#include "link/call_record.h"

namespace kordel::test {

// A plausible record: 05-03-2004 09:07:03, lasting the given time, on hardware line `hw`.
inline CallRecord makeRecord(int hw, const std::string& prg, const std::string& trunk,
                             const std::string& dialed, int dh = 0, int dm = 1, int ds = 5) {
  CallRecord r;
  r.year = 2004;
  r.month = 3;
  r.day = 5;
  r.hour = 9;
  r.minute = 7;
  r.second = 3;
  r.durationHours = dh;
  r.durationMinutes = dm;
  r.durationSeconds = ds;
  r.hardwareNumber = hw;
  r.programmedNumber = prg;
  r.trunk = trunk;
  r.dialedNumber = dialed;
  return r;
}

}  // namespace kordel::test
