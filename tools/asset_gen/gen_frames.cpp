// Picture frames: a moulding profile run along the four sides with mitred
// corners, lit from the upper left, around a fully transparent window.
//
// Each frame is described by its profile across the border (segments of
// rounds, coves, beads, bevels and flats, each with a material); every border
// pixel finds its side (the nearest outer edge), its distance into the
// moulding and its position along the side, and is shaded from the profile's
// slope and the material there.
#include <algorithm>
#include <cmath>
#include <string>

#include "tools/asset_gen/gen_pictures.h"

namespace lq::gen {

namespace {

constexpr float kPi = 3.14159265358979f;

enum class Mat { Walnut, Oak, Driftwood, Gold, SandedGold, Bole, Black, RedLacquer, Silver, MatBoard, MatCore, Linen };

enum class Shape { Flat, Slope, Round, Cove, Bead, Ogee };

struct Segment {
  float width;
  Shape shape;
  float h0, h1;  // height at the start and the end (Bead: h1 is the top)
  Mat mat;
};

struct FrameRecipe {
  std::string name;
  int w, h;
  std::vector<Segment> profile;
  uint32_t seed;
};

struct Rgb {
  float r, g, b;
};
Rgb Mix(Rgb a, Rgb b, float t) { return {Lerp(a.r, b.r, t), Lerp(a.g, b.g, t), Lerp(a.b, b.b, t)}; }
Rgb Hex(uint32_t c) {
  return {float((c >> 16) & 255u) / 255.0f, float((c >> 8) & 255u) / 255.0f, float(c & 255u) / 255.0f};
}

// Per border depth (one entry per pixel of depth): height, material and the
// position inside the segment.
struct ProfileTable {
  std::vector<float> height;
  std::vector<Mat> mat;
  std::vector<float> local;
  int border = 0;
};

float SegmentHeight(const Segment& s, float t) {
  switch (s.shape) {
    case Shape::Flat:
      return s.h0;
    case Shape::Slope:
      return Lerp(s.h0, s.h1, t);
    case Shape::Round:
      return s.h0 + (s.h1 - s.h0) * std::sin(0.5f * kPi * t);
    case Shape::Cove:
      return s.h0 + (s.h1 - s.h0) * (1 - std::cos(0.5f * kPi * t));
    case Shape::Bead: {
      float u = 2 * t - 1;
      return s.h0 + (s.h1 - s.h0) * std::sqrt(std::max(0.0f, 1 - u * u));
    }
    case Shape::Ogee:
      return s.h0 + (s.h1 - s.h0) * t * t * (3 - 2 * t);
  }
  return s.h0;
}

ProfileTable BuildProfile(const std::vector<Segment>& segs) {
  ProfileTable t;
  float total = 0;
  for (const Segment& s : segs) total += s.width;
  t.border = int(std::lround(total));
  // Sampled at the pixel centres and half way between, for the slopes.
  t.height.resize(size_t(2 * t.border + 2));
  t.mat.resize(size_t(t.border));
  t.local.resize(size_t(t.border));
  for (int i = 0; i < int(t.height.size()); ++i) {
    float d = float(i) * 0.5f;
    float start = 0;
    const Segment* seg = &segs.back();
    for (const Segment& s : segs) {
      if (d < start + s.width) {
        seg = &s;
        break;
      }
      start += s.width;
    }
    float tt = Clamp01((d - start) / seg->width);
    t.height[size_t(i)] = SegmentHeight(*seg, tt);
    if (i % 2 == 1 && i / 2 < t.border) {
      t.mat[size_t(i / 2)] = seg->mat;
      t.local[size_t(i / 2)] = tt;
    }
  }
  return t;
}

// Surface colour and gloss of a material at position (u along the side,
// d into the moulding); `side` varies the grain between the four rails.
struct Surfacing {
  Rgb albedo;
  float highlight;  // strength of the highlight
  float shine;      // its exponent: higher is a smaller, sharper highlight
  Rgb highlightTint{1, 1, 1};
  float slopeD = 0;    // extra slope across the rail from the surface itself (grain ridges)
  bool metal = false;  // metals reflect more and scatter less
};

// The parts of a material that change slowly along and across the rail.
// They are computed on a coarse grid and interpolated, which saves most of
// the noise evaluations of a frame.
struct Slow {
  float bow = 0, jitter = 0, figure = 0, weather = 0, gate = 0, tone = 0, wear = 0, black = 0, red = 0;
};
constexpr int kSlowStep = 4;

Slow SlowTerms(float u, float d, int side, uint32_t seed, float woodSpacing) {
  uint32_t s = seed + uint32_t(side) * 977u;
  float su = u + float(side) * 1913.0f;
  Slow t;
  t.bow = 38 * Fbm(su / 900, d / 260, 2, s + 1) + 9 * Noise(su / 160, d / 70, s + 2);
  // Rings grow wide and narrow from year to year.
  t.jitter = 0.45f * woodSpacing * Noise((d + t.bow) / (2.3f * woodSpacing), su / 700, s + 9);
  t.figure = 0.5f + 0.5f * Noise(su / 260, d / 45, s + 5);
  t.weather = 0.5f + 0.5f * Fbm(su / 120, d / 30, 2, s + 10);
  t.gate = Smoothstep(0.3f, 0.6f, Noise1(su / 70, s + 8));
  t.tone = Fbm(su / 70, d / 40, 3, s + 7);
  t.wear = Fbm(su / 25, d / 12, 3, s + 8);
  t.black = Noise(su / 300, d / 50, s + 10);
  t.red = Fbm(su / 200, d / 40, 2, s + 11);
  return t;
}

Slow MixSlow(const Slow& a, const Slow& b, float t) {
  return {Lerp(a.bow, b.bow, t),         Lerp(a.jitter, b.jitter, t), Lerp(a.figure, b.figure, t),
          Lerp(a.weather, b.weather, t), Lerp(a.gate, b.gate, t),     Lerp(a.tone, b.tone, t),
          Lerp(a.wear, b.wear, t),       Lerp(a.black, b.black, t),   Lerp(a.red, b.red, t)};
}

// Slow terms of one rail on the coarse grid: (length / step + 2) x (border / step + 2).
struct SlowGrid {
  int gw = 0, gh = 0;
  std::vector<Slow> v;
  Slow Sample(float u, float d) const {
    float fu = std::clamp(u / kSlowStep, 0.0f, float(gw - 1) - 0.001f);
    float fd = std::clamp(d / kSlowStep, 0.0f, float(gh - 1) - 0.001f);
    int iu = int(fu), id = int(fd);
    float tu = fu - float(iu), td = fd - float(id);
    auto at = [&](int i, int j) -> const Slow& { return v[size_t(j) * size_t(gw) + size_t(i)]; };
    return MixSlow(MixSlow(at(iu, id), at(iu + 1, id), tu), MixSlow(at(iu, id + 1), at(iu + 1, id + 1), tu), td);
  }
};

Surfacing Material(Mat m, float u, float d, int side, uint32_t seed, const Slow& sl) {
  uint32_t s = seed + uint32_t(side) * 977u;
  float su = u + float(side) * 1913.0f;
  switch (m) {
    case Mat::Walnut:
    case Mat::Oak:
    case Mat::Driftwood: {
      // Flat-sawn boards: the saw cuts the growth rings at a shallow angle,
      // so they run along the rail in broad bands that bow into arches;
      // pores are drawn out into short dark flecks along the grain.
      float spacing = m == Mat::Walnut ? 15.0f : (m == Mat::Oak ? 12.0f : 16.0f);
      float ringPos = (d + sl.bow + sl.jitter) / spacing;
      float ringIdx = std::floor(ringPos);
      float ring = ringPos - ringIdx;
      float strength = 0.6f + 0.4f * Hash01(int(ringIdx), side, s + 3);
      auto lateOf = [](float r) { return Smoothstep(0.45f, 0.85f, r) * (1 - Smoothstep(0.93f, 1.0f, r)); };
      float late = strength * lateOf(ring);
      float pore = Smoothstep(0.45f, 0.85f, Noise(su / 16, d / 0.9f, s + 4));
      float figure = sl.figure;
      Surfacing out;
      if (m == Mat::Walnut) {
        out.albedo = Mix(Mix(Hex(0x7A5234), Hex(0x5E3C24), figure), Hex(0x2E1C12), 0.7f * late);
        out.albedo = Mix(out.albedo, Hex(0x24160E), 0.35f * pore);
        out.highlight = 0.22f;
        out.shine = 24;
      } else if (m == Mat::Oak) {
        out.albedo = Mix(Mix(Hex(0xD2AC7A), Hex(0xC09464), figure), Hex(0x8A643A), 0.65f * late);
        out.albedo = Mix(out.albedo, Hex(0x6A4A2A), 0.45f * pore * (1 - late));
        out.highlight = 0.12f;
        out.shine = 16;
      } else {
        // Weathered grey wood: the soft early wood wears away, the late
        // wood stands as ridges, the surface checks along the grain.
        float fibre = Noise(su / 30, d / 0.8f, s + 6);
        float weather = sl.weather;
        out.albedo = Mix(Mix(Hex(0xB4AC9F), Hex(0x8C857A), weather), Hex(0x6E675E), 0.4f * late);
        out.albedo = Mix(out.albedo, Hex(0x5A544C), 0.2f * Smoothstep(0.2f, 0.8f, fibre));
        float crack = Smoothstep(0.84f, 0.96f, Noise(su / 260, d / 3.2f, s + 7)) * sl.gate;
        out.albedo = Mix(out.albedo, Hex(0x3A3530), 0.85f * crack);
        // Ridges of late wood: slope of the relief across the rail.
        float dLate =
            strength * (lateOf(std::min(ring + 0.03f, 0.999f)) - lateOf(std::max(ring - 0.03f, 0.0f))) / 0.06f;
        out.slopeD = 0.45f * dLate / spacing - 0.6f * crack;
        out.highlight = 0.03f;
        out.shine = 6;
      }
      return out;
    }
    case Mat::Gold:
    case Mat::SandedGold: {
      Surfacing out;
      float tone = sl.tone;
      out.albedo = Mix(Hex(0xB08A44), Hex(0xD6B672), 0.5f + 0.4f * tone);
      // Worn high spots let the red bole show through.
      float wear = Smoothstep(0.55f, 0.8f, sl.wear);
      out.albedo = Mix(out.albedo, Hex(0x8A4A2A), 0.35f * wear);
      out.highlightTint = Hex(0xFFE7A8);
      out.highlight = m == Mat::Gold ? 1.0f : 0.3f;
      out.shine = m == Mat::Gold ? 14 : 8;
      out.metal = true;
      if (m == Mat::SandedGold) {
        // Sand thrown into the size before gilding: a fine, soft speckle.
        float grain = Noise(su / 1.8f, d / 1.8f, s + 9);
        out.albedo = Mix(out.albedo, grain > 0 ? Hex(0xE8CC88) : Hex(0x7A5E2C), 0.35f * std::fabs(grain));
      }
      return out;
    }
    case Mat::Bole:
      return {Hex(0x5A2E1C), 0.1f, 10};
    case Mat::Black: {
      Surfacing out{Hex(0x1A1918), 0.55f, 40};
      out.albedo = Mix(out.albedo, Hex(0x2A2826), 0.5f + 0.5f * sl.black);
      return out;
    }
    case Mat::RedLacquer: {
      Surfacing out{Hex(0x7A1A16), 0.6f, 36};
      out.albedo = Mix(out.albedo, Hex(0x5A1010), 0.5f + 0.5f * sl.red);
      return out;
    }
    case Mat::Silver: {
      // Brushed aluminium: fine streaks along the rail.
      float brush = Noise(su / 40, d / 0.6f, s + 12) * 0.6f + Noise(su / 9, d / 0.35f, s + 13) * 0.4f;
      Surfacing out{Mix(Hex(0x9C9FA4), Hex(0xC8CBD0), 0.5f + 0.35f * brush), 0.6f, 14};
      out.highlightTint = Hex(0xF4F6FA);
      out.metal = true;
      return out;
    }
    case Mat::MatBoard: {
      float n = Noise(u / 1.5f, d / 1.5f, s + 14) * 0.5f + Noise(u / 6, d / 6, s + 15) * 0.5f;
      return {Mix(Hex(0xEDE9DE), Hex(0xE4DFD2), 0.5f + 0.5f * n), 0.02f, 4};
    }
    case Mat::MatCore:
      return {Hex(0xFAF8F2), 0.02f, 4};
    case Mat::Linen: {
      // Linen-covered liner: a fine plain weave.
      float warp = std::sqrt(std::fabs(std::sin(kPi * u / 3.0f)));
      float weft = std::sqrt(std::fabs(std::sin(kPi * d / 3.0f)));
      float slubU = Noise(u / 40, d / 3, s + 16), slubD = Noise(u / 3, d / 40, s + 17);
      float weave = 0.5f * (warp * (1 + 0.5f * slubU) + weft * (1 + 0.5f * slubD));
      Surfacing out{
          Mix(Hex(0xB8A886), Hex(0xDCCFB2), Clamp01(0.25f + 0.45f * weave + 0.1f * Noise(u / 7, d / 7, s + 18))), 0.04f,
          6};
      return out;
    }
  }
  return {Hex(0x808080), 0, 1};
}

Raster MakeFrame(const FrameRecipe& fr) {
  ProfileTable prof = BuildProfile(fr.profile);
  const int W = fr.w, H = fr.h, B = prof.border;
  Raster out(W, H, 4);
  // Light from the upper left, viewer straight in front.
  const float lx = -0.48f, ly = -0.56f, lz = 0.675f;
  const float hxv = lx, hyv = ly, hzv = lz + 1;
  const float hl = std::sqrt(hxv * hxv + hyv * hyv + hzv * hzv);
  const float hx = hxv / hl, hy = hyv / hl, hz = hzv / hl;

  float woodSpacing = 15;
  for (Mat m : prof.mat) {
    if (m == Mat::Oak) woodSpacing = 12;
    if (m == Mat::Driftwood) woodSpacing = 16;
  }
  SlowGrid grids[4];
  for (int side = 0; side < 4; ++side) {
    SlowGrid& g = grids[side];
    int length = (side == 0 || side == 2) ? H : W;
    g.gw = length / kSlowStep + 2;
    g.gh = B / kSlowStep + 2;
    g.v.resize(size_t(g.gw) * size_t(g.gh));
    ForRows(g.gh, [&](int j) {
      for (int i = 0; i < g.gw; ++i)
        g.v[size_t(j) * size_t(g.gw) + size_t(i)] =
            SlowTerms(float(i * kSlowStep), float(j * kSlowStep), side, fr.seed, woodSpacing);
    });
  }

  auto shadeSide = [&](int side, int k, float u) -> Rgb {
    float d = float(k) + 0.5f;
    Mat m = prof.mat[size_t(k)];
    Surfacing sf = Material(m, u, d, side, fr.seed, grids[side].Sample(u, d));
    // Slope of the profile into the frame, plus the material's own relief.
    float slope = prof.height[size_t(2 * k + 2)] - prof.height[size_t(2 * k)] + sf.slopeD;
    // Inward direction of this side: left, top, right, bottom.
    static const float inX[4] = {1, 0, -1, 0}, inY[4] = {0, 1, 0, -1};
    float nx = -slope * inX[side];
    float ny = -slope * inY[side];
    float nz = 1;
    float len = std::sqrt(nx * nx + ny * ny + nz * nz);
    nx /= len;
    ny /= len;
    nz /= len;
    float diff = std::max(0.0f, nx * lx + ny * ly + nz * lz);
    float shine = std::pow(std::max(0.0f, nx * hx + ny * hy + nz * hz), sf.shine) * sf.highlight;
    // Coves collect shadow.
    float curv = prof.height[size_t(2 * k)] + prof.height[size_t(2 * k + 2)] - 2 * prof.height[size_t(2 * k + 1)];
    float occl = 1 - std::clamp(curv * 0.8f, 0.0f, 0.25f);
    // Metal shows its shape by strong contrast, but a bevel turned from the
    // light still catches the room around it.
    float light = sf.metal ? (0.24f + 1.4f * diff * diff) * occl : (0.28f + 0.95f * diff) * occl;
    return {sf.albedo.r * light + shine * sf.highlightTint.r, sf.albedo.g * light + shine * sf.highlightTint.g,
            sf.albedo.b * light + shine * sf.highlightTint.b};
  };

  ForRows(H, [&](int y) {
    for (int x = 0; x < W; ++x) {
      float cx = float(x) + 0.5f, cy = float(y) + 0.5f;
      float dist[4] = {cx, cy, float(W) - cx, float(H) - cy};
      int side = 0;
      for (int s = 1; s < 4; ++s)
        if (dist[s] < dist[side]) side = s;
      float d = dist[side];
      uint8_t* px = out.at(x, y);
      if (d >= float(B)) {
        px[0] = px[1] = px[2] = px[3] = 0;  // the window
        continue;
      }
      auto along = [&](int s) { return (s == 0 || s == 2) ? cy : cx; };
      Rgb c = shadeSide(side, int(d), along(side));
      // Near the mitre, blend with the neighbouring rail and mark the joint.
      int other = -1;
      float gap = 1e9f;
      for (int s = 0; s < 4; ++s)
        if (s != side && dist[s] - d < gap) {
          gap = dist[s] - d;
          other = s;
        }
      if (gap < 1.0f && dist[other] < float(B)) {
        Rgb c2 = shadeSide(other, int(dist[other]), along(other));
        float t = 0.5f * (1 - gap);
        c = Mix(c, c2, t);
        Mat jm = prof.mat[size_t(int(d))];
        bool board = jm != Mat::MatBoard && jm != Mat::MatCore && jm != Mat::Linen;
        float joint = board ? 0.22f * (1 - gap) : 0.0f;
        c = {c.r * (1 - joint), c.g * (1 - joint), c.b * (1 - joint)};
      }
      px[0] = ToByte(c.r * 255);
      px[1] = ToByte(c.g * 255);
      px[2] = ToByte(c.b * 255);
      px[3] = 255;
    }
  });
  return out;
}

std::vector<FrameRecipe> Recipes() {
  using S = Shape;
  return {
      {"1",
       2225,
       2196,
       {{14, S::Round, 0, 14, Mat::Walnut},
        {56, S::Cove, 14, 6, Mat::Walnut},
        {80, S::Round, 6, 30, Mat::Walnut},
        {20, S::Flat, 30, 30, Mat::Walnut},
        {16, S::Slope, 30, 22, Mat::Walnut},
        {14, S::Bead, 20, 26, Mat::Gold}},
       0xF100},
      {"2",
       2244,
       2424,
       {{12, S::Flat, 10, 10, Mat::Bole},
        {28, S::Bead, 10, 24, Mat::Gold},
        {80, S::Bead, 14, 46, Mat::Gold},
        {70, S::Cove, 22, 8, Mat::Gold},
        {16, S::Bead, 8, 16, Mat::Gold},
        {44, S::Flat, 8, 8, Mat::SandedGold},
        {18, S::Ogee, 8, 18, Mat::Gold},
        {12, S::Slope, 18, 10, Mat::Gold}},
       0xF200},
      {"3",
       1122,
       1212,
       {{6, S::Round, 0, 8, Mat::Black},
        {24, S::Flat, 8, 8, Mat::Black},
        {4, S::Slope, 8, 2, Mat::Black},
        {116, S::Flat, 2, 2, Mat::MatBoard},
        {10, S::Slope, 2, -2, Mat::MatCore}},
       0xF300},
      {"4",
       816,
       1456,
       {{8, S::Round, 0, 8, Mat::Silver},
        {32, S::Flat, 8, 8, Mat::Silver},
        {8, S::Bead, 8, 12, Mat::Silver},
        {8, S::Slope, 8, 2, Mat::Silver}},
       0xF400},
      {"5",
       2260,
       3000,
       {{10, S::Round, 0, 10, Mat::Driftwood},
        {218, S::Flat, 10, 10, Mat::Driftwood},
        {12, S::Slope, 10, 2, Mat::Driftwood}},
       0xF500},
      {"6",
       1100,
       1100,
       {{10, S::Round, 0, 10, Mat::RedLacquer},
        {70, S::Ogee, 10, 26, Mat::RedLacquer},
        {16, S::Flat, 26, 26, Mat::RedLacquer},
        {12, S::Bead, 24, 30, Mat::Gold},
        {12, S::Slope, 26, 18, Mat::Gold}},
       0xF600},
      {"7",
       2024,
       2416,
       {{12, S::Round, 0, 12, Mat::Oak},
        {128, S::Round, 12, 18, Mat::Oak},
        {12, S::Slope, 18, 10, Mat::Oak},
        {8, S::Bead, 10, 14, Mat::Gold},
        {76, S::Flat, 6, 6, Mat::Linen},
        {14, S::Slope, 6, 0, Mat::Linen}},
       0xF700},
  };
}

}  // namespace

void AddFramePictures(std::vector<PictureDef>& out) {
  for (const FrameRecipe& r : Recipes()) out.push_back({"FrameList/" + r.name, r.w, r.h, [r] { return MakeFrame(r); }});
}

}  // namespace lq::gen
