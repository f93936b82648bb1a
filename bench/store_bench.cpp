// Calls database benchmark: calls stored one a transaction, as a collector stores them; a year
// of data files (10 million calls by default) imported in batches; and the analysis of those
// calls from the database beside the same analysis from the data files.
//
//   store_bench [--calls N] [--files K] [--dir DIR] [--runs R] [--live N]
//               [--sqlite] [--pg CONNINFO]
//
// The data files are those of analysis_bench (bench_year.h), written into DIR unless they are
// there. --sqlite measures an SQLite file in DIR/db (made anew); --pg a PostgreSQL database as
// given, which must be empty (bench/store_bench.sh starts a server of its own and makes one).
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "analysis/analyzer.h"
#include "analysis/database_source.h"
#include "bench_year.h"
#include "files/data_file.h"
#include "store/call_database.h"
#include "store/data_file_intake.h"

namespace {

namespace fs = std::filesystem;
using namespace kordel::analysis;
using Clock = std::chrono::steady_clock;

double since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

[[noreturn]] void die(const std::string& what) {
  std::fprintf(stderr, "store_bench: %s\n", kordel::cp1251ToUtf8(what).c_str());
  std::exit(1);
}

std::uint64_t folderBytes(const fs::path& dir) {
  std::uint64_t bytes = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.is_regular_file() &&
        entry.path().filename().string().find(".sqlite") != std::string::npos) {
      bytes += entry.file_size();
    }
  }
  return bytes;
}

struct Sums {
  std::uint64_t calls = 0;
  std::int64_t seconds = 0;
  Money cost = 0;
  bool operator==(const Sums&) const = default;
};

void benchmark(kordel::store::CallDatabase& db, const std::string& name, const fs::path& dir,
               const fs::path& work, int files, int runs, int live, const Sums& fromFiles) {
  using kordel::store::DataFileIntake;
  using kordel::store::IntakeOptions;
  using kordel::store::IntakeResult;
  if (const kordel::store::Status s = db.open(); !s.ok()) die(s.message());
  const std::string site = "bench";

  // One call a transaction: the first calls of January appended to a data file of their own,
  // each taken in as the inserter takes a call the sink announced.
  {
    std::ifstream in(kordel::bench::fileName(dir, 1), std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line;
         lines.size() < static_cast<std::size_t>(live) && std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!line.empty() && line[0] != ' ') lines.push_back(line);
    }
    const std::string liveFile = (work / "live.txt").string();
    fs::remove(liveFile);
    IntakeOptions options;
    options.site = site;
    options.dataFile = liveFile;
    DataFileIntake intake(db, options);
    double seconds = 0;
    for (const std::string& line : lines) {
      if (kordel::appendLines(liveFile, {line}) != kordel::kAppendOk) die("live.txt");
      const auto t0 = Clock::now();
      const IntakeResult r = intake.run();
      seconds += since(t0);
      if (!r.status.ok() || r.inserted != 1) die("live insert: " + r.status.message());
    }
    std::printf("%s live: %zu calls one a transaction in %.2f s: %.0f calls/s (%.2f ms a call)\n",
                name.c_str(), lines.size(), seconds, static_cast<double>(lines.size()) / seconds,
                1000 * seconds / static_cast<double>(lines.size()));
    std::fflush(stdout);
  }

  // The import of the year, 8 MB of a file per transaction.
  {
    const auto t0 = Clock::now();
    std::uint64_t inserted = 0, offered = 0;
    for (int f = 1; f <= files; ++f) {
      IntakeOptions options;
      options.site = site;
      options.dataFile = kordel::bench::fileName(dir, f);
      options.batchBytes = std::size_t{8} << 20;
      DataFileIntake intake(db, options);
      const IntakeResult r = intake.run();
      if (!r.status.ok()) die(r.status.message());
      inserted += r.inserted;
      offered += r.offered;
    }
    const double seconds = since(t0);
    std::printf("%s import: %llu call lines, %llu new calls in %.1f s: %.0f calls/s\n",
                name.c_str(), static_cast<unsigned long long>(offered),
                static_cast<unsigned long long>(inserted), seconds,
                static_cast<double>(offered) / seconds);
    std::fflush(stdout);
  }

  // The analysis from the database.
  const TariffPlan plan = kordel::bench::tariffs();
  const Directory people = kordel::bench::directory();
  AnalysisOptions options;
  options.filter.from = wallTime(2024, 1, 1, 0, 0, 0);
  options.filter.to = wallTime(2024, 12, 1, 0, 0, 0);
  std::vector<double> times;
  for (int run = 0; run < runs; ++run) {
    CallStore store;
    DatabaseSource source(db, {}, options.filter);
    const auto t0 = Clock::now();
    const LoadResult loaded = store.load({}, {}, &source);
    const double load = since(t0);
    if (!loaded.ok()) die(loaded.status.message());
    const AnalysisResult result = Analyzer(store, plan, people, options).run();
    const double total = since(t0);
    const Sums got{result.totals.calls, result.totals.seconds, result.totals.cost};
    std::printf("%s analysis run %d: load %.2f s (%llu calls), total %.2f s, %s\n", name.c_str(),
                run + 1, load, static_cast<unsigned long long>(loaded.calls), total,
                got == fromFiles ? "the same totals as from the files" : "TOTALS DIFFER");
    std::fflush(stdout);
    if (!(got == fromFiles)) die("the totals differ from those of the files");
    times.push_back(total);
  }
  std::sort(times.begin(), times.end());
  std::printf("%s analysis: best %.2f s, median %.2f s\n", name.c_str(), times.front(),
              times[times.size() / 2]);
}

}  // namespace

int main(int argc, char** argv) {
  long calls = 10000000;
  int files = 12;
  int runs = 3;
  int live = 2000;
  bool sqlite = false;
  std::string dirArg, pg;
  for (int i = 1; i < argc; ++i) {
    const bool value = i + 1 < argc;
    if (std::strcmp(argv[i], "--sqlite") == 0) sqlite = true;
    if (!value) continue;
    if (std::strcmp(argv[i], "--calls") == 0) calls = std::atol(argv[i + 1]);
    if (std::strcmp(argv[i], "--files") == 0) files = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--dir") == 0) dirArg = argv[i + 1];
    if (std::strcmp(argv[i], "--runs") == 0) runs = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--live") == 0) live = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--pg") == 0) pg = argv[i + 1];
  }
  const bool temporary = dirArg.empty();
  const fs::path dir =
      temporary ? fs::temp_directory_path() / ("kordel-store-bench-" + std::to_string(getpid()))
                : fs::path(dirArg);
  fs::create_directories(dir);
  if (!fs::exists(kordel::bench::fileName(dir, files))) {
    const auto t0 = Clock::now();
    kordel::bench::generate(dir, calls, files);
    ::sync();
    std::printf("generated %d files in %.1f s\n", files, since(t0));
  }
  const fs::path work = dir / "db";  // beside the data files, not among them

  // The analysis from the files, for the totals and the time to compare with.
  const TariffPlan plan = kordel::bench::tariffs();
  const Directory people = kordel::bench::directory();
  AnalysisOptions options;
  options.filter.from = wallTime(2024, 1, 1, 0, 0, 0);
  options.filter.to = wallTime(2024, 12, 1, 0, 0, 0);
  Sums fromFiles;
  std::vector<double> times;
  for (int run = 0; run < runs; ++run) {
    CallStore store;
    const auto t0 = Clock::now();
    const LoadResult loaded = store.load({dir.string()});
    if (!loaded.ok()) die(loaded.status.message());
    const AnalysisResult result = Analyzer(store, plan, people, options).run();
    times.push_back(since(t0));
    fromFiles = Sums{result.totals.calls, result.totals.seconds, result.totals.cost};
    std::printf("files analysis run %d: %.2f s (%llu calls, %llu counted)\n", run + 1, times.back(),
                static_cast<unsigned long long>(loaded.calls),
                static_cast<unsigned long long>(result.totals.calls));
    std::fflush(stdout);
  }
  std::sort(times.begin(), times.end());
  std::printf("files analysis: best %.2f s, median %.2f s\n", times.front(),
              times[times.size() / 2]);

  if (sqlite) {
    fs::remove_all(work);
    fs::create_directories(work);
    const auto db = kordel::store::makeSqliteDatabase((work / "bench.sqlite").string());
    benchmark(*db, "sqlite", dir, work, files, runs, live, fromFiles);
    db->close();
    std::printf("sqlite size: %.0f MB\n", static_cast<double>(folderBytes(work)) / 1e6);
  }
  if (!pg.empty()) {
    fs::create_directories(work);
    const auto db = kordel::store::makePostgresDatabase(pg);
    benchmark(*db, "postgres", dir, work, files, runs, live, fromFiles);
  }
  if (temporary) fs::remove_all(dir);
  return 0;
}
