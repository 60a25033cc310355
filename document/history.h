// Undo/redo store of (result, source) image pairs, kept encoded in a ring of 100.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "engine/gfx/image.h"

namespace lq {

enum class TSnapshotType { stEffectChange = 0, stSourceChange = 1 };

struct TSnapshot {
  std::vector<uint8_t> DisplayData;
  std::vector<uint8_t> SourceData;
  TSnapshotType SnapshotType = TSnapshotType::stEffectChange;
  double Timestamp = 0;  // days since 1899-12-30, local time
};

using TImageSavedEvent = std::function<void(const Image& DisplayImg, const Image& SourceImg, bool IsSourceChange)>;

class TImageHistory {
 public:
  static constexpr int kCapacity = 100;

  TImageHistory();
  ~TImageHistory();
  TImageHistory(const TImageHistory&) = delete;
  TImageHistory& operator=(const TImageHistory&) = delete;

  void Save(const Image& DisplayImg, const Image& SourceImg);
  // The same with DisplayImg already encoded by EncodeState (on a worker
  // thread, so the caller's thread only stores it). Empty bytes: encoded here.
  void Save(const Image& DisplayImg, const Image& SourceImg, std::vector<uint8_t> displayData);
  bool Undo(Image& DisplayImg, Image& SourceImg);
  bool Redo(Image& DisplayImg, Image& SourceImg);
  int64_t MemoryUsedBytes();
  void Clear();
  int Count();

  TImageSavedEvent OnImageSaved;

  // Encoding of a state's image: PNG when at least 0.1 % of the pixels are
  // translucent, JPEG quality 92 otherwise; empty for a missing image.
  static std::vector<uint8_t> EncodeState(const Image& img);
  static bool HasSignificantTransparency(const Image& img);

  // For tests: the stored state of the slot `back` steps behind the newest.
  TSnapshot StateForTest(int back);
  int CursorForTest();

 private:
  bool Step(bool forward, Image& DisplayImg, Image& SourceImg);
  int Oldest() const { return (FSaveIndex - FCount + 101) % kCapacity; }
  void EmptySlot(int slot);

  std::mutex FCritical;
  std::array<TSnapshot, kCapacity> FBuffer;
  int FSaveIndex = -1;
  int FCursor = -1;
  int FCount = 0;
  uint64_t FLastSourceHash = 0;
  Image FCachedSourceImg;
  int FCachedSourceIndex = -1;
};

}  // namespace lq
