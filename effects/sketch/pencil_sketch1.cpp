// Pencil Sketch 1: the picture is turned by 30 degrees so that a scanned
// pencil-stroke texture, sampled row by row, runs diagonally in the result;
// flat pixels are shaded from the texture, edges are darkened, and the result
// is turned back. Deterministic: the generator is seeded with a fixed value.
#include <cmath>
#include <vector>

#include "engine/effect_registry.h"
#include "engine/random.h"

namespace lq {

namespace {

struct PencilSketchRun {
  int T = 0, D = 0, B = 0, C = 0, K = 0;
  std::vector<uint8_t> texture;  // grey map, TH rows of TW bytes
  int TW = 0, TH = 0;
};

// Grey map of the embedded pencil scan, or the constant mid grey without it.
void BuildTextureMap(PencilSketchRun& run) {
  Image tex;
  RunOnUi([&] {
    EffectDriver& d = Driver();
    if (d.BuiltinImage) tex = d.BuiltinImage("PencilTexture");
  });
  if (tex && tex.width() > 0 && tex.height() >= 4) {
    std::vector<uint32_t> px(size_t(tex.width()) * size_t(tex.height()));
    if (tex.ReadPixels(ImageInfo::Make(tex.width(), tex.height(), AlphaType::Unpremul), px.data(),
                       size_t(tex.width()) * 4, 0, 0)) {
      run.TW = tex.width();
      run.TH = tex.height();
      run.texture.resize(px.size());
      for (size_t i = 0; i < px.size(); ++i)
        run.texture[i] = uint8_t((GetR(px[i]) + GetG(px[i]) + GetB(px[i])) / 3);
      return;
    }
  }
  run.TW = run.TH = 100;
  run.texture.assign(100 * 100, 128);
}

inline int Clamp255(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

// The generator is stepped locally through the scan (one pixel after another,
// exactly the shared sequence) and written back at the end: the same numbers
// without an atomic operation per draw.
struct LocalRandom {
  uint32_t seed;
  int Next(int n) {
    seed = seed * 134775813u + 1u;
    return int((uint64_t(seed) * uint32_t(n)) >> 32);
  }
};

void PencilSketch(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5, bool Preview) {
  RandSeed = 1969;
  PencilSketchRun run;
  run.T = P1;
  run.D = 2 * P2;
  run.B = int(Round(P3 * 2.55));
  run.C = int(Round(P4 * 1.28));
  run.K = std::clamp(P5, 0, 100);
  const int W = Source.width(), H = Source.height();
  if (W <= 0 || H <= 0) return;

  BuildTextureMap(run);
  if (!Preview) SafeUpdateProgress(5);

  // Turn the source by 30 degrees into a frame that holds all of it.
  const double angle = 30.0;
  const double c = std::fabs(std::cos(angle * 0.017453292519943295));
  const double s = std::fabs(std::sin(angle * 0.017453292519943295));
  const int64_t W2l = int64_t(std::ceil(W * c + H * s)), H2l = int64_t(std::ceil(W * s + H * c));
  if (!IsValidSize(W2l, H2l)) return;
  const int W2 = int(W2l), H2 = int(H2l);
  std::vector<uint32_t> turned;
  {
    auto surf = Surface::MakeRaster(W2, H2);
    if (!surf) return;
    Canvas* cv = surf->GetCanvas();
    cv->Translate(W2 / 2.0, H2 / 2.0);
    cv->Rotate(angle);
    cv->DrawImage(Source, -W / 2.0, -H / 2.0, SamplingOptions::High());
    turned.resize(size_t(W2) * size_t(H2));
    if (!surf->ReadPixels(ImageInfo::Make(W2, H2, AlphaType::Unpremul), turned.data(), size_t(W2) * 4, 0, 0)) return;
  }

  std::vector<uint32_t> result(size_t(W2) * size_t(H2), 0);
  const int TW = run.TW, TH = run.TH;
  int texRow = 1;
  bool boost = false;
  LocalRandom rnd{RandSeed.load()};
  auto channel = [](uint32_t p, int shift) { return int((p >> shift) & 255u); };
  const uint32_t kWhite = 0xFFFFFFFFu;

  for (int y = 1; y <= H2 - 2; ++y) {
    texRow = (y % (TH - 2)) + 1;
    if (y % 200 == 0) {
      RandSeed = rnd.seed;
      int pr = int(Round(y * 90.0 / H2 + 5));
      if (Preview)
        SafeUpdatePreview(&Dest, pr);
      else
        SafeUpdateProgress(pr);
    }
    const uint32_t* up = &turned[size_t(y - 1) * W2];
    const uint32_t* mid = &turned[size_t(y) * W2];
    const uint32_t* down = &turned[size_t(y + 1) * W2];
    uint32_t* out = &result[size_t(y - 1) * W2];
    for (int x = 1; x <= W2 - 2; ++x) {
      const uint32_t cpx = mid[x];
      const int A = int(cpx >> 24);
      if (A < 10) {
        out[x - 1] = 0;
        continue;
      }
      // Transparent neighbours read as white, so outlines against transparency show.
      auto nb = [&](uint32_t p) { return (p >> 24) < 10 ? kWhite : p; };
      const uint32_t left = nb(mid[x - 1]), upLeft = nb(up[x - 1]), upper = nb(up[x]), downLeft = nb(down[x - 1]);
      const int Rc = channel(cpx, 16), Gc = channel(cpx, 8), Bc = channel(cpx, 0);
      const int L = (3 * Rc + 6 * Gc + Bc) / 10;
      if (rnd.Next(100) > 91) {
        texRow = rnd.Next(TH - 3) + 1;
        boost = rnd.Next(100) > 50;
      }
      int gx = 0, gy = 0;
      for (int sh = 0; sh <= 16; sh += 8) {
        int cc = channel(cpx, sh);
        gx += std::abs(cc - channel(left, sh)) + std::abs(cc - channel(upLeft, sh));
        gy += std::abs(cc - channel(upper, sh)) + std::abs(cc - channel(downLeft, sh));
      }
      gx /= 4;
      gy /= 4;
      const int R0 = channel(left, 16), G0 = channel(left, 8), B0 = channel(left, 0);
      int oR, oG, oB;
      if (!(gx < run.T && gy < run.T)) {
        boost = rnd.Next(100) > 50;
        texRow = rnd.Next(TH - 3) + 1;
        const int dark = 2 * run.D + gx + gy;
        const int eR = Clamp255(R0 - dark + 255), eG = Clamp255(G0 - dark + 255), eB = Clamp255(B0 - dark + 255);
        const int g = (eR + eG + eB) / 3;
        oR = Clamp255((run.K * eR + (100 - run.K) * g) / 100);
        oG = Clamp255((run.K * eG + (100 - run.K) * g) / 100);
        oB = Clamp255((run.K * eB + (100 - run.K) * g) / 100);
      } else {
        int tx = 2 * L + rnd.Next(2);
        if (tx >= TW) tx = TW - 1;
        const int t = run.texture[size_t(texRow) * TW + size_t(tx)];
        const int qR = (R0 / 10) * 10, qG = (G0 / 10) * 10, qB = (B0 / 10) * 10;
        int delta = L - t + 2 * (run.B - 127);
        if (boost) delta += L / 2;
        delta += (L * run.C) / 64 - run.C;
        const int gq = (qR + qG + qB) / 3;
        const int sR = Clamp255(qR + delta), sG = Clamp255(qG + delta), sB = Clamp255(qB + delta);
        const int sGrey = Clamp255(gq + delta);
        oR = Clamp255((sR * run.K + sGrey * (100 - run.K)) / 100);
        oG = Clamp255((sG * run.K + sGrey * (100 - run.K)) / 100);
        oB = Clamp255((sB * run.K + sGrey * (100 - run.K)) / 100);
      }
      out[x - 1] = MakeColor(uint32_t(A), uint32_t(oR), uint32_t(oG), uint32_t(oB));
    }
  }
  RandSeed = rnd.seed;
  std::vector<uint32_t>().swap(turned);

  // Turn back and draw onto the destination.
  Image drawn = Image::MakeRasterCopy(ImageInfo::Make(W2, H2, AlphaType::Unpremul), result.data(), size_t(W2) * 4);
  std::vector<uint32_t>().swap(result);
  if (!drawn) return;
  Canvas* dc = Dest.GetCanvas();
  dc->Clear(0);
  dc->Save();
  dc->Translate(W / 2.0, H / 2.0);
  dc->Rotate(-angle);
  dc->DrawImage(drawn, -W2 / 2.0, -H2 / 2.0, SamplingOptions::High());
  dc->Restore();
  Dest.Flush();

  if (Preview) {
    LastUIUpdateTick = 0;
    SafeUpdatePreview(&Dest, 101);
  } else {
    SafeUpdateProgress(101);
  }
}

}  // namespace

}  // namespace lq

namespace lq {
LQ_REGISTER_EFFECT(100, PencilSketch)
}
