// Files and formats: the one Windows-1251 <-> UTF-8 codec.
//
// The core keeps every text as Windows-1251 bytes (file formats are defined in that code page
// and their widths are byte widths). Text is converted only for the windows and the terminal.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kordel {

// Windows-1251 bytes to UTF-8. The one undefined byte (0x98) becomes U+FFFD.
std::string cp1251ToUtf8(std::string_view text);
// UTF-8 to Windows-1251. Characters the code page lacks, and malformed UTF-8, become '?'.
std::string utf8ToCp1251(std::string_view text);

// A Russian literal of the program, written in UTF-8 in the source, as Windows-1251 bytes.
// Use as: static const std::string kCaption = ru("Ошибка!");
inline std::string ru(std::string_view utf8) { return utf8ToCp1251(utf8); }

// Input shown inside a message (a file name, a line of a file), so that whatever the input
// holds the message stays short and reaches the terminal or the window as plain text: bytes
// below 0x20 and 0x7F become \xNN (e.g. \x1B), and text longer than `limit` bytes is cut there
// and ends in "...". Every other byte, Windows-1251 letters included, stays as it is.
inline constexpr std::size_t kMessageQuoteLimit = 200;
std::string quoteForMessage(std::string_view cp1251Text,
                            std::size_t limit = kMessageQuoteLimit);

}  // namespace kordel
