// Brush strokes in stroke space: a centre line (straight, arc or gently
// S-shaped) with a width profile, and the paint a loaded brush leaves along it.
//
// A pixel is mapped to (s, v): s runs 0..1 from the start of the stroke to its
// end, v runs -1..1 across it. The paint functions are written in (s, v), so
// bristle streaks follow the stroke however it bends.
#pragma once

#include <cstdint>

#include "tools/asset_gen/gen_common.h"

namespace lq::gen {

struct StrokeShape {
  float cx = 128, cy = 128;  // centre of the centre line
  float angle = 0;           // direction of travel, radians (y down)
  float length = 200;        // along the centre line, pixels
  float halfWidth = 30;      // nominal half width, pixels
  float curvature = 0;       // 1 / radius, signed
  float wobbleAmp = 0;       // lateral S-curve amplitude, pixels
  float wobbleFreq = 1;      // S-curve periods over the length
  float wobblePhase = 0;
  // Width profile: fraction of the length over which the stroke widens from
  // its start and narrows to its end (0 = blunt), and how pointed the taper is.
  float taperStart = 0.06f, taperEnd = 0.06f;
  float taperPower = 0.6f;
  // Width grows or shrinks linearly along the stroke (pressure change).
  float widthSlope = 0;
};

struct StrokeCoord {
  float s = 0;   // 0..1 along
  float l = 0;   // lateral offset, pixels
  float hw = 0;  // half width at s, pixels
  bool valid = false;
};

StrokeCoord MapStroke(const StrokeShape& st, float x, float y);
// Half width of the profile at s (before edge roughness).
float StrokeHalfWidth(const StrokeShape& st, float s);

// How a bristle brush deposits paint.
struct BristleStyle {
  float bristles = 60;      // number of bristles across the width
  float load = 0.95f;       // overall paint load
  float streak = 0.45f;     // how much single bristles differ
  float clump = 0.35f;      // how much bristle clumps differ
  float dryStart = 0.55f;   // s where the paint starts to run out
  float dryAmount = 0.8f;   // how broken the dry end gets
  float endRagged = 0.22f;  // spread of the bristle end positions (in s)
  float startRagged = 0.04f;
  float edgeRough = 0.10f;  // ragged edge amplitude (fraction of half width)
  float startBlob = 0.25f;  // extra paint where the brush touches down
  float strayHairs = 0.5f;  // faint single hairs beyond the edge
  uint32_t seed = 1;
};

// Alpha 0..1 of a bristle stroke at pixel (x, y).
float BristleAlpha(const StrokeShape& st, const BristleStyle& b, float x, float y);

}  // namespace lq::gen
