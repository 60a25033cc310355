#include "script/image_ops.h"

#include <pango/pangocairo.h>
#include <strings.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <set>

#include "engine/gfx/surface.h"

namespace lq {

namespace {

std::string SurfaceMessage(int64_t w, int64_t h) {
  return "Could not create " + std::to_string(w) + "x" + std::to_string(h) + " surface";
}

std::unique_ptr<Surface> MakeSurfaceOrThrow(int64_t w, int64_t h) {
  std::unique_ptr<Surface> s;
  if (IsValidSize(w, h)) s = Surface::MakeRaster(int(w), int(h));
  if (!s) throw EImageOpError(SurfaceMessage(w, h));
  return s;
}

// Generic names fontconfig always answers, though no family carries them.
bool IsGenericFamily(const std::string& f) {
  static const char* const kGeneric[] = {"sans",    "sans-serif", "serif",     "monospace", "mono",
                                         "cursive", "fantasy",    "system-ui", "emoji",     "math"};
  for (const char* g : kGeneric)
    if (strcasecmp(f.c_str(), g) == 0) return true;
  return false;
}

struct CaseLess {
  bool operator()(const std::string& a, const std::string& b) const { return strcasecmp(a.c_str(), b.c_str()) < 0; }
};

// The installed families, listed once: the set does not change while we run.
const std::set<std::string, CaseLess>& InstalledFamilies() {
  static std::set<std::string, CaseLess> families;
  static std::once_flag once;
  std::call_once(once, [] {
    PangoFontMap* map = pango_cairo_font_map_get_default();
    PangoFontFamily** list = nullptr;
    int n = 0;
    pango_font_map_list_families(map, &list, &n);
    for (int i = 0; i < n; ++i)
      if (const char* name = pango_font_family_get_name(list[i])) families.insert(name);
    g_free(list);
  });
  return families;
}

template <typename T, void (*Free)(T*)>
struct GDeleter {
  void operator()(T* p) const {
    if (p) Free(p);
  }
};
using FontDescPtr = std::unique_ptr<PangoFontDescription, GDeleter<PangoFontDescription, pango_font_description_free>>;
using FontOptionsPtr =
    std::unique_ptr<cairo_font_options_t, GDeleter<cairo_font_options_t, cairo_font_options_destroy>>;
template <typename T>
struct ObjectDeleter {
  void operator()(T* p) const {
    if (p) g_object_unref(p);
  }
};

// Larger than any picture needs; it also bounds the shadow's reach, and with
// it the layer the text is drawn into.
constexpr double kMaxTextSize = 10000.0;

// Where the glyph box starts along one axis.
double BoxStart(double value, bool percent, double extent, double box) {
  if (!percent) return value;
  const double p = extent * value / 100.0;
  if (value < 50) return p;
  if (value > 50) return p - box;
  return p - box / 2;
}

}  // namespace

Image ResizeImage(const Image& image, int width, int height) {
  auto s = MakeSurfaceOrThrow(width, height);
  if (image) s->GetCanvas()->DrawImageRect(image, RectF::MakeWH(width, height), SamplingOptions::High());
  return s->MakeImageSnapshot();
}

Image BlendImages(const Image& base, const Image& overlay, float opacity, BlendMode mode) {
  if (!base || !overlay) return base;
  const int w = base.width(), h = base.height();
  const Image top = (overlay.width() == w && overlay.height() == h) ? overlay : ResizeImage(overlay, w, h);
  auto s = MakeSurfaceOrThrow(w, h);
  Canvas* c = s->GetCanvas();
  c->DrawImage(base, 0, 0);
  Paint p;
  p.setAlphaf(std::clamp(std::isnan(opacity) ? 0.0f : opacity, 0.0f, 1.0f));
  p.blendMode = mode;
  c->DrawImage(top, 0, 0, SamplingOptions::Low(), &p);
  return s->MakeImageSnapshot();
}

std::string ResolveFontFamily(const std::string& family) {
  if (!family.empty() && (IsGenericFamily(family) || InstalledFamilies().count(family))) return family;
  // fontconfig maps "Arial" to a metric-compatible face, or to its default one.
  return "Arial";
}

Image DrawTextOnImage(const Image& image, float X, float Y, bool XPercent, bool YPercent, const std::string& text,
                      const std::string& family, float size, TFontStyle style, TAlphaColor color, bool shadow) {
  if (!image || text.empty()) return image;
  if (!std::isfinite(size) || size <= 0) return image;
  const double fontSize = std::min(double(size), kMaxTextSize);

  // Unhinted outlines at fractional positions: the glyph box we measure is
  // the one we fill, so placement is exact.
  PangoFontMap* map = pango_cairo_font_map_get_default();
  std::unique_ptr<PangoContext, ObjectDeleter<PangoContext>> ctx(pango_font_map_create_context(map));
  FontOptionsPtr options(cairo_font_options_create());
  cairo_font_options_set_hint_style(options.get(), CAIRO_HINT_STYLE_NONE);
  cairo_font_options_set_hint_metrics(options.get(), CAIRO_HINT_METRICS_OFF);
  cairo_font_options_set_antialias(options.get(), CAIRO_ANTIALIAS_GRAY);
  pango_cairo_context_set_font_options(ctx.get(), options.get());
  pango_context_set_round_glyph_positions(ctx.get(), FALSE);

  std::unique_ptr<PangoLayout, ObjectDeleter<PangoLayout>> layout(pango_layout_new(ctx.get()));
  pango_layout_set_single_paragraph_mode(layout.get(), TRUE);
  gchar* valid = g_utf8_make_valid(text.data(), gssize(text.size()));
  pango_layout_set_text(layout.get(), valid, -1);
  g_free(valid);

  FontDescPtr desc(pango_font_description_new());
  pango_font_description_set_family(desc.get(), ResolveFontFamily(family).c_str());
  pango_font_description_set_absolute_size(desc.get(), fontSize * PANGO_SCALE);
  pango_font_description_set_weight(desc.get(), PangoWeight(std::clamp(style.Weight, 100, 1000)));
  pango_font_description_set_style(desc.get(), style.Italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
  pango_font_description_set_stretch(desc.get(), PangoStretch(std::clamp(style.Width, 1, 9) - 1));
  pango_layout_set_font_description(layout.get(), desc.get());

  PangoRectangle ink{}, logical{};
  pango_layout_get_extents(layout.get(), &ink, &logical);
  const double inkX = double(ink.x) / PANGO_SCALE, inkY = double(ink.y) / PANGO_SCALE;
  const double inkW = double(ink.width) / PANGO_SCALE, inkH = double(ink.height) / PANGO_SCALE;
  if (inkW <= 0 || inkH <= 0) return image;  // only spaces: nothing to draw

  const double W = image.width(), H = image.height();
  const double left = BoxStart(X, XPercent, W, inkW);
  const double top = BoxStart(Y, YPercent, H, inkH);

  // Draw only the part of the text that can reach the picture (its shadow
  // included) into a layer, then composite the layer.
  const double d = std::max(2.0, 0.05 * fontSize), sigma = std::max(2.0, 0.04 * fontSize);
  const double reach = shadow ? d + 3 * sigma + 1 : 0;
  const double lx0 = std::max(std::floor(left) - 2, -reach), ly0 = std::max(std::floor(top) - 2, -reach);
  const double lx1 = std::min(std::ceil(left + inkW) + 2, W + reach);
  const double ly1 = std::min(std::ceil(top + inkH) + 2, H + reach);
  if (!(lx1 > lx0) || !(ly1 > ly0)) return image;  // entirely outside
  const int lx = int(lx0), ly = int(ly0);
  const int lw = int(lx1 - lx0), lh = int(ly1 - ly0);

  auto layerSurface = MakeSurfaceOrThrow(lw, lh);
  const double originX = left - inkX - lx, originY = top - inkY - ly;
  const bool drawn = layerSurface->GetCanvas()->DrawWithCairo([&](cairo_t* cr) {
    cairo_translate(cr, originX, originY);
    pango_cairo_update_context(cr, ctx.get());
    pango_layout_context_changed(layout.get());
    // Outlines rather than cached glyph bitmaps: any size renders without
    // one huge mask per glyph.
    pango_cairo_layout_path(cr, layout.get());
    cairo_set_source_rgba(cr, GetR(color) / 255.0, GetG(color) / 255.0, GetB(color) / 255.0, GetA(color) / 255.0);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_GRAY);
    cairo_fill(cr);
  });
  if (!drawn)
    throw EImageOpError("Could not draw text on a " + std::to_string(lw) + "x" + std::to_string(lh) + " area");

  auto out = MakeSurfaceOrThrow(image.width(), image.height());
  Canvas* c = out->GetCanvas();
  c->DrawImage(image, 0, 0);
  Paint p;
  p.color = 0xFFFFFFFF;
  if (shadow) p.imageFilter = ImageFilter::MakeDropShadow(float(d), float(d), float(sigma), float(sigma), 0xDD000000);
  c->DrawImage(layerSurface->MakeImageSnapshot(), lx, ly, SamplingOptions::Low(), &p);
  return out->MakeImageSnapshot();
}

}  // namespace lq
