#include "script/parser.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>

namespace lq {

// Readable failures for whole-command comparisons.
void PrintTo(const TScriptCommand& c, std::ostream* os) {
  *os << "{kind " << int(c.Kind) << ", line " << c.LineNumber << ", effect " << c.EffectNumber << " [" << c.P1 << ' '
      << c.P2 << ' ' << c.P3 << ' ' << c.P4 << ' ' << c.P5 << "], slot '" << c.SlotName << "', blend '" << c.BlendSlot
      << "' " << c.BlendOpacity << " mode " << int(c.BlendMode) << ", texture #" << c.TextureIndex << ' '
      << c.TextureStrength << ' ' << c.TextureScale << ", frame '" << c.FrameStyle << "' #" << c.FrameIndex << ' '
      << c.FrameSize << ' ' << std::hex << c.FrameColor << std::dec << " brush " << c.FrameBrushSize << ", text "
      << c.TextX << (c.TextXPercent ? "%" : "") << ' ' << c.TextY << (c.TextYPercent ? "%" : "") << " '"
      << c.TextString << "' color " << std::hex << c.TextColorOverride << std::dec << " size " << c.TextSizeOverride
      << " font '" << c.TextFontOverride << "' style '" << c.TextStyleOverride << "' shadow " << c.TextShadowOverride
      << ", FONT '" << c.FontName << "' " << c.FontSize << " '" << c.FontStyleStr << "' " << std::hex << c.FontColor
      << std::dec << ", resize " << c.ResizeW << (c.ResizeWPercent ? "%" : "") << ' ' << c.ResizeH
      << (c.ResizeHPercent ? "%" : "") << "}";
}

namespace {

TScriptParseResult Parse(std::initializer_list<std::string> lines) { return ParseScript(std::vector<std::string>(lines)); }

// A command of the given kind on line 1 with the initial values, then adjusted.
TScriptCommand Cmd(TScriptCommandKind kind, const std::function<void(TScriptCommand&)>& set = {}) {
  TScriptCommand c;
  c.Kind = kind;
  c.LineNumber = 1;
  if (set) set(c);
  return c;
}

struct CommandCase {
  std::string line;
  TScriptCommand expected;
};

void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.line; }

class ParsesTo : public ::testing::TestWithParam<CommandCase> {};

TEST_P(ParsesTo, OneCommandWithTheseFields) {
  const CommandCase& tc = GetParam();
  TScriptParseResult r = Parse({tc.line});
  EXPECT_TRUE(r.Ok) << tc.line << ": " << (r.Errors.empty() ? "" : r.Errors[0]);
  ASSERT_EQ(r.Commands.size(), 1u) << tc.line;
  EXPECT_EQ(r.Commands[0], tc.expected) << tc.line;
}

auto Effect(int n, int p1, int p2, int p3, int p4, int p5) {
  return Cmd(sckEffect, [=](TScriptCommand& c) {
    c.EffectNumber = n;
    c.P1 = p1, c.P2 = p2, c.P3 = p3, c.P4 = p4, c.P5 = p5;
  });
}

INSTANTIATE_TEST_SUITE_P(
    Keywords, ParsesTo,
    ::testing::Values(
        CommandCase{"RESET", Cmd(sckReset)}, CommandCase{"reset", Cmd(sckReset)},
        CommandCase{"   Reset \t ", Cmd(sckReset)}, CommandCase{"RESET # go", Cmd(sckReset)},
        CommandCase{"CLEAR", Cmd(sckClear, [](auto& c) { c.P1 = 1; })},
        CommandCase{"noclear", Cmd(sckClear, [](auto& c) { c.P1 = 0; })},
        CommandCase{"SWAP", Cmd(sckSwap, [](auto& c) { c.SlotName = "src"; })},
        CommandCase{"SWAP Other", Cmd(sckSwap, [](auto& c) { c.SlotName = "other"; })},
        CommandCase{"SAVE MySlot", Cmd(sckSave, [](auto& c) { c.SlotName = "myslot"; })},
        CommandCase{"LOAD myslot extra", Cmd(sckLoad, [](auto& c) { c.SlotName = "myslot"; })},
        CommandCase{"SAVE 'two words'", Cmd(sckSave, [](auto& c) { c.SlotName = "two words"; })}));

INSTANTIATE_TEST_SUITE_P(
    Effects, ParsesTo,
    ::testing::Values(CommandCase{"EFFECT 300 30 40 40 100 20", Effect(300, 30, 40, 40, 100, 20)},
                      CommandCase{"EFFECT Watercolor 30 40 40 100 20", Effect(300, 30, 40, 40, 100, 20)},
                      CommandCase{"effect watercolor 30 40 40 100 20", Effect(300, 30, 40, 40, 100, 20)},
                      CommandCase{"EFFECT \"Watercolor 2\" 90 20 55 20 55", Effect(301, 90, 20, 55, 20, 55)},
                      CommandCase{"EFFECT WATERCOLOR2 1 2 3 4 5", Effect(301, 1, 2, 3, 4, 5)},
                      CommandCase{"EFFECT 999 1 2 3 4 5", Effect(999, 1, 2, 3, 4, 5)},
                      CommandCase{"EFFECT 203 1 2 3 4 5 extra", Effect(203, 1, 2, 3, 4, 5)},
                      CommandCase{"EFFECT $12C -1 +2 0x10 $10 250", Effect(300, -1, 2, 16, 16, 250)},
                      CommandCase{"EFFECT 300 a b c d e", Effect(300, 0, 0, 0, 0, 0)},
                      CommandCase{"EFFECT 'Vintage / Sepia' 1.5 2 3 4 99999999999", Effect(402, 0, 2, 3, 4, 0)}));

auto Blend(const char* slot, float opacity, BlendMode mode) {
  return Cmd(sckBlend, [=](TScriptCommand& c) {
    c.BlendSlot = slot;
    c.BlendOpacity = opacity;
    c.BlendMode = mode;
  });
}

INSTANTIATE_TEST_SUITE_P(
    Blends, ParsesTo,
    ::testing::Values(CommandCase{"BLEND MySlot 70 multiply", Blend("myslot", 0.70f, BlendMode::Multiply)},
                      CommandCase{"BLEND myslot 150", Blend("myslot", 1.0f, BlendMode::SrcOver)},
                      CommandCase{"BLEND myslot -5", Blend("myslot", 0.0f, BlendMode::SrcOver)},
                      CommandCase{"BLEND myslot x", Blend("myslot", 0.5f, BlendMode::SrcOver)},
                      CommandCase{"BLEND myslot 30 bogus", Blend("myslot", 0.30f, BlendMode::SrcOver)},
                      CommandCase{"BLEND a 50 NORMAL", Blend("a", 0.5f, BlendMode::SrcOver)},
                      CommandCase{"BLEND a 12.5 SoftLight", Blend("a", 0.125f, BlendMode::SoftLight)},
                      // A comma is a decimal separator everywhere: the script means the same on every machine.
                      CommandCase{"BLEND a 12,5 difference", Blend("a", 0.125f, BlendMode::Difference)}));

auto Texture(int index, int strength, float scale) {
  return Cmd(sckTexture, [=](TScriptCommand& c) {
    c.TextureIndex = index;
    c.TextureStrength = strength;
    c.TextureScale = scale;
  });
}

INSTANTIATE_TEST_SUITE_P(
    Textures, ParsesTo,
    ::testing::Values(CommandCase{"TEXTURE", Texture(0, -1, -1.0f)},
                      CommandCase{"TEXTURE #2 30 1", Texture(2, 30, 1.0f)},
                      CommandCase{"TEXTURE #2 30", Texture(2, -1, -1.0f)},  // strength and scale only as a pair
                      CommandCase{"TEXTURE 30 1", Texture(0, 30, 1.0f)},
                      CommandCase{"TEXTURE 30 1,25", Texture(0, 30, 1.25f)},
                      // A colour-like token is no index: strength gets its (failed) integer, scale the 30.
                      CommandCase{"TEXTURE #FF0000 30 1", Texture(0, -1, 30.0f)},
                      CommandCase{"TEXTURE #ff0000 30 1", Texture(0, -1, 30.0f)},
                      CommandCase{"TEXTURE #-3", Texture(-3, -1, -1.0f)},
                      CommandCase{"TEXTURE #x 40 abc", Texture(-1, 40, -1.0f)},
                      CommandCase{"TEXTURE # 40 2", Texture(0, -1, 40.0f)}));

auto Frame(int index, int size, TAlphaColor color) {
  return Cmd(sckFrame, [=](TScriptCommand& c) {
    c.FrameIndex = index;
    c.FrameSize = size;
    c.FrameColor = color;
  });
}

auto BrushFrame(int width, TAlphaColor color, int brush) {
  return Cmd(sckFrame, [=](TScriptCommand& c) {
    c.FrameStyle = "brushstrokes";
    c.FrameSize = width;
    c.FrameColor = color;
    c.FrameBrushSize = brush;
  });
}

INSTANTIATE_TEST_SUITE_P(
    Frames, ParsesTo,
    ::testing::Values(CommandCase{"FRAME", Frame(-1, -1, 0)}, CommandCase{"FRAME #2 20", Frame(2, 20, 0)},
                      CommandCase{"FRAME #1 30 #FFFFFFFF", Frame(1, 30, 0xFFFFFFFF)},
                      CommandCase{"FRAME 25 00FF00", Frame(-1, 25, 0xFF00FF00)},
                      CommandCase{"FRAME #3", Frame(3, -1, 0)}, CommandCase{"FRAME wide", Frame(-1, -1, 0)},
                      CommandCase{"FRAME brushstrokes", BrushFrame(-1, 0, 40)},
                      CommandCase{"FRAME BRUSHSTROKES 40 #FF000000 brush=80", BrushFrame(40, 0xFF000000, 80)},
                      CommandCase{"FRAME brushstrokes 20 brush=15", BrushFrame(20, 0, 15)},
                      CommandCase{"FRAME brushstrokes 20 BRUSH=5", BrushFrame(20, 0, 5)},
                      CommandCase{"FRAME brushstrokes wide", BrushFrame(60, 0, 40)},
                      CommandCase{"FRAME brushstrokes 20 brush=big", BrushFrame(20, 0, 40)},
                      // The parser keeps sizes as written; the executor clamps and checks them.
                      CommandCase{"FRAME brushstrokes 2000000000 brush=500", BrushFrame(2000000000, 0, 500)}));

auto Text(float x, bool xp, float y, bool yp, const char* s, const std::function<void(TScriptCommand&)>& more = {}) {
  return Cmd(sckText, [=](TScriptCommand& c) {
    c.TextX = x, c.TextXPercent = xp, c.TextY = y, c.TextYPercent = yp;
    c.TextString = s;
    if (more) more(c);
  });
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParsesTo,
    ::testing::Values(
        CommandCase{"TEXT 50% 98% 'My Art' shadow=on",
                    Text(50, true, 98, true, "My Art", [](auto& c) { c.TextShadowOverride = 1; })},
        CommandCase{"TEXT 120 80 'Title' size=72 color=#FFFFFF00",
                    Text(120, false, 80, false, "Title", [](auto& c) {
                      c.TextSizeOverride = 72;
                      c.TextColorOverride = 0xFFFFFF00;
                    })},
        CommandCase{"TEXT 1 1 ''", Text(1, false, 1, false, "")},
        CommandCase{"TEXT 1 1 Hello world", Text(1, false, 1, false, "Hello")},
        CommandCase{"TEXT 10 10 'x' color=nonsense", Text(10, false, 10, false, "x")},
        CommandCase{"TEXT 10,5 2.5% \"it's\" shadow=off font='Serif' STYLE=bold size=1,5 other=3 loose",
                    Text(10.5f, false, 2.5f, true, "it's", [](auto& c) {
                      c.TextShadowOverride = 0;
                      c.TextFontOverride = "Serif";
                      c.TextStyleOverride = "bold";
                      c.TextSizeOverride = 1.5f;
                    })},
        CommandCase{"TEXT abc % 'x' size=big", Text(0, false, 0, true, "x")}));

auto Font(const char* name, float size, const char* style, TAlphaColor color) {
  return Cmd(sckFont, [=](TScriptCommand& c) {
    c.FontName = name;
    c.FontSize = size;
    c.FontStyleStr = style;
    c.FontColor = color;
  });
}

INSTANTIATE_TEST_SUITE_P(
    Fonts, ParsesTo,
    ::testing::Values(CommandCase{"FONT \"Times New Roman\" 36 italic", Font("Times New Roman", 36, "italic", 0)},
                      CommandCase{"FONT Arial big", Font("Arial", 24, "", 0)},
                      CommandCase{"FONT Arial 48 bold #FFFFFFFF", Font("Arial", 48, "bold", 0xFFFFFFFF)},
                      CommandCase{"FONT Georgia 30 bold #FFFF0000", Font("Georgia", 30, "bold", 0xFFFF0000)},
                      CommandCase{"FONT Arial 12,5", Font("Arial", 12.5f, "", 0)}));

auto Resize(float w, bool wp, float h, bool hp) {
  return Cmd(sckResize, [=](TScriptCommand& c) {
    c.ResizeW = w, c.ResizeWPercent = wp, c.ResizeH = h, c.ResizeHPercent = hp;
  });
}

INSTANTIATE_TEST_SUITE_P(Resizes, ParsesTo,
                         ::testing::Values(CommandCase{"RESIZE 50% 50%", Resize(50, true, 50, true)},
                                           CommandCase{"RESIZE 1920 1080", Resize(1920, false, 1080, false)},
                                           CommandCase{"RESIZE 0.4 10", Resize(0.4f, false, 10, false)},
                                           CommandCase{"RESIZE 12,5% 1e3", Resize(12.5f, true, 1000, false)}));

struct ErrorCase {
  std::string line;
  std::string message;
  bool stillAppended;
};

void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.line; }

class ParseError : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ParseError, GivesThisMessage) {
  const ErrorCase& tc = GetParam();
  // Two lines first, so the message must carry the line's own number.
  TScriptParseResult r = Parse({"# comment", "", tc.line});
  EXPECT_FALSE(r.Ok);
  ASSERT_EQ(r.Errors.size(), 1u) << tc.line;
  EXPECT_EQ(r.Errors[0], tc.message);
  EXPECT_EQ(r.Commands.size(), tc.stillAppended ? 1u : 0u) << tc.line;
}

INSTANTIATE_TEST_SUITE_P(
    Messages, ParseError,
    ::testing::Values(
        ErrorCase{"EFFECT 300 30 40", "Line 3: EFFECT requires 6 arguments (id P1 P2 P3 P4 P5)", false},
        ErrorCase{"EFFECT Foo 1 2 3 4 5", "Line 3: Unknown effect \"Foo\"", false},
        ErrorCase{"EFFECT 'Watercolor 3' 1 2 3 4 5", "Line 3: Unknown effect \"Watercolor 3\"", false},
        ErrorCase{"SAVE", "Line 3: SAVE requires a slot name", false},
        ErrorCase{"load", "Line 3: LOAD requires a slot name", false},
        ErrorCase{"BLEND a", "Line 3: BLEND requires at least slot and opacity", false},
        ErrorCase{"FRAME #1 30 white", "Line 3: Invalid hex color \"white\"", true},
        ErrorCase{"FRAME 30 #FFFFFFF", "Line 3: Invalid hex color \"#FFFFFFF\"", true},
        ErrorCase{"FRAME brushstrokes 20 blue", "Line 3: Invalid color or option \"blue\"", true},
        ErrorCase{"FRAME brushstrokes 20 #FFFFFFFF 80", "Line 3: Unknown option \"80\"", true},
        ErrorCase{"TEXT 1 1", "Line 3: TEXT requires at least x, y, and a string", false},
        ErrorCase{"FONT Arial", "Line 3: FONT requires at least name and size", false},
        ErrorCase{"FONT Arial 48 bold red", "Line 3: Invalid hex color \"red\"", true},
        ErrorCase{"RESIZE 100", "Line 3: RESIZE requires width and height", false},
        ErrorCase{"RESIZE 0 100", "Line 3: RESIZE dimensions must be positive", false},
        ErrorCase{"RESIZE -5 100", "Line 3: RESIZE dimensions must be positive", false},
        ErrorCase{"RESIZE abc 100", "Line 3: RESIZE dimensions must be positive", false},
        ErrorCase{"RESIZE 100 0%", "Line 3: RESIZE dimensions must be positive", false},
        ErrorCase{"Bogus 1 2", "Line 3: Unknown command \"Bogus\"", false},
        ErrorCase{"'EFFECT 300' 1 2 3 4 5 6", "Line 3: Unknown command \"EFFECT 300\"", false}));

TEST(ParseScript, CollectsEveryErrorInLineOrderAndNumbersLinesFromTheText) {
  TScriptParseResult r = Parse({
      "EFFECT 300 30 40 40 100 20",  // 1
      "SAVE",                        // 2: error
      "",                            // 3: blank lines count
      "  # a comment",               // 4
      "BLEND",                       // 5: error
      "FRAME 10 nope",               // 6: error, still a command
      "RESET",                       // 7
  });
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(r.Errors, (std::vector<std::string>{"Line 2: SAVE requires a slot name",
                                                 "Line 5: BLEND requires at least slot and opacity",
                                                 "Line 6: Invalid hex color \"nope\""}));
  ASSERT_EQ(r.Commands.size(), 3u);
  EXPECT_EQ(r.Commands[0].LineNumber, 1);
  EXPECT_EQ(r.Commands[1].LineNumber, 6);
  EXPECT_EQ(r.Commands[2].LineNumber, 7);
}

TEST(ParseScript, OneLineCanCarryTwoOptionErrors) {
  TScriptParseResult r = Parse({"FRAME brushstrokes 20 blue 80"});
  EXPECT_EQ(r.Errors, (std::vector<std::string>{"Line 1: Invalid color or option \"blue\"",
                                                 "Line 1: Unknown option \"80\""}));
  EXPECT_EQ(r.Commands.size(), 1u);
}

TEST(ParseScript, OnlyBlankAndCommentLinesGiveAnEmptyValidScript) {
  TScriptParseResult r = Parse({"", "   ", "\t\r", "# RESET", "#"});
  EXPECT_TRUE(r.Ok);
  EXPECT_TRUE(r.Commands.empty());
  EXPECT_TRUE(Parse({}).Ok);
}

TEST(ParseScript, TextWithCarriageReturnsAndTabsAtTheEndsIsTrimmed) {
  TScriptParseResult r = Parse({"\tRESIZE 50% 50%\r", "\x01SWAP\x1F"});
  ASSERT_TRUE(r.Ok) << r.Errors[0];
  ASSERT_EQ(r.Commands.size(), 2u);
  EXPECT_EQ(r.Commands[0].Kind, sckResize);
  EXPECT_EQ(r.Commands[1].Kind, sckSwap);
}

struct TokenCase {
  std::string line;
  std::vector<std::string> tokens;
};

void PrintTo(const TokenCase& c, std::ostream* os) { *os << c.line; }

class Tokenizer : public ::testing::TestWithParam<TokenCase> {};

TEST_P(Tokenizer, SplitsLikeThis) { EXPECT_EQ(TokenizeLine(GetParam().line), GetParam().tokens); }

INSTANTIATE_TEST_SUITE_P(
    Lines, Tokenizer,
    ::testing::Values(TokenCase{"", {}}, TokenCase{"   ", {}}, TokenCase{"  lead   trail  ", {"lead", "trail"}},
                      TokenCase{"a \"b c\" d", {"a", "b c", "d"}}, TokenCase{"a 'b \"c\"' d", {"a", "b \"c\"", "d"}},
                      TokenCase{"a \"unclosed text  ", {"a", "unclosed text"}},
                      TokenCase{"a b\"c d", {"a", "b\"c", "d"}}, TokenCase{"''", {""}},
                      TokenCase{"x \"y\"z", {"x", "y", "z"}}, TokenCase{"'it''s'", {"it", "s"}},
                      TokenCase{"a\tb c", {"a\tb", "c"}}, TokenCase{"font=\"Times New Roman\"", {"font=\"Times", "New", "Roman\""}},
                      TokenCase{"TEXT 1 1 '日本語 テキスト'", {"TEXT", "1", "1", "日本語 テキスト"}}));

TEST(ScriptWords, ColorsNumbersAndOptions) {
  struct ColorCase {
    const char* token;
    bool ok;
    TAlphaColor color;
  };
  for (const ColorCase& c : std::vector<ColorCase>{{"#FFFFFFFF", true, 0xFFFFFFFF},
                                                   {"#80FF0000", true, 0x80FF0000},
                                                   {"FF0000", true, 0xFFFF0000},
                                                   {"$00ff00", true, 0xFF00FF00},
                                                   {" #12345678 ", true, 0x12345678},
                                                   {"#FFF", false, 0},
                                                   {"#FFFFFFFFF", false, 0},
                                                   {"#GG0000", false, 0},
                                                   {"##FF0000", false, 0},
                                                   {"", false, 0},
                                                   {"#", false, 0}}) {
    TAlphaColor got = 0x12121212;
    EXPECT_EQ(ParseHexColor(c.token, got), c.ok) << c.token;
    if (c.ok) { EXPECT_EQ(got, c.color) << c.token; }
  }

  EXPECT_EQ(ParseNumberOrPercent("50%").Value, 50.0f);
  EXPECT_TRUE(ParseNumberOrPercent("50%").IsPercent);
  EXPECT_FALSE(ParseNumberOrPercent("50").IsPercent);
  EXPECT_EQ(ParseNumberOrPercent("0,5%").Value, 0.5f);
  EXPECT_EQ(ParseNumberOrPercent("%").Value, 0.0f);
  EXPECT_EQ(ParseNumberOrPercent("x%").Value, 0.0f);

  using KV = std::pair<std::string, std::string>;
  EXPECT_EQ(ParseOption("size=72"), KV("SIZE", "72"));
  EXPECT_EQ(ParseOption("Font='Serif'"), KV("FONT", "Serif"));
  EXPECT_EQ(ParseOption("font=\"x'"), KV("FONT", "\"x'"));
  EXPECT_EQ(ParseOption("k=\""), KV("K", "\""));
  EXPECT_EQ(ParseOption("a=b=c"), KV("A", "b=c"));
  EXPECT_EQ(ParseOption("plain"), KV("", "plain"));
  EXPECT_EQ(ParseOption("=v"), KV("", "v"));

  EXPECT_EQ(ParseBlendMode(" hardlight "), BlendMode::HardLight);
  EXPECT_EQ(ParseBlendMode("Screen"), BlendMode::Screen);
  EXPECT_EQ(ParseBlendMode("overlay"), BlendMode::Overlay);
  EXPECT_EQ(ParseBlendMode("darken"), BlendMode::Darken);
  EXPECT_EQ(ParseBlendMode("LIGHTEN"), BlendMode::Lighten);
  EXPECT_EQ(ParseBlendMode("color"), BlendMode::SrcOver);

  EXPECT_EQ(ParseFontStyle("bold"), (TFontStyle{700, 5, false}));
  EXPECT_EQ(ParseFontStyle("Italic"), (TFontStyle{400, 5, true}));
  EXPECT_EQ(ParseFontStyle("BOLDITALIC"), (TFontStyle{700, 5, true}));
  EXPECT_EQ(ParseFontStyle("regular"), (TFontStyle{400, 5, false}));
  EXPECT_EQ(ParseFontStyle("heavy"), (TFontStyle{400, 5, false}));

  EXPECT_EQ(EffectDisplayName(300), "Watercolor");
  EXPECT_EQ(EffectDisplayName(402), "Vintage / Sepia");
  EXPECT_EQ(EffectDisplayName(203), "Effect 203");
  EXPECT_EQ(EffectDisplayName(999), "Effect 999");
  EXPECT_EQ(ParseEffectId(" stochasticpainting "), 307);
  EXPECT_EQ(ParseEffectId("Black & White"), 200);
  EXPECT_EQ(ParseEffectId("Comic print"), -1);
}

TEST(ScriptNumbers, IntegersAndDecimalsReadTheSameEverywhere) {
  struct IntCase {
    const char* text;
    bool ok;
    int32_t value;
  };
  for (const IntCase& c : std::vector<IntCase>{{"42", true, 42},
                                               {"+5", true, 5},
                                               {"-17", true, -17},
                                               {"$FF", true, 255},
                                               {"0x10", true, 16},
                                               {"-$10", true, -16},
                                               {"2147483647", true, 2147483647},
                                               {"-2147483648", true, INT32_MIN},
                                               {"2147483648", false, 0},
                                               {"$80000000", false, 0},
                                               {"1.0", false, 0},
                                               {"1e3", false, 0},
                                               {"0x", false, 0},
                                               {"", false, 0},
                                               {"-", false, 0},
                                               {"12a", false, 0}}) {
    int32_t v = -99;
    EXPECT_EQ(TryParseScriptInt(c.text, v), c.ok) << c.text;
    if (c.ok) { EXPECT_EQ(v, c.value) << c.text; }
  }

  struct DecCase {
    const char* text;
    bool ok;
    float value;
  };
  for (const DecCase& c : std::vector<DecCase>{{"0.5", true, 0.5f},
                                               {"0,5", true, 0.5f},
                                               {"-2,25", true, -2.25f},
                                               {"+3", true, 3.0f},
                                               {".5", true, 0.5f},
                                               {"5.", true, 5.0f},
                                               {"1e3", true, 1000.0f},
                                               {"2,5E-1", true, 0.25f},
                                               {"1.2.3", false, 0},
                                               {"1,2,3", false, 0},
                                               {"1 000", false, 0},
                                               {".", false, 0},
                                               {"1e", false, 0},
                                               {"nan", false, 0},
                                               {"inf", false, 0},
                                               {"0x10", false, 0},
                                               {"1e39", false, 0},
                                               {"", false, 0}}) {
    float v = -99;
    EXPECT_EQ(TryParseScriptDecimal(c.text, v), c.ok) << c.text;
    if (c.ok) { EXPECT_FLOAT_EQ(v, c.value) << c.text; }
  }

  EXPECT_EQ(FormatScriptNumber(1.5, 2), "1.5");
  EXPECT_EQ(FormatScriptNumber(2.0, 2), "2");
  EXPECT_EQ(FormatScriptNumber(0.333, 2), "0.33");
  EXPECT_EQ(FormatScriptNumber(0.999, 2), "1");
  EXPECT_EQ(FormatScriptNumber(-0.001, 2), "0");
  EXPECT_EQ(FormatScriptNumber(36, 1), "36");
  EXPECT_EQ(FormatScriptNumber(12.5, 1), "12.5");
  EXPECT_EQ(FormatScriptNumber(1e6, 1), "1000000");
}

struct RenderCase {
  std::string rendered;
  std::string expected;
};

void PrintTo(const RenderCase& c, std::ostream* os) { *os << c.expected; }

class Renderer : public ::testing::TestWithParam<RenderCase> {};

TEST_P(Renderer, WritesThisLine) { EXPECT_EQ(GetParam().rendered, GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Lines, Renderer,
    ::testing::Values(
        RenderCase{FormatEffectCommand(300, 30, 40, 40, 100, 20), "EFFECT 300 30 40 40 100 20"},
        RenderCase{FormatBlendCommand("myslot", 50, ""), "BLEND myslot 50"},
        RenderCase{FormatBlendCommand("a", 70, "multiply"), "BLEND a 70 multiply"},
        RenderCase{FormatTextureCommand(3, 40, 1.5f), "TEXTURE #3 40 1.5"},
        RenderCase{FormatTextureCommand(3, -1, 1.0f), "TEXTURE"},
        RenderCase{FormatTextureCommand(3, 40, -1.0f), "TEXTURE"},
        RenderCase{FormatTextureCommand(0, 50, 2.0f), "TEXTURE #0 50 2"},
        RenderCase{FormatTextureCommand(1, 10, 0.126f), "TEXTURE #1 10 0.13"},
        RenderCase{FormatFrameCommand(-1, 20, "#FFFFFFFF"), "FRAME 20 #FFFFFFFF"},
        RenderCase{FormatFrameCommand(2, -1, "#FFFFFFFF"), "FRAME #2"},
        RenderCase{FormatFrameCommand(2, 15, ""), "FRAME #2 15"},
        RenderCase{FormatBrushFrameCommand(60, "#FF000000", 40), "FRAME brushstrokes 60 #FF000000"},
        RenderCase{FormatBrushFrameCommand(20, "", 15), "FRAME brushstrokes 20 brush=15"},
        RenderCase{FormatTextCommand("50%", "98%", "My Art"), "TEXT 50% 98% \"My Art\""},
        RenderCase{FormatTextCommand("0", "0", "say \"hi\""), "TEXT 0 0 'say \"hi\"'"},
        RenderCase{FormatTextCommand("0", "0", "two\r\nlines"), "TEXT 0 0 \"two  lines\""},
        RenderCase{FormatFontCommand("Times New Roman", 36, "italic", ""), "FONT \"Times New Roman\" 36 italic"},
        RenderCase{FormatFontCommand("Arial", 12.5f, "", "#FFFF0000"), "FONT Arial 12.5 #FFFF0000"},
        RenderCase{FormatFontCommand("", 20, "", ""), "FONT \"\" 20"},
        RenderCase{FormatColorText(0x80FF0000), "#80FF0000"}, RenderCase{FormatColorText(0x0000000A), "#0000000A"}));

TEST(Renderer, WrittenLinesParseBackToWhatWasWritten) {
  const std::vector<std::string> lines = {
      FormatTextCommand("10,5", "25%", "Quote \" and 'apostrophe'"),  // cannot hold both quotes: ends early
      FormatTextCommand("1", "2", "say \"here\""),
      FormatFontCommand("Noto Sans CJK JP", 18.5f, "bolditalic", FormatColorText(0xFF102030)),
      FormatFontCommand("'Quoted' Face", 10, "", ""),
      FormatBlendCommand("my slot", 35, "screen"),
      FormatTextureCommand(4, 60, 0.75f),
      FormatBrushFrameCommand(30, FormatColorText(0xFFABCDEF), 90),
  };
  TScriptParseResult r = ParseScript(lines);
  ASSERT_TRUE(r.Ok) << r.Errors[0];
  ASSERT_EQ(r.Commands.size(), lines.size());
  EXPECT_EQ(r.Commands[0].TextString, "Quote ");
  EXPECT_EQ(r.Commands[1].TextString, "say \"here\"");
  EXPECT_EQ(r.Commands[2].FontName, "Noto Sans CJK JP");
  EXPECT_EQ(r.Commands[2].FontSize, 18.5f);
  EXPECT_EQ(r.Commands[2].FontStyleStr, "bolditalic");
  EXPECT_EQ(r.Commands[2].FontColor, 0xFF102030u);
  EXPECT_EQ(r.Commands[3].FontName, "'Quoted' Face");
  EXPECT_EQ(r.Commands[4].BlendSlot, "my slot");
  EXPECT_FLOAT_EQ(r.Commands[4].BlendOpacity, 0.35f);
  EXPECT_EQ(r.Commands[5].TextureIndex, 4);
  EXPECT_EQ(r.Commands[5].TextureScale, 0.75f);
  EXPECT_EQ(r.Commands[6].FrameColor, 0xFFABCDEFu);
  EXPECT_EQ(r.Commands[6].FrameBrushSize, 90);
}

}  // namespace
}  // namespace lq
