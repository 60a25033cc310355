#include "engine/gfx/paint.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/gfx/filters.h"

namespace lq {

void Paint::setAlphaf(float a) {
  a = std::clamp(a, 0.0f, 1.0f);
  setAlpha(int(std::lround(a * 255.0f)));
}

ColorMatrix IdentityColorMatrix() {
  return {1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0};
}

// ---------------------------------------------------------------------------
// Blending of premultiplied pixels, following the W3C compositing formulas.

namespace {

struct F4 {
  float r, g, b, a;
};

F4 ToF(TAlphaColor c) {
  return {GetR(c) / 255.0f, GetG(c) / 255.0f, GetB(c) / 255.0f, GetA(c) / 255.0f};
}

TAlphaColor FromF(F4 c) {
  auto q = [](float v) { return uint32_t(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f)); };
  uint32_t a = q(c.a);
  uint32_t r = std::min(q(c.r), a), g = std::min(q(c.g), a), b = std::min(q(c.b), a);
  return MakeColor(a, r, g, b);
}

float Lum(float r, float g, float b) { return 0.3f * r + 0.59f * g + 0.11f * b; }

void ClipColor(float& r, float& g, float& b) {
  float l = Lum(r, g, b);
  float n = std::min({r, g, b}), x = std::max({r, g, b});
  if (n < 0) {
    float d = l - n;
    if (d > 0) {
      r = l + (r - l) * l / d;
      g = l + (g - l) * l / d;
      b = l + (b - l) * l / d;
    }
  }
  if (x > 1) {
    float d = x - l;
    if (d > 0) {
      r = l + (r - l) * (1 - l) / d;
      g = l + (g - l) * (1 - l) / d;
      b = l + (b - l) * (1 - l) / d;
    }
  }
}

void SetLum(float& r, float& g, float& b, float l) {
  float d = l - Lum(r, g, b);
  r += d;
  g += d;
  b += d;
  ClipColor(r, g, b);
}

float Sat(float r, float g, float b) { return std::max({r, g, b}) - std::min({r, g, b}); }

void SetSat(float& r, float& g, float& b, float s) {
  float* c[3] = {&r, &g, &b};
  std::sort(c, c + 3, [](float* x, float* y) { return *x < *y; });
  float& mn = *c[0];
  float& md = *c[1];
  float& mx = *c[2];
  if (mx > mn) {
    md = (md - mn) * s / (mx - mn);
    mx = s;
  } else {
    md = mx = 0;
  }
  mn = 0;
}

float SepBlend(BlendMode m, float cs, float cb) {
  switch (m) {
    case BlendMode::Multiply: return cs * cb;
    case BlendMode::Screen: return cb + cs - cb * cs;
    case BlendMode::Overlay: return cb <= 0.5f ? 2 * cs * cb : 1 - 2 * (1 - cs) * (1 - cb);
    case BlendMode::Darken: return std::min(cs, cb);
    case BlendMode::Lighten: return std::max(cs, cb);
    case BlendMode::ColorDodge:
      if (cb == 0) return 0;
      if (cs >= 1) return 1;
      return std::min(1.0f, cb / (1 - cs));
    case BlendMode::ColorBurn:
      if (cb >= 1) return 1;
      if (cs <= 0) return 0;
      return 1 - std::min(1.0f, (1 - cb) / cs);
    case BlendMode::HardLight: return cs <= 0.5f ? 2 * cs * cb : 1 - 2 * (1 - cs) * (1 - cb);
    case BlendMode::SoftLight: {
      if (cs <= 0.5f) return cb - (1 - 2 * cs) * cb * (1 - cb);
      float d = cb <= 0.25f ? ((16 * cb - 12) * cb + 4) * cb : std::sqrt(cb);
      return cb + (2 * cs - 1) * (d - cb);
    }
    case BlendMode::Difference: return std::fabs(cs - cb);
    case BlendMode::Exclusion: return cs + cb - 2 * cs * cb;
    default: return cs;
  }
}

}  // namespace

TAlphaColor BlendPixel(BlendMode mode, TAlphaColor src, TAlphaColor dst) {
  switch (mode) {
    case BlendMode::Clear: return 0;
    case BlendMode::Src: return src;
    case BlendMode::Dst: return dst;
    case BlendMode::SrcOver:
      if ((src >> 24) == 255) return src;
      if ((src >> 24) == 0) return dst;
      break;
    default: break;
  }
  F4 s = ToF(src), d = ToF(dst), o{};
  auto pd = [&](float fs, float fd) {
    o = {s.r * fs + d.r * fd, s.g * fs + d.g * fd, s.b * fs + d.b * fd, s.a * fs + d.a * fd};
  };
  switch (mode) {
    case BlendMode::SrcOver: pd(1, 1 - s.a); break;
    case BlendMode::DstOver: pd(1 - d.a, 1); break;
    case BlendMode::SrcIn: pd(d.a, 0); break;
    case BlendMode::DstIn: pd(0, s.a); break;
    case BlendMode::SrcOut: pd(1 - d.a, 0); break;
    case BlendMode::DstOut: pd(0, 1 - s.a); break;
    case BlendMode::SrcATop: pd(d.a, 1 - s.a); break;
    case BlendMode::DstATop: pd(1 - d.a, s.a); break;
    case BlendMode::Xor: pd(1 - d.a, 1 - s.a); break;
    case BlendMode::Plus: o = {s.r + d.r, s.g + d.g, s.b + d.b, s.a + d.a}; break;
    case BlendMode::Modulate: o = {s.r * d.r, s.g * d.g, s.b * d.b, s.a * d.a}; break;
    case BlendMode::Hue: case BlendMode::Saturation: case BlendMode::Color: case BlendMode::Luminosity: {
      float sr = s.a > 0 ? s.r / s.a : 0, sg = s.a > 0 ? s.g / s.a : 0, sb = s.a > 0 ? s.b / s.a : 0;
      float br = d.a > 0 ? d.r / d.a : 0, bg = d.a > 0 ? d.g / d.a : 0, bb = d.a > 0 ? d.b / d.a : 0;
      float r, g, b;
      if (mode == BlendMode::Hue) {
        r = sr; g = sg; b = sb;
        SetSat(r, g, b, Sat(br, bg, bb));
        SetLum(r, g, b, Lum(br, bg, bb));
      } else if (mode == BlendMode::Saturation) {
        r = br; g = bg; b = bb;
        SetSat(r, g, b, Sat(sr, sg, sb));
        SetLum(r, g, b, Lum(br, bg, bb));
      } else if (mode == BlendMode::Color) {
        r = sr; g = sg; b = sb;
        SetLum(r, g, b, Lum(br, bg, bb));
      } else {
        r = br; g = bg; b = bb;
        SetLum(r, g, b, Lum(sr, sg, sb));
      }
      float ab = s.a * d.a;
      o.r = s.r * (1 - d.a) + d.r * (1 - s.a) + ab * r;
      o.g = s.g * (1 - d.a) + d.g * (1 - s.a) + ab * g;
      o.b = s.b * (1 - d.a) + d.b * (1 - s.a) + ab * b;
      o.a = s.a + d.a - s.a * d.a;
      break;
    }
    default: {
      auto ch = [&](float cs, float cb) {
        float us = s.a > 0 ? cs / s.a : 0, ub = d.a > 0 ? cb / d.a : 0;
        return cs * (1 - d.a) + cb * (1 - s.a) + s.a * d.a * SepBlend(mode, us, ub);
      };
      o = {ch(s.r, d.r), ch(s.g, d.g), ch(s.b, d.b), s.a + d.a - s.a * d.a};
      break;
    }
  }
  return FromF(o);
}

// ---------------------------------------------------------------------------
// Colour filters.

std::shared_ptr<const ColorFilter> ColorFilter::MakeBlend(TAlphaColor color, BlendMode mode) {
  auto f = std::make_shared<ColorFilter>();
  f->kind = Kind::Blend;
  f->color = color;
  f->mode = mode;
  return f;
}

std::shared_ptr<const ColorFilter> ColorFilter::MakeMatrix(const ColorMatrix& m) {
  auto f = std::make_shared<ColorFilter>();
  f->kind = Kind::Matrix;
  f->matrix = m;
  return f;
}

std::shared_ptr<const ColorFilter> ColorFilter::MakeCompose(std::shared_ptr<const ColorFilter> outer,
                                                             std::shared_ptr<const ColorFilter> inner) {
  if (!outer) return inner;
  if (!inner) return outer;
  auto f = std::make_shared<ColorFilter>();
  f->kind = Kind::Compose;
  f->outer = std::move(outer);
  f->inner = std::move(inner);
  return f;
}

namespace {
inline uint32_t Mul255(uint32_t a, uint32_t b) {
  uint32_t t = a * b + 128;
  return (t + (t >> 8)) >> 8;
}

TAlphaColor MatrixPixel(const ColorMatrix& m, TAlphaColor px) {
  TAlphaColor u = Unpremultiply(px);
  float in[4] = {GetR(u) / 255.0f, GetG(u) / 255.0f, GetB(u) / 255.0f, GetA(u) / 255.0f};
  float out[4];
  for (int r = 0; r < 4; ++r) {
    const float* row = &m[size_t(r) * 5];
    float v = row[0] * in[0] + row[1] * in[1] + row[2] * in[2] + row[3] * in[3] + row[4];
    out[r] = std::clamp(v, 0.0f, 1.0f);
  }
  uint32_t a = uint32_t(std::lround(out[3] * 255.0f));
  auto c = [&](float v) { return std::min(a, uint32_t(std::lround(v * out[3] * 255.0f))); };
  return MakeColor(a, c(out[0]), c(out[1]), c(out[2]));
}
}  // namespace

TAlphaColor ColorFilter::FilterColor(TAlphaColor px) const {
  switch (kind) {
    case Kind::Blend: {
      TAlphaColor s = Premultiply(color);
      if (mode == BlendMode::SrcIn) {
        uint32_t a = GetA(px);
        return MakeColor(Mul255(GetA(s), a), Mul255(GetR(s), a), Mul255(GetG(s), a), Mul255(GetB(s), a));
      }
      if (mode == BlendMode::Modulate)
        return MakeColor(Mul255(GetA(s), GetA(px)), Mul255(GetR(s), GetR(px)), Mul255(GetG(s), GetG(px)),
                         Mul255(GetB(s), GetB(px)));
      return BlendPixel(mode, s, px);
    }
    case Kind::Matrix: return MatrixPixel(matrix, px);
    case Kind::Compose: return outer->FilterColor(inner->FilterColor(px));
  }
  return px;
}

void ColorFilter::FilterRow(uint32_t* px, int n) const {
  if (kind == Kind::Blend && (mode == BlendMode::SrcIn || mode == BlendMode::Modulate)) {
    TAlphaColor s = Premultiply(color);
    uint32_t sa = GetA(s), sr = GetR(s), sg = GetG(s), sb = GetB(s);
    if (mode == BlendMode::SrcIn) {
      for (int i = 0; i < n; ++i) {
        uint32_t a = px[i] >> 24;
        px[i] = MakeColor(Mul255(sa, a), Mul255(sr, a), Mul255(sg, a), Mul255(sb, a));
      }
    } else {
      for (int i = 0; i < n; ++i) {
        uint32_t p = px[i];
        px[i] = MakeColor(Mul255(sa, GetA(p)), Mul255(sr, GetR(p)), Mul255(sg, GetG(p)), Mul255(sb, GetB(p)));
      }
    }
    return;
  }
  for (int i = 0; i < n; ++i) px[i] = FilterColor(px[i]);
}

// ---------------------------------------------------------------------------
// Shaders.

std::shared_ptr<const Shader> Shader::MakeImage(Image img, TileMode tx, TileMode ty, SamplingOptions sampling,
                                                const std::array<double, 6>* localMatrix) {
  if (!img) return nullptr;
  auto s = std::make_shared<Shader>();
  s->kind = Kind::Image;
  s->image = std::move(img);
  s->tileX = tx;
  s->tileY = ty;
  s->sampling = sampling;
  if (localMatrix) s->local = *localMatrix;
  return s;
}

std::shared_ptr<const Shader> Shader::MakeLinearGradient(double x0, double y0, double x1, double y1,
                                                         std::vector<TAlphaColor> colors,
                                                         std::vector<float> positions, TileMode tile) {
  if (colors.empty()) return nullptr;
  auto s = std::make_shared<Shader>();
  s->kind = Kind::LinearGradient;
  s->p[0] = x0;
  s->p[1] = y0;
  s->p[2] = x1;
  s->p[3] = y1;
  s->colors = std::move(colors);
  s->positions = std::move(positions);
  s->tileX = s->tileY = tile;
  return s;
}

std::shared_ptr<const Shader> Shader::MakeRadialGradient(double cx, double cy, double radius,
                                                         std::vector<TAlphaColor> colors,
                                                         std::vector<float> positions, TileMode tile) {
  if (colors.empty()) return nullptr;
  auto s = std::make_shared<Shader>();
  s->kind = Kind::RadialGradient;
  s->p[0] = cx;
  s->p[1] = cy;
  s->p[2] = radius;
  s->colors = std::move(colors);
  s->positions = std::move(positions);
  s->tileX = s->tileY = tile;
  return s;
}

// ---------------------------------------------------------------------------
// Image filters.

ImageFilter::Ptr ImageFilter::MakeBlur(float sigmaX, float sigmaY, TileMode tile, Ptr input) {
  auto f = std::make_shared<ImageFilter>();
  f->kind = Kind::Blur;
  f->sigmaX = std::max(0.0f, sigmaX);
  f->sigmaY = std::max(0.0f, sigmaY);
  f->tile = tile;
  f->input = std::move(input);
  return f;
}

ImageFilter::Ptr ImageFilter::MakeDropShadow(float dx, float dy, float sigmaX, float sigmaY, TAlphaColor color,
                                             Ptr input) {
  auto f = std::make_shared<ImageFilter>();
  f->kind = Kind::DropShadow;
  f->dx = dx;
  f->dy = dy;
  f->sigmaX = std::max(0.0f, sigmaX);
  f->sigmaY = std::max(0.0f, sigmaY);
  f->color = color;
  f->input = std::move(input);
  return f;
}

ImageFilter::Ptr ImageFilter::MakeMatrixConvolution(const std::array<float, 9>& kernel, float gain, float bias,
                                                    IPoint kernelOffset, TileMode tile, bool convolveAlpha,
                                                    Ptr input) {
  auto f = std::make_shared<ImageFilter>();
  f->kind = Kind::MatrixConvolution;
  f->kernel = kernel;
  f->gain = gain;
  f->bias = bias;
  f->kernelOffset = kernelOffset;
  f->tile = tile;
  f->convolveAlpha = convolveAlpha;
  f->input = std::move(input);
  return f;
}

ImageFilter::Ptr ImageFilter::MakeColorFilter(std::shared_ptr<const ColorFilter> cf, Ptr input) {
  if (!cf) return input;
  auto f = std::make_shared<ImageFilter>();
  f->kind = Kind::ColorFilter;
  f->colorFilter = std::move(cf);
  f->input = std::move(input);
  return f;
}

namespace {

// Copies img into a new transparent buffer grown by pad pixels on each side.
std::shared_ptr<PixelStore> Padded(const Image& img, int padX, int padY) {
  auto store = AllocPixels(img.width() + 2 * padX, img.height() + 2 * padY, true);
  if (!store) return nullptr;
  ConstPixelView s = img.PeekPixels();
  PixelView d = store->view();
  for (int y = 0; y < s.height; ++y)
    std::memcpy(d.row(y + padY) + padX, s.row(y), size_t(s.width) * 4);
  return store;
}

std::shared_ptr<PixelStore> CopyOf(const Image& img) {
  auto store = AllocPixels(img.width(), img.height(), false);
  if (!store) return nullptr;
  ConstPixelView s = img.PeekPixels();
  PixelView d = store->view();
  for (int y = 0; y < s.height; ++y) std::memcpy(d.row(y), s.row(y), size_t(s.width) * 4);
  return store;
}

}  // namespace

Image ImageFilter::Apply(const Image& src, IPoint* offset) const {
  IPoint off{0, 0};
  Image in = src;
  if (input) {
    in = input->Apply(src, &off);
    if (!in) return {};
  }
  Image out;
  IPoint myOff{0, 0};
  switch (kind) {
    case Kind::ColorFilter: {
      auto store = CopyOf(in);
      if (!store) return {};
      PixelView v = store->view();
      for (int y = 0; y < v.height; ++y) colorFilter->FilterRow(v.row(y), v.width);
      out = Image::MakeFromStore(std::move(store));
      break;
    }
    case Kind::Blur: {
      if (tile == TileMode::Decal) {
        // The blur spreads beyond the input; grow the result so nothing is cut off.
        int px = BlurRadius(sigmaX), py = BlurRadius(sigmaY);
        auto store = Padded(in, px, py);
        if (!store) return {};
        GaussianBlur(store->view(), store->view(), sigmaX, sigmaY, tile);
        out = Image::MakeFromStore(std::move(store));
        myOff = {-px, -py};
      } else {
        auto store = CopyOf(in);
        if (!store) return {};
        GaussianBlur(store->view(), store->view(), sigmaX, sigmaY, tile);
        out = Image::MakeFromStore(std::move(store), in.isOpaque());
      }
      break;
    }
    case Kind::MatrixConvolution: {
      auto store = AllocPixels(in.width(), in.height(), false);
      if (!store) return {};
      Convolve3x3(in.PeekPixels(), store->view(), kernel, gain, bias, kernelOffset, tile, convolveAlpha);
      out = Image::MakeFromStore(std::move(store));
      break;
    }
    case Kind::DropShadow: {
      int px = BlurRadius(sigmaX), py = BlurRadius(sigmaY);
      int sx = int(std::lround(dx)), sy = int(std::lround(dy));
      // Result covers the input and its shifted, blurred shadow.
      int left = std::min(0, sx - px), top = std::min(0, sy - py);
      int right = std::max(in.width(), sx + in.width() + px), bottom = std::max(in.height(), sy + in.height() + py);
      auto store = AllocPixels(right - left, bottom - top, true);
      if (!store) return {};
      PixelView d = store->view();
      ConstPixelView s = in.PeekPixels();
      TAlphaColor c = Premultiply(color);
      for (int y = 0; y < s.height; ++y) {
        const uint32_t* srow = s.row(y);
        uint32_t* drow = d.row(y + sy - top) + (sx - left);
        for (int x = 0; x < s.width; ++x) {
          uint32_t a = srow[x] >> 24;
          drow[x] = MakeColor(Mul255(GetA(c), a), Mul255(GetR(c), a), Mul255(GetG(c), a), Mul255(GetB(c), a));
        }
      }
      GaussianBlur(d, d, sigmaX, sigmaY, TileMode::Decal);
      for (int y = 0; y < s.height; ++y) {
        const uint32_t* srow = s.row(y);
        uint32_t* drow = d.row(y - top) - left;
        for (int x = 0; x < s.width; ++x) drow[x] = BlendPixel(BlendMode::SrcOver, srow[x], drow[x]);
      }
      out = Image::MakeFromStore(std::move(store));
      myOff = {left, top};
      break;
    }
  }
  if (offset) *offset = {off.x + myOff.x, off.y + myOff.y};
  return out;
}

}  // namespace lq
