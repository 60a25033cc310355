// lq_asset_gen: makes the program's embedded pictures.
//
//   lq_asset_gen [-v] OUTDIR [NAME...]  write NAME.png (all pictures by default);
//                                       -v reports the time and size of each
//   lq_asset_gen --list                 print the pictures and their sizes
//
// A file is rewritten only when its bytes change, so a rebuild of the
// generator does not force everything that embeds the pictures to rebuild.
#include "engine/gfx/parallel_range.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "tools/asset_gen/gen_pictures.h"

namespace fs = std::filesystem;
using lq::gen::PictureDef;

namespace {

bool SameContent(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::vector<uint8_t> old((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return old == bytes;
}

bool WriteIfChanged(const fs::path& path, const std::vector<uint8_t>& bytes) {
  if (SameContent(path, bytes)) return true;
  fs::path tmp = path;
  tmp += ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out.flush()) return false;
  }
  std::error_code ec;
  fs::rename(tmp, path, ec);
  return !ec;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<PictureDef> all = lq::gen::AllPictures();
  if (argc == 2 && std::string(argv[1]) == "--list") {
    for (const PictureDef& p : all)
      std::printf("%-28s %5d x %-5d %s.png\n", p.name.c_str(), p.width, p.height, lq::gen::FileStem(p.name).c_str());
    return 0;
  }
  bool verbose = argc > 1 && std::string(argv[1]) == "-v";
  int first = verbose ? 2 : 1;
  if (argc <= first || argv[first][0] == '-') {
    std::fprintf(stderr, "usage: lq_asset_gen [-v] OUTDIR [NAME...] | --list\n");
    return 2;
  }
  fs::path outDir = argv[first];
  std::vector<PictureDef> chosen;
  if (argc == first + 1) {
    chosen = all;
  } else {
    for (int i = first + 1; i < argc; ++i) {
      bool found = false;
      for (const PictureDef& p : all)
        if (p.name == argv[i] || lq::gen::FileStem(p.name) == argv[i]) {
          chosen.push_back(p);
          found = true;
        }
      if (!found) {
        std::fprintf(stderr, "lq_asset_gen: no picture named '%s'\n", argv[i]);
        return 2;
      }
    }
  }
  std::error_code ec;
  fs::create_directories(outDir, ec);
  if (ec) {
    std::fprintf(stderr, "lq_asset_gen: cannot create %s: %s\n", outDir.c_str(), ec.message().c_str());
    return 1;
  }

  std::atomic<int> failures{0};
  std::mutex errMu;
  lq::ParallelRange(0, int(chosen.size()), 1, [&](int lo, int hi) {
    for (size_t i = size_t(lo); i < size_t(hi); ++i) {
      const PictureDef& p = chosen[i];
      std::string error;
      try {
        auto t0 = std::chrono::steady_clock::now();
        lq::gen::Raster r = p.make();
        auto t1 = std::chrono::steady_clock::now();
        if (r.w != p.width || r.h != p.height) {
          error = "made at the wrong size";
        } else {
          std::vector<uint8_t> png = lq::gen::EncodeRasterPng(r);
          auto t2 = std::chrono::steady_clock::now();
          if (!WriteIfChanged(outDir / (lq::gen::FileStem(p.name) + ".png"), png)) error = "cannot write the file";
          if (verbose) {
            using ms = std::chrono::milliseconds;
            std::lock_guard<std::mutex> lock(errMu);
            std::fprintf(stderr, "%-28s make %5lld ms  encode %5lld ms  %8zu bytes\n", p.name.c_str(),
                         (long long)std::chrono::duration_cast<ms>(t1 - t0).count(),
                         (long long)std::chrono::duration_cast<ms>(t2 - t1).count(), png.size());
          }
        }
      } catch (const std::exception& e) {
        error = e.what();
      }
      if (!error.empty()) {
        std::lock_guard<std::mutex> lock(errMu);
        std::fprintf(stderr, "lq_asset_gen: %s: %s\n", p.name.c_str(), error.c_str());
        ++failures;
      }
    }
  });
  return failures ? 1 : 0;
}
