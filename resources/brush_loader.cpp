#include "resources/brush_loader.h"

#include <minizip/unzip.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>

#include "document/codec.h"
#include "engine/gfx/surface.h"

namespace lq {

namespace {

constexpr int kCell = 256;

std::string LowerExtension(const std::string& name) {
  size_t slash = name.find_last_of("/\\");
  size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string ext = name.substr(dot);
  for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

// Reads at most limit + 1 bytes; false when the file is missing, unreadable
// or longer than the limit.
bool ReadFileLimited(const std::string& path, size_t limit, std::vector<uint8_t>& out) {
  std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!f) return false;
  out.clear();
  uint8_t chunk[65536];
  for (;;) {
    size_t n = std::fread(chunk, 1, sizeof chunk, f.get());
    if (n == 0) break;
    if (out.size() + n > limit) return false;
    out.insert(out.end(), chunk, chunk + n);
  }
  return !std::ferror(f.get());
}

// Reads the archive's current entry without trusting what it claims: an
// entry that claims more than the limit is not opened, the data read stops
// at the limit whatever the claim, and an entry whose data does not inflate,
// does not match its checksum or does not have the size it claims is
// corrupt.
bool ReadEntryLimited(unzFile zip, const unz_file_info64& info, size_t limit, std::vector<uint8_t>& out) {
  if (info.uncompressed_size > limit) return false;
  if (unzOpenCurrentFile(zip) != UNZ_OK) return false;
  out.clear();
  bool ok = true;
  uint8_t chunk[65536];
  for (;;) {
    int n = unzReadCurrentFile(zip, chunk, sizeof chunk);
    if (n < 0) {
      ok = false;
      break;
    }
    if (n == 0) break;
    if (out.size() + size_t(n) > limit) {
      ok = false;
      break;
    }
    out.insert(out.end(), chunk, chunk + n);
  }
  // Reports a checksum mismatch once the whole entry has been read.
  int closed = unzCloseCurrentFile(zip);
  return ok && closed == UNZ_OK && out.size() == info.uncompressed_size;
}

uint32_t BigEndian32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

// Decodes a PNG brush after checking its header against the limits, so that
// no oversized picture is ever allocated, and fits it into a cell.
Image FitBrush(const std::vector<uint8_t>& bytes, const BrushLoadLimits& limits) {
  static const uint8_t kSig[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  if (bytes.size() < 24 || std::memcmp(bytes.data(), kSig, 8) != 0 || std::memcmp(bytes.data() + 12, "IHDR", 4) != 0)
    return {};
  int64_t w = BigEndian32(bytes.data() + 16), h = BigEndian32(bytes.data() + 20);
  if (w <= 0 || h <= 0 || w > limits.maxDimension || h > limits.maxDimension || w * h > limits.maxPixels) return {};
  Image img = DecodeImage(bytes);
  if (!img || img.width() != w || img.height() != h) return {};

  auto cell = Surface::MakeRaster(kCell, kCell);
  if (!cell) return {};
  // Scaled to fill the cell in its longer direction, aspect kept, centred.
  double s = std::min(double(kCell) / double(w), double(kCell) / double(h));
  double dw = double(w) * s, dh = double(h) * s;
  double left = (kCell - dw) / 2, top = (kCell - dh) / 2;
  cell->GetCanvas()->DrawImageRect(img, RectF::MakeWH(double(w), double(h)), RectF{left, top, left + dw, top + dh},
                                   SamplingOptions::Low());
  return cell->MakeImageSnapshot();
}

struct ZipCloser {
  void operator()(void* z) const { unzClose(z); }
};

BrushLoadResult LoadAll(const std::vector<std::string>& fileNames, const BrushLoadLimits& limits) {
  BrushLoadResult result;
  std::vector<Image> cells;
  std::vector<uint8_t> bytes;
  auto full = [&] { return int(cells.size()) >= limits.maxBrushes; };
  auto take = [&](const std::vector<uint8_t>& data) {
    Image cell = FitBrush(data, limits);
    if (cell)
      cells.push_back(cell);
    else
      ++result.skipped;
  };

  for (const std::string& name : fileNames) {
    if (full()) break;
    std::string ext = LowerExtension(name);
    if (ext == ".png") {
      if (ReadFileLimited(name, limits.maxFileBytes, bytes))
        take(bytes);
      else
        ++result.skipped;
    } else if (ext == ".zip") {
      std::unique_ptr<void, ZipCloser> zip(unzOpen64(name.c_str()));
      if (!zip) {
        ++result.skipped;
        continue;
      }
      int visited = 0;
      for (int rc = unzGoToFirstFile(zip.get()); rc == UNZ_OK && !full() && visited < limits.maxArchiveEntries;
           rc = unzGoToNextFile(zip.get()), ++visited) {
        unz_file_info64 info;
        char entryName[1024];
        if (unzGetCurrentFileInfo64(zip.get(), &info, entryName, sizeof entryName, nullptr, 0, nullptr, 0) != UNZ_OK ||
            info.size_filename >= sizeof entryName) {
          ++result.skipped;
          continue;
        }
        if (LowerExtension(entryName) != ".png") continue;
        if (ReadEntryLimited(zip.get(), info, limits.maxFileBytes, bytes))
          take(bytes);
        else
          ++result.skipped;
      }
    }
  }

  result.count = int(cells.size());
  if (result.count == 0) return result;
  int rows = (result.count + 7) / 8;
  auto atlas = Surface::MakeRaster(8 * kCell, rows * kCell);
  if (!atlas) {
    result.count = 0;
    return result;
  }
  for (int i = 0; i < result.count; ++i)
    atlas->GetCanvas()->DrawImage(cells[size_t(i)], double(kCell * (i % 8)), double(kCell * (i / 8)));
  result.atlas = atlas->MakeImageSnapshot();
  return result;
}

}  // namespace

BrushLoadResult LoadBrushesToRepository(const std::vector<std::string>& fileNames, const BrushLoadLimits& limits) {
  BrushLoadResult result;
  try {
    result = LoadAll(fileNames, limits);
  } catch (const std::exception&) {
    // Out of memory part way: nothing is loaded, as for unreadable files.
    result = BrushLoadResult();
  }
  if (result.count == 0) {
    result.atlas = Image();
    result.message = kBrushLoadError;
  }
  return result;
}

}  // namespace lq
