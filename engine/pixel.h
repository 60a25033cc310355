// Engine pixel format and the small value helpers every effect shares.
//
// One pixel is a 32-bit word 0xAARRGGBB (BGRA8888 in memory on little-endian),
// colour premultiplied by alpha. Buffers are row-major with no padding.
#pragma once

#include <cstdint>

namespace lq {

using TAlphaColor = uint32_t;

// Byte view of one pixel, in memory order.
struct TAlphaColorRec {
  uint8_t B, G, R, A;
};
static_assert(sizeof(TAlphaColorRec) == 4);

constexpr int ClampByte(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }
constexpr int64_t ClampByte64(int64_t v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

constexpr uint32_t GetA(TAlphaColor c) { return c >> 24; }
constexpr uint32_t GetR(TAlphaColor c) { return (c >> 16) & 255u; }
constexpr uint32_t GetG(TAlphaColor c) { return (c >> 8) & 255u; }
constexpr uint32_t GetB(TAlphaColor c) { return c & 255u; }

constexpr TAlphaColor MakeColor(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
  return (a << 24) | (r << 16) | (g << 8) | b;
}

// The three luminance forms in use; each effect says which one it takes.
constexpr double LuminanceD(double r, double g, double b) {
  return 0.299 * r + 0.587 * g + 0.114 * b;
}
constexpr int LuminanceI100(int r, int g, int b) { return (30 * r + 59 * g + 11 * b) / 100; }
constexpr int LuminanceI256(int r, int g, int b) { return (77 * r + 150 * g + 29 * b) >> 8; }

// Premultiplied <-> straight conversions (rounded; exact for opaque pixels).
inline TAlphaColor Premultiply(TAlphaColor c) {
  uint32_t a = GetA(c);
  if (a == 255) return c;
  if (a == 0) return 0;
  auto m = [a](uint32_t v) { return (v * a + 127) / 255; };
  return MakeColor(a, m(GetR(c)), m(GetG(c)), m(GetB(c)));
}

inline TAlphaColor Unpremultiply(TAlphaColor c) {
  uint32_t a = GetA(c);
  if (a == 255) return c;
  if (a == 0) return 0;
  auto u = [a](uint32_t v) {
    uint32_t r = (v * 255 + a / 2) / a;
    return r > 255 ? 255u : r;
  };
  return MakeColor(a, u(GetR(c)), u(GetG(c)), u(GetB(c)));
}

// True when every colour channel is at most alpha (a valid premultiplied pixel).
constexpr bool IsValidPremul(TAlphaColor c) {
  return GetR(c) <= GetA(c) && GetG(c) <= GetA(c) && GetB(c) <= GetA(c);
}

}  // namespace lq
