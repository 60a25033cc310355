// The program logo: the name over a painted brush swoosh, on transparency, so
// that it reads on the light and the dark parts of the interface.
#include <cairo.h>

#include <cmath>

#include "engine/gfx/surface.h"
#include "tools/asset_gen/gen_pictures.h"
#include "tools/asset_gen/gen_stroke.h"

namespace lq::gen {

namespace {

Raster MakeLogo() {
  const int W = 880, H = 200;
  auto surface = Surface::MakeRaster(W, H);
  PixelView px = surface->PeekPixels();

  // A teal brush swoosh under the name, painted with the bristle model.
  StrokeShape st;
  st.cx = 450;
  st.cy = 132;
  st.angle = -0.035f;
  st.length = 800;
  st.halfWidth = 34;
  st.curvature = 1.0f / 3000;
  st.taperStart = 0.05f;
  st.taperEnd = 0.3f;
  st.taperPower = 0.7f;
  st.widthSlope = -0.3f;
  BristleStyle b;
  b.bristles = 70;
  b.streak = 0.3f;
  b.clump = 0.2f;
  b.dryStart = 0.6f;
  b.dryAmount = 0.9f;
  b.endRagged = 0.12f;
  b.seed = 0xE100;
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W; ++x) {
      float a = 0.9f * BristleAlpha(st, b, float(x) + 0.5f, float(y) + 0.5f);
      if (a <= 0) continue;
      float t = float(x) / float(W);
      uint32_t r = uint32_t(Lerp(20, 60, t)), g = uint32_t(Lerp(150, 110, t)), bl = uint32_t(Lerp(160, 190, t));
      px.at(x, y) = Premultiply(MakeColor(uint32_t(a * 255 + 0.5f), r, g, bl));
    }
  }

  surface->GetCanvas()->DrawWithCairo([&](cairo_t* cr) {
    cairo_select_font_face(cr, "Liberation Serif", CAIRO_FONT_SLANT_ITALIC, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr, 150);
    cairo_text_extents_t ext;
    cairo_text_extents(cr, "Lumaquill", &ext);
    double x = (W - ext.width) / 2 - ext.x_bearing;
    double y = 138;
    // Soft shadow first, then the warm gradient letters with a dark edge.
    cairo_move_to(cr, x + 4, y + 5);
    cairo_text_path(cr, "Lumaquill");
    cairo_set_source_rgba(cr, 0.08, 0.05, 0.04, 0.35);
    cairo_fill(cr);
    cairo_move_to(cr, x, y);
    cairo_text_path(cr, "Lumaquill");
    cairo_pattern_t* grad = cairo_pattern_create_linear(0, y - 110, 0, y + 10);
    cairo_pattern_add_color_stop_rgb(grad, 0.0, 1.0, 0.82, 0.42);
    cairo_pattern_add_color_stop_rgb(grad, 0.55, 0.98, 0.55, 0.24);
    cairo_pattern_add_color_stop_rgb(grad, 1.0, 0.86, 0.26, 0.30);
    cairo_set_source(cr, grad);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(grad);
    cairo_set_line_width(cr, 3);
    cairo_set_source_rgba(cr, 0.22, 0.09, 0.06, 0.85);
    cairo_stroke(cr);
  });
  return RasterFromImage(surface->MakeImageSnapshot());
}

}  // namespace

void AddLogoPictures(std::vector<PictureDef>& out) { out.push_back({"Logo", 880, 200, MakeLogo}); }

}  // namespace lq::gen
