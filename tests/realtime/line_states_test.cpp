// The line-state walk over hand-made replies, and queryLineStates against the simulator.
#include "realtime/line_states.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include "files/text_codec.h"
#include "link/pbx_link.h"
#include "pbxsim.h"
#include "support/temp_dir.h"

namespace kordel {
namespace {

constexpr int kWholeReply = -100;  // the reply length is the number of bytes given

struct WalkCase {
  const char* name;
  std::string model;
  std::vector<std::uint8_t> bytes;
  int replyLength;                 // kWholeReply: bytes.size()
  std::vector<std::string> lines;  // UTF-8
};

// Test names show the case, not the bytes of the parameter.
void PrintTo(const WalkCase& c, std::ostream* os) { *os << c.name; }

std::vector<std::string> walk(const std::string& model, const std::vector<std::uint8_t>& bytes,
                              int replyLength) {
  ReplyBuffer reply{};
  for (std::size_t i = 0; i < bytes.size() && i < reply.size(); ++i) reply[i] = bytes[i];
  std::array<std::string, kMaxStateLines> slots;
  slots.fill("stale");
  const unsigned count = walkLineStates(reply, replyLength, model, slots);
  EXPECT_LE(count, static_cast<unsigned>(kMaxStateLines));
  std::vector<std::string> lines;
  for (unsigned i = 0; i < count; ++i) lines.push_back(cp1251ToUtf8(slots[i]));
  return lines;
}

class WalkTest : public testing::TestWithParam<WalkCase> {};

TEST_P(WalkTest, RendersOneLinePerGroup) {
  const WalkCase& c = GetParam();
  const int length =
      c.replyLength == kWholeReply ? static_cast<int>(c.bytes.size()) : c.replyLength;
  EXPECT_EQ(walk(c.model, c.bytes, length), c.lines);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, WalkTest,
    testing::Values(
        WalkCase{"EmptyReply", "QTR160", {}, 0, {}},
        WalkCase{"NoLengthByte", "QTR160", {}, -1, {""}},
        WalkCase{"OneLine", "QTR160", {1, 0x44, 5, 2}, kWholeReply, {"АЛ205(2)   "}},
        WalkCase{"TwoEntriesOneGroup",
                 "QTR160",
                 {2, 0x46, 3, 1, 0x44, 17, 0},
                 kWholeReply,
                 {"СЛ206(1)   АЛ217(0)   "}},
        WalkCase{"TwoGroups",
                 "QTR400-1",
                 {1, 0x47, 2, 3, 2, 0x45, 9, 255, 0x44, 0, 1},
                 kWholeReply,
                 {"ГГС202(3)   ", "Дф209(255)   АЛ200(1)   "}},
        WalkCase{
            "UnknownKindNumberedAsLine", "QTR160", {1, 0x50, 7, 9}, kWholeReply, {"???207(9)   "}},
        WalkCase{"CountLargerThanData",
                 "QTR160",
                 {2, 0x44, 5, 2},
                 kWholeReply,
                 {"АЛ205(2)   ???200(0)   "}},
        WalkCase{"FirstCountZero", "QTR160", {0}, kWholeReply, {""}},
        WalkCase{"FirstGroupEmptyThenAGroup",
                 "QTR160",
                 {0, 1, 0x44, 1, 1},
                 kWholeReply,
                 {"", "АЛ201(1)   "}},
        WalkCase{"LaterZeroCountEndsWalk",
                 "QTR160",
                 {1, 0x44, 1, 1, 0, 1, 0x44, 2, 2},
                 kWholeReply,
                 {"АЛ201(1)   "}},
        WalkCase{"BytesBeyondLengthReadAsZero",
                 "QTR160",
                 {1, 0x44, 5, 2, 1, 0x44, 6, 3},
                 4,
                 {"АЛ205(2)   "}},
        WalkCase{"Dl40Numbers",
                 "DL40",
                 {2, 0x44, 9, 1, 0x46, 3, 2},
                 kWholeReply,
                 {"АЛ211(1)   СЛ212(2)   "}},
        WalkCase{"Dl72Numbers", "DL72", {1, 0x44, 17, 0}, kWholeReply, {"АЛ221(0)   "}},
        WalkCase{"Dl256NumbersAndNoTrunk",
                 "DL256",
                 {3, 0x44, 0, 0, 0x46, 0x45, 1, 0x46, 0x40, 2},
                 kWholeReply,
                 {"АЛ1(0)   СЛ5(1)   СЛ-1(2)   "}},
        WalkCase{"UnknownFamily", "C", {1, 0x44, 3, 4}, kWholeReply, {"АЛ-1(4)   "}}),
    [](const testing::TestParamInfo<WalkCase>& info) { return std::string(info.param.name); });

TEST(WalkLimits, StopsAfterSixtyGroups) {
  std::vector<std::uint8_t> bytes;
  for (int g = 0; g < 61; ++g) {
    bytes.insert(bytes.end(), {1, 0x44, static_cast<std::uint8_t>(g), 0});
  }
  ASSERT_LE(bytes.size(), static_cast<std::size_t>(kReplySize));
  const auto lines = walk("QTR160", bytes, static_cast<int>(bytes.size()));
  ASSERT_EQ(lines.size(), 60u);
  EXPECT_EQ(lines.front(), "АЛ200(0)   ");
  EXPECT_EQ(lines.back(), "АЛ259(0)   ");
}

TEST(WalkLimits, EntryCrossingBufferEndIsNotRendered) {
  // Group 0 holds 83 entries (bytes 0..249); group 1 starts at 250 with two entries: the first
  // fills bytes 251..253, the second would need 254..256.
  std::vector<std::uint8_t> bytes(kReplySize, 0);
  bytes[0] = 83;
  for (int k = 0; k < 83; ++k) {
    bytes[1 + 3 * k] = 0x44;
    bytes[2 + 3 * k] = 1;
    bytes[3 + 3 * k] = 0;
  }
  bytes[250] = 2;
  bytes[251] = 0x46;
  bytes[252] = 4;
  bytes[253] = 7;
  bytes[254] = 0x44;
  const auto lines = walk("QTR160", bytes, kReplySize);
  ASSERT_EQ(lines.size(), 2u);
  std::string first;
  for (int k = 0; k < 83; ++k) first += "АЛ201(0)   ";
  EXPECT_EQ(lines[0], first);
  EXPECT_EQ(lines[1], "СЛ208(7)   ");
}

TEST(WalkLimits, GroupCountInLastByteGivesEmptyLine) {
  std::vector<std::uint8_t> bytes(kReplySize, 0);
  bytes[0] = 84;  // 84 entries fill bytes 1..252
  for (int k = 0; k < 84; ++k) bytes[1 + 3 * k] = 0x47;
  bytes[253] = 1;  // the next group: one entry at 254 would need bytes 254..256
  const auto lines = walk("QTR160", bytes, kReplySize);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], "");
}

// --- against the simulator ---

class LineStateQueryTest : public testing::Test {
 protected:
  void SetUp() override {
    pbxsim::Scenario scenario;
    scenario.modelCode = 4;  // QTR160
    scenario.maskKey = 0x5A;
    scenario.lineStateMode = pbxsim::LineStateMode::Scripted;
    sim_ = std::make_unique<pbxsim::Simulator>(scenario);
    const std::string device = sim_->start();
    link_ = std::make_unique<PbxLink>(dir_.str());
    ASSERT_EQ(link_->openPort(device), kOk);
    ASSERT_EQ(link_->queryStatus(), kOk);
    ASSERT_EQ(link_->model, "QTR160");
  }

  std::vector<std::string> snapshot() const {
    std::vector<std::string> lines;
    for (unsigned i = 0; i < link_->stateLineCount; ++i) {
      lines.push_back(cp1251ToUtf8(link_->stateLines[i]));
    }
    return lines;
  }

  test::TempDir dir_;
  std::unique_ptr<pbxsim::Simulator> sim_;
  std::unique_ptr<PbxLink> link_;
};

TEST_F(LineStateQueryTest, DecodesMaskedReply) {
  sim_->setLineStateGroups({{{0x44, 5, 2}}, {{0x46, 3, 1}, {0x44, 17, 0}}});
  const long before = sim_->counters().lineStateRequests;
  EXPECT_EQ(link_->queryLineStates(), kOk);
  // The simulator counts only requests whose masked data byte carried a valid checksum.
  EXPECT_EQ(sim_->counters().lineStateRequests, before + 1);
  EXPECT_EQ(snapshot(), (std::vector<std::string>{"АЛ205(2)   ", "СЛ206(1)   АЛ217(0)   "}));
}

TEST_F(LineStateQueryTest, EmptyReplyGivesEmptySnapshot) {
  sim_->setLineStateGroups({{{0x44, 5, 2}}});
  ASSERT_EQ(link_->queryLineStates(), kOk);
  ASSERT_EQ(link_->stateLineCount, 1u);
  sim_->setLineStatePayload({});
  EXPECT_EQ(link_->queryLineStates(), kOk);
  EXPECT_EQ(link_->stateLineCount, 0u);
}

TEST_F(LineStateQueryTest, FailedExchangeKeepsPreviousSnapshot) {
  sim_->setLineStateGroups({{{0x44, 5, 2}}});
  ASSERT_EQ(link_->queryLineStates(), kOk);
  const auto good = snapshot();
  ASSERT_EQ(good, std::vector<std::string>{"АЛ205(2)   "});

  // The handshakes are still echoed, but the line-state request goes unanswered.
  sim_->setLineStateGroups({{{0x44, 9, 9}}});
  pbxsim::Faults faults;
  faults.dropReply = 1.0;
  sim_->setFaults(faults);
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(link_->queryLineStates(), kOk);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  EXPECT_EQ(snapshot(), good);

  sim_->setFaults(pbxsim::Faults{});
  EXPECT_EQ(link_->queryLineStates(), kOk);
  EXPECT_EQ(snapshot(), std::vector<std::string>{"АЛ209(9)   "});
}

TEST_F(LineStateQueryTest, PortErrorLeavesSnapshot) {
  sim_->setLineStateGroups({{{0x44, 5, 2}}});
  ASSERT_EQ(link_->queryLineStates(), kOk);
  link_->port->close();
  EXPECT_EQ(link_->queryLineStates(), kLineStatePortError);
  EXPECT_EQ(snapshot(), std::vector<std::string>{"АЛ205(2)   "});
}

TEST_F(LineStateQueryTest, SilentPbxFailsHandshakeAndLeavesSnapshot) {
  sim_->setLineStateGroups({{{0x44, 5, 2}}});
  ASSERT_EQ(link_->queryLineStates(), kOk);
  pbxsim::Faults faults;
  faults.dropEcho = 1.0;
  sim_->setFaults(faults);
  const long before = sim_->counters().lineStateRequests;
  EXPECT_EQ(link_->queryLineStates(), kNoHandshake);
  EXPECT_EQ(sim_->counters().lineStateRequests, before);
  EXPECT_EQ(snapshot(), std::vector<std::string>{"АЛ205(2)   "});
}

}  // namespace
}  // namespace kordel
