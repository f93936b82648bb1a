// Reading the call-record buffer from the simulated PBX: records per second against the bound
// the wire allows at 19200 baud 8N2, and the same read without line-speed emulation to show the
// program's own cost per record.
//
// Per record the host runs, in order: purge, a handshake (five probes, each echoed: ten byte
// times), then exchange: purge, another handshake (ten byte times), the request byte, and the
// reply (length byte, L data bytes, checksum). Every byte waits for the one before it, so a
// record of L bytes needs at least (23 + L) byte times of 11 bits.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <vector>

#include "link/pbx_link.h"
#include "pbxsim.h"

namespace {

constexpr int kRecords = 1000;
constexpr double kByteSeconds = 11.0 / 19200.0;

void readBuffer(benchmark::State& state, bool lineSpeed) {
  for (auto _ : state) {
    pbxsim::Scenario scenario;
    scenario.modelCode = 4;  // QTR160
    scenario.lineSpeed = lineSpeed;
    scenario.units[0].capacity = 2000;
    for (auto& record : pbxsim::generateRecords(scenario, kRecords, 11)) {
      if (!record.isEmptySlot()) scenario.units[0].records.push_back(record);
    }
    pbxsim::Simulator sim(scenario);
    const std::string device = sim.start();
    const auto dir = std::filesystem::temp_directory_path() / "kordel-read-bench";
    std::filesystem::create_directories(dir);
    kordel::PbxLink link(dir.string());
    if (link.openPort(device) != kordel::kOk || link.queryStatus() != kordel::kOk) {
      state.SkipWithError("the simulated PBX does not answer");
      return;
    }
    std::vector<std::chrono::steady_clock::time_point> delivered;
    delivered.reserve(kRecords);
    link.recordHandler = [&](const kordel::CallRecord&) {
      delivered.push_back(std::chrono::steady_clock::now());
    };
    link.readRecords();
    if (delivered.size() < 2) {
      state.SkipWithError("no records delivered");
      return;
    }
    // From the first record to the last: the tail of 15 empty tries is not part of the rate.
    const double seconds =
        std::chrono::duration<double>(delivered.back() - delivered.front()).count();
    const double perSecond = static_cast<double>(delivered.size() - 1) / seconds;
    double wireSeconds = 0;
    const auto taken = sim.takenRecords();
    for (std::size_t i = 1; i < taken.size(); ++i) {
      wireSeconds += (23.0 + static_cast<double>(taken[i].bytes.size())) * kByteSeconds;
    }
    const double bound = static_cast<double>(taken.size() - 1) / wireSeconds;
    state.counters["records"] = static_cast<double>(delivered.size());
    state.counters["records_per_s"] = perSecond;
    state.counters["ms_per_record"] = 1000.0 / perSecond;
    if (lineSpeed) {
      state.counters["wire_bound_per_s"] = bound;
      state.counters["share_of_bound"] = perSecond / bound;
    }
    std::filesystem::remove_all(dir);
  }
}

void BM_ReadAt19200(benchmark::State& state) { readBuffer(state, true); }
void BM_ReadWithoutEmulation(benchmark::State& state) { readBuffer(state, false); }

BENCHMARK(BM_ReadAt19200)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_ReadWithoutEmulation)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
