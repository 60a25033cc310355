// The parsed form of a script: one flat record per command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/gfx/paint.h"
#include "engine/pixel.h"

namespace lq {

// The ordinal is the kind's number.
enum TScriptCommandKind : int {
  sckEffect,
  sckSave,
  sckLoad,
  sckSwap,
  sckReset,
  sckBlend,
  sckTexture,
  sckFrame,
  sckText,
  sckFont,
  sckResize,
  sckClear,  // CLEAR and NOCLEAR
};

// Weight 100..900, width 1..9 (5 = normal), upright or italic.
struct TFontStyle {
  int Weight = 400;
  int Width = 5;
  bool Italic = false;
  bool operator==(const TFontStyle&) const = default;
};

// Only the fields of the command's own kind mean anything. The "not given"
// values (-1, negative, 0, empty) tell the executor to use the current
// settings of the host instead.
struct TScriptCommand {
  TScriptCommandKind Kind = sckEffect;
  int32_t LineNumber = 0;  // 1-based; blank and comment lines count

  int32_t EffectNumber = 0;
  int32_t P1 = 0;  // EFFECT slider 1; CLEAR/NOCLEAR: 1 for CLEAR, 0 for NOCLEAR
  int32_t P2 = 0, P3 = 0, P4 = 0, P5 = 0;

  std::string SlotName;  // SAVE, LOAD, SWAP; lower case

  std::string BlendSlot;  // lower case
  float BlendOpacity = 0;  // 0..1
  lq::BlendMode BlendMode = lq::BlendMode::SrcOver;

  int32_t TextureStrength = -1;  // 0..100; -1 not given
  float TextureScale = -1.0f;    // negative: not given
  int32_t TextureIndex = 0;

  std::string FrameStyle;  // empty: image frame; "brushstrokes": painted border
  int32_t FrameIndex = -1;
  int32_t FrameSize = -1;  // margin or border width in pixels; -1 not given
  TAlphaColor FrameColor = 0;  // 0 not given
  int32_t FrameBrushSize = 40;

  float TextX = 0, TextY = 0;
  bool TextXPercent = false, TextYPercent = false;
  std::string TextString;
  TAlphaColor TextColorOverride = 0;  // 0: none
  float TextSizeOverride = 0;         // <= 0: none
  std::string TextFontOverride;       // empty: none
  std::string TextStyleOverride;      // empty: none
  int32_t TextShadowOverride = -1;    // -1 none, 0 off, 1 on

  std::string FontName;
  float FontSize = 0;
  std::string FontStyleStr;  // style word as written
  TAlphaColor FontColor = 0;  // 0 not given

  float ResizeW = 0, ResizeH = 0;
  bool ResizeWPercent = false, ResizeHPercent = false;

  bool operator==(const TScriptCommand&) const = default;
};

struct TScriptParseResult {
  std::vector<TScriptCommand> Commands;  // meaningless unless Ok
  std::vector<std::string> Errors;       // in line order
  bool Ok = false;                       // exactly when Errors is empty
};

}  // namespace lq
