// Image files: every format read back from fixtures made here with the format
// libraries, orientation, broken input, the 300 dpi tags and safe saving.
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <vector>

// clang-format off
#include <jpeglib.h>
// clang-format on
#include <gif_lib.h>
#include <png.h>
#include <tiffio.h>
#include <webp/encode.h>

#include <gtest/gtest.h>

#include "document/codec.h"
#include "document/imagefile.h"
#include "tests/support/harness.h"

namespace lq {
namespace {

using Bytes = std::vector<uint8_t>;

// ---------------------------------------------------------------------------
// Pictures in straight (unpremultiplied) 0xAARRGGBB, the fixtures' common input

struct Picture {
  int w = 0, h = 0;
  std::vector<uint32_t> argb;
  uint32_t at(int x, int y) const { return argb[size_t(y) * size_t(w) + size_t(x)]; }
};

Picture Make(int w, int h, const std::function<uint32_t(int, int)>& f) {
  Picture p{w, h, std::vector<uint32_t>(size_t(w) * size_t(h))};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) p.argb[size_t(y) * size_t(w) + size_t(x)] = f(x, y);
  return p;
}

// Smooth colours whose red and blue run opposite ways: a swapped channel shows at once.
Picture Ramp(int w = 24, int h = 16) {
  return Make(w, h, [&](int x, int y) {
    return MakeColor(255, 40 + x * 160 / (w - 1), 60 + y * 150 / (h - 1), 200 - (x + y) * 100 / (w + h - 2));
  });
}

Picture GreyRamp(int w = 24, int h = 16) {
  return Make(w, h, [&](int x, int y) {
    uint32_t v = uint32_t(20 + (x + y) * 210 / (w + h - 2));
    return MakeColor(255, v, v, v);
  });
}

// Ramp colours with alpha falling from opaque to fully transparent across the width.
Picture Translucent(int w = 24, int h = 16) {
  Picture p = Ramp(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint32_t& c = p.argb[size_t(y) * size_t(w) + size_t(x)];
      c = (c & 0xFFFFFFu) | uint32_t(255 - x * 255 / (w - 1)) << 24;
    }
  return p;
}

// Four flat quadrants: red, green / blue, white.
Picture Quadrants(int w = 64, int h = 32) {
  return Make(w, h, [&](int x, int y) -> uint32_t {
    bool right = x >= w / 2, bottom = y >= h / 2;
    if (!bottom) return right ? 0xFF00FF00u : 0xFFFF0000u;
    return right ? 0xFFFFFFFFu : 0xFF0000FFu;
  });
}

// Flat 8 x 8 blocks of inks that need black too (dark teal, grey), for CMYK.
Picture InkBlocks() {
  static const uint32_t kInks[4] = {0xFFFF0000u, 0xFF006464u, 0xFF808080u, 0xFFFFA000u};
  return Make(16, 16, [](int x, int y) { return kInks[(y / 8) * 2 + x / 8]; });
}

// Indexed colours for palette formats: small blocks of four entries.
struct Indexed {
  int w = 0, h = 0;
  std::vector<uint8_t> idx;
  std::vector<uint32_t> colours;  // straight ARGB per entry
  Picture picture() const {
    return Make(w, h, [&](int x, int y) { return colours[idx[size_t(y) * size_t(w) + size_t(x)]]; });
  }
};

Indexed Blocks(std::vector<uint32_t> colours, int w = 12, int h = 10) {
  Indexed p{w, h, std::vector<uint8_t>(size_t(w) * size_t(h)), std::move(colours)};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) p.idx[size_t(y) * size_t(w) + size_t(x)] = uint8_t((x / 2 + y / 3) % 4);
  return p;
}

Image Expected(const Picture& p) {
  return Image::MakeRasterCopy(ImageInfo::Make(p.w, p.h, AlphaType::Unpremul), p.argb.data(), size_t(p.w) * 4);
}

uint8_t R(uint32_t c) { return uint8_t(c >> 16); }
uint8_t G(uint32_t c) { return uint8_t(c >> 8); }
uint8_t B(uint32_t c) { return uint8_t(c); }
uint8_t A(uint32_t c) { return uint8_t(c >> 24); }

// ---------------------------------------------------------------------------
// Exif blocks (TIFF structure) holding only an Orientation

Bytes ExifTiff(int orientation, bool bigEndian) {
  auto u16 = [&](Bytes& b, unsigned v) {
    if (bigEndian) b.insert(b.end(), {uint8_t(v >> 8), uint8_t(v)});
    else b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)});
  };
  auto u32 = [&](Bytes& b, unsigned v) {
    if (bigEndian) u16(b, v >> 16), u16(b, v & 0xFFFF);
    else u16(b, v & 0xFFFF), u16(b, v >> 16);
  };
  Bytes b;
  if (bigEndian) b.insert(b.end(), {'M', 'M'});
  else b.insert(b.end(), {'I', 'I'});
  u16(b, 42);
  u32(b, 8);
  u16(b, 1);           // one entry
  u16(b, 0x0112);      // Orientation
  u16(b, 3);           // SHORT
  u32(b, 1);           // count
  u16(b, unsigned(orientation));
  u16(b, 0);           // value padding
  u32(b, 0);           // no next directory
  return b;
}

Bytes JpegApp1(const Bytes& tiff) {
  const size_t len = 2 + 6 + tiff.size();
  Bytes seg{0xFF, 0xE1, uint8_t(len >> 8), uint8_t(len), 'E', 'x', 'i', 'f', 0, 0};
  seg.insert(seg.end(), tiff.begin(), tiff.end());
  return seg;
}

Bytes InsertAt(Bytes b, size_t at, const Bytes& what) {
  b.insert(b.begin() + ptrdiff_t(at), what.begin(), what.end());
  return b;
}

// ---------------------------------------------------------------------------
// Fixture encoders, straight from the format libraries

enum class JpegKind { Baseline, Progressive, Grey, CmykAdobe, CmykPlain, Ycck };

Bytes MakeJpeg(const Picture& p, JpegKind kind, int quality = 95) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  unsigned char* mem = nullptr;
  unsigned long memSize = 0;
  jpeg_mem_dest(&cinfo, &mem, &memSize);
  cinfo.image_width = JDIMENSION(p.w);
  cinfo.image_height = JDIMENSION(p.h);
  const bool cmyk = kind == JpegKind::CmykAdobe || kind == JpegKind::CmykPlain || kind == JpegKind::Ycck;
  if (kind == JpegKind::Grey) {
    cinfo.input_components = 1;
    cinfo.in_color_space = JCS_GRAYSCALE;
  } else if (cmyk) {
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_CMYK;
  } else {
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_EXT_BGRX;
  }
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  if (kind == JpegKind::Progressive) jpeg_simple_progression(&cinfo);
  if (cmyk) {
    jpeg_set_colorspace(&cinfo, kind == JpegKind::Ycck ? JCS_YCCK : JCS_CMYK);
    for (int c = 0; c < cinfo.num_components; ++c)
      cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
    // Plain CMYK carries no Adobe marker and is stored the straight way (0 = no ink).
    if (kind == JpegKind::CmykPlain) cinfo.write_Adobe_marker = FALSE;
  }
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<uint8_t> row(size_t(p.w) * 4);
  while (cinfo.next_scanline < cinfo.image_height) {
    const int y = int(cinfo.next_scanline);
    for (int x = 0; x < p.w; ++x) {
      const uint32_t c = p.at(x, y);
      uint8_t* o = &row[size_t(x) * 4];
      if (kind == JpegKind::Grey) {
        row[size_t(x)] = R(c);
      } else if (cmyk) {
        const int k = 255 - std::max({R(c), G(c), B(c)});
        const int div = 255 - k;
        const int cc = div ? (div - R(c)) * 255 / div : 0, mm = div ? (div - G(c)) * 255 / div : 0,
                  yy = div ? (div - B(c)) * 255 / div : 0;
        const bool inverted = kind != JpegKind::CmykPlain;
        o[0] = uint8_t(inverted ? 255 - cc : cc), o[1] = uint8_t(inverted ? 255 - mm : mm);
        o[2] = uint8_t(inverted ? 255 - yy : yy), o[3] = uint8_t(inverted ? 255 - k : k);
      } else {
        std::memcpy(o, &c, 4);
      }
    }
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&cinfo, &r, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  Bytes out(mem, mem + memSize);
  free(mem);
  return out;
}

void PngWriteToVector(png_structp png, png_bytep data, png_size_t len) {
  auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + len);
}

struct PngOptions {
  int colorType = PNG_COLOR_TYPE_RGB;
  int depth = 8;
  bool interlace = false;
  const Indexed* palette = nullptr;  // for PNG_COLOR_TYPE_PALETTE
  int exifOrientation = 0;           // eXIf chunk when non-zero
};

Bytes MakePng(const Picture& p, const PngOptions& o) {
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(png, &out, PngWriteToVector, nullptr);
  png_set_IHDR(png, info, png_uint_32(p.w), png_uint_32(p.h), o.depth, o.colorType,
               o.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (o.colorType == PNG_COLOR_TYPE_PALETTE) {
    std::vector<png_color> pal;
    std::vector<png_byte> trns;
    for (uint32_t c : o.palette->colours) {
      pal.push_back({R(c), G(c), B(c)});
      trns.push_back(A(c));
    }
    png_set_PLTE(png, info, pal.data(), int(pal.size()));
    png_set_tRNS(png, info, trns.data(), int(trns.size()), nullptr);
  }
  Bytes exif;
  if (o.exifOrientation) {
    exif = ExifTiff(o.exifOrientation, false);
    png_set_eXIf_1(png, info, png_uint_32(exif.size()), exif.data());
  }
  png_write_info(png, info);
  if (o.depth < 8) png_set_packing(png);
  const int channels = o.colorType == PNG_COLOR_TYPE_RGB ? 3 : o.colorType == PNG_COLOR_TYPE_RGBA ? 4
                       : o.colorType == PNG_COLOR_TYPE_GRAY_ALPHA ? 2 : 1;
  const int bytesPerSample = o.depth == 16 ? 2 : 1;
  std::vector<std::vector<png_byte>> rows(size_t(p.h), std::vector<png_byte>(size_t(p.w * channels * bytesPerSample)));
  for (int y = 0; y < p.h; ++y) {
    png_byte* r = rows[size_t(y)].data();
    for (int x = 0; x < p.w; ++x) {
      const uint32_t c = p.at(x, y);
      uint8_t samples[4];
      switch (o.colorType) {
        case PNG_COLOR_TYPE_PALETTE: samples[0] = o.palette->idx[size_t(y) * size_t(p.w) + size_t(x)]; break;
        case PNG_COLOR_TYPE_GRAY: samples[0] = R(c); break;
        case PNG_COLOR_TYPE_GRAY_ALPHA: samples[0] = R(c), samples[1] = A(c); break;
        default: samples[0] = R(c), samples[1] = G(c), samples[2] = B(c), samples[3] = A(c);
      }
      for (int s = 0; s < channels; ++s) {
        if (bytesPerSample == 2) {
          // v * 257 scales back to exactly v.
          *r++ = samples[s];
          *r++ = samples[s];
        } else {
          *r++ = samples[s];
        }
      }
    }
  }
  std::vector<png_bytep> ptrs;
  for (auto& r : rows) ptrs.push_back(r.data());
  png_write_image(png, ptrs.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

int GifWriteToVector(GifFileType* gif, const GifByteType* data, int len) {
  auto* out = static_cast<Bytes*>(gif->UserData);
  out->insert(out->end(), data, data + len);
  return len;
}

// One or two frames of indexed colours; entries with alpha 0 become the transparent index.
Bytes MakeGif(const Indexed& first, const Indexed* second, bool interlace) {
  Bytes out;
  int err = 0;
  GifFileType* gif = EGifOpen(&out, GifWriteToVector, &err);
  EGifSetGifVersion(gif, true);
  std::vector<GifColorType> colours(4);
  int transparent = -1;
  for (size_t i = 0; i < 4; ++i) {
    const uint32_t c = first.colours[i];
    colours[i] = {R(c), G(c), B(c)};
    if (A(c) == 0) transparent = int(i);
  }
  ColorMapObject* map = GifMakeMapObject(4, colours.data());
  EGifPutScreenDesc(gif, first.w, first.h, 8, 0, map);
  for (const Indexed* frame : {&first, second}) {
    if (!frame) continue;
    if (transparent >= 0) {
      GraphicsControlBlock gcb{DISPOSAL_UNSPECIFIED, false, 10, transparent};
      GifByteType ext[4];
      EGifGCBToExtension(&gcb, ext);
      EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, ext);
    }
    EGifPutImageDesc(gif, 0, 0, frame->w, frame->h, interlace, nullptr);
    std::vector<int> order;
    if (interlace) {
      for (auto [start, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}})
        for (int y = start; y < frame->h; y += step) order.push_back(y);
    } else {
      for (int y = 0; y < frame->h; ++y) order.push_back(y);
    }
    for (int y : order) {
      std::vector<GifPixelType> line(frame->idx.begin() + ptrdiff_t(y * frame->w),
                                     frame->idx.begin() + ptrdiff_t((y + 1) * frame->w));
      EGifPutLine(gif, line.data(), frame->w);
    }
  }
  EGifCloseFile(gif, &err);
  GifFreeMapObject(map);
  return out;
}

Bytes ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const Bytes& b) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

struct TiffOptions {
  int bits = 8;
  bool alpha = false;  // unassociated, as most writers store it
  int orientation = 1;
  const Picture* secondPage = nullptr;
};

Bytes MakeTiff(const Picture& p, const TiffOptions& o) {
  char path[] = "/tmp/lq_tiff_fixture_XXXXXX";
  const int fd = mkstemp(path);
  close(fd);
  TIFF* tif = TIFFOpen(path, "w");
  for (const Picture* page : {&p, o.secondPage}) {
    if (!page) continue;
    const int spp = o.alpha ? 4 : 3;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(page->w));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(page->h));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(o.bits));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(spp));
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, uint32_t(4));
    TIFFSetField(tif, TIFFTAG_COMPRESSION, o.bits == 8 ? COMPRESSION_LZW : COMPRESSION_NONE);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, uint16_t(o.orientation));
    if (o.alpha) {
      uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
      TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, uint16_t(1), extra);
    }
    if (o.secondPage) TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    std::vector<uint16_t> row(size_t(page->w * spp));
    for (int y = 0; y < page->h; ++y) {
      for (int x = 0; x < page->w; ++x) {
        const uint32_t c = page->at(x, y);
        const uint8_t s[4] = {R(c), G(c), B(c), A(c)};
        for (int i = 0; i < spp; ++i) row[size_t(x * spp + i)] = s[i];
      }
      if (o.bits == 16) {
        for (auto& v : row) v = uint16_t(v * 257);
        TIFFWriteScanline(tif, row.data(), uint32_t(y), 0);
      } else {
        std::vector<uint8_t> r8(row.begin(), row.end());
        TIFFWriteScanline(tif, r8.data(), uint32_t(y), 0);
      }
    }
    TIFFWriteDirectory(tif);
  }
  TIFFClose(tif);
  Bytes b = ReadAll(path);
  unlink(path);
  return b;
}

// 24-bit bottom-up or 32-bit (with alpha) top-down BMP, written by hand.
Bytes MakeBmp(const Picture& p, int bpp) {
  const bool topDown = bpp == 32;
  const size_t stride = (size_t(p.w) * size_t(bpp / 8) + 3) & ~size_t(3);
  const uint32_t dataSize = uint32_t(stride * size_t(p.h)), fileSize = 54 + dataSize;
  Bytes b(fileSize, 0);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
  };
  b[0] = 'B', b[1] = 'M';
  put32(2, fileSize);
  put32(10, 54);
  put32(14, 40);
  put32(18, uint32_t(p.w));
  put32(22, topDown ? uint32_t(-p.h) : uint32_t(p.h));
  b[26] = 1;
  b[28] = uint8_t(bpp);
  put32(34, dataSize);
  put32(38, 2835);
  put32(42, 2835);
  for (int y = 0; y < p.h; ++y) {
    uint8_t* row = &b[54 + stride * size_t(topDown ? y : p.h - 1 - y)];
    for (int x = 0; x < p.w; ++x) {
      const uint32_t c = p.at(x, y);
      uint8_t* o = row + size_t(x) * size_t(bpp / 8);
      o[0] = B(c), o[1] = G(c), o[2] = R(c);
      if (bpp == 32) o[3] = A(c);
    }
  }
  return b;
}

Bytes WebpBytes(uint8_t* data, size_t size) {
  Bytes b(data, data + size);
  WebPFree(data);
  return b;
}

Bytes MakeWebpLossy(const Picture& p, float quality = 90) {
  uint8_t* out = nullptr;
  size_t n = WebPEncodeBGRA(reinterpret_cast<const uint8_t*>(p.argb.data()), p.w, p.h, p.w * 4, quality, &out);
  return WebpBytes(out, n);
}

Bytes MakeWebpLossless(const Picture& p) {
  uint8_t* out = nullptr;
  size_t n = WebPEncodeLosslessBGRA(reinterpret_cast<const uint8_t*>(p.argb.data()), p.w, p.h, p.w * 4, &out);
  return WebpBytes(out, n);
}

void Chunk(Bytes& b, const char* fourcc, const Bytes& payload) {
  b.insert(b.end(), fourcc, fourcc + 4);
  const uint32_t n = uint32_t(payload.size());
  b.insert(b.end(), {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)});
  b.insert(b.end(), payload.begin(), payload.end());
  if (n & 1) b.push_back(0);
}

void Put24(Bytes& b, uint32_t v) { b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16)}); }

// The "VP8L" chunk (header included) of a simple lossless file.
Bytes Vp8lChunk(const Bytes& simple) { return Bytes(simple.begin() + 12, simple.end()); }

Bytes Riff(const Bytes& body) {
  Bytes b{'R', 'I', 'F', 'F'};
  const uint32_t n = uint32_t(body.size() + 4);
  b.insert(b.end(), {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24), 'W', 'E', 'B', 'P'});
  b.insert(b.end(), body.begin(), body.end());
  return b;
}

Bytes Vp8x(uint8_t flags, int w, int h) {
  Bytes x{flags, 0, 0, 0};
  Put24(x, uint32_t(w - 1));
  Put24(x, uint32_t(h - 1));
  return x;
}

// Extended WebP: one lossless image and an EXIF chunk.
Bytes MakeWebpWithExif(const Picture& p, int orientation) {
  Bytes body;
  Chunk(body, "VP8X", Vp8x(0x08, p.w, p.h));
  const Bytes image = Vp8lChunk(MakeWebpLossless(p));
  body.insert(body.end(), image.begin(), image.end());
  Chunk(body, "EXIF", ExifTiff(orientation, true));
  return Riff(body);
}

// Animated WebP of two full-canvas lossless frames.
Bytes MakeWebpAnimated(const Picture& first, const Picture& second) {
  Bytes body;
  Chunk(body, "VP8X", Vp8x(0x02 | 0x10, first.w, first.h));
  Chunk(body, "ANIM", Bytes{0, 0, 0, 0, 0, 0});
  for (const Picture* p : {&first, &second}) {
    Bytes frame;
    Put24(frame, 0);
    Put24(frame, 0);
    Put24(frame, uint32_t(p->w - 1));
    Put24(frame, uint32_t(p->h - 1));
    Put24(frame, 100);
    frame.push_back(0x02);  // no blending
    const Bytes image = Vp8lChunk(MakeWebpLossless(*p));
    frame.insert(frame.end(), image.begin(), image.end());
    Chunk(body, "ANMF", frame);
  }
  return Riff(body);
}

// ---------------------------------------------------------------------------
// A scratch folder per test

class ImageFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/lq_imagefile_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    for (const std::string& name : List()) std::remove((dir_ + "/" + name).c_str());
    rmdir(dir_.c_str());
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  std::set<std::string> List() const {
    std::set<std::string> names;
    if (DIR* d = opendir(dir_.c_str())) {
      while (dirent* e = readdir(d))
        if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) names.insert(e->d_name);
      closedir(d);
    }
    return names;
  }
  std::string dir_;
};

// ---------------------------------------------------------------------------
// Round trips

struct RoundTrip {
  const char* name;
  std::function<Bytes()> make;
  std::function<Picture()> expected;
  int tolerance;  // largest channel difference (premultiplied) allowed
  bool opaque;
};

TEST_F(ImageFileTest, EveryFormatLoadsBackAsItWasWritten) {
  const Indexed palette = Blocks({0xFFE01010u, 0xFF10C020u, 0x802030F0u, 0x00FFFFFFu});
  const Indexed gifColours = Blocks({0xFFE01010u, 0xFF10C020u, 0xFF2030F0u, 0x00000000u});
  const Indexed gifOpaque = Blocks({0xFFE01010u, 0xFF10C020u, 0xFF2030F0u, 0xFFFFFF00u});
  Indexed gifSecond = gifOpaque;
  std::reverse(gifSecond.idx.begin(), gifSecond.idx.end());
  const Picture inks = InkBlocks();
  const Picture ramp = Ramp(), grey = GreyRamp(), translucent = Translucent();

  const std::vector<RoundTrip> cases = {
      {"jpeg baseline", [&] { return MakeJpeg(ramp, JpegKind::Baseline); }, [&] { return ramp; }, 10, true},
      {"jpeg progressive", [&] { return MakeJpeg(ramp, JpegKind::Progressive); }, [&] { return ramp; }, 10, true},
      {"jpeg greyscale", [&] { return MakeJpeg(grey, JpegKind::Grey); }, [&] { return grey; }, 4, true},
      {"jpeg cmyk adobe", [&] { return MakeJpeg(inks, JpegKind::CmykAdobe); }, [&] { return inks; }, 4, true},
      {"jpeg cmyk plain", [&] { return MakeJpeg(inks, JpegKind::CmykPlain); }, [&] { return inks; }, 4, true},
      {"jpeg ycck", [&] { return MakeJpeg(inks, JpegKind::Ycck); }, [&] { return inks; }, 4, true},
      {"png rgb 8", [&] { return MakePng(ramp, {}); }, [&] { return ramp; }, 0, true},
      {"png rgb 16", [&] { return MakePng(ramp, {PNG_COLOR_TYPE_RGB, 16}); }, [&] { return ramp; }, 0, true},
      {"png rgba 16", [&] { return MakePng(translucent, {PNG_COLOR_TYPE_RGBA, 16}); },
       [&] { return translucent; }, 0, false},
      {"png palette 2-bit with tRNS", [&] { return MakePng(palette.picture(), {PNG_COLOR_TYPE_PALETTE, 2, false, &palette}); },
       [&] { return palette.picture(); }, 0, false},
      {"png grey", [&] { return MakePng(grey, {PNG_COLOR_TYPE_GRAY, 8}); }, [&] { return grey; }, 0, true},
      {"png grey+alpha", [&] { return MakePng(translucent, {PNG_COLOR_TYPE_GRAY_ALPHA, 8}); },
       [&] {
         Picture p = translucent;
         for (auto& c : p.argb) c = (c & 0xFF000000u) | R(c) * 0x010101u;
         return p;
       },
       0, false},
      {"png interlaced", [&] { return MakePng(ramp, {PNG_COLOR_TYPE_RGB, 8, true}); }, [&] { return ramp; }, 0, true},
      {"gif transparent interlaced", [&] { return MakeGif(gifColours, nullptr, true); },
       [&] { return gifColours.picture(); }, 0, false},
      {"gif animated: first frame", [&] { return MakeGif(gifOpaque, &gifSecond, false); },
       [&] { return gifOpaque.picture(); }, 0, true},
      {"tiff 8-bit lzw", [&] { return MakeTiff(ramp, {}); }, [&] { return ramp; }, 0, true},
      {"tiff 16-bit", [&] { return MakeTiff(ramp, {16}); }, [&] { return ramp; }, 0, true},
      {"tiff rgba: first page", [&] { return MakeTiff(translucent, {8, true, 1, &ramp}); },
       [&] { return translucent; }, 1, false},
      {"bmp 24-bit", [&] { return MakeBmp(ramp, 24); }, [&] { return ramp; }, 0, true},
      {"bmp 32-bit top-down", [&] { return MakeBmp(translucent, 32); }, [&] { return translucent; }, 0, false},
      {"webp lossy", [&] { return MakeWebpLossy(ramp); }, [&] { return ramp; }, 16, true},
      {"webp lossless", [&] { return MakeWebpLossless(translucent); }, [&] { return translucent; }, 0, false},
      {"webp lossy with alpha", [&] { return MakeWebpLossy(translucent); }, [&] { return translucent; }, 16, false},
      {"webp animated: first frame", [&] { return MakeWebpAnimated(ramp, grey); }, [&] { return ramp; }, 0, true},
      // Our own encoders.
      {"EncodePng opaque", [&] { return EncodePng(Expected(ramp)); }, [&] { return ramp; }, 0, true},
      {"EncodePng translucent", [&] { return EncodePng(Expected(translucent)); }, [&] { return translucent; }, 0, false},
      {"EncodeJpeg", [&] { return EncodeJpeg(Expected(ramp), 95); }, [&] { return ramp; }, 10, true},
      {"EncodeWebp", [&] { return EncodeWebp(Expected(ramp), 90); }, [&] { return ramp; }, 16, true},
      {"EncodeWebp translucent", [&] { return EncodeWebp(Expected(translucent), 90); }, [&] { return translucent; },
       16, false},
  };
  for (const RoundTrip& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes bytes = c.make();
    ASSERT_FALSE(bytes.empty());
    // Through a file with a misleading extension: the content decides.
    const std::string path = Path("fixture.txt");
    WriteAll(path, bytes);
    std::string message, reason;
    const Image img = ReadImageFile(path, &message, &reason);
    ASSERT_TRUE(img) << reason;
    const Image want = Expected(c.expected());
    EXPECT_EQ(img.width(), want.width());
    EXPECT_EQ(img.height(), want.height());
    EXPECT_LE(test::MaxChannelDiff(img, want), c.tolerance);
    EXPECT_EQ(img.isOpaque(), c.opaque);
    EXPECT_TRUE(test::AllPremultipliedValid(img));
  }
}

// ---------------------------------------------------------------------------
// Orientation

// Nearest of the four quadrant colours.
char Classify(uint32_t c) {
  struct Ref {
    char name;
    int r, g, b;
  };
  static const Ref refs[] = {{'R', 255, 0, 0}, {'G', 0, 255, 0}, {'B', 0, 0, 255}, {'W', 255, 255, 255}};
  char best = '?';
  int bestD = 1 << 30;
  for (const Ref& ref : refs) {
    const int d = std::abs(int(R(c)) - ref.r) + std::abs(int(G(c)) - ref.g) + std::abs(int(B(c)) - ref.b);
    if (d < bestD) bestD = d, best = ref.name;
  }
  return bestD < 60 ? best : '?';
}

// Colours at the centres of the four quadrants: top-left, top-right, bottom-left, bottom-right.
std::string Corners(const Image& img) {
  ConstPixelView v = img.PeekPixels();
  const int w = v.width, h = v.height;
  return {Classify(v.at(w / 4, h / 4)), Classify(v.at(3 * w / 4, h / 4)), Classify(v.at(w / 4, 3 * h / 4)),
          Classify(v.at(3 * w / 4, 3 * h / 4))};
}

TEST(ImageOrientation, ExifRotatedJpegLoadsUpright) {
  // The stored picture is 64 x 32: red, green over blue, white.
  struct Case {
    int orientation;
    int w, h;
    const char* corners;
  };
  const Case cases[] = {
      {1, 64, 32, "RGBW"},  // as stored
      {2, 64, 32, "GRWB"},  // mirrored
      {3, 64, 32, "WBGR"},  // half turn
      {4, 64, 32, "BWRG"},  // flipped
      {5, 32, 64, "RBGW"},  // transposed
      {6, 32, 64, "BRWG"},  // quarter turn clockwise
      {7, 32, 64, "WGBR"},  // transverse
      {8, 32, 64, "GWRB"},  // quarter turn anticlockwise
  };
  const Bytes plain = MakeJpeg(Quadrants(), JpegKind::Baseline);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.orientation);
    // Right after SOI, as cameras write it; both byte orders occur.
    const Bytes jpeg = InsertAt(plain, 2, JpegApp1(ExifTiff(c.orientation, c.orientation % 2 == 0)));
    std::string error;
    const Image img = DecodeImage(jpeg, &error);
    ASSERT_TRUE(img) << error;
    EXPECT_EQ(img.width(), c.w);
    EXPECT_EQ(img.height(), c.h);
    EXPECT_EQ(Corners(img), c.corners);
    EXPECT_TRUE(img.isOpaque());
  }
}

TEST(ImageOrientation, OtherContainersCarryingOrientationAreTurnedToo) {
  const Picture quads = Quadrants();
  const std::pair<const char*, Bytes> cases[] = {
      {"png eXIf", MakePng(quads, {PNG_COLOR_TYPE_RGB, 8, false, nullptr, 6})},
      {"tiff Orientation tag", MakeTiff(quads, {8, false, 6})},
      {"webp EXIF chunk", MakeWebpWithExif(quads, 6)},
  };
  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    std::string error;
    const Image img = DecodeImage(bytes, &error);
    ASSERT_TRUE(img) << error;
    EXPECT_EQ(img.width(), 32);
    EXPECT_EQ(img.height(), 64);
    EXPECT_EQ(Corners(img), "BRWG");
  }
}

// ---------------------------------------------------------------------------
// Broken input

Bytes Truncated(Bytes b, double keep) {
  b.resize(size_t(double(b.size()) * keep));
  return b;
}

void PutBe32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (24 - 8 * i));
}

// CRC-32 as PNG uses it, bit by bit.
uint32_t Crc32(const uint8_t* p, size_t n) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
  }
  return ~c;
}

// A valid PNG signature and IHDR (with a correct CRC) for a picture of any size.
Bytes PngHeaderClaiming(uint32_t w, uint32_t h) {
  Bytes b{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  b.resize(16 + 13 + 4, 0);
  PutBe32(b, 16, w);
  PutBe32(b, 20, h);
  b[24] = 8;  // depth
  b[25] = 6;  // RGBA
  PutBe32(b, 29, Crc32(b.data() + 12, 17));
  const Bytes iend{0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
  b.insert(b.end(), iend.begin(), iend.end());
  return b;
}

// A real JPEG whose frame header is rewritten to claim another size.
Bytes JpegClaiming(uint16_t w, uint16_t h) {
  Bytes b = MakeJpeg(Ramp(), JpegKind::Baseline);
  for (size_t i = 2; i + 9 < b.size(); ++i)
    if (b[i] == 0xFF && b[i + 1] == 0xC0) {
      b[i + 5] = uint8_t(h >> 8), b[i + 6] = uint8_t(h);
      b[i + 7] = uint8_t(w >> 8), b[i + 8] = uint8_t(w);
      break;
    }
  return b;
}

Bytes GifClaiming(uint16_t w, uint16_t h) {
  Bytes b = MakeGif(Blocks({0xFF000000u, 0xFF0000FFu, 0xFF00FF00u, 0xFFFF0000u}), nullptr, false);
  b[6] = uint8_t(w), b[7] = uint8_t(w >> 8), b[8] = uint8_t(h), b[9] = uint8_t(h >> 8);
  return b;
}

TEST_F(ImageFileTest, BrokenInputGivesTheMessageAndChangesNothing) {
  struct Case {
    const char* name;
    const char* file;
    std::function<Bytes()> make;  // null: the path is not created at all
    const char* reasonHas = "";   // part of the reason, where it tells us which check fired
  };
  const Picture big = Ramp(64, 48);
  const std::vector<Case> cases = {
      {"truncated JPEG", "cut.jpg", [&] { return Truncated(MakeJpeg(big, JpegKind::Baseline), 0.6); }},
      {"truncated progressive JPEG", "cutp.jpg", [&] { return Truncated(MakeJpeg(big, JpegKind::Progressive), 0.6); }},
      {"truncated PNG", "cut.png", [&] { return Truncated(MakePng(big, {}), 0.5); }},
      {"truncated GIF", "cut.gif", [&] { return Truncated(MakeGif(Blocks({0xFF000000u, 0xFF0000FFu, 0xFF00FF00u, 0xFFFF0000u}, 64, 48), nullptr, false), 0.6); }},
      {"truncated TIFF", "cut.tif", [&] { return Truncated(MakeTiff(big, {16}), 0.6); }},
      {"truncated BMP", "cut.bmp", [&] { return Truncated(MakeBmp(big, 24), 0.6); }},
      {"truncated WebP", "cut.webp", [&] { return Truncated(MakeWebpLossy(big), 0.6); }},
      {"zero-byte file", "empty.png", [] { return Bytes{}; }},
      {"text file named .jpg", "notes.jpg", [] {
         const std::string t = "These are not the pixels you are looking for.\n";
         return Bytes(t.begin(), t.end());
       }},
      {"PNG header claiming 100000 x 100000", "huge.png", [] { return PngHeaderClaiming(100000, 100000); }, "too large"},
      {"JPEG header claiming 65500 x 65500", "huge.jpg", [] { return JpegClaiming(65500, 65500); }, "too large"},
      {"GIF screen of 65535 x 65535", "huge.gif", [] { return GifClaiming(65535, 65535); }, "too large"},
      {"missing file", "nowhere.png", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Path(c.file);
    Bytes before;
    if (c.make) {
      before = c.make();
      WriteAll(path, before);
    }
    const std::set<std::string> listing = List();
    std::string message = "untouched", reason;
    const Image img = ReadImageFile(path, &message, &reason);
    EXPECT_FALSE(img);
    EXPECT_EQ(message, "Failed to load image: " + path);
    EXPECT_NE(reason.find(c.reasonHas), std::string::npos) << reason;
    EXPECT_EQ(List(), listing);
    if (c.make) {
      EXPECT_EQ(ReadAll(path), before);
    }
  }
  // A folder is not an image either.
  std::string message;
  EXPECT_FALSE(ReadImageFile(dir_, &message));
  EXPECT_EQ(message, "Failed to load image: " + dir_);
}

// ---------------------------------------------------------------------------
// Resolution tags

// The 300 dpi Exif block, spelled out independently of the program.
const Bytes kExif300 = {
    0xFF, 0xE1, 0x00, 0x4A, 0x45, 0x78, 0x69, 0x66, 0x00, 0x00, 0x49, 0x49, 0x2A, 0x00, 0x08, 0x00, 0x00, 0x00, 0x03,
    0x00, 0x1A, 0x01, 0x05, 0x00, 0x01, 0x00, 0x00, 0x00, 0x32, 0x00, 0x00, 0x00, 0x1B, 0x01, 0x05, 0x00, 0x01, 0x00,
    0x00, 0x00, 0x3A, 0x00, 0x00, 0x00, 0x28, 0x01, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x2C, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x2C, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,
};
const Bytes kPhys300 = {0x00, 0x00, 0x00, 0x09, 'p',  'H',  'Y',  's',  0x00, 0x00, 0x2E,
                        0x23, 0x00, 0x00, 0x2E, 0x23, 0x01, 0x78, 0xA5, 0x3F, 0x76};

size_t CountOf(const Bytes& hay, const Bytes& needle) {
  size_t n = 0;
  for (auto it = hay.begin(); (it = std::search(it, hay.end(), needle.begin(), needle.end())) != hay.end(); ++it) ++n;
  return n;
}

Bytes Slice(const Bytes& b, size_t from, size_t n) { return Bytes(b.begin() + ptrdiff_t(from), b.begin() + ptrdiff_t(from + n)); }

TEST_F(ImageFileTest, JpegGetsTheExifBlockAfterJfif) {
  ASSERT_EQ(kExif300.size(), 76u);
  const Image img = Expected(Ramp());
  const std::string path = Path("x.JPG");
  std::string error;
  ASSERT_TRUE(WriteImageFile(img, path, &error)) << error;
  const Bytes file = ReadAll(path);
  const Bytes encoded = EncodeJpeg(img, 80);  // quality 80, untagged
  ASSERT_EQ(Slice(encoded, 0, 4), (Bytes{0xFF, 0xD8, 0xFF, 0xE0}));
  const size_t jfifEnd = 4 + (size_t(encoded[4]) << 8 | encoded[5]);
  ASSERT_EQ(file.size(), encoded.size() + 76);
  EXPECT_EQ(Slice(file, 0, jfifEnd), Slice(encoded, 0, jfifEnd));
  EXPECT_EQ(Slice(file, 6, 5), (Bytes{'J', 'F', 'I', 'F', 0}));
  EXPECT_EQ(Slice(file, jfifEnd, 76), kExif300);
  EXPECT_EQ(Slice(file, jfifEnd + 76, encoded.size() - jfifEnd), Slice(encoded, jfifEnd, encoded.size() - jfifEnd));
}

TEST_F(ImageFileTest, JpegLosesItsOldExifBlock) {
  // An Exif block saying "turn a quarter" before JFIF and another after it.
  const Bytes encoded = EncodeJpeg(Expected(Quadrants()), 80);
  const size_t jfifEnd = 4 + (size_t(encoded[4]) << 8 | encoded[5]);
  const Bytes old = JpegApp1(ExifTiff(6, true));
  Bytes jpeg = InsertAt(InsertAt(encoded, jfifEnd, old), 2, old);
  ASSERT_EQ(DecodeImage(jpeg).width(), 32);  // the old block was in force

  ASSERT_TRUE(SetJPEGDPITo300(jpeg));
  EXPECT_EQ(CountOf(jpeg, {'E', 'x', 'i', 'f', 0, 0}), 1u);
  EXPECT_EQ(CountOf(jpeg, old), 0u);
  EXPECT_EQ(Slice(jpeg, jfifEnd, 76), kExif300);
  EXPECT_EQ(jpeg.size(), encoded.size() + 76);
  EXPECT_EQ(DecodeImage(jpeg).width(), 64);
}

TEST_F(ImageFileTest, PngGetsPhysAsItsSecondChunk) {
  // The constant's CRC is the real one over type and data.
  EXPECT_EQ(Crc32(kPhys300.data() + 4, 13), 0x78A53F76u);
  const Image img = Expected(Translucent());
  const std::string path = Path("x.png");
  std::string error;
  ASSERT_TRUE(WriteImageFile(img, path, &error)) << error;
  const Bytes file = ReadAll(path);
  const Bytes encoded = EncodePng(img);
  ASSERT_EQ(Slice(encoded, 12, 4), (Bytes{'I', 'H', 'D', 'R'}));
  const size_t second = 8 + 12 + 13;
  EXPECT_EQ(Slice(file, 0, second), Slice(encoded, 0, second));
  EXPECT_EQ(Slice(file, second, 21), kPhys300);
  EXPECT_EQ(Slice(file, second + 21, encoded.size() - second), Slice(encoded, second, encoded.size() - second));
  EXPECT_EQ(test::MaxChannelDiff(ReadImageFile(path), img), 0);
}

TEST_F(ImageFileTest, WebpIsSavedUntaggedAndOtherExtensionsAreRefused) {
  const Image img = Expected(Ramp());
  std::string error;
  ASSERT_TRUE(WriteImageFile(img, Path("x.webp"), &error)) << error;
  EXPECT_EQ(ReadAll(Path("x.webp")), EncodeWebp(img, 80));

  error.clear();
  EXPECT_FALSE(WriteImageFile(img, Path("x.tif"), &error));
  EXPECT_EQ(error, "Invalid extension");
  EXPECT_EQ(List(), std::set<std::string>{"x.webp"});

  struct Ext {
    const char* name;
    SaveFormat format;
  };
  for (const Ext& e : {Ext{"a.jpg", SaveFormat::Jpeg}, {"a.JPEG", SaveFormat::Jpeg}, {"a.Png", SaveFormat::Png},
                       {"a.WEBP", SaveFormat::WebP}, {"a.bmp", SaveFormat::Invalid}, {"a.gif", SaveFormat::Invalid},
                       {"jpg", SaveFormat::Invalid}, {"a.jpg.txt", SaveFormat::Invalid}})
    EXPECT_EQ(SaveFormatFor(e.name), e.format) << e.name;
}

TEST(ResolutionTags, MalformedBytesAreLeftAlone) {
  const Bytes jpeg = EncodeJpeg(Expected(Ramp()), 80);
  const Bytes png = EncodePng(Expected(Ramp()));
  Bytes longApp0 = jpeg;
  longApp0[4] = 0xFF;  // the JFIF block claims more bytes than the file has
  Bytes onlyHeaders(jpeg.begin(), jpeg.begin() + 20);  // SOI and JFIF, then nothing
  const std::pair<const char*, Bytes> jpegCases[] = {
      {"empty", {}}, {"not a JPEG", png}, {"segment past the end", longApp0},
      {"no image segment", onlyHeaders}};
  for (const auto& [name, bytes] : jpegCases) {
    Bytes b = bytes;
    EXPECT_FALSE(SetJPEGDPITo300(b)) << name;
    EXPECT_EQ(b, bytes) << name;
  }
  Bytes hugeIhdr = png;
  hugeIhdr[8] = 0x7F;
  const std::pair<const char*, Bytes> pngCases[] = {
      {"empty", {}}, {"not a PNG", jpeg}, {"first chunk past the end", hugeIhdr}, {"cut in IHDR", Bytes(png.begin(), png.begin() + 24)}};
  for (const auto& [name, bytes] : pngCases) {
    Bytes b = bytes;
    EXPECT_FALSE(InsertPngDPI300(b)) << name;
    EXPECT_EQ(b, bytes) << name;
  }
}

// ---------------------------------------------------------------------------
// Saving never loses data

TEST_F(ImageFileTest, FailedSaveLeavesTheOldFileAndNoTemporary) {
  struct Case {
    const char* name;
    const char* file;
    Image img;
  };
  const Case cases[] = {
      {"JPEG wider than the format allows", "old.jpg", test::Solid(70000, 1, 0xFF808080u)},
      {"WebP wider than the format allows", "old.webp", test::Solid(16384, 1, 0xFF808080u)},
      {"no image", "old.png", Image()},
      {"unsupported extension", "old.tif", test::Solid(4, 4, 0xFF808080u)},
  };
  const Bytes oldBytes = EncodePng(Expected(GreyRamp()));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Path(c.file);
    WriteAll(path, oldBytes);
    const std::set<std::string> listing = List();
    std::string error;
    EXPECT_FALSE(WriteImageFile(c.img, path, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(ReadAll(path), oldBytes);
    EXPECT_EQ(List(), listing);
  }
}

TEST_F(ImageFileTest, WriteFailuresLeaveNothingBehind) {
  const Image img = Expected(Ramp());
  std::string error;
  EXPECT_FALSE(WriteImageFile(img, Path("missing/x.png"), &error));
  EXPECT_NE(error.find("Cannot write"), std::string::npos) << error;
  EXPECT_TRUE(List().empty());

  // A folder where the file should go stays a folder, and empty.
  ASSERT_EQ(mkdir(Path("taken.png").c_str(), 0755), 0);
  EXPECT_FALSE(WriteImageFile(img, Path("taken.png"), &error));
  EXPECT_EQ(List(), std::set<std::string>{"taken.png"});
  rmdir(Path("taken.png").c_str());

  // The disk "fills up" halfway through writing: a file-size limit below the
  // new file's size makes write() fail after the temporary exists.
  const Bytes oldBytes(64, 0x5A);
  WriteAll(Path("full.jpg"), oldBytes);
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 1000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool saved_ok = WriteImageFile(Expected(Ramp(256, 256)), Path("full.jpg"), &error);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(saved_ok);
  EXPECT_NE(error.find("Cannot write"), std::string::npos) << error;
  EXPECT_EQ(ReadAll(Path("full.jpg")), oldBytes);
  EXPECT_EQ(List(), std::set<std::string>{"full.jpg"});
}

TEST_F(ImageFileTest, SaveReplacesWholeFileKeepingModeAndLinks) {
  const Image img = Expected(Ramp());
  const std::string path = Path("out.png");
  WriteAll(path, Bytes(100000, 0xAB));  // longer than the new file: no old tail may survive
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  ASSERT_EQ(symlink("out.png", Path("link.png").c_str()), 0);

  std::string error;
  ASSERT_TRUE(WriteImageFile(img, Path("link.png"), &error)) << error;
  Bytes expected = EncodePng(img);
  ASSERT_TRUE(InsertPngDPI300(expected));
  EXPECT_EQ(ReadAll(path), expected);
  struct stat st {};
  ASSERT_EQ(lstat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  ASSERT_EQ(lstat(Path("link.png").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(List(), (std::set<std::string>{"link.png", "out.png"}));
}

// ---------------------------------------------------------------------------
// Suggested name

TEST(SuggestSaveName, ProposesANameTheSaveAccepts) {
  struct Case {
    const char* source;
    const char* folder;
    const char* name;
    int filter;
  };
  const Case cases[] = {
      {"/photos/cat.BMP", "/photos", "cat_LQ.png", 2},
      {"/photos/dog.jpeg", "/photos", "dog_LQ.jpeg", 1},
      {"/photos/x.JPG", "/photos", "x_LQ.jpg", 1},
      {"/photos/a.png", "/photos", "a_LQ.png", 2},
      {"/photos/w.webp", "/photos", "w_LQ.webp", 3},
      {"/photos/anim.gif", "/photos", "anim_LQ.png", 2},
      {"/photos/scan.tiff", "/photos", "scan_LQ.png", 2},
      {"/photos/scan.TIF", "/photos", "scan_LQ.png", 2},
      {"/photos/noext", "/photos", "noext_LQ.png", 2},
      {"/my.photos/trip.2023.jpg", "/my.photos", "trip.2023_LQ.jpg", 1},
      {"", "", "Lumaquill_image.png", 2},
  };
  for (const Case& c : cases) {
    const SaveSuggestion s = SuggestSaveName(c.source);
    EXPECT_EQ(s.folder, c.folder) << c.source;
    EXPECT_EQ(s.fileName, c.name) << c.source;
    EXPECT_EQ(s.filterIndex, c.filter) << c.source;
    EXPECT_NE(SaveFormatFor(s.fileName), SaveFormat::Invalid) << c.source;
  }
}

}  // namespace
}  // namespace lq
