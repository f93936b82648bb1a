// The Telnet stream of a COM-port-control server, taken apart and put together byte by byte.
#include "link/telnet_stream.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace kordel::telnet {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Received {
  Bytes data;
  Bytes reply;
};

// Feeds `wire` in pieces of `piece` bytes, so that commands are split at every place.
Received feed(TelnetStream& s, const Bytes& wire, std::size_t piece = 1) {
  Received r;
  for (std::size_t i = 0; i < wire.size(); i += piece) {
    s.receive(wire.data() + i, std::min(piece, wire.size() - i), r.data, r.reply);
  }
  return r;
}

TEST(TelnetStream, OutgoingDataAndCommands) {
  Bytes out;
  for (const std::uint8_t b : {0x00, 0xFF, 0x03}) appendData(out, b);
  EXPECT_EQ(out, (Bytes{0x00, 0xFF, 0xFF, 0x03}));
  out.clear();
  appendComPortCommand(out, kSetBaudRate, 19200, 4);
  EXPECT_EQ(out, (Bytes{0xFF, 0xFA, 44, 1, 0x00, 0x00, 0x4B, 0x00, 0xFF, 0xF0}));
  out.clear();
  appendComPortCommand(out, kSetBaudRate, 0x0001FF00, 4);  // a 0xFF in the value is doubled
  EXPECT_EQ(out, (Bytes{0xFF, 0xFA, 44, 1, 0x00, 0x01, 0xFF, 0xFF, 0x00, 0xFF, 0xF0}));
  out.clear();
  TelnetStream s;
  s.start(out);
  EXPECT_EQ(out,
            (Bytes{0xFF, kWill, 44, 0xFF, kWill, 0, 0xFF, kWill, 3, 0xFF, kDo, 0, 0xFF, kDo, 3}));
}

TEST(TelnetStream, DataIsUndoubledAndCommandsTakenOutWhereverTheyAreSplit) {
  const Bytes wire = {0x41, 0xFF, 0xFF, 0x42, 0xFF, 0xF1,        // NOP
                      0xFF, 0xFA, 44,   107,  0x30, 0xFF, 0xF0,  // NOTIFY-MODEMSTATE
                      0xFF, 0xFF, 0xFF, 0xFF, 0x43};
  for (const std::size_t piece : {1u, 2u, 3u, 5u, 100u}) {
    SCOPED_TRACE(piece);
    TelnetStream s;
    Bytes ignored;
    s.start(ignored);
    const Received r = feed(s, wire, piece);
    EXPECT_EQ(r.data, (Bytes{0x41, 0xFF, 0x42, 0xFF, 0xFF, 0x43}));
    EXPECT_TRUE(r.reply.empty());
  }
}

TEST(TelnetStream, NegotiationIsAnsweredOnceAndNeverLoops) {
  struct Case {
    const char* what;
    Bytes wire;
    Bytes reply;
    Agreement comPort;
  };
  const std::vector<Case> cases = {
      // What ser2net 4 sends on a connection: its offers, crossing the client's.
      {"ser2net's greeting",
       {0xFF, kWill, 3,   0xFF, kDo,  3,     0xFF, kWill, 1,   0xFF, kDont,
        1,    0xFF,  kDo, 0,    0xFF, kWill, 0,    0xFF,  kDo, 44},
       {0xFF, kDont, 1},  // ECHO refused; the rest answer the client's own offers
       Agreement::kAgreed},
      {"COM port control refused", {0xFF, kDont, 44}, {}, Agreement::kRefused},
      {"an option the client does not do",
       {0xFF, kDo, 24, 0xFF, kWill, 31},
       {0xFF, kWont, 24, 0xFF, kDont, 31},
       Agreement::kPending},
      {"agreed twice, acknowledged never",
       {0xFF, kDo, 44, 0xFF, kDo, 44, 0xFF, kWill, 0, 0xFF, kWill, 0},
       {},
       Agreement::kAgreed},
      {"turned off after agreeing",
       {0xFF, kWill, 3, 0xFF, kWont, 3, 0xFF, kWont, 3},
       {0xFF, kDont, 3},
       Agreement::kPending},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TelnetStream s;
    Bytes offers;
    s.start(offers);
    const Received r = feed(s, c.wire);
    EXPECT_TRUE(r.data.empty());
    EXPECT_EQ(r.reply, c.reply);
    EXPECT_EQ(s.comPort(), c.comPort);
  }
  // A server that offers first, before the client asked, is answered.
  TelnetStream quiet;
  const Received r = feed(quiet, {0xFF, kDo, 44, 0xFF, kWill, 0});
  EXPECT_EQ(r.reply, (Bytes{0xFF, kWill, 44, 0xFF, kDo, 0}));
  EXPECT_EQ(quiet.comPort(), Agreement::kAgreed);
}

TEST(TelnetStream, ServerAnswersToComPortCommandsAreKept) {
  TelnetStream s;
  Bytes ignored;
  s.start(ignored);
  EXPECT_FALSE(s.reported(kSetBaudRate));
  const Received r = feed(s, {0xFF, 0xFA, 44, 101, 0x00, 0x00, 0x4B, 0x00, 0xFF, 0xF0,  //
                              0xFF, 0xFA, 44, 102, 8,    0xFF, 0xF0,                    //
                              0xFF, 0xFA, 44, 104, 2,    0xFF, 0xF0,                    //
                              0xFF, 0xFA, 44, 101, 0x00, 0x01, 0xFF, 0xFF, 0x00, 0xFF, 0xF0, 0x7E});
  EXPECT_EQ(r.data, Bytes{0x7E});
  EXPECT_EQ(s.reported(kSetBaudRate), 0x0001FF00u);  // the last answer, 0xFF undoubled
  EXPECT_EQ(s.reported(kSetDataSize), 8u);
  EXPECT_EQ(s.reported(kSetStopSize), 2u);
  EXPECT_FALSE(s.reported(kSetParity));
  s.forget(kSetDataSize);
  EXPECT_FALSE(s.reported(kSetDataSize));
  // A subnegotiation cut short, or of another option, reports nothing.
  feed(s, {0xFF, 0xFA, 44, 103, 0xFF, 0xF0, 0xFF, 0xFA, 24, 103, 1, 0xFF, 0xF0});
  EXPECT_FALSE(s.reported(kSetParity));
}

}  // namespace
}  // namespace kordel::telnet
