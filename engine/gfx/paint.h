// Paints, blend modes, sampling options, colour filters, shaders and image filters.
#pragma once

#include <array>
#include <memory>
#include <vector>

#include "engine/gfx/image.h"

namespace lq {

enum class BlendMode {
  Clear, Src, Dst, SrcOver, DstOver, SrcIn, DstIn, SrcOut, DstOut, SrcATop, DstATop, Xor, Plus,
  Modulate, Screen, Overlay, Darken, Lighten, ColorDodge, ColorBurn, HardLight, SoftLight,
  Difference, Exclusion, Multiply, Hue, Saturation, Color, Luminosity,
};

// Result of blending one premultiplied source pixel over a destination pixel.
TAlphaColor BlendPixel(BlendMode mode, TAlphaColor src, TAlphaColor dst);

enum class TileMode { Clamp, Repeat, Mirror, Decal };

enum class FilterMode { Nearest, Linear };
enum class MipmapMode { None, Nearest, Linear };

struct SamplingOptions {
  FilterMode filter = FilterMode::Nearest;
  MipmapMode mipmap = MipmapMode::None;
  bool useCubic = false;  // Mitchell-Netravali, B = C = 1/3

  // "low": nearest neighbour, used for 1:1 draws.
  static SamplingOptions Low() { return {}; }
  static SamplingOptions Linear() { return {FilterMode::Linear, MipmapMode::None, false}; }
  static SamplingOptions LinearMipNearest() { return {FilterMode::Linear, MipmapMode::Nearest, false}; }
  // "high": bicubic Mitchell, used whenever an image is drawn scaled for display.
  static SamplingOptions High() { return {FilterMode::Linear, MipmapMode::None, true}; }
};

// 4 x 5 colour matrix, row-major, acting on straight colour in 0..1 units;
// the fifth column is the constant term.
using ColorMatrix = std::array<float, 20>;
ColorMatrix IdentityColorMatrix();

class ColorFilter {
 public:
  enum class Kind { Blend, Matrix, Compose };
  static std::shared_ptr<const ColorFilter> MakeBlend(TAlphaColor color, BlendMode mode);
  static std::shared_ptr<const ColorFilter> MakeMatrix(const ColorMatrix& m);
  // outer(inner(x))
  static std::shared_ptr<const ColorFilter> MakeCompose(std::shared_ptr<const ColorFilter> outer,
                                                         std::shared_ptr<const ColorFilter> inner);

  // Filters one premultiplied pixel.
  TAlphaColor FilterColor(TAlphaColor premul) const;
  // Filters a row of premultiplied pixels in place.
  void FilterRow(uint32_t* px, int n) const;

  Kind kind;
  TAlphaColor color = 0;  // Blend: straight ARGB
  BlendMode mode = BlendMode::SrcIn;
  ColorMatrix matrix{};
  std::shared_ptr<const ColorFilter> outer, inner;
};

class Shader {
 public:
  enum class Kind { Image, LinearGradient, RadialGradient };
  // Image shader; the local matrix maps image space to canvas user space.
  static std::shared_ptr<const Shader> MakeImage(Image img, TileMode tx, TileMode ty, SamplingOptions sampling,
                                                 const std::array<double, 6>* localMatrix = nullptr);
  // Colours are straight ARGB; positions in 0..1 (empty = evenly spaced).
  static std::shared_ptr<const Shader> MakeLinearGradient(double x0, double y0, double x1, double y1,
                                                          std::vector<TAlphaColor> colors,
                                                          std::vector<float> positions, TileMode tile);
  static std::shared_ptr<const Shader> MakeRadialGradient(double cx, double cy, double radius,
                                                          std::vector<TAlphaColor> colors,
                                                          std::vector<float> positions, TileMode tile);

  Kind kind;
  Image image;
  TileMode tileX = TileMode::Clamp, tileY = TileMode::Clamp;
  SamplingOptions sampling;
  std::array<double, 6> local{1, 0, 0, 1, 0, 0};  // a b c d e f as in x' = a x + c y + e
  double p[4]{};                                   // gradient points (x0 y0 x1 y1) or (cx cy r)
  std::vector<TAlphaColor> colors;
  std::vector<float> positions;
};

class ImageFilter {
 public:
  enum class Kind { Blur, DropShadow, MatrixConvolution, ColorFilter };
  using Ptr = std::shared_ptr<const ImageFilter>;

  static Ptr MakeBlur(float sigmaX, float sigmaY, TileMode tile, Ptr input = nullptr);
  // Shadow of the input's alpha (blurred, tinted, offset), with the input drawn over it.
  static Ptr MakeDropShadow(float dx, float dy, float sigmaX, float sigmaY, TAlphaColor color, Ptr input = nullptr);
  static Ptr MakeMatrixConvolution(const std::array<float, 9>& kernel, float gain, float bias, IPoint kernelOffset,
                                   TileMode tile, bool convolveAlpha, Ptr input = nullptr);
  static Ptr MakeColorFilter(std::shared_ptr<const ColorFilter> cf, Ptr input = nullptr);

  // Applies the filter chain to img. The result's top-left corner lies at
  // *offset relative to img's top-left (negative when the result grew).
  Image Apply(const Image& img, IPoint* offset) const;

  Kind kind;
  float sigmaX = 0, sigmaY = 0, dx = 0, dy = 0;
  TAlphaColor color = 0;
  TileMode tile = TileMode::Decal;
  std::array<float, 9> kernel{};
  float gain = 1, bias = 0;
  IPoint kernelOffset{1, 1};
  bool convolveAlpha = false;
  std::shared_ptr<const ColorFilter> colorFilter;
  Ptr input;
};

enum class PaintStyle { Fill, Stroke, StrokeAndFill };
enum class StrokeCap { Butt, Round, Square };
enum class StrokeJoin { Miter, Round, Bevel };

struct Paint {
  TAlphaColor color = 0xFF000000;  // straight ARGB; its alpha is the paint's opacity
  bool antiAlias = false;
  PaintStyle style = PaintStyle::Fill;
  float strokeWidth = 0;  // 0 = hairline (one pixel)
  StrokeCap cap = StrokeCap::Butt;
  StrokeJoin join = StrokeJoin::Miter;
  float miterLimit = 4;
  BlendMode blendMode = BlendMode::SrcOver;
  std::vector<float> dashIntervals;  // on/off lengths; empty = solid
  float dashPhase = 0;
  std::shared_ptr<const ColorFilter> colorFilter;
  std::shared_ptr<const ImageFilter> imageFilter;
  std::shared_ptr<const Shader> shader;

  Paint() = default;
  explicit Paint(TAlphaColor c) : color(c) {}
  float alphaf() const { return float(color >> 24) / 255.0f; }
  void setAlphaf(float a);
  void setAlpha(int a) { color = (color & 0x00FFFFFFu) | (uint32_t(ClampByte(a)) << 24); }
};

}  // namespace lq
