#include "cli/contact_sheet.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>

#include "engine/gfx/surface.h"

namespace lq::cli {

namespace {

void DrawLabel(Canvas* c, const std::string& text, double x, double y, double width, int sizePt, bool bold) {
  c->DrawWithCairo([&](cairo_t* cr) {
    PangoLayout* layout = pango_cairo_create_layout(cr);
    PangoFontDescription* font = pango_font_description_from_string(bold ? "DejaVu Sans Bold" : "DejaVu Sans");
    pango_font_description_set_absolute_size(font, sizePt * PANGO_SCALE);
    pango_layout_set_font_description(layout, font);
    pango_layout_set_width(layout, int(width * PANGO_SCALE));
    pango_layout_set_alignment(layout, PANGO_ALIGN_CENTER);
    pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
    pango_layout_set_text(layout, text.c_str(), -1);
    cairo_set_source_rgb(cr, 0.15, 0.15, 0.18);
    cairo_move_to(cr, x, y);
    pango_cairo_show_layout(cr, layout);
    pango_font_description_free(font);
    g_object_unref(layout);
  });
}

}  // namespace

Image MakeContactSheet(const std::vector<SheetItem>& items, int columns, int cellWidth, const std::string& title) {
  if (items.empty() || columns <= 0) return {};
  const int pad = 16, labelH = 26, titleH = title.empty() ? 0 : 48;
  int thumbH = 0;
  for (const auto& it : items)
    if (it.image) thumbH = std::max(thumbH, int(std::lround(double(it.image.height()) * cellWidth / it.image.width())));
  const int rows = int((items.size() + size_t(columns) - 1) / size_t(columns));
  const int W = pad + columns * (cellWidth + pad);
  const int H = titleH + pad + rows * (thumbH + labelH + pad);
  auto surf = Surface::MakeRaster(W, H);
  if (!surf) return {};
  Canvas* c = surf->GetCanvas();
  c->Clear(0xFFF4F2EE);
  if (titleH) DrawLabel(c, title, pad, 12, W - 2 * pad, 22, true);
  for (size_t i = 0; i < items.size(); ++i) {
    int col = int(i % size_t(columns)), row = int(i / size_t(columns));
    double x = pad + col * (cellWidth + pad), y = titleH + pad + row * (thumbH + labelH + pad);
    const Image& img = items[i].image;
    if (img) {
      double h = double(img.height()) * cellWidth / img.width();
      // A white card under transparent results, so they read as pictures.
      Paint card(0xFFFFFFFF);
      c->DrawRect({x, y, x + cellWidth, y + h}, card);
      c->DrawImageRect(img, RectF::MakeXYWH(x, y, cellWidth, h), SamplingOptions::High());
    }
    DrawLabel(c, items[i].label, x, y + thumbH + 4, cellWidth, 14, false);
  }
  return surf->MakeImageSnapshot();
}

}  // namespace lq::cli
