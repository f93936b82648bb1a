// Helpers shared by the call analysis tests: call-record lines with chosen times and numbers,
// written to data files in temporary folders.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analysis/call_store.h"
#include "files/call_record_line.h"
#include "files/text_codec.h"
#include "support/call_records.h"
#include "support/temp_dir.h"

namespace kordel::analysis::testing {

using test::TempDir;
using test::writeBytes;

// A call-record line: start "yyyy-mm-dd hh:mm:ss", duration in seconds.
inline std::string callLine(const std::string& start, int seconds, int hw, const std::string& prg,
                            const std::string& trunk, const std::string& dialed) {
  CallRecord r =
      test::makeRecord(hw, prg, trunk, dialed, seconds / 3600, seconds / 60 % 60, seconds % 60);
  r.year = std::stoi(start.substr(0, 4));
  r.month = std::stoi(start.substr(5, 2));
  r.day = std::stoi(start.substr(8, 2));
  r.hour = std::stoi(start.substr(11, 2));
  r.minute = std::stoi(start.substr(14, 2));
  r.second = std::stoi(start.substr(17, 2));
  return formatCallRecordLine(r);
}

inline std::string crlf(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) out += l + "\r\n";
  return out;
}

inline WallTime at(const std::string& start) {
  WallTime t = 0;
  bool hasTime = false;
  EXPECT_TRUE(parseWallTime(start, t, hasTime)) << start;
  return t;
}

// Loads the files into the store and expects success.
inline LoadResult loadOk(CallStore& store, const std::vector<std::string>& paths,
                         unsigned threads = 0) {
  LoadOptions options;
  options.threads = threads;
  LoadResult result = store.load(paths, options);
  EXPECT_TRUE(result.ok()) << cp1251ToUtf8(result.status.message());
  return result;
}

}  // namespace kordel::analysis::testing
