// Building blocks of the picture generator: a local random generator, lattice
// noise (optionally periodic, for tileable textures), float fields, and the
// raster that each picture is written from.
//
// Everything here is deterministic: the same seed gives the same bits on every
// run, whatever the thread count, so the generated PNGs are reproducible.
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/gfx/image.h"

namespace lq::gen {

// Small fast generator (splitmix64 seeding, xoshiro128** steps). Each picture
// owns its generators; the process-wide engine generator is never touched.
class Rng {
 public:
  explicit Rng(uint64_t seed);
  uint32_t Next();
  double Uniform() { return double(Next()) * (1.0 / 4294967296.0); }  // [0, 1)
  double Range(double lo, double hi) { return lo + (hi - lo) * Uniform(); }
  int Below(int n) { return n <= 0 ? 0 : int((uint64_t(Next()) * uint32_t(n)) >> 32); }
  bool Chance(double p) { return Uniform() < p; }
  double Normal();  // mean 0, deviation 1

 private:
  uint32_t s_[4];
};

// Integer hash of a lattice point; the basis of every noise function.
inline uint32_t Hash(int32_t x, int32_t y, uint32_t seed) {
  uint32_t h = seed ^ (uint32_t(x) * 0x8da6b343u) ^ (uint32_t(y) * 0xd8163841u);
  h ^= h >> 15;
  h *= 0x2c1b3c6du;
  h ^= h >> 12;
  h *= 0x297a2d39u;
  h ^= h >> 15;
  return h;
}
inline float Hash01(int32_t x, int32_t y, uint32_t seed) { return float(Hash(x, y, seed) >> 8) * (1.0f / 16777216.0f); }

// Gradient noise in about [-1, 1]. With period > 0 the lattice wraps every
// `period` cells in that axis, so the noise tiles with that period.
float Noise(float x, float y, uint32_t seed, int periodX = 0, int periodY = 0);
// One-dimensional smooth value noise in [0, 1].
float Noise1(float x, uint32_t seed);
// Fractal sum of `octaves` noise layers, each twice the frequency and `gain`
// times the amplitude of the previous; normalised to about [-1, 1]. Periods
// (in cells of the first octave) double with every octave.
float Fbm(float x, float y, int octaves, uint32_t seed, float gain = 0.5f, int periodX = 0, int periodY = 0);

// Worley (cellular) noise: distance to the nearest and second-nearest feature
// point, one point per unit cell, wrapping every `period` cells when period > 0.
struct Cell2 {
  float f1, f2;
};
Cell2 Worley(float x, float y, uint32_t seed, int periodX = 0, int periodY = 0);

inline float Clamp01(float v) { return v < 0 ? 0 : (v > 1 ? 1 : v); }
inline float Smoothstep(float a, float b, float x) {
  float t = Clamp01((x - a) / (b - a));
  return t * t * (3 - 2 * t);
}
inline float Lerp(float a, float b, float t) { return a + (b - a) * t; }

// A grid of floats, row-major.
struct Field {
  int w = 0, h = 0;
  std::vector<float> v;
  Field() = default;
  Field(int width, int height, float fill = 0) : w(width), h(height), v(size_t(width) * size_t(height), fill) {}
  float& at(int x, int y) { return v[size_t(y) * size_t(w) + size_t(x)]; }
  float at(int x, int y) const { return v[size_t(y) * size_t(w) + size_t(x)]; }
  // Wrapping access, for tileable textures.
  float wrap(int x, int y) const {
    x %= w;
    y %= h;
    if (x < 0) x += w;
    if (y < 0) y += h;
    return at(x, y);
  }
  // Bilinear sample with clamped edges.
  float Sample(float x, float y) const;
};

// Lambert shading of a height field lit from the upper left: 0 where the
// surface is flat, positive where it faces the light. `relief` scales the
// slopes; wrap = the field tiles.
Field ShadeHeight(const Field& height, float relief, bool wrap);

// Gaussian blur of a field; wrap = the field tiles.
void Blur(Field& f, float sigmaX, float sigmaY, bool wrap);
// Runs fn(y) for every row, in parallel. fn must only write its own row.
void ForRows(int h, const std::function<void(int)>& fn);

// The pixels written to one PNG: 1 = grey, 2 = grey + alpha, 3 = RGB,
// 4 = RGBA (straight, not premultiplied), 8 bits per channel. One channel
// with a palette (RGB triples) is an indexed-colour picture.
struct Raster {
  int w = 0, h = 0, channels = 0;
  std::vector<uint8_t> px;
  std::vector<uint8_t> palette;
  Raster() = default;
  Raster(int width, int height, int ch) : w(width), h(height), channels(ch), px(size_t(width) * height * ch, 0) {}
  uint8_t* at(int x, int y) { return &px[(size_t(y) * size_t(w) + size_t(x)) * size_t(channels)]; }
  const uint8_t* at(int x, int y) const { return &px[(size_t(y) * size_t(w) + size_t(x)) * size_t(channels)]; }
};

inline uint8_t ToByte(float v) {
  float c = v < 0 ? 0 : (v > 255 ? 255 : v);
  return uint8_t(c + 0.5f);
}

// An alpha mask (0..1) as black paint with that alpha.
Raster AlphaRaster(const Field& alpha);
// A grey field (0..255) as an opaque grey picture.
Raster GreyRaster(const Field& grey);
// A grey field (0..255) coloured through a gradient: stops are (grey level,
// 0xRRGGBB) pairs in increasing order. Stored as an indexed-colour picture,
// which costs no more than grey.
struct ColorStop {
  float level;
  uint32_t rgb;
};
Raster GradientMapped(const Field& grey, const std::vector<ColorStop>& stops);
// Copies an engine image (premultiplied) into a straight RGBA raster.
Raster RasterFromImage(const Image& img);
// The engine image of a raster (premultiplied).
Image ImageFromRaster(const Raster& r);

// Encodes a raster as PNG, deterministically (no time stamp, fixed settings).
std::vector<uint8_t> EncodeRasterPng(const Raster& r);

}  // namespace lq::gen
