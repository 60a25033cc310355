// Local viewing aid, not committed.
#include <gtest/gtest.h>
#include <chrono>
#include <ctime>
#include <cstdlib>
#include "tests/effects/synthetic_brushes.h"
#include "tests/support/harness.h"
using namespace lq;
using namespace lq::test;
TEST(Look, Render) {
  const char* spec = std::getenv("LOOK");
  if (!spec) GTEST_SKIP();
  // LOOK="302 coffee 10 70 30 30 100 [erase] [preview] [scale]"
  int n; char photo[64]; int p[5]; int erase = 1, preview = 0; double scale = 1;
  sscanf(spec, "%d %63s %d %d %d %d %d %d %d %lf", &n, photo, &p[0], &p[1], &p[2], &p[3], &p[4], &erase, &preview, &scale);
  HeadlessHost host;
  if (std::getenv("SYNTH")) InstallSyntheticAtlases(host.driver());
  Image img = LoadPhoto(photo);
  if (scale != 1) {
    int w = int(img.width() * scale), h = int(img.height() * scale);
    auto s = Surface::MakeRaster(w, h);
    s->GetCanvas()->DrawImageRect(img, RectF::MakeWH(w, h), SamplingOptions::High());
    img = s->MakeImageSnapshot();
  }
  if (const char* c = std::getenv("CROP")) {
    int cw = atoi(c);
    img = img.MakeSubset(IRect::MakeXYWH(img.width() / 2 - cw / 2, img.height() / 2 - cw / 2, cw, cw));
  }
  host.SetImage(img);
  host.driver().FEraseBdChecked = erase;
  std::clock_t c0 = std::clock();
  auto t0 = std::chrono::steady_clock::now();
  Image out = RunRoutine(n, img, {p[0], p[1], p[2], p[3], p[4]}, preview);
  double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  std::string name = std::string("/tmp/pa/") + std::to_string(n) + "_" + photo + "_" + std::to_string(p[0]) + "_" + std::to_string(p[1]) + "_" + std::to_string(p[2]) + "_" + std::to_string(p[3]) + "_" + std::to_string(p[4]) + (erase ? "_e" : "_ne") + (preview ? "_pv" : "") + ".png";
  WritePng(out, name);
  if (out.width() > 1200) {
    int w = 1000, h = out.height() * 1000 / out.width();
    auto s = Surface::MakeRaster(w, h);
    s->GetCanvas()->DrawImageRect(out, RectF::MakeWH(w, h), SamplingOptions::High());
    WritePng(s->MakeImageSnapshot(), name + ".small.png");
    auto c = Surface::MakeRaster(800, 600);
    c->GetCanvas()->DrawImage(out.MakeSubset(IRect::MakeXYWH(out.width() / 2 - 400, out.height() / 2 - 300, 800, 600)), 0, 0);
    WritePng(c->MakeImageSnapshot(), name + ".crop.png");
  }
  printf("%s %dx%d %.0f ms (cpu %.0f ms)\n", name.c_str(), img.width(), img.height(), ms, double(std::clock() - c0) * 1000.0 / CLOCKS_PER_SEC);
}
