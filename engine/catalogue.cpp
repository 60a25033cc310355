#include "engine/catalogue.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "i18n/translate.h"

namespace lq {

const std::vector<EffectInfo>& Catalogue() {
  static const std::vector<EffectInfo> kEffects = {
      {100, "Pencil Sketch 1", "Pencil Sketch 1", "PencilSketch1",
       {"edge threshold", "edge darkness", "brightness", "contrast", "color intensity"}, {20, 50, 65, 5, 80}, false, false},
      {101, "Pencil Sketch 2", "Pencil Sketch 2", "PencilSketch2",
       {"min stroke size", "max stroke size", "number of strokes", "color intensity", "quality"}, {10, 40, 30, 0, 30}, false, false},
      {102, "Pencil Sketch 3", "Pencil Sketch 3", "PencilSketch3",
       {"iterations", "stroke length", "blending", "contrast", "color intensity"}, {20, 80, 30, 25, 0}, false, false},
      {200, "Black & White", "Black & White", "BlackAndWhite",
       {"level of details", "lighten/darken", "simplification", "unused", "unused"}, {50, 50, 0, 0, 0}, false, false},
      {201, "Stippling", "Stippling", "Stippling", {"darkening", "unused", "unused", "unused", "unused"}, {50, 0, 0, 0, 0}, false, false},
      {202, "Felt-tip pen", "Felt-tip pen", "FeltTipPen",
       {"stroke density", "stroke opacity", "stroke length", "stroke width", "edge intensity"}, {65, 70, 30, 5, 40}, true, false},
      {203, "Comic print", "Comic print", nullptr,
       {"dot spacing", "min dot size", "max dot size", "color intensity", "contours"}, {10, 0, 100, 50, 60}, false, false},
      {300, "Watercolor", "Watercolor", "Watercolor",
       {"iterations", "brush complexity", "brush size", "opacity", "edge intensity"}, {30, 40, 40, 100, 20}, true, false},
      {301, "Watercolor 2", "Watercolor 2", "Watercolor2",
       {"density", "region threshold", "brightness", "edge intensity", "saturation"}, {90, 20, 60, 20, 55}, true, false},
      {302, "Oil Pastel", "Oil Pastel", "OilPastel",
       {"min brush size", "max brush size", "iterations", "quality", "opacity"}, {10, 70, 30, 30, 100}, true, true},
      {303, "Watercolor splashes", "Watercolor splashes", "WatercolorSplashes",
       {"min brush size", "max brush size", "iterations", "quality", "opacity"}, {10, 70, 50, 50, 80}, true, true},
      {304, "Impasto brushstrokes", "Impasto brushstrokes", "ImpastoBrushstrokes",
       {"min brush size", "max brush size", "iterations", "quality", "opacity"}, {10, 50, 50, 50, 100}, true, true},
      {305, "Brushstrokes 2", "Brushstrokes 2", "Brushstrokes2",
       {"brush size", "iterations", "abstraction", "saturation", "opacity"}, {50, 30, 25, 60, 70}, true, false},
      {306, "Smooth painting", "Smooth painting", "SmoothPainting",
       {"max brush size", "iterations", "unused", "unused", "unused"}, {35, 0, 0, 0, 0}, false, false},
      {307, "Stochastic Painting", "Stochastic Painting", "StochasticPainting",
       {"min brush size", "max brush size", "iterations", "precision", "opacity"}, {10, 50, 20, 50, 90}, true, false},
      {400, "Orton filter", "Orton filter", "OrtonFilter",
       {"glow radius", "exposure", "strength of effect", "vibrance", "darken/lighten"}, {40, 25, 50, 50, 40}, false, false},
      {401, "Adjustments", "Adjustments", "Adjustments",
       {"luminosity", "contrast", "vibrance", "structure", "blur/sharpen"}, {52, 52, 55, 15, 52}, false, false},
      {402, "Vintage / Sepia", "Sepia", "VintageSepia",
       {"color intensity", "strength of effect", "vignette", "grain", "blur"}, {0, 70, 50, 50, 25}, false, false},
      {403, "Retro film", "Vintage / Sepia", "RetroFilm",
       {"saturation", "warmth", "contrast", "grain", "vignette"}, {30, 35, 60, 20, 25}, false, false},
  };
  return kEffects;
}

const EffectInfo* FindEffect(int number) {
  for (const auto& e : Catalogue())
    if (e.number == number) return &e;
  return nullptr;
}

int TParameters::Value(int i) const {
  switch (i) {
    case 1: return Value1;
    case 2: return Value2;
    case 3: return Value3;
    case 4: return Value4;
    case 5: return Value5;
  }
  return 0;
}

void TParameters::SetValue(int i, int v) {
  switch (i) {
    case 1: Value1 = v; break;
    case 2: Value2 = v; break;
    case 3: Value3 = v; break;
    case 4: Value4 = v; break;
    case 5: Value5 = v; break;
  }
}

const std::string& TParameters::Name(int i) const {
  switch (i) {
    case 1: return Name1;
    case 2: return Name2;
    case 3: return Name3;
    case 4: return Name4;
    default: return Name5;
  }
}

TParameters* ParamsFor(ParamTable& params, int number) {
  if (number < 0) return nullptr;
  int c = number / 100, p = number - c * 100;
  if (c >= int(params.size()) || p >= int(params[0].size())) return nullptr;
  return &params[size_t(c)][size_t(p)];
}

void InitializeParameters(ParamTable& params) {
  for (const auto& e : Catalogue()) {
    TParameters* t = ParamsFor(params, e.number);
    t->Value1 = e.defaults[0];
    t->Value2 = e.defaults[1];
    t->Value3 = e.defaults[2];
    t->Value4 = e.defaults[3];
    t->Value5 = e.defaults[4];
    t->Name1 = e.labels[0];
    t->Name2 = e.labels[1];
    t->Name3 = e.labels[2];
    t->Name4 = e.labels[3];
    t->Name5 = e.labels[4];
  }
}

std::string GetEffectName(int number) {
  if (number == kBrushstrokesFrame) return Translate("Brushstrokes Frame");
  const EffectInfo* e = FindEffect(number);
  return Translate(e ? e->messageName : "Unknown Effect");
}

const std::vector<ScriptEffectRow>& ScriptEffectTable() {
  static const std::vector<ScriptEffectRow> kRows = [] {
    std::vector<ScriptEffectRow> rows;
    for (const auto& e : Catalogue())
      if (e.scriptId) rows.push_back({e.number, e.listName, e.scriptId});
    return rows;
  }();
  return kRows;
}

namespace {
std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

bool EqualsNoCase(const std::string& a, const char* b) {
  size_t n = a.size();
  for (size_t i = 0; i < n; ++i) {
    if (!b[i]) return false;
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return b[n] == '\0';
}
}  // namespace

int EffectIdFromScriptText(const std::string& text) {
  std::string t = Trim(text);
  if (!t.empty()) {
    long long v = 0;
    const char* b = t.data();
    const char* e = b + t.size();
    if (*b == '+') ++b;
    auto [ptr, ec] = std::from_chars(b, e, v);
    if (ec == std::errc() && ptr == e && v >= INT32_MIN && v <= INT32_MAX) return int(v);
  }
  for (const auto& row : ScriptEffectTable())
    if (EqualsNoCase(t, row.scriptId) || EqualsNoCase(t, row.listName)) return row.number;
  return -1;
}

std::string ScriptTextForNumber(int number) {
  for (const auto& row : ScriptEffectTable())
    if (row.number == number) return row.listName;
  return "Effect " + std::to_string(number);
}

}  // namespace lq
