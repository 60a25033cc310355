// The script language: tokeniser, the grammar of each command, and the
// renderers that write commands back as text. Pure functions of the text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "script/script_types.h"

namespace lq {

// Parses every line and collects every error in line order; never stops early.
TScriptParseResult ParseScript(const std::vector<std::string>& lines);
// The lines of an editor's or file's text (any line break).
std::vector<std::string> SplitScriptText(std::string_view text);

// Trimmed line split at spaces (U+0020 only); '...' and "..." make one token
// without their quotes, running to the end of the line when unclosed.
std::vector<std::string> TokenizeLine(std::string_view line);

// An integer token gives itself, whether or not an effect has that number;
// otherwise the script id or list name, ignoring case. -1 when unknown.
int32_t ParseEffectId(std::string_view token);
// List name of the script table row, or "Effect " + number.
std::string EffectDisplayName(int32_t effectNumber);

// Unknown words (NORMAL included) give SrcOver.
BlendMode ParseBlendMode(std::string_view word);
// BOLD, ITALIC, BOLDITALIC; anything else is regular.
TFontStyle ParseFontStyle(std::string_view word);
// "#AARRGGBB", "$AARRGGBB", "AARRGGBB", or six digits for an opaque RRGGBB.
bool ParseHexColor(std::string_view token, TAlphaColor& color);

struct NumberOrPercent {
  float Value = 0;  // 0 when the text is not a number
  bool IsPercent = false;
};
NumberOrPercent ParseNumberOrPercent(std::string_view token);

// "key=value" -> (KEY upper-cased, value without one pair of matching quotes);
// without "=", the key is empty and the value is the whole token.
std::pair<std::string, std::string> ParseOption(std::string_view token);

// Numbers as scripts read and write them: the decimal separator is "." when
// written and either "." or "," when read, whatever the machine's locale.
bool TryParseScriptInt(std::string_view token, int32_t& value);
bool TryParseScriptDecimal(std::string_view token, float& value);
// "0.##" for maxDecimals = 2, "0.#" for 1.
std::string FormatScriptNumber(double value, int maxDecimals);

// "#AARRGGBB" in upper case.
std::string FormatColorText(TAlphaColor color);

// Command lines for the editor's insert buttons and for saved scripts.
std::string FormatEffectCommand(int32_t effectNumber, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5);
std::string FormatBlendCommand(std::string_view slot, int32_t opacity, std::string_view modeWord);
std::string FormatTextureCommand(int32_t index, int32_t strength, float scale);
std::string FormatFrameCommand(int32_t index, int32_t margin, std::string_view colorText);
std::string FormatBrushFrameCommand(int32_t width, std::string_view colorText, int32_t brushSize);
std::string FormatTextCommand(std::string_view xText, std::string_view yText, std::string_view text);
std::string FormatFontCommand(std::string_view name, float size, std::string_view styleWord, std::string_view colorText);

}  // namespace lq
