#include "document/codec.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on
#include <png.h>

namespace lq {

// ---------------------------------------------------------------------------
// JPEG

namespace {

struct JpegErr {
  jpeg_error_mgr mgr;
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void JpegErrorExit(j_common_ptr cinfo) {
  auto* e = reinterpret_cast<JpegErr*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, e->message);
  longjmp(e->jump, 1);
}

void JpegSilence(j_common_ptr, int) {}

}  // namespace

std::vector<uint8_t> EncodeJpeg(const Image& img, int quality) {
  std::vector<uint8_t> out;
  if (!img) return out;
  ConstPixelView v = img.PeekPixels();
  jpeg_compress_struct cinfo;
  JpegErr err;
  unsigned char* mem = nullptr;
  unsigned long memSize = 0;
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = JpegErrorExit;
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&cinfo);
    free(mem);
    return {};
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, &mem, &memSize);
  cinfo.image_width = JDIMENSION(v.width);
  cinfo.image_height = JDIMENSION(v.height);
  cinfo.input_components = 4;
  cinfo.in_color_space = JCS_EXT_BGRX;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = reinterpret_cast<JSAMPROW>(const_cast<uint32_t*>(v.row(int(cinfo.next_scanline))));
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  out.assign(mem, mem + memSize);
  free(mem);
  return out;
}

namespace {

Image DecodeJpeg(const uint8_t* data, size_t size, std::string* error) {
  jpeg_decompress_struct cinfo;
  JpegErr err;
  std::shared_ptr<PixelStore>* storeHolder = new std::shared_ptr<PixelStore>();
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = JpegErrorExit;
  err.mgr.emit_message = JpegSilence;
  if (setjmp(err.jump)) {
    if (error) *error = err.message;
    jpeg_destroy_decompress(&cinfo);
    delete storeHolder;
    return {};
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
  jpeg_read_header(&cinfo, TRUE);
  if (!IsValidSize(cinfo.image_width, cinfo.image_height)) {
    if (error) *error = "image too large";
    jpeg_destroy_decompress(&cinfo);
    delete storeHolder;
    return {};
  }
  cinfo.out_color_space = JCS_EXT_BGRA;
  jpeg_start_decompress(&cinfo);
  *storeHolder = AllocPixels(int(cinfo.output_width), int(cinfo.output_height), false);
  if (!*storeHolder) {
    if (error) *error = "out of memory";
    jpeg_destroy_decompress(&cinfo);
    delete storeHolder;
    return {};
  }
  PixelView v = (*storeHolder)->view();
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = reinterpret_cast<JSAMPROW>(v.row(int(cinfo.output_scanline)));
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  Image img = Image::MakeFromStore(*storeHolder, true);
  delete storeHolder;
  return img;
}

}  // namespace

// ---------------------------------------------------------------------------
// PNG

namespace {

void PngError(png_structp png, png_const_charp msg) {
  auto* err = static_cast<std::string*>(png_get_error_ptr(png));
  if (err) *err = msg;
  png_longjmp(png, 1);
}

void PngWarning(png_structp, png_const_charp) {}

void PngWrite(png_structp png, png_bytep data, png_size_t len) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + len);
}

void PngFlush(png_structp) {}

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

}  // namespace

std::vector<uint8_t> EncodePng(const Image& img) {
  if (!img) return {};
  ConstPixelView v = img.PeekPixels();
  auto* out = new std::vector<uint8_t>();
  auto* rowBuf = new std::vector<uint32_t>(size_t(v.width));
  std::string err;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &err, PngError, PngWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    delete out;
    delete rowBuf;
    return {};
  }
  png_set_write_fn(png, out, PngWrite, PngFlush);
  png_set_compression_level(png, 6);
  png_set_IHDR(png, info, png_uint_32(v.width), png_uint_32(v.height), 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_set_bgr(png);  // our words are B, G, R, A in memory
  for (int y = 0; y < v.height; ++y) {
    const uint32_t* src = v.row(y);
    for (int x = 0; x < v.width; ++x) (*rowBuf)[size_t(x)] = Unpremultiply(src[x]);
    png_write_row(png, reinterpret_cast<png_const_bytep>(rowBuf->data()));
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  std::vector<uint8_t> result = std::move(*out);
  delete out;
  delete rowBuf;
  return result;
}

namespace {

Image DecodePng(const uint8_t* data, size_t size, std::string* error) {
  std::string err;
  PngReader reader{data, size, 0};
  auto* holder = new std::shared_ptr<PixelStore>();
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &err, PngError, PngWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info || setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    delete holder;
    if (error) *error = err.empty() ? "invalid PNG" : err;
    return {};
  }
  png_set_read_fn(png, &reader, PngRead);
  png_read_info(png, info);
  png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
  if (!IsValidSize(w, h)) png_error(png, "image too large");
  int colorType = png_get_color_type(png, info);
  int bitDepth = png_get_bit_depth(png, info);
  if (bitDepth == 16) png_set_strip_16(png);
  if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
  if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
  png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  png_set_bgr(png);
  int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  *holder = AllocPixels(int(w), int(h), false);
  if (!*holder) png_error(png, "out of memory");
  PixelView v = (*holder)->view();
  for (int p = 0; p < passes; ++p)
    for (int y = 0; y < int(h); ++y) png_read_row(png, reinterpret_cast<png_bytep>(v.row(y)), nullptr);
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  bool opaque = true;
  for (int y = 0; y < v.height; ++y) {
    uint32_t* r = v.row(y);
    for (int x = 0; x < v.width; ++x) {
      if ((r[x] >> 24) != 255) {
        opaque = false;
        r[x] = Premultiply(r[x]);
      }
    }
  }
  Image img = Image::MakeFromStore(*holder, opaque);
  delete holder;
  return img;
}

}  // namespace

Image DecodeImage(const uint8_t* data, size_t size, std::string* error) {
  if (!data || size < 8) {
    if (error) *error = "not an image";
    return {};
  }
  if (data[0] == 0xFF && data[1] == 0xD8) return DecodeJpeg(data, size, error);
  static const uint8_t kPngSig[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  if (std::memcmp(data, kPngSig, 8) == 0) return DecodePng(data, size, error);
  if (error) *error = "unsupported format";
  return {};
}

}  // namespace lq
