// Helpers shared by the report builder's tests: temporary folders and data files.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "files/call_record_line.h"
#include "files/regional_format.h"
#include "files/text_codec.h"
#include "link/call_record.h"

namespace kordel::report::testing {

// A fresh folder under the system's temporary folder, removed with the object.
class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() /
            ("kordel_report_" + std::to_string(rd()) + "_" + std::to_string(rd()));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline void writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

inline std::string readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

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
