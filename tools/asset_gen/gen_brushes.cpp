// Brush atlases and single brushes: bristle strokes for impasto, oil-pastel
// marks, watercolour splashes, the template strokes and the three round
// bristle dabs.
#include "engine/gfx/parallel_range.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include "tools/asset_gen/gen_pictures.h"
#include "tools/asset_gen/gen_stroke.h"

namespace lq::gen {

namespace {

constexpr float kPi = 3.14159265358979f;
constexpr int kCell = 256;

// Renders fn over a cell and shrinks the shape until it keeps `margin` pixels
// away from every side, so no paint reaches a neighbouring cell.
template <typename Shape, typename Fn>
Field RenderFitted(int size, int margin, Shape shape, Fn&& alphaOf) {
  for (int attempt = 0;; ++attempt) {
    Field f(size, size);
    int minX = size, minY = size, maxX = -1, maxY = -1;
    for (int y = 0; y < size; ++y) {
      for (int x = 0; x < size; ++x) {
        float a = alphaOf(shape, float(x) + 0.5f, float(y) + 0.5f);
        f.at(x, y) = a;
        if (a > 0.5f / 255.0f) {
          minX = std::min(minX, x);
          maxX = std::max(maxX, x);
          minY = std::min(minY, y);
          maxY = std::max(maxY, y);
        }
      }
    }
    bool fits = minX >= margin && minY >= margin && maxX < size - margin && maxY < size - margin;
    if (fits || attempt > 30) return f;
    shape.Shrink(0.94f);
  }
}

void BlitCell(Field& atlas, const Field& cell, int k, int cellSize, int perRow) {
  int x0 = cellSize * (k % perRow), y0 = cellSize * (k / perRow);
  for (int y = 0; y < cell.h; ++y)
    for (int x = 0; x < cell.w; ++x) atlas.at(x0 + x, y0 + y) = cell.at(x, y);
}

// One or more strokes laid on top of each other (alpha union).
struct Strokes {
  std::vector<StrokeShape> shapes;
  float centre = 128;  // shrinking keeps this point in place
  void Shrink(float f) {
    for (auto& s : shapes) {
      s.length *= f;
      s.halfWidth *= f;
      s.wobbleAmp *= f;
      s.curvature /= f;
      s.cx = centre + (s.cx - centre) * f;
      s.cy = centre + (s.cy - centre) * f;
    }
  }
};

// ---------------------------------------------------------------------------
// Impasto bristle strokes (DefaultBrushes)

Field ImpastoCell(int k) {
  Rng rng(0x1000 + uint64_t(k));
  StrokeShape st;
  BristleStyle b;
  st.angle = float(rng.Range(0, 2 * kPi));
  int kind = k % 5;
  switch (kind) {
    case 0:  // long flat stroke
      st.length = float(rng.Range(205, 240));
      st.halfWidth = float(rng.Range(30, 46));
      st.curvature = float(rng.Range(-1, 1) / 400);
      break;
    case 1:  // short loaded dab
      st.length = float(rng.Range(125, 165));
      st.halfWidth = float(rng.Range(48, 66));
      st.taperStart = 0.12f;
      st.taperEnd = 0.1f;
      break;
    case 2:  // curved stroke
      st.length = float(rng.Range(205, 235));
      st.halfWidth = float(rng.Range(28, 42));
      st.curvature = float((rng.Chance(0.5) ? 1 : -1) * rng.Range(1.0 / 190, 1.0 / 120));
      break;
    case 3:  // filbert: rounded, narrowing end
      st.length = float(rng.Range(155, 190));
      st.halfWidth = float(rng.Range(40, 56));
      st.taperStart = 0.18f;
      st.taperEnd = 0.4f;
      st.taperPower = 0.8f;
      break;
    default:  // S-shaped stroke
      st.length = float(rng.Range(205, 235));
      st.halfWidth = float(rng.Range(26, 38));
      st.wobbleAmp = float(rng.Range(7, 14));
      st.wobbleFreq = 1;
      st.wobblePhase = float(rng.Range(0, 2 * kPi));
      break;
  }
  st.widthSlope = float(rng.Range(-0.25, 0.1));
  b.bristles = float(rng.Range(45, 85));
  b.load = float(rng.Range(0.95, 1.0));
  b.streak = float(rng.Range(0.18, 0.34));
  b.clump = float(rng.Range(0.1, 0.24));
  b.dryStart = float(rng.Range(0.45, 0.8));
  b.dryAmount = float(rng.Range(0.5, 1.0));
  b.endRagged = float(rng.Range(0.1, 0.28));
  b.edgeRough = float(rng.Range(0.05, 0.12));
  b.startBlob = float(rng.Range(0.1, 0.35));
  b.strayHairs = float(rng.Range(0.2, 0.8));
  b.seed = 0x2000u + uint32_t(k);
  Strokes s{{st}};
  return RenderFitted(kCell, 6, s,
                      [&](const Strokes& sh, float x, float y) { return BristleAlpha(sh.shapes[0], b, x, y); });
}

Raster MakeDefaultBrushes() {
  Field atlas(2048, 1536);
  lq::ParallelRange(0, 40, 1, [&](int lo, int hi) {
    for (int k = lo; k < hi; ++k) BlitCell(atlas, ImpastoCell(k), k, kCell, 8);
  });
  return AlphaRaster(atlas);
}

// ---------------------------------------------------------------------------
// Oil-pastel marks (PastelBrushes)

struct PastelStyle {
  float pressure = 1.1f;    // how hard the stick is pressed
  float edgeRough = 0.18f;  // chalky, broken outline
  float edgePow = 2.5f;     // pressure falls off this fast towards the edge
  float streak = 0.25f;     // drag lines along the mark
  float lift = 0.35f;       // pressure lost towards the end
  uint32_t seed = 1;
};

// Height of the paper grain, about 0..1: pits between fibres are high values.
float PaperTooth(float x, float y, uint32_t seed) {
  Cell2 c = Worley(x / 4.2f, y / 4.2f, seed);
  return 0.34f + 0.4f * Clamp01(c.f1 * 1.4f) + 0.16f * Noise(x / 1.6f, y / 1.6f, seed + 1) +
         0.12f * Noise(x / 9.0f, y / 9.0f, seed + 2);
}

float PastelPressure(const StrokeShape& st, const PastelStyle& p, float x, float y) {
  StrokeCoord c = MapStroke(st, x, y);
  if (!c.valid) return 0;
  float v = c.l / c.hw;
  uint32_t side = v < 0 ? 31u : 57u;
  float edge = 1 + p.edgeRough * (2 * Noise1(c.s * st.length / 14, p.seed + side) - 1) +
               0.45f * p.edgeRough * (2 * Noise1(c.s * st.length / 3.5f, p.seed + side + 3) - 1);
  float av = std::fabs(v) / std::max(edge, 0.3f);
  if (av >= 1) return 0;
  // The ends crumble too: where the stick lands and lifts is uneven.
  float startS = 0.07f * Noise1((v + 1) * 3, p.seed + 11) + 0.03f * Noise1((v + 1) * 11, p.seed + 12);
  float endS = 1 - 0.1f * Noise1((v + 1) * 3, p.seed + 13) - 0.04f * Noise1((v + 1) * 11, p.seed + 14);
  float ends = Smoothstep(startS, startS + 0.08f, c.s) * (1 - Smoothstep(endS - 0.1f, endS, c.s));
  if (ends <= 0) return 0;
  float across = (1 - Smoothstep(1 - 1.8f / p.edgePow, 1.0f, av)) * ends;
  float along = 1 - p.lift * Smoothstep(0.2f, 1.0f, c.s);
  float streak =
      1 - p.streak * (1 - Noise1((v + 1) * 14, p.seed + 5)) - 0.5f * p.streak * Noise1((v + 1) * 40, p.seed + 6);
  return p.pressure * across * along * streak;
}

Field PastelCell(int k) {
  Rng rng(0x3000 + uint64_t(k));
  PastelStyle p;
  p.seed = 0x3100u + uint32_t(k) * 17u;
  p.pressure = float(rng.Range(1.0, 1.25));
  p.edgeRough = float(rng.Range(0.12, 0.24));
  p.streak = float(rng.Range(0.15, 0.32));
  p.lift = float(rng.Range(0.15, 0.45));
  Strokes s;
  StrokeShape st;
  st.angle = float(rng.Range(0, 2 * kPi));
  st.taperStart = 0.1f;
  st.taperEnd = 0.12f;
  st.taperPower = 0.45f;
  switch (k) {
    case 0:  // plain stroke
      st.length = 205;
      st.halfWidth = 46;
      s.shapes.push_back(st);
      break;
    case 1:  // side of the stick: a wide, blunt chunk
      st.length = 140;
      st.halfWidth = 74;
      st.taperStart = st.taperEnd = 0.03f;
      p.pressure = 0.95f;
      p.edgePow = 4;
      s.shapes.push_back(st);
      break;
    case 2:  // curved stroke
      st.length = 210;
      st.halfWidth = 40;
      st.curvature = 1.0f / 160;
      s.shapes.push_back(st);
      break;
    case 3:  // press and lift: thick start, thin end
      st.length = 215;
      st.halfWidth = 46;
      st.widthSlope = -0.8f;
      st.taperEnd = 0.35f;
      p.lift = 0.6f;
      s.shapes.push_back(st);
      break;
    case 4:  // two passes over the same place
      st.length = 195;
      st.halfWidth = 36;
      s.shapes.push_back(st);
      st.angle += 0.18f;
      st.cx += 8 * std::sin(st.angle);
      st.cy -= 8 * std::cos(st.angle);
      st.length = 165;
      s.shapes.push_back(st);
      break;
    case 5:  // broad, light smear
      st.length = 215;
      st.halfWidth = 76;
      p.pressure = 0.85f;
      p.edgePow = 1.6f;
      s.shapes.push_back(st);
      break;
    case 6:  // round dab
      st.length = 130;
      st.halfWidth = 64;
      st.taperStart = st.taperEnd = 0.5f;
      st.taperPower = 0.5f;
      p.lift = 0.1f;
      s.shapes.push_back(st);
      break;
    case 7:  // three short hatching strokes across the centre
      for (int i = -1; i <= 1; ++i) {
        StrokeShape h = st;
        h.length = float(rng.Range(120, 160));
        h.halfWidth = 22;
        h.cx = 128 + float(i) * 36 * -std::sin(st.angle) + float(rng.Range(-10, 10)) * std::cos(st.angle);
        h.cy = 128 + float(i) * 36 * std::cos(st.angle) + float(rng.Range(-10, 10)) * std::sin(st.angle);
        s.shapes.push_back(h);
      }
      break;
    case 8:  // long thin line
      st.length = 230;
      st.halfWidth = 22;
      st.curvature = -1.0f / 500;
      s.shapes.push_back(st);
      break;
    case 9:  // two strokes side by side with bare paper between them
      for (int i = -1; i <= 1; i += 2) {
        StrokeShape h;
        h.angle = kPi / 2 + float(rng.Range(-0.05, 0.05));
        h.length = 180;
        h.halfWidth = 30;
        h.cx = 128 + float(i) * 64;
        h.cy = 128;
        h.taperStart = 0.1f;
        h.taperEnd = 0.12f;
        h.taperPower = 0.45f;
        s.shapes.push_back(h);
      }
      break;
    case 10:  // S-curve
      st.length = 215;
      st.halfWidth = 36;
      st.wobbleAmp = 14;
      st.wobblePhase = 0.3f;
      s.shapes.push_back(st);
      break;
    case 11:  // heavy stroke that runs dry
      st.length = 210;
      st.halfWidth = 52;
      p.lift = 0.75f;
      p.pressure = 1.3f;
      s.shapes.push_back(st);
      break;
    default:  // crescent bowed round the middle of the cell, which it leaves bare
      st.angle = -kPi / 2;
      st.cx = 52;
      st.cy = 128;
      st.length = 210;
      st.halfWidth = 30;
      st.curvature = 1.0f / 150;
      st.taperStart = st.taperEnd = 0.3f;
      st.taperPower = 0.7f;
      s.shapes.push_back(st);
      break;
  }
  uint32_t toothSeed = 0x3900u + uint32_t(k);
  return RenderFitted(kCell, 6, s, [&](const Strokes& sh, float x, float y) {
    float pr = 0;
    for (const auto& one : sh.shapes) pr = std::max(pr, PastelPressure(one, p, x, y));
    if (pr <= 0) return 0.0f;
    // Wax sticks to the tops of the paper grain first; hard pressure fills it.
    float t = PaperTooth(x, y, toothSeed);
    return 0.97f * Smoothstep(t - 0.2f, t + 0.05f, pr * 1.05f);
  });
}

Raster MakePastelBrushes() {
  Field atlas(2048, 512);
  lq::ParallelRange(0, 13, 1, [&](int lo, int hi) {
    for (int k = lo; k < hi; ++k) BlitCell(atlas, PastelCell(k), k, kCell, 8);
  });
  Raster r = AlphaRaster(atlas);
  for (int k = 0; k < 16; ++k) {
    bool used = k <= 12;
    bool passes = used && k != 9 && k != 12;
    if (CellEmpty(r, k) == used || CellPassesProbe(r, k) != passes)
      throw std::runtime_error("PastelBrushes: cell " + std::to_string(k) + " breaks the atlas layout");
  }
  return r;
}

// ---------------------------------------------------------------------------
// Watercolour splashes (WatercolorBrushes)

struct Blob {
  float cx, cy, rx, ry, angle;
};

float BlobField(const Blob& b, float x, float y) {
  float dx = x - b.cx, dy = y - b.cy;
  float c = std::cos(b.angle), s = std::sin(b.angle);
  float u = (dx * c + dy * s) / b.rx, v = (-dx * s + dy * c) / b.ry;
  return 1 - std::sqrt(u * u + v * v);
}

// Paints pigment into a shape mask the way a drying wash does: an uneven
// body, granulation, and pigment carried to the edge where it dries darker.
Field WashFromShape(const Field& inside, Rng& rng, uint32_t seed, bool softEdge, float bodyDensity, float rim) {
  Field mask = inside;
  if (softEdge) Blur(mask, 4.5f, 4.5f, false);
  Field dist = DistanceInside(inside);
  float rimWidth = float(rng.Range(2.5, 5.0));
  Field out(inside.w, inside.h);
  for (int y = 0; y < out.h; ++y) {
    for (int x = 0; x < out.w; ++x) {
      float m = mask.at(x, y);
      if (m <= 0.002f) continue;
      float fx = float(x), fy = float(y);
      float body = bodyDensity * (1 + 0.3f * Fbm(fx / 45, fy / 45, 3, seed + 1)) +
                   0.07f * Noise(fx / 1.6f, fy / 1.6f, seed + 2) + 0.05f * Noise(fx / 4, fy / 4, seed + 3);
      float d = dist.at(x, y);
      float edgeDark =
          softEdge ? 0.0f : rim * std::exp(-d / rimWidth) * (0.75f + 0.25f * Noise(fx / 6, fy / 6, seed + 4));
      out.at(x, y) = Clamp01((body + edgeDark) * m);
    }
  }
  return out;
}

// A bloom: water run back into a drying wash pushes the pigment out, leaving
// a pale centre with a dark, cauliflower-shaped edge.
void AddBloom(Field& wash, const Field& inside, float cx, float cy, float radius, uint32_t seed) {
  for (int y = 0; y < wash.h; ++y) {
    for (int x = 0; x < wash.w; ++x) {
      if (inside.at(x, y) <= 0.5f) continue;
      float fx = float(x), fy = float(y);
      float d = std::hypot(fx - cx, fy - cy) / radius;
      float g = 1 - d + 0.45f * Fbm(fx / 16, fy / 16, 4, seed) + 0.14f * Noise(fx / 3.5f, fy / 3.5f, seed + 9);
      float& a = wash.at(x, y);
      if (g > 0) a *= 0.6f + 0.4f * Smoothstep(0.3f, 0.0f, g) + 0.08f * Noise(fx / 7, fy / 7, seed + 10);
      float fringe = std::exp(-std::fabs(g) * 16) * (0.6f + 0.4f * Noise(fx / 2.5f, fy / 2.5f, seed + 11));
      a = Clamp01(a + 0.3f * fringe);
    }
  }
}

void AddDroplets(Field& out, Rng& rng, int count, float cx, float cy, float rMin, float rMax, bool avoidCentreColumn) {
  for (int i = 0; i < count; ++i) {
    float ang = float(rng.Range(0, 2 * kPi));
    float dist = float(rng.Range(rMin, rMax));
    float r = float(std::pow(rng.Uniform(), 2.2) * 5.5 + 1.2);
    float px = cx + dist * std::cos(ang), py = cy + dist * std::sin(ang);
    if (px - r < 8 || py - r < 8 || px + r > 248 || py + r > 248) continue;
    if (avoidCentreColumn && std::fabs(px - 128) < r + 6) continue;
    float body = float(rng.Range(0.35, 0.6));
    for (int y = int(py - r - 2); y <= int(py + r + 2); ++y) {
      for (int x = int(px - r - 2); x <= int(px + r + 2); ++x) {
        float d = std::hypot(float(x) + 0.5f - px, float(y) + 0.5f - py);
        float cover = Clamp01(r - d + 0.5f);
        if (cover <= 0) continue;
        float rim = 0.35f * std::exp(-(r - d) / 1.2f);
        float& a = out.at(x, y);
        a = std::max(a, Clamp01((body + rim) * cover));
      }
    }
  }
}

Field WatercolorCell(int k) {
  Rng rng(0x5000 + uint64_t(k));
  uint32_t seed = 0x5100u + uint32_t(k) * 31u;
  Field inside(kCell, kCell);
  bool soft = false;
  float body = float(rng.Range(0.3, 0.46));
  float rim = float(rng.Range(0.42, 0.6));
  bool bloom = false;
  int droplets = 0;

  auto fillFromField = [&](auto&& fieldAt, float scale) {
    for (int y = 0; y < kCell; ++y)
      for (int x = 0; x < kCell; ++x)
        inside.at(x, y) = Clamp01(0.5f + fieldAt(float(x) + 0.5f, float(y) + 0.5f) * scale);
  };
  auto warp = [&](float x, float y, float amount) {
    return amount * Fbm(x / 38, y / 38, 4, seed + 40) + 0.35f * amount * Noise(x / 9, y / 9, seed + 41) +
           0.12f * amount * Noise(x / 3, y / 3, seed + 42);
  };

  if (k == 3) {
    // A ring stain: the middle dried clear, the pigment sits in the ring.
    fillFromField(
        [&](float x, float y) {
          float r = std::hypot(x - 128, y - 128);
          float wob = 5 * Noise(x / 22, y / 22, seed + 1) + 2 * Noise(x / 6, y / 6, seed + 2);
          float ring = std::min(r - 82 - wob, 114 + 1.5f * wob - r);
          return ring / 2.0f;
        },
        1);
    rim = 0.5f;
    body = 0.22f;
    droplets = 14;
  } else if (k < 3 || k == 13 || k == 14) {
    // Round and oval washes.
    Blob b{128, 128, float(rng.Range(70, 105)), float(rng.Range(55, 95)), float(rng.Range(0, kPi))};
    fillFromField([&](float x, float y) { return (BlobField(b, x, y) + warp(x, y, 0.2f)) * 60; }, 1);
    bloom = k == 1 || k == 13;
    droplets = k == 2 ? 10 : 0;
  } else if (k <= 8) {
    // Elongated splashes, two or three blobs run together.
    int n = 2 + rng.Below(2);
    float ang = float(rng.Range(0, kPi));
    std::vector<Blob> blobs;
    for (int i = 0; i < n; ++i) {
      float t = n == 1 ? 0 : (float(i) / float(n - 1) - 0.5f);
      float along = t * float(rng.Range(80, 120));
      blobs.push_back({128 + along * std::cos(ang) + float(rng.Range(-12, 12)),
                       128 + along * std::sin(ang) + float(rng.Range(-12, 12)), float(rng.Range(38, 62)),
                       float(rng.Range(28, 48)), ang + float(rng.Range(-0.4, 0.4))});
    }
    fillFromField(
        [&](float x, float y) {
          float f = -1;
          for (const Blob& b : blobs) f = std::max(f, BlobField(b, x, y));
          return (f + warp(x, y, 0.25f)) * 55;
        },
        1);
    droplets = (k % 2) ? 18 : 6;
    soft = k == 6;
  } else if (k <= 12) {
    // Watercolour brush strokes.
    StrokeShape st;
    st.angle = float(rng.Range(0, 2 * kPi));
    st.length = float(rng.Range(170, 210));
    st.halfWidth = float(rng.Range(26, 40));
    st.curvature = float(rng.Range(-1, 1) / 220);
    st.taperStart = 0.15f;
    st.taperEnd = 0.3f;
    st.taperPower = 0.7f;
    fillFromField(
        [&](float x, float y) {
          StrokeCoord c = MapStroke(st, x, y);
          float f = c.valid ? 1 - std::fabs(c.l) / c.hw : -1;
          return (f + warp(x, y, 0.18f)) * 30;
        },
        1);
    body = float(rng.Range(0.3, 0.45));
    droplets = k == 11 ? 12 : 0;
  } else if (k <= 16) {
    // Blooming washes with a lobed outline.
    int lobes = 5 + rng.Below(4);
    float phase = float(rng.Range(0, 2 * kPi));
    float base = float(rng.Range(78, 96));
    fillFromField(
        [&](float x, float y) {
          float a = std::atan2(y - 128, x - 128);
          float r = std::hypot(x - 128, y - 128);
          float edge = base * (1 + 0.06f * std::sin(float(lobes) * a + phase)) + 24 * Fbm(x / 30, y / 30, 4, seed + 7);
          return (edge - r) / 2.0f;
        },
        1);
    bloom = true;
  } else {
    // Wet-in-wet: soft edges and splatter around.
    Blob b{128, 128, float(rng.Range(60, 90)), float(rng.Range(45, 75)), float(rng.Range(0, kPi))};
    fillFromField([&](float x, float y) { return (BlobField(b, x, y) + warp(x, y, 0.3f)) * 40; }, 1);
    soft = k % 2 == 1;
    droplets = soft ? 8 : 24;
  }

  Field wash = WashFromShape(inside, rng, seed, soft, body, rim);
  if (bloom) {
    float bx = 128 + float(rng.Range(-25, 25)), by = 128 + float(rng.Range(-25, 25));
    AddBloom(wash, inside, bx, by, float(rng.Range(30, 48)), seed + 60);
  }
  if (droplets) AddDroplets(wash, rng, droplets, 128, 128, 70, 122, k == 3);
  return wash;
}

Raster MakeWatercolorBrushes() {
  Field atlas(2048, 768);
  lq::ParallelRange(0, 21, 1, [&](int lo, int hi) {
    for (int k = lo; k < hi; ++k) BlitCell(atlas, WatercolorCell(k), k, kCell, 8);
  });
  // Keep every splash inside its own cell.
  for (int y = 0; y < atlas.h; ++y)
    for (int x = 0; x < atlas.w; ++x) {
      int cx = x % kCell, cy = y % kCell;
      if (cx < 3 || cy < 3 || cx > kCell - 4 || cy > kCell - 4) atlas.at(x, y) = 0;
    }
  Raster r = AlphaRaster(atlas);
  for (int k = 0; k < 24; ++k) {
    bool used = k <= 20;
    bool passes = used && k != 3;
    if (CellEmpty(r, k) == used || CellPassesProbe(r, k) != passes)
      throw std::runtime_error("WatercolorBrushes: cell " + std::to_string(k) + " breaks the atlas layout");
  }
  return r;
}

// ---------------------------------------------------------------------------
// Template strokes: long tapering strokes, dark grey to black on white.

Raster MakeTemplateBrushes() {
  constexpr int kT = 250;
  Field grey(1250, 2000, 255);
  lq::ParallelRange(0, 38, 1, [&](int lo, int hi) {
    for (int k = lo; k < hi; ++k) {
      Rng rng(0x7000 + uint64_t(k));
      StrokeShape st;
      // Mostly diagonal so that the strokes can be long within a cell.
      float diag = (k % 2 ? 0.25f : 0.75f) * kPi + float(rng.Range(-0.35, 0.35));
      st.angle = (k % 7 == 3) ? float(rng.Range(-0.2, 0.2)) : diag;
      st.angle += rng.Chance(0.5) ? kPi : 0;
      st.cx = st.cy = kT / 2.0f;
      st.length = float(rng.Range(230, 300));
      st.halfWidth = float(rng.Range(9, 24));
      st.curvature = float(rng.Range(-1, 1) / 260);
      if (k % 5 == 2) {
        st.wobbleAmp = float(rng.Range(5, 10));
        st.wobblePhase = float(rng.Range(0, 2 * kPi));
      }
      st.taperStart = float(rng.Range(0.12, 0.3));
      st.taperEnd = float(rng.Range(0.3, 0.55));
      st.taperPower = float(rng.Range(0.7, 1.1));
      st.widthSlope = float(rng.Range(-0.3, 0.2));
      BristleStyle b;
      b.bristles = float(rng.Range(25, 45));
      b.load = 1;
      b.streak = float(rng.Range(0.15, 0.3));
      b.clump = float(rng.Range(0.08, 0.18));
      b.dryStart = float(rng.Range(0.55, 0.85));
      b.dryAmount = float(rng.Range(0.4, 0.9));
      b.endRagged = float(rng.Range(0.05, 0.15));
      b.edgeRough = 0.06f;
      b.startBlob = 0.2f;
      b.strayHairs = 0.3f;
      b.seed = 0x7100u + uint32_t(k);
      float dark = float(rng.Range(0.86, 0.98));
      Strokes s{{st}, kT / 2.0f};
      Field cell = RenderFitted(kT, 5, s,
                                [&](const Strokes& sh, float x, float y) { return BristleAlpha(sh.shapes[0], b, x, y); });
      int x0 = kT * (k % 5), y0 = kT * (k / 5);
      for (int y = 0; y < kT; ++y)
        for (int x = 0; x < kT; ++x) grey.at(x0 + x, y0 + y) = 255 * (1 - dark * std::min(1.0f, 1.2f * cell.at(x, y)));
    }
  });
  return GreyRaster(grey);
}

// ---------------------------------------------------------------------------
// Single round bristle brushes (PaintBrushSim, 2, 3)

Raster MakeRoundBrush(int w, int h, uint64_t seedBase) {
  Rng rng(seedBase);
  uint32_t seed = uint32_t(seedBase);
  Field a(w, h);
  float cx = float(w) / 2, cy = float(h) / 2;
  float rx = cx - 2.5f, ry = cy - 2.5f;
  // Bristle tips: soft dots on a jittered grid, each carrying its own load.
  Field tips(w, h);
  float spacing = std::max(2.2f, float(w) / 26);
  for (float gy = 0; gy < float(h); gy += spacing) {
    for (float gx = 0; gx < float(w); gx += spacing) {
      float px = gx + float(rng.Range(0, spacing)), py = gy + float(rng.Range(0, spacing));
      // Hairs cling together in clumps that carry more or less paint.
      float clump = 1.0f + 0.5f * Noise(gx / 9, gy / 9, seed + 5);
      float load = float(rng.Range(0.25, 1.0)) * clump;
      float rad = spacing * float(rng.Range(0.45, 0.8));
      for (int y = std::max(0, int(py - 3 * rad)); y < std::min(h, int(py + 3 * rad) + 1); ++y)
        for (int x = std::max(0, int(px - 3 * rad)); x < std::min(w, int(px + 3 * rad) + 1); ++x) {
          float d2 = (float(x) + 0.5f - px) * (float(x) + 0.5f - px) + (float(y) + 0.5f - py) * (float(y) + 0.5f - py);
          tips.at(x, y) = std::max(tips.at(x, y), load * std::exp(-d2 / (rad * rad)));
        }
    }
  }
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      float dx = (float(x) + 0.5f - cx) / rx, dy = (float(y) + 0.5f - cy) / ry;
      float r = std::sqrt(dx * dx + dy * dy);
      float ang = std::atan2(dy, dx);
      float edge = 0.9f + 0.1f * Noise1((ang + kPi) * 3.5f, seed + 3);
      if (r >= edge) continue;
      float body = 0.42f * (1 - std::pow(r / edge, 2.2f));
      float fade = Smoothstep(edge, edge - 0.12f, r);
      a.at(x, y) = Clamp01((body + 0.7f * tips.at(x, y)) * fade);
    }
  }
  return AlphaRaster(a);
}

}  // namespace

void AddBrushPictures(std::vector<PictureDef>& out) {
  out.push_back({"DefaultBrushes", 2048, 1536, MakeDefaultBrushes});
  out.push_back({"PastelBrushes", 2048, 512, MakePastelBrushes});
  out.push_back({"WatercolorBrushes", 2048, 768, MakeWatercolorBrushes});
  out.push_back({"TemplateMatchingBrushes", 1250, 2000, MakeTemplateBrushes});
  out.push_back({"PaintBrushSim", 80, 80, [] { return MakeRoundBrush(80, 80, 0x9001); }});
  out.push_back({"PaintBrushSim2", 54, 56, [] { return MakeRoundBrush(54, 56, 0x9002); }});
  out.push_back({"PaintBrushSim3", 38, 39, [] { return MakeRoundBrush(38, 39, 0x9003); }});
}

}  // namespace lq::gen
