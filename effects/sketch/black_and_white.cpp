// Black & White: a pure black-and-white ink drawing. A locally adaptive
// threshold picks black or white, a contour detector inks dark detail, an
// optional weighted vote removes isolated specks and a majority filter smooths
// the result. Box sums run as separable running sums so the cost per pixel does
// not grow with the neighbourhood.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "engine/effect_registry.h"
#include "engine/parallel.h"
#include "engine/random.h"

namespace lq {

namespace {

struct BlackAndWhiteRun {
  int W = 0, H = 0;
  std::vector<uint8_t> grey;  // 3 x 3 box average of the luma
  std::vector<uint8_t> ink;   // 0 or 255
  std::vector<uint8_t> snap;
  bool preview = false;
  Surface* dest = nullptr;
};

inline int ClampI(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

// Horizontal sums over [x - r, x + r] with clamped edges, for one row.
template <typename Out>
void RowBoxSum(const uint8_t* row, int w, int r, Out* out) {
  int sum = 0;
  for (int k = -r; k <= r; ++k) sum += row[ClampI(k, 0, w - 1)];
  for (int x = 0; x < w; ++x) {
    out[x] = Out(sum);
    sum += row[ClampI(x + r + 1, 0, w - 1)] - row[ClampI(x - r, 0, w - 1)];
  }
}

void Report(BlackAndWhiteRun& run, int value) {
  if (run.preview)
    SafeUpdatePreview(run.dest, value);
  else
    SafeUpdateProgress(value);
}

void blackandwhiteInk(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int /*P5*/, bool Preview) {
  if (!Source) return;
  CheckCancellation();
  const int LD = int(Round(P1 * 2.55));
  const int LL = int(Round(P2 * 2.55));
  const int S = int(Round(P3 * 2.55));
  const int thresholdTerm = 192 - LD;
  const int E = (LL - 15) * 5;
  const int64_t Sw = int64_t(S) * 160, Sb = int64_t(255 - S) * 160;

  ConstPixelView src = Source.PeekPixels();
  const int W = src.width, H = src.height;
  if (!src || W <= 0 || H <= 0) return;
  BlackAndWhiteRun run;
  run.W = W;
  run.H = H;
  run.preview = Preview;
  run.dest = &Dest;
  const size_t N = size_t(W) * size_t(H);

  // Luma, then its 3 x 3 average.
  std::vector<uint8_t> luma(N);
  ParallelFor(0, H, 64, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      const uint32_t* r = src.row(y);
      uint8_t* o = &luma[size_t(y) * W];
      for (int x = 0; x < W; ++x) {
        uint32_t p = r[x];
        o[x] = (p >> 24) < 10 ? 255 : uint8_t((299 * GetR(p) + 587 * GetG(p) + 114 * GetB(p)) / 1000);
      }
    }
  });
  run.grey.resize(N);
  {
    std::vector<uint16_t> h3(N);
    ParallelFor(0, H, 64, [&](int y0, int y1) {
      for (int y = y0; y < y1; ++y) RowBoxSum(&luma[size_t(y) * W], W, 1, &h3[size_t(y) * W]);
    });
    ParallelFor(0, H, 64, [&](int y0, int y1) {
      for (int y = y0; y < y1; ++y) {
        const uint16_t* a = &h3[size_t(ClampI(y - 1, 0, H - 1)) * W];
        const uint16_t* b = &h3[size_t(y) * W];
        const uint16_t* c = &h3[size_t(ClampI(y + 1, 0, H - 1)) * W];
        uint8_t* o = &run.grey[size_t(y) * W];
        for (int x = 0; x < W; ++x) o[x] = uint8_t((a[x] + b[x] + c[x]) / 9);
      }
    });
  }
  std::vector<uint8_t>().swap(luma);

  // Global brightness from up to 50 sample rows.
  int64_t sum = 0, count = 0;
  const int step = std::max(H / 50, 1);
  for (int i = 0; i <= std::min(49, H - 1); ++i) {
    const uint8_t* r = &run.grey[size_t(std::min(H - 1, i * step)) * W];
    for (int x = 0; x < W; ++x) sum += r[x];
    count += W;
  }
  const int64_t M = sum / count;
  const int64_t Base = M + 2 * (P4 - 50);

  // Horizontal 9- and 5-wide sums of the grey, shared by the two passes.
  std::vector<uint16_t> h9(N), h5(N);
  ParallelFor(0, H, 64, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      RowBoxSum(&run.grey[size_t(y) * W], W, 4, &h9[size_t(y) * W]);
      RowBoxSum(&run.grey[size_t(y) * W], W, 2, &h5[size_t(y) * W]);
    }
  });

  // Rows are processed in groups that end at the reporting rows, so
  // cancellation and progress come exactly where a row-by-row scan has them.
  const int rstep = std::max(H / 20, 1);
  auto forRowGroups = [&](int progressBase, auto&& rowFn) {
    for (int y0 = 0; y0 < H; y0 += rstep) {
      CheckCancellation();
      Report(run, int(Round(double(y0) / H * 30)) + progressBase);
      int y1 = std::min(H, y0 + rstep);
      ParallelFor(y0, y1, 1, [&](int a, int b) {
        for (int y = a; y < b; ++y) rowFn(y);
      });
    }
  };

  run.ink.assign(N, 0);
  forRowGroups(0, [&](int y) {
    const uint8_t* g = &run.grey[size_t(y) * W];
    uint8_t* o = &run.ink[size_t(y) * W];
    for (int x = 0; x < W; ++x) {
      int n = 0;
      for (int dy = -4; dy <= 4; ++dy) n += h9[size_t(ClampI(y + dy, 0, H - 1)) * W + x];
      int c = g[x];
      int64_t local = (n - c) / 20;
      int64_t t = (local + Base + thresholdTerm) / 6;
      o[x] = c > t ? 255 : 0;
    }
  });
  std::vector<uint16_t>().swap(h9);

  forRowGroups(30, [&](int y) {
    const uint8_t* g = &run.grey[size_t(y) * W];
    const uint8_t* g2 = &run.grey[size_t(ClampI(y + 2, 0, H - 1)) * W];
    uint8_t* o = &run.ink[size_t(y) * W];
    for (int x = 0; x < W; ++x) {
      int s5 = 0;
      for (int dy = -2; dy <= 2; ++dy) s5 += h5[size_t(ClampI(y + dy, 0, H - 1)) * W + x];
      int s = 31 * g[x] - 4 * g2[x] - s5;
      if (3 * s < E) o[x] = 0;
    }
  });
  std::vector<uint16_t>().swap(h5);
  std::vector<uint8_t>().swap(run.grey);

  if (P3 > 0 && !IsEffectCancelled()) {
    run.snap = run.ink;
    const int iterations = Preview ? 3 : 15;
    // The vote weight 7 - |dx| - |dy| splits into (3.5 - |dx|) + (3.5 - |dy|):
    // doubled, both halves are separable, so the 7 x 7 vote needs two row
    // sums per pixel instead of 49 reads.
    std::vector<uint8_t> htri(N), hbox(N);
    for (int k = 1; k <= iterations; ++k) {
      CheckCancellation();
      ParallelFor(0, H, 32, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
          const uint8_t* r = &run.snap[size_t(y) * W];
          uint8_t* t = &htri[size_t(y) * W];
          uint8_t* b = &hbox[size_t(y) * W];
          for (int x = 0; x < W; ++x) {
            int tri = 0, box = 0;
            for (int dx = -3; dx <= 3; ++dx) {
              int v = r[ClampI(x + dx, 0, W - 1)] > 128 ? 1 : 0;
              tri += v * (7 - 2 * std::abs(dx));
              box += v;
            }
            t[x] = uint8_t(tri);
            b[x] = uint8_t(box);
          }
        }
      });
      std::atomic<int64_t> changed{0};
      ParallelFor(0, H, 32, [&](int y0, int y1) {
        int64_t local = 0;
        for (int y = y0; y < y1; ++y) {
          const uint8_t* sr = &run.snap[size_t(y) * W];
          uint8_t* o = &run.ink[size_t(y) * W];
          for (int x = 0; x < W; ++x) {
            int twice = 0;
            for (int dy = -3; dy <= 3; ++dy) {
              size_t idx = size_t(ClampI(y + dy, 0, H - 1)) * W + x;
              twice += htri[idx] + (7 - 2 * std::abs(dy)) * hbox[idx];
            }
            int64_t V = int64_t(twice / 2) * 255;
            if (sr[x] > 128) {
              if (V <= Sw) {
                o[x] = 0;
                ++local;
              }
            } else if (V >= Sb) {
              o[x] = 255;
              ++local;
            }
          }
        }
        changed += local;
      });
      if (changed <= 10) break;
      run.snap = run.ink;
      Report(run, int(Round(double(k) / iterations * 40)) + 60);
    }
    if (!Preview) {
      // In place, row-major: pixels already decided feed the later ones.
      for (int y = 0; y < H; ++y) {
        uint8_t* row = &run.ink[size_t(y) * W];
        for (int x = 0; x < W; ++x) {
          int dark = 0;
          for (int dy = -1; dy <= 1; ++dy) {
            const uint8_t* r = &run.ink[size_t(ClampI(y + dy, 0, H - 1)) * W];
            for (int dx = -1; dx <= 1; ++dx) dark += r[ClampI(x + dx, 0, W - 1)] < 128 ? 1 : 0;
          }
          row[x] = dark >= 5 ? 0 : 255;
        }
      }
    }
  }

  // Pixels of transparent source areas come out fully transparent (all
  // bytes 0), so the result stays a valid premultiplied picture.
  auto store = AllocPixels(W, H, false);
  if (!store) return;
  PixelView out = store->view();
  ParallelFor(0, H, 64, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      const uint32_t* s = src.row(y);
      const uint8_t* k = &run.ink[size_t(y) * W];
      uint32_t* o = out.row(y);
      for (int x = 0; x < W; ++x)
        o[x] = (s[x] >> 24) < 10 ? 0u : (k[x] ? 0xFFFFFFFFu : 0xFF000000u);
    }
  });
  Image img = Image::MakeFromStore(std::move(store));
  Canvas* c = Dest.GetCanvas();
  c->Clear(0);
  c->DrawImage(img, 0, 0, SamplingOptions::Low());
  Dest.Flush();

  if (!Preview) {
    SafeUpdateProgress(100);
    QueueOnUi([] { Driver().UpdateProgressBar(101); });
  } else {
    LastUIUpdateTick = 0;
    SafeUpdatePreview(&Dest, 101);
  }
}

}  // namespace

LQ_REGISTER_EFFECT(200, blackandwhiteInk)

}  // namespace lq
