// Checks shared by the tests of the template-atlas painting effects.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/support/harness.h"

namespace lq::test {

// Sum of absolute differences of neighbouring pixels' green bytes: how busy a
// picture is. Painting flattens detail, so a painting has less of it.
inline int64_t Busyness(const Image& img) {
  ConstPixelView v = img.PeekPixels();
  int64_t sum = 0;
  for (int y = 0; y + 1 < v.height; ++y)
    for (int x = 0; x + 1 < v.width; ++x) {
      int g = int(GetG(v.at(x, y)));
      sum += std::abs(g - int(GetG(v.at(x + 1, y)))) + std::abs(g - int(GetG(v.at(x, y + 1))));
    }
  return sum;
}

// Mean absolute difference of the green bytes of two pictures of one size.
inline double MeanGreenDiff(const Image& a, const Image& b) {
  ConstPixelView va = a.PeekPixels(), vb = b.PeekPixels();
  int64_t sum = 0;
  for (int y = 0; y < va.height; ++y)
    for (int x = 0; x < va.width; ++x) sum += std::abs(int(GetG(va.at(x, y))) - int(GetG(vb.at(x, y))));
  return double(sum) / (double(va.width) * va.height);
}

// Starts a preview of `effect` over the whole of `photo`, waits until it has
// shown a picture of its own, makes it stale, and lets it end. Returns how
// many preview pictures were shown after it went stale (-1 when the preview
// had already ended before it could be made stale).
inline int PreviewDrawsAfterGoingStale(HeadlessHost& host, int effect, const Image& photo, std::array<int, 5> p) {
  host.SetImage(photo);
  host.panelWidth = photo.width();
  host.panelHeight = photo.height();
  host.driver().FPreviewZoomFactor = 1.0f;
  host.driver().PreviewStartX = 0;
  host.driver().PreviewStartY = 0;
  const int before = host.previewDraws;
  host.driver().ProcessEffect(effect, p[0], p[1], p[2], p[3], p[4], true);
  host.loop().RunUntil([&] { return host.previewDraws > before || host.driver().ActiveWorkers() == 0; }, 60000);
  if (host.driver().ActiveWorkers() == 0) return -1;
  host.driver().InvalidatePreviews();
  const int shown = host.previewDraws;
  host.driver().WaitForWorkers(60000);
  host.loop().ProcessPending();
  return host.previewDraws - shown;
}

}  // namespace lq::test
