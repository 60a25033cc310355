// Encoding and decoding of images in memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/gfx/image.h"

namespace lq {

enum class ImageFormat { Unknown, Jpeg, Png, WebP, Gif, Tiff, Bmp };

// Recognises a format by its leading bytes; the file name plays no part.
ImageFormat DetectImageFormat(const uint8_t* data, size_t size);

// Encoders return an empty array when encoding fails (error, when given, says why).
// Translucent pixels are written unpremultiplied where the format has alpha; JPEG
// keeps the premultiplied colour, i.e. the picture over black.
std::vector<uint8_t> EncodeJpeg(const Image& img, int quality, std::string* error = nullptr);
std::vector<uint8_t> EncodePng(const Image& img, std::string* error = nullptr);
// Lossy WebP; alpha is kept when the image has any translucent pixel.
std::vector<uint8_t> EncodeWebp(const Image& img, int quality, std::string* error = nullptr);

// Decodes JPEG, PNG, WebP, GIF (first frame), TIFF (first page) or BMP into the
// engine format, turned upright by the file's orientation tag. The image is
// flagged opaque when it has no translucent pixel. Sizes the engine cannot hold
// (2^31 pixels or more) or memory that cannot be had are refused from the
// header, before the pixels are allocated. Empty image on failure (error, when
// given, says why).
Image DecodeImage(const uint8_t* data, size_t size, std::string* error = nullptr);
inline Image DecodeImage(const std::vector<uint8_t>& bytes, std::string* error = nullptr) {
  return DecodeImage(bytes.data(), bytes.size(), error);
}

}  // namespace lq
