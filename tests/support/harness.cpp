#include "tests/support/harness.h"

#include <chrono>
#include <cmath>
#include <fstream>
#include <iterator>

#include "document/codec.h"

namespace lq::test {

std::string SourcePath(const std::string& relative) { return std::string(LQ_SOURCE_DIR) + "/" + relative; }

Image LoadPhoto(const std::string& name) {
  std::ifstream f(SourcePath("resources/photos/" + name + ".png"), std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  return DecodeImage(bytes);
}

Image Solid(int w, int h, TAlphaColor c) {
  return Image::MakeFromPixels(w, h, std::vector<uint32_t>(size_t(w) * size_t(h), Premultiply(c)),
                               (c >> 24) == 255);
}

Image TestPattern(int w, int h) {
  std::vector<uint32_t> px(size_t(w) * size_t(h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int r = w > 1 ? x * 255 / (w - 1) : 128;
      int g = h > 1 ? y * 255 / (h - 1) : 128;
      int b = ((x / 16 + y / 16) % 2) ? 200 : 40;
      if (std::abs(x - w / 2) < w / 8 && std::abs(y - h / 2) < h / 8) r = g = b = 20;
      px[size_t(y) * w + x] = MakeColor(255, r, g, b);
    }
  return Image::MakeFromPixels(w, h, std::move(px), true);
}

bool WritePng(const Image& img, const std::string& path) {
  std::vector<uint8_t> bytes = EncodePng(img);
  if (bytes.empty()) return false;
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return bool(f);
}

Image RunRoutine(int number, const Image& src, std::array<int, 5> p, bool preview) {
  TEffectProc proc = FindEffectProc(number);
  if (!proc || !src) return {};
  auto dest = Surface::MakeRaster(src.width(), src.height());
  if (!dest) return {};
  auto ctx = std::make_shared<RunContext>();
  ctx->kind = preview ? RunKind::Preview : RunKind::Synchronous;
  ctx->effectNumber = number;
  ctx->generation = Driver().FPreviewGeneration.load();
  RunScope scope(ctx);
  if (number == 302 || number == 303 || number == 304 || number == 307) Driver().ChooseBrushAtlas(number, *ctx);
  proc(src, *dest, p[0], p[1], p[2], p[3], p[4], preview);
  return dest->MakeImageSnapshot();
}

Image RunSync(HeadlessHost& host, int number, const Image& src, std::array<int, 5> p) {
  auto dest = Surface::MakeRaster(src.width(), src.height());
  if (!dest) return {};
  host.driver().ProcessEffectOnSurface(src, *dest, number, p[0], p[1], p[2], p[3], p[4]);
  return dest->MakeImageSnapshot();
}

CancelResult CancelAfterFirstProgress(HeadlessHost& host, int number, const Image& src, std::array<int, 5> p,
                                      int timeoutMs) {
  CancelResult r;
  host.SetImage(src);
  int ended = host.fullRunsEnded;
  std::chrono::steady_clock::time_point cancelAt;
  auto saved = host.onProgress;
  host.onProgress = [&](int v) {
    if (!r.sawProgress && v >= 0 && v <= 100) {
      r.sawProgress = true;
      host.driver().Cancel = true;
      cancelAt = std::chrono::steady_clock::now();
    }
  };
  host.driver().ProcessEffect(number, p[0], p[1], p[2], p[3], p[4], false);
  host.loop().RunUntil([&] { return host.fullRunsEnded != ended; }, timeoutMs);
  auto end = std::chrono::steady_clock::now();
  host.onProgress = saved;
  r.outcome = host.lastOutcome;
  if (r.sawProgress) r.msFromCancelToEnd = std::chrono::duration<double, std::milli>(end - cancelAt).count();
  host.driver().Cancel = false;
  return r;
}

int MaxChannelDiff(const Image& a, const Image& b) {
  if (!a || !b || a.width() != b.width() || a.height() != b.height()) return -1;
  ConstPixelView va = a.PeekPixels(), vb = b.PeekPixels();
  int worst = 0;
  for (int y = 0; y < va.height; ++y)
    for (int x = 0; x < va.width; ++x) {
      uint32_t pa = va.at(x, y), pb = vb.at(x, y);
      for (int s = 0; s < 32; s += 8) worst = std::max(worst, std::abs(int((pa >> s) & 255) - int((pb >> s) & 255)));
    }
  return worst;
}

bool AllPremultipliedValid(const Image& img) {
  ConstPixelView v = img.PeekPixels();
  for (int y = 0; y < v.height; ++y)
    for (int x = 0; x < v.width; ++x)
      if (!IsValidPremul(v.at(x, y))) return false;
  return true;
}

}  // namespace lq::test
