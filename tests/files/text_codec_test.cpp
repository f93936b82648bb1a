#include "files/text_codec.h"

#include <gtest/gtest.h>

#include <string>

namespace kordel {
namespace {

// Every byte of the upper half as the code page defines it; 0x98 has no character.
constexpr const char* kUpperHalfUtf8 =
    "ЂЃ‚ѓ„…†‡€‰Љ‹ЊЌЋЏђ‘’“”•–—\uFFFD™љ›њќћџ\u00A0ЎўЈ¤Ґ¦§Ё©Є«¬\u00AD®Ї°±Ііґµ¶·ё№є»јЅѕї"
    "АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯабвгдежзийклмнопрстуфхцчшщъыьэюя";

std::string byteRange(int first, int last) {
  std::string bytes;
  for (int b = first; b <= last; ++b) bytes += static_cast<char>(b);
  return bytes;
}

TEST(TextCodecTest, UpperHalfMapsToTheCodePage) {
  EXPECT_EQ(cp1251ToUtf8(byteRange(0x80, 0xFF)), kUpperHalfUtf8);
  std::string back = byteRange(0x80, 0xFF);
  back[0x98 - 0x80] = '?';
  EXPECT_EQ(utf8ToCp1251(kUpperHalfUtf8), back);
}

TEST(TextCodecTest, EveryDefinedByteSurvivesTheRoundTrip) {
  std::string bytes;
  for (int b = 0x00; b <= 0xFF; ++b) {
    if (b != 0x98) bytes += static_cast<char>(b);
  }
  ASSERT_EQ(bytes.size(), 255u);
  EXPECT_EQ(utf8ToCp1251(cp1251ToUtf8(bytes)), bytes);
  // Each byte alone, so that a fault in one position cannot hide behind the others.
  for (char c : bytes) {
    const std::string one(1, c);
    EXPECT_EQ(utf8ToCp1251(cp1251ToUtf8(one)), one)
        << "byte 0x" << std::hex << (static_cast<unsigned>(c) & 0xFF);
  }
}

TEST(TextCodecTest, AsciiPassesUnchanged) {
  const std::string ascii = byteRange(0x00, 0x7F);
  EXPECT_EQ(cp1251ToUtf8(ascii), ascii);
  EXPECT_EQ(utf8ToCp1251(ascii), ascii);
}

TEST(TextCodecTest, RussianLiteralsBecomeWindows1251) {
  EXPECT_EQ(ru("Ошибка!"), "\xCE\xF8\xE8\xE1\xEA\xE0\x21");
  EXPECT_EQ(ru("Ёё №"), "\xA8\xB8\x20\xB9");
  EXPECT_EQ(ru("В буфере : "), "\xC2\x20\xE1\xF3\xF4\xE5\xF0\xE5\x20\x3A\x20");
  EXPECT_EQ(cp1251ToUtf8("\xCE\xF8\xE8\xE1\xEA\xE0\x21"), "Ошибка!");
}

struct Utf8Case {
  const char* name;
  std::string utf8;
  std::string expected;
};

class Utf8ToCp1251Test : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8ToCp1251Test, Converts) {
  EXPECT_EQ(utf8ToCp1251(GetParam().utf8), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    OutsideTheCodePageAndMalformed, Utf8ToCp1251Test,
    ::testing::Values(Utf8Case{"Latin", "caf\u00E9", "caf?"},
                      Utf8Case{"Cjk", "a\u65E5\u672Cb", "a??b"},
                      Utf8Case{"FourByteCharacterIsOneMark", "x\U0001F600y", "x?y"},
                      Utf8Case{"ReplacementCharacter", "\uFFFD", "?"},
                      Utf8Case{"LoneContinuationByte",
                               "a\x80"
                               "b",
                               "a?b"},
                      Utf8Case{"InvalidLeadBytes", "\xFF\xFE", "??"},
                      Utf8Case{"LeadByteFollowedByAscii",
                               "\xD0"
                               "A",
                               "?A"},
                      Utf8Case{"LeadByteFollowedByLeadByte", "\xD0\xD0\x9E", "?\xCE"},
                      Utf8Case{"Empty", "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TextCodecTest, TruncatedSequenceAtTheEndIsSafe) {
  // Each prefix of a multi-byte character at the very end of the text; ASan watches the reads.
  const std::string characters[] = {"Ж", "€", "\U0001F600"};
  for (const std::string& full : characters) {
    for (std::size_t cut = 1; cut < full.size(); ++cut) {
      const std::string text = "ok" + full.substr(0, cut);
      const std::string out = utf8ToCp1251(text);
      ASSERT_GE(out.size(), 3u) << text;
      EXPECT_EQ(out.substr(0, 2), "ok");
      EXPECT_EQ(out.find_first_not_of('?', 2), std::string::npos) << "cut " << cut;
    }
  }
}

TEST(TextCodecTest, OverlongEncodingIsNotDecoded) {
  // An overlong "/" is malformed UTF-8: it must not turn into a path separator.
  for (const std::string text : {"a\xC0\xAF"
                                 "b",
                                 "a\xE0\x80\xAF"
                                 "b"}) {
    const std::string out = utf8ToCp1251(text);
    EXPECT_EQ(out.find('/'), std::string::npos) << "decoded to \"" << out << "\"";
    EXPECT_EQ(out.front(), 'a');
    EXPECT_EQ(out.back(), 'b');
  }
}

TEST(QuoteForMessageTest, EscapesControlBytesAndCutsLongText) {
  const std::string letters = ru("Звонки №5 ") + "\x98\xAD\\";  // letters, 0x98, soft hyphen
  const struct {
    const char* name;
    std::string text;
    std::string shown;
  } cases[] = {
      {"plain", "calls.txt", "calls.txt"},
      {"Windows-1251 letters and backslashes stay", letters, letters},
      {"escape sequence", "\x1B[2J\x1B]0;x\x07", "\\x1B[2J\\x1B]0;x\\x07"},
      {"NUL, CR, LF, TAB, DEL", std::string("a\0\r\n\t\x7F", 6), "a\\x00\\x0D\\x0A\\x09\\x7F"},
      {"200 bytes are not cut", std::string(200, 'x'), std::string(200, 'x')},
      {"201 bytes are", std::string(201, 'x'), std::string(200, 'x') + "..."},
      {"cut before escaping", std::string(199, 'x') + "\x1B\x1B",
       std::string(199, 'x') + "\\x1B..."},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(quoteForMessage(c.text), c.shown) << c.name;
  }
  EXPECT_EQ(quoteForMessage("abcdef", 3), "abc...");
}

}  // namespace
}  // namespace kordel
