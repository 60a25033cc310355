// Custom brushes from PNG files and ZIP archives, including archives that lie.
#include "resources/brush_loader.h"

#include <gtest/gtest.h>
#include <minizip/zip.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "document/codec.h"
#include "engine/gfx/surface.h"

namespace lq {
namespace {

namespace fs = std::filesystem;

Image SolidImage(int w, int h, TAlphaColor c) {
  auto s = Surface::MakeRaster(w, h);
  s->GetCanvas()->Clear(c);
  return s->MakeImageSnapshot();
}

std::vector<uint8_t> SolidPng(int w, int h, TAlphaColor c = 0xFFCC2010) { return EncodePng(SolidImage(w, h, c)); }

// Pixels that do not compress, for entries that must stay large.
std::vector<uint8_t> NoisyPng(int w, int h) {
  std::vector<uint32_t> px(size_t(w) * size_t(h));
  uint32_t s = 12345;
  for (uint32_t& p : px) {
    s = s * 1664525u + 1013904223u;
    p = 0xFF000000u | (s >> 8);
  }
  return EncodePng(Image::MakeFromPixels(w, h, std::move(px), true));
}

class BrushLoaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/lq_brushes_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path;
  }

  // One archive entry: stored as given, or written raw (already deflated)
  // with the size and checksum the entry claims.
  struct Entry {
    std::string name;
    std::vector<uint8_t> data;
    bool raw = false;
    uint64_t claimedSize = 0;
    uint32_t claimedCrc = 0;
  };

  std::string Zip(const std::string& name, const std::vector<Entry>& entries) {
    std::string path = (dir_ / name).string();
    zipFile z = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    EXPECT_NE(z, nullptr);
    for (const Entry& e : entries) {
      zip_fileinfo info{};
      EXPECT_EQ(zipOpenNewFileInZip2_64(z, e.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                        Z_DEFAULT_COMPRESSION, e.raw ? 1 : 0, 0),
                ZIP_OK);
      EXPECT_EQ(zipWriteInFileInZip(z, e.data.data(), unsigned(e.data.size())), ZIP_OK);
      if (e.raw)
        EXPECT_EQ(zipCloseFileInZipRaw64(z, e.claimedSize, e.claimedCrc), ZIP_OK);
      else
        EXPECT_EQ(zipCloseFileInZip(z), ZIP_OK);
    }
    EXPECT_EQ(zipClose(z, nullptr), ZIP_OK);
    return path;
  }

  fs::path dir_;
};

// Raw deflate stream of the bytes, as a ZIP entry stores it.
std::vector<uint8_t> Deflate(const std::vector<uint8_t>& in) {
  z_stream s{};
  EXPECT_EQ(deflateInit2(&s, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::vector<uint8_t> out(deflateBound(&s, uLong(in.size())));
  s.next_in = const_cast<Bytef*>(in.data());
  s.avail_in = uInt(in.size());
  s.next_out = out.data();
  s.avail_out = uInt(out.size());
  EXPECT_EQ(deflate(&s, Z_FINISH), Z_STREAM_END);
  out.resize(s.total_out);
  deflateEnd(&s);
  return out;
}

uint32_t Crc(const std::vector<uint8_t>& b) { return uint32_t(crc32(0, b.data(), uInt(b.size()))); }

int AlphaAt(const Image& img, int x, int y) { return int(GetA(img.PeekPixels().at(x, y))); }

bool CellEmpty(const Image& atlas, int k) {
  for (int y = 256 * (k / 8); y < 256 * (k / 8 + 1); ++y)
    for (int x = 256 * (k % 8); x < 256 * (k % 8 + 1); ++x)
      if (AlphaAt(atlas, x, y)) return false;
  return true;
}

TEST_F(BrushLoaderTest, NinePngsFillNineCellsOfTwoRows) {
  std::vector<std::string> files;
  for (int i = 0; i < 9; ++i) files.push_back(Write("b" + std::to_string(i) + ".png", SolidPng(40 + i, 30)));
  BrushLoadResult r = LoadBrushesToRepository(files);
  EXPECT_EQ(r.count, 9);
  EXPECT_TRUE(r.message.empty());
  ASSERT_TRUE(r.atlas);
  EXPECT_EQ(r.atlas.width(), 2048);
  EXPECT_EQ(r.atlas.height(), 512);
  for (int k = 0; k < 16; ++k) EXPECT_EQ(CellEmpty(r.atlas, k), k >= 9) << "cell " << k;
}

TEST_F(BrushLoaderTest, EachBrushIsFittedAndCentredInItsCell) {
  struct Case {
    int w, h;
    IRect painted;  // inside the cell
  };
  const Case kCases[] = {
      {512, 128, {0, 96, 256, 160}},  // reduced, centred vertically
      {100, 400, {96, 0, 160, 256}},  // reduced, centred horizontally
      {32, 32, {0, 0, 256, 256}},     // enlarged to the whole cell
      {256, 128, {0, 64, 256, 192}},  // wide at full width
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::to_string(c.w) + " x " + std::to_string(c.h));
    std::string f = Write("brush.png", SolidPng(c.w, c.h, 0xFF2080C0));
    BrushLoadResult r = LoadBrushesToRepository({f});
    ASSERT_EQ(r.count, 1);
    ASSERT_EQ(r.atlas.height(), 256);
    int wrong = 0;
    for (int y = 0; y < 256; ++y)
      for (int x = 0; x < 256; ++x) {
        bool inside = x >= c.painted.left && x < c.painted.right && y >= c.painted.top && y < c.painted.bottom;
        uint32_t p = r.atlas.PeekPixels().at(x, y);
        if (inside ? p != 0xFF2080C0u : p != 0) ++wrong;
      }
    EXPECT_EQ(wrong, 0);
    EXPECT_TRUE(CellEmpty(r.atlas, 1));
  }
}

TEST_F(BrushLoaderTest, ZipEntriesArePickedByExtensionInAnyCase) {
  std::string zip = Zip("set.zip", {{"A.PNG", SolidPng(20, 20, 0xFFFF0000)},
                                    {"b.png", SolidPng(30, 10, 0xFF00FF00)},
                                    {"c.txt", {'h', 'i'}},
                                    {"folder/", {}}});
  EXPECT_EQ(LoadBrushesToRepository({zip}).count, 2);

  // With a single file after it, in list order: the archive's entries first.
  std::string alone = Write("D.Png", SolidPng(8, 8, 0xFF0000FF));
  BrushLoadResult r = LoadBrushesToRepository({zip, alone, Write("notes.TXT", {'x'})});
  ASSERT_EQ(r.count, 3);
  EXPECT_EQ(r.atlas.height(), 256);
  ConstPixelView v = r.atlas.PeekPixels();
  EXPECT_EQ(v.at(128, 128), 0xFFFF0000u);
  EXPECT_EQ(v.at(256 + 128, 128), 0xFF00FF00u);
  EXPECT_EQ(v.at(512 + 128, 128), 0xFF0000FFu);
  EXPECT_TRUE(CellEmpty(r.atlas, 3));
}

TEST_F(BrushLoaderTest, NothingReadableLoadsNothing) {
  std::vector<uint8_t> garbage(300, 0x5A);
  std::vector<uint8_t> truncated = SolidPng(64, 64);
  truncated.resize(truncated.size() / 2);
  std::vector<std::string> files = {
      (dir_ / "missing.png").string(),
      Write("garbage.png", garbage),
      Write("half.png", truncated),
      Write("photo.png", {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0}),  // a JPEG
      Write("archive.zip", garbage),  // cannot be opened
      Write("readme.txt", {'r'}),
  };
  BrushLoadResult r = LoadBrushesToRepository(files);
  EXPECT_EQ(r.count, 0);
  EXPECT_FALSE(r.atlas);
  EXPECT_EQ(r.message, "Error loading custom brushes");
  EXPECT_EQ(r.skipped, 5);
  EXPECT_EQ(LoadBrushesToRepository({}).count, 0);
}

TEST_F(BrushLoaderTest, ArchiveThatCannotBeOpenedIsSkipped) {
  std::string bad = Write("broken.zip", std::vector<uint8_t>(1000, 0));
  std::string good = Write("good.png", SolidPng(10, 10));
  BrushLoadResult r = LoadBrushesToRepository({bad, good});
  EXPECT_EQ(r.count, 1);
  EXPECT_EQ(r.skipped, 1);
}

TEST_F(BrushLoaderTest, LyingOrCorruptEntriesAreSkipped) {
  std::vector<uint8_t> png = SolidPng(24, 24);
  std::vector<uint8_t> bigPng = NoisyPng(100, 100);  // honest, but over the limit below
  std::vector<uint8_t> corrupt = Deflate(png);
  for (size_t i = 10; i < corrupt.size(); i += 7) corrupt[i] ^= 0xA5;
  BrushLoadLimits limits;
  limits.maxFileBytes = 4000;
  ASSERT_GT(bigPng.size(), limits.maxFileBytes);
  ASSERT_LT(png.size(), limits.maxFileBytes);

  std::string zip =
      Zip("tricky.zip", {
                            {"huge.png", Deflate(png), true, 3000000000ull, Crc(png)},      // claims 3 GB
                            {"short.png", Deflate(png), true, png.size() / 2, Crc(png)},    // claims half its data
                            {"long.png", Deflate(png), true, png.size() + 100, Crc(png)},   // claims more than it holds
                            {"garbled.png", corrupt, true, png.size(), Crc(png)},           // deflate stream damaged
                            {"badcrc.png", Deflate(png), true, png.size(), Crc(png) ^ 1u},  // checksum mismatch
                            {"big.png", bigPng},                                            // over the read limit
                            {"fine.png", png},
                        });
  BrushLoadResult r = LoadBrushesToRepository({zip}, limits);
  EXPECT_EQ(r.count, 1);
  EXPECT_EQ(r.skipped, 6);
}

TEST_F(BrushLoaderTest, LimitsCapSizeDimensionsAndCount) {
  BrushLoadLimits limits;
  limits.maxDimension = 100;
  limits.maxPixels = 5000;
  limits.maxBrushes = 3;
  limits.maxFileBytes = 1 << 20;
  std::vector<std::string> files = {
      Write("wide.png", SolidPng(101, 10)),  // wider than allowed
      Write("many.png", SolidPng(80, 80)),   // more pixels than allowed
      Write("ok1.png", SolidPng(50, 50)),   Write("ok2.png", SolidPng(100, 50)),
      Write("ok3.png", SolidPng(10, 90)),   Write("ok4.png", SolidPng(20, 20)),  // one too many
  };
  BrushLoadResult r = LoadBrushesToRepository(files, limits);
  EXPECT_EQ(r.count, 3);
  EXPECT_EQ(r.skipped, 2);
  EXPECT_EQ(r.atlas.height(), 256);

  limits = BrushLoadLimits();
  limits.maxFileBytes = 100;
  EXPECT_EQ(LoadBrushesToRepository({Write("file.png", SolidPng(200, 200, 0x80102030))}, limits).count, 0);
}

}  // namespace
}  // namespace lq
