// The raw files linked into the program (PNG bytes), by file name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace lq {

struct EmbeddedFile {
  std::string_view name;  // e.g. "PastelBrushes", "FrameList_3", "DefaultImage"
  const unsigned char* begin;
  const unsigned char* end;
  std::span<const uint8_t> bytes() const { return {begin, size_t(end - begin)}; }
};

std::span<const EmbeddedFile> EmbeddedFiles();

}  // namespace lq
