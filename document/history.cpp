#include "document/history.h"

#include <chrono>
#include <ctime>
#include <cstring>

#include "document/codec.h"
#include "engine/gfx/surface.h"

namespace lq {

namespace {

double NowAsDays() {
  using namespace std::chrono;
  auto now = system_clock::now();
  std::time_t t = system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&t, &local);
  // Local wall-clock seconds since the Unix epoch, then days since 1899-12-30.
  double secs = double(t) + double(local.tm_gmtoff) +
                double(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000) / 1000.0;
  return secs / 86400.0 + 25569.0;
}

}  // namespace

TImageHistory::TImageHistory() = default;
TImageHistory::~TImageHistory() { Clear(); }

bool TImageHistory::HasSignificantTransparency(const Image& img) {
  if (!img || img.isOpaque()) return false;
  ConstPixelView v = img.PeekPixels();
  int64_t threshold = std::max<int64_t>(1, (int64_t(v.width) * v.height) / 1000);
  int64_t count = 0;
  for (int y = 0; y < v.height; ++y) {
    const uint32_t* r = v.row(y);
    for (int x = 0; x < v.width; ++x)
      if ((r[x] >> 24) != 255 && ++count >= threshold) return true;
  }
  return false;
}

std::vector<uint8_t> TImageHistory::EncodeState(const Image& img) {
  if (!img || img.width() <= 0 || img.height() <= 0) return {};
  return HasSignificantTransparency(img) ? EncodePng(img) : EncodeJpeg(img, 92);
}

void TImageHistory::EmptySlot(int slot) {
  TSnapshot& s = FBuffer[size_t(slot)];
  std::vector<uint8_t>().swap(s.DisplayData);
  std::vector<uint8_t>().swap(s.SourceData);
  s.SnapshotType = TSnapshotType::stEffectChange;
  s.Timestamp = 0;
  if (slot == FCachedSourceIndex) {
    FCachedSourceImg = Image();
    FCachedSourceIndex = -1;
  }
}

void TImageHistory::Save(const Image& DisplayImg, const Image& SourceImg) { Save(DisplayImg, SourceImg, {}); }

void TImageHistory::Save(const Image& DisplayImg, const Image& SourceImg, std::vector<uint8_t> displayData) {
  if (!DisplayImg || DisplayImg.width() <= 0 || DisplayImg.height() <= 0) return;
  if (SourceImg && (SourceImg.width() <= 0 || SourceImg.height() <= 0)) return;
  uint64_t id = SourceImg ? SourceImg.uniqueID() : 0;
  bool isSourceChange;
  {
    std::lock_guard<std::mutex> lk(FCritical);
    isSourceChange = !(id == FLastSourceHash && FCount > 0);
    // Saving after an undo drops the redo branch, which may hold the source
    // remembered last: store the source again rather than borrow a wrong one.
    if (FCount > 0 && FCursor != FSaveIndex) isSourceChange = true;
  }
  TSnapshot snap;
  snap.DisplayData = displayData.empty() ? EncodeState(DisplayImg) : std::move(displayData);
  if (snap.DisplayData.empty()) return;
  if (isSourceChange && SourceImg) {
    snap.SourceData = EncodeState(SourceImg);
    if (!snap.SourceData.empty()) {
      snap.SnapshotType = TSnapshotType::stSourceChange;
    } else {
      isSourceChange = false;
    }
  } else {
    isSourceChange = false;
  }
  {
    std::lock_guard<std::mutex> lk(FCritical);
    if (FCount > 0 && FCursor != FSaveIndex) {
      int oldest = Oldest();
      int newCount = ((FCursor - oldest + kCapacity) % kCapacity) + 1;
      for (int s = (FCursor + 1) % kCapacity;; s = (s + 1) % kCapacity) {
        EmptySlot(s);
        if (s == FSaveIndex) break;
      }
      FSaveIndex = FCursor;
      FCount = newCount;
      FCachedSourceImg = Image();
      FCachedSourceIndex = -1;
      // The dropped branch may have held the source remembered last; store the next one again.
      FLastSourceHash = 0;
    }
    snap.Timestamp = NowAsDays();
    int slot = (FSaveIndex + 1) % kCapacity;
    if (FCount == kCapacity) {
      // The oldest state is about to be overwritten. If the state after it
      // borrows its source, hand the source over so it stays reachable.
      int next = (slot + 1) % kCapacity;
      TSnapshot& old = FBuffer[size_t(slot)];
      TSnapshot& heir = FBuffer[size_t(next)];
      if (old.SnapshotType == TSnapshotType::stSourceChange && heir.SnapshotType == TSnapshotType::stEffectChange) {
        heir.SourceData = std::move(old.SourceData);
        heir.SnapshotType = TSnapshotType::stSourceChange;
        if (FCachedSourceIndex == slot) FCachedSourceIndex = next;
      }
    }
    EmptySlot(slot);
    FBuffer[size_t(slot)] = std::move(snap);
    if (isSourceChange) FLastSourceHash = id;
    FSaveIndex = FCursor = slot;
    if (FCount < kCapacity) ++FCount;
  }
  if (OnImageSaved) OnImageSaved(DisplayImg, SourceImg, isSourceChange);
}

bool TImageHistory::Step(bool forward, Image& DisplayImg, Image& SourceImg) {
  std::lock_guard<std::mutex> lk(FCritical);
  DisplayImg = Image();
  SourceImg = Image();
  if (FCount <= 1) return false;
  int oldest = Oldest();
  if (forward) {
    if (FCursor != FSaveIndex) FCursor = (FCursor + 1) % kCapacity;
  } else if (FCursor == FSaveIndex || FCursor != oldest) {
    FCursor = (FCursor + kCapacity - 1) % kCapacity;
  }
  DisplayImg = DecodeImage(FBuffer[size_t(FCursor)].DisplayData);
  int found = -1;
  for (int s = FCursor;; s = (s + kCapacity - 1) % kCapacity) {
    if (FBuffer[size_t(s)].SnapshotType == TSnapshotType::stSourceChange) {
      found = s;
      break;
    }
    if (s == oldest) break;
  }
  if (found < 0) {
    if (DisplayImg) {
      auto surf = Surface::MakeRaster(DisplayImg.width(), DisplayImg.height());
      if (surf) {
        surf->GetCanvas()->DrawImage(DisplayImg, 0, 0);
        SourceImg = surf->MakeImageSnapshot();
      }
    }
    FCachedSourceImg = SourceImg;
    FCachedSourceIndex = -1;
  } else if (FCachedSourceIndex == found && FCachedSourceImg) {
    SourceImg = FCachedSourceImg;
  } else {
    SourceImg = DecodeImage(FBuffer[size_t(found)].SourceData);
    FCachedSourceImg = SourceImg;
    FCachedSourceIndex = found;
  }
  return bool(DisplayImg);
}

bool TImageHistory::Undo(Image& DisplayImg, Image& SourceImg) { return Step(false, DisplayImg, SourceImg); }
bool TImageHistory::Redo(Image& DisplayImg, Image& SourceImg) { return Step(true, DisplayImg, SourceImg); }

int64_t TImageHistory::MemoryUsedBytes() {
  std::lock_guard<std::mutex> lk(FCritical);
  int64_t total = 0;
  for (const auto& s : FBuffer) total += int64_t(s.DisplayData.size()) + int64_t(s.SourceData.size());
  return total;
}

void TImageHistory::Clear() {
  std::lock_guard<std::mutex> lk(FCritical);
  for (int i = 0; i < kCapacity; ++i) EmptySlot(i);
  FSaveIndex = FCursor = -1;
  FCount = 0;
  FLastSourceHash = 0;
  FCachedSourceImg = Image();
  FCachedSourceIndex = -1;
}

int TImageHistory::Count() {
  std::lock_guard<std::mutex> lk(FCritical);
  return FCount;
}

TSnapshot TImageHistory::StateForTest(int back) {
  std::lock_guard<std::mutex> lk(FCritical);
  return FBuffer[size_t((FSaveIndex - back + 10 * kCapacity) % kCapacity)];
}

int TImageHistory::CursorForTest() {
  std::lock_guard<std::mutex> lk(FCritical);
  return FCursor;
}

}  // namespace lq
