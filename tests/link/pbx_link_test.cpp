// The link protocol against the PBX simulator: opening, identification, buffer status and
// the masked exchange.
#include "link/pbx_link.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "link/sim_link.h"
#include "link/wire_trace.h"
#include "pbxsim.h"

namespace kordel {
namespace {

using test::SimLink;

std::uint64_t elapsedMs(std::uint64_t since) { return tickCount() - since; }

pbxsim::Scenario scenarioFor(int modelCode, const char* name = "") {
  pbxsim::Scenario s;
  s.modelCode = modelCode;
  s.modelName = name;
  s.maskKey = 0xA7;
  return s;
}

TEST(PbxLinkOpen, OpenPortResults) {
  test::TempDir dir;
  PbxLink link(dir.str());
  EXPECT_FALSE(link.port->isOpen);
  EXPECT_EQ(link.openPort("/dev/kordel-no-such-port"), kPortFailed);
  EXPECT_FALSE(link.port->isOpen);

  pbxsim::Simulator sim(scenarioFor(4));
  const std::string path = sim.start();
  EXPECT_EQ(link.openPort(path), kOk);
  EXPECT_TRUE(link.port->isOpen);
  EXPECT_EQ(link.openPort("/dev/kordel-no-such-port"), kPortAlreadyOpen);
  EXPECT_TRUE(link.port->isOpen);
  EXPECT_EQ(link.port->deviceName, path);
}

TEST(PbxLinkIdentify, ModelTable) {
  struct Case {
    int code;
    const char* expected;
  };
  const std::vector<Case> cases = {{3, "C"},        {4, "QTR160"}, {5, "DL256"},
                                   {6, "QTR400-1"}, {7, "DL40"},   {8, "DL72"}};
  for (const auto& c : cases) {
    pbxsim::Scenario s = scenarioFor(c.code);
    s.units[0].capacity = 250;
    s.units[0].records.push_back(pbxsim::Record{{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}});
    s.units[0].records.push_back(pbxsim::Record{{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12}});
    SimLink t(s);
    ASSERT_EQ(t.link.queryStatus(), kOk) << c.code;
    EXPECT_EQ(t.link.model, c.expected);
    EXPECT_FALSE(t.link.isComplex);
    EXPECT_EQ(t.link.extraUnits, 0);
    EXPECT_EQ(t.link.maskKey, 0xA7);
    EXPECT_EQ(t.link.softwareVersion, "32,5");
    EXPECT_EQ(t.link.serialNumber, "12345");
    EXPECT_EQ(t.link.bufferCapacity, 250);
    EXPECT_EQ(t.link.recordsInBuffer, 2);
  }
}

TEST(PbxLinkIdentify, NamedModels) {
  struct Case {
    const char* name;
    const char* model;
    bool isComplex;
    int extraUnits;
    int units;
  };
  const std::vector<Case> cases = {
      {"3xB", "3xB", true, 2, 3},        {"2?B", "2?B", true, 1, 2},
      {"3xBjunk", "3xB", true, 2, 3},  // only the first three characters count
      {"DL256xy", "DL256", false, 0, 1}, {"DL2ab", "DL2ab", false, 0, 1},
      {"XYZ", "XYZ", false, 0, 1},
  };
  for (const auto& c : cases) {
    pbxsim::Scenario s = scenarioFor(2, c.name);
    s.units.assign(static_cast<std::size_t>(c.units), pbxsim::Unit{});
    for (int u = 0; u < c.units; ++u) {
      s.units[static_cast<std::size_t>(u)].capacity = 100 * (u + 1);
      s.units[static_cast<std::size_t>(u)].fixedCounters = {
          {static_cast<std::uint16_t>(10 + u), 4}};
    }
    SimLink t(s);
    ASSERT_EQ(t.link.queryStatus(), kOk) << c.name;
    EXPECT_EQ(t.link.model, c.model) << c.name;
    EXPECT_EQ(t.link.isComplex, c.isComplex) << c.name;
    EXPECT_EQ(t.link.extraUnits, c.extraUnits) << c.name;
    // Each unit reports capacity 100(u+1) and 6+u records; a complex adds them all up.
    int capacity = 0;
    int records = 0;
    for (int u = 0; u < c.units; ++u) {
      capacity += 100 * (u + 1);
      records += 6 + u;
    }
    EXPECT_EQ(t.link.bufferCapacity, capacity) << c.name;
    EXPECT_EQ(t.link.recordsInBuffer, records) << c.name;
    EXPECT_EQ(t.sim.counters().statusRequests, c.units) << c.name;
  }
}

TEST(PbxLinkIdentify, ASinglePbxAfterAComplexHasNoExtraUnits) {
  test::TempDir dir;
  PbxLink link(dir.str());
  {
    pbxsim::Scenario s = scenarioFor(2, "3xB");
    s.units.assign(3, pbxsim::Unit{});
    pbxsim::Simulator sim(s);
    ASSERT_EQ(link.openPort(sim.start()), kOk);
    ASSERT_EQ(link.queryStatus(), kOk);
    EXPECT_TRUE(link.isComplex);
    EXPECT_EQ(link.extraUnits, 2);
    link.port->close();
  }
  pbxsim::Simulator sim(scenarioFor(5));
  ASSERT_EQ(link.openPort(sim.start()), kOk);
  ASSERT_EQ(link.queryStatus(), kOk);
  EXPECT_EQ(link.model, "DL256");
  EXPECT_FALSE(link.isComplex);
  EXPECT_EQ(link.extraUnits, 0);
  EXPECT_EQ(sim.counters().statusRequests, 1);
}

TEST(PbxLinkIdentify, TimeStepAndClock) {
  struct Case {
    int timeStepByte;
    int day;
    int second;
    int expectedStep;
    PbxClock expected;  // minutes and seconds are checked with room: the PBX clock runs
  };
  const std::vector<Case> cases = {
      {0, 0, 0, 6, {1980, 1, 1, 0, 0, 0}},
      {1, 59, 3600 * 5, 1, {1980, 2, 29, 5, 0, 0}},
      {0, 366, 3600 * 23, 6, {1981, 1, 1, 23, 0, 0}},
      {2, 1520, 3600 * 12, 2, {1984, 2, 29, 12, 0, 0}},
      {1, 1521, 3600 * 7 + 60 * 30, 1, {1984, 3, 1, 7, 30, 0}},
  };
  for (const auto& c : cases) {
    pbxsim::Scenario s = scenarioFor(4);
    s.timeStepByte = c.timeStepByte;
    s.clockDay = c.day;
    s.clockSecond = c.second;
    SimLink t(s);
    ASSERT_EQ(t.link.queryStatus(), kOk);
    EXPECT_EQ(t.link.timeStep, c.expectedStep);
    const PbxClock& k = t.link.clock;
    EXPECT_EQ(k.year, c.expected.year) << c.day;
    EXPECT_EQ(k.month, c.expected.month) << c.day;
    EXPECT_EQ(k.day, c.expected.day) << c.day;
    EXPECT_EQ(k.hour, c.expected.hour) << c.day;
    EXPECT_EQ(k.minute, c.expected.minute) << c.day;
    EXPECT_LE(k.second, 10) << c.day;
  }
}

TEST(PbxLinkIdentify, VersionAndSerialTexts) {
  struct Case {
    std::uint8_t lead;
    std::uint8_t nibbles;
    std::uint16_t serial;
    const char* version;
    const char* serialText;
  };
  const std::vector<Case> cases = {
      {3, 0x25, 12345, "32,5", "12345"},
      {0, 0x00, 0, "00,0", "0"},
      {12, 0xF9, 65535, "1215,9", "65535"},
  };
  for (const auto& c : cases) {
    pbxsim::Scenario s = scenarioFor(6);
    s.versionLead = c.lead;
    s.versionNibbles = c.nibbles;
    s.serial = c.serial;
    SimLink t(s);
    ASSERT_EQ(t.link.queryStatus(), kOk);
    EXPECT_EQ(t.link.softwareVersion, c.version);
    EXPECT_EQ(t.link.serialNumber, c.serialText);
  }
}

TEST(PbxLinkIdentify, CounterBAheadOfAGivesANegativeCount) {
  pbxsim::Scenario s = scenarioFor(2, "2xB");
  s.units.assign(2, pbxsim::Unit{});
  s.units[0].fixedCounters = {{5, 8}};
  s.units[1].fixedCounters = {{1, 0}};
  SimLink t(s);
  ASSERT_EQ(t.link.queryStatus(), kOk);
  EXPECT_EQ(t.link.recordsInBuffer, -2);
}

TEST(PbxLinkIdentify, UnsupportedModelCode) {
  SimLink t(scenarioFor(9));
  t.link.model = "QTR160";
  t.link.serialNumber = "777";
  EXPECT_EQ(t.link.queryStatus(), kUnsupportedModel);
  EXPECT_EQ(t.link.maskKey, 0xA7);  // the key of the reply is taken all the same
  EXPECT_EQ(t.link.model, "QTR160");
  EXPECT_EQ(t.link.serialNumber, "777");
  EXPECT_EQ(t.sim.counters().statusRequests, 0);
}

TEST(PbxLinkIdentify, StatusChecksumFailingElevenTimes) {
  pbxsim::Scenario s = scenarioFor(4);
  s.faults.statusChecksum = 1.0;
  SimLink t(s);
  EXPECT_EQ(t.link.queryStatus(), kStatusChecksum);
  EXPECT_EQ(t.sim.counters().statusRequests, 11);
  EXPECT_EQ(t.link.model, "QTR160");  // the identification itself went through
}

TEST(PbxLinkIdentify, NoIdentificationReply) {
  pbxsim::Scenario s = scenarioFor(4);
  s.faults.dropReply = 1.0;  // probes are echoed, the identification is not answered
  SimLink t(s);
  const std::uint64_t start = tickCount();
  EXPECT_EQ(t.link.queryStatus(), kNoIdentification);
  EXPECT_LT(elapsedMs(start), 3000u);
  EXPECT_EQ(t.link.model, "");
}

// What went wrong is told apart, so the callers can say it (the results stay the codes).
TEST(PbxLinkIdentify, TellsWhatWentWrong) {
  struct Case {
    const char* name;
    int modelCode;
    pbxsim::Faults faults;
    int result;
    LinkFault fault;
    int detail;
  };
  pbxsim::Faults badStatus;
  badStatus.statusChecksum = 1.0;
  pbxsim::Faults noReply;
  noReply.dropReply = 1.0;
  const Case cases[] = {
      {"answers", 4, {}, kOk, LinkFault::kNone, 0},
      {"unsupported model", 9, {}, kUnsupportedModel, LinkFault::kUnsupportedModel, 9},
      {"status checksum", 4, badStatus, kStatusChecksum, LinkFault::kStatusChecksum, 0},
      {"no identification reply", 4, noReply, kNoIdentification, LinkFault::kNoIdentification, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    pbxsim::Scenario s = scenarioFor(c.modelCode);
    s.faults = c.faults;
    SimLink t(s);
    EXPECT_EQ(t.link.queryStatus(), c.result);
    EXPECT_EQ(t.link.lastFault, c.fault);
    EXPECT_EQ(t.link.faultDetail, c.detail);
  }
}

// A PBX that echoes the probes and answers the identification request with a reply of length
// 0: the PBX answered, so it is no "not answering" and no unknown model either.
TEST(PbxLinkIdentify, AnEmptyIdentificationReplyIsToldApart) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  char name[128] = {};
  ASSERT_EQ(ptsname_r(master, name, sizeof name), 0);
  test::TempDir dir;
  PbxLink link(dir.str());
  ASSERT_EQ(link.openPort(name), kOk);
  std::atomic<bool> done{false};
  std::jthread pbx([&] {
    while (!done) {
      pollfd p{master, POLLIN, 0};
      std::uint8_t b = 0;
      if (poll(&p, 1, 1) > 0 && read(master, &b, 1) == 1) {
        const std::uint8_t answer = 0x00;  // the echo of a probe, the length of the reply
        if (b == 0x00 || b == kIdentifyRequest) (void)!write(master, &answer, 1);
      }
    }
  });
  EXPECT_EQ(link.queryStatus(), kUnsupportedModel);
  EXPECT_EQ(link.lastFault, LinkFault::kEmptyIdentification);
  done = true;
  pbx.join();
  link.port->close();
  close(master);
}

TEST(PbxLinkTrace, RecordsEachExchangeOnALineOfItsOwn) {
  SimLink t(scenarioFor(4));
  const std::string file = t.dir.file("wire.txt");
  t.link.port->trace = std::make_shared<WireTrace>(file);
  ASSERT_TRUE(t.link.port->trace->ok());
  ASSERT_EQ(t.link.queryStatus(), kOk);
  t.link.port->trace.reset();  // ends the last line
  std::vector<std::string> lines;
  std::string text = test::readBytes(file), line;
  for (char c : text) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line += c;
    }
  }
  EXPECT_TRUE(line.empty()) << "a line without its end";
  // Probes and their echoes, the identification request with its reply of 24 bytes (the
  // length byte and 23), the unit selection, the buffer status request with its reply.
  ASSERT_GE(lines.size(), 13u);
  for (const std::string& l : lines) {
    ASSERT_GE(l.size(), 18u) << l;
    EXPECT_EQ(l[2], ':') << l;
    EXPECT_EQ(l[8], '.') << l;
    EXPECT_EQ(l.substr(12, 3), " > ") << l;
  }
  EXPECT_NE(lines[0].find("> 00 < 00"), std::string::npos) << lines[0];
  int identification = 0;
  for (const std::string& l : lines) {
    if (l.find("> 01 < ") != std::string::npos) ++identification;
  }
  EXPECT_EQ(identification, 1);
}

// The one test of the full handshake time-out (about 8.5 s).
TEST(PbxLinkIdentify, APbxThatNeverAnswers) {
  pbxsim::Scenario s = scenarioFor(4);
  s.faults.silentAfter = 0;
  SimLink t(s);
  const std::uint64_t start = tickCount();
  EXPECT_EQ(t.link.queryStatus(), kNoHandshake);
  EXPECT_EQ(t.link.lastFault, LinkFault::kNoHandshake);
  const std::uint64_t took = elapsedMs(start);
  EXPECT_GE(took, 7000u);
  EXPECT_LE(took, 14000u);
  // Eleven attempts, each ended by its first unanswered probe; nothing else was sent.
  const pbxsim::Counters n = t.sim.counters();
  EXPECT_EQ(n.probes, 11);
  EXPECT_EQ(n.requests, 0);
  EXPECT_EQ(n.ignoredBytes, 0);
}

TEST(PbxLinkExchange, DeliversAnUnmaskedReply) {
  pbxsim::Scenario s = scenarioFor(4);
  s.units[0].records.push_back(pbxsim::Record{{0x10, 0x20, 0x30, 0xFF, 0x00}});
  SimLink t(s);
  ASSERT_EQ(t.link.queryStatus(), kOk);
  ReplyBuffer reply{};
  int length = 0;
  ASSERT_EQ(t.link.exchange(kFirstRecordRequest, true, false, nullptr, 0, 0, reply, length), kOk);
  ASSERT_EQ(length, 5);
  EXPECT_EQ(std::vector<std::uint8_t>(reply.begin(), reply.begin() + 5),
            (std::vector<std::uint8_t>{0x10, 0x20, 0x30, 0xFF, 0x00}));
  EXPECT_EQ(reply[5], 0);
}

TEST(PbxLinkExchange, ChecksumReReadTakesARepeatedReply) {
  pbxsim::Scenario s = scenarioFor(4);
  s.units[0].records.push_back(pbxsim::Record{{0x01, 0x02, 0x03}});
  s.faults.firstRecordChecksum = 1.0;
  s.faults.resendAfterBadChecksum = true;
  SimLink t(s);
  ASSERT_EQ(t.link.queryStatus(), kOk);
  ReplyBuffer reply{};
  int length = 0;
  ASSERT_EQ(t.link.exchange(kFirstRecordRequest, true, false, nullptr, 0, 0, reply, length), kOk);
  ASSERT_EQ(length, 3);
  EXPECT_EQ(reply[0], 0x01);
  EXPECT_EQ(reply[1], 0x02);
  EXPECT_EQ(reply[2], 0x03);
  EXPECT_EQ(t.sim.counters().firstRecordRequests, 1);  // read again, never asked again
}

TEST(PbxLinkExchange, ChecksumReReadEndsWhenThePbxFallsSilent) {
  pbxsim::Scenario s = scenarioFor(4);
  s.units[0].records.push_back(pbxsim::Record{{0x01}});
  s.faults.firstRecordChecksum = 1.0;  // a bad checksum, and nothing after it
  SimLink t(s);
  ASSERT_EQ(t.link.queryStatus(), kOk);
  ReplyBuffer reply{};
  int length = 0;
  const std::uint64_t start = tickCount();
  EXPECT_EQ(t.link.exchange(kFirstRecordRequest, true, false, nullptr, 0, 0, reply, length),
            kExchangeFailed);
  EXPECT_LT(elapsedMs(start), 4000u);
}

// A PBX that echoes the handshake, answers a record request with a bad checksum and then
// streams bytes that never add up: the re-reads must give up.
TEST(PbxLinkExchange, ChecksumReReadsAreBounded) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  char name[128] = {};
  ASSERT_EQ(ptsname_r(master, name, sizeof name), 0);
  test::TempDir dir;
  PbxLink link(dir.str());
  ASSERT_EQ(link.openPort(name), kOk);

  std::atomic<bool> done{false};
  std::atomic<long> garbage{0};
  std::jthread pbx([&] {
    bool streaming = false;
    while (!done) {
      pollfd p{master, POLLIN, 0};
      if (poll(&p, 1, 1) > 0) {
        std::uint8_t b = 0;
        if (read(master, &b, 1) == 1) {
          if (b == 0x00 && !streaming) {
            (void)!write(master, &b, 1);
          } else if (b == kFirstRecordRequest) {
            const std::uint8_t reply[] = {1, 0x55, 0x00};  // checksum should be 0x55
            (void)!write(master, reply, sizeof reply);
            streaming = true;
          }
        }
      }
      if (streaming) {
        const std::uint8_t pair[] = {0x01, 0x02};  // one data byte, a checksum that never fits
        if (write(master, pair, sizeof pair) == 2) ++garbage;
      }
    }
  });
  ReplyBuffer reply{};
  int length = 0;
  const std::uint64_t start = tickCount();
  EXPECT_EQ(link.exchange(kFirstRecordRequest, true, false, nullptr, 0, 0, reply, length),
            kExchangeFailed);
  EXPECT_LT(elapsedMs(start), 5000u);
  EXPECT_EQ(length, 1);
  done = true;
  pbx.join();
  EXPECT_GT(garbage.load(), 0);
  link.port->close();
  close(master);
}

TEST(PbxLinkExchange, MissingLengthByteWithVerificationFails) {
  pbxsim::Scenario s = scenarioFor(4);
  SimLink t(s);
  ASSERT_EQ(t.link.queryStatus(), kOk);
  pbxsim::Faults f;
  f.dropReply = 1.0;
  t.sim.setFaults(f);
  ReplyBuffer reply{};
  int length = 0;
  const std::uint64_t start = tickCount();
  EXPECT_EQ(t.link.exchange(kFirstRecordRequest, true, false, nullptr, 0, 0, reply, length),
            kExchangeFailed);
  EXPECT_LT(elapsedMs(start), 5000u);
  // Without verification the same silence is a reply without a length byte.
  EXPECT_EQ(t.link.exchange(kNextRecordRequest, false, false, nullptr, 0, 0, reply, length), kOk);
  EXPECT_EQ(length, -1);
}

TEST(PbxLinkExchange, SendsAMaskedPayload) {
  pbxsim::Scenario s = scenarioFor(4);
  s.lineStateMode = pbxsim::LineStateMode::Scripted;
  s.lineGroups = {{{0x44, 5, 2}}};
  SimLink t(s);
  ASSERT_EQ(t.link.queryStatus(), kOk);
  ReplyBuffer reply{};
  int length = 0;
  const std::uint8_t data[] = {kLineStateData};
  ASSERT_EQ(
      t.link.exchange(kLineStateCommand, true, true, data, 1, kLineStateSubcommand, reply, length),
      kOk);
  // The simulator answers only a request whose masked payload and checksum are right.
  EXPECT_EQ(t.sim.counters().lineStateRequests, 1);
  ASSERT_EQ(length, 4);
  EXPECT_EQ(reply[0], 1);
  EXPECT_EQ(reply[1], 0x44);
  EXPECT_EQ(reply[2], 5);
  EXPECT_EQ(reply[3], 2);
}

TEST(PbxLinkExchange, APortErrorIsAFailureResult) {
  pbxsim::Scenario s = scenarioFor(4);
  SimLink t(s);
  ASSERT_EQ(t.link.queryStatus(), kOk);
  t.sim.hangUp();
  ReplyBuffer reply{};
  int length = 0;
  const std::uint64_t start = tickCount();
  EXPECT_EQ(t.link.exchange(kFirstRecordRequest, true, false, nullptr, 0, 0, reply, length),
            kExchangeFailed);
  EXPECT_LT(elapsedMs(start), 1000u);
}

TEST(PbxLinkSelectUnit, AcknowledgedOrNot) {
  pbxsim::Scenario s = scenarioFor(2, "3xB");
  s.units.assign(3, pbxsim::Unit{});
  SimLink t(s);
  ASSERT_EQ(t.link.queryStatus(), kOk);
  EXPECT_EQ(t.link.selectUnit(2), kOk);
  EXPECT_EQ(t.sim.selectedUnit(), 2);
  EXPECT_EQ(t.link.selectUnit(1), kOk);
  EXPECT_EQ(t.sim.selectedUnit(), 1);
}

}  // namespace
}  // namespace kordel
