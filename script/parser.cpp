#include "script/parser.h"

#include <cstdio>

#include "document/textio.h"
#include "engine/catalogue.h"

namespace lq {

namespace {

// Keywords, slot names and option keys compare in ASCII only, so a script
// means the same whatever the machine's locale.
char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }
char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = UpperAscii(c);
  return out;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = LowerAscii(c);
  return out;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (UpperAscii(s[i]) != UpperAscii(prefix[i])) return false;
  return true;
}

std::string LinePrefix(int32_t line) { return "Line " + std::to_string(line) + ": "; }

// Integer with a fallback, as the grammar reads most numbers.
int32_t IntOr(std::string_view token, int32_t fallback) {
  int32_t v;
  return TryParseScriptInt(token, v) ? v : fallback;
}

float DecimalOr(std::string_view token, float fallback) {
  float v;
  return TryParseScriptDecimal(token, v) ? v : fallback;
}

// "#N" selects an entry of the texture or frame list; "#FF..." is a colour.
bool IsIndexToken(std::string_view t) { return t.size() >= 2 && t[0] == '#' && !StartsWithNoCase(t, "#FF"); }

// A token as it must be written so the tokeniser reads it back whole.
std::string TokenText(std::string_view s) {
  const bool bare = !s.empty() && s.find(' ') == std::string_view::npos && s[0] != '"' && s[0] != '\'';
  if (bare) return std::string(s);
  // A quoted token cannot contain its own quote character; pick the one it lacks.
  const char q = (s.find('"') != std::string_view::npos && s.find('\'') == std::string_view::npos) ? '\'' : '"';
  return q + std::string(s) + q;
}

// One command is one line: a line break inside a value would split it.
std::string OneLine(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c == '\r' || c == '\n') c = ' ';
  return out;
}

using Tokens = std::vector<std::string>;

void ParseTexture(const Tokens& t, TScriptCommand& cmd) {
  const size_t n = t.size();
  size_t j = 1;
  if (n > 1 && IsIndexToken(t[1])) {
    cmd.TextureIndex = IntOr(std::string_view(t[1]).substr(1), -1);
    j = 2;
  }
  // Strength and scale come only as a pair.
  if (n > j + 1) {
    cmd.TextureStrength = IntOr(t[j], -1);
    cmd.TextureScale = DecimalOr(t[j + 1], -1.0f);
  }
}

void ParseImageFrame(const Tokens& t, TScriptCommand& cmd, std::vector<std::string>& errors) {
  const size_t n = t.size();
  size_t j = 1;
  if (n > 1 && IsIndexToken(t[1])) {
    cmd.FrameIndex = IntOr(std::string_view(t[1]).substr(1), -1);
    j = 2;
  }
  if (n > j) cmd.FrameSize = IntOr(t[j], -1);
  if (n > j + 1) {
    TAlphaColor c;
    if (ParseHexColor(t[j + 1], c))
      cmd.FrameColor = c;
    else
      errors.push_back(LinePrefix(cmd.LineNumber) + "Invalid hex color \"" + t[j + 1] + "\"");
  }
}

void ParseBrushFrame(const Tokens& t, TScriptCommand& cmd, std::vector<std::string>& errors) {
  const size_t n = t.size();
  cmd.FrameStyle = "brushstrokes";
  auto brushOption = [&](std::string_view token) {
    cmd.FrameBrushSize = IntOr(token.substr(6), 40);
  };
  if (n > 2) cmd.FrameSize = IntOr(t[2], 60);
  if (n > 3) {
    TAlphaColor c;
    if (StartsWithNoCase(t[3], "brush="))
      brushOption(t[3]);
    else if (ParseHexColor(t[3], c))
      cmd.FrameColor = c;
    else
      errors.push_back(LinePrefix(cmd.LineNumber) + "Invalid color or option \"" + t[3] + "\"");
  }
  if (n > 4) {
    if (StartsWithNoCase(t[4], "brush="))
      brushOption(t[4]);
    else
      errors.push_back(LinePrefix(cmd.LineNumber) + "Unknown option \"" + t[4] + "\"");
  }
}

void ParseText(const Tokens& t, TScriptCommand& cmd) {
  const NumberOrPercent x = ParseNumberOrPercent(t[1]);
  const NumberOrPercent y = ParseNumberOrPercent(t[2]);
  cmd.TextX = x.Value;
  cmd.TextXPercent = x.IsPercent;
  cmd.TextY = y.Value;
  cmd.TextYPercent = y.IsPercent;
  cmd.TextString = t[3];
  for (size_t k = 4; k < t.size(); ++k) {
    auto [key, value] = ParseOption(t[k]);
    if (key == "SIZE") {
      cmd.TextSizeOverride = DecimalOr(value, 0);
    } else if (key == "COLOR") {
      TAlphaColor c;
      if (ParseHexColor(value, c)) cmd.TextColorOverride = c;
    } else if (key == "FONT") {
      cmd.TextFontOverride = value;
    } else if (key == "STYLE") {
      cmd.TextStyleOverride = value;
    } else if (key == "SHADOW") {
      cmd.TextShadowOverride = Upper(value) == "ON" ? 1 : 0;
    }
  }
}

// Parses one non-empty, non-comment line. False when the line yields no command.
bool ParseLine(const Tokens& t, TScriptCommand& cmd, std::vector<std::string>& errors) {
  const size_t n = t.size();
  const std::string kw = Upper(t[0]);
  const std::string at = LinePrefix(cmd.LineNumber);
  auto fail = [&](const std::string& message) {
    errors.push_back(at + message);
    return false;
  };

  if (kw == "EFFECT") {
    cmd.Kind = sckEffect;
    if (n < 7) return fail("EFFECT requires 6 arguments (id P1 P2 P3 P4 P5)");
    cmd.EffectNumber = ParseEffectId(t[1]);
    if (cmd.EffectNumber == -1) return fail("Unknown effect \"" + t[1] + "\"");
    cmd.P1 = IntOr(t[2], 0);
    cmd.P2 = IntOr(t[3], 0);
    cmd.P3 = IntOr(t[4], 0);
    cmd.P4 = IntOr(t[5], 0);
    cmd.P5 = IntOr(t[6], 0);
  } else if (kw == "SAVE" || kw == "LOAD") {
    cmd.Kind = kw == "SAVE" ? sckSave : sckLoad;
    if (n < 2) return fail(kw + " requires a slot name");
    cmd.SlotName = Lower(t[1]);
  } else if (kw == "SWAP") {
    cmd.Kind = sckSwap;
    cmd.SlotName = n > 1 ? Lower(t[1]) : "src";
  } else if (kw == "RESET") {
    cmd.Kind = sckReset;
  } else if (kw == "BLEND") {
    cmd.Kind = sckBlend;
    if (n < 3) return fail("BLEND requires at least slot and opacity");
    cmd.BlendSlot = Lower(t[1]);
    const float percent = DecimalOr(t[2], 50.0f);
    const float opacity = percent / 100.0f;
    cmd.BlendOpacity = opacity < 0.0f ? 0.0f : (opacity > 1.0f ? 1.0f : opacity);
    cmd.BlendMode = n > 3 ? ParseBlendMode(t[3]) : BlendMode::SrcOver;
  } else if (kw == "TEXTURE") {
    cmd.Kind = sckTexture;
    ParseTexture(t, cmd);
  } else if (kw == "FRAME") {
    cmd.Kind = sckFrame;
    if (n >= 2 && Upper(t[1]) == "BRUSHSTROKES")
      ParseBrushFrame(t, cmd, errors);
    else
      ParseImageFrame(t, cmd, errors);
  } else if (kw == "TEXT") {
    cmd.Kind = sckText;
    if (n < 4) return fail("TEXT requires at least x, y, and a string");
    ParseText(t, cmd);
  } else if (kw == "FONT") {
    cmd.Kind = sckFont;
    if (n < 3) return fail("FONT requires at least name and size");
    cmd.FontName = t[1];
    cmd.FontSize = DecimalOr(t[2], 24.0f);
    if (n > 3) cmd.FontStyleStr = t[3];
    if (n > 4) {
      TAlphaColor c;
      if (ParseHexColor(t[4], c))
        cmd.FontColor = c;
      else
        errors.push_back(at + "Invalid hex color \"" + t[4] + "\"");
    }
  } else if (kw == "RESIZE") {
    cmd.Kind = sckResize;
    if (n < 3) return fail("RESIZE requires width and height");
    const NumberOrPercent w = ParseNumberOrPercent(t[1]);
    const NumberOrPercent h = ParseNumberOrPercent(t[2]);
    cmd.ResizeW = w.Value;
    cmd.ResizeWPercent = w.IsPercent;
    cmd.ResizeH = h.Value;
    cmd.ResizeHPercent = h.IsPercent;
    if (!(cmd.ResizeW > 0) || !(cmd.ResizeH > 0)) return fail("RESIZE dimensions must be positive");
  } else if (kw == "CLEAR" || kw == "NOCLEAR") {
    cmd.Kind = sckClear;
    cmd.P1 = kw == "CLEAR" ? 1 : 0;
  } else {
    return fail("Unknown command \"" + t[0] + "\"");
  }
  return true;
}

}  // namespace

TScriptParseResult ParseScript(const std::vector<std::string>& lines) {
  TScriptParseResult r;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string_view line = TrimControl(lines[i]);
    if (line.empty() || line[0] == '#') continue;
    const Tokens tokens = TokenizeLine(line);
    if (tokens.empty()) continue;
    TScriptCommand cmd;
    cmd.LineNumber = i < size_t(INT32_MAX) ? int32_t(i + 1) : INT32_MAX;
    if (ParseLine(tokens, cmd, r.Errors)) r.Commands.push_back(std::move(cmd));
  }
  r.Ok = r.Errors.empty();
  return r;
}

std::vector<std::string> SplitScriptText(std::string_view text) { return SplitLines(text); }

std::vector<std::string> TokenizeLine(std::string_view line) {
  line = TrimControl(line);
  std::vector<std::string> tokens;
  size_t i = 0;
  while (true) {
    while (i < line.size() && line[i] == ' ') ++i;
    if (i >= line.size()) break;
    const char c = line[i];
    if (c == '"' || c == '\'') {
      const size_t close = line.find(c, i + 1);
      const size_t end = close == std::string_view::npos ? line.size() : close;
      tokens.emplace_back(line.substr(i + 1, end - i - 1));
      i = close == std::string_view::npos ? line.size() : close + 1;
    } else {
      size_t end = line.find(' ', i);
      if (end == std::string_view::npos) end = line.size();
      tokens.emplace_back(line.substr(i, end - i));
      i = end;
    }
  }
  return tokens;
}

int32_t ParseEffectId(std::string_view token) {
  const std::string_view t = TrimControl(token);
  int32_t v;
  if (TryParseScriptInt(t, v)) return v;
  return EffectIdFromScriptText(std::string(t));
}

std::string EffectDisplayName(int32_t effectNumber) { return ScriptTextForNumber(effectNumber); }

BlendMode ParseBlendMode(std::string_view word) {
  const std::string w = Upper(TrimControl(word));
  if (w == "MULTIPLY") return BlendMode::Multiply;
  if (w == "SCREEN") return BlendMode::Screen;
  if (w == "OVERLAY") return BlendMode::Overlay;
  if (w == "DARKEN") return BlendMode::Darken;
  if (w == "LIGHTEN") return BlendMode::Lighten;
  if (w == "SOFTLIGHT") return BlendMode::SoftLight;
  if (w == "HARDLIGHT") return BlendMode::HardLight;
  if (w == "DIFFERENCE") return BlendMode::Difference;
  return BlendMode::SrcOver;
}

TFontStyle ParseFontStyle(std::string_view word) {
  const std::string w = Upper(TrimControl(word));
  if (w == "BOLD") return {700, 5, false};
  if (w == "ITALIC") return {400, 5, true};
  if (w == "BOLDITALIC") return {700, 5, true};
  return {400, 5, false};
}

bool ParseHexColor(std::string_view token, TAlphaColor& color) {
  std::string_view t = TrimControl(token);
  if (!t.empty() && (t[0] == '#' || t[0] == '$')) t.remove_prefix(1);
  std::string hex(t);
  if (hex.size() == 6) hex = "FF" + hex;
  if (hex.size() != 8) return false;
  uint32_t v = 0;
  for (char c : hex) {
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return false;
    v = (v << 4) | uint32_t(d);
  }
  color = v;
  return true;
}

NumberOrPercent ParseNumberOrPercent(std::string_view token) {
  std::string_view t = TrimControl(token);
  NumberOrPercent r;
  if (!t.empty() && t.back() == '%') {
    r.IsPercent = true;
    t.remove_suffix(1);
  }
  r.Value = DecimalOr(t, 0.0f);
  return r;
}

std::pair<std::string, std::string> ParseOption(std::string_view token) {
  const std::string_view t = TrimControl(token);
  const size_t eq = t.find('=');
  if (eq == std::string_view::npos) return {std::string(), std::string(t)};
  std::string value(t.substr(eq + 1));
  if (value.size() > 1 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  return {Upper(t.substr(0, eq)), value};
}

bool TryParseScriptInt(std::string_view token, int32_t& value) { return TryParseInt32(token, value); }

bool TryParseScriptDecimal(std::string_view token, float& value) { return TryParseDecimal(token, value); }

std::string FormatScriptNumber(double value, int maxDecimals) { return FormatDecimal(value, maxDecimals); }

std::string FormatColorText(TAlphaColor color) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "#%08X", unsigned(color));
  return buf;
}

std::string FormatEffectCommand(int32_t effectNumber, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5) {
  std::string s = "EFFECT " + std::to_string(effectNumber);
  for (int32_t p : {p1, p2, p3, p4, p5}) s += " " + std::to_string(p);
  return s;
}

std::string FormatBlendCommand(std::string_view slot, int32_t opacity, std::string_view modeWord) {
  std::string s = "BLEND " + TokenText(OneLine(slot)) + " " + std::to_string(opacity);
  if (!modeWord.empty()) s += " " + std::string(modeWord);
  return s;
}

std::string FormatTextureCommand(int32_t index, int32_t strength, float scale) {
  if (strength >= 0 && scale >= 0)
    return "TEXTURE #" + std::to_string(index) + " " + std::to_string(strength) + " " + FormatScriptNumber(scale, 2);
  return "TEXTURE";
}

std::string FormatFrameCommand(int32_t index, int32_t margin, std::string_view colorText) {
  std::string s = "FRAME";
  if (index >= 0) s += " #" + std::to_string(index);
  if (margin >= 0) {
    s += " " + std::to_string(margin);
    if (!colorText.empty()) s += " " + std::string(colorText);
  }
  return s;
}

std::string FormatBrushFrameCommand(int32_t width, std::string_view colorText, int32_t brushSize) {
  std::string s = "FRAME brushstrokes " + std::to_string(width);
  if (!colorText.empty()) s += " " + std::string(colorText);
  if (brushSize != 40) s += " brush=" + std::to_string(brushSize);
  return s;
}

std::string FormatTextCommand(std::string_view xText, std::string_view yText, std::string_view text) {
  const std::string body = OneLine(text);
  // Always quoted; single quotes only when the text itself holds a double quote.
  const char q = (body.find('"') != std::string::npos && body.find('\'') == std::string::npos) ? '\'' : '"';
  return "TEXT " + std::string(xText) + " " + std::string(yText) + " " + q + body + q;
}

std::string FormatFontCommand(std::string_view name, float size, std::string_view styleWord, std::string_view colorText) {
  std::string s = "FONT " + TokenText(OneLine(name)) + " " + FormatScriptNumber(size, 1);
  if (!styleWord.empty()) s += " " + std::string(styleWord);
  if (!colorText.empty()) s += " " + std::string(colorText);
  return s;
}

}  // namespace lq
