// pbxsim: runs a simulated ORVANEX PBX on a pseudo-terminal until SIGINT or SIGTERM.
// The first line on stdout is the device path to open as the serial port.
#include <signal.h>

#include <cstdio>
#include <functional>
#include <iostream>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <tuple>

#include "app/options/cli_options.h"
#include "pbxsim.h"

namespace {

namespace opt = kordel::options;

std::vector<std::uint8_t> parseHexBytes(const std::string& text) {
  if (text.empty()) return {};
  auto r = pbxsim::Record::fromHex(text);
  if (!r) throw std::runtime_error("bad hex byte list: " + text);
  return r->bytes;
}

// "44:5:2,46:3:1;44:17:0" -> groups separated by ';', entries by ',', kind:index:state in hex
// for the kind and decimal for index and state.
std::vector<pbxsim::LineGroup> parseGroups(const std::string& text) {
  std::vector<pbxsim::LineGroup> groups;
  std::stringstream gs(text);
  std::string g;
  while (std::getline(gs, g, ';')) {
    pbxsim::LineGroup group;
    std::stringstream es(g);
    std::string e;
    while (std::getline(es, e, ',')) {
      if (e.empty()) continue;
      unsigned kind = 0, index = 0, state = 0;
      if (std::sscanf(e.c_str(), "%x:%u:%u", &kind, &index, &state) != 3 || kind > 255 ||
          index > 255 || state > 255)
        throw std::runtime_error("bad --line-groups entry: " + e);
      group.push_back({static_cast<std::uint8_t>(kind), static_cast<std::uint8_t>(index),
                       static_cast<std::uint8_t>(state)});
    }
    groups.push_back(std::move(group));
  }
  return groups;
}

// What the options set besides the scenario itself.
struct Values {
  int units = 1, capacity = 100, records = 0, counterBase = 0;
  std::vector<int> fixedCounters;
  std::string recordFile, writeRecords, clockText, lineGroups, linePayload, lineWire;
  std::string lineMode = "live", byteFaultKind = "none";
  int key = 0, versionLead = 0, versionNibbles = 0, serial = 0;
};

// A text option that `apply` turns into the scenario; a text it refuses with
// std::invalid_argument is a wrong command line.
void textOption(CLI::App& app, const std::string& name,
                std::function<void(const std::string&)> apply, const std::string& help) {
  app.add_option_function<std::string>(name, apply, help)
      ->check(CLI::Validator(
          [apply](std::string& text) -> std::string {
            try {
              apply(text);
            } catch (const std::invalid_argument& e) {
              return e.what();
            }
            return {};
          },
          ""));
}

void declareOptions(CLI::App& app, pbxsim::Scenario& sc, Values& v) {
  pbxsim::Faults& f = sc.faults;
  opt::integer(app, "--model", sc.modelCode,
               "model code sent at identification: 2 = name in --model-name, 3 = C, 4 = QTR160, "
               "5 = DL256, 6 = QTR400-1, 7 = DL40, 8 = DL72 (others are sent as given; "
               "default 4)",
               0, 255);
  app.add_option("--model-name", sc.modelName,
                 "model name text for code 2, up to 7 bytes (e.g. 2xB, 3xB, DL256xx)");
  opt::integer(app, "--key", v.key, "masking key byte, 0x.. accepted (default 0x5A)", 0, 255);
  opt::integer(app, "--time-step", sc.timeStepByte,
               "identification byte 13: seconds per PBX time unit (0, the default, means 6)", 0,
               255);
  opt::integer(app, "--serial", v.serial, "serial number (default 12345)", 0, 65535);
  opt::integer(app, "--version-lead", v.versionLead,
               "software version leading number, byte 7 (default 3)", 0, 255);
  opt::integer(app, "--version-nibbles", v.versionNibbles,
               "software version nibbles, byte 6, e.g. 0x25 for x2,5 (the default)", 0, 255);
  app.add_option("--clock", v.clockText,
                 "PBX clock at start, \"YYYY-MM-DD HH:MM:SS\" (default: local time); it runs");
  opt::integer(app, "--units", v.units, "number of units, 3 for a complex \"3xB\" (default 1)", 1,
               3);
  opt::integer(app, "--capacity", v.capacity, "buffer capacity of each unit (default 100)", 0,
               65535);
  opt::integer(app, "--records", v.records, "random records generated into each unit at start", 0,
               1000000);
  opt::integer(app, "--seed", sc.seed,
               "seed for records, live traffic and fault draws (default 1)");
  app.add_option("--record-file", v.recordFile,
                 "load records from this file (after the generated ones)");
  app.add_option("--write-records", v.writeRecords,
                 "write the buffer contents at start to this record file");
  opt::integer(app, "--counter-base", v.counterBase,
               "status counter B before any record is taken (default 0)", 0, 65535);
  opt::integers(app, "--counters", v.fixedCounters, 2,
                "fixed status counters A B for every unit (A - B = records left)", 0, 65535);
  opt::decimal(app, "--calls-per-minute", sc.callsPerMinute,
               "live calls that end as new records while running (0, the default, = none)", 0, 1e6);
  app.add_flag("--line-speed", sc.lineSpeed,
               "emulate 19200 baud 8N2: about 573 us per byte in both directions");
  opt::integer(app, "--unit-ack-delay-ms", sc.unitAckDelayMs,
               "least pause before acknowledging a unit selection (default 8)", 0, 60000);
  opt::choice(app, "--line-state", v.lineMode, {"live", "groups", "payload", "wire"},
              "line state replies: live (random connections, the default), groups, payload, "
              "wire");
  app.add_option(
      "--line-groups", v.lineGroups,
      "groups for --line-state groups: \"44:5:2,46:3:1;44:17:0\" (kind in hex, index and "
      "state in decimal; ';' between groups)");
  app.add_option("--line-payload", v.linePayload,
                 "unmasked data for --line-state payload, hex bytes");
  app.add_option("--line-wire", v.lineWire, "exact wire bytes for --line-state wire, hex bytes");
  app.add_option("--link", sc.linkPath,
                 "keep a symlink at this path pointing to the current device");
  app.add_option("--taken", sc.takenLogPath,
                 "append each taken record to this file as a record line, flushed (- = stdout)");

  // Faults: misbehaviour on request.
  opt::decimal(app, "--first-checksum", f.firstRecordChecksum,
               "fault: probability of a wrong checksum on a first-record reply", 0, 1);
  opt::decimal(app, "--next-checksum", f.nextRecordChecksum,
               "fault: probability of a wrong checksum on a next-record reply", 0, 1);
  opt::decimal(app, "--status-checksum", f.statusChecksum,
               "fault: probability of a wrong checksum on a buffer status reply", 0, 1);
  opt::decimal(app, "--line-state-checksum", f.lineStateChecksum,
               "fault: probability of a wrong checksum on a line state reply", 0, 1);
  app.add_flag("--resend-after-bad-checksum", f.resendAfterBadChecksum,
               "fault: after a wrong checksum, send the data and a right checksum again");
  opt::decimal(app, "--drop-echo", f.dropEcho, "fault: probability of not echoing a probe", 0, 1);
  opt::decimal(app, "--drop-reply", f.dropReply, "fault: probability of not answering a request", 0,
               1);
  opt::decimal(app, "--garbage", f.garbageBefore,
               "fault: probability of 1..4 random bytes before a reply", 0, 1);
  opt::decimal(app, "--truncate", f.truncateReply,
               "fault: probability of a reply stopping half-way", 0, 1);
  opt::integer(app, "--silent-after", f.silentAfter,
               "fault: answer nothing after this many requests (probes not counted)", -1,
               std::numeric_limits<int>::max());
  opt::integer(app, "--slow-reply-ms", f.slowReplyMs, "fault: pause before every reply and echo", 0,
               600000);
  opt::integer(app, "--hangup-after", f.hangupAfter,
               "fault: close the pseudo-terminal after this many requests", -1,
               std::numeric_limits<int>::max());
  opt::integer(app, "--come-back-after-ms", f.comeBackAfterMs,
               "fault: after that hang-up, open a new pseudo-terminal after this pause (use "
               "--link to keep the path)",
               -1, 600000);
  app.add_flag("--burst16ms", f.burst16ms, "fault: release output on 16 ms ticks");
  opt::integer(app, "--byte-delay-us", f.byteDelayUs, "fault: extra pause per output byte", 0,
               10000000);
  opt::choice(app, "--byte-fault", v.byteFaultKind, {"none", "drop", "flip", "wrong", "delay"},
              "fault at one output byte (default none)");
  opt::integer(app, "--byte-fault-segment", f.byteFault.segment,
               "segment = number of record replies sent before (-1 = every)", -1,
               std::numeric_limits<int>::max());
  opt::integer(app, "--byte-fault-position", f.byteFault.position,
               "byte index in the segment (segments restart after each record reply and unit "
               "selection acknowledgement; handshake echoes count)",
               0, std::numeric_limits<int>::max());
  app.add_flag("--byte-fault-persistent", f.byteFault.persistent,
               "hit the byte in every segment from --byte-fault-segment on");
  opt::integer(app, "--byte-fault-value", f.byteFault.value,
               "byte sent by the wrong fault (default 0x55)");
  opt::integer(app, "--byte-fault-mask", f.byteFault.flipMask,
               "XOR mask of the flip fault (default 0x01)");
  opt::integer(app, "--byte-fault-delay-ms", f.byteFault.delayMs,
               "pause of the delay fault (default 700)", 0, 600000);

  // Faults on what the PBX receives, before it takes the byte.
  opt::decimal(app, "--in-drop", f.inputDrop, "input fault: probability of losing a received byte",
               0, 1);
  textOption(
      app, "--in-replace",
      [&f](const std::string& t) {
        std::tie(f.inputReplace, f.inputReplaceValue) = pbxsim::parseChanceAndByte(t);
      },
      "input fault: P[:VALUE], probability of taking a received byte as VALUE (default "
      "a random other byte)");
  textOption(
      app, "--in-insert",
      [&f](const std::string& t) {
        std::tie(f.inputInsert, f.inputInsertValue) = pbxsim::parseChanceAndByte(t);
      },
      "input fault: P[:VALUE], probability of taking VALUE (default a random byte) "
      "before a received byte");
  opt::integer(app, "--in-only", f.inputOnly,
               "input fault: --in-drop, --in-replace and --in-insert strike only received "
               "bytes of this value (e.g. 0x00 the probe, 0x03 the next-record request)",
               0, 255);
  textOption(
      app, "--in-fault", [&f](const std::string& t) { f.inputFault = pbxsim::parseInputFault(t); },
      "input fault at one received byte: drop|replace|insert:MATCH:N[:VALUE][:persist], "
      "the N-th received byte equal to MATCH (a byte or any) is lost, taken as VALUE, "
      "or taken after VALUE (default a random byte); persist: the N-th and every later "
      "one");
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "pbxsim - a simulated ORVANEX PBX on a pseudo-terminal.\n"
      "Prints the serial device path on the first line of stdout and answers the handshake,\n"
      "identification, unit selection, buffer status, first/next record and line state\n"
      "requests until SIGINT or SIGTERM. Record files hold one record per line as hex bytes\n"
      "(\"1F 2A 00 ...\"), optionally prefixed with \"@1 \" or \"@2 \" for units 1 and 2.",
      "pbxsim"};
  opt::configure(app);
  pbxsim::Scenario sc;
  pbxsim::Faults& f = sc.faults;
  Values v;
  v.key = sc.maskKey;
  v.versionLead = sc.versionLead;
  v.versionNibbles = sc.versionNibbles;
  v.serial = sc.serial;
  declareOptions(app, sc, v);
  if (const int rc = opt::parse(app, argc, argv); rc >= 0) return rc;

  sc.maskKey = static_cast<std::uint8_t>(v.key);
  sc.serial = static_cast<std::uint16_t>(v.serial);
  sc.versionLead = static_cast<std::uint8_t>(v.versionLead);
  sc.versionNibbles = static_cast<std::uint8_t>(v.versionNibbles);
  if (sc.takenLogPath == "-") sc.takenLogPath = "/dev/stdout";
  using K = pbxsim::ByteFault::Kind;
  f.byteFault.kind = v.byteFaultKind == "drop"    ? K::Drop
                     : v.byteFaultKind == "flip"  ? K::FlipBit
                     : v.byteFaultKind == "wrong" ? K::WrongByte
                     : v.byteFaultKind == "delay" ? K::Delay
                                                  : K::None;
  try {
    if (!v.clockText.empty()) {
      int y, mo, d, h, mi, s;
      if (std::sscanf(v.clockText.c_str(), "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s) != 6 ||
          y < 1980)
        throw std::runtime_error("bad --clock: " + v.clockText);
      sc.clockDay = pbxsim::dayNumber(y, mo, d);
      sc.clockSecond = h * 3600 + mi * 60 + s;
    }
    sc.units.assign(static_cast<std::size_t>(v.units), pbxsim::Unit{});
    for (int u = 0; u < v.units; ++u) {
      auto& unit = sc.units[static_cast<std::size_t>(u)];
      unit.capacity = v.capacity;
      unit.counterBase = v.counterBase;
      if (v.fixedCounters.size() == 2)
        unit.fixedCounters = {static_cast<std::uint16_t>(v.fixedCounters[0]),
                              static_cast<std::uint16_t>(v.fixedCounters[1])};
      for (auto& r : pbxsim::generateRecords(sc, v.records, sc.seed + static_cast<unsigned>(u)))
        unit.records.push_back(std::move(r));
    }
    if (!v.recordFile.empty()) {
      for (auto& ur : pbxsim::loadRecordFile(v.recordFile)) {
        if (ur.unit >= v.units)
          throw std::runtime_error("record file names unit " + std::to_string(ur.unit));
        sc.units[static_cast<std::size_t>(ur.unit)].records.push_back(std::move(ur.record));
      }
    }
    if (!v.writeRecords.empty()) {
      std::vector<pbxsim::UnitRecord> all;
      for (int u = 0; u < v.units; ++u)
        for (const auto& r : sc.units[static_cast<std::size_t>(u)].records) all.push_back({u, r});
      pbxsim::writeRecordFile(v.writeRecords, all);
    }
    if (v.lineMode == "groups") {
      sc.lineStateMode = pbxsim::LineStateMode::Scripted;
      sc.lineGroups = parseGroups(v.lineGroups);
    } else if (v.lineMode == "payload") {
      sc.lineStateMode = pbxsim::LineStateMode::Payload;
      sc.lineStateBytes = parseHexBytes(v.linePayload);
    } else if (v.lineMode == "wire") {
      sc.lineStateMode = pbxsim::LineStateMode::Wire;
      sc.lineStateBytes = parseHexBytes(v.lineWire);
    }

    // Signals are taken with sigwait on this thread; block them before any thread starts.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);

    pbxsim::Simulator sim(sc);
    std::cout << sim.start() << std::endl;
    int sig = 0;
    sigwait(&set, &sig);
    sim.stop();
  } catch (const std::exception& e) {
    std::cerr << "pbxsim: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
