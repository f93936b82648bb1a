// Call records of the simulated PBX: building, packing, generation and record files.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "pbxsim.h"

namespace pbxsim {

namespace {

// Nibble code of one digit character, or -1.
int nibbleCode(char c) {
  if (c >= '1' && c <= '9') return c - '0';
  switch (c) {
    case '0':
      return 0xA;
    case '*':
      return 0xB;
    case '#':
      return 0xC;
    case 'P':
      return 0xD;
    case 'A':
      return 0xE;
    case 'T':
      return 0xF;
    default:
      return -1;
  }
}

bool isLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

void putWord(std::vector<std::uint8_t>& b, std::size_t at, long value) {
  const long v = std::clamp(value, 0L, 65535L);
  b[at] = static_cast<std::uint8_t>(v & 0xFF);
  b[at + 1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Small deterministic generator; the distributions are written here so that a seed gives
// the same records with every standard library.
class Rng {
 public:
  explicit Rng(std::uint32_t seed) : engine_(seed) {}
  // Uniform in [lo, hi].
  long range(long lo, long hi) {
    const auto span = static_cast<unsigned long long>(hi - lo + 1);
    return lo + static_cast<long>(engine_() % span);
  }
  bool chance(double p) { return static_cast<double>(engine_() % 1000000) < p * 1000000.0; }

 private:
  std::mt19937 engine_;
};

enum class Family { Qtr, Dl40, Dl72, Dl256, Other };

Family familyOf(const std::string& model) {
  if (model.starts_with("QTR")) return Family::Qtr;
  if (model.starts_with("DL40")) return Family::Dl40;
  if (model.starts_with("DL72")) return Family::Dl72;
  if (model.starts_with("DL256") || model == "B") return Family::Dl256;
  if (!model.empty() && (model[0] == '2' || model[0] == '3')) return Family::Dl256;
  return Family::Other;
}

std::string randomDigits(Rng& rng, int count, const char* alphabet) {
  const std::string a(alphabet);
  std::string s;
  for (int i = 0; i < count; ++i)
    s += a[static_cast<std::size_t>(rng.range(0, static_cast<long>(a.size()) - 1))];
  return s;
}

}  // namespace

// ---------------------------------------------------------------------------------------

Record Record::emptySlot() {
  Record r;
  r.bytes.assign(11, 0);
  r.bytes[0] = 0x0F;
  r.bytes[1] = 0xFF;
  return r;
}

bool Record::isEmptySlot() const {
  return bytes.size() >= 2 && bytes[0] == 0x0F && bytes[1] == 0xFF;
}

std::string Record::toHex() const {
  std::string s;
  char buf[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(buf, sizeof buf, "%02X", bytes[i]);
    if (i) s += ' ';
    s += buf;
  }
  return s;
}

std::optional<Record> Record::fromHex(std::string_view text) {
  Record r;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == ' ' || text[i] == '\t' || text[i] == '\r') {
      ++i;
      continue;
    }
    if (i + 1 >= text.size()) return std::nullopt;
    const int hi = hexValue(text[i]);
    const int lo = hexValue(text[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    if (i + 2 < text.size() && text[i + 2] != ' ' && text[i + 2] != '\t' && text[i + 2] != '\r')
      return std::nullopt;
    r.bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    i += 2;
  }
  if (r.bytes.empty() || r.bytes.size() > 255) return std::nullopt;
  return r;
}

int dayNumber(int year, int month, int day) {
  static const int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int days = 0;
  for (int y = 1980; y < year; ++y) days += isLeap(y) ? 366 : 365;
  for (int m = 1; m < month && m <= 12; ++m) days += kMonthDays[m - 1] + (m == 2 && isLeap(year));
  return days + day - 1;
}

std::vector<std::uint8_t> packDialed(std::string_view digits) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    const int hi = nibbleCode(digits[i]);
    const int lo = i + 1 < digits.size() ? nibbleCode(digits[i + 1]) : 0;
    if (hi < 0 || lo < 0)
      throw std::invalid_argument("no nibble code for a character in \"" + std::string(digits) +
                                  "\"");
    out.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
  }
  return out;
}

std::vector<std::uint8_t> packProgrammed(std::string_view digits) {
  if (digits.size() > 4) throw std::invalid_argument("programmed number longer than 4 digits");
  // Right-aligned in four nibbles, zero nibbles as filler in front; byte 9 carries the
  // leading nibbles.
  int nibbles[4] = {0, 0, 0, 0};
  const std::size_t pad = 4 - digits.size();
  for (std::size_t i = 0; i < digits.size(); ++i) {
    const char c = digits[i];
    if (c < '0' || c > '9')
      throw std::invalid_argument("programmed number must be digits: " + std::string(digits));
    nibbles[pad + i] = nibbleCode(c);
  }
  const auto byte9 = static_cast<std::uint8_t>(nibbles[0] << 4 | nibbles[1]);
  const auto byte8 = static_cast<std::uint8_t>(nibbles[2] << 4 | nibbles[3]);
  return {byte8, byte9};
}

Record makeRecord(const CallFields& f, int timeStepSeconds) {
  if (timeStepSeconds < 1 || timeStepSeconds > 255)
    throw std::invalid_argument("time step must be 1..255 seconds");
  if (f.dialed.size() > 2 * (255 - 11)) throw std::invalid_argument("dialed number too long");
  Record r;
  r.bytes.assign(11, 0);
  putWord(r.bytes, 0, dayNumber(f.year, f.month, f.day));
  putWord(r.bytes, 2, (f.hour * 3600L + f.minute * 60L + f.second) / timeStepSeconds);
  putWord(r.bytes, 4, f.durationSeconds / timeStepSeconds);
  putWord(r.bytes, 6, f.hardwareNumber);
  const auto prog = packProgrammed(f.programmed);
  r.bytes[8] = prog[0];
  r.bytes[9] = prog[1];
  r.bytes[10] = f.trunk;
  const auto dialed = packDialed(f.dialed);
  r.bytes.insert(r.bytes.end(), dialed.begin(), dialed.end());
  return r;
}

int timeStepSeconds(const Scenario& s) { return s.timeStepByte == 0 ? 6 : s.timeStepByte; }

std::string modelText(const Scenario& s) {
  switch (s.modelCode) {
    case 2: {
      std::string name = s.modelName.substr(0, 7);
      if (const auto z = name.find('\0'); z != std::string::npos) name.resize(z);
      if (name.size() >= 3 && (name[0] == '2' || name[0] == '3') && name[2] == 'B')
        return name.substr(0, 3);
      if (name.starts_with("DL2")) return name.substr(0, 5);
      return name;
    }
    case 3:
      return "C";
    case 4:
      return "QTR160";
    case 5:
      return "DL256";
    case 6:
      return "QTR400-1";
    case 7:
      return "DL40";
    case 8:
      return "DL72";
    default:
      return "";
  }
}

std::vector<Record> generateRecords(const Scenario& scenario, int count, std::uint32_t seed) {
  Rng rng(seed);
  const int step = timeStepSeconds(scenario);
  const Family family = familyOf(modelText(scenario));
  std::vector<Record> out;
  out.reserve(static_cast<std::size_t>(std::max(count, 0)));
  for (int i = 0; i < count; ++i) {
    if (rng.chance(0.02)) {
      out.push_back(Record::emptySlot());
      continue;
    }
    CallFields f;
    const long yearPick = rng.range(0, 99);
    if (yearPick == 0)
      f.year = static_cast<int>(rng.range(1980, 1999));  // a clock that was never set
    else if (yearPick == 1)
      f.year = static_cast<int>(rng.range(2090, 2099));  // a clock set into the future
    else
      f.year = static_cast<int>(rng.range(2019, 2024));
    f.month = static_cast<int>(rng.range(1, 12));
    static const int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    f.day = static_cast<int>(
        rng.range(1, kMonthDays[f.month - 1] + (f.month == 2 && isLeap(f.year) ? 1 : 0)));
    f.hour = static_cast<int>(rng.range(0, 23));
    f.minute = static_cast<int>(rng.range(0, 59));
    f.second = static_cast<int>(rng.range(0, 59));

    const long durPick = rng.range(0, 99);
    if (durPick < 70)
      f.durationSeconds = rng.range(1, 600);
    else if (durPick < 97)
      f.durationSeconds = rng.range(600, 3 * 3600);
    else
      f.durationSeconds = rng.range(24 * 3600 + 1, 30 * 3600);  // longer than a day

    const long hwPick = rng.range(0, 99);
    if (hwPick < 10)
      f.hardwareNumber = static_cast<int>(rng.range(1, 9));
    else if (hwPick < 20)
      f.hardwareNumber = static_cast<int>(rng.range(10, 99));
    else if (hwPick < 95)
      f.hardwareNumber = static_cast<int>(rng.range(100, 999));
    else
      f.hardwareNumber = static_cast<int>(rng.range(1000, 9999));

    if (!rng.chance(0.15))
      f.programmed = randomDigits(rng, static_cast<int>(rng.range(2, 4)), "0123456789");

    switch (family) {
      case Family::Qtr:
        f.trunk = static_cast<std::uint8_t>(rng.range(1, 16));
        break;
      case Family::Dl40:
        f.trunk = static_cast<std::uint8_t>(rng.range(1, 4));
        break;
      case Family::Dl72:
        f.trunk = static_cast<std::uint8_t>(rng.range(1, 8));
        break;
      case Family::Dl256:
        f.trunk = static_cast<std::uint8_t>(rng.range(0, 2) << 6 | rng.range(1, 24));
        break;
      case Family::Other:
        f.trunk = static_cast<std::uint8_t>(rng.range(0, 16));
        break;
    }

    if (!rng.chance(0.3)) {  // outgoing call: dialed digits
      std::string d = randomDigits(rng, static_cast<int>(rng.range(3, 12)), "0123456789");
      if (rng.chance(0.08)) d = "*" + d.substr(0, 3) + "#";
      if (rng.chance(0.03)) d += "#";
      f.dialed = d;
    }
    out.push_back(makeRecord(f, step));
  }
  return out;
}

// ---------------------------------------------------------------------------------------
// Record files

std::vector<UnitRecord> parseRecordText(std::string_view text) {
  std::vector<UnitRecord> out;
  std::size_t lineNo = 0;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    ++lineNo;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
      line.remove_suffix(1);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    if (line.empty() || line.front() == '#') {
      if (end == text.size()) break;
      continue;
    }
    UnitRecord ur;
    if (line.front() == '@') {
      if (line.size() < 3 || line[1] < '0' || line[1] > '2' || line[2] != ' ')
        throw std::runtime_error("record line " + std::to_string(lineNo) + ": bad unit prefix");
      ur.unit = line[1] - '0';
      line.remove_prefix(3);
    }
    auto rec = Record::fromHex(line);
    if (!rec) throw std::runtime_error("record line " + std::to_string(lineNo) + ": bad hex bytes");
    ur.record = std::move(*rec);
    out.push_back(std::move(ur));
    if (end == text.size()) break;
  }
  return out;
}

std::vector<UnitRecord> loadRecordFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read record file " + path);
  std::ostringstream ss;
  ss << in.rdbuf();
  return parseRecordText(ss.str());
}

std::string recordLine(const UnitRecord& r) {
  std::string s;
  if (r.unit != 0) s = "@" + std::to_string(r.unit) + " ";
  return s + r.record.toHex();
}

void writeRecordFile(const std::string& path, const std::vector<UnitRecord>& records) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write record file " + path);
  for (const auto& r : records) out << recordLine(r) << '\n';
  if (!out) throw std::runtime_error("cannot write record file " + path);
}

}  // namespace pbxsim
