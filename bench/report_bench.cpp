// Report builder benchmark: load + parse + aggregation of a large data file, each sort and a
// selection, with the peak memory of one load.
//
//   report_bench --generate FILE [LINES]   writes a data file of call-record lines
//   report_bench --measure FILE            one load, with time and peak memory per call
//   REPORT_BENCH_FILE=FILE report_bench [--min-time SECONDS]
//                                          times each step (default at least 0.5 s each)
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>

#include "bench_timing.h"
#include "files/call_record_line.h"
#include "report/report_book.h"

namespace {

using kordel::report::LineSortKey;
using kordel::report::ReportBook;
using kordel::report::TrunkSortKey;

// Several hundred subscriber lines, dozens of trunks, a title pair every 5000 calls.
int generate(const std::string& path, long lines) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::mt19937 rng(1);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (long i = 0; i < lines; ++i) {
    if (i % 5000 == 0) {
      kordel::PbxClock clock{2024, 3, 5, 9, 0, 0};
      out << kordel::headerLine(clock) << "\r\n" << kordel::columnTitleLine() << "\r\n";
    }
    kordel::CallRecord r;
    r.year = 2024;
    r.month = pick(1, 12);
    r.day = pick(1, 28);
    r.hour = pick(0, 23);
    r.minute = pick(0, 59);
    r.second = pick(0, 59);
    r.durationMinutes = pick(0, 30);
    r.durationSeconds = pick(0, 59);
    r.hardwareNumber = pick(100, 699);
    r.programmedNumber = std::to_string(r.hardwareNumber - 100 + 2000);
    r.trunk = std::to_string(pick(1, 48));
    if (pick(0, 2) != 0) {
      std::string number = pick(0, 3) == 0 ? "8" : "";
      while (number.size() < 11) number += static_cast<char>('0' + pick(0, 9));
      r.dialedNumber = number.substr(0, pick(5, 11));
    }
    out << kordel::formatCallRecordLine(r) << "\r\n";
  }
  return out ? 0 : 1;
}

long maxRssKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

int measureOneLoad(const std::string& path) {
  const long before = maxRssKb();
  const auto t0 = std::chrono::steady_clock::now();
  ReportBook book;
  const auto result = book.load(path);
  const auto t1 = std::chrono::steady_clock::now();
  if (!result.ok()) {
    std::cerr << "load failed: " << result.message << '\n';
    return 1;
  }
  const long after = maxRssKb();
  const double fileBytes = static_cast<double>(std::filesystem::file_size(path));
  const double calls = static_cast<double>(book.callList().count());
  const double extraBytes = (after - before) * 1024.0 - fileBytes;
  std::printf("calls %.0f, lines %zu, trunks %zu\n", calls, book.lineRowCount(),
              book.trunkRowCount());
  std::printf("load+parse+aggregate: %.3f s\n", std::chrono::duration<double>(t1 - t0).count());
  std::printf("peak RSS growth: %.1f MiB (file %.1f MiB); beyond the file: %.1f bytes per call\n",
              (after - before) / 1024.0, fileBytes / 1048576.0, extraBytes / calls);
  return 0;
}

const std::string& benchFile() {
  static const std::string path = [] {
    const char* env = std::getenv("REPORT_BENCH_FILE");
    if (env != nullptr) return std::string(env);
    std::string p = (std::filesystem::temp_directory_path() / "kordel_report_bench.txt").string();
    if (!std::filesystem::exists(p)) generate(p, 200000);
    return p;
  }();
  return path;
}

ReportBook& loadedBook() {
  static ReportBook book;
  static const bool loaded = book.load(benchFile()).ok();
  if (!loaded) std::abort();
  return book;
}

// Each step of the report builder on the bench file, timed for at least `minSeconds`.
int runAll(double minSeconds) {
  using kordel::bench::keep;
  using kordel::bench::measure;
  using kordel::bench::print;
  benchFile();  // made before the clock starts when it does not exist yet
  double calls = 0;
  const auto load = [&] {
    ReportBook fresh;
    keep(fresh.load(benchFile()).code);
    calls = static_cast<double>(fresh.callList().count());
  };
  const kordel::bench::Timing loading = measure(load, minSeconds, 3);
  print("load+parse+aggregate", loading, {{"calls", calls}});

  ReportBook& book = loadedBook();
  const char* lineKeys[] = {"hardware", "programmed", "outgoing", "incoming", "total"};
  for (int k = 0; k < 5; ++k) {
    const auto key = static_cast<LineSortKey>(k);
    print(std::string("sort lines by ") + lineKeys[k],
          measure([&] { keep(book.sortLines(key).ok); }, minSeconds));
  }
  const char* trunkKeys[] = {"trunk", "outgoing", "incoming", "total"};
  for (int k = 0; k < 4; ++k) {
    const auto key = static_cast<TrunkSortKey>(k);
    print(std::string("sort trunks by ") + trunkKeys[k],
          measure([&] { keep(book.sortTrunks(key).ok); }, minSeconds));
  }
  const auto select = [&] {
    keep(book.select("2042", kordel::report::SelectBy::Programmed, "8"));
  };
  print("select subscriber 2042, prefix 8", measure(select, minSeconds));
  book.clearSelection();
  const auto callReport = [&] {
    keep(book.reportLines(kordel::report::ReportKind::Calls).size());
  };
  print("call report lines", measure(callReport, 0, 1, 1));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "--generate") == 0) {
    return generate(argv[2], argc >= 4 ? std::atol(argv[3]) : 1000000);
  }
  if (argc >= 3 && std::strcmp(argv[1], "--measure") == 0) return measureOneLoad(argv[2]);
  double minSeconds = 0.5;
  if (argc >= 3 && std::strcmp(argv[1], "--min-time") == 0) minSeconds = std::atof(argv[2]);
  return runAll(minSeconds);
}
