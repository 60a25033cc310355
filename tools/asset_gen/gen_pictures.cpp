#include "tools/asset_gen/gen_pictures.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace lq::gen {

std::string FileStem(const std::string& name) {
  std::string s = name;
  std::replace(s.begin(), s.end(), '/', '_');
  return s;
}

std::vector<PictureDef> AllPictures() {
  std::vector<PictureDef> out;
  AddBrushPictures(out);
  AddTexturePictures(out);
  AddFramePictures(out);
  AddLogoPictures(out);
  return out;
}

namespace {
int AlphaAt(const Raster& r, int x, int y) {
  const uint8_t* p = r.at(x, y);
  switch (r.channels) {
    case 2:
      return p[1];
    case 4:
      return p[3];
    default:
      return 255;
  }
}
}  // namespace

bool CellEmpty(const Raster& atlas, int k) {
  int x0 = 256 * (k % 8), y0 = 256 * (k / 8);
  for (int y = y0; y < y0 + 256; ++y)
    for (int x = x0; x < x0 + 256; ++x)
      if (AlphaAt(atlas, x, y) != 0) return false;
  return true;
}

bool CellPassesProbe(const Raster& atlas, int k) {
  int x0 = 256 * (k % 8), y0 = 256 * (k / 8);
  for (int row : {64, 96, 128, 160, 192})
    if (AlphaAt(atlas, x0 + 128, y0 + row) > 10) return true;
  return false;
}

namespace {
// One-dimensional squared distance transform (Felzenszwalb and Huttenlocher).
void Edt1(const float* f, float* d, int n, std::vector<int>& v, std::vector<float>& z) {
  const float inf = std::numeric_limits<float>::infinity();
  int k = 0;
  v[0] = 0;
  z[0] = -inf;
  z[1] = inf;
  for (int q = 1; q < n; ++q) {
    float s;
    for (;;) {
      int p = v[size_t(k)];
      s = ((f[q] + float(q) * float(q)) - (f[p] + float(p) * float(p))) / float(2 * q - 2 * p);
      if (s > z[size_t(k)] || k == 0) break;
      --k;
    }
    if (s <= z[size_t(k)]) {
      v[0] = q;
      z[0] = -inf;
      z[1] = inf;
      k = 0;
      continue;
    }
    ++k;
    v[size_t(k)] = q;
    z[size_t(k)] = s;
    z[size_t(k) + 1] = inf;
  }
  k = 0;
  for (int q = 0; q < n; ++q) {
    while (z[size_t(k) + 1] < float(q)) ++k;
    int p = v[size_t(k)];
    d[q] = float(q - p) * float(q - p) + f[p];
  }
}
}  // namespace

Field DistanceInside(const Field& mask) {
  const float big = 1e12f;
  int w = mask.w, h = mask.h;
  Field out(w, h);
  for (size_t i = 0; i < out.v.size(); ++i) out.v[i] = mask.v[i] > 0.5f ? big : 0.0f;
  int n = std::max(w, h);
  std::vector<float> f(size_t(n) + 2), d(size_t(n) + 2), z(size_t(n) + 2);
  std::vector<int> v(size_t(n) + 2);
  for (int x = 0; x < w; ++x) {
    for (int y = 0; y < h; ++y) f[size_t(y)] = out.at(x, y);
    Edt1(f.data(), d.data(), h, v, z);
    for (int y = 0; y < h; ++y) out.at(x, y) = d[size_t(y)];
  }
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) f[size_t(x)] = out.at(x, y);
    Edt1(f.data(), d.data(), w, v, z);
    for (int x = 0; x < w; ++x) out.at(x, y) = std::sqrt(d[size_t(x)]);
  }
  return out;
}

}  // namespace lq::gen
