#include "document/textio.h"

#include <gtest/gtest.h>

namespace lq {
namespace {

TEST(TextIo, EveryEncodingRoundTripsEveryPlane) {
  const std::string text = "A é 日 😀\r\nline two";
  for (TextEncoding e : {TextEncoding::Utf8, TextEncoding::Utf8Bom, TextEncoding::Utf16LE, TextEncoding::Utf16BE}) {
    const DecodedText back = DecodeText(EncodeText(text, e));
    EXPECT_EQ(back.utf8, text) << int(e);
    EXPECT_EQ(back.encoding, e);
  }
  EXPECT_EQ(EncodeText("é", TextEncoding::Utf16BE), std::string("\xFE\xFF\x00\xE9", 4));
  EXPECT_EQ(EncodeText("😀", TextEncoding::Utf16LE), std::string("\xFF\xFE\x3D\xD8\x00\xDE", 6));
}

TEST(TextIo, BrokenInputBecomesValidText) {
  struct Case {
    std::string bytes;
    std::string text;
  };
  for (const Case& c : std::vector<Case>{
           // Lone surrogates and a dangling byte in UTF-16.
           {std::string("\xFF\xFE\x00\xD8" "A\x00", 6), "\xEF\xBF\xBD" "A"},
           {std::string("\xFF\xFE\x00\xDC\x41", 5), "\xEF\xBF\xBD\xEF\xBF\xBD"},
           // Invalid UTF-8 bytes are read as Windows-1252, valid sequences stay as they are.
           {"\xE9t\xE9 \xC3\xA9", "été é"},
           {"\x93quoted\x94", "“quoted”"},
           {"\xED\xA0\x80", "í\xC2\xA0\xE2\x82\xAC"},  // an encoded surrogate is not UTF-8
           {"\xF4\x90\x80\x80", "ô\xC2\x90€€"},         // past U+10FFFF
           {"\xC0\xAF", "À¯"},                          // overlong
       }) {
    EXPECT_EQ(DecodeText(c.bytes).utf8, c.text);
  }
}

TEST(TextIo, LinesSplitAtAnyBreak) {
  EXPECT_EQ(SplitLines("a\r\nb\nc\rd"), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitLines("a\n"), std::vector<std::string>{"a"});
  EXPECT_EQ(SplitLines("a\n\n"), (std::vector<std::string>{"a", ""}));
  EXPECT_EQ(SplitLines("\r\n"), std::vector<std::string>{""});
  EXPECT_EQ(SplitLines(""), std::vector<std::string>{});
  EXPECT_EQ(TrimControl("\t\r\n \x01x y\x1F "), "x y");
}

}  // namespace
}  // namespace lq
