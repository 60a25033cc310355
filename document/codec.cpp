#include "document/codec.h"

#include <algorithm>
#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include <sys/mman.h>

// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on
#include <gif_lib.h>
#include <libexif/exif-data.h>
#include <png.h>
#include <tiffio.h>
#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>

// Only the BMP reader of stb_image is compiled in: the other formats go through
// their reference libraries, and fewer parsers mean less to go wrong.
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_BMP
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#include <stb/stb_image.h>

// The C libraries report fatal errors by longjmp. Every function that calls
// setjmp below keeps only trivially destructible locals and hands its results
// to a context owned by the caller, so the jump never skips a destructor.

namespace lq {

namespace {

void SetError(std::string* error, const char* what) {
  if (error) *error = what;
}

std::shared_ptr<PixelStore> TryAllocPixels(int w, int h, bool zeroed) noexcept {
  std::shared_ptr<PixelStore> store;
  try {
    store = AllocPixels(w, h, zeroed);
  } catch (...) {
    return nullptr;
  }
  // A decoded photograph is written once end to end and then swept by every
  // effect: huge pages save most of the page faults of the first write and the
  // TLB misses of the rest. Only a hint; the kernel may decline.
  constexpr size_t kHuge = size_t(2) << 20;
  const size_t bytes = store ? store->rowBytes * size_t(store->height) : 0;
  if (bytes >= 4 * kHuge) {
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(store->pixels) + kHuge - 1) & ~(kHuge - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(store->pixels) + bytes) & ~(kHuge - 1);
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
  }
  return store;
}

// Straight BGRA (alpha in the top byte) to premultiplied, in place. Returns true
// when every pixel is opaque.
bool PremultiplyInPlace(PixelView v) {
  bool opaque = true;
  for (int y = 0; y < v.height; ++y) {
    uint32_t* r = v.row(y);
    for (int x = 0; x < v.width; ++x) {
      uint32_t c = r[x];
      if ((c >> 24) != 255) {
        opaque = false;
        r[x] = Premultiply(c);
      }
    }
  }
  return opaque;
}

// ---------------------------------------------------------------------------
// Orientation

// Reads the Orientation of the main image (IFD0) from an Exif block, with or
// without its "Exif\0\0" preamble. 1 (as stored) when absent or unreadable.
int ExifOrientation(const uint8_t* data, size_t size) {
  static const uint8_t kPreamble[6] = {'E', 'x', 'i', 'f', 0, 0};
  if (!data || size < 8 || size > 0xFFFFFF) return 1;
  std::vector<uint8_t> buf;
  if (std::memcmp(data, kPreamble, 6) != 0) {
    // Blocks taken from PNG and WebP chunks start at the TIFF header.
    buf.reserve(size + 6);
    buf.insert(buf.end(), kPreamble, kPreamble + 6);
    buf.insert(buf.end(), data, data + size);
    data = buf.data();
    size = buf.size();
  }
  ExifData* ed = exif_data_new();
  if (!ed) return 1;
  // Read what is there; do not let the library add or repair entries.
  exif_data_unset_option(ed, EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
  exif_data_load_data(ed, data, static_cast<unsigned int>(size));
  int orientation = 1;
  ExifEntry* e = exif_content_get_entry(ed->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION);
  if (e && e->format == EXIF_FORMAT_SHORT && e->components >= 1 && e->data && e->size >= 2) {
    int v = exif_get_short(e->data, exif_data_get_byte_order(ed));
    if (v >= 1 && v <= 8) orientation = v;
  }
  exif_data_unref(ed);
  return orientation;
}

// Turns a decoded picture upright. Orientation values follow Exif/TIFF:
// 2 mirror, 3 half turn, 4 flip, 5 transpose, 6 quarter turn clockwise,
// 7 transverse, 8 quarter turn anticlockwise. Empty image when memory runs out.
Image Orient(const Image& img, int orientation) {
  if (orientation <= 1 || orientation > 8 || !img) return img;
  ConstPixelView s = img.PeekPixels();
  const int W = s.width, H = s.height;
  const bool swap = orientation >= 5;
  const int dw = swap ? H : W, dh = swap ? W : H;
  auto store = TryAllocPixels(dw, dh, false);
  if (!store) return {};
  PixelView d = store->view();
  const ptrdiff_t stride = ptrdiff_t(s.rowBytes / 4);
  const ptrdiff_t lastRow = ptrdiff_t(H - 1) * stride, lastCol = W - 1;
  // Source index of destination (x, y) = base + x * sx + y * sy.
  ptrdiff_t base = 0, sx = 1, sy = stride;
  switch (orientation) {
    case 2: base = lastCol, sx = -1, sy = stride; break;
    case 3: base = lastRow + lastCol, sx = -1, sy = -stride; break;
    case 4: base = lastRow, sx = 1, sy = -stride; break;
    case 5: base = 0, sx = stride, sy = 1; break;
    case 6: base = lastRow, sx = -stride, sy = 1; break;
    case 7: base = lastRow + lastCol, sx = -stride, sy = -1; break;
    case 8: base = lastCol, sx = stride, sy = -1; break;
  }
  // Tiles keep both the reads and the writes of a transpose inside the cache.
  constexpr int kTile = 64;
  for (int ty = 0; ty < dh; ty += kTile) {
    const int yEnd = std::min(dh, ty + kTile);
    for (int tx = 0; tx < dw; tx += kTile) {
      const int xEnd = std::min(dw, tx + kTile);
      for (int y = ty; y < yEnd; ++y) {
        const uint32_t* src = s.base + base + ptrdiff_t(y) * sy;
        uint32_t* out = d.row(y);
        for (int x = tx; x < xEnd; ++x) out[x] = src[ptrdiff_t(x) * sx];
      }
    }
  }
  return Image::MakeFromStore(std::move(store), img.isOpaque());
}

// ---------------------------------------------------------------------------
// JPEG

struct JpegErr {
  jpeg_error_mgr mgr;
  jmp_buf jump;
  bool failOnEof;
  char message[JMSG_LENGTH_MAX];
};

void JpegErrorExit(j_common_ptr cinfo) {
  auto* e = reinterpret_cast<JpegErr*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, e->message);
  longjmp(e->jump, 1);
}

// Warnings are quiet, except running out of data while pixels are still owed:
// the decoder would fill the missing rows with grey and call it a picture.
void JpegEmitMessage(j_common_ptr cinfo, int level) {
  auto* e = reinterpret_cast<JpegErr*>(cinfo->err);
  if (level < 0 && e->failOnEof && cinfo->err->msg_code == JWRN_JPEG_EOF) {
    (*cinfo->err->format_message)(cinfo, e->message);
    longjmp(e->jump, 1);
  }
}

struct JpegEncodeCtx {
  ConstPixelView view;
  int quality;
  unsigned char* mem;
  unsigned long memSize;
  char message[JMSG_LENGTH_MAX];
};

bool EncodeJpegInto(JpegEncodeCtx* c) {
  jpeg_compress_struct cinfo;
  JpegErr err;
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = JpegErrorExit;
  err.message[0] = 0;
  if (setjmp(err.jump)) {
    std::memcpy(c->message, err.message, sizeof(c->message));
    jpeg_destroy_compress(&cinfo);
    return false;
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, &c->mem, &c->memSize);
  cinfo.image_width = JDIMENSION(c->view.width);
  cinfo.image_height = JDIMENSION(c->view.height);
  cinfo.input_components = 4;
  cinfo.in_color_space = JCS_EXT_BGRX;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, c->quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = reinterpret_cast<JSAMPROW>(const_cast<uint32_t*>(c->view.row(int(cinfo.next_scanline))));
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return true;
}

struct JpegDecodeCtx {
  const uint8_t* data;
  size_t size;
  std::shared_ptr<PixelStore> store;
  int orientation = 1;
  const char* failure = nullptr;  // our own reason, when not the library's
  char message[JMSG_LENGTH_MAX] = {};
};

// CMYK as Adobe writes it is stored inverted (0 = full ink); plain CMYK is not.
void CmykRowToBgra(uint32_t* row, int n, bool inverted) {
  auto* p = reinterpret_cast<uint8_t*>(row);
  for (int x = 0; x < n; ++x, p += 4) {
    unsigned c = p[0], m = p[1], y = p[2], k = p[3];
    if (!inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
    const uint8_t r = uint8_t((c * k + 127) / 255), g = uint8_t((m * k + 127) / 255),
                  b = uint8_t((y * k + 127) / 255);
    p[0] = b, p[1] = g, p[2] = r, p[3] = 255;
  }
}

bool DecodeJpegInto(JpegDecodeCtx* c) {
  jpeg_decompress_struct cinfo;
  JpegErr err;
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = JpegErrorExit;
  err.mgr.emit_message = JpegEmitMessage;
  err.failOnEof = true;
  err.message[0] = 0;
  if (setjmp(err.jump)) {
    std::memcpy(c->message, err.message, sizeof(c->message));
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, c->data, static_cast<unsigned long>(c->size));
  jpeg_save_markers(&cinfo, JPEG_APP0 + 1, 0xFFFF);
  jpeg_read_header(&cinfo, TRUE);
  if (!IsValidSize(cinfo.image_width, cinfo.image_height)) {
    c->failure = "image too large";
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next) {
    if (m->marker == JPEG_APP0 + 1 && m->data_length > 6 && std::memcmp(m->data, "Exif\0\0", 6) == 0) {
      c->orientation = ExifOrientation(m->data, m->data_length);
      break;
    }
  }
  const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  const bool inverted = cmyk && cinfo.saw_Adobe_marker;
  cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
  // Our buffer first: a progressive file makes the library allocate a whole
  // frame of coefficients in start_decompress, not worth doing if this fails.
  jpeg_calc_output_dimensions(&cinfo);
  c->store = TryAllocPixels(int(cinfo.output_width), int(cinfo.output_height), false);
  if (!c->store) {
    c->failure = "not enough memory for the image";
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_start_decompress(&cinfo);
  const PixelView v = c->store->view();
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW rows[16];
    const int first = int(cinfo.output_scanline);
    const int n = std::min<int>(16, int(cinfo.output_height) - first);
    for (int i = 0; i < n; ++i) rows[i] = reinterpret_cast<JSAMPROW>(v.row(first + i));
    const int got = int(jpeg_read_scanlines(&cinfo, rows, JDIMENSION(n)));
    if (cmyk)
      for (int i = 0; i < got; ++i) CmykRowToBgra(v.row(first + i), v.width, inverted);
  }
  // Every row is in; a missing end marker alone does not spoil the picture.
  err.failOnEof = false;
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

Image DecodeJpeg(const uint8_t* data, size_t size, std::string* error) {
  JpegDecodeCtx c;
  c.data = data;
  c.size = size;
  if (!DecodeJpegInto(&c)) {
    if (error) *error = c.failure ? c.failure : c.message;
    return {};
  }
  Image img = Orient(Image::MakeFromStore(std::move(c.store), true), c.orientation);
  if (!img) SetError(error, "not enough memory for the image");
  return img;
}

// ---------------------------------------------------------------------------
// PNG

void PngError(png_structp png, png_const_charp msg) {
  auto* err = static_cast<char*>(png_get_error_ptr(png));
  if (err) std::snprintf(err, 256, "%s", msg);
  png_longjmp(png, 1);
}

void PngWarning(png_structp, png_const_charp) {}

void PngWrite(png_structp png, png_bytep data, png_size_t len) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  bool ok = true;
  try {
    out->insert(out->end(), data, data + len);
  } catch (...) {
    ok = false;
  }
  if (!ok) png_error(png, "out of memory");
}

void PngFlush(png_structp) {}

struct PngEncodeCtx {
  ConstPixelView view;
  bool opaque;
  std::vector<uint8_t>* out;
  uint32_t* rowBuf;  // width words, for unpremultiplied rows
  char message[256];
};

bool EncodePngInto(PngEncodeCtx* c) {
  c->message[0] = 0;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, c->message, PngError, PngWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info) {
    png_destroy_write_struct(&png, &info);
    std::snprintf(c->message, sizeof(c->message), "out of memory");
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  const ConstPixelView& v = c->view;
  png_set_write_fn(png, c->out, PngWrite, PngFlush);
  // Level 3 writes photographs about 2.5 times faster than the usual 6 for
  // files under a tenth larger; the undo history encodes with it too.
  png_set_compression_level(png, 3);
  png_set_IHDR(png, info, png_uint_32(v.width), png_uint_32(v.height), 8,
               c->opaque ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_set_bgr(png);  // our words are B, G, R, A in memory
  if (c->opaque) {
    // Opaque rows go out as they are; libpng drops the alpha byte.
    png_set_filler(png, 0, PNG_FILLER_AFTER);
    for (int y = 0; y < v.height; ++y)
      png_write_row(png, reinterpret_cast<png_const_bytep>(v.row(y)));
  } else {
    for (int y = 0; y < v.height; ++y) {
      const uint32_t* src = v.row(y);
      for (int x = 0; x < v.width; ++x) c->rowBuf[x] = Unpremultiply(src[x]);
      png_write_row(png, reinterpret_cast<png_const_bytep>(c->rowBuf));
    }
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

struct PngReader {
  const uint8_t* data;
  size_t size;
  size_t pos;
};

void PngRead(png_structp png, png_bytep out, png_size_t len) {
  auto* r = static_cast<PngReader*>(png_get_io_ptr(png));
  if (r->size - r->pos < len) png_error(png, "truncated file");
  std::memcpy(out, r->data + r->pos, len);
  r->pos += len;
}

struct PngDecodeCtx {
  PngReader reader;
  std::shared_ptr<PixelStore> store;
  bool mayHaveAlpha = false;
  int orientation = 1;
  char message[256] = {};
};

bool DecodePngInto(PngDecodeCtx* c) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, c->message, PngError, PngWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info) {
    png_destroy_read_struct(&png, &info, nullptr);
    std::snprintf(c->message, sizeof(c->message), "out of memory");
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_read_fn(png, &c->reader, PngRead);
  // The engine's own limit applies, not libpng's default of a million per side.
  png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
  png_read_info(png, info);
  const png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
  if (!IsValidSize(w, h)) png_error(png, "image too large");
  const int colorType = png_get_color_type(png, info);
  const int bitDepth = png_get_bit_depth(png, info);
  const bool hasTrns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  c->mayHaveAlpha = hasTrns || (colorType & PNG_COLOR_MASK_ALPHA);
  if (bitDepth == 16) png_set_scale_16(png);
  if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (hasTrns) png_set_tRNS_to_alpha(png);
  if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
  png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  png_set_bgr(png);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  c->store = TryAllocPixels(int(w), int(h), false);
  if (!c->store) png_error(png, "not enough memory for the image");
  const PixelView v = c->store->view();
  for (int p = 0; p < passes; ++p)
    for (int y = 0; y < int(h); ++y) png_read_row(png, reinterpret_cast<png_bytep>(v.row(y)), nullptr);
  png_read_end(png, info);
  png_uint_32 exifLen = 0;
  png_bytep exif = nullptr;
  if (png_get_eXIf_1(png, info, &exifLen, &exif) && exif) c->orientation = ExifOrientation(exif, exifLen);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

Image DecodePng(const uint8_t* data, size_t size, std::string* error) {
  // Judge the size from IHDR itself: libpng reads on to the first IDAT before
  // it reports the header, and a file claiming a huge picture need not have one.
  if (size >= 24 && std::memcmp(data + 12, "IHDR", 4) == 0) {
    auto be32 = [&](size_t at) {
      return uint32_t(data[at]) << 24 | uint32_t(data[at + 1]) << 16 | uint32_t(data[at + 2]) << 8 | data[at + 3];
    };
    if (!IsValidSize(be32(16), be32(20))) {
      SetError(error, "image too large");
      return {};
    }
  }
  PngDecodeCtx c;
  c.reader = {data, size, 0};
  if (!DecodePngInto(&c)) {
    if (error) *error = c.message[0] ? c.message : "invalid PNG";
    return {};
  }
  const bool opaque = c.mayHaveAlpha ? PremultiplyInPlace(c.store->view()) : true;
  Image img = Orient(Image::MakeFromStore(std::move(c.store), opaque), c.orientation);
  if (!img) SetError(error, "not enough memory for the image");
  return img;
}

// ---------------------------------------------------------------------------
// WebP

Image DecodeWebp(const uint8_t* data, size_t size, std::string* error) {
  WebPBitstreamFeatures f;
  if (WebPGetFeatures(data, size, &f) != VP8_STATUS_OK) {
    SetError(error, "invalid WebP data");
    return {};
  }
  if (!IsValidSize(f.width, f.height)) {
    SetError(error, "image too large");
    return {};
  }
  auto store = TryAllocPixels(f.width, f.height, false);
  if (!store) {
    SetError(error, "not enough memory for the image");
    return {};
  }
  const PixelView v = store->view();
  const WebPData webpData{data, size};
  if (f.has_animation) {
    // The first frame, composed on its canvas.
    WebPAnimDecoderOptions opts;
    if (!WebPAnimDecoderOptionsInit(&opts)) return {};
    opts.color_mode = MODE_BGRA;
    opts.use_threads = 1;
    WebPAnimDecoder* dec = WebPAnimDecoderNew(&webpData, &opts);
    WebPAnimInfo info;
    uint8_t* frame = nullptr;
    int timestamp = 0;
    const bool ok = dec && WebPAnimDecoderGetInfo(dec, &info) && int(info.canvas_width) == v.width &&
                    int(info.canvas_height) == v.height && WebPAnimDecoderGetNext(dec, &frame, &timestamp);
    if (ok)
      for (int y = 0; y < v.height; ++y) std::memcpy(v.row(y), frame + size_t(y) * v.width * 4, size_t(v.width) * 4);
    WebPAnimDecoderDelete(dec);
    if (!ok) {
      SetError(error, "invalid WebP animation");
      return {};
    }
  } else {
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) return {};
    config.options.use_threads = 1;
    config.output.colorspace = MODE_BGRA;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = reinterpret_cast<uint8_t*>(v.base);
    config.output.u.RGBA.stride = int(v.rowBytes);
    config.output.u.RGBA.size = v.rowBytes * size_t(v.height);
    const VP8StatusCode status = WebPDecode(data, size, &config);
    WebPFreeDecBuffer(&config.output);
    if (status != VP8_STATUS_OK) {
      SetError(error, status == VP8_STATUS_NOT_ENOUGH_DATA ? "truncated WebP data" : "invalid WebP data");
      return {};
    }
  }
  const bool opaque = f.has_alpha ? PremultiplyInPlace(v) : true;
  int orientation = 1;
  if (WebPDemuxer* demux = WebPDemux(&webpData)) {
    WebPChunkIterator it;
    if ((WebPDemuxGetI(demux, WEBP_FF_FORMAT_FLAGS) & EXIF_FLAG) && WebPDemuxGetChunk(demux, "EXIF", 1, &it)) {
      orientation = ExifOrientation(it.chunk.bytes, it.chunk.size);
      WebPDemuxReleaseChunkIterator(&it);
    }
    WebPDemuxDelete(demux);
  }
  Image img = Orient(Image::MakeFromStore(std::move(store), opaque), orientation);
  if (!img) SetError(error, "not enough memory for the image");
  return img;
}

// ---------------------------------------------------------------------------
// GIF

int GifRead(GifFileType* gif, GifByteType* out, int len) {
  auto* r = static_cast<PngReader*>(gif->UserData);
  if (len <= 0) return 0;
  const size_t n = std::min(size_t(len), r->size - r->pos);
  std::memcpy(out, r->data + r->pos, n);
  r->pos += n;
  return int(n);
}

Image DecodeGif(const uint8_t* data, size_t size, std::string* error) {
  PngReader reader{data, size, 0};
  int code = 0;
  GifFileType* gif = DGifOpen(&reader, GifRead, &code);
  if (!gif) {
    SetError(error, GifErrorString(code));
    return {};
  }
  auto fail = [&](const char* why) {
    SetError(error, why ? why : "invalid GIF data");
    DGifCloseFile(gif, &code);
    return Image();
  };
  int transparent = -1;
  for (;;) {
    GifRecordType type;
    if (DGifGetRecordType(gif, &type) == GIF_ERROR) return fail(GifErrorString(gif->Error));
    if (type == TERMINATE_RECORD_TYPE) return fail("GIF file holds no image");
    if (type == EXTENSION_RECORD_TYPE) {
      int extCode = 0;
      GifByteType* ext = nullptr;
      if (DGifGetExtension(gif, &extCode, &ext) == GIF_ERROR) return fail(GifErrorString(gif->Error));
      if (extCode == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4) transparent = (ext[1] & 1) ? ext[4] : -1;
      while (ext)
        if (DGifGetExtensionNext(gif, &ext) == GIF_ERROR) return fail(GifErrorString(gif->Error));
      continue;
    }
    if (type != IMAGE_DESC_RECORD_TYPE) continue;

    if (DGifGetImageDesc(gif) == GIF_ERROR) return fail(GifErrorString(gif->Error));
    const GifImageDesc& d = gif->Image;
    const ColorMapObject* map = d.ColorMap ? d.ColorMap : gif->SColorMap;
    if (!map || !map->Colors) return fail("GIF image has no colour table");
    if (d.Width <= 0 || d.Height <= 0) return fail("GIF image is empty");
    // A frame reaching past the logical screen widens the canvas rather than being cut.
    const int64_t cw = std::max<int64_t>(gif->SWidth, int64_t(d.Left) + d.Width);
    const int64_t ch = std::max<int64_t>(gif->SHeight, int64_t(d.Top) + d.Height);
    if (!IsValidSize(cw, ch)) return fail("image too large");
    auto store = TryAllocPixels(int(cw), int(ch), true);
    if (!store) return fail("not enough memory for the image");
    uint32_t palette[256];
    for (int i = 0; i < 256; ++i) {
      if (i == transparent) {
        palette[i] = 0;
      } else if (i < map->ColorCount) {
        const GifColorType& col = map->Colors[i];
        palette[i] = MakeColor(255, col.Red, col.Green, col.Blue);
      } else {
        palette[i] = MakeColor(255, 0, 0, 0);
      }
    }
    std::vector<GifPixelType> line(size_t(d.Width));
    const PixelView v = store->view();
    auto putLine = [&](int y) {
      if (DGifGetLine(gif, line.data(), d.Width) == GIF_ERROR) return false;
      uint32_t* out = v.row(d.Top + y) + d.Left;
      for (int x = 0; x < d.Width; ++x) out[x] = palette[line[size_t(x)]];
      return true;
    };
    if (d.Interlace) {
      static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
      for (int p = 0; p < 4; ++p)
        for (int y = kStart[p]; y < d.Height; y += kStep[p])
          if (!putLine(y)) return fail(GifErrorString(gif->Error));
    } else {
      for (int y = 0; y < d.Height; ++y)
        if (!putLine(y)) return fail(GifErrorString(gif->Error));
    }
    DGifCloseFile(gif, &code);
    const bool opaque = !HasAnyTranslucentPixel(v);
    return Image::MakeFromStore(std::move(store), opaque);
  }
}

// ---------------------------------------------------------------------------
// TIFF

struct TiffMem {
  const uint8_t* data;
  toff_t size;
  toff_t pos;
  char message[256];
};

tmsize_t TiffRead(thandle_t h, void* buf, tmsize_t n) {
  auto* m = static_cast<TiffMem*>(h);
  if (n <= 0 || m->pos >= m->size) return 0;
  const toff_t count = std::min<toff_t>(toff_t(n), m->size - m->pos);
  std::memcpy(buf, m->data + m->pos, size_t(count));
  m->pos += count;
  return tmsize_t(count);
}

tmsize_t TiffWrite(thandle_t, void*, tmsize_t) { return 0; }

toff_t TiffSeek(thandle_t h, toff_t off, int whence) {
  auto* m = static_cast<TiffMem*>(h);
  toff_t origin = whence == SEEK_CUR ? m->pos : whence == SEEK_END ? m->size : 0;
  if (off > ~toff_t(0) - origin) return toff_t(-1);
  m->pos = origin + off;
  return m->pos;
}

int TiffClose(thandle_t) { return 0; }
toff_t TiffSize(thandle_t h) { return static_cast<TiffMem*>(h)->size; }
int TiffMap(thandle_t, void**, toff_t*) { return 0; }
void TiffUnmap(thandle_t, void*, toff_t) {}

int TiffErrorHandler(TIFF*, void* user, const char*, const char* fmt, va_list ap) {
  auto* m = static_cast<TiffMem*>(user);
  if (m && !m->message[0]) std::vsnprintf(m->message, sizeof(m->message), fmt, ap);
  return 1;
}

int TiffWarningHandler(TIFF*, void*, const char*, const char*, va_list) { return 1; }

Image DecodeTiff(const uint8_t* data, size_t size, std::string* error) {
  TiffMem mem{data, toff_t(size), 0, {}};
  TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
  if (!opts) {
    SetError(error, "out of memory");
    return {};
  }
  TIFFOpenOptionsSetErrorHandlerExtR(opts, TiffErrorHandler, &mem);
  TIFFOpenOptionsSetWarningHandlerExtR(opts, TiffWarningHandler, nullptr);
  // "m": never map; the bytes are already in memory and must stay untouched.
  TIFF* tif = TIFFClientOpenExt("image", "rm", &mem, TiffRead, TiffWrite, TiffSeek, TiffClose, TiffSize, TiffMap,
                                TiffUnmap, opts);
  TIFFOpenOptionsFree(opts);
  auto fail = [&](const char* why) {
    if (error) *error = mem.message[0] ? mem.message : why;
    if (tif) TIFFClose(tif);
    return Image();
  };
  if (!tif) return fail("invalid TIFF data");
  uint32_t w = 0, h = 0;
  if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h))
    return fail("TIFF image has no size");
  if (!IsValidSize(w, h)) {
    mem.message[0] = 0;
    return fail("image too large");
  }
  char emsg[1024] = {};
  if (!TIFFRGBAImageOK(tif, emsg)) return fail(emsg);
  auto store = TryAllocPixels(int(w), int(h), true);
  if (!store) return fail("not enough memory for the image");
  const PixelView v = store->view();
  TIFFRGBAImage rgba;
  if (!TIFFRGBAImageBegin(&rgba, tif, 1, emsg)) return fail(emsg);
  // Rows come out as stored; the orientation is applied below, all eight cases alike.
  rgba.req_orientation = rgba.orientation;
  const int orientation = rgba.orientation;
  const int ok = TIFFRGBAImageGet(&rgba, v.base, w, h);
  TIFFRGBAImageEnd(&rgba);
  if (!ok) return fail("invalid TIFF data");
  TIFFClose(tif);
  // libtiff packs R in the low byte and premultiplies; swap to the engine's order.
  bool opaque = true;
  for (int y = 0; y < v.height; ++y) {
    uint32_t* r = v.row(y);
    for (int x = 0; x < v.width; ++x) {
      const uint32_t p = r[x];
      const uint32_t a = p >> 24;
      uint32_t red = p & 255, green = (p >> 8) & 255, blue = (p >> 16) & 255;
      if (a != 255) {
        opaque = false;
        // Alpha declared associated but written straight: keep the pixel valid.
        red = std::min(red, a), green = std::min(green, a), blue = std::min(blue, a);
      }
      r[x] = MakeColor(a, red, green, blue);
    }
  }
  Image img = Orient(Image::MakeFromStore(std::move(store), opaque), orientation);
  if (!img) SetError(error, "not enough memory for the image");
  return img;
}

// ---------------------------------------------------------------------------
// BMP

uint32_t Le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

// The BMP reader pads a short file with black; catch uncompressed pixel data
// that ends early instead.
bool BmpTruncated(const uint8_t* data, size_t size) {
  if (size < 26) return true;
  const uint64_t offset = Le32(data + 10);
  const uint32_t headerSize = Le32(data + 14);
  uint64_t w, h, bpp, compression = 0;
  if (headerSize == 12) {
    w = Le16(data + 18), h = Le16(data + 20);
    bpp = Le16(data + 24);
  } else {
    if (size < 34) return true;
    const int32_t sw = int32_t(Le32(data + 18)), sh = int32_t(Le32(data + 22));
    w = uint64_t(sw < 0 ? -int64_t(sw) : sw), h = uint64_t(sh < 0 ? -int64_t(sh) : sh);
    bpp = Le16(data + 28);
    compression = Le32(data + 30);
  }
  // 0 = none, 3 = bit fields; compressed data has no fixed size to check.
  if (compression != 0 && compression != 3) return false;
  const uint64_t stride = (w * bpp + 31) / 32 * 4;
  return offset + stride * h > size;
}

Image DecodeBmp(const uint8_t* data, size_t size, std::string* error) {
  if (size > size_t(INT32_MAX)) {
    SetError(error, "file too large");
    return {};
  }
  int w = 0, h = 0, comp = 0;
  if (!stbi_info_from_memory(data, int(size), &w, &h, &comp)) {
    SetError(error, stbi_failure_reason() ? stbi_failure_reason() : "invalid BMP data");
    return {};
  }
  h = std::abs(h);  // negative for top-down files
  if (!IsValidSize(w, h)) {
    SetError(error, "image too large");
    return {};
  }
  if (BmpTruncated(data, size)) {
    SetError(error, "truncated BMP data");
    return {};
  }
  auto store = TryAllocPixels(w, h, false);
  if (!store) {
    SetError(error, "not enough memory for the image");
    return {};
  }
  int dw = 0, dh = 0;
  stbi_uc* rgba = stbi_load_from_memory(data, int(size), &dw, &dh, &comp, 4);
  if (!rgba || dw != w || dh != h) {
    stbi_image_free(rgba);
    SetError(error, stbi_failure_reason() ? stbi_failure_reason() : "invalid BMP data");
    return {};
  }
  const PixelView v = store->view();
  bool opaque = true;
  for (int y = 0; y < h; ++y) {
    const stbi_uc* s = rgba + size_t(y) * size_t(w) * 4;
    uint32_t* out = v.row(y);
    for (int x = 0; x < w; ++x, s += 4) {
      const TAlphaColor c = MakeColor(s[3], s[0], s[1], s[2]);
      if (s[3] != 255) opaque = false;
      out[x] = Premultiply(c);
    }
  }
  stbi_image_free(rgba);
  return Image::MakeFromStore(std::move(store), opaque);
}

}  // namespace

// ---------------------------------------------------------------------------
// Public entry points

ImageFormat DetectImageFormat(const uint8_t* data, size_t size) {
  if (!data) return ImageFormat::Unknown;
  auto starts = [&](const char* sig, size_t n, size_t at = 0) {
    return size >= at + n && std::memcmp(data + at, sig, n) == 0;
  };
  if (starts("\xFF\xD8\xFF", 3)) return ImageFormat::Jpeg;
  if (starts("\x89PNG\r\n\x1A\n", 8)) return ImageFormat::Png;
  if (starts("RIFF", 4) && starts("WEBP", 4, 8)) return ImageFormat::WebP;
  if (starts("GIF87a", 6) || starts("GIF89a", 6)) return ImageFormat::Gif;
  // Classic and BigTIFF, either byte order.
  if (starts("II*\0", 4) || starts("MM\0*", 4) || starts("II+\0", 4) || starts("MM\0+", 4)) return ImageFormat::Tiff;
  if (starts("BM", 2) && size >= 26) return ImageFormat::Bmp;
  return ImageFormat::Unknown;
}

std::vector<uint8_t> EncodeJpeg(const Image& img, int quality, std::string* error) {
  if (!img) {
    SetError(error, "no image");
    return {};
  }
  JpegEncodeCtx c{img.PeekPixels(), std::clamp(quality, 1, 100), nullptr, 0, {}};
  std::vector<uint8_t> out;
  const bool ok = EncodeJpegInto(&c);
  if (ok) {
    try {
      out.assign(c.mem, c.mem + c.memSize);
    } catch (const std::bad_alloc&) {
      SetError(error, "out of memory");
    }
  } else if (error) {
    *error = std::string("JPEG encoding failed: ") + c.message;
  }
  std::free(c.mem);
  return out;
}

std::vector<uint8_t> EncodePng(const Image& img, std::string* error) {
  if (!img) {
    SetError(error, "no image");
    return {};
  }
  try {
    const ConstPixelView v = img.PeekPixels();
    const bool opaque = img.isOpaque() || !HasAnyTranslucentPixel(v);
    std::vector<uint8_t> out;
    std::vector<uint32_t> rowBuf(opaque ? 0 : size_t(v.width));
    PngEncodeCtx c{v, opaque, &out, rowBuf.data(), {}};
    if (!EncodePngInto(&c)) {
      if (error) *error = std::string("PNG encoding failed: ") + c.message;
      return {};
    }
    return out;
  } catch (const std::bad_alloc&) {
    SetError(error, "out of memory");
    return {};
  }
}

std::vector<uint8_t> EncodeWebp(const Image& img, int quality, std::string* error) {
  if (!img) {
    SetError(error, "no image");
    return {};
  }
  const ConstPixelView v = img.PeekPixels();
  if (v.width > WEBP_MAX_DIMENSION || v.height > WEBP_MAX_DIMENSION) {
    SetError(error, "WebP encoding failed: image larger than 16383 pixels on a side");
    return {};
  }
  WebPConfig config;
  WebPPicture pic;
  if (!WebPConfigPreset(&config, WEBP_PRESET_DEFAULT, float(std::clamp(quality, 0, 100))) ||
      !WebPPictureInit(&pic)) {
    SetError(error, "WebP encoding failed: library version mismatch");
    return {};
  }
  config.thread_level = 1;
  pic.use_argb = 0;
  pic.width = v.width;
  pic.height = v.height;
  std::vector<uint8_t> out;
  try {
    bool imported;
    const bool opaque = img.isOpaque() || !HasAnyTranslucentPixel(v);
    if (opaque) {
      imported = WebPPictureImportBGRX(&pic, reinterpret_cast<const uint8_t*>(v.base), int(v.rowBytes));
    } else {
      std::vector<uint32_t> straight(size_t(v.width) * size_t(v.height));
      for (int y = 0; y < v.height; ++y) {
        const uint32_t* s = v.row(y);
        uint32_t* d = straight.data() + size_t(y) * size_t(v.width);
        for (int x = 0; x < v.width; ++x) d[x] = Unpremultiply(s[x]);
      }
      imported = WebPPictureImportBGRA(&pic, reinterpret_cast<const uint8_t*>(straight.data()), v.width * 4);
    }
    if (!imported) {
      WebPPictureFree(&pic);
      SetError(error, "WebP encoding failed: out of memory");
      return {};
    }
    WebPMemoryWriter writer;
    WebPMemoryWriterInit(&writer);
    pic.writer = WebPMemoryWrite;
    pic.custom_ptr = &writer;
    const bool ok = WebPEncode(&config, &pic);
    const int code = pic.error_code;
    WebPPictureFree(&pic);
    if (ok) {
      try {
        out.assign(writer.mem, writer.mem + writer.size);
      } catch (const std::bad_alloc&) {
        SetError(error, "out of memory");
      }
    } else if (error) {
      *error = "WebP encoding failed (error " + std::to_string(code) + ")";
    }
    WebPMemoryWriterClear(&writer);
  } catch (const std::bad_alloc&) {
    WebPPictureFree(&pic);
    SetError(error, "out of memory");
    out.clear();
  }
  return out;
}

Image DecodeImage(const uint8_t* data, size_t size, std::string* error) {
  if (!data || size == 0) {
    SetError(error, "empty file");
    return {};
  }
  try {
    switch (DetectImageFormat(data, size)) {
      case ImageFormat::Jpeg: return DecodeJpeg(data, size, error);
      case ImageFormat::Png: return DecodePng(data, size, error);
      case ImageFormat::WebP: return DecodeWebp(data, size, error);
      case ImageFormat::Gif: return DecodeGif(data, size, error);
      case ImageFormat::Tiff: return DecodeTiff(data, size, error);
      case ImageFormat::Bmp: return DecodeBmp(data, size, error);
      case ImageFormat::Unknown: break;
    }
    SetError(error, "unsupported format");
  } catch (const std::bad_alloc&) {
    SetError(error, "not enough memory for the image");
  }
  return {};
}

}  // namespace lq
