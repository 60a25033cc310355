// The embedded pictures: names, sizes, atlas layouts, frames, textures, and
// how the driver reaches them.
#include "resources/repository.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <thread>

#include "engine/headless_host.h"
#include "engine/random.h"

namespace lq {
namespace {

int Alpha(const Image& img, int x, int y) { return int(GetA(img.PeekPixels().at(x, y))); }

struct Sized {
  const char* name;
  int w, h;
};

TEST(Repository, EveryPictureHasItsStatedSize) {
  const Sized kSizes[] = {
      {"Brushes", 2048, 1536},
      {"DefaultBrushes", 2048, 1536},
      {"PastelBrushes", 2048, 512},
      {"WatercolorBrushes", 2048, 768},
      {"TemplateMatchingBrushes", 1250, 2000},
      {"PaintBrushSim", 80, 80},
      {"PaintBrushSim2", 54, 56},
      {"PaintBrushSim3", 38, 39},
      {"PencilTexture", 512, 166},
      {"OldFilmTexture", 2904, 2064},
      {"WatercolorTexture", 1024, 1024},
      {"VCLwatercolortexture", 1024, 768},
      {"TextureList/Canvas", 1024, 1024},
      {"TextureList/Paper", 1024, 1024},
      {"TextureList/Impasto", 1024, 1024},
      {"TextureList/watercolor", 1024, 1024},
      {"TextureList/cardboard", 1024, 1024},
      {"TextureList/fabric", 1024, 1024},
      {"FrameList/1", 2225, 2196},
      {"FrameList/2", 2244, 2424},
      {"FrameList/3", 1122, 1212},
      {"FrameList/4", 816, 1456},
      {"FrameList/5", 2260, 3000},
      {"FrameList/6", 1100, 1100},
      {"FrameList/7", 2024, 2416},
      {"Frame", 2244, 2424},
      {"DefaultImage", 600, 400},
  };
  const ResourceRepository& repo = Repository();
  for (const Sized& s : kSizes) {
    SCOPED_TRACE(s.name);
    Image img = repo.Picture(s.name);
    ASSERT_TRUE(img);
    EXPECT_EQ(img.width(), s.w);
    EXPECT_EQ(img.height(), s.h);
    EXPECT_EQ(repo.PictureSize(s.name), std::make_pair(s.w, s.h));
  }
  // Every listed name answers, and the listing covers the table above.
  std::vector<std::string> names = repo.PictureNames();
  for (const Sized& s : kSizes) EXPECT_NE(std::find(names.begin(), names.end(), s.name), names.end()) << s.name;
  for (const std::string& n : names) EXPECT_TRUE(repo.Picture(n)) << n;
  EXPECT_NE(std::find(names.begin(), names.end(), "Logo"), names.end());
}

TEST(Repository, UnknownNamesGiveNothing) {
  const ResourceRepository& repo = Repository();
  for (const char* name : {"", "brushes", "Canvas", "TextureList/", "TextureList/Nope", "FrameList/0", "FrameList/8",
                           "DefaultBrushes.png"}) {
    EXPECT_FALSE(repo.Picture(name)) << name;
    EXPECT_TRUE(repo.EncodedPicture(name).empty()) << name;
    EXPECT_EQ(repo.PictureSize(name), std::make_pair(0, 0)) << name;
  }
}

TEST(Repository, AliasesShareTheirPicture) {
  const ResourceRepository& repo = Repository();
  EXPECT_EQ(repo.Picture("Brushes"), repo.Picture("DefaultBrushes"));
  EXPECT_EQ(repo.Picture("Frame"), repo.Picture("FrameList/2"));
}

TEST(Repository, DecodesOnceForAllThreads) {
  const ResourceRepository& repo = Repository();
  std::vector<uint32_t> ids(8);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < ids.size(); ++i)
    threads.emplace_back([&, i] { ids[i] = repo.Picture("VCLwatercolortexture").uniqueID(); });
  for (auto& t : threads) t.join();
  EXPECT_NE(ids[0], 0u);
  for (uint32_t id : ids) EXPECT_EQ(id, ids[0]);
}

// --- Grid atlases ----------------------------------------------------------

bool CellEmpty(const Image& atlas, int k) {
  int x0 = 256 * (k % 8), y0 = 256 * (k / 8);
  for (int y = y0; y < y0 + 256; ++y)
    for (int x = x0; x < x0 + 256; ++x)
      if (Alpha(atlas, x, y) != 0) return false;
  return true;
}

// The painting effects keep a cell when its centre column crosses paint at
// one of five rows.
bool CellPassesProbe(const Image& atlas, int k) {
  int x0 = 256 * (k % 8), y0 = 256 * (k / 8);
  for (int row : {64, 96, 128, 160, 192})
    if (Alpha(atlas, x0 + 128, y0 + row) > 10) return true;
  return false;
}

struct AtlasFacts {
  const char* name;
  int used;                    // cells 0 .. used-1 hold a brush, the rest are empty
  std::set<int> failingProbe;  // cells the centre-column probe rejects
  int kept;                    // cells the probe keeps
};

TEST(Repository, GridAtlasesHaveTheirCellLayout) {
  const AtlasFacts kFacts[] = {
      {"DefaultBrushes", 40, {40, 41, 42, 43, 44, 45, 46, 47}, 40},
      {"PastelBrushes", 13, {9, 12, 13, 14, 15}, 11},
      {"WatercolorBrushes", 21, {3, 21, 22, 23}, 20},
  };
  for (const AtlasFacts& f : kFacts) {
    SCOPED_TRACE(f.name);
    Image atlas = Repository().Picture(f.name);
    ASSERT_TRUE(atlas);
    ASSERT_EQ(atlas.width(), 2048);
    ASSERT_EQ(atlas.height() % 256, 0);
    int cells = atlas.height() / 256 * 8;
    int kept = 0;
    for (int k = 0; k < cells; ++k) {
      EXPECT_EQ(CellEmpty(atlas, k), k >= f.used) << "cell " << k;
      bool passes = CellPassesProbe(atlas, k);
      EXPECT_EQ(passes, f.failingProbe.count(k) == 0) << "cell " << k;
      kept += passes;
    }
    EXPECT_EQ(kept, f.kept);
    // Shape in alpha, colour black: premultiplied colour is zero everywhere.
    ConstPixelView v = atlas.PeekPixels();
    bool black = true;
    for (int y = 0; y < v.height && black; ++y)
      for (int x = 0; x < v.width; ++x)
        if ((v.at(x, y) & 0x00FFFFFFu) != 0) {
          black = false;
          break;
        }
    EXPECT_TRUE(black);
  }
}

TEST(Repository, TemplateAtlasHoldsDarkStrokesOnWhite) {
  Image t = Repository().Picture("TemplateMatchingBrushes");
  ASSERT_TRUE(t);
  ConstPixelView v = t.PeekPixels();
  for (int k = 0; k < 40; ++k) {
    SCOPED_TRACE(k);
    int x0 = 250 * (k % 5), y0 = 250 * (k / 5);
    int dark = 0, minGrey = 255;
    bool opaqueGrey = true, whiteRim = true;
    for (int y = y0; y < y0 + 250; ++y) {
      for (int x = x0; x < x0 + 250; ++x) {
        uint32_t p = v.at(x, y);
        int g = int(GetG(p));
        opaqueGrey = opaqueGrey && GetA(p) == 255 && GetR(p) == GetG(p) && GetB(p) == GetG(p);
        minGrey = std::min(minGrey, g);
        dark += g < 128;
        bool rim = x == x0 || y == y0 || x == x0 + 249 || y == y0 + 249;
        if (rim && g != 255) whiteRim = false;
      }
    }
    EXPECT_TRUE(opaqueGrey);
    EXPECT_TRUE(whiteRim);  // no stroke runs into a neighbouring cell
    if (k <= 37) {
      EXPECT_LT(minGrey, 48);  // strokes reach near black
      EXPECT_GT(dark, 1500);   // and are long and broad enough to paint with
    } else {
      EXPECT_EQ(minGrey, 255);  // blank
    }
  }
}

TEST(Repository, SingleBrushesAreBlackMasksInsideTheirBox) {
  for (const char* name : {"PaintBrushSim", "PaintBrushSim2", "PaintBrushSim3"}) {
    SCOPED_TRACE(name);
    Image b = Repository().Picture(name);
    ASSERT_TRUE(b);
    ConstPixelView v = b.PeekPixels();
    int painted = 0;
    for (int y = 0; y < v.height; ++y)
      for (int x = 0; x < v.width; ++x) {
        EXPECT_EQ(v.at(x, y) & 0x00FFFFFFu, 0u);
        painted += GetA(v.at(x, y)) > 20;
      }
    EXPECT_GT(painted, v.width * v.height / 3);
    EXPECT_EQ(Alpha(b, 0, 0), 0);
    EXPECT_EQ(Alpha(b, v.width - 1, v.height - 1), 0);
    EXPECT_GT(Alpha(b, v.width / 2, v.height / 2), 0);
  }
}

// --- Frames ----------------------------------------------------------------

// The hole search of the frame composition: first pixel with alpha above 250
// from the centre outwards along the centre row and column.
IRect FindHole(const Image& f) {
  int w = f.width(), h = f.height(), cx = w / 2, cy = h / 2;
  IRect r{0, 0, w, h};
  for (int x = cx; x >= 0; --x)
    if (Alpha(f, x, cy) > 250) {
      r.left = x + 1;
      break;
    }
  for (int x = cx; x < w; ++x)
    if (Alpha(f, x, cy) > 250) {
      r.right = x;
      break;
    }
  for (int y = cy; y >= 0; --y)
    if (Alpha(f, cx, y) > 250) {
      r.top = y + 1;
      break;
    }
  for (int y = cy; y < h; ++y)
    if (Alpha(f, cx, y) > 250) {
      r.bottom = y;
      break;
    }
  return r;
}

TEST(Repository, FramesHaveBordersAllRoundAndAClearWindow) {
  const std::vector<NamedImage>& frames = Repository().FrameList();
  ASSERT_EQ(frames.size(), 7u);
  for (size_t i = 0; i < frames.size(); ++i) {
    SCOPED_TRACE(frames[i].name);
    EXPECT_EQ(frames[i].name, std::to_string(i + 1));
    const Image& f = frames[i].image;
    ASSERT_TRUE(f);
    IRect hole = FindHole(f);
    int w = f.width(), h = f.height();
    EXPECT_GT(hole.left, 0);
    EXPECT_GT(hole.top, 0);
    EXPECT_LT(hole.right, w);
    EXPECT_LT(hole.bottom, h);
    // Borders a frame can be seen by, yet a window that dominates.
    EXPECT_GE(std::min({hole.left, hole.top, w - hole.right, h - hole.bottom}), 20);
    EXPECT_GT(hole.width(), w / 2);
    EXPECT_GT(hole.height(), h / 2);
    // The window is fully transparent, the border fully opaque.
    ConstPixelView v = f.PeekPixels();
    int holeOpaque = 0, borderSeeThrough = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        bool inHole = x >= hole.left && x < hole.right && y >= hole.top && y < hole.bottom;
        uint32_t a = GetA(v.at(x, y));
        if (inHole && a != 0) ++holeOpaque;
        if (!inHole && a != 255) ++borderSeeThrough;
      }
    EXPECT_EQ(holeOpaque, 0);
    EXPECT_EQ(borderSeeThrough, 0);
  }
  EXPECT_EQ(Repository().Picture("Frame"), frames[1].image);
}

// --- Textures --------------------------------------------------------------

// Mean absolute grey step between neighbours inside the picture and across
// its wrap-around seam: a tileable texture shows no stronger step at the seam.
void SeamSteps(const Image& img, double* inside, double* seam) {
  ConstPixelView v = img.PeekPixels();
  auto grey = [&](int x, int y) { return int(GetG(v.at(x, y))); };
  double in = 0, across = 0;
  int w = v.width, h = v.height;
  for (int y = 0; y < h; ++y) {
    in += std::abs(grey(w / 2, y) - grey(w / 2 + 1, y));
    across += std::abs(grey(w - 1, y) - grey(0, y));
  }
  for (int x = 0; x < w; ++x) {
    in += std::abs(grey(x, h / 2) - grey(x, h / 2 + 1));
    across += std::abs(grey(x, h - 1) - grey(x, 0));
  }
  *inside = in / (w + h);
  *seam = across / (w + h);
}

TEST(Repository, TexturesAreOpaqueAndTileSeamlessly) {
  const std::vector<NamedImage>& list = Repository().TextureList();
  const std::vector<std::string> kNames = {"Canvas", "Paper", "Impasto", "watercolor", "cardboard", "fabric"};
  ASSERT_EQ(list.size(), kNames.size());
  for (size_t i = 0; i < list.size(); ++i) {
    SCOPED_TRACE(kNames[i]);
    EXPECT_EQ(list[i].name, kNames[i]);
    const Image& t = list[i].image;
    ASSERT_TRUE(t);
    EXPECT_FALSE(HasAnyTranslucentPixel(t.PeekPixels()));
    double inside = 0, seam = 0;
    SeamSteps(t, &inside, &seam);
    EXPECT_GT(inside, 0.5);  // there is a texture at all
    EXPECT_LT(seam, inside * 1.5 + 1);
  }
  for (const char* name : {"WatercolorTexture", "VCLwatercolortexture", "OldFilmTexture"}) {
    SCOPED_TRACE(name);
    double inside = 0, seam = 0;
    SeamSteps(Repository().Picture(name), &inside, &seam);
    EXPECT_LT(seam, inside * 1.5 + 1);
  }
}

TEST(Repository, PencilScanDarkensTowardsItsLeftEdge) {
  // The pencil effect reads texture column 2 x luminance: dark tones must
  // meet dense hatching, light tones nearly bare paper.
  Image p = Repository().Picture("PencilTexture");
  ASSERT_TRUE(p);
  ConstPixelView v = p.PeekPixels();
  auto columnMean = [&](int x0, int x1) {
    double s = 0;
    for (int y = 0; y < v.height; ++y)
      for (int x = x0; x < x1; ++x) s += GetG(v.at(x, y));
    return s / (v.height * (x1 - x0));
  };
  double prev = -1;
  for (int band = 0; band < 8; ++band) {
    double m = columnMean(band * 64, band * 64 + 64);
    EXPECT_GT(m, prev) << "band " << band;
    prev = m;
  }
  EXPECT_LT(columnMean(0, 32), 90);
  EXPECT_GT(columnMean(480, 512), 200);
}

TEST(Repository, WatercolorPaperTableHoldsTheGreyOfEachPixel) {
  const ResourceRepository& repo = Repository();
  const T2DIntArray& t = repo.WatercolorTexturePixels();
  Image paper = repo.Picture("WatercolorTexture");
  ASSERT_EQ(t.size(), size_t(paper.height()));
  ASSERT_EQ(t[0].size(), size_t(paper.width()));
  for (auto [x, y] : {std::pair{0, 0}, {1023, 0}, {0, 1023}, {517, 311}, {1023, 1023}}) {
    uint32_t c = paper.PeekPixels().at(x, y);
    EXPECT_EQ(t[size_t(y)][size_t(x)], int(Round(0.299 * GetR(c) + 0.587 * GetG(c) + 0.114 * GetB(c))));
  }
  EXPECT_EQ(&repo.WatercolorTexturePixels(), &t);
}

// --- The driver --------------------------------------------------------------

TEST(Repository, DriverPaintsWithTheEmbeddedAtlases) {
  HeadlessHost host;
  EffectDriver& d = host.driver();
  EXPECT_EQ(d.Brushes, Repository().Picture("DefaultBrushes"));
  ASSERT_TRUE(d.BuiltinImage);
  EXPECT_EQ(d.BuiltinImage("PencilTexture"), Repository().Picture("PencilTexture"));
  RunContext ctx;
  d.ChooseBrushAtlas(302, ctx);
  EXPECT_EQ(ctx.brushes, Repository().Picture("PastelBrushes"));
  d.ChooseBrushAtlas(303, ctx);
  EXPECT_EQ(ctx.brushes, Repository().Picture("WatercolorBrushes"));
  d.ChooseBrushAtlas(304, ctx);
  EXPECT_EQ(ctx.brushes, Repository().Picture("DefaultBrushes"));
  EXPECT_EQ(ctx.brushCount, 40);
}

}  // namespace
}  // namespace lq
