// Reading the call-record buffer from the simulated PBX: records per second against the bound
// the wire allows at 19200 baud 8N2, and the same read without line-speed emulation to show the
// program's own cost per record.
//
// Per record the host runs, in order: purge, a handshake (five probes, each echoed: ten byte
// times), then exchange: purge, another handshake (ten byte times), the request byte, and the
// reply (length byte, L data bytes, checksum). Every byte waits for the one before it, so a
// record of L bytes needs at least (23 + L) byte times of 11 bits.
#include <chrono>
#include <filesystem>
#include <vector>

#include "bench_timing.h"
#include "files/record_sink.h"
#include "link/pbx_link.h"
#include "link/wire_trace.h"
#include "pbxsim.h"

namespace {

constexpr int kRecords = 1000;
constexpr double kByteSeconds = 11.0 / 19200.0;

// The read goes into a real data file, as kordel-cli read does: each line appended and made
// durable (fsync) before the PBX may drop its record.
class Timestamps : public kordel::RecordView {
 public:
  void lowerGauge() override {}
  void addLine(const std::string&) override { at.push_back(std::chrono::steady_clock::now()); }
  void showCounters(int, int) override {}
  std::vector<std::chrono::steady_clock::time_point> at;
};

// Reads a buffer of kRecords records once and prints the figures; false when the simulated
// PBX did not answer or delivered nothing.
bool readBuffer(const char* name, bool lineSpeed, bool traced = false) {
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
  if (traced) {
    // The wire trace of every byte, as KORDEL_TRACE or kordel-cli --trace gives it.
    link.port->trace = std::make_shared<kordel::WireTrace>((dir / "wire.txt").string());
  }
  if (link.openPort(device) != kordel::kOk || link.queryStatus() != kordel::kOk) {
    std::fprintf(stderr, "%s: the simulated PBX does not answer\n", name);
    return false;
  }
  link.settings.dataFileName = (dir / "calls.txt").string();
  Timestamps view;
  view.at.reserve(kRecords);
  const auto& delivered = view.at;
  kordel::bench::Timing whole;
  {
    kordel::RecordSink sink(link, view);
    sink.attach();
    whole = kordel::bench::measure([&] { link.readRecords(); }, 0, 1, 1);
  }
  std::filesystem::remove_all(dir);
  if (delivered.size() < 2) {
    std::fprintf(stderr, "%s: no records delivered\n", name);
    return false;
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
  std::vector<std::pair<std::string, double>> figures = {
      {"records", static_cast<double>(delivered.size())},
      {"records_per_s", perSecond},
      {"ms_per_record", 1000.0 / perSecond}};
  if (lineSpeed) {
    figures.emplace_back("wire_bound_per_s", bound);
    figures.emplace_back("share_of_bound", perSecond / bound);
  }
  kordel::bench::print(name, whole, figures);
  return true;
}

}  // namespace

int main() {
  bool ok = readBuffer("read at 19200 baud", true);
  ok = readBuffer("read at 19200 baud, wire trace on", true, true) && ok;
  ok = readBuffer("read without line emulation", false) && ok;
  ok = readBuffer("read without line emulation, wire trace on", false, true) && ok;
  return ok ? 0 : 1;
}
