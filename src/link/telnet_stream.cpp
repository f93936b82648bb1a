#include "link/telnet_stream.h"

namespace kordel::telnet {

namespace {

// A subnegotiation longer than this is kept only up to here (the answers this program reads
// are six bytes long).
constexpr std::size_t kMaxSub = 64;

bool wantLocal(std::uint8_t opt) {
  return opt == kBinary || opt == kSuppressGoAhead || opt == kComPortOption;
}
bool wantRemote(std::uint8_t opt) { return opt == kBinary || opt == kSuppressGoAhead; }

void appendCommand(std::vector<std::uint8_t>& out, std::uint8_t verb, std::uint8_t opt) {
  out.push_back(kIac);
  out.push_back(verb);
  out.push_back(opt);
}

}  // namespace

void appendData(std::vector<std::uint8_t>& out, std::uint8_t b) {
  out.push_back(b);
  if (b == kIac) out.push_back(kIac);
}

void appendComPortCommand(std::vector<std::uint8_t>& out, std::uint8_t command, std::uint32_t value,
                          int width) {
  out.push_back(kIac);
  out.push_back(kSb);
  out.push_back(kComPortOption);
  out.push_back(command);
  for (int i = width - 1; i >= 0; --i) {
    appendData(out, static_cast<std::uint8_t>(value >> (8 * i)));
  }
  out.push_back(kIac);
  out.push_back(kSe);
}

void TelnetStream::start(std::vector<std::uint8_t>& out) {
  for (const std::uint8_t opt : {kComPortOption, kBinary, kSuppressGoAhead}) {
    appendCommand(out, kWill, opt);
    localAsked_[opt] = true;
  }
  for (const std::uint8_t opt : {kBinary, kSuppressGoAhead}) {
    appendCommand(out, kDo, opt);
    remoteAsked_[opt] = true;
  }
}

void TelnetStream::receive(const std::uint8_t* bytes, std::size_t count,
                           std::vector<std::uint8_t>& data, std::vector<std::uint8_t>& reply) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t b = bytes[i];
    switch (state_) {
      case State::kData:
        if (b == kIac) {
          state_ = State::kIac;
        } else {
          data.push_back(b);
        }
        break;
      case State::kIac:
        if (b == kIac) {
          data.push_back(kIac);
          state_ = State::kData;
        } else if (b == kWill || b == kWont || b == kDo || b == kDont) {
          verb_ = b;
          state_ = State::kOption;
        } else if (b == kSb) {
          sub_.clear();
          state_ = State::kSub;
        } else {
          state_ = State::kData;  // NOP, GA, a stray SE and the rest carry nothing here
        }
        break;
      case State::kOption:
        option(verb_, b, reply);
        state_ = State::kData;
        break;
      case State::kSub:
        if (b == kIac) {
          state_ = State::kSubIac;
        } else if (sub_.size() < kMaxSub) {
          sub_.push_back(b);
        }
        break;
      case State::kSubIac:
        if (b == kIac) {
          if (sub_.size() < kMaxSub) sub_.push_back(kIac);
          state_ = State::kSub;
        } else {
          // IAC SE ends the subnegotiation; any other command ends it as well and is taken
          // as that command.
          subnegotiation();
          state_ = State::kIac;
          if (b == kSe) {
            state_ = State::kData;
          } else {
            const std::uint8_t one[1] = {b};
            receive(one, 1, data, reply);
          }
        }
        break;
    }
  }
}

void TelnetStream::option(std::uint8_t verb, std::uint8_t opt, std::vector<std::uint8_t>& reply) {
  switch (verb) {
    case kDo:
      if (!wantLocal(opt)) {
        appendCommand(reply, kWont, opt);
      } else if (localAsked_[opt]) {
        localAsked_[opt] = false;
        localOn_[opt] = true;
      } else if (!localOn_[opt]) {
        localOn_[opt] = true;
        appendCommand(reply, kWill, opt);
      }
      if (opt == kComPortOption && localOn_[opt]) comPort_ = Agreement::kAgreed;
      break;
    case kDont:
      if (localAsked_[opt]) {
        localAsked_[opt] = false;
        localOn_[opt] = false;
      } else if (localOn_[opt]) {
        localOn_[opt] = false;
        appendCommand(reply, kWont, opt);
      }
      if (opt == kComPortOption) comPort_ = Agreement::kRefused;
      break;
    case kWill:
      if (!wantRemote(opt)) {
        appendCommand(reply, kDont, opt);
      } else if (remoteAsked_[opt]) {
        remoteAsked_[opt] = false;
        remoteOn_[opt] = true;
      } else if (!remoteOn_[opt]) {
        remoteOn_[opt] = true;
        appendCommand(reply, kDo, opt);
      }
      break;
    case kWont:
      if (remoteAsked_[opt]) {
        remoteAsked_[opt] = false;
        remoteOn_[opt] = false;
      } else if (remoteOn_[opt]) {
        remoteOn_[opt] = false;
        appendCommand(reply, kDont, opt);
      }
      break;
    default:
      break;
  }
}

void TelnetStream::subnegotiation() {
  if (sub_.size() < 3 || sub_[0] != kComPortOption || sub_[1] < kServerReply) return;
  const unsigned command = sub_[1] - kServerReply;
  if (command >= reported_.size()) return;
  const std::size_t width = command == kSetBaudRate ? 4 : 1;
  if (sub_.size() < 2 + width) return;
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < width; ++i) value = (value << 8) | sub_[2 + i];
  reported_[command] = value;
}

std::optional<std::uint32_t> TelnetStream::reported(std::uint8_t command) const {
  if (command >= reported_.size()) return std::nullopt;
  return reported_[command];
}

void TelnetStream::forget(std::uint8_t command) {
  if (command < reported_.size()) reported_[command].reset();
}

}  // namespace kordel::telnet
