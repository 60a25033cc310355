#include "resources/overview_sheet.h"

#include <cairo.h>

#include <algorithm>
#include <string>

#include "engine/gfx/surface.h"

namespace lq {

namespace {
constexpr int kColumns = 5;
constexpr int kThumb = 300;  // thumbnail box
constexpr int kLabel = 46;   // room for two lines of text under it
constexpr int kGap = 24;
constexpr int kTitle = 70;

void Text(Canvas* c, const std::string& s, double x, double y, double size, bool bold, TAlphaColor color) {
  c->DrawWithCairo([&](cairo_t* cr) {
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL,
                           bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
    cairo_set_source_rgba(cr, GetR(color) / 255.0, GetG(color) / 255.0, GetB(color) / 255.0, GetA(color) / 255.0);
    cairo_move_to(cr, x, y);
    cairo_show_text(cr, s.c_str());
  });
}

void Checkerboard(Canvas* c, const RectF& r) {
  Paint light(0xFFE8E8E8), dark(0xFFC8C8C8);
  c->Save();
  c->ClipRect(r);
  c->DrawRect(r, light);
  const double sq = 10;
  for (double y = r.top; y < r.bottom; y += sq)
    for (double x = r.left + (int((y - r.top) / sq) % 2) * sq; x < r.right; x += 2 * sq)
      c->DrawRect(RectF::MakeXYWH(x, y, sq, sq), dark);
  c->Restore();
}
}  // namespace

Image MakeOverviewSheet(const ResourceRepository& repo) {
  std::vector<std::string> names;
  for (const std::string& n : repo.PictureNames())
    if (n != "Brushes" && n != "Frame") names.push_back(n);
  int rows = (int(names.size()) + kColumns - 1) / kColumns;
  int w = kGap + kColumns * (kThumb + kGap);
  int h = kTitle + rows * (kThumb + kLabel + kGap) + kGap;
  auto surface = Surface::MakeRaster(w, h);
  if (!surface) return {};
  Canvas* c = surface->GetCanvas();
  c->Clear(0xFF1F2329);
  Text(c, "Lumaquill Studio: embedded pictures", kGap, 46, 28, true, 0xFFF2F2F2);

  for (size_t i = 0; i < names.size(); ++i) {
    const std::string& name = names[i];
    Image img = repo.Picture(name);
    double x0 = kGap + double(i % kColumns) * (kThumb + kGap);
    double y0 = kTitle + double(i / kColumns) * (kThumb + kLabel + kGap);
    std::string label = name;
    if (name == "DefaultBrushes") label += " (= Brushes)";
    if (name == "FrameList/2") label += " (= Frame)";
    Text(c, label, x0, y0 + kThumb + 20, 15, true, 0xFFF2F2F2);
    if (!img) {
      Text(c, "missing", x0, y0 + kThumb + 40, 13, false, 0xFFFF8080);
      continue;
    }
    Text(c, std::to_string(img.width()) + " x " + std::to_string(img.height()), x0, y0 + kThumb + 40, 13, false,
         0xFFB8BEC8);
    double s = std::min(double(kThumb) / img.width(), double(kThumb) / img.height());
    double tw = img.width() * s, th = img.height() * s;
    RectF dst = RectF::MakeXYWH(x0 + (kThumb - tw) / 2, y0 + (kThumb - th) / 2, tw, th);
    Checkerboard(c, dst);
    c->DrawImageRect(img, RectF::MakeWH(img.width(), img.height()), dst,
                     s < 1 ? SamplingOptions::LinearMipNearest() : SamplingOptions::High());
  }
  return surface->MakeImageSnapshot();
}

}  // namespace lq
