// Surface textures: the pencil scan, old-film grain, watercolour paper and the
// six tileable overlay textures (canvas, paper, impasto, watercolour paper,
// cardboard, fabric).

#include <algorithm>
#include <cmath>

#include "engine/gfx/surface.h"
#include "tools/asset_gen/gen_pictures.h"
#include "tools/asset_gen/gen_stroke.h"

namespace lq::gen {

namespace {

constexpr float kPi = 3.14159265358979f;

// Uniform white noise in [-0.5, 0.5), one independent value per pixel.
Field WhiteNoise(int w, int h, uint32_t seed) {
  Field f(w, h);
  ForRows(h, [&](int y) {
    for (int x = 0; x < w; ++x) f.at(x, y) = Hash01(x, y, seed) - 0.5f;
  });
  return f;
}

// Standard deviation of white uniform noise after a Gaussian blur of sigma
// (the blur spreads the variance over about 4 pi sigma^2 pixels).
float BlurredNoiseStd(float sigma) {
  float spread = sigma > 0.3f ? 4 * kPi * sigma * sigma : 1.0f;
  return std::sqrt(1.0f / 12.0f / std::max(1.0f, spread));
}

// A tinted surface: grey level per pixel times a base colour.
Raster Tinted(const Field& grey, uint32_t rgb) { return GradientMapped(grey, {{0, 0}, {255, rgb}}); }

// Adds a soft line (Gaussian cross-section) between two points; with wrap the
// line continues across the edges of a tileable field.
void AddLine(Field& f, float x0, float y0, float x1, float y1, float radius, float amount, bool wrap) {
  float minX = std::min(x0, x1) - 3 * radius, maxX = std::max(x0, x1) + 3 * radius;
  float minY = std::min(y0, y1) - 3 * radius, maxY = std::max(y0, y1) + 3 * radius;
  float dx = x1 - x0, dy = y1 - y0;
  float len2 = std::max(1e-6f, dx * dx + dy * dy);
  float inv = 1.0f / (radius * radius);
  for (int y = int(std::floor(minY)); y <= int(std::ceil(maxY)); ++y) {
    if (!wrap && (y < 0 || y >= f.h)) continue;
    for (int x = int(std::floor(minX)); x <= int(std::ceil(maxX)); ++x) {
      if (!wrap && (x < 0 || x >= f.w)) continue;
      float px = float(x) + 0.5f - x0, py = float(y) + 0.5f - y0;
      float t = std::clamp((px * dx + py * dy) / len2, 0.0f, 1.0f);
      float ex = px - t * dx, ey = py - t * dy;
      float d2 = ex * ex + ey * ey;
      if (d2 > 9 * radius * radius) continue;
      int wx = x, wy = y;
      if (wrap) {
        wx = ((x % f.w) + f.w) % f.w;
        wy = ((y % f.h) + f.h) % f.h;
      }
      float& v = f.at(wx, wy);
      v += amount * std::exp(-d2 * inv);
    }
  }
}

// Short curved fibres (paper, cardboard), each a few soft segments.
void AddFibres(Field& f, Rng& rng, int count, float minLen, float maxLen, float radius, float amountLo, float amountHi,
               bool wrap) {
  for (int i = 0; i < count; ++i) {
    float x = float(rng.Range(0, f.w)), y = float(rng.Range(0, f.h));
    float ang = float(rng.Range(0, 2 * kPi));
    float len = float(rng.Range(minLen, maxLen));
    float bend = float(rng.Range(-0.08, 0.08));
    float amount = float(rng.Range(amountLo, amountHi));
    float r = radius * float(rng.Range(0.7, 1.3));
    int segs = std::max(2, int(len / 4));
    for (int s = 0; s < segs; ++s) {
      float step = len / float(segs);
      float nx = x + step * std::cos(ang), ny = y + step * std::sin(ang);
      AddLine(f, x, y, nx, ny, r, amount, wrap);
      x = nx;
      y = ny;
      ang += bend;
    }
  }
}

// ---------------------------------------------------------------------------
// Pencil strokes: a graded swatch of graphite hatching on toothy paper, dark
// on the left and fading to bare paper on the right.

Raster MakePencilTexture() {
  const int W = 512, H = 166;
  Rng rng(0xA001);
  const uint32_t seed = 0xA100;
  Field deposit(W, H);
  // How dark the hatching gets at column x (the pencil effect reads column
  // 2 x luminance, so dark picture tones meet dense hatching).
  auto density = [&](float x) { return std::pow(Clamp01(1.0f - x / float(W)), 1.25f); };
  int strokes = 2200;
  for (int i = 0; i < strokes; ++i) {
    float xc = float(rng.Range(-60, W + 20));
    if (rng.Uniform() > 0.06 + 0.94 * density(std::max(0.0f, xc))) continue;
    float len = float(rng.Range(40, 260));
    float x0 = xc - len * 0.5f, x1 = xc + len * 0.5f;
    float y0 = float(rng.Range(-4, H + 4));
    bool cross = rng.Chance(0.18);
    float slope = cross ? float(rng.Range(-0.45, -0.3)) : float(rng.Range(-0.05, 0.05));
    float sag = float(rng.Range(-3, 3));
    float hw = float(rng.Range(0.7, 1.6));
    float pressure = float(rng.Range(0.35, 1.0));
    for (int x = std::max(0, int(x0)); x <= std::min(W - 1, int(x1)); ++x) {
      float t = (float(x) - x0) / (x1 - x0);
      float yc =
          y0 + slope * (float(x) - x0) + sag * 4 * t * (1 - t) + 0.6f * Noise1(float(x) / 13, seed + uint32_t(i));
      // The pencil lands and lifts: pressure ramps at both ends.
      float ramp = Smoothstep(0.0f, 0.12f, t) * Smoothstep(1.0f, 0.8f, t);
      float p = pressure * ramp * (0.12f + 0.88f * density(float(x))) *
                (0.8f + 0.4f * Noise1(float(x) / 25, seed + 7u * uint32_t(i)));
      for (int y = std::max(0, int(yc - 3 * hw - 1)); y <= std::min(H - 1, int(yc + 3 * hw + 1)); ++y) {
        float d = (float(y) + 0.5f - yc) / hw;
        deposit.at(x, y) += p * std::exp(-d * d);
      }
    }
  }
  Field grey(W, H);
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W; ++x) {
      float fx = float(x), fy = float(y);
      // Graphite catches on the tops of the paper grain first.
      float tooth =
          Clamp01(0.5f + 0.45f * Noise(fx / 1.4f, fy / 1.8f, seed + 1) + 0.3f * Noise(fx / 3.5f, fy / 4.5f, seed + 2));
      float d = deposit.at(x, y);
      float graphite = 1 - std::exp(-1.6f * d * (0.3f + 0.9f * tooth));
      float paper = 244 + 5 * Noise(fx / 6, fy / 6, seed + 3) + 3 * Noise(fx / 1.5f, fy / 1.5f, seed + 4);
      grey.at(x, y) = paper * (1 - 0.8f * graphite);
    }
  }
  return GreyRaster(grey);
}

// ---------------------------------------------------------------------------
// Old-film grain with dust, hairs and scratches.

Raster MakeOldFilmTexture() {
  const int W = 2904, H = 2064;
  Rng rng(0xB001);
  const uint32_t seed = 0xB100;
  Field fine = WhiteNoise(W, H, seed + 1);
  Blur(fine, 0.7f, 0.7f, true);
  Field coarse = WhiteNoise(W, H, seed + 2);
  Blur(coarse, 1.9f, 1.9f, true);
  float kFine = 9.0f / BlurredNoiseStd(0.7f), kCoarse = 5.0f / BlurredNoiseStd(1.9f);
  Field grey(W, H);
  ForRows(H, [&](int y) {
    for (int x = 0; x < W; ++x) {
      // Periods chosen so that the grain tiles over large pictures.
      float mottle = 6 * Fbm(float(x) / 264, float(y) / 258, 3, seed + 3, 0.5f, W / 264, H / 258);
      grey.at(x, y) = 150 + mottle + kFine * fine.at(x, y) + kCoarse * coarse.at(x, y);
    }
  });

  // Scratches run along the film, wandering slightly, bright or dark.
  Field scratchLight(W, H), scratchDark(W, H);
  for (int i = 0; i < 14; ++i) {
    float x0 = float(rng.Range(20, W - 20));
    int ya = rng.Below(H / 2), yb = std::min(H, ya + H / 4 + rng.Below(H));
    float hw = float(rng.Range(0.5, 1.4));
    bool light = rng.Chance(0.65);
    float strength = float(rng.Range(0.35, 0.9));
    uint32_t s = seed + 100 + uint32_t(i);
    Field& target = light ? scratchLight : scratchDark;
    for (int y = ya; y < yb; ++y) {
      float xc = x0 + 6 * Noise1(float(y) / 400, s) + 1.2f * Noise1(float(y) / 37, s + 1);
      float a = strength * Smoothstep(0.15f, 0.45f, Noise1(float(y) / 90, s + 2));
      for (int x = int(xc - 4 * hw); x <= int(xc + 4 * hw); ++x) {
        if (x < 0 || x >= W) continue;
        float d = (float(x) + 0.5f - xc) / hw;
        target.at(x, y) = std::max(target.at(x, y), a * std::exp(-d * d));
      }
    }
  }

  // Dust specks and hairs, drawn as vector shapes.
  auto dark = Surface::MakeRaster(W, H);
  auto bright = Surface::MakeRaster(W, H);
  Paint fill;
  fill.antiAlias = true;
  for (int i = 0; i < 900; ++i) {
    bool isBright = rng.Chance(0.35);
    Canvas* c = (isBright ? bright : dark)->GetCanvas();
    float cx = float(rng.Range(0, W)), cy = float(rng.Range(0, H));
    float r = float(0.7 + 3.2 * std::pow(rng.Uniform(), 3.0));
    int n = 5 + rng.Below(4);
    std::vector<Path::Point> pts;
    for (int k = 0; k < n; ++k) {
      float a = 2 * kPi * float(k) / float(n);
      float rr = r * float(rng.Range(0.55, 1.25));
      pts.push_back({cx + rr * std::cos(a), cy + rr * std::sin(a)});
    }
    Path p;
    p.AddPolygon(pts, true);
    fill.color = MakeColor(uint32_t(rng.Range(150, 255)), 0, 0, 0);
    c->DrawPath(p, fill);
  }
  Paint hair;
  hair.antiAlias = true;
  hair.style = PaintStyle::Stroke;
  hair.cap = StrokeCap::Round;
  for (int i = 0; i < 40; ++i) {
    bool isBright = rng.Chance(0.3);
    Canvas* c = (isBright ? bright : dark)->GetCanvas();
    float x = float(rng.Range(0, W)), y = float(rng.Range(0, H));
    float ang = float(rng.Range(0, 2 * kPi));
    float len = float(rng.Range(25, 260));
    Path p;
    p.MoveTo(x, y);
    int segs = 4 + rng.Below(3);
    for (int k = 0; k < segs; ++k) {
      float step = len / float(segs);
      float a1 = ang + float(rng.Range(-0.9, 0.9)), a2 = a1 + float(rng.Range(-0.9, 0.9));
      float mx = x + step * 0.5f * std::cos(a1), my = y + step * 0.5f * std::sin(a1);
      float nx = mx + step * 0.5f * std::cos(a2), ny = my + step * 0.5f * std::sin(a2);
      p.QuadTo(mx, my, nx, ny);
      x = nx;
      y = ny;
      ang = a2;
    }
    hair.strokeWidth = float(rng.Range(0.8, 2.0));
    hair.color = MakeColor(uint32_t(rng.Range(140, 230)), 0, 0, 0);
    c->DrawPath(p, hair);
  }
  ConstPixelView dv = dark->PeekPixels(), bv = bright->PeekPixels();
  ForRows(H, [&](int y) {
    for (int x = 0; x < W; ++x) {
      float g = grey.at(x, y);
      float ad = float(GetA(dv.at(x, y))) / 255.0f, ab = float(GetA(bv.at(x, y))) / 255.0f;
      g = g * (1 - 0.8f * ad) + (255 - g) * 0.85f * ab;
      g = g * (1 - 0.7f * scratchDark.at(x, y)) + (250 - g) * 0.8f * scratchLight.at(x, y);
      grey.at(x, y) = g;
    }
  });
  return GreyRaster(grey);
}

// ---------------------------------------------------------------------------
// Cold-pressed watercolour paper: soft irregular bumps, tileable.

Field WatercolorPaperGrey(int W, int H, uint32_t seed, float brightness) {
  Field height(W, H);
  ForRows(H, [&](int y) {
    for (int x = 0; x < W; ++x) {
      float fx = float(x), fy = float(y);
      Cell2 big = Worley(fx / 16, fy / 16, seed, W / 16, H / 16);
      Cell2 small = Worley(fx / 8, fy / 8, seed + 1, W / 8, H / 8);
      float domeBig = std::exp(-big.f1 * big.f1 * 3.0f);
      float domeSmall = std::exp(-small.f1 * small.f1 * 3.0f);
      float low = Fbm(fx / 64, fy / 64, 3, seed + 2, 0.5f, W / 64, H / 64);
      float fibre = Noise(fx / 2, fy / 2, seed + 3, W / 2, H / 2);
      height.at(x, y) = 0.55f * domeBig + 0.25f * domeSmall + 0.25f * low + 0.05f * fibre;
    }
  });
  Blur(height, 1.0f, 1.0f, true);
  Field shade = ShadeHeight(height, 4.5f, true);
  Field grey(W, H);
  ForRows(H, [&](int y) {
    for (int x = 0; x < W; ++x) {
      float albedo = 3 * Noise(float(x) / 4, float(y) / 4, seed + 4, W / 4, H / 4);
      grey.at(x, y) = brightness + 150 * shade.at(x, y) + albedo;
    }
  });
  return grey;
}

// ---------------------------------------------------------------------------
// Linen canvas, primed: a plain weave of slubby threads, tileable.

Raster MakeCanvasTexture() {
  const int N = 1024;
  const float p = 8;  // thread spacing: 128 threads across the tile
  const uint32_t seed = 0xC100;
  Field height(N, N), tone(N, N);
  ForRows(N, [&](int y) {
    for (int x = 0; x < N; ++x) {
      float fx = float(x), fy = float(y);
      // Threads are never quite straight nor evenly spaced.
      float wx = fx + 1.8f * Noise(fx / 64, fy / 64, seed, 16, 16) + 0.9f * Noise(fx / 16, fy / 64, seed + 6, 64, 16);
      float wy =
          fy + 1.8f * Noise(fx / 64, fy / 64, seed + 1, 16, 16) + 0.9f * Noise(fx / 64, fy / 16, seed + 7, 16, 64);
      float ux = wx / p, uy = wy / p;
      int i = int(std::floor(ux)), j = int(std::floor(uy));
      float tx = ux - float(i), ty = uy - float(j);
      int iw = ((i % 128) + 128) % 128, jw = ((j % 128) + 128) % 128;
      // Slubs: each thread thickens and thins along its length.
      float warpThick = 0.6f + 0.8f * (0.5f + 0.5f * Noise(float(iw) + 0.5f, wy / 32, seed + 2, 128, 32));
      float weftThick = 0.6f + 0.8f * (0.5f + 0.5f * Noise(wx / 32, float(jw) + 0.5f, seed + 3, 32, 128));
      float warp = std::pow(std::max(0.0f, std::sin(kPi * tx)), 0.6f / warpThick);
      float weft = std::pow(std::max(0.0f, std::sin(kPi * ty)), 0.6f / weftThick);
      bool warpOver = ((i + j) & 1) == 0;
      float hWarp = warp * (0.55f + 0.45f * std::sin(kPi * ty)) * warpThick;
      float hWeft = weft * (0.55f + 0.45f * std::sin(kPi * tx)) * weftThick;
      float h = warpOver ? std::max(hWarp, 0.6f * hWeft) : std::max(hWeft, 0.6f * hWarp);
      // Fibres along each thread.
      float fibre = warpOver ? Noise(fx, fy / 4, seed + 4, N, N / 4) : Noise(fx / 4, fy, seed + 5, N / 4, N);
      h += 0.08f * fibre;
      // Primer fills the deepest gaps.
      if (h < 0.3f) h += (0.3f - h) * 0.6f;
      height.at(x, y) = h;
      // Flax threads differ a little in colour.
      tone.at(x, y) = warpOver ? Hash01(iw, 0, seed + 8) : Hash01(jw, 1, seed + 8);
    }
  });
  Blur(height, 0.6f, 0.6f, true);
  Field shade = ShadeHeight(height, 4.5f, true);
  Field grey(N, N);
  for (size_t i = 0; i < grey.v.size(); ++i)
    grey.v[i] = 228 + 80 * shade.v[i] + 16 * (height.v[i] - 0.5f) + 8 * (tone.v[i] - 0.5f);
  return Tinted(grey, 0xFFF6E4);
}

// ---------------------------------------------------------------------------
// Drawing paper: fine fibres and a faint cloudiness, tileable.

Raster MakePaperTexture() {
  const int N = 1024;
  Rng rng(0xC201);
  const uint32_t seed = 0xC200;
  Field height(N, N);
  ForRows(N, [&](int y) {
    for (int x = 0; x < N; ++x) {
      float fx = float(x), fy = float(y);
      height.at(x, y) = 0.5f * Fbm(fx / 16, fy / 16, 4, seed, 0.55f, N / 16, N / 16) +
                        0.25f * Noise(fx / 2, fy / 2, seed + 1, N / 2, N / 2);
    }
  });
  AddFibres(height, rng, 5000, 8, 40, 0.6f, -0.25f, 0.25f, true);
  Field shade = ShadeHeight(height, 2.2f, true);
  Field cloud(N, N);
  ForRows(N, [&](int y) {
    for (int x = 0; x < N; ++x)
      cloud.at(x, y) = Fbm(float(x) / 128, float(y) / 128, 3, seed + 2, 0.5f, N / 128, N / 128);
  });
  Field grey(N, N);
  for (size_t i = 0; i < grey.v.size(); ++i) grey.v[i] = 243 + 120 * shade.v[i] + 5 * cloud.v[i];
  return Tinted(grey, 0xFFFCF5);
}

// ---------------------------------------------------------------------------
// Impasto: thick paint laid in overlapping strokes, lit from the upper left.

Raster MakeImpastoTexture() {
  const int N = 1024;
  Rng rng(0xC301);
  const uint32_t seed = 0xC300;
  // A rough first layer shows wherever the strokes leave a gap.
  Field height(N, N);
  ForRows(N, [&](int y) {
    for (int x = 0; x < N; ++x)
      height.at(x, y) = 0.35f + 0.12f * Fbm(float(x) / 32, float(y) / 32, 3, seed + 20, 0.5f, N / 32, N / 32);
  });
  for (int i = 0; i < 900; ++i) {
    StrokeShape st;
    st.cx = float(rng.Range(0, N));
    st.cy = float(rng.Range(0, N));
    // Painters favour a few directions; the strokes follow them loosely.
    float dirs[3] = {0.5f, 2.1f, 2.9f};
    st.angle = dirs[rng.Below(3)] + float(rng.Range(-0.5, 0.5)) + (rng.Chance(0.5) ? kPi : 0);
    st.length = float(rng.Range(70, 190));
    st.halfWidth = float(rng.Range(10, 26));
    st.curvature = float(rng.Range(-1, 1) / 150);
    st.taperStart = 0.1f;
    st.taperEnd = 0.15f;
    float base = float(rng.Range(0.35, 0.75));
    uint32_t s = seed + uint32_t(i) * 13u;
    float ridgeCount = float(rng.Range(6, 14));
    // Bounds of the rotated stroke, with room for its bend.
    float ca = std::fabs(std::cos(st.angle)), sa = std::fabs(std::sin(st.angle));
    float sag = std::fabs(st.curvature) * st.length * st.length / 8 + 3;
    int rx = int(st.length / 2 * ca + (st.halfWidth * 1.15f + sag) * sa) + 2;
    int ry = int(st.length / 2 * sa + (st.halfWidth * 1.15f + sag) * ca) + 2;
    for (int y = int(st.cy) - ry; y <= int(st.cy) + ry; ++y) {
      for (int x = int(st.cx) - rx; x <= int(st.cx) + rx; ++x) {
        StrokeCoord c = MapStroke(st, float(x) + 0.5f, float(y) + 0.5f);
        if (!c.valid) continue;
        float v = c.l / c.hw;
        float edge = 1 + 0.12f * (2 * Noise1(c.s * st.length / 9, s + (v < 0 ? 1u : 2u)) - 1);
        float av = std::fabs(v);
        if (av >= edge) continue;
        float cover = Smoothstep(edge, edge - std::min(0.5f, 1.5f / c.hw), av);
        // Bristle ridges along the stroke, paint pushed up at the sides and
        // piled where the brush lifted.
        float ridges = 0.12f * Noise1((v + 1) * ridgeCount, s + 3) + 0.05f * Noise1((v + 1) * ridgeCount * 3, s + 4);
        float sides = 0.18f * std::exp(-(edge - av) * 7);
        float pile = 0.25f * Smoothstep(0.75f, 1.0f, c.s);
        float hNew = base + ridges + sides + pile;
        int wx = ((x % N) + N) % N, wy = ((y % N) + N) % N;
        float& h = height.at(wx, wy);
        h = Lerp(h, hNew, cover);
      }
    }
  }
  Blur(height, 0.7f, 0.7f, true);
  Field shade = ShadeHeight(height, 9.0f, true);
  Field grey(N, N);
  ForRows(N, [&](int y) {
    for (int x = 0; x < N; ++x)
      grey.at(x, y) = 225 + 110 * shade.at(x, y) + 4 * Noise(float(x) / 32, float(y) / 32, seed + 9, N / 32, N / 32);
  });
  return Tinted(grey, 0xFFFAF0);
}

// ---------------------------------------------------------------------------
// Cardboard: recycled brown board with fibres, specks and faint flutes.

Raster MakeCardboardTexture() {
  const int N = 1024;
  Rng rng(0xC401);
  const uint32_t seed = 0xC400;
  Field fib(N, N);
  AddFibres(fib, rng, 9000, 6, 30, 0.7f, -0.5f, 0.5f, true);
  Field specks(N, N);
  for (int i = 0; i < 1200; ++i) {
    float x = float(rng.Range(0, N)), y = float(rng.Range(0, N));
    float len = float(rng.Range(0.5, 5));
    float ang = float(rng.Range(0, kPi));
    float amount = rng.Chance(0.8) ? float(rng.Range(-1.2, -0.5)) : float(rng.Range(0.4, 0.9));
    AddLine(specks, x, y, x + len * std::cos(ang), y + len * std::sin(ang), float(rng.Range(0.5, 1.1)), amount, true);
  }
  Field grey(N, N);
  ForRows(N, [&](int y) {
    for (int x = 0; x < N; ++x) {
      float fx = float(x), fy = float(y);
      float mottle = Fbm(fx / 64, fy / 64, 4, seed, 0.55f, N / 64, N / 64);
      float flute = 0.5f + 0.5f * std::sin(2 * kPi * fy / 32);
      float v = 1 + 0.07f * mottle + 0.045f * fib.at(x, y) + 0.03f * (flute - 0.5f) +
                0.03f * Noise(fx / 2, fy / 2, seed + 1, N / 2, N / 2) +
                0.18f * std::max(-1.0f, std::min(1.0f, specks.at(x, y)));
      grey.at(x, y) = 180 * v;
    }
  });
  // Brown throughout: darker fibres are a deeper brown, lighter ones straw.
  return GradientMapped(grey, {{0, 0x1E1008}, {120, 0x7A5434}, {180, 0xB48A5E}, {255, 0xF0D6A8}});
}

// ---------------------------------------------------------------------------
// Fabric: a 2/2 twill (diagonal ribs) of blue warp and pale weft, tileable.

Raster MakeFabricTexture() {
  const int N = 1024;
  const float p = 4;  // 256 threads across the tile
  const uint32_t seed = 0xC500;
  Field height(N, N), grey(N, N);
  ForRows(N, [&](int y) {
    for (int x = 0; x < N; ++x) {
      float fx = float(x), fy = float(y);
      float wx = fx + 1.0f * Noise(fx / 64, fy / 64, seed, 16, 16);
      float wy = fy + 1.0f * Noise(fx / 64, fy / 64, seed + 1, 16, 16);
      float ux = wx / p, uy = wy / p;
      int i = int(std::floor(ux)), j = int(std::floor(uy));
      float tx = ux - float(i), ty = uy - float(j);
      int iw = ((i % 256) + 256) % 256, jw = ((j % 256) + 256) % 256;
      // 3/1 twill: each warp thread floats over three weft threads, the
      // floats stepping one thread per row, which makes the diagonal ribs.
      int k = ((i - j) % 4 + 4) % 4;
      bool warpOver = k < 3;
      float along = warpOver ? (float(k) + ty) / 3 : tx;
      float across = warpOver ? tx : ty;
      float profile = std::pow(std::max(0.0f, std::sin(kPi * across)), 0.5f);
      float h = profile * (0.65f + 0.35f * std::sin(kPi * along));
      float fuzz =
          warpOver ? Noise(fx / 0.8f, fy / 4, seed + 3, 1280, 256) : Noise(fx / 4, fy / 0.8f, seed + 4, 256, 1280);
      height.at(x, y) = h + 0.1f * fuzz;
      // Indigo warp dyed unevenly along each thread; the weft stays pale.
      float dye = 0.5f + 0.5f * Noise(float(iw) + 0.5f, wy / 64, seed + 5, 256, 16);
      float warpTone = 95 + 40 * dye + 10 * Hash01(iw, 0, seed + 6);
      float weftTone = 205 + 10 * Hash01(jw, 1, seed + 6);
      grey.at(x, y) = warpOver ? Lerp(weftTone * 0.8f, warpTone, profile) : Lerp(warpTone, weftTone, profile);
    }
  });
  Blur(height, 0.5f, 0.5f, true);
  Blur(grey, 0.5f, 0.5f, true);
  Field shade = ShadeHeight(height, 2.5f, true);
  for (size_t i = 0; i < grey.v.size(); ++i) grey.v[i] *= 0.92f + 1.0f * shade.v[i] + 0.1f * height.v[i];
  // Blue in the shadows and dyed threads, pale where the weft shows.
  return GradientMapped(
      grey, {{0, 0x0C1424}, {70, 0x2C3C58}, {115, 0x50648A}, {160, 0x8C9AB4}, {205, 0xCACCCC}, {255, 0xFFFFFA}});
}

}  // namespace

void AddTexturePictures(std::vector<PictureDef>& out) {
  out.push_back({"PencilTexture", 512, 166, MakePencilTexture});
  out.push_back({"OldFilmTexture", 2904, 2064, MakeOldFilmTexture});
  out.push_back(
      {"WatercolorTexture", 1024, 1024, [] { return GreyRaster(WatercolorPaperGrey(1024, 1024, 0xD100, 234)); }});
  out.push_back(
      {"VCLwatercolortexture", 1024, 768, [] { return GreyRaster(WatercolorPaperGrey(1024, 768, 0xD200, 232)); }});
  out.push_back({"TextureList/Canvas", 1024, 1024, MakeCanvasTexture});
  out.push_back({"TextureList/Paper", 1024, 1024, MakePaperTexture});
  out.push_back({"TextureList/Impasto", 1024, 1024, MakeImpastoTexture});
  out.push_back({"TextureList/watercolor", 1024, 1024,
                 [] { return Tinted(WatercolorPaperGrey(1024, 1024, 0xD300, 236), 0xFFFDF7); }});
  out.push_back({"TextureList/cardboard", 1024, 1024, MakeCardboardTexture});
  out.push_back({"TextureList/fabric", 1024, 1024, MakeFabricTexture});
}

}  // namespace lq::gen
