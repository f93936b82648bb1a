// Reading the call-record buffer against the PBX simulator.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "link/pbx_link.h"
#include "link/sim_link.h"
#include "pbxsim.h"

namespace kordel {
namespace {

using test::SimLink;

std::uint64_t elapsedMs(std::uint64_t since) { return tickCount() - since; }

pbxsim::Record call(int hardwareNumber, const char* dialed, int minute = 0) {
  pbxsim::CallFields f;
  f.year = 2021;
  f.month = 6;
  f.day = 15;
  f.hour = 10;
  f.minute = minute;
  f.second = 12;
  f.durationSeconds = 66;
  f.hardwareNumber = hardwareNumber;
  f.programmed = "245";
  f.trunk = 3;
  f.dialed = dialed;
  return pbxsim::makeRecord(f, 6);
}

struct Reader {
  explicit Reader(pbxsim::Scenario s) : t(std::move(s)) {
    EXPECT_EQ(t.link.queryStatus(), kOk);
    t.link.recordHandler = [this](const CallRecord& r) { seen.push_back(r); };
  }
  SimLink t;
  std::vector<CallRecord> seen;
};

pbxsim::Scenario qtr() {
  pbxsim::Scenario s;
  s.modelCode = 4;
  s.maskKey = 0x3C;
  return s;
}

pbxsim::Scenario complexOfThree() {
  pbxsim::Scenario s;
  s.modelCode = 2;
  s.modelName = "3xB";
  s.maskKey = 0xC3;
  s.units.assign(3, pbxsim::Unit{});
  return s;
}

TEST(ReadRecords, DecodesRecordsAndEmptiesTheBuffer) {
  pbxsim::Scenario s = qtr();
  s.units[0].records = {call(101, "8123*"), call(102, ""), call(103, "0#", 1)};
  Reader r(s);
  EXPECT_EQ(r.t.link.readRecords(), kReadBufferEmpty);
  ASSERT_EQ(r.seen.size(), 3u);
  const CallRecord& first = r.seen[0];
  EXPECT_EQ(first.year, 2021);
  EXPECT_EQ(first.month, 6);
  EXPECT_EQ(first.day, 15);
  EXPECT_EQ(first.hour, 10);
  EXPECT_EQ(first.minute, 0);
  EXPECT_EQ(first.second, 12);
  EXPECT_EQ(first.durationMinutes, 1);
  EXPECT_EQ(first.durationSeconds, 6);
  EXPECT_EQ(first.hardwareNumber, 101);
  EXPECT_EQ(first.programmedNumber, "1245");
  EXPECT_EQ(first.trunk, "204");
  EXPECT_EQ(first.dialedNumber, "8123*");
  EXPECT_EQ(first.validity, (std::array<int, 9>{}));
  EXPECT_EQ(r.seen[1].hardwareNumber, 102);
  EXPECT_EQ(r.seen[1].dialedNumber, "");
  EXPECT_EQ(r.seen[2].hardwareNumber, 103);
  EXPECT_EQ(r.seen[2].minute, 1);
  EXPECT_EQ(r.seen[2].dialedNumber, "0#");
  EXPECT_TRUE(r.t.sim.pendingRecords(0).empty());
  EXPECT_EQ(r.t.sim.takenRecords().size(), 3u);
  EXPECT_EQ(r.t.link.rejectedCount, 0);
}

TEST(ReadRecords, TellsTheHandlerWhichRecordEachUnitOfferedFirst) {
  // The first record of a unit comes from the first-record request, which takes nothing: it
  // may be one an earlier read stored and did not take, so the handler is told.
  pbxsim::Scenario s = complexOfThree();
  s.units[0].records = {call(101, "1"), call(102, "2")};
  s.units[2].records = {call(301, "3"), call(302, "4")};
  Reader r(s);
  std::vector<std::pair<int, bool>> offers;
  r.t.link.recordHandler = [&r, &offers](const CallRecord&) {
    offers.emplace_back(r.t.link.offerUnit, r.t.link.offerFirst);
  };
  EXPECT_EQ(r.t.link.readRecords(), kOk);
  const std::vector<std::pair<int, bool>> expected = {{0, true}, {0, false}, {2, true}, {2, false}};
  EXPECT_EQ(offers, expected);
}

TEST(ReadRecords, ARecordTheHandlerCouldNotStoreIsNotTaken) {
  pbxsim::Scenario s = qtr();
  s.units[0].records = {call(1, "1"), call(2, "2"), call(3, "3")};
  Reader r(s);
  int calls = 0;
  r.t.link.recordHandler = [&r, &calls](const CallRecord&) {
    if (++calls == 2) r.t.link.delivery = Delivery::kNotSaved;
  };
  EXPECT_EQ(r.t.link.readRecords(), kReadStopped);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(r.t.sim.takenRecords().size(), 1u);  // the first only
  EXPECT_EQ(r.t.sim.pendingRecords(0).size(), 2u);
}

TEST(ReadRecords, AReadEndsOnceItHandedOverMoreThanTheBufferCouldHold) {
  // A PBX that hands over record after record beyond what its status reported and its
  // buffer can hold: the read ends instead of running on without end.
  pbxsim::Scenario s = qtr();
  s.units[0].capacity = 20;
  for (int i = 0; i < 150; ++i) s.units[0].records.push_back(call(100 + i % 50, "5", i / 50));
  Reader r(s);
  r.t.link.recordsInBuffer = 5;  // what a wrong status would have said
  r.t.link.bufferCapacity = 20;
  EXPECT_EQ(r.t.link.readRecords(), kReadFailed);
  EXPECT_EQ(r.t.link.lastFault, LinkFault::kTooManyRecords);
  EXPECT_EQ(r.seen.size(), 5u + 20u + 100u);  // the status, the capacity and the margin
}

TEST(ReadRecords, RepliesWhoseLengthByteIsTwoShortAreNamedAsDamaged) {
  // Every first-record reply's length byte says 13 for a 15-byte record: the PBX answers, so
  // the read must not end as if it did not.
  pbxsim::Scenario s = qtr();
  s.units[0].records = {call(1, "12345678"), call(2, "12345678")};
  ASSERT_EQ(s.units[0].records[0].bytes.size(), 15u);
  Reader r(s);
  pbxsim::Faults f;
  f.byteFault = {pbxsim::ByteFault::Kind::WrongByte, 0, 5, true, 0x01, 13, 0};
  r.t.sim.setFaults(f);
  EXPECT_EQ(r.t.link.readRecords(), kReadFailed);
  EXPECT_EQ(r.t.link.lastFault, LinkFault::kDamagedReplies);
  EXPECT_TRUE(r.seen.empty());
  EXPECT_TRUE(r.t.sim.takenRecords().empty());
}

TEST(ReadRecords, GeneratedRecordsArriveInOrder) {
  pbxsim::Scenario s = qtr();
  const auto records = pbxsim::generateRecords(s, 25, 7);
  s.units[0].records.assign(records.begin(), records.end());
  Reader r(s);
  EXPECT_EQ(r.t.link.readRecords(), kReadBufferEmpty);
  std::vector<CallRecord> expected;
  int empty = 0;
  for (const auto& rec : records) {
    ReplyBuffer reply{};
    std::copy(rec.bytes.begin(), rec.bytes.end(), reply.begin());
    if (!isAcceptable(reply.data())) {
      ++empty;
      continue;
    }
    expected.push_back(
        decodeRecord(reply.data(), static_cast<int>(rec.bytes.size()), r.t.link.decodeContext()));
  }
  EXPECT_EQ(r.seen, expected);
  EXPECT_EQ(r.t.link.rejectedCount, empty);
}

TEST(ReadRecords, EmptySinglePbx) {
  Reader r(qtr());
  const std::uint64_t start = tickCount();
  EXPECT_EQ(r.t.link.readRecords(), kReadBufferEmpty);
  const std::uint64_t took = elapsedMs(start);
  EXPECT_GE(took, 1400u);  // fifteen tries, each followed by 100 ms
  EXPECT_LE(took, 5000u);
  EXPECT_TRUE(r.seen.empty());
  EXPECT_EQ(r.t.sim.counters().firstRecordRequests, 15);
  EXPECT_EQ(r.t.sim.counters().nextRecordRequests, 0);
}

TEST(ReadRecords, ComplexWithAnEmptyMiddleUnit) {
  pbxsim::Scenario s = complexOfThree();
  s.units[0].records = {call(1, "11"), call(2, "22")};
  s.units[2].records = {call(3, "33")};
  Reader r(s);
  EXPECT_EQ(r.t.link.readRecords(), kOk);
  ASSERT_EQ(r.seen.size(), 3u);
  EXPECT_EQ(r.seen[0].hardwareNumber, 1);
  EXPECT_EQ(r.seen[1].hardwareNumber, 2);
  EXPECT_EQ(r.seen[2].hardwareNumber, 3);
  EXPECT_EQ(r.seen[2].trunk, "(2)03");  // a complex shows the module and the trunk
  EXPECT_EQ(r.t.sim.takenRecords(0).size(), 2u);
  EXPECT_EQ(r.t.sim.takenRecords(2).size(), 1u);
  EXPECT_EQ(r.t.sim.selectedUnit(), 2);
  // Units 0 and 2 end on an empty next-record reply and fourteen empty first-record tries
  // (after an empty reply the reader asks with the request that takes nothing), unit 1 on
  // fifteen empty first tries.
  EXPECT_EQ(r.t.sim.counters().firstRecordRequests, (1 + 14) + 15 + (1 + 14));
  EXPECT_EQ(r.t.sim.counters().nextRecordRequests, 2 + 1);
}

TEST(ReadRecords, EmptySlotsAreCountedNotDelivered) {
  pbxsim::Scenario s = qtr();
  s.units[0].records = {call(1, "1"), pbxsim::Record::emptySlot(), call(2, "2"),
                        pbxsim::Record::emptySlot()};
  Reader r(s);
  r.t.link.rejectedCount = 0;
  EXPECT_EQ(r.t.link.readRecords(), kReadBufferEmpty);
  ASSERT_EQ(r.seen.size(), 2u);
  EXPECT_EQ(r.seen[0].hardwareNumber, 1);
  EXPECT_EQ(r.seen[1].hardwareNumber, 2);
  EXPECT_EQ(r.t.link.rejectedCount, 2);
  EXPECT_TRUE(r.t.sim.pendingRecords(0).empty());
}

TEST(ReadRecords, AStopWhileDeliveringEndsAfterTakingThatRecord) {
  pbxsim::Scenario s = qtr();
  s.units[0].records = {call(1, "1"), call(2, "2"), call(3, "3")};
  Reader r(s);
  r.t.link.recordHandler = [&r](const CallRecord& rec) {
    r.seen.push_back(rec);
    r.t.link.stopRequested = true;
  };
  EXPECT_EQ(r.t.link.readRecords(), kReadStopped);
  ASSERT_EQ(r.seen.size(), 1u);
  EXPECT_EQ(r.seen[0].hardwareNumber, 1);
  // A clean stop finishes the record in hand: it is taken, the next one is not handed over
  // and stays in the PBX.
  EXPECT_EQ(r.t.sim.counters().nextRecordRequests, 1);
  EXPECT_EQ(r.t.sim.takenRecords().size(), 1u);
  EXPECT_EQ(r.t.sim.pendingRecords(0).size(), 2u);
  r.t.link.stopRequested = false;
  r.t.link.recordHandler = [&r](const CallRecord& rec) { r.seen.push_back(rec); };
  EXPECT_EQ(r.t.link.readRecords(), kReadBufferEmpty);
  ASSERT_EQ(r.seen.size(), 3u);
  EXPECT_EQ(r.seen[1].hardwareNumber, 2);
}

TEST(ReadRecords, StopIsSeenOnlyBetweenRecords) {
  pbxsim::Scenario s = qtr();
  s.units[0].records = {call(1, "1"), call(2, "2")};
  Reader r(s);
  r.t.link.stopRequested = true;  // already set: the first record is still delivered
  EXPECT_EQ(r.t.link.readRecords(), kReadStopped);
  EXPECT_EQ(r.seen.size(), 1u);
}

TEST(ReadRecords, ClosedPortIsAPortError) {
  Reader r(qtr());
  r.t.link.port->close();
  EXPECT_EQ(r.t.link.readRecords(), kReadPortError);
}

TEST(ReadRecords, HungUpPbxEndsInBoundedTime) {
  pbxsim::Scenario s = qtr();
  for (int i = 0; i < 10; ++i) s.units[0].records.push_back(call(i, "5"));
  Reader r(s);
  pbxsim::Faults f;
  // Identification and status were requests 1 to 3; the line goes dead after the selection
  // and two record requests of the read.
  f.hangupAfter = static_cast<int>(r.t.sim.counters().requests) + 3;
  r.t.sim.setFaults(f);
  const std::uint64_t start = tickCount();
  int result = 0;
  try {
    result = r.t.link.readRecords();
  } catch (const ECommError& e) {
    result = -100 - e.code;  // a port error after the first handshake leaves as ECommError
  }
  EXPECT_LT(result, 0);
  EXPECT_LT(elapsedMs(start), 5000u);
  EXPECT_GE(r.seen.size(), 1u);
  EXPECT_LE(r.seen.size(), 2u);
}

}  // namespace
}  // namespace kordel
