// Call analysis benchmark: a year of monthly data files (10 million calls by default) loaded,
// filtered, priced and aggregated, with the time of each step and the peak memory per call.
//
//   analysis_bench [--calls N] [--files K] [--dir DIR] [--runs R] [--threads T]
//
// The files are written into DIR (kept) or into a temporary folder of its own (removed at the
// end); files already in DIR with the expected names are used as they are. They are read once
// before the timed runs, so that every run reads from the page cache.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "analysis/analyzer.h"
#include "bench_year.h"
#include "files/call_record_line.h"
#include "files/text_codec.h"

namespace {

namespace fs = std::filesystem;
using namespace kordel::analysis;
using Clock = std::chrono::steady_clock;
using kordel::bench::directory;
using kordel::bench::fileName;
using kordel::bench::generate;
using kordel::bench::tariffs;

double since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

long maxRssKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  long calls = 10000000;
  int files = 12;
  int runs = 3;
  unsigned threads = 0;
  std::string dirArg;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--calls") == 0) calls = std::atol(argv[i + 1]);
    if (std::strcmp(argv[i], "--files") == 0) files = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--dir") == 0) dirArg = argv[i + 1];
    if (std::strcmp(argv[i], "--runs") == 0) runs = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--threads") == 0)
      threads = static_cast<unsigned>(std::atoi(argv[i + 1]));
  }
  const bool temporary = dirArg.empty();
  const fs::path dir =
      temporary ? fs::temp_directory_path() / ("kordel-analysis-bench-" + std::to_string(getpid()))
                : fs::path(dirArg);
  fs::create_directories(dir);
  if (!fs::exists(fileName(dir, files))) {
    const auto t0 = Clock::now();
    generate(dir, calls, files);
    ::sync();  // written back before the runs, so that the writing does not slow them
    std::printf("generated %d files in %.1f s\n", files, since(t0));
  }
  std::uint64_t bytes = 0;
  {
    // Into the page cache.
    std::vector<char> buffer(1 << 20);
    for (int f = 1; f <= files; ++f) {
      std::ifstream in(fileName(dir, f), std::ios::binary);
      while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) ||
             in.gcount() > 0) {
        bytes += static_cast<std::uint64_t>(in.gcount());
      }
    }
  }
  std::printf("%d files, %.1f MB\n", files, static_cast<double>(bytes) / 1e6);
  const TariffPlan plan = tariffs();
  const Directory people = directory();
  AnalysisOptions options;
  options.filter.from = wallTime(2024, 1, 1, 0, 0, 0);
  options.filter.to = wallTime(2024, 12, 1, 0, 0, 0);  // January to November
  options.threads = threads;

  const long rssBefore = maxRssKb();
  double bestLoad = 1e9, bestAnalysis = 1e9, bestTotal = 1e9;
  std::vector<double> totals;
  std::size_t stored = 0;
  for (int run = 0; run < runs; ++run) {
    CallStore store;
    LoadOptions load;
    load.threads = threads;
    const auto t0 = Clock::now();
    const LoadResult loaded = store.load({dir.string()}, load);
    const double loadSeconds = since(t0);
    if (!loaded.ok()) {
      std::cerr << kordel::cp1251ToUtf8(loaded.status.message()) << '\n';
      return 1;
    }
    const auto t1 = Clock::now();
    const AnalysisResult result = Analyzer(store, plan, people, options).run();
    const double analysisSeconds = since(t1);
    const double total = since(t0);
    stored = store.size();
    std::printf(
        "run %d: load %.3f s (%llu calls, %llu repeated lines), analysis %.3f s "
        "(%llu calls counted, cost %s, %zu trunks), total %.3f s\n",
        run + 1, loadSeconds, static_cast<unsigned long long>(loaded.calls),
        static_cast<unsigned long long>(loaded.duplicates), analysisSeconds,
        static_cast<unsigned long long>(result.totals.calls),
        formatMoney(result.totals.cost, MoneyFormat{'.', ","}).c_str(), result.trunkLoad.size(),
        total);
    std::fflush(stdout);
    bestLoad = std::min(bestLoad, loadSeconds);
    bestAnalysis = std::min(bestAnalysis, analysisSeconds);
    bestTotal = std::min(bestTotal, total);
    totals.push_back(total);
  }
  std::sort(totals.begin(), totals.end());
  const long rssAfter = maxRssKb();
  std::printf(
      "best: load %.3f s, analysis %.3f s, load+analysis %.3f s (median %.3f s, worst %.3f s)\n",
      bestLoad, bestAnalysis, bestTotal, totals[totals.size() / 2], totals.back());
  std::printf("peak RSS growth: %.1f MiB, %.1f bytes per call\n", (rssAfter - rssBefore) / 1024.0,
              (rssAfter - rssBefore) * 1024.0 / static_cast<double>(stored));
  if (temporary) fs::remove_all(dir);
  return 0;
}
