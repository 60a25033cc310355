// Image files on disk: loading by content, saving JPEG / PNG / WebP marked as
// 300 dpi, and the name proposed when saving a result.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/gfx/image.h"

namespace lq {

// Quality of saved JPEG and WebP files.
constexpr int kSaveQuality = 80;

// "Failed to load image: " + fileName.
std::string LoadFailedMessage(const std::string& fileName);

// Loads an image file of any supported format, recognised by its content.
// On failure: an empty image, `message` = LoadFailedMessage(fileName) and
// `reason` (for logs) what went wrong. Never throws.
Image ReadImageFile(const std::string& fileName, std::string* message = nullptr, std::string* reason = nullptr);

enum class SaveFormat { Invalid, Jpeg, Png, WebP };
// By the file's extension, ignoring case: .jpg/.jpeg, .png, .webp.
SaveFormat SaveFormatFor(const std::string& fileName);

// The bytes a save writes: the image encoded for the file's extension at
// quality 80, then tagged as 300 dpi (JPEG and PNG; WebP is untagged). Empty,
// with `error` set ("Invalid extension" or the encoder's reason), on failure.
std::vector<uint8_t> EncodeImageForFile(const Image& img, const std::string& fileName, std::string* error = nullptr);

// Encodes and writes the image; the file appears whole or not at all. On
// failure returns false with `error` set (shown after "Error saving image: ");
// an existing file at that path is then left exactly as it was.
bool WriteImageFile(const Image& img, const std::string& fileName, std::string* error = nullptr);

// Writes through a temporary file beside the target, flushed to disk and
// renamed over it. On failure nothing is left behind and the target is untouched.
bool WriteFileAtomically(const std::string& fileName, const uint8_t* data, size_t size, std::string* error = nullptr);

// 300 dpi tags, applied to encoded bytes in memory. Each returns false and
// leaves the bytes unchanged when they are not a well-formed file of its kind.
//
// JPEG: a 76-byte APP1 Exif block (X/Y resolution 300/1, unit inch) goes right
// after the JFIF block (or before the first other segment); any Exif block
// already present is dropped.
bool SetJPEGDPITo300(std::vector<uint8_t>& jpeg);
// PNG: a pHYs chunk of 11811 pixels per metre both ways, right after IHDR.
bool InsertPngDPI300(std::vector<uint8_t>& png);

// The name proposed when saving: the source's name + "_LQ" + its extension in
// lower case. Extensions that cannot be saved (.bmp, .gif, .tif, none, ...)
// become ".png". Without a source file: "Lumaquill_image.png".
struct SaveSuggestion {
  std::string folder;    // the source's folder; empty without a source file
  std::string fileName;  // name only, no folder
  int filterIndex = 2;   // save dialog filter: 1 JPEG, 2 PNG, 3 WebP
};
SaveSuggestion SuggestSaveName(const std::string& sourceFileName);

}  // namespace lq
