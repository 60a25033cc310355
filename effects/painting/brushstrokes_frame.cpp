// The brushstroke frame. Each side of the enlarged canvas gets a strip of
// strokes: random positions along the strip, colours from the picture under
// them (or the border colour beyond it), orientation along the side. Every
// second stroke is kept only when it brings the strip closer to what lies
// under it, judged on every 10th pixel. The strips fade towards the picture.
#include "effects/painting/brushstrokes_frame.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <numbers>
#include <stdexcept>
#include <vector>

#include "document/history.h"
#include "effects/painting/brushes/brushes.h"
#include "engine/catalogue.h"
#include "engine/driver.h"
#include "engine/gfx/surface.h"
#include "engine/random.h"
#include "i18n/translate.h"

namespace lq {

namespace {

constexpr int kFrameBrushes = 38;
constexpr int kSample = 10;  // SampledImageDistance reads every 10th pixel
// Border widths and brush sizes come from users and scripts: keep the sums
// far from 64-bit overflow; anything this large is refused anyway.
constexpr int64_t kHuge = int64_t(1) << 40;

int64_t ClampHuge(int64_t v) { return std::clamp(v, -kHuge, kHuge); }

std::string SurfaceError(int64_t w, int64_t h) {
  return "Could not create " + std::to_string(w) + "x" + std::to_string(h) + " surface";
}

// A surface, or the failure to make one as the message the caller reports.
struct SurfaceOrError {
  std::unique_ptr<Surface> surface;
  explicit SurfaceOrError(int64_t w, int64_t h) {
    if (IsValidSize(w, h)) surface = Surface::MakeRaster(int(w), int(h));
    if (!surface) throw std::runtime_error(SurfaceError(w, h));
  }
};

int64_t SampledSquare(uint32_t a, uint32_t b) {
  int64_t d = 0;
  for (int sh = 0; sh < 24; sh += 8) {
    int64_t v = int64_t((a >> sh) & 255u) - int64_t((b >> sh) & 255u);
    d += v * v;
  }
  return d;
}

// The 38 strokes of the template atlas as white brushes of alpha
// 2.5 x (1 - luminance): denser than the painting effects' brushes.
void PrepareFrameBrushes(const Image& atlas, BrushTable& brushes, std::vector<float>& angles) {
  brushes.assign(kFrameBrushes, BrushTip());
  angles.assign(kFrameBrushes, 0.0f);
  const int cell = atlas.width() == 2000 ? 250 : atlas.width() / 5;
  if (cell < 1) return;
  Paint paint;
  paint.colorFilter = ColorFilter::MakeMatrix({0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1,  //
                                               -0.7475f, -1.4675f, -0.285f, 0, 2.5f});
  for (int k = 0; k < kFrameBrushes; ++k) {
    const RectF src = RectF::MakeXYWH(double(k % 5) * cell, double(k / 5) * cell, cell, cell);
    if (src.right > atlas.width() || src.bottom > atlas.height()) continue;  // a short atlas: no brush here
    auto s = Surface::MakeRaster(cell, cell);
    if (!s) throw std::bad_alloc();
    s->GetCanvas()->DrawImageRect(atlas, src, RectF::MakeWH(cell, cell), SamplingOptions::High(), &paint);
    Image brush = s->MakeImageSnapshot();
    angles[size_t(k)] = ComputeBrushAngle(brush);
    brushes[size_t(k)] = BrushTip(brush);
  }
}

struct TStrip {
  int64_t x, y;  // on the new canvas
  int w, h;
  double baseAngle;
};

// Paints the strokes of one strip into S, judged against the reference R.
class StripPainter {
 public:
  StripPainter(const TStrip& strip, const ConstPixelView& picture, int64_t B, TAlphaColor borderColor,
               const BrushTable& brushes, const std::vector<float>& angles, float s0)
      : strip_(strip), picture_(picture), B_(B), border_(borderColor), brushes_(brushes), angles_(angles), s0_(s0) {}

  void Paint(const PixelView& R, const PixelView& S, int64_t strokes, int side, const TBrushFrameHooks& hooks,
             int64_t progressSpan) {
    R_ = R;
    S_ = S;
    int64_t current = Distance(IRect::MakeWH(S.width, S.height));
    int64_t best = current;
    std::vector<uint32_t> backup;
    for (int64_t k = 0; k < strokes; ++k) {
      if (k % 50 == 0) {
        if (hooks.Cancelled && hooks.Cancelled()) throw EAbort();
        if (hooks.Progress)
          hooks.Progress(int(std::min<int64_t>(90, Round(double(k) / double(progressSpan) * 20) + 20 * side + 10)));
      }
      const double rx = Random() * strip_.w, ry = Random() * strip_.h;
      const int64_t px = Round(double(strip_.x - B_) + rx), py = Round(double(strip_.y - B_) + ry);
      TAlphaColor colour = border_;
      if (px >= 0 && px < picture_.width && py >= 0 && py < picture_.height)
        colour = Unpremultiply(picture_.at(int(px), int(py)));
      const int j = Random(kFrameBrushes);
      const double angle = strip_.baseAngle + Random() * std::numbers::pi / 6 - 0.2617993877991494 -
                           angles_[size_t(j)];
      const double size = s0_ * (Random() * 0.15 + 0.85);
      BrushStamp stamp(brushes_[size_t(j)], colour, rx, ry, angle, size, size);
      IRect area = stamp.Bounds();
      if (!area.intersect(IRect::MakeWH(S.width, S.height))) continue;
      const bool judged = k % 2 == 0;
      // The candidate differs from S only inside the stamp: keep what it
      // covers, draw, and compare only the sampled pixels there.
      const int64_t before = Distance(area);
      if (judged) Save(area, backup);
      stamp.Draw(S, area);
      const int64_t candidate = current - before + Distance(area);
      if (!judged) {
        current = candidate;
      } else if (candidate < best) {
        current = best = candidate;
      } else {
        Restore(area, backup);
      }
    }
  }

 private:
  int64_t Distance(const IRect& area) const {
    int64_t d = 0;
    const int y0 = (area.top + kSample - 1) / kSample * kSample, x0 = (area.left + kSample - 1) / kSample * kSample;
    for (int y = y0; y < area.bottom; y += kSample) {
      const uint32_t *r = R_.row(y), *s = S_.row(y);
      for (int x = x0; x < area.right; x += kSample) d += SampledSquare(r[x], s[x]);
    }
    return d;
  }
  void Save(const IRect& a, std::vector<uint32_t>& buf) const {
    buf.resize(size_t(a.width()) * size_t(a.height()));
    for (int y = a.top; y < a.bottom; ++y)
      std::memcpy(buf.data() + size_t(y - a.top) * size_t(a.width()), S_.row(y) + a.left, size_t(a.width()) * 4);
  }
  void Restore(const IRect& a, const std::vector<uint32_t>& buf) const {
    for (int y = a.top; y < a.bottom; ++y)
      std::memcpy(S_.row(y) + a.left, buf.data() + size_t(y - a.top) * size_t(a.width()), size_t(a.width()) * 4);
  }

  TStrip strip_;
  ConstPixelView picture_;
  int64_t B_;
  TAlphaColor border_;
  const BrushTable& brushes_;
  const std::vector<float>& angles_;
  float s0_;
  PixelView R_, S_;
};

}  // namespace

double SampledImageDistance(const Image& A, const Image& B) {
  if (!A || !B || A.width() != B.width() || A.height() != B.height()) return 0;
  const ConstPixelView a = A.PeekPixels(), b = B.PeekPixels();
  int64_t d = 0;
  for (int y = 0; y < a.height; y += kSample)
    for (int x = 0; x < a.width; x += kSample) d += SampledSquare(a.at(x, y), b.at(x, y));
  return double(d);
}

TBrushFrameGeometry BrushFrameGeometry(int w, int h, int64_t borderWidth, int64_t brushSize) {
  TBrushFrameGeometry g;
  const int64_t B = ClampHuge(borderWidth);
  g.Width = int64_t(w) + 2 * B;
  g.Height = int64_t(h) + 2 * B;
  g.StrokeSize = float(std::max<int64_t>(5, ClampHuge(brushSize)));
  g.Thickness = Round(1.2 * double(g.StrokeSize));
  g.StrokesPerSide = Round((double(w) + double(h)) * 3.5) + 1;
  return g;
}

std::string BrushFrameSizeError(int w, int h, int64_t borderWidth, int64_t brushSize) {
  if (borderWidth < 0) return "The border width must be 0 or more";
  const TBrushFrameGeometry g = BrushFrameGeometry(w, h, borderWidth, brushSize);
  if (!IsValidSize(g.Width, g.Height)) return SurfaceError(g.Width, g.Height);
  // The strips along the sides are as long as the picture and as thick as the strokes.
  if (!IsValidSize(w, g.Thickness)) return SurfaceError(w, g.Thickness);
  if (!IsValidSize(g.Thickness, h)) return SurfaceError(g.Thickness, h);
  return {};
}

TBrushFrameResult RenderBrushstrokesFrame(const Image& display, const Image& source, const Image& atlas,
                                          TAlphaColor borderColor, int64_t borderWidth, int64_t brushSize,
                                          const TBrushFrameHooks& hooks) {
  TBrushFrameResult out;
  if (!display || !source) {
    out.Error = "No image loaded";
    return out;
  }
  if (!atlas) {
    out.Error = "The brush atlas is missing";
    return out;
  }
  const int w = display.width(), h = display.height();
  out.Error = BrushFrameSizeError(w, h, borderWidth, brushSize);
  if (!out.Error.empty()) return out;
  const TBrushFrameGeometry g = BrushFrameGeometry(w, h, borderWidth, brushSize);
  const int64_t B = borderWidth;
  const int64_t t = g.Thickness;

  try {
    const ConstPixelView picture = display.PeekPixels();
    const bool hasT = HasAnyTranslucentPixel(picture);
    if (hasT) borderColor = 0;  // a picture with transparency keeps a transparent surround
    if (hooks.Progress) hooks.Progress(5);

    BrushTable brushes;
    std::vector<float> angles;
    PrepareFrameBrushes(atlas, brushes, angles);
    if (hooks.Progress) hooks.Progress(10);

    SurfaceOrError F(g.Width, g.Height);
    Canvas* fc = F.surface->GetCanvas();
    fc->Clear(borderColor);
    {
      Paint clear;
      clear.blendMode = BlendMode::Clear;
      fc->DrawRect(RectF::MakeXYWH(double(B) + 1, double(B) + 1, w - 2.0, h - 2.0), clear);
    }
    const Image Fplain = F.surface->MakeImageSnapshot();

    const int64_t half = t / 2;
    const TStrip strips[4] = {
        {B, B - half - 6, w, int(t), 0},
        {B, B + h - half + 10, w, int(t), 0},
        {B - half - 6, B, int(t), h, std::numbers::pi / 2},
        {B + w - half + 10, B, int(t), h, std::numbers::pi / 2},
    };
    const int64_t progressSpan = std::max<int64_t>(1, Round(3.0 * h + 3.0 * w));
    for (int n = 0; n < 4; ++n) {
      const TStrip& st = strips[n];
      // What lies under the strip: the picture, the border colour around it.
      SurfaceOrError R(st.w, st.h);
      R.surface->GetCanvas()->Clear(borderColor);
      R.surface->GetCanvas()->DrawImage(display, double(-(st.x - B)), double(-(st.y - B)));
      SurfaceOrError S(st.w, st.h);
      StripPainter painter(st, picture, B, borderColor, brushes, angles, g.StrokeSize);
      painter.Paint(R.surface->PeekPixels(), S.surface->PeekPixels(), g.StrokesPerSide, n, hooks, progressSpan);

      // Fade from the outer edge (opaque up to 70 %) to a quarter at the inner edge.
      double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
      switch (n) {
        case 0: y1 = double(t); break;
        case 1: y0 = double(t); break;
        case 2: x1 = double(t); break;
        default: x0 = double(t); break;
      }
      Paint fade;
      fade.shader = Shader::MakeLinearGradient(x0, y0, x1, y1, {0xFFFFFFFFu, 0x40FFFFFFu}, {0.7f, 1.0f},
                                               TileMode::Clamp);
      fade.blendMode = BlendMode::DstIn;
      fc->Save();
      fc->Translate(double(st.x), double(st.y));
      const RectF rect = RectF::MakeWH(st.w, st.h);
      fc->ClipRect(rect);
      fc->DrawImage(S.surface->MakeImageSnapshot(), 0, 0, SamplingOptions::High());
      fc->DrawRect(rect, fade);
      fc->Restore();
    }
    if (hooks.Progress) hooks.Progress(90);
    const Image Fstrokes = F.surface->MakeImageSnapshot();
    F.surface.reset();

    auto compose = [&](const Image& picture, const Image& border) {
      SurfaceOrError r(g.Width, g.Height);
      Canvas* c = r.surface->GetCanvas();
      c->Clear(hasT ? 0u : 0xFFFFFFFFu);
      c->DrawImage(picture, double(B), double(B));
      c->DrawImage(border, 0, 0);
      return r.surface->MakeImageSnapshot();
    };
    out.Display = compose(display, Fstrokes);
    out.Source = compose(source, Fplain);
  } catch (const std::bad_alloc&) {
    out = TBrushFrameResult();
    out.Error = SurfaceError(g.Width, g.Height);
  } catch (const std::runtime_error& e) {
    out = TBrushFrameResult();
    out.Error = e.what();
  }
  return out;
}

Image MakeBrushstrokesFrameImage(const Image& working, const Image& atlas, TAlphaColor borderColor,
                                 int64_t borderWidth, int64_t brushSize, std::string* error) {
  TBrushFrameHooks hooks;
  if (DriverIfAny()) hooks.Cancelled = [] { return IsEffectCancelled(); };
  TBrushFrameResult r = RenderBrushstrokesFrame(working, working, atlas, borderColor, borderWidth, brushSize, hooks);
  if (error) *error = r.Error;
  return r.Display;
}

bool AddBrushstrokesFrame(TAlphaColor ABorderColor, int64_t ABorderWidth, int64_t ABrushSize,
                          std::function<void(bool replaced)> onDone) {
  EffectDriver& d = Driver();
  if (!d.VIrImage || !d.VIrSourceImage) {
    d.host().ShowMessage(Translate("No image loaded"));
    return false;
  }
  int expected = -1;
  if (!d.FCurrentEffectNumber.compare_exchange_strong(expected, kBrushstrokesFrame)) {
    d.host().ShowMessage(Translate("Please wait for ") + "\"" + GetEffectName(expected) + "\"" +
                         Translate(" to finish processing."));
    return false;
  }
  // Like a full run, the frame starts with a fresh cancel request.
  d.Cancel = false;
  auto ctx = std::make_shared<RunContext>();
  ctx->kind = RunKind::Full;
  ctx->effectNumber = kBrushstrokesFrame;

  // Every way out: the claim released, the progress display finished, the
  // caller told, all on the UI thread (or directly when the UI has gone).
  auto finish = [onDone](bool replaced) {
    EffectDriver& dd = Driver();
    dd.FCurrentEffectNumber = -1;
    dd.UpdateProgressBar(101);
    if (onDone) onDone(replaced);
  };

  const bool started = d.StartToolWorker([ctx, ABorderColor, ABorderWidth, ABrushSize, finish] {
    RunScope scope(ctx);
    bool replaced = false;
    try {
      RunOnUi([] { Driver().UpdateProgressBar(0); });
      Image LocalSource, LocalOriginalSource, AtlasSkImage;
      RunOnUi([&] {
        EffectDriver& dd = Driver();
        LocalSource = dd.VIrImage;
        LocalOriginalSource = dd.VIrSourceImage;
        if (dd.BuiltinImage) AtlasSkImage = dd.BuiltinImage("TemplateMatchingBrushes");
      });
      if (LocalSource && LocalOriginalSource && AtlasSkImage) {
        uint32_t lastReport = 0;
        TBrushFrameHooks hooks;
        hooks.Cancelled = [] { return IsEffectCancelled(); };
        hooks.Progress = [&lastReport](int v) {
          uint32_t now = GetTickCount();
          if (lastReport != 0 && uint32_t(now - lastReport) < 100) return;
          lastReport = now;
          UpdateProgressBar(v);
        };
        TBrushFrameResult r = RenderBrushstrokesFrame(LocalSource, LocalOriginalSource, AtlasSkImage, ABorderColor,
                                                      ABorderWidth, ABrushSize, hooks);
        CheckCancellation();
        RunOnUi([&] {
          EffectDriver& dd = Driver();
          if (!r.Error.empty()) {
            dd.host().ShowMessage(Translate(r.Error));
            return;
          }
          // The user may have opened or changed the picture meanwhile: the
          // frame then belongs to nothing on screen.
          if (dd.Cancel.load() || dd.VIrImage != LocalSource || dd.VIrSourceImage != LocalOriginalSource) return;
          dd.VIrImage = r.Display;
          dd.VIrSourceImage = r.Source;
          if (dd.FHistory) dd.FHistory->Save(dd.VIrImage, dd.VIrSourceImage);
          dd.host().RepaintWorkspace();
          replaced = true;
        });
      }
    } catch (...) {
      // Cancelled, out of memory, or the UI went away: the images stay as they were.
    }
    try {
      RunOnUi([&] { finish(replaced); });
    } catch (...) {
      Driver().FCurrentEffectNumber = -1;
    }
  });
  if (!started) {
    d.FCurrentEffectNumber = -1;
    return false;
  }
  return true;
}

}  // namespace lq
