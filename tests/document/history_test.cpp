#include <gtest/gtest.h>

#include "document/history.h"
#include "engine/gfx/surface.h"

using namespace lq;

namespace {

Image Solid(int w, int h, TAlphaColor c) {
  return Image::MakeFromPixels(w, h, std::vector<uint32_t>(size_t(w) * size_t(h), c), true);
}

// Grey level i so each state can be told apart after a JPEG round trip.
Image Numbered(int i) { return Solid(8, 8, MakeColor(255, i, i, i)); }
int NumberOf(const Image& img) { return int(GetG(img.PeekPixels().at(4, 4))); }

}  // namespace

TEST(History, FreshAndSingleStateCannotUndo) {
  TImageHistory h;
  Image d, s;
  EXPECT_FALSE(h.Undo(d, s));
  EXPECT_FALSE(h.Redo(d, s));
  h.Save(Numbered(10), Numbered(10));
  EXPECT_FALSE(h.Undo(d, s));
  h.Save(Image(), Numbered(10));  // ignored
  EXPECT_EQ(h.Count(), 1);
}

TEST(History, SharedSourceIsStoredOnceAndServedFromCache) {
  TImageHistory h;
  Image src = Numbered(200);
  h.Save(Numbered(10), src);
  h.Save(Numbered(20), src);
  EXPECT_EQ(h.StateForTest(0).SnapshotType, TSnapshotType::stEffectChange);
  EXPECT_TRUE(h.StateForTest(0).SourceData.empty());
  Image d, s;
  ASSERT_TRUE(h.Undo(d, s));
  EXPECT_NEAR(NumberOf(d), 10, 1);
  EXPECT_NEAR(NumberOf(s), 200, 1);
  Image d2, s2;
  ASSERT_TRUE(h.Redo(d2, s2));
  EXPECT_NEAR(NumberOf(d2), 20, 1);
  EXPECT_EQ(s2, s);  // the cached decode
}

TEST(History, UndoAndRedoStopAtTheEnds) {
  TImageHistory h;
  for (int i = 1; i <= 3; ++i) h.Save(Numbered(i * 20), Numbered(i * 20));
  Image d, s;
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(h.Undo(d, s));
  EXPECT_NEAR(NumberOf(d), 20, 1);
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(h.Redo(d, s));
  EXPECT_NEAR(NumberOf(d), 60, 1);
}

TEST(History, RingKeepsTheNewestHundred) {
  TImageHistory h;
  for (int i = 1; i <= 105; ++i) h.Save(Numbered(i), Numbered(i));
  EXPECT_EQ(h.Count(), 100);
  Image d, s;
  for (int i = 0; i < 99; ++i) ASSERT_TRUE(h.Undo(d, s));
  EXPECT_NEAR(NumberOf(d), 6, 1);
  ASSERT_TRUE(h.Undo(d, s));
  EXPECT_NEAR(NumberOf(d), 6, 1);
}

TEST(History, SavingAfterUndoDropsRedoBranch) {
  TImageHistory h;
  for (int i = 1; i <= 10; ++i) h.Save(Numbered(i * 10), Numbered(i * 10));
  Image d, s;
  for (int i = 0; i < 4; ++i) h.Undo(d, s);
  h.Save(Numbered(250), s);
  EXPECT_EQ(h.Count(), 7);
  ASSERT_TRUE(h.Redo(d, s));
  EXPECT_NEAR(NumberOf(d), 250, 1);
}

TEST(History, TransparencyThresholdChoosesTheFormat) {
  auto make = [](int translucent) {
    std::vector<uint32_t> px(100 * 100, 0xFF808080);
    for (int i = 0; i < translucent; ++i) px[size_t(i) * 7] = 0x80404040;
    return Image::MakeFromPixels(100, 100, std::move(px));
  };
  auto isPng = [](const std::vector<uint8_t>& b) { return b.size() > 4 && b[1] == 'P' && b[2] == 'N' && b[3] == 'G'; };
  auto isJpeg = [](const std::vector<uint8_t>& b) { return b.size() > 2 && b[0] == 0xFF && b[1] == 0xD8; };
  EXPECT_TRUE(isJpeg(TImageHistory::EncodeState(make(5))));
  EXPECT_TRUE(isPng(TImageHistory::EncodeState(make(10))));
  // PNG states come back pixel-identical.
  TImageHistory h;
  Image img = make(10);
  h.Save(img, img);
  h.Save(Numbered(1), img);
  Image d, s;
  ASSERT_TRUE(h.Undo(d, s));
  for (int i = 0; i < 100 * 100; ++i)
    ASSERT_EQ(d.PeekPixels().base[i], img.PeekPixels().base[i]) << i;
}

TEST(History, SourceSurvivesWhenItsSlotIsOverwritten) {
  // 120 results of one source: the slot that stored it is overwritten, but
  // every state still comes back with the real source, not a copy of itself.
  TImageHistory h;
  Image src = Numbered(222);
  for (int i = 1; i <= 120; ++i) h.Save(Numbered(i), src);
  Image d, s;
  for (int i = 0; i < 99; ++i) {
    ASSERT_TRUE(h.Undo(d, s));
    ASSERT_NEAR(NumberOf(s), 222, 1) << "undo " << i;
  }
  EXPECT_NEAR(NumberOf(d), 21, 1);
}

TEST(History, CachedSourceIsNotServedForANewStateInItsSlot) {
  TImageHistory h;
  Image s1 = Numbered(100);
  for (int i = 1; i <= 100; ++i) h.Save(Numbered(i), i == 1 ? s1 : Numbered(100 + i));
  Image d, s;
  for (int i = 0; i < 99; ++i) h.Undo(d, s);  // cursor at the oldest; its source is cached
  EXPECT_NEAR(NumberOf(s), 100, 1);
  for (int i = 0; i < 99; ++i) h.Redo(d, s);
  h.Save(Numbered(7), Numbered(33));  // overwrites the cached slot
  ASSERT_TRUE(h.Undo(d, s));
  ASSERT_TRUE(h.Redo(d, s));
  EXPECT_NEAR(NumberOf(s), 33, 1);
}

TEST(History, MemoryUsedAndNotification) {
  TImageHistory h;
  int calls = 0;
  bool lastChange = false;
  h.OnImageSaved = [&](const Image&, const Image&, bool change) {
    ++calls;
    lastChange = change;
  };
  Image src = Numbered(50);
  h.Save(Numbered(1), src);
  EXPECT_TRUE(lastChange);
  h.Save(Numbered(2), src);
  EXPECT_FALSE(lastChange);
  EXPECT_EQ(calls, 2);
  int64_t sum = 0;
  for (int b = 0; b < 2; ++b) sum += int64_t(h.StateForTest(b).DisplayData.size() + h.StateForTest(b).SourceData.size());
  EXPECT_EQ(h.MemoryUsedBytes(), sum);
}
