#include "resources/repository.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>

#include "document/codec.h"
#include "engine/random.h"
#include "resources/embedded.h"

namespace lq {

namespace {

struct Entry {
  const char* name;  // the name the program asks for
  const char* file;  // the embedded file it is decoded from
};

constexpr Entry kEntries[] = {
    {"DefaultBrushes", "DefaultBrushes"},
    {"PastelBrushes", "PastelBrushes"},
    {"WatercolorBrushes", "WatercolorBrushes"},
    {"TemplateMatchingBrushes", "TemplateMatchingBrushes"},
    {"PaintBrushSim", "PaintBrushSim"},
    {"PaintBrushSim2", "PaintBrushSim2"},
    {"PaintBrushSim3", "PaintBrushSim3"},
    {"PencilTexture", "PencilTexture"},
    {"OldFilmTexture", "OldFilmTexture"},
    {"WatercolorTexture", "WatercolorTexture"},
    {"VCLwatercolortexture", "VCLwatercolortexture"},
    {"TextureList/Canvas", "TextureList_Canvas"},
    {"TextureList/Paper", "TextureList_Paper"},
    {"TextureList/Impasto", "TextureList_Impasto"},
    {"TextureList/watercolor", "TextureList_watercolor"},
    {"TextureList/cardboard", "TextureList_cardboard"},
    {"TextureList/fabric", "TextureList_fabric"},
    {"FrameList/1", "FrameList_1"},
    {"FrameList/2", "FrameList_2"},
    {"FrameList/3", "FrameList_3"},
    {"FrameList/4", "FrameList_4"},
    {"FrameList/5", "FrameList_5"},
    {"FrameList/6", "FrameList_6"},
    {"FrameList/7", "FrameList_7"},
    {"DefaultImage", "DefaultImage"},
    {"Logo", "Logo"},
};

// Names that stand for another picture: the working atlas starts as the
// impasto atlas, and the chosen frame starts as frame "2".
struct Alias {
  const char* name;
  const char* target;
};
constexpr Alias kAliases[] = {{"Brushes", "DefaultBrushes"}, {"Frame", "FrameList/2"}};

constexpr const char* kTextureNames[] = {"Canvas", "Paper", "Impasto", "watercolor", "cardboard", "fabric"};
constexpr int kFrameCount = 7;

}  // namespace

struct ResourceRepository::Impl {
  struct Slot {
    std::span<const uint8_t> bytes;
    std::once_flag once;
    Image image;
  };
  std::vector<std::unique_ptr<Slot>> slots;  // one per entry, same order

  std::once_flag texturesOnce, framesOnce, paperOnce;
  std::vector<NamedImage> textures, frames;
  T2DIntArray paper;

  Impl() {
    std::span<const EmbeddedFile> files = EmbeddedFiles();
    for (const Entry& e : kEntries) {
      auto slot = std::make_unique<Slot>();
      for (const EmbeddedFile& f : files)
        if (f.name == e.file) slot->bytes = f.bytes();
      slots.push_back(std::move(slot));
    }
  }

  int Find(std::string_view name) const {
    for (const Alias& a : kAliases)
      if (name == a.name) name = a.target;
    for (size_t i = 0; i < std::size(kEntries); ++i)
      if (name == kEntries[i].name) return int(i);
    return -1;
  }

  Image Get(int i) {
    Slot& s = *slots[size_t(i)];
    std::call_once(s.once, [&s] {
      if (!s.bytes.empty()) s.image = DecodeImage(s.bytes.data(), s.bytes.size());
    });
    return s.image;
  }
};

ResourceRepository::ResourceRepository() : impl_(new Impl) {}
ResourceRepository::~ResourceRepository() { delete impl_; }

Image ResourceRepository::Picture(const std::string& name) const {
  int i = impl_->Find(name);
  return i < 0 ? Image() : impl_->Get(i);
}

std::pair<int, int> ResourceRepository::PictureSize(const std::string& name) const {
  // Every embedded picture is a PNG: the size sits in its IHDR chunk.
  std::span<const uint8_t> b = EncodedPicture(name);
  if (b.size() < 24 || std::memcmp(b.data() + 12, "IHDR", 4) != 0) return {0, 0};
  auto be32 = [&](size_t at) {
    return int((uint32_t(b[at]) << 24) | (uint32_t(b[at + 1]) << 16) | (uint32_t(b[at + 2]) << 8) | b[at + 3]);
  };
  return {be32(16), be32(20)};
}

std::vector<std::string> ResourceRepository::PictureNames() const {
  std::vector<std::string> names;
  for (const Entry& e : kEntries) names.emplace_back(e.name);
  for (const Alias& a : kAliases) names.emplace_back(a.name);
  return names;
}

std::vector<std::string> ResourceRepository::TextureListNames() const {
  std::vector<std::string> names;
  for (const char* n : kTextureNames) names.push_back(std::string("TextureList/") + n);
  return names;
}

std::vector<std::string> ResourceRepository::FrameListNames() const {
  std::vector<std::string> names;
  for (int k = 1; k <= kFrameCount; ++k) names.push_back("FrameList/" + std::to_string(k));
  return names;
}

const std::vector<NamedImage>& ResourceRepository::TextureList() const {
  std::call_once(impl_->texturesOnce, [this] {
    for (const char* n : kTextureNames) impl_->textures.push_back({n, Picture(std::string("TextureList/") + n)});
  });
  return impl_->textures;
}

const std::vector<NamedImage>& ResourceRepository::FrameList() const {
  std::call_once(impl_->framesOnce, [this] {
    for (int k = 1; k <= kFrameCount; ++k)
      impl_->frames.push_back({std::to_string(k), Picture("FrameList/" + std::to_string(k))});
  });
  return impl_->frames;
}

const T2DIntArray& ResourceRepository::WatercolorTexturePixels() const {
  std::call_once(impl_->paperOnce, [this] {
    Image img = Picture("WatercolorTexture");
    ConstPixelView v = img.PeekPixels();
    if (!v || v.width <= 0 || v.height <= 0) return;
    T2DIntArray& t = impl_->paper;
    t.assign(size_t(v.height), std::vector<int32_t>(size_t(v.width)));
    for (int y = 0; y < v.height; ++y) {
      const uint32_t* row = v.row(y);
      for (int x = 0; x < v.width; ++x) {
        // Grey of the straight colour; the paper is opaque, so this is exact.
        TAlphaColor c = Unpremultiply(row[x]);
        t[size_t(y)][size_t(x)] = int32_t(Round(LuminanceD(GetR(c), GetG(c), GetB(c))));
      }
    }
  });
  return impl_->paper;
}

std::span<const uint8_t> ResourceRepository::EncodedPicture(const std::string& name) const {
  int i = impl_->Find(name);
  return i < 0 ? std::span<const uint8_t>() : impl_->slots[size_t(i)]->bytes;
}

const ResourceRepository& Repository() {
  // Never destroyed: worker threads still running at exit may hold on to it.
  static const ResourceRepository* repo = new ResourceRepository;
  return *repo;
}

}  // namespace lq
