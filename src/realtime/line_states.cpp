// The line-state query of PbxLink and the walk over its reply.
#include "realtime/line_states.h"

#include "files/text_codec.h"
#include "link/coding.h"
#include "link/serial_port.h"

namespace kordel {

namespace {

inline constexpr int kEntrySize = 3;  // kind, index, state

const std::string& labelOf(std::uint8_t kind) {
  static const std::string kLine = ru("АЛ");
  static const std::string kDf = ru("Дф");
  static const std::string kTrunk = ru("СЛ");
  static const std::string kBroadcast = ru("ГГС");
  static const std::string kUnknown = "???";
  switch (kind) {
    case kStateKindLine:
      return kLine;
    case kStateKindDf:
      return kDf;
    case kStateKindTrunk:
      return kTrunk;
    case kStateKindBroadcast:
      return kBroadcast;
    default:
      return kUnknown;
  }
}

}  // namespace

std::string renderLineStateEntry(std::string_view model, std::uint8_t kind, std::uint8_t index,
                                 std::uint8_t state) {
  // The index is used as the PBX sends it; the family rules turn it into the shown number.
  const int number = kind == kStateKindTrunk ? trunkNumber(model, index) : lineNumber(model, index);
  std::string text = labelOf(kind);
  text += std::to_string(number);
  text += '(';
  text += std::to_string(state);
  text += ")   ";
  return text;
}

unsigned walkLineStates(const ReplyBuffer& reply, int replyLength, std::string_view model,
                        std::array<std::string, kMaxStateLines>& lines) {
  if (replyLength == 0) return 0;
  // A reply shorter than its counts promise is read on from zero bytes.
  auto byteAt = [&](int i) -> std::uint8_t { return i < replyLength ? reply[i] : 0; };
  unsigned count = 0;
  int pos = 0;
  for (;;) {
    const int entries = byteAt(pos);
    std::string& line = lines[count];
    line.clear();
    for (int k = 0; k < entries; ++k) {
      const int at = pos + 1 + kEntrySize * k;
      if (at + kEntrySize > kReplySize) break;  // would cross the end of the buffer
      line += renderLineStateEntry(model, byteAt(at), byteAt(at + 1), byteAt(at + 2));
    }
    ++count;
    pos += 1 + kEntrySize * entries;
    if (pos >= kReplySize || byteAt(pos) == 0 || count >= kMaxStateLines) break;
  }
  return count;
}

int PbxLink::queryLineStates() {
  int handshakeResult = kNoHandshake;
  try {
    port->purgeInput();
    handshakeResult = handshake();
  } catch (const ECommError&) {
    return kLineStatePortError;
  }
  if (handshakeResult != kOk) return kNoHandshake;

  ReplyBuffer reply{};
  int replyLength = -1;
  const std::uint8_t data = kLineStateData;
  if (exchange(kLineStateCommand, /*verify=*/true, /*withPayload=*/true, &data, 1,
               kLineStateSubcommand, reply, replyLength) != kOk) {
    // The exchange itself failed: the previous snapshot stays, so the window keeps showing
    // (and logging) the last known state.
    return kOk;
  }
  stateLineCount = walkLineStates(reply, replyLength, model, stateLines);
  return kOk;
}

}  // namespace kordel
