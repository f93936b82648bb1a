// Real-time monitoring: the line-state reply of the PBX rendered as text lines.
//
// The reply to the line-state request is a sequence of groups: a count byte n, then n entries
// of three bytes (kind, index, state). Each group becomes one line of the snapshot that
// PbxLink::queryLineStates keeps in stateLines/stateLineCount and that the real-time window,
// its log and kordel-cli show.
//
// May use: link/ (coding, the reply buffer), files/ (the text codec). No Qt.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "link/pbx_link.h"

namespace kordel {

// Entry kinds of the line-state reply.
inline constexpr std::uint8_t kStateKindLine = 0x44;       // "АЛ", a subscriber line
inline constexpr std::uint8_t kStateKindDf = 0x45;         // "Дф", shown as received
inline constexpr std::uint8_t kStateKindTrunk = 0x46;      // "СЛ", a trunk line
inline constexpr std::uint8_t kStateKindBroadcast = 0x47;  // "ГГС", the loudspeaker line

// One entry as the window shows it (Windows-1251): label, number, "(", state, ")", three
// spaces. Trunks are numbered by trunkNumber, every other kind by lineNumber of `model`;
// an unknown kind is labelled "???".
std::string renderLineStateEntry(std::string_view model, std::uint8_t kind, std::uint8_t index,
                                 std::uint8_t state);

// Walks a line-state reply of `replyLength` bytes (-1: no length byte came, 0: empty reply)
// and fills `lines` from slot 0 with one line per group; returns the number of lines.
// Bytes at or beyond replyLength read as 0, whatever the buffer holds there. The first group
// is always taken; the walk ends at the next group whose count byte is 0, at the end of the
// 255-byte buffer, or after kMaxStateLines groups. An entry that would cross the end of the
// buffer is not rendered. An empty reply gives no lines.
unsigned walkLineStates(const ReplyBuffer& reply, int replyLength, std::string_view model,
                        std::array<std::string, kMaxStateLines>& lines);

}  // namespace kordel
