// The simulator driven over a real pseudo-terminal by a plain POSIX host.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "host_port.h"
#include "pbxsim.h"

namespace pbxsim {
namespace {

using pbxsim_test::HostPort;
using pbxsim_test::sum8;
using pbxsim_test::unmask;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr std::uint8_t kKey = 0x5A;

Record rec(std::uint8_t tag, std::size_t len = 13) {
  Record r;
  r.bytes.assign(len, 0);
  for (std::size_t i = 0; i < len; ++i) r.bytes[i] = static_cast<std::uint8_t>(tag + i);
  return r;
}

Scenario scenarioWith(std::vector<std::vector<Record>> perUnit) {
  Scenario sc;
  sc.maskKey = kKey;
  sc.units.clear();
  for (auto& recs : perUnit) {
    Unit u;
    u.capacity = 500;
    u.records.assign(recs.begin(), recs.end());
    sc.units.push_back(std::move(u));
  }
  return sc;
}

// Sends a request after a handshake, the way the host does.
void request(HostPort& port, std::vector<std::uint8_t> bytes) {
  ASSERT_TRUE(port.handshake());
  port.purge();
  port.write(std::move(bytes));
}

bool selectUnit(HostPort& port, std::uint8_t unit) {
  const auto m = static_cast<std::uint8_t>(unit ^ kKey);
  port.purge();
  port.write({0x84, 0x01, m, m});
  port.purge();  // drops anything that came while sending, as the host does
  return port.read(500) == 0x00;
}

// A record reply, unmasked; nullopt for the empty reply. Checks the checksum.
std::optional<Record> readRecord(HostPort& port) {
  const auto r = port.readFramed();
  EXPECT_GE(r.length, 0);
  EXPECT_EQ(r.data.size(), static_cast<std::size_t>(std::max(r.length, 0)));
  EXPECT_EQ(r.checksum, sum8(r.data));
  if (r.length <= 0) return std::nullopt;
  return Record{unmask(r.data, kKey)};
}

std::optional<Record> askRecord(HostPort& port, std::uint8_t cmd) {
  request(port, {cmd});
  return readRecord(port);
}

TEST(PbxsimIdentification, BytesAreMaskedExceptTheKey) {
  Scenario sc = scenarioWith({{}});
  sc.modelCode = 2;
  sc.modelName = "DL256xx";
  sc.timeStepByte = 2;
  sc.serial = 0x3039;
  sc.versionLead = 3;
  sc.versionNibbles = 0x25;
  sc.clockDay = 1521;
  sc.clockSecond = 3600;
  Simulator sim(sc);
  HostPort port(sim.start());
  ASSERT_TRUE(port.isOpen());
  request(port, {0x01});
  const int n = port.read();
  ASSERT_EQ(n, 23);
  const auto raw = port.readN(23);
  ASSERT_EQ(raw.size(), 23u);
  EXPECT_EQ(port.read(150), -1) << "the identification has no checksum";
  ASSERT_EQ(raw[11], kKey);
  std::vector<std::uint8_t> d = unmask(raw, kKey);
  d[11] = raw[11];
  EXPECT_EQ(d[0] | d[1] << 8, 1521);
  const int units = d[2] | d[3] << 8;
  EXPECT_GE(units, 1800);  // 3600 s in 2-second units, plus the seconds the test took
  EXPECT_LE(units, 1830);
  EXPECT_EQ(d[5], 2);
  EXPECT_EQ(d[6], 0x25);
  EXPECT_EQ(d[7], 3);
  EXPECT_EQ(d[13], 2);
  EXPECT_EQ(d[14], 0x39);
  EXPECT_EQ(d[15], 0x30);
  EXPECT_EQ(std::string(d.begin() + 16, d.begin() + 23), "DL256xx");
  for (int unused : {4, 8, 9, 10, 12}) EXPECT_EQ(d[static_cast<std::size_t>(unused)], 0);
  EXPECT_EQ(sim.counters().identifications, 1);
  EXPECT_EQ(sim.counters().probes, 5);
}

TEST(PbxsimIdentification, ClockRuns) {
  Scenario sc = scenarioWith({{}});
  sc.timeStepByte = 1;
  sc.clockDay = 100;
  sc.clockSecond = 86399;  // one second before midnight
  Simulator sim(sc);
  HostPort port(sim.start());
  std::this_thread::sleep_for(milliseconds(1100));
  request(port, {0x01});
  ASSERT_EQ(port.read(), 23);
  const auto d = unmask(port.readN(23), kKey);
  EXPECT_EQ(d[0] | d[1] << 8, 101) << "the day has turned";
  EXPECT_LE(d[2] | d[3] << 8, 5);
}

TEST(PbxsimProtocol, UnitSelectionIsAcknowledgedAfterTheRequestLeftTheWire) {
  Simulator sim(scenarioWith({{rec(1)}, {rec(2)}, {rec(3)}}));
  HostPort port(sim.start());
  ASSERT_TRUE(port.handshake());
  for (std::uint8_t u : {2, 1, 0, 2}) {
    const auto t0 = Clock::now();
    EXPECT_TRUE(selectUnit(port, u)) << "the purge right after sending must not lose the ack";
    EXPECT_GE(Clock::now() - t0, milliseconds(4));
    EXPECT_EQ(sim.selectedUnit(), u);
  }
  // A wrong checksum is not a unit selection.
  port.write({0x84, 0x01, static_cast<std::uint8_t>(1 ^ kKey), 0x77});
  EXPECT_EQ(port.read(150), -1);
  EXPECT_EQ(sim.selectedUnit(), 2);
  EXPECT_EQ(sim.counters().unitSelections, 4);
}

TEST(PbxsimProtocol, StatusReportsCapacityAndCounters) {
  Scenario sc = scenarioWith({{rec(1), rec(2), rec(3)}, {}});
  sc.units[0].capacity = 0x1234;
  sc.units[0].counterBase = 40;
  sc.units[1].fixedCounters = std::pair<std::uint16_t, std::uint16_t>{3, 5};
  Simulator sim(sc);
  HostPort port(sim.start());
  auto status = [&](std::uint8_t unit) {
    EXPECT_TRUE(port.handshake());
    EXPECT_TRUE(selectUnit(port, unit));
    port.purge();
    port.write({0x40, 0x03});
    const auto r = port.readFramed();
    EXPECT_EQ(r.length, 6);
    EXPECT_EQ(r.checksum, sum8(r.data)) << "checksum over the masked bytes";
    const auto d = unmask(r.data, kKey);
    return std::vector<int>{d[0] | d[1] << 8, d[2] | d[3] << 8, d[4] | d[5] << 8};
  };
  EXPECT_EQ(status(0), (std::vector<int>{0x1234, 43, 40}));
  EXPECT_EQ(status(1), (std::vector<int>{500, 3, 5})) << "B may exceed A";
  // Take two records from unit 0: A - B follows.
  ASSERT_TRUE(selectUnit(port, 0));
  ASSERT_TRUE(askRecord(port, 0x02));
  ASSERT_TRUE(askRecord(port, 0x03));
  ASSERT_TRUE(askRecord(port, 0x03));
  EXPECT_EQ(status(0), (std::vector<int>{0x1234, 43, 42}));
}

TEST(PbxsimProtocol, FirstAndNextRecordTakeInOrder) {
  const Record a = rec(0x10), b = rec(0x20, 11), c = rec(0x30, 40);
  Simulator sim(scenarioWith({{a, b, c}}));
  HostPort port(sim.start());
  EXPECT_EQ(askRecord(port, 0x02), a);
  EXPECT_EQ(askRecord(port, 0x02), a) << "a first-record request does not take anything";
  EXPECT_TRUE(sim.takenRecords().empty());
  EXPECT_EQ(askRecord(port, 0x03), b);
  EXPECT_EQ(sim.takenRecords(), std::vector<Record>{a});
  EXPECT_EQ(askRecord(port, 0x03), c);
  EXPECT_EQ(askRecord(port, 0x03), std::nullopt);
  EXPECT_EQ(sim.takenRecords(), (std::vector<Record>{a, b, c}));
  EXPECT_EQ(askRecord(port, 0x03), std::nullopt);
  EXPECT_EQ(askRecord(port, 0x02), std::nullopt);
  EXPECT_EQ(sim.takenRecords().size(), 3u);
  EXPECT_EQ(sim.sentRecords(), (std::vector<Record>{a, a, b, c}));
  EXPECT_TRUE(sim.pendingRecords(0).empty());
  const auto n = sim.counters();
  EXPECT_EQ(n.firstRecordRequests, 3);
  EXPECT_EQ(n.nextRecordRequests, 4);
}

TEST(PbxsimProtocol, EmptyBufferGivesLengthAndChecksumZero) {
  Simulator sim(scenarioWith({{}}));
  HostPort port(sim.start());
  request(port, {0x02});
  EXPECT_EQ(port.readN(2), (std::vector<std::uint8_t>{0x00, 0x00}));
  EXPECT_EQ(port.read(150), -1);
}

TEST(PbxsimProtocol, UnitsKeepTheirOwnBuffers) {
  const Record a = rec(1), b = rec(2), c = rec(3);
  Simulator sim(scenarioWith({{a}, {}, {b, c}}));
  HostPort port(sim.start());
  for (std::uint8_t u : {0, 1, 2}) {
    ASSERT_TRUE(port.handshake());
    ASSERT_TRUE(selectUnit(port, u));
    auto r = askRecord(port, 0x02);
    while (r) r = askRecord(port, 0x03);
  }
  EXPECT_EQ(sim.takenRecords(0), std::vector<Record>{a});
  EXPECT_TRUE(sim.takenRecords(1).empty());
  EXPECT_EQ(sim.takenRecords(2), (std::vector<Record>{b, c}));
  EXPECT_EQ(sim.takenRecords(), (std::vector<Record>{a, b, c}));
}

TEST(PbxsimProtocol, UnknownBytesAreIgnored) {
  Simulator sim(scenarioWith({{rec(1)}}));
  HostPort port(sim.start());
  port.write({0x77, 0x40, 0x99, 0xF0, 0x02, 0x00, 0x00});  // junk, broken status, bad line state
  EXPECT_EQ(port.read(200), -1);
  EXPECT_EQ(askRecord(port, 0x02), rec(1)) << "the simulator still answers afterwards";
  EXPECT_GE(sim.counters().ignoredBytes, 3);
}

TEST(PbxsimProtocol, TakenRecordsAreLoggedOnePerLine) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("pbxsim_taken_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const auto log = (dir / "taken.txt").string();
  Scenario sc = scenarioWith({{rec(1), rec(2)}, {rec(3)}});
  sc.takenLogPath = log;
  {
    Simulator sim(sc);
    HostPort port(sim.start());
    ASSERT_TRUE(askRecord(port, 0x02));
    ASSERT_TRUE(askRecord(port, 0x03));
    ASSERT_FALSE(askRecord(port, 0x03));
    ASSERT_TRUE(port.handshake());
    ASSERT_TRUE(selectUnit(port, 1));
    ASSERT_TRUE(askRecord(port, 0x02));
    ASSERT_FALSE(askRecord(port, 0x03));
    // Flushed per line: readable while the simulator still runs.
    EXPECT_EQ(loadRecordFile(log), sim.takenWithUnits());
  }
  const std::vector<UnitRecord> expected = {{0, rec(1)}, {0, rec(2)}, {1, rec(3)}};
  EXPECT_EQ(loadRecordFile(log), expected);
  std::filesystem::remove_all(dir);
}

TEST(PbxsimLineState, ScriptedPayloadAndWireReplies) {
  Simulator sim(scenarioWith({{}}));
  HostPort port(sim.start());
  const std::uint8_t m = 0xFF ^ kKey;
  auto ask = [&] {
    request(port, {0xF0, 0x01, 0x01, m, m});
    return port.readFramed();
  };
  sim.setLineStateGroups({{{0x46, 3, 1}, {0x44, 17, 0}}, {{0x44, 5, 2}}});
  auto r = ask();
  EXPECT_EQ(r.checksum, sum8(r.data));
  EXPECT_EQ(unmask(r.data, kKey),
            (std::vector<std::uint8_t>{2, 0x46, 3, 1, 0x44, 17, 0, 1, 0x44, 5, 2}));

  // More than 60 groups, 255 bytes: the full length goes out.
  std::vector<std::uint8_t> many;
  for (int i = 0; i < 85; ++i) many.insert(many.end(), {1, 0x44, static_cast<std::uint8_t>(i)});
  ASSERT_EQ(many.size(), 255u);
  sim.setLineStatePayload(many);
  r = ask();
  EXPECT_EQ(r.length, 255);
  EXPECT_EQ(r.checksum, sum8(r.data));
  EXPECT_EQ(unmask(r.data, kKey), many);

  sim.setLineStatePayload({2, 0x44, 1, 0});  // a count that promises more than is sent
  r = ask();
  EXPECT_EQ(unmask(r.data, kKey), (std::vector<std::uint8_t>{2, 0x44, 1, 0}));

  sim.setLineStatePayload({});
  EXPECT_EQ(ask().length, 0);

  sim.setLineStateWire({0x03, 0x01});  // exact bytes, whatever they mean
  request(port, {0xF0, 0x01, 0x01, m, m});
  EXPECT_EQ(port.readN(2), (std::vector<std::uint8_t>{0x03, 0x01}));
  EXPECT_EQ(port.read(150), -1);

  // A request with a wrong checksum or subcommand is not answered.
  request(port, {0xF0, 0x01, 0x01, m, static_cast<std::uint8_t>(m + 1)});
  EXPECT_EQ(port.read(150), -1);
  request(port, {0xF0, 0x02, 0x01, m, m});
  EXPECT_EQ(port.read(150), -1);
  EXPECT_EQ(sim.counters().lineStateRequests, 5);
}

TEST(PbxsimLineState, LivePictureIsWellFormedAndDeterministic) {
  Scenario sc = scenarioWith({{}});
  sc.seed = 5;
  sc.callsPerMinute = 600;  // many short connections quickly
  Simulator one(sc), two(sc);
  std::this_thread::sleep_for(milliseconds(1500));
  const auto a = one.livePicture();
  const auto b = two.livePicture();
  ASSERT_FALSE(a.empty());
  // Both started together; allow for a connection starting or ending in between.
  EXPECT_LE(std::max(a.size(), b.size()) - std::min(a.size(), b.size()), 2u);
  EXPECT_EQ(a.front(), b.front());
  for (const auto& g : a) {
    ASSERT_GE(g.size(), 2u);
    EXPECT_EQ(g[0].kind, 0x44);
    EXPECT_TRUE(g[1].kind == 0x44 || g[1].kind == 0x46);
  }
  HostPort port(one.start());
  const std::uint8_t m = 0xFF ^ kKey;
  request(port, {0xF0, 0x01, 0x01, m, m});
  const auto r = port.readFramed();
  ASSERT_GT(r.length, 0);
  EXPECT_EQ(r.checksum, sum8(r.data));
  const auto d = unmask(r.data, kKey);
  std::size_t at = 0, groups = 0;
  while (at < d.size()) {
    at += 1 + 3 * d[at];
    ++groups;
  }
  EXPECT_EQ(at, d.size()) << "groups fill the reply exactly";
  EXPECT_GT(groups, 0u);
}

TEST(PbxsimLineState, LiveCallsBecomeRecords) {
  Scenario sc = scenarioWith({{}});
  sc.callsPerMinute = 3000;
  sc.seed = 9;
  Simulator sim(sc);
  HostPort port(sim.start());
  // Most connections last seconds; some soon end as records.
  std::optional<Record> r;
  for (int i = 0; i < 30 && !r; ++i) {
    std::this_thread::sleep_for(milliseconds(250));
    r = askRecord(port, 0x02);
  }
  ASSERT_TRUE(r);
  EXPECT_GE(r->bytes.size(), 11u);
  EXPECT_FALSE(r->isEmptySlot());
}

TEST(PbxsimFaults, ChecksumCorruptionAndResend) {
  const Record a = rec(1), b = rec(2);
  Simulator sim(scenarioWith({{a, b}}));
  Faults f;
  f.firstRecordChecksum = 1;
  f.statusChecksum = 1;
  sim.setFaults(f);
  HostPort port(sim.start());
  request(port, {0x02});
  auto r = port.readFramed();
  EXPECT_EQ(Record{unmask(r.data, kKey)}, a);
  EXPECT_NE(r.checksum, sum8(r.data));
  request(port, {0x40, 0x03});
  r = port.readFramed();
  EXPECT_EQ(r.length, 6);
  EXPECT_NE(r.checksum, sum8(r.data));
  // Next-record replies keep their checksum unless asked.
  request(port, {0x03});
  r = port.readFramed();
  EXPECT_EQ(r.checksum, sum8(r.data));

  f.resendAfterBadChecksum = true;
  sim.setFaults(f);
  request(port, {0x02});
  r = port.readFramed();
  EXPECT_NE(r.checksum, sum8(r.data));
  const auto again = port.readN(r.data.size());
  EXPECT_EQ(again, r.data) << "the data come again without a length byte";
  EXPECT_EQ(port.read(), sum8(again));
}

TEST(PbxsimFaults, SilentAfterRequests) {
  Simulator sim(scenarioWith({{rec(1)}}));
  Faults f;
  f.silentAfter = 2;
  sim.setFaults(f);
  HostPort port(sim.start());
  EXPECT_TRUE(askRecord(port, 0x02));
  request(port, {0x40, 0x03});
  EXPECT_EQ(port.readFramed().length, 6);
  port.purge();
  port.write({0x00});
  EXPECT_EQ(port.read(200), -1) << "probes get no echo either";
  port.write({0x02});
  EXPECT_EQ(port.read(200), -1);
  EXPECT_TRUE(sim.takenRecords().empty());
}

TEST(PbxsimFaults, HangUpAndComeBackAtTheSamePath) {
  const auto link =
      (std::filesystem::temp_directory_path() / ("pbxsim_link_" + std::to_string(::getpid())))
          .string();
  Scenario sc = scenarioWith({{rec(1)}});
  sc.linkPath = link;
  sc.faults.hangupAfter = 1;
  sc.faults.comeBackAfterMs = 200;
  Simulator sim(sc);
  EXPECT_EQ(sim.start(), link);
  const std::string firstSlave = sim.slavePath();
  {
    HostPort port(link);
    ASSERT_TRUE(port.isOpen());
    request(port, {0x01});
    EXPECT_EQ(port.read(), 23);
    port.readN(23);
    // The line is gone: a read sees the hang-up instead of waiting out its time-out.
    const auto t0 = Clock::now();
    int b = port.read(1000);
    while (b >= 0) b = port.read(1000);
    EXPECT_EQ(b, -2);
    EXPECT_LT(Clock::now() - t0, milliseconds(900));
  }
  // It comes back on a new pseudo-terminal behind the same link.
  for (int i = 0; i < 100 && sim.isHungUp(); ++i) std::this_thread::sleep_for(milliseconds(20));
  ASSERT_FALSE(sim.isHungUp());
  EXPECT_EQ(std::filesystem::read_symlink(link).string(), sim.slavePath());
  HostPort again(link);
  ASSERT_TRUE(again.isOpen());
  EXPECT_EQ(askRecord(again, 0x02), rec(1));

  sim.hangUp();
  EXPECT_TRUE(sim.isHungUp());
  EXPECT_EQ(sim.comeBack(), link);
  HostPort third(link);
  EXPECT_EQ(askRecord(third, 0x02), rec(1));
  EXPECT_NE(sim.slavePath(), firstSlave);
  sim.stop();
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

TEST(PbxsimFaults, ByteFaultHitsOnePositionOnce) {
  Simulator sim(scenarioWith({{rec(1), rec(2)}}));
  Faults f;
  f.byteFault.kind = ByteFault::Kind::WrongByte;
  f.byteFault.segment = 1;
  f.byteFault.position = 2;
  f.byteFault.value = 0x55;
  sim.setFaults(f);
  HostPort port(sim.start());
  EXPECT_EQ(askRecord(port, 0x02), rec(1));  // segment 0
  // Segment 1: echoes at 0, 1, 2 -> the third echo is wrong.
  port.purge();
  std::vector<int> echoes;
  for (int i = 0; i < 5; ++i) {
    port.write({0x00});
    echoes.push_back(port.read());
  }
  EXPECT_EQ(echoes, (std::vector<int>{0, 0, 0x55, 0, 0}));
  ASSERT_TRUE(port.handshake()) << "a one-shot fault is spent";
  port.purge();
  port.write({0x03});
  EXPECT_EQ(readRecord(port), rec(2));

  // Drop the length byte of every next-record reply from segment 1 on.
  f.byteFault = ByteFault{};
  f.byteFault.kind = ByteFault::Kind::Drop;
  f.byteFault.segment = 0;
  f.byteFault.position = 5;
  f.byteFault.persistent = true;
  sim.setFaults(f);
  sim.addRecord(rec(3));
  sim.addRecord(rec(4));
  request(port, {0x03});  // segment 2: echoes 0-4, length byte at 5 dropped
  EXPECT_EQ(port.read(), rec(3).bytes[0] ^ kKey) << "the reply starts with its data";
  EXPECT_EQ(port.readN(13).size(), 13u);  // the other data bytes and the checksum
  EXPECT_EQ(port.read(150), -1);
}

TEST(PbxsimTiming, LineSpeedPacesTheOutput) {
  Scenario sc = scenarioWith({{rec(1, 100)}});
  sc.lineSpeed = true;
  Simulator sim(sc);
  HostPort port(sim.start());
  ASSERT_TRUE(port.handshake());
  port.purge();
  const auto t0 = Clock::now();
  port.write({0x02});
  const auto r = port.readFramed();
  const auto took = Clock::now() - t0;
  ASSERT_EQ(r.length, 100);
  EXPECT_EQ(r.checksum, sum8(r.data));
  // 103 bytes at about 0.57 ms each.
  EXPECT_GE(took, milliseconds(45));
  EXPECT_LT(took, milliseconds(2000));
}

TEST(PbxsimDeterminism, SameSeedSameRecordsOverTheWire) {
  auto readAll = [](std::uint32_t seed) {
    Scenario sc;
    sc.maskKey = kKey;
    sc.seed = seed;
    sc.units[0].records.assign(0, Record{});
    for (auto& r : generateRecords(sc, 20, seed)) sc.units[0].records.push_back(r);
    Simulator sim(sc);
    HostPort port(sim.start());
    std::vector<Record> got;
    auto r = askRecord(port, 0x02);
    while (r) {
      got.push_back(*r);
      r = askRecord(port, 0x03);
    }
    EXPECT_EQ(got, sim.takenRecords());
    return got;
  };
  const auto a = readAll(21);
  EXPECT_EQ(a.size(), 20u);
  EXPECT_EQ(a, readAll(21));
  EXPECT_NE(a, readAll(22));
}

}  // namespace
}  // namespace pbxsim

namespace pbxsim {
namespace {

TEST(PbxsimFaults, WholeReplyFaultsAtCertainty) {
  const Record a = rec(0x40, 20);
  struct Case {
    const char* name;
    double Faults::*field;
  } cases[] = {{"drop", &Faults::dropReply},
               {"truncate", &Faults::truncateReply},
               {"garbage", &Faults::garbageBefore}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Simulator sim(scenarioWith({{a}}));
    Faults f;
    f.*(c.field) = 1;
    sim.setFaults(f);
    HostPort port(sim.start());
    request(port, {0x02});
    std::vector<std::uint8_t> got;
    for (int b = port.read(300); b >= 0; b = port.read(150))
      got.push_back(static_cast<std::uint8_t>(b));
    std::vector<std::uint8_t> full{20};
    for (auto x : a.bytes) full.push_back(static_cast<std::uint8_t>(x ^ kKey));
    full.push_back(sum8({full.begin() + 1, full.end()}));
    if (c.field == &Faults::dropReply) {
      EXPECT_TRUE(got.empty());
    } else if (c.field == &Faults::truncateReply) {
      EXPECT_EQ(got, std::vector<std::uint8_t>(full.begin(), full.begin() + 11));
    } else {
      ASSERT_GT(got.size(), full.size());
      EXPECT_LE(got.size(), full.size() + 4);
      EXPECT_EQ(std::vector<std::uint8_t>(got.end() - static_cast<long>(full.size()), got.end()),
                full);
    }
    EXPECT_EQ(sim.sentRecords().size(), 1u) << "the record was handed over all the same";
  }
}

}  // namespace
}  // namespace pbxsim

namespace pbxsim {
namespace {

Faults targeted(InputFault::Kind kind, int match, int nth, int value = -1,
                bool persistent = false) {
  Faults f;
  f.inputFault = {kind, match, nth, persistent, value};
  return f;
}

Faults chanceOf(double Faults::*field, double p, int only, int Faults::*valueField = nullptr,
                int value = -1) {
  Faults f;
  f.*field = p;
  f.inputOnly = only;
  if (valueField) f.*valueField = value;
  return f;
}

// The reply to one byte sent after a handshake, with the front record sent and not taken.
TEST(PbxsimInputFaults, DamagedRequestsAreAnsweredAsWhatArrived) {
  using K = InputFault::Kind;
  const Record a = rec(0x10), b = rec(0x20);
  enum class Answer { Nothing, Status, RecordA, RecordB };
  struct Case {
    const char* name;
    Faults faults;
    std::uint8_t send;
    Answer answer;
    std::size_t taken;
    long Counters::*counter;
  } cases[] = {
      {"probe taken as a next-record request", targeted(K::Replace, 0x00, 1, 0x03), 0x00,
       Answer::RecordB, 1, &Counters::inputReplaced},
      {"status lead inserted before 0x03", targeted(K::Insert, 0x03, 1, 0x40), 0x03, Answer::Status,
       0, &Counters::inputInserted},
      {"0x03 taken as 0x02", targeted(K::Replace, 0x03, 1, 0x02), 0x03, Answer::RecordA, 0,
       &Counters::inputReplaced},
      {"0x03 lost", targeted(K::Drop, 0x03, 1), 0x03, Answer::Nothing, 0, &Counters::inputDropped},
      {"any byte lost", targeted(K::Drop, -1, 1), 0x03, Answer::Nothing, 0,
       &Counters::inputDropped},
      {"p=1 only 0x03: lost", chanceOf(&Faults::inputDrop, 1, 0x03), 0x03, Answer::Nothing, 0,
       &Counters::inputDropped},
      {"p=1 only 0x03: taken as 0x02",
       chanceOf(&Faults::inputReplace, 1, 0x03, &Faults::inputReplaceValue, 0x02), 0x03,
       Answer::RecordA, 0, &Counters::inputReplaced},
      {"p=1 only 0x03: 0x40 inserted",
       chanceOf(&Faults::inputInsert, 1, 0x03, &Faults::inputInsertValue, 0x40), 0x03,
       Answer::Status, 0, &Counters::inputInserted},
      {"p=1 only 0x00 leaves 0x03 alone", chanceOf(&Faults::inputDrop, 1, 0x00), 0x03,
       Answer::RecordB, 1, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Simulator sim(scenarioWith({{a, b}}));
    HostPort port(sim.start());
    ASSERT_EQ(askRecord(port, 0x02), a);
    ASSERT_TRUE(port.handshake());
    sim.setFaults(c.faults);
    port.purge();
    port.write({c.send});
    const auto r = port.readFramed(300);
    Answer got = Answer::Nothing;
    if (r.length == 6) got = Answer::Status;
    if (r.length > 6) got = Record{unmask(r.data, kKey)} == a ? Answer::RecordA : Answer::RecordB;
    EXPECT_EQ(got, c.answer);
    EXPECT_EQ(r.checksum, r.length < 0 ? -1 : sum8(r.data));
    EXPECT_EQ(sim.takenRecords().size(), c.taken);
    const auto n = sim.counters();
    EXPECT_EQ(n.inputFaults, c.counter ? 1 : 0);
    if (c.counter) {
      EXPECT_EQ(n.*(c.counter), 1);
    }
  }
}

// Four next-record requests, each after a handshake; the second matching 0x03 is lost.
TEST(PbxsimInputFaults, TargetedFaultOnceOrPersistentAndReArmed) {
  for (const bool persistent : {false, true}) {
    SCOPED_TRACE(persistent ? "persistent" : "once");
    std::vector<Record> recs;
    for (std::uint8_t i = 1; i <= 8; ++i) recs.push_back(rec(static_cast<std::uint8_t>(i * 16)));
    Simulator sim(scenarioWith({recs}));
    HostPort port(sim.start());
    ASSERT_EQ(askRecord(port, 0x02), recs[0]);
    const Faults f = targeted(InputFault::Kind::Drop, 0x03, 2, -1, persistent);
    sim.setFaults(f);
    auto answered = [&] {
      std::vector<bool> out;
      for (int i = 0; i < 4; ++i) {
        request(port, {0x03});
        out.push_back(port.readFramed(300).length > 0);
      }
      return out;
    };
    const std::vector<bool> once{true, false, true, true}, always{true, false, false, false};
    EXPECT_EQ(answered(), persistent ? always : once) << "probes between do not count";
    EXPECT_EQ(sim.counters().inputDropped, persistent ? 3 : 1);
    // Set again, the count starts anew.
    sim.setFaults(f);
    EXPECT_EQ(answered(), persistent ? always : once);
    EXPECT_EQ(sim.counters().inputFaults, persistent ? 6 : 2);
    EXPECT_EQ(sim.counters().nextRecordRequests, persistent ? 2 : 6);
  }
}

// Faults drawn byte by byte: counted, never a no-op, and from the seed.
TEST(PbxsimInputFaults, ProbabilisticFaultsFollowTheSeed) {
  auto run = [](Faults f, std::uint32_t seed) {
    Scenario sc = scenarioWith({{}});
    sc.seed = seed;
    sc.faults = f;
    Simulator sim(sc);
    HostPort port(sim.start());
    for (int i = 0; i < 1000; ++i) port.write({0x00});
    for (int i = 0; i < 300 && sim.counters().probes + sim.counters().inputFaults < 1000; ++i)
      std::this_thread::sleep_for(milliseconds(10));
    return sim.counters();
  };
  Faults half;
  half.inputDrop = 0.5;
  const Counters one = run(half, 3);
  EXPECT_EQ(one.probes + one.inputDropped, 1000);
  EXPECT_GT(one.inputDropped, 400);
  EXPECT_LT(one.inputDropped, 600);
  EXPECT_EQ(run(half, 3).inputDropped, one.inputDropped);
  EXPECT_NE(run(half, 4).inputDropped, one.inputDropped);

  Faults random;
  random.inputReplace = 1;  // a random byte, never the probe itself
  const Counters replaced = run(random, 3);
  EXPECT_EQ(replaced.inputReplaced, 1000);
  EXPECT_EQ(replaced.probes, 0);
}

TEST(PbxsimInputFaults, FaultTexts) {
  using K = InputFault::Kind;
  struct Good {
    const char* text;
    InputFault want;
  } good[] = {
      {"drop:0x03:1", {K::Drop, 3, 1, false, -1}},
      {"replace:0x00:2:0x03", {K::Replace, 0, 2, false, 3}},
      {"insert:any:10:64:persist", {K::Insert, -1, 10, true, 64}},
      {"replace:255:1:persist", {K::Replace, 255, 1, true, -1}},
  };
  for (const auto& g : good) {
    SCOPED_TRACE(g.text);
    const InputFault f = parseInputFault(g.text);
    EXPECT_EQ(f.kind, g.want.kind);
    EXPECT_EQ(f.match, g.want.match);
    EXPECT_EQ(f.nth, g.want.nth);
    EXPECT_EQ(f.persistent, g.want.persistent);
    EXPECT_EQ(f.value, g.want.value);
  }
  for (const char* bad :
       {"drop:3", "flip:3:1", "drop:0x100:1", "drop:3:0", "drop:3:1:5", "insert:3:1:0x40:again",
        "replace:3:1:256", "drop:3:-1", "drop::1", "insert:3:1:0x40:persist:x"})
    EXPECT_THROW(parseInputFault(bad), std::invalid_argument) << bad;

  EXPECT_EQ(parseChanceAndByte("0.25"), (std::pair<double, int>{0.25, -1}));
  EXPECT_EQ(parseChanceAndByte("1:0x40"), (std::pair<double, int>{1.0, 0x40}));
  for (const char* bad : {"", "1.5", "-0.1", "0.5:", "0.5:300", "x", "0.5:1:2"})
    EXPECT_THROW(parseChanceAndByte(bad), std::invalid_argument) << bad;
}

}  // namespace
}  // namespace pbxsim
