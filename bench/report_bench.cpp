// Report builder benchmark: load + parse + aggregation of a large data file, each sort and a
// selection, with the peak memory of one load.
//
//   report_bench --generate FILE [LINES]   writes a data file of call-record lines
//   report_bench --measure FILE            one load, with time and peak memory per call
//   REPORT_BENCH_FILE=FILE report_bench [benchmark options]
#include <benchmark/benchmark.h>
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

int measure(const std::string& path) {
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

void BM_LoadParseAggregate(benchmark::State& state) {
  for (auto _ : state) {
    ReportBook book;
    benchmark::DoNotOptimize(book.load(benchFile()).code);
    state.counters["calls"] = static_cast<double>(book.callList().count());
  }
}
BENCHMARK(BM_LoadParseAggregate)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_SortLines(benchmark::State& state) {
  ReportBook& book = loadedBook();
  const auto key = static_cast<LineSortKey>(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(book.sortLines(key).ok);
}
BENCHMARK(BM_SortLines)->DenseRange(0, 4)->Unit(benchmark::kMicrosecond);

void BM_SortTrunks(benchmark::State& state) {
  ReportBook& book = loadedBook();
  const auto key = static_cast<TrunkSortKey>(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(book.sortTrunks(key).ok);
}
BENCHMARK(BM_SortTrunks)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);

void BM_SelectSubscriber(benchmark::State& state) {
  ReportBook& book = loadedBook();
  for (auto _ : state) {
    benchmark::DoNotOptimize(book.select("2042", kordel::report::SelectBy::Programmed, "8"));
  }
}
BENCHMARK(BM_SelectSubscriber)->Unit(benchmark::kMillisecond);

void BM_CallReportLines(benchmark::State& state) {
  ReportBook& book = loadedBook();
  book.clearSelection();
  for (auto _ : state) {
    benchmark::DoNotOptimize(book.reportLines(kordel::report::ReportKind::Calls).size());
  }
}
BENCHMARK(BM_CallReportLines)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "--generate") == 0) {
    return generate(argv[2], argc >= 4 ? std::atol(argv[3]) : 1000000);
  }
  if (argc >= 3 && std::strcmp(argv[1], "--measure") == 0) return measure(argv[2]);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
