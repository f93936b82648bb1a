// pbxsim: runs a simulated ORVANEX PBX on a pseudo-terminal until SIGINT or SIGTERM.
// The first line on stdout is the device path to open as the serial port.
#include <signal.h>

#include <cstdio>
#include <iostream>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <tuple>

#include "app/args/option_parser.h"
#include "pbxsim.h"

namespace {

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

}  // namespace

int main(int argc, char** argv) {
  kordel::args::OptionParser app{
      "pbxsim [OPTIONS]",
      "pbxsim - a simulated ORVANEX PBX on a pseudo-terminal.\n"
      "Prints the serial device path on the first line of stdout and answers the handshake,\n"
      "identification, unit selection, buffer status, first/next record and line state\n"
      "requests until SIGINT or SIGTERM. Record files hold one record per line as hex bytes\n"
      "(\"1F 2A 00 ...\"), optionally prefixed with \"@1 \" or \"@2 \" for units 1 and 2."};

  pbxsim::Scenario sc;
  pbxsim::Faults& f = sc.faults;
  int units = 1, capacity = 100, records = 0, counterBase = 0;
  std::vector<int> fixedCounters;
  std::string recordFile, writeRecords, clockText, lineGroups, linePayload, lineWire;
  std::string lineMode = "live", byteFaultKind = "none";
  int key = sc.maskKey, versionLead = sc.versionLead, versionNibbles = sc.versionNibbles;
  int serial = sc.serial;

  app.integer("--model", sc.modelCode,
              "model code sent at identification: 2 = name in --model-name, 3 = C, 4 = QTR160, "
              "5 = DL256, 6 = QTR400-1, 7 = DL40, 8 = DL72 (others are sent as given; "
              "default 4)",
              0, 255);
  app.text("--model-name", sc.modelName,
           "model name text for code 2, up to 7 bytes (e.g. 2xB, 3xB, DL256xx)");
  app.integer("--key", key, "masking key byte, 0x.. accepted (default 0x5A)", 0, 255);
  app.integer("--time-step", sc.timeStepByte,
              "identification byte 13: seconds per PBX time unit (0, the default, means 6)", 0,
              255);
  app.integer("--serial", serial, "serial number (default 12345)", 0, 65535);
  app.integer("--version-lead", versionLead,
              "software version leading number, byte 7 (default 3)", 0, 255);
  app.integer("--version-nibbles", versionNibbles,
              "software version nibbles, byte 6, e.g. 0x25 for x2,5 (the default)", 0, 255);
  app.text("--clock", clockText,
           "PBX clock at start, \"YYYY-MM-DD HH:MM:SS\" (default: local time); it runs");
  app.integer("--units", units, "number of units, 3 for a complex \"3xB\" (default 1)", 1, 3);
  app.integer("--capacity", capacity, "buffer capacity of each unit (default 100)", 0, 65535);
  app.integer("--records", records, "random records generated into each unit at start", 0,
              1000000);
  app.integer("--seed", sc.seed, "seed for records, live traffic and fault draws (default 1)");
  app.text("--record-file", recordFile, "load records from this file (after the generated ones)");
  app.text("--write-records", writeRecords,
           "write the buffer contents at start to this record file");
  app.integer("--counter-base", counterBase,
              "status counter B before any record is taken (default 0)", 0, 65535);
  app.integers("--counters", fixedCounters, 2,
               "fixed status counters A B for every unit (A - B = records left)", 0, 65535);
  app.number("--calls-per-minute", sc.callsPerMinute,
             "live calls that end as new records while running (0, the default, = none)", 0,
             1e6);
  app.flag("--line-speed", sc.lineSpeed,
           "emulate 19200 baud 8N2: about 573 us per byte in both directions");
  app.integer("--unit-ack-delay-ms", sc.unitAckDelayMs,
              "least pause before acknowledging a unit selection (default 8)", 0, 60000);
  app.choice("--line-state", lineMode, {"live", "groups", "payload", "wire"},
             "line state replies: live (random connections, the default), groups, payload, "
             "wire");
  app.text("--line-groups", lineGroups,
           "groups for --line-state groups: \"44:5:2,46:3:1;44:17:0\" (kind in hex, index and "
           "state in decimal; ';' between groups)");
  app.text("--line-payload", linePayload, "unmasked data for --line-state payload, hex bytes");
  app.text("--line-wire", lineWire, "exact wire bytes for --line-state wire, hex bytes");
  app.text("--link", sc.linkPath, "keep a symlink at this path pointing to the current device");
  app.text("--taken", sc.takenLogPath,
           "append each taken record to this file as a record line, flushed (- = stdout)");

  // Faults: misbehaviour on request.
  app.number("--first-checksum", f.firstRecordChecksum,
             "fault: probability of a wrong checksum on a first-record reply", 0, 1);
  app.number("--next-checksum", f.nextRecordChecksum,
             "fault: probability of a wrong checksum on a next-record reply", 0, 1);
  app.number("--status-checksum", f.statusChecksum,
             "fault: probability of a wrong checksum on a buffer status reply", 0, 1);
  app.number("--line-state-checksum", f.lineStateChecksum,
             "fault: probability of a wrong checksum on a line state reply", 0, 1);
  app.flag("--resend-after-bad-checksum", f.resendAfterBadChecksum,
           "fault: after a wrong checksum, send the data and a right checksum again");
  app.number("--drop-echo", f.dropEcho, "fault: probability of not echoing a probe", 0, 1);
  app.number("--drop-reply", f.dropReply, "fault: probability of not answering a request", 0, 1);
  app.number("--garbage", f.garbageBefore,
             "fault: probability of 1..4 random bytes before a reply", 0, 1);
  app.number("--truncate", f.truncateReply,
             "fault: probability of a reply stopping half-way", 0, 1);
  app.integer("--silent-after", f.silentAfter,
              "fault: answer nothing after this many requests (probes not counted)", -1,
              std::numeric_limits<int>::max());
  app.integer("--slow-reply-ms", f.slowReplyMs, "fault: pause before every reply and echo", 0,
              600000);
  app.integer("--hangup-after", f.hangupAfter,
              "fault: close the pseudo-terminal after this many requests", -1,
              std::numeric_limits<int>::max());
  app.integer("--come-back-after-ms", f.comeBackAfterMs,
              "fault: after that hang-up, open a new pseudo-terminal after this pause (use "
              "--link to keep the path)",
              -1, 600000);
  app.flag("--burst16ms", f.burst16ms, "fault: release output on 16 ms ticks");
  app.integer("--byte-delay-us", f.byteDelayUs, "fault: extra pause per output byte", 0,
              10000000);
  app.choice("--byte-fault", byteFaultKind, {"none", "drop", "flip", "wrong", "delay"},
             "fault at one output byte (default none)");
  app.integer("--byte-fault-segment", f.byteFault.segment,
              "segment = number of record replies sent before (-1 = every)", -1,
              std::numeric_limits<int>::max());
  app.integer("--byte-fault-position", f.byteFault.position,
              "byte index in the segment (segments restart after each record reply and unit "
              "selection acknowledgement; handshake echoes count)",
              0, std::numeric_limits<int>::max());
  app.flag("--byte-fault-persistent", f.byteFault.persistent,
           "hit the byte in every segment from --byte-fault-segment on");
  app.integer("--byte-fault-value", f.byteFault.value,
              "byte sent by the wrong fault (default 0x55)");
  app.integer("--byte-fault-mask", f.byteFault.flipMask,
              "XOR mask of the flip fault (default 0x01)");
  app.integer("--byte-fault-delay-ms", f.byteFault.delayMs,
              "pause of the delay fault (default 700)", 0, 600000);

  // Faults on what the PBX receives, before it takes the byte.
  std::string inReplace, inInsert, inFault;
  app.number("--in-drop", f.inputDrop, "input fault: probability of losing a received byte", 0, 1);
  app.text("--in-replace", inReplace,
           "input fault: P[:VALUE], probability of taking a received byte as VALUE (default "
           "a random other byte)");
  app.text("--in-insert", inInsert,
           "input fault: P[:VALUE], probability of taking VALUE (default a random byte) "
           "before a received byte");
  app.integer("--in-only", f.inputOnly,
              "input fault: --in-drop, --in-replace and --in-insert strike only received "
              "bytes of this value (e.g. 0x00 the probe, 0x03 the next-record request)",
              0, 255);
  app.text("--in-fault", inFault,
           "input fault at one received byte: drop|replace|insert:MATCH:N[:VALUE][:persist], "
           "the N-th received byte equal to MATCH (a byte or any) is lost, taken as VALUE, or "
           "taken after VALUE (default a random byte); persist: the N-th and every later one");

  switch (app.parse(std::vector<std::string>(argv + 1, argv + argc))) {
    case kordel::args::ParseStatus::Ok:
      break;
    case kordel::args::ParseStatus::Help:
      std::cout << app.help();
      return 0;
    case kordel::args::ParseStatus::Error:
      std::cerr << "pbxsim: " << app.error() << "\nRun with --help for more information.\n";
      return 2;
  }

  // The input faults written as text; a bad one is a wrong command line.
  std::string badOption;
  try {
    badOption = "--in-replace";
    if (!inReplace.empty())
      std::tie(f.inputReplace, f.inputReplaceValue) = pbxsim::parseChanceAndByte(inReplace);
    badOption = "--in-insert";
    if (!inInsert.empty())
      std::tie(f.inputInsert, f.inputInsertValue) = pbxsim::parseChanceAndByte(inInsert);
    badOption = "--in-fault";
    if (!inFault.empty()) f.inputFault = pbxsim::parseInputFault(inFault);
  } catch (const std::invalid_argument& e) {
    std::cerr << "pbxsim: " << badOption << ": " << e.what()
              << "\nRun with --help for more information.\n";
    return 2;
  }
  sc.maskKey = static_cast<std::uint8_t>(key);
  sc.serial = static_cast<std::uint16_t>(serial);
  sc.versionLead = static_cast<std::uint8_t>(versionLead);
  sc.versionNibbles = static_cast<std::uint8_t>(versionNibbles);
  if (sc.takenLogPath == "-") sc.takenLogPath = "/dev/stdout";
  using K = pbxsim::ByteFault::Kind;
  f.byteFault.kind = byteFaultKind == "drop"    ? K::Drop
                     : byteFaultKind == "flip"  ? K::FlipBit
                     : byteFaultKind == "wrong" ? K::WrongByte
                     : byteFaultKind == "delay" ? K::Delay
                                                : K::None;
  try {
    if (!clockText.empty()) {
      int y, mo, d, h, mi, s;
      if (std::sscanf(clockText.c_str(), "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s) != 6 ||
          y < 1980)
        throw std::runtime_error("bad --clock: " + clockText);
      sc.clockDay = pbxsim::dayNumber(y, mo, d);
      sc.clockSecond = h * 3600 + mi * 60 + s;
    }
    sc.units.assign(static_cast<std::size_t>(units), pbxsim::Unit{});
    for (int u = 0; u < units; ++u) {
      auto& unit = sc.units[static_cast<std::size_t>(u)];
      unit.capacity = capacity;
      unit.counterBase = counterBase;
      if (fixedCounters.size() == 2)
        unit.fixedCounters = {static_cast<std::uint16_t>(fixedCounters[0]),
                              static_cast<std::uint16_t>(fixedCounters[1])};
      for (auto& r : pbxsim::generateRecords(sc, records, sc.seed + static_cast<unsigned>(u)))
        unit.records.push_back(std::move(r));
    }
    if (!recordFile.empty()) {
      for (auto& ur : pbxsim::loadRecordFile(recordFile)) {
        if (ur.unit >= units)
          throw std::runtime_error("record file names unit " + std::to_string(ur.unit));
        sc.units[static_cast<std::size_t>(ur.unit)].records.push_back(std::move(ur.record));
      }
    }
    if (!writeRecords.empty()) {
      std::vector<pbxsim::UnitRecord> all;
      for (int u = 0; u < units; ++u)
        for (const auto& r : sc.units[static_cast<std::size_t>(u)].records) all.push_back({u, r});
      pbxsim::writeRecordFile(writeRecords, all);
    }
    if (lineMode == "groups") {
      sc.lineStateMode = pbxsim::LineStateMode::Scripted;
      sc.lineGroups = parseGroups(lineGroups);
    } else if (lineMode == "payload") {
      sc.lineStateMode = pbxsim::LineStateMode::Payload;
      sc.lineStateBytes = parseHexBytes(linePayload);
    } else if (lineMode == "wire") {
      sc.lineStateMode = pbxsim::LineStateMode::Wire;
      sc.lineStateBytes = parseHexBytes(lineWire);
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
