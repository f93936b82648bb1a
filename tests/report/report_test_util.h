// Helpers shared by the report builder's tests: data files and fixed formats.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "files/call_record_line.h"
#include "files/regional_format.h"
#include "files/text_codec.h"
#include "link/call_record.h"
#include "support/call_records.h"
#include "support/temp_dir.h"

namespace kordel::report::testing {

// The shared test support: temporary folders, file bytes and call records.
using test::makeRecord;
using test::readBytes;
using test::TempDir;
using test::writeBytes;

inline std::string joinCrLf(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& l : lines) out += l + "\r\n";
  return out;
}

// Fixed formats, whatever the environment says.
inline void useRussianFormats() {
  regionalFormats().shortDate = "dd.MM.yyyy";
  regionalFormats().longTime = "hh:mm:ss";
}

}  // namespace kordel::report::testing
