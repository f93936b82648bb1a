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
#include "files/call_record_line.h"
#include "files/text_codec.h"

namespace {

namespace fs = std::filesystem;
using namespace kordel::analysis;
using Clock = std::chrono::steady_clock;

double since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

long maxRssKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

std::string fileName(const fs::path& dir, int month) {
  char name[32];
  std::snprintf(name, sizeof name, "calls-2024-%02d.txt", month);
  return (dir / name).string();
}

// Calls of one month in time order as a PBX delivers them: 600 lines, 48 trunks, two thirds
// outgoing, numbers drawn with a strong skew from a pool, a title pair every 5000 calls. The
// last file ends with a repeated read of 10000 lines of the one before.
void generate(const fs::path& dir, long calls, int files) {
  std::mt19937_64 rng(2024);
  auto pick = [&](long lo, long hi) { return std::uniform_int_distribution<long>(lo, hi)(rng); };
  std::vector<std::string> pool;
  for (int i = 0; i < 200000; ++i) {
    std::string n;
    switch (i % 10) {
      case 0:
      case 1:
      case 2:
      case 3:
        n = std::to_string(pick(2, 4));
        break;  // local, 7 digits
      case 4:
      case 5:
        n = "8495";
        break;
      case 6:
      case 7:
        n = "89" + std::to_string(pick(10, 99));
        break;
      case 8:
        n = "8" + std::to_string(pick(300, 899));
        break;
      default:
        n = "810" + std::to_string(pick(1, 99));
        break;
    }
    while (n.size() < (n[0] == '8' ? 11u : 7u)) n += static_cast<char>('0' + pick(0, 9));
    pool.push_back("9" + n);  // dialed through the access code
  }
  std::vector<std::string> previousHead;
  for (int f = 0; f < files; ++f) {
    const long count = calls / files + (f < calls % files ? 1 : 0);
    std::ofstream out(fileName(dir, f + 1), std::ios::binary | std::ios::trunc);
    const int month = f % 12 + 1;
    const long monthSeconds = 28L * 86400;
    std::vector<std::string> head;
    for (long i = 0; i < count; ++i) {
      if (i % 5000 == 0) {
        kordel::PbxClock clock{2024, month, 1, 0, 0, 0};
        out << kordel::headerLine(clock) << "\r\n" << kordel::columnTitleLine() << "\r\n";
      }
      const long t = i * monthSeconds / count;
      kordel::CallRecord r;
      r.year = 2024;
      r.month = month;
      r.day = static_cast<int>(t / 86400) + 1;
      r.hour = static_cast<int>(t / 3600 % 24);
      r.minute = static_cast<int>(t / 60 % 60);
      r.second = static_cast<int>(t % 60);
      const long seconds = std::min<long>(pick(0, 3) == 0 ? pick(0, 30) : pick(5, 900), 86399);
      r.durationHours = static_cast<int>(seconds / 3600);
      r.durationMinutes = static_cast<int>(seconds / 60 % 60);
      r.durationSeconds = static_cast<int>(seconds % 60);
      r.hardwareNumber = static_cast<int>(pick(100, 699));
      r.programmedNumber = std::to_string(r.hardwareNumber + 1900);
      r.trunk = std::to_string(pick(1, 48));
      if (pick(0, 2) != 0) {
        const double u = std::uniform_real_distribution<double>(0, 1)(rng);
        r.dialedNumber = pool[static_cast<std::size_t>(u * u * u * (pool.size() - 1))];
      }
      const std::string line = kordel::formatCallRecordLine(r);
      out << line << "\r\n";
      if (i < 10000) head.push_back(line);
    }
    if (f == files - 1) {
      for (const std::string& line : previousHead) out << line << "\r\n";
    }
    previousHead = std::move(head);
  }
}

// A plan like the example one: local, long distance, mobile and international, per trunk 7 a
// carrier of its own.
TariffPlan tariffs() {
  TariffPlan plan;
  const char* csv =
      "Префикс;Направление;Цена за минуту;Плата за соединение;Шаг;Первый шаг;Бесплатно;СЛ;"
      "Код выхода\n"
      "2;Местная;0,50;;60;;3;;9\n3;Местная;0,50;;60;;3;;\n4;Местная;0,50;;60;;3;;\n"
      "8;Междугородняя;3,20;;60;;3;;\n8495;Москва;1,80;;60;;3;;\n"
      "89;Мобильная;1,95;;1;60;3;;\n810;Международная;18,00;0,50;60;;;;\n"
      "8;Междугородняя Б;2,90;;6;30;;7;9\n89;Мобильная Б;1,70;;1;;;7;\n";
  const Status status = plan.loadBytes(csv);
  if (!status.ok()) {
    std::cerr << kordel::cp1251ToUtf8(status.message()) << '\n';
    std::exit(1);
  }
  return plan;
}

Directory directory() {
  std::string csv = "Номер;Имя;Отдел\n";
  const char* departments[] = {"Продажи / Москва", "Продажи / Тверь",  "Бухгалтерия",     "Склад",
                               "Дирекция",         "Сервис / Линия 1", "Сервис / Линия 2"};
  for (int prg = 2000; prg < 2600; ++prg) {
    csv += std::to_string(prg) + ";Сотрудник " + std::to_string(prg) + ";" + departments[prg % 7] +
           "\n";
  }
  Directory d;
  if (!d.loadBytes(csv).ok()) std::exit(1);
  return d;
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
