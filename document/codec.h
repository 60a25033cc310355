// Encoding and decoding of images in memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/gfx/image.h"

namespace lq {

// Encoders return an empty array when encoding fails.
std::vector<uint8_t> EncodeJpeg(const Image& img, int quality);
std::vector<uint8_t> EncodePng(const Image& img);

// Decodes any supported format into the engine format; empty image on failure
// (error, when given, says why).
Image DecodeImage(const uint8_t* data, size_t size, std::string* error = nullptr);
inline Image DecodeImage(const std::vector<uint8_t>& bytes, std::string* error = nullptr) {
  return DecodeImage(bytes.data(), bytes.size(), error);
}

}  // namespace lq
