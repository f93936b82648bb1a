// The simulated PBX: a thread answering on the master side of a pseudo-terminal.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <random>
#include <stdexcept>
#include <thread>

#include "pbxsim.h"

namespace pbxsim {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;
using std::chrono::milliseconds;

// Request bytes, host to PBX.
constexpr std::uint8_t kProbe = 0x00;        // handshake probe; echoed as 0x00
constexpr std::uint8_t kIdentify = 0x01;     // identification request
constexpr std::uint8_t kFirstRecord = 0x02;  // send the oldest record not yet taken
constexpr std::uint8_t kNextRecord = 0x03;   // take the record sent last, send the next
constexpr std::uint8_t kStatusLead = 0x40;   // buffer status: 0x40 0x03
constexpr std::uint8_t kStatusSecond = 0x03;
constexpr std::uint8_t kSelectUnit = 0x84;  // 0x84 0x01 masked-unit checksum
constexpr std::uint8_t kSelectUnitCount = 0x01;
constexpr std::uint8_t kLineState = 0xF0;  // 0xF0 sub count masked-data... checksum
constexpr std::uint8_t kLineStateSub = 0x01;
constexpr std::uint8_t kAck = 0x00;  // unit selection acknowledgement

// 19200 baud, 8 data bits, no parity, 2 stop bits: 11 bit times per byte.
constexpr microseconds kByteTime{573};
// A request that stops half-way is forgotten after this pause.
constexpr milliseconds kPartialTimeout{500};
constexpr std::size_t kIdentificationLength = 23;
constexpr std::size_t kMaxLiveConnections = 30;

enum class ParseState { Idle, SelCount, SelUnit, SelSum, Status, LsSub, LsCount, LsData, LsSum };

struct Connection {
  double start = 0, end = 0;  // seconds since the simulator started
  int line = 0;               // subscriber line index
  int peer = -1;              // second subscriber line of an internal call
  int trunk = -1;             // trunk index of an external call
  std::uint8_t trunkByte = 0;
  std::string dialed;
  bool incoming = false;
  int startDay = 0, startSecond = 0;  // PBX clock at the start
};

int localClockNow(int* secondOfDay) {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  *secondOfDay = tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec;
  return dayNumber(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

}  // namespace

struct Simulator::Impl {
  // Everything below is guarded by mu unless said otherwise.
  mutable std::mutex mu;
  mutable std::condition_variable cv;
  Scenario sc;
  int step = 6;
  std::string model;

  int masterFd = -1;
  int slaveFd = -1;
  std::string slaveName;
  bool running = false;
  bool stopping = false;
  bool hangupRequested = false;
  bool hungUp = false;
  std::optional<Clock::time_point> comeBackAt;
  std::thread thread;

  Clock::time_point started = Clock::now();
  Clock::time_point clockBaseAt = Clock::now();
  long clockBase = 0;  // PBX seconds since 1980 at clockBaseAt

  Counters counters;
  int selected = 0;
  std::vector<bool> pending;  // per unit: the front record was sent and not yet taken
  std::vector<long> takenPerUnit;
  std::vector<UnitRecord> taken;
  std::vector<Record> sent;
  std::FILE* takenLog = nullptr;

  // Live traffic.
  std::mt19937 trafficRng;
  double nextCallAt = 0;
  std::vector<Connection> active;

  // Answering thread only.
  std::mt19937 faultRng;
  ParseState state = ParseState::Idle;
  Clock::time_point lastInput{};
  std::uint8_t selMasked = 0, lsSub = 0, lsCount = 0;
  std::vector<std::uint8_t> lsData;
  Clock::time_point inputWireEnd{};
  Clock::time_point outputFree{};
  long segIndex = 0;
  long segPos = 0;
  bool byteFaultFired = false;
  std::mt19937 inputRng;       // draws of the input faults, apart from the output faults' draws
  long inputMatches = 0;       // bytes matching the targeted input fault since it was set
  bool faultsChanged = false;  // guarded by mu; new faults start unspent

  explicit Impl(Scenario s)
      : sc(std::move(s)),
        trafficRng(sc.seed ^ 0x7A11C0DEu),
        faultRng(sc.seed ^ 0xFA017u),
        inputRng(sc.seed ^ 0x1B7E5u) {
    if (sc.units.empty()) sc.units.push_back(Unit{});
    if (sc.units.size() > 3) sc.units.resize(3);
    step = timeStepSeconds(sc);
    model = modelText(sc);
    pending.assign(sc.units.size(), false);
    takenPerUnit.assign(sc.units.size(), 0);
    int sec = sc.clockSecond;
    int day = sc.clockDay;
    if (day < 0) {
      int nowSec = 0;
      day = localClockNow(&nowSec);
      if (sec < 0) sec = nowSec;
    }
    if (sec < 0) sec = 0;
    clockBase = static_cast<long>(day) * 86400 + sec;
    nextCallAt = drawInterval();
  }

  // ------------------------------------------------------------------ time and clock
  long pbxSecondsLocked() const {
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - clockBaseAt).count();
    return clockBase + static_cast<long>(elapsed);
  }
  double sinceStart() const {
    return std::chrono::duration<double>(Clock::now() - started).count();
  }

  // Sleeps until t; false when the simulator is stopping or hanging up meanwhile.
  // sleepUntil, then a short spin: a timed wait wakes up tens of microseconds late, which
  // would add up over the bytes of an emulated line.
  bool waitPrecisely(Clock::time_point t) {
    constexpr microseconds kSpin{200};
    if (t - Clock::now() > kSpin && !sleepUntil(t - kSpin)) return false;
    while (Clock::now() < t) std::this_thread::yield();
    return true;
  }

  bool sleepUntil(Clock::time_point t) {
    std::unique_lock lk(mu);
    cv.wait_until(lk, t, [&] { return stopping || hangupRequested; });
    return !(stopping || hangupRequested);
  }

  // ------------------------------------------------------------------ pseudo-terminal
  void openPty() {
    const int m = posix_openpt(O_RDWR | O_NOCTTY);
    if (m < 0) throw std::runtime_error(std::string("posix_openpt: ") + std::strerror(errno));
    char name[256];
    if (grantpt(m) != 0 || unlockpt(m) != 0 || ptsname_r(m, name, sizeof name) != 0) {
      const int e = errno;
      ::close(m);
      throw std::runtime_error(std::string("pseudo-terminal setup: ") + std::strerror(e));
    }
    // The simulator keeps the slave open itself, so that the master never sees a hang-up
    // while the host has the port closed.
    const int s = ::open(name, O_RDWR | O_NOCTTY);
    if (s < 0) {
      const int e = errno;
      ::close(m);
      throw std::runtime_error(std::string("open ") + name + ": " + std::strerror(e));
    }
    termios t{};
    if (tcgetattr(s, &t) == 0) {
      cfmakeraw(&t);
      cfsetispeed(&t, B19200);
      cfsetospeed(&t, B19200);
      t.c_cflag |= CSTOPB | CLOCAL | CREAD;
      t.c_cc[VMIN] = 1;
      t.c_cc[VTIME] = 0;
      tcsetattr(s, TCSANOW, &t);
    }
    fcntl(m, F_SETFL, fcntl(m, F_GETFL) | O_NONBLOCK);
    masterFd = m;
    slaveFd = s;
    slaveName = name;
    hungUp = false;
    if (!sc.linkPath.empty()) {
      const std::string tmp = sc.linkPath + ".pbxsim-tmp";
      ::unlink(tmp.c_str());
      if (::symlink(name, tmp.c_str()) != 0 || ::rename(tmp.c_str(), sc.linkPath.c_str()) != 0)
        throw std::runtime_error("cannot place link " + sc.linkPath + ": " + std::strerror(errno));
    }
  }

  void closePtyLocked() {
    if (masterFd >= 0) ::close(masterFd);
    if (slaveFd >= 0) ::close(slaveFd);
    masterFd = slaveFd = -1;
    hungUp = true;
    state = ParseState::Idle;
  }

  // ------------------------------------------------------------------ live traffic
  double drawInterval() {
    const double rate = sc.callsPerMinute > 0 ? sc.callsPerMinute : 6.0;
    const double u = static_cast<double>(trafficRng() % 1000000 + 1) / 1000001.0;
    return -std::log(u) * 60.0 / rate;
  }
  long rnd(long lo, long hi) {
    return lo + static_cast<long>(trafficRng() % static_cast<unsigned long>(hi - lo + 1));
  }

  std::uint8_t trunkByteFor(int trunk) {
    if (model.starts_with("DL256") || model == "B" ||
        (!model.empty() && (model[0] == '2' || model[0] == '3')))
      return static_cast<std::uint8_t>(rnd(0, 2) << 6 | (trunk % 24 + 1));
    return static_cast<std::uint8_t>(trunk + 1);
  }

  void advanceTrafficLocked() {
    const double now = sinceStart();
    while (nextCallAt <= now) {
      Connection c;
      c.start = nextCallAt;
      c.end = c.start + static_cast<double>(rnd(0, 9) < 7 ? rnd(1, 30) : rnd(30, 300));
      c.line = static_cast<int>(rnd(1, 60));
      const long kind = rnd(0, 9);
      if (kind < 2) {
        c.peer = static_cast<int>(rnd(1, 60));
      } else {
        c.trunk = static_cast<int>(rnd(0, 7));
        c.trunkByte = trunkByteFor(c.trunk);
        c.incoming = kind < 5;
        if (!c.incoming) {
          static const char kDigits[] = "0123456789";
          const long n = rnd(3, 11);
          for (long i = 0; i < n; ++i) c.dialed += kDigits[rnd(0, 9)];
        }
      }
      const long pbx = pbxSecondsLocked() - static_cast<long>(now - c.start);
      c.startDay = static_cast<int>(pbx / 86400);
      c.startSecond = static_cast<int>(pbx % 86400);
      if (active.size() < kMaxLiveConnections) active.push_back(c);
      nextCallAt += drawInterval();
    }
    for (auto it = active.begin(); it != active.end();) {
      if (it->end > now) {
        ++it;
        continue;
      }
      if (sc.callsPerMinute > 0 && it->peer < 0) recordCallLocked(*it);
      it = active.erase(it);
    }
  }

  void recordCallLocked(const Connection& c) {
    Record r;
    r.bytes.assign(11, 0);
    auto put = [&](std::size_t at, long v) {
      v = std::clamp(v, 0L, 65535L);
      r.bytes[at] = static_cast<std::uint8_t>(v & 0xFF);
      r.bytes[at + 1] = static_cast<std::uint8_t>(v >> 8);
    };
    put(0, c.startDay);
    put(2, c.startSecond / step);
    put(4, static_cast<long>(c.end - c.start) / step);
    put(6, model.starts_with("QTR") ? 200 + c.line : c.line);
    const auto prog = packProgrammed(std::to_string(100 + c.line));
    r.bytes[8] = prog[0];
    r.bytes[9] = prog[1];
    r.bytes[10] = c.trunkByte;
    const auto d = packDialed(c.dialed);
    r.bytes.insert(r.bytes.end(), d.begin(), d.end());
    const auto u = static_cast<std::size_t>(rnd(0, static_cast<long>(sc.units.size()) - 1));
    auto& unit = sc.units[u];
    if (static_cast<int>(unit.records.size()) >= unit.capacity)
      ++counters.recordsLost;  // a full buffer keeps its old records; the new call is lost
    else
      unit.records.push_back(std::move(r));
  }

  std::vector<LineGroup> livePictureLocked() const {
    const double now = sinceStart();
    std::vector<LineGroup> groups;
    for (const auto& c : active) {
      const std::uint8_t st = now - c.start < 5 ? 1 : 2;
      LineGroup g;
      g.push_back({0x44, static_cast<std::uint8_t>(c.line), st});
      if (c.peer >= 0) g.push_back({0x44, static_cast<std::uint8_t>(c.peer), st});
      if (c.trunk >= 0) g.push_back({0x46, static_cast<std::uint8_t>(c.trunk), st});
      groups.push_back(std::move(g));
    }
    return groups;
  }

  // ------------------------------------------------------------------ output
  bool chance(double p) {
    if (p <= 0) return false;
    if (p >= 1) return true;
    return static_cast<double>(faultRng() % 1000000) < p * 1000000.0;
  }

  void writeRaw(std::uint8_t b) {
    int fd;
    {
      std::lock_guard lk(mu);
      fd = masterFd;
    }
    if (fd < 0) return;
    for (int tries = 0; tries < 20; ++tries) {
      const ssize_t n = ::write(fd, &b, 1);
      if (n == 1) return;
      if (n < 0 && errno != EAGAIN && errno != EINTR) return;
      pollfd p{fd, POLLOUT, 0};
      ::poll(&p, 1, 10);  // the host is not reading: wait a little, then give the byte up
    }
  }

  // One byte of output, with the byte-position fault and pacing applied.
  bool emit(std::uint8_t b, const Faults& f) {
    const ByteFault& bf = f.byteFault;
    bool drop = false;
    if (bf.kind != ByteFault::Kind::None && bf.position == segPos &&
        (bf.persistent || !byteFaultFired) &&
        (bf.segment < 0 || (bf.persistent ? segIndex >= bf.segment : segIndex == bf.segment))) {
      byteFaultFired = true;
      switch (bf.kind) {
        case ByteFault::Kind::Drop:
          drop = true;
          break;
        case ByteFault::Kind::FlipBit:
          b ^= bf.flipMask;
          break;
        case ByteFault::Kind::WrongByte:
          b = bf.value;
          break;
        case ByteFault::Kind::Delay:
          if (!sleepUntil(Clock::now() + milliseconds(bf.delayMs))) return false;
          break;
        case ByteFault::Kind::None:
          break;
      }
    }
    ++segPos;
    if (drop) return true;
    const auto now = Clock::now();
    auto t = std::max(now, outputFree);
    // A device on a real line starts sending the moment the request has arrived; the
    // simulator's own wake-up latency must not count as wire time.
    if (sc.lineSpeed && now - inputWireEnd < milliseconds(2)) {
      t = std::max(outputFree, inputWireEnd);
    }
    if (sc.lineSpeed) t += kByteTime;
    t += microseconds(f.byteDelayUs);
    if (f.burst16ms) {
      const auto since = std::chrono::duration_cast<microseconds>(t - started).count();
      const long tick = 16000;
      t = started + microseconds((since + tick - 1) / tick * tick);
    }
    if (!waitPrecisely(t)) return false;
    outputFree = t;
    writeRaw(b);
    return true;
  }

  // A reply to a request: faults on the whole reply, then the bytes.
  // `checksumAt` is the index of the checksum byte (or -1) and `corrupt` its probability.
  void sendReply(std::vector<std::uint8_t> bytes, const Faults& f, int checksumAt = -1,
                 double corrupt = 0) {
    if (f.slowReplyMs > 0 && !sleepUntil(Clock::now() + milliseconds(f.slowReplyMs))) return;
    if (chance(f.dropReply)) return;
    if (chance(f.garbageBefore)) {
      const int n = static_cast<int>(faultRng() % 4) + 1;
      for (int i = 0; i < n; ++i)
        if (!emit(static_cast<std::uint8_t>(faultRng() & 0xFF), f)) return;
    }
    bool badSum = false;
    if (checksumAt >= 0 && chance(corrupt)) {
      bytes[static_cast<std::size_t>(checksumAt)] = static_cast<std::uint8_t>(
          bytes[static_cast<std::size_t>(checksumAt)] + 1 + faultRng() % 255);
      badSum = true;
    }
    std::size_t count = bytes.size();
    if (count > 1 && chance(f.truncateReply)) count = count / 2;
    for (std::size_t i = 0; i < count; ++i)
      if (!emit(bytes[i], f)) return;
    if (badSum && f.resendAfterBadChecksum && count == bytes.size()) {
      // Data bytes again, then the right checksum; the length byte is not repeated.
      std::uint8_t sum = 0;
      for (int i = 1; i < checksumAt; ++i) {
        sum = static_cast<std::uint8_t>(sum + bytes[static_cast<std::size_t>(i)]);
        if (!emit(bytes[static_cast<std::size_t>(i)], f)) return;
      }
      emit(sum, f);
    }
  }

  // length, masked data, checksum of the masked data.
  std::vector<std::uint8_t> framed(const std::vector<std::uint8_t>& data) const {
    std::vector<std::uint8_t> out;
    const std::size_t n = std::min<std::size_t>(data.size(), 255);
    out.push_back(static_cast<std::uint8_t>(n));
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const auto m = static_cast<std::uint8_t>(data[i] ^ sc.maskKey);
      out.push_back(m);
      sum = static_cast<std::uint8_t>(sum + m);
    }
    out.push_back(sum);
    return out;
  }

  void endSegment() { segPos = 0; }

  // ------------------------------------------------------------------ requests
  // Counts a request; returns whether it is to be answered (and schedules a hang-up).
  bool admitRequest(long Counters::*which, const Faults& f, bool* hangAfter) {
    std::lock_guard lk(mu);
    ++(counters.*which);
    ++counters.requests;
    *hangAfter = f.hangupAfter >= 0 && counters.requests == f.hangupAfter;
    return !(f.silentAfter >= 0 && counters.requests > f.silentAfter);
  }

  void waitRequestOnWire() {
    if (sc.lineSpeed && inputWireEnd > Clock::now()) sleepUntil(inputWireEnd);
  }

  void hangUpFromThread(const Faults& f) {
    // Let the host take the reply first: a hang-up drops whatever the line still holds.
    int slave;
    {
      std::lock_guard lk(mu);
      slave = slaveFd;
    }
    // The pseudo-terminal hands written bytes on to the slave a little later, so an empty
    // input queue right after the write does not yet mean the host has read them.
    sleepUntil(Clock::now() + milliseconds(30));
    const auto deadline = Clock::now() + milliseconds(500);
    int queued = 0;
    while (slave >= 0 && Clock::now() < deadline && ::ioctl(slave, TIOCINQ, &queued) == 0 &&
           queued > 0)
      if (!sleepUntil(Clock::now() + milliseconds(2))) break;
    std::lock_guard lk(mu);
    closePtyLocked();
    if (f.comeBackAfterMs >= 0) comeBackAt = Clock::now() + milliseconds(f.comeBackAfterMs);
  }

  void onProbe(const Faults& f) {
    bool silent;
    {
      std::lock_guard lk(mu);
      ++counters.probes;
      silent = f.silentAfter >= 0 && counters.requests >= f.silentAfter;
    }
    if (silent) return;
    waitRequestOnWire();
    if (chance(f.dropEcho)) {
      ++segPos;  // the echo's place in the stream still counts
      return;
    }
    if (f.slowReplyMs > 0 && !sleepUntil(Clock::now() + milliseconds(f.slowReplyMs))) return;
    emit(kProbe, f);
  }

  void onIdentify(const Faults& f) {
    bool hang = false;
    if (!admitRequest(&Counters::identifications, f, &hang)) return;
    std::vector<std::uint8_t> d(kIdentificationLength, 0);
    {
      std::lock_guard lk(mu);
      const long s = pbxSecondsLocked();
      const long day = s / 86400;
      const long units = (s % 86400) / step;
      d[0] = static_cast<std::uint8_t>(day & 0xFF);
      d[1] = static_cast<std::uint8_t>((day >> 8) & 0xFF);
      d[2] = static_cast<std::uint8_t>(units & 0xFF);
      d[3] = static_cast<std::uint8_t>((units >> 8) & 0xFF);
      d[5] = static_cast<std::uint8_t>(sc.modelCode);
      d[6] = sc.versionNibbles;
      d[7] = sc.versionLead;
      d[13] = static_cast<std::uint8_t>(sc.timeStepByte);
      d[14] = static_cast<std::uint8_t>(sc.serial & 0xFF);
      d[15] = static_cast<std::uint8_t>(sc.serial >> 8);
      for (std::size_t i = 0; i < 7 && i < sc.modelName.size(); ++i)
        d[16 + i] = static_cast<std::uint8_t>(sc.modelName[i]);
    }
    std::vector<std::uint8_t> out;
    out.push_back(static_cast<std::uint8_t>(d.size()));
    for (std::size_t i = 0; i < d.size(); ++i)
      out.push_back(i == 11 ? sc.maskKey : static_cast<std::uint8_t>(d[i] ^ sc.maskKey));
    waitRequestOnWire();
    sendReply(std::move(out), f);
    if (hang) hangUpFromThread(f);
  }

  void onSelectUnit(const Faults& f) {
    bool hang = false;
    const bool answer = admitRequest(&Counters::unitSelections, f, &hang);
    if (answer) {
      {
        std::lock_guard lk(mu);
        selected = selMasked ^ sc.maskKey;
      }
      // The host sends the request and only then discards its input, so the
      // acknowledgement must not come before the request has left the wire.
      auto t = lastInput + milliseconds(sc.unitAckDelayMs);
      if (sc.lineSpeed) t = std::max(t, inputWireEnd);
      sleepUntil(t);
      sendReply({kAck}, f);
    }
    endSegment();
    if (hang) hangUpFromThread(f);
  }

  void onStatus(const Faults& f) {
    bool hang = false;
    if (!admitRequest(&Counters::statusRequests, f, &hang)) return;
    std::vector<std::uint8_t> d(6, 0);
    {
      std::lock_guard lk(mu);
      if (selected >= 0 && static_cast<std::size_t>(selected) < sc.units.size()) {
        const auto u = static_cast<std::size_t>(selected);
        const Unit& unit = sc.units[u];
        long a, b;
        if (unit.fixedCounters) {
          a = unit.fixedCounters->first;
          b = unit.fixedCounters->second;
        } else {
          b = unit.counterBase + takenPerUnit[u];
          a = b + static_cast<long>(unit.records.size());
        }
        const long cap = unit.capacity;
        d = {static_cast<std::uint8_t>(cap & 0xFF), static_cast<std::uint8_t>((cap >> 8) & 0xFF),
             static_cast<std::uint8_t>(a & 0xFF),   static_cast<std::uint8_t>((a >> 8) & 0xFF),
             static_cast<std::uint8_t>(b & 0xFF),   static_cast<std::uint8_t>((b >> 8) & 0xFF)};
      }
    }
    auto out = framed(d);
    waitRequestOnWire();
    sendReply(std::move(out), f, static_cast<int>(d.size()) + 1, f.statusChecksum);
    if (hang) hangUpFromThread(f);
  }

  void takeLocked(std::size_t u) {
    Unit& unit = sc.units[u];
    if (!pending[u] || unit.records.empty()) return;
    UnitRecord ur{static_cast<int>(u), std::move(unit.records.front())};
    unit.records.pop_front();
    pending[u] = false;
    ++takenPerUnit[u];
    if (takenLog) {
      std::fputs((recordLine(ur) + "\n").c_str(), takenLog);
      std::fflush(takenLog);
    }
    taken.push_back(std::move(ur));
    cv.notify_all();
  }

  void onRecord(bool next, const Faults& f) {
    bool hang = false;
    if (!admitRequest(next ? &Counters::nextRecordRequests : &Counters::firstRecordRequests, f,
                      &hang))
      return;
    std::vector<std::uint8_t> out;
    {
      std::lock_guard lk(mu);
      std::optional<Record> rec;
      if (selected >= 0 && static_cast<std::size_t>(selected) < sc.units.size()) {
        const auto u = static_cast<std::size_t>(selected);
        if (next) takeLocked(u);
        if (!sc.units[u].records.empty()) {
          rec = sc.units[u].records.front();
          pending[u] = true;
          sent.push_back(*rec);
        }
      }
      if (rec)
        out = framed(rec->bytes);
      else
        out = {0x00, 0x00};  // empty buffer: length 0 and checksum 0
    }
    waitRequestOnWire();
    const int sumAt = static_cast<int>(out.size()) - 1;
    sendReply(std::move(out), f, sumAt, next ? f.nextRecordChecksum : f.firstRecordChecksum);
    ++segIndex;
    endSegment();
    if (hang) hangUpFromThread(f);
  }

  void onLineState(const Faults& f) {
    bool hang = false;
    if (!admitRequest(&Counters::lineStateRequests, f, &hang)) return;
    std::vector<std::uint8_t> out;
    bool wire = false;
    {
      std::lock_guard lk(mu);
      switch (sc.lineStateMode) {
        case LineStateMode::Live: {
          advanceTrafficLocked();
          const auto groups = livePictureLocked();
          out = groups.empty() ? std::vector<std::uint8_t>{0x00, 0x00}
                               : framed(encodeLineGroups(groups));
          break;
        }
        case LineStateMode::Scripted:
          out = framed(encodeLineGroups(sc.lineGroups));
          break;
        case LineStateMode::Payload:
          out = framed(sc.lineStateBytes);
          break;
        case LineStateMode::Wire:
          out = sc.lineStateBytes;
          wire = true;
          break;
      }
    }
    waitRequestOnWire();
    if (wire)
      sendReply(std::move(out), f);
    else
      sendReply(std::move(out), f, static_cast<int>(out.size()) - 1, f.lineStateChecksum);
    if (hang) hangUpFromThread(f);
  }

  // ------------------------------------------------------------------ input
  bool inputChance(double p) {
    if (p <= 0) return false;
    if (p >= 1) return true;
    return static_cast<double>(inputRng() % 1000000) < p * 1000000.0;
  }
  // `value`, or a random byte (other than `avoid` when that is 0..255).
  std::uint8_t inputByte(int value, int avoid) {
    if (value >= 0) return static_cast<std::uint8_t>(value);
    if (avoid < 0) return static_cast<std::uint8_t>(inputRng() & 0xFF);
    return static_cast<std::uint8_t>(avoid + 1 + static_cast<int>(inputRng() % 255));
  }
  void countInput(long Counters::*which) {
    std::lock_guard lk(mu);
    ++(counters.*which);
    ++counters.inputFaults;
  }

  // One byte as it arrived from the host: the input faults, then the request parser for
  // what is left. False when the line went away meanwhile (the rest of the input is lost).
  bool receive(std::uint8_t b, int fd) {
    Faults f;
    {
      std::lock_guard lk(mu);
      f = sc.faults;
      if (faultsChanged) {
        byteFaultFired = false;
        inputMatches = 0;
      }
      faultsChanged = false;
    }
    std::optional<std::uint8_t> before;  // an inserted byte
    bool drop = false;
    const InputFault& in = f.inputFault;
    bool targeted = false;
    if (in.kind != InputFault::Kind::None && (in.match < 0 || in.match == b)) {
      ++inputMatches;
      targeted = inputMatches == in.nth || (in.persistent && inputMatches > in.nth);
    }
    if (targeted) {
      switch (in.kind) {
        case InputFault::Kind::Drop:
          drop = true;
          countInput(&Counters::inputDropped);
          break;
        case InputFault::Kind::Replace:
          b = inputByte(in.value, b);
          countInput(&Counters::inputReplaced);
          break;
        case InputFault::Kind::Insert:
          before = inputByte(in.value, -1);
          countInput(&Counters::inputInserted);
          break;
        case InputFault::Kind::None:
          break;
      }
    } else if (f.inputOnly < 0 || f.inputOnly == b) {
      if (inputChance(f.inputInsert)) {
        before = inputByte(f.inputInsertValue, -1);
        countInput(&Counters::inputInserted);
      }
      if (inputChance(f.inputDrop)) {
        drop = true;
        countInput(&Counters::inputDropped);
      } else if (inputChance(f.inputReplace)) {
        b = inputByte(f.inputReplaceValue, b);
        countInput(&Counters::inputReplaced);
      }
    }
    if (before) {
      onByte(*before, f);
      std::lock_guard lk(mu);
      if (stopping || hangupRequested || masterFd != fd) return false;
    }
    if (drop) {
      // The byte took its time on the line all the same.
      if (sc.lineSpeed) inputWireEnd = std::max(inputWireEnd, Clock::now()) + kByteTime;
    } else {
      onByte(b, f);
    }
    std::lock_guard lk(mu);
    return !(stopping || hangupRequested || masterFd != fd);
  }

  // Feeds one received byte to the request parser.
  void onByte(std::uint8_t b, const Faults& f) {
    const auto now = Clock::now();
    if (state != ParseState::Idle && now - lastInput > kPartialTimeout) state = ParseState::Idle;
    lastInput = now;
    if (sc.lineSpeed) inputWireEnd = std::max(inputWireEnd, now) + kByteTime;

    auto ignore = [&] {
      std::lock_guard lk(mu);
      ++counters.ignoredBytes;
    };
    switch (state) {
      case ParseState::Idle:
        switch (b) {
          case kProbe:
            onProbe(f);
            break;
          case kIdentify:
            onIdentify(f);
            break;
          case kFirstRecord:
            onRecord(false, f);
            break;
          case kNextRecord:
            onRecord(true, f);
            break;
          case kSelectUnit:
            state = ParseState::SelCount;
            break;
          case kStatusLead:
            state = ParseState::Status;
            break;
          case kLineState:
            state = ParseState::LsSub;
            break;
          default:
            ignore();
            break;
        }
        return;
      case ParseState::SelCount:
        if (b == kSelectUnitCount) {
          state = ParseState::SelUnit;
        } else {
          ignore();
          state = ParseState::Idle;
          onByte(b, f);
        }
        return;
      case ParseState::SelUnit:
        selMasked = b;
        state = ParseState::SelSum;
        return;
      case ParseState::SelSum:
        state = ParseState::Idle;
        if (b == selMasked)
          onSelectUnit(f);
        else
          ignore();
        return;
      case ParseState::Status:
        state = ParseState::Idle;
        if (b == kStatusSecond) {
          onStatus(f);
        } else {
          ignore();
          onByte(b, f);
        }
        return;
      case ParseState::LsSub:
        lsSub = b;
        state = ParseState::LsCount;
        return;
      case ParseState::LsCount:
        lsCount = b;
        lsData.clear();
        state = lsCount == 0 ? ParseState::LsSum : ParseState::LsData;
        return;
      case ParseState::LsData:
        lsData.push_back(b);
        if (lsData.size() == lsCount) state = ParseState::LsSum;
        return;
      case ParseState::LsSum: {
        state = ParseState::Idle;
        std::uint8_t sum = 0;
        for (auto x : lsData) sum = static_cast<std::uint8_t>(sum + x);
        if (lsSub == kLineStateSub && sum == b)
          onLineState(f);
        else
          ignore();
        return;
      }
    }
  }

  // ------------------------------------------------------------------ thread
  void run() {
    std::uint8_t buf[256];
    for (;;) {
      int fd;
      {
        std::unique_lock lk(mu);
        if (stopping) return;
        if (hangupRequested) {
          closePtyLocked();
          hangupRequested = false;
          cv.notify_all();
        }
        if (hungUp && comeBackAt && Clock::now() >= *comeBackAt) {
          comeBackAt.reset();
          try {
            openPty();
          } catch (const std::exception&) {
            comeBackAt = Clock::now() + milliseconds(100);  // try again shortly
          }
          cv.notify_all();
        }
        advanceTrafficLocked();
        fd = masterFd;
        if (fd < 0) {
          cv.wait_for(lk, milliseconds(10));
          continue;
        }
      }
      pollfd p{fd, POLLIN, 0};
      const int r = ::poll(&p, 1, 10);
      if (r <= 0) {
        if (state != ParseState::Idle && Clock::now() - lastInput > kPartialTimeout)
          state = ParseState::Idle;
        continue;
      }
      const ssize_t n = ::read(fd, buf, sizeof buf);
      if (n <= 0) {
        std::this_thread::sleep_for(milliseconds(5));
        continue;
      }
      for (ssize_t i = 0; i < n; ++i)
        if (!receive(buf[i], fd)) break;  // the rest of the input is lost
    }
  }
};

// ---------------------------------------------------------------------------------------

std::vector<std::uint8_t> encodeLineGroups(const std::vector<LineGroup>& groups) {
  std::vector<std::uint8_t> out;
  for (const auto& g : groups) {
    out.push_back(static_cast<std::uint8_t>(g.size()));
    for (const auto& e : g) {
      out.push_back(e.kind);
      out.push_back(e.index);
      out.push_back(e.state);
    }
  }
  return out;
}

Simulator::Simulator(Scenario scenario) : impl_(std::make_unique<Impl>(std::move(scenario))) {}

Simulator::~Simulator() { stop(); }

std::string Simulator::start() {
  std::lock_guard lk(impl_->mu);
  if (impl_->running) return impl_->sc.linkPath.empty() ? impl_->slaveName : impl_->sc.linkPath;
  impl_->openPty();
  if (!impl_->sc.takenLogPath.empty()) {
    impl_->takenLog = std::fopen(impl_->sc.takenLogPath.c_str(), "w");
    if (!impl_->takenLog) {
      impl_->closePtyLocked();
      throw std::runtime_error("cannot write " + impl_->sc.takenLogPath);
    }
  }
  impl_->stopping = false;
  impl_->running = true;
  impl_->thread = std::thread([this] { impl_->run(); });
  return impl_->sc.linkPath.empty() ? impl_->slaveName : impl_->sc.linkPath;
}

void Simulator::stop() {
  {
    std::lock_guard lk(impl_->mu);
    if (!impl_->running) return;
    impl_->stopping = true;
    impl_->cv.notify_all();
  }
  if (impl_->thread.joinable()) impl_->thread.join();
  std::lock_guard lk(impl_->mu);
  impl_->closePtyLocked();
  if (!impl_->sc.linkPath.empty()) ::unlink(impl_->sc.linkPath.c_str());
  if (impl_->takenLog) std::fclose(impl_->takenLog);
  impl_->takenLog = nullptr;
  impl_->running = false;
}

std::string Simulator::devicePath() const {
  std::lock_guard lk(impl_->mu);
  if (!impl_->running) return {};
  return impl_->sc.linkPath.empty() ? impl_->slaveName : impl_->sc.linkPath;
}

std::string Simulator::slavePath() const {
  std::lock_guard lk(impl_->mu);
  return impl_->slaveName;
}

void Simulator::hangUp() {
  std::unique_lock lk(impl_->mu);
  if (!impl_->running) return;
  impl_->comeBackAt.reset();
  if (impl_->hungUp) return;
  impl_->hangupRequested = true;
  impl_->cv.notify_all();
  impl_->cv.wait(lk, [&] { return !impl_->hangupRequested || impl_->stopping; });
}

std::string Simulator::comeBack() {
  std::lock_guard lk(impl_->mu);
  if (!impl_->running) throw std::runtime_error("simulator not running");
  impl_->comeBackAt.reset();
  if (impl_->hungUp) impl_->openPty();
  return impl_->sc.linkPath.empty() ? impl_->slaveName : impl_->sc.linkPath;
}

bool Simulator::isHungUp() const {
  std::lock_guard lk(impl_->mu);
  return impl_->hungUp;
}

void Simulator::addRecord(const Record& record, int unit) {
  std::lock_guard lk(impl_->mu);
  if (unit < 0 || static_cast<std::size_t>(unit) >= impl_->sc.units.size())
    throw std::out_of_range("no such unit");
  impl_->sc.units[static_cast<std::size_t>(unit)].records.push_back(record);
}

std::vector<Record> Simulator::takenRecords() const {
  std::lock_guard lk(impl_->mu);
  std::vector<Record> out;
  for (const auto& t : impl_->taken) out.push_back(t.record);
  return out;
}

std::vector<Record> Simulator::takenRecords(int unit) const {
  std::lock_guard lk(impl_->mu);
  std::vector<Record> out;
  for (const auto& t : impl_->taken)
    if (t.unit == unit) out.push_back(t.record);
  return out;
}

std::vector<UnitRecord> Simulator::takenWithUnits() const {
  std::lock_guard lk(impl_->mu);
  return impl_->taken;
}

std::vector<Record> Simulator::sentRecords() const {
  std::lock_guard lk(impl_->mu);
  return impl_->sent;
}

std::vector<Record> Simulator::pendingRecords(int unit) const {
  std::lock_guard lk(impl_->mu);
  if (unit < 0 || static_cast<std::size_t>(unit) >= impl_->sc.units.size()) return {};
  const auto& d = impl_->sc.units[static_cast<std::size_t>(unit)].records;
  return {d.begin(), d.end()};
}

bool Simulator::waitForTaken(std::size_t n, std::chrono::milliseconds timeout) const {
  std::unique_lock lk(impl_->mu);
  return impl_->cv.wait_for(lk, timeout, [&] { return impl_->taken.size() >= n; });
}

Counters Simulator::counters() const {
  std::lock_guard lk(impl_->mu);
  return impl_->counters;
}

int Simulator::selectedUnit() const {
  std::lock_guard lk(impl_->mu);
  return impl_->selected;
}

void Simulator::setFaults(const Faults& faults) {
  std::lock_guard lk(impl_->mu);
  impl_->sc.faults = faults;
  impl_->faultsChanged = true;
}

Faults Simulator::faults() const {
  std::lock_guard lk(impl_->mu);
  return impl_->sc.faults;
}

void Simulator::setClock(int day, int secondOfDay) {
  std::lock_guard lk(impl_->mu);
  impl_->clockBase = static_cast<long>(day) * 86400 + secondOfDay;
  impl_->clockBaseAt = Clock::now();
}

std::pair<int, int> Simulator::clock() const {
  std::lock_guard lk(impl_->mu);
  const long s = impl_->pbxSecondsLocked();
  return {static_cast<int>(s / 86400), static_cast<int>(s % 86400)};
}

void Simulator::setLineStateLive() {
  std::lock_guard lk(impl_->mu);
  impl_->sc.lineStateMode = LineStateMode::Live;
}

void Simulator::setLineStateGroups(std::vector<LineGroup> groups) {
  std::lock_guard lk(impl_->mu);
  impl_->sc.lineStateMode = LineStateMode::Scripted;
  impl_->sc.lineGroups = std::move(groups);
}

void Simulator::setLineStatePayload(std::vector<std::uint8_t> unmaskedData) {
  std::lock_guard lk(impl_->mu);
  impl_->sc.lineStateMode = LineStateMode::Payload;
  impl_->sc.lineStateBytes = std::move(unmaskedData);
}

void Simulator::setLineStateWire(std::vector<std::uint8_t> wireBytes) {
  std::lock_guard lk(impl_->mu);
  impl_->sc.lineStateMode = LineStateMode::Wire;
  impl_->sc.lineStateBytes = std::move(wireBytes);
}

std::vector<LineGroup> Simulator::livePicture() const {
  std::lock_guard lk(impl_->mu);
  impl_->advanceTrafficLocked();
  return impl_->livePictureLocked();
}

}  // namespace pbxsim
