#include "script/executor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <thread>

#include "engine/catalogue.h"
#include "engine/gfx/surface.h"
#include "engine/headless_host.h"
#include "engine/random.h"
#include "resources/repository.h"
#include "script/image_ops.h"
#include "script/parser.h"
#include "tests/support/harness.h"

using namespace lq;

namespace {

// Records what the engine asks of its host.
struct RecordingHost : TScriptHost {
  bool erase = false;
  std::vector<bool> writes;
  std::vector<Image> resized;
  std::vector<bool> effectErase;
  bool ReadEraseBackground() override { return erase; }
  void WriteEraseBackground(bool on) override {
    erase = on;
    writes.push_back(on);
  }
  void TakeResizedImage(const Image& img) override { resized.push_back(img); }
  void RunEffectStep(bool e, const std::function<void()>& step) override {
    effectErase.push_back(e);
    step();
  }
};

struct RunResult {
  Image image;
  std::string error;
  std::vector<std::string> steps;  // "i/n text"
};

std::vector<TScriptCommand> Parsed(const std::vector<std::string>& lines) {
  TScriptParseResult p = ParseScript(lines);
  EXPECT_TRUE(p.Ok) << (p.Errors.empty() ? "" : p.Errors[0]);
  return p.Commands;
}

RunResult RunScript(TScriptEngine& engine, const std::vector<std::string>& lines, const Image& src, const Image& work,
                    const TScriptContext& ctx = {}) {
  RunResult r;
  engine.OnProgress = [&r](int step, int total, const std::string& text) {
    r.steps.push_back(std::to_string(step) + "/" + std::to_string(total) + " " + text);
  };
  r.image = engine.Run(Parsed(lines), src, work, ctx, r.error);
  return r;
}

TAlphaColor Pixel(const Image& img, int x, int y) { return img.PeekPixels().at(x, y); }

// Bounding box of the pixels that differ from `background`.
IRect ChangedBox(const Image& img, TAlphaColor background) {
  ConstPixelView v = img.PeekPixels();
  IRect box{v.width, v.height, -1, -1};
  for (int y = 0; y < v.height; ++y)
    for (int x = 0; x < v.width; ++x)
      if (v.at(x, y) != background) {
        box.left = std::min(box.left, x);
        box.top = std::min(box.top, y);
        box.right = std::max(box.right, x + 1);
        box.bottom = std::max(box.bottom, y + 1);
      }
  return box;
}

// Pixels of `img` inside r that are mostly the given channel colour.
int CountTinted(const Image& img, const IRect& r, int channelShift) {
  ConstPixelView v = img.PeekPixels();
  int n = 0;
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x) {
      TAlphaColor c = v.at(x, y);
      int ch = int((c >> channelShift) & 255);
      int others = int(GetR(c) + GetG(c) + GetB(c)) - ch;
      n += ch > 150 && others < 60;
    }
  return n;
}

class Executor : public ::testing::Test {
 protected:
  void SetUp() override {
    host.SetHistoryEnabled(false);
    host.driver().Cancel = false;
    host.driver().FEraseBdChecked = false;
  }
  HeadlessHost host;
  RecordingHost rec;
  Image photo = test::TestPattern(40, 30);
  Image source = test::Solid(40, 30, 0xFF2040A0);
};

// --- Refusals and failures --------------------------------------------------

TEST_F(Executor, EmptyScriptOrMissingImageIsRefusedBeforeAnything) {
  TScriptEngine engine(&rec);
  int progress = 0;
  engine.OnProgress = [&](int, int, const std::string&) { ++progress; };
  std::string error;
  EXPECT_FALSE(engine.Run({}, source, photo, {}, error));
  EXPECT_EQ(error, "Script is empty");
  const auto script = Parsed({"RESET"});
  EXPECT_FALSE(engine.Run(script, Image(), photo, {}, error));
  EXPECT_EQ(error, "No image loaded");
  EXPECT_FALSE(engine.Run(script, source, Image(), {}, error));
  EXPECT_EQ(error, "No image loaded");
  EXPECT_EQ(progress, 0);
  EXPECT_TRUE(rec.writes.empty());
}

struct FailureCase {
  std::vector<std::string> lines;
  std::string error;
  int stepsRun;  // progress reports before the run ended
};

TScriptContext ContextWith(int textures, int frames, bool atlas, int emptyTexture = -1, int emptyFrame = -1) {
  TScriptContext c;
  for (int i = 0; i < textures; ++i)
    c.TextureBitmaps.push_back(i == emptyTexture ? Image() : test::Solid(8, 8, 0xFF808080));
  for (int i = 0; i < frames; ++i) c.FrameBitmaps.push_back(i == emptyFrame ? Image() : test::Solid(8, 8, 0xFF000000));
  if (atlas) c.BrushAtlas = test::Solid(10, 10, 0xFFFFFFFF);
  return c;
}

TEST_F(Executor, EveryStepFailureEndsTheRunWithItsMessage) {
  struct Case {
    FailureCase f;
    TScriptContext ctx;
  };
  const std::vector<Case> cases = {
      {{{"RESET", "# comment", "LOAD nothere", "RESET"}, "Line 3: Slot \"nothere\" not found", 2}, {}},
      {{{"SWAP Elsewhere"}, "Line 1: Slot \"elsewhere\" not found", 1}, {}},
      {{{"SAVE a", "BLEND b 50"}, "Line 2: Slot \"b\" not found for BLEND", 2}, {}},
      {{{"TEXTURE"}, "Line 1: No texture loaded (select a texture first)", 1}, ContextWith(0, 3, true)},
      {{{"TEXTURE #7"}, "Line 1: Texture #7 not found (only 3 available)", 1}, ContextWith(3, 0, false)},
      {{{"TEXTURE #1 30 1"}, "Line 1: Texture #1 is empty", 1}, ContextWith(3, 0, false, 1)},
      {{{"FRAME"}, "Line 1: No frame loaded (select a frame first)", 1}, ContextWith(3, 0, true)},
      {{{"FRAME #2 10"}, "Line 1: Frame #2 not found (only 2 available)", 1}, ContextWith(0, 2, false)},
      {{{"FRAME"}, "Line 1: Frame #0 is empty", 1}, ContextWith(0, 2, false, -1, 0)},
      {{{"FRAME brushstrokes 20"}, "Line 1: No brush atlas available for brushstrokes frame", 1},
       ContextWith(2, 2, false)},
      {{{"RESIZE 0.4 10"}, "Line 1: Could not create 0x10 surface", 1}, {}},
      // Far beyond what the engine can hold: refused before any allocation.
      {{{"RESIZE 100000 100000"}, "Line 1: Could not create 100000x100000 surface", 1}, {}},
      {{{"RESIZE 1000000% 1000000%"}, "Line 1: Could not create 400000x300000 surface", 1}, {}},
      {{{"FRAME brushstrokes 2000000000"}, "Line 1: Could not create 4000000040x4000000030 surface", 1},
       ContextWith(0, 0, true)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.f.lines[0]);
    TScriptEngine engine(&rec);
    RunResult r = RunScript(engine, c.f.lines, source, photo, c.ctx);
    EXPECT_FALSE(r.image);
    EXPECT_EQ(r.error, c.f.error);
    EXPECT_EQ(int(r.steps.size()), c.f.stepsRun);
  }
}

TEST_F(Executor, CommandsBeforeAFailureRanAndItsResizeWasHandedOver) {
  TScriptEngine engine(&rec);
  RunResult r = RunScript(engine, {"RESIZE 50% 50%", "LOAD nothere", "RESIZE 10 10"}, source, photo);
  EXPECT_EQ(r.error, "Line 2: Slot \"nothere\" not found");
  EXPECT_FALSE(r.image);
  ASSERT_EQ(rec.resized.size(), 1u);
  EXPECT_EQ(rec.resized[0].width(), 20);
  EXPECT_EQ(rec.resized[0].height(), 15);
}

// --- Step texts ---------------------------------------------------------------

TEST(ScriptStepTexts, OneTextPerCommand) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"EFFECT 300 1 2 3 4 5", "Watercolor"},
      {"EFFECT 203 1 2 3 4 5", "Effect 203"},
      {"EFFECT 999 1 2 3 4 5", "Effect 999"},
      {"SAVE Painted", "Save \u2192 painted"},
      {"LOAD a", "Load \u2190 a"},
      {"SWAP", "Swap \u2194 src"},
      {"RESET", "Reset to source"},
      {"BLEND dst 50", "Blend \u2190 dst"},
      {"TEXTURE", "Apply texture"},
      {"FRAME #1 20", "Apply frame"},
      {"FRAME brushstrokes", "Apply brushstrokes frame"},
      {"TEXT 1 1 x", "Draw text"},
      {"FONT Arial 20", "Set font"},
      {"RESIZE 50% 50%", "Resize to 50%x50%"},
      {"RESIZE 1920 1080", "Resize to 1920x1080"},
      {"RESIZE 33.33% 2.5", "Resize to 33.3%x2"},
      {"CLEAR", "Clear background"},
      {"NOCLEAR", "Keep background"},
  };
  for (const auto& [line, text] : cases) {
    const auto cmds = Parsed({line});
    ASSERT_EQ(cmds.size(), 1u) << line;
    EXPECT_EQ(ScriptStepText(cmds[0]), text) << line;
  }
}

TEST_F(Executor, ProgressComesBeforeEachStepWithItsNumber) {
  TScriptEngine engine(&rec);
  RunResult r = RunScript(engine, {"# start", "SAVE a", "", "RESET", "CLEAR"}, source, photo);
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.steps, (std::vector<std::string>{"1/3 Save \u2192 a", "2/3 Reset to source", "3/3 Clear background"}));
}

// --- Slots ----------------------------------------------------------------------

TEST_F(Executor, SlotsHoldReferencesAndReset) {
  struct Case {
    std::vector<std::string> lines;
    const char* expected;  // "photo" or "source"
  };
  const std::vector<Case> cases = {
      {{"RESET"}, "source"},
      {{"SWAP"}, "source"},
      {{"SWAP", "RESET"}, "photo"},  // the old working image is now in "src"
      {{"SAVE src", "LOAD dst", "RESET"}, "photo"},
      {{"RESET", "LOAD dst"}, "photo"},
      {{"SAVE MySlot", "RESET", "LOAD myslot"}, "photo"},
      {{"RESET", "SWAP dst", "SWAP dst"}, "source"},
  };
  for (const Case& c : cases) {
    TScriptEngine engine(&rec);
    RunResult r = RunScript(engine, c.lines, source, photo);
    ASSERT_EQ(r.error, "") << c.lines[0];
    // Slots are references: the very same image comes back.
    EXPECT_TRUE(r.image == (std::string(c.expected) == "photo" ? photo : source)) << c.lines.back();
  }
}

TEST_F(Executor, BlendWithTheStartImage) {
  // Black & White changes the test pattern; blending "dst" back at 100 undoes
  // it, at 0 keeps it, at 50 lands halfway.
  TScriptEngine e1(&rec), e2(&rec), e3(&rec);
  RunResult effect = RunScript(e1, {"EFFECT 200 60 40 50 50 50"}, source, photo);
  ASSERT_EQ(effect.error, "");
  ASSERT_GT(test::MaxChannelDiff(effect.image, photo), 40);

  RunResult full = RunScript(e2, {"EFFECT 200 60 40 50 50 50", "RESIZE 50% 50%", "RESIZE 200% 200%", "BLEND dst 100"},
                             source, photo);
  ASSERT_EQ(full.error, "");
  EXPECT_EQ(test::MaxChannelDiff(full.image, photo), 0);

  RunResult none = RunScript(e3, {"EFFECT 200 60 40 50 50 50", "BLEND dst 0"}, source, photo);
  EXPECT_EQ(test::MaxChannelDiff(none.image, effect.image), 0);

  TScriptEngine e4(&rec);
  RunResult half = RunScript(e4, {"SAVE a", "EFFECT 200 60 40 50 50 50", "BLEND a 50"}, source, photo);
  ConstPixelView h = half.image.PeekPixels(), a = photo.PeekPixels(), b = effect.image.PeekPixels();
  int worst = 0;
  for (int y = 0; y < h.height; ++y)
    for (int x = 0; x < h.width; ++x)
      for (int s = 0; s < 32; s += 8) {
        const int mid = (int((a.at(x, y) >> s) & 255) + int((b.at(x, y) >> s) & 255)) / 2;
        worst = std::max(worst, std::abs(int((h.at(x, y) >> s) & 255) - mid));
      }
  EXPECT_LE(worst, 1);
}

TEST_F(Executor, BlendScalesASlotOfAnotherSizeFirst) {
  TScriptEngine engine(&rec);
  RunResult r = RunScript(engine, {"BLEND src 100"}, test::Solid(3, 2, 0xFF0000FF), test::Solid(40, 30, 0xFFFF0000));
  ASSERT_EQ(r.error, "");
  ASSERT_EQ(r.image.width(), 40);
  ASSERT_EQ(r.image.height(), 30);
  EXPECT_EQ(ChangedBox(r.image, 0xFF0000FF).right, -1);  // all blue, edges included
}

TEST_F(Executor, UnknownEffectNumbersLeaveThePictureAsItIs) {
  for (const char* line : {"EFFECT 999 1 2 3 4 5", "EFFECT 900 10 20 30 40 50", "EFFECT -4 1 1 1 1 1"}) {
    TScriptEngine engine(&rec);
    RunResult r = RunScript(engine, {line}, source, photo);
    EXPECT_EQ(r.error, "") << line;
    ASSERT_TRUE(r.image) << line;
    EXPECT_EQ(test::MaxChannelDiff(r.image, photo), 0) << line;
  }
}

// --- Resize ---------------------------------------------------------------------

TEST_F(Executor, ResizeSizes) {
  struct Case {
    std::string line;
    int w, h;    // start size
    int ew, eh;  // result size
  };
  const std::vector<Case> cases = {
      {"RESIZE 50% 50%", 3, 3, 2, 2},  // Round(1.5) = 2
      {"RESIZE 50% 50%", 5, 7, 2, 4},  // 2.5 -> 2, 3.5 -> 4
      {"RESIZE 0.1% 0.1%", 400, 300, 1, 1}, {"RESIZE 17 9", 40, 30, 17, 9},
      {"RESIZE 2.5 3.5", 40, 30, 2, 4},     {"RESIZE 200% 10", 40, 30, 80, 10},
  };
  for (const Case& c : cases) {
    TScriptEngine engine(&rec);
    rec.resized.clear();
    Image start = test::TestPattern(c.w, c.h);
    RunResult r = RunScript(engine, {c.line}, start, start);
    ASSERT_EQ(r.error, "") << c.line;
    EXPECT_EQ(r.image.width(), c.ew) << c.line;
    EXPECT_EQ(r.image.height(), c.eh) << c.line;
    ASSERT_EQ(rec.resized.size(), 1u);
    EXPECT_TRUE(rec.resized[0] == r.image);
  }
}

TEST_F(Executor, ResizeScalesSourceSlotButNotOthers) {
  TScriptEngine engine(&rec);
  RunResult r = RunScript(engine, {"SAVE mine", "RESIZE 50% 50%"}, source, photo);
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(engine.Slots().at("src").width(), 20);
  EXPECT_EQ(engine.Slots().at("src").height(), 15);
  EXPECT_EQ(engine.Slots().at("dst").width(), 40);
  EXPECT_EQ(engine.Slots().at("mine").width(), 40);
  // A flat picture stays flat through Mitchell resampling, edges included.
  EXPECT_EQ(ChangedBox(engine.Slots().at("src"), Premultiply(0xFF2040A0)).right, -1);
}

// --- Erase background and the start image of effects ----------------------------

TEST_F(Executor, ClearAndNoClearReachEffectsAndAreRestored) {
  for (bool initial : {false, true}) {
    RecordingHost h;
    h.erase = initial;
    TScriptEngine engine(&h);
    RunResult r = RunScript(
        engine,
        {"EFFECT 200 50 50 50 50 50", "CLEAR", "EFFECT 200 50 50 50 50 50", "NOCLEAR", "EFFECT 200 50 50 50 50 50"},
        source, photo);
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(h.effectErase, (std::vector<bool>{initial, true, false}));
    EXPECT_EQ(h.erase, initial);
  }
}

TEST_F(Executor, DriverHostRestoresTheSwitchAfterAFailure) {
  for (bool initial : {false, true}) {
    host.driver().FEraseBdChecked = initial;
    TScriptEngine engine;  // the process's driver
    RunResult r = RunScript(engine, {initial ? "NOCLEAR" : "CLEAR", "LOAD missing"}, source, photo);
    EXPECT_EQ(r.error, "Line 2: Slot \"missing\" not found");
    EXPECT_EQ(host.driver().FEraseBdChecked.load(), initial);
  }
}

namespace probe {
std::atomic<bool> erase{false};
Image start;
void Proc(const Image&, Surface& dest, int, int, int, int, int, bool) {
  erase = Driver().FEraseBdChecked.load();
  start = Driver().StartImage();
  dest.GetCanvas()->Clear(0xFF00FF00);
}
}  // namespace probe

// Borrows a catalogue number for a probe routine for the length of a test.
struct ProbeEffect {
  static constexpr int kNumber = 402;
  TEffectProc saved = FindEffectProc(kNumber);
  ProbeEffect() { RegisterEffectProc(kNumber, probe::Proc); }
  ~ProbeEffect() { RegisterEffectProc(kNumber, saved); }
};

TEST_F(Executor, EffectsPaintOverTheRunsOwnPictureNotTheShownOne) {
  ProbeEffect pe;
  host.driver().VIrImage = test::Solid(5, 5, 0xFFFFFFFF);  // what a window shows
  TScriptEngine engine;
  RunResult r = RunScript(engine, {"CLEAR", "EFFECT 402 1 1 1 1 1"}, source, photo);
  ASSERT_EQ(r.error, "");
  EXPECT_TRUE(probe::start == photo);
  EXPECT_TRUE(probe::erase.load());
  EXPECT_FALSE(host.driver().FEraseBdChecked.load());
  EXPECT_EQ(Pixel(r.image, 3, 3), 0xFF00FF00u);

  // After a resize the shown picture is the resized one, and effects start from it.
  TScriptEngine engine2;
  r = RunScript(engine2, {"RESIZE 10 10", "EFFECT 402 1 1 1 1 1"}, source, photo);
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(probe::start.width(), 10);
  EXPECT_TRUE(host.driver().VIrImage == probe::start);
  probe::start = Image();
}

// --- Cancellation ---------------------------------------------------------------

TEST_F(Executor, CancelBetweenStepsRestoresTheSwitchAndReturnsNothing) {
  host.driver().FEraseBdChecked = false;
  TScriptEngine engine;
  int asked = 0;
  engine.OnCancel = [&] { return ++asked >= 2; };
  RunResult r = RunScript(engine, {"CLEAR", "RESIZE 10 10", "RESET"}, source, photo);
  EXPECT_EQ(r.error, "Cancelled by user");
  EXPECT_FALSE(r.image);
  EXPECT_EQ(r.steps.size(), 2u);
  EXPECT_FALSE(host.driver().FEraseBdChecked.load());
}

TEST_F(Executor, CancelInsideAnEffectEndsTheRun) {
  // A run on a worker thread, as hosts do, while this thread pumps the UI loop.
  Image big = test::TestPattern(1600, 1200);
  std::atomic<bool> done{false};
  std::string error;
  Image result = photo;
  host.driver().FEraseBdChecked = false;
  host.onProgress = [&](int v) {
    if (v >= 1 && v <= 100) host.driver().Cancel = true;
  };
  std::vector<std::string> steps;
  std::thread worker([&] {
    TScriptEngine engine;
    engine.OnProgress = [&](int, int, const std::string& s) { steps.push_back(s); };
    engine.OnCancel = [&] { return host.driver().Cancel.load(); };
    result = engine.Run(Parsed({"CLEAR", "EFFECT 100 50 50 50 50 50", "RESET"}), big, big, {}, error);
    done = true;
  });
  host.loop().RunUntil([&] { return done.load(); }, 120000);
  worker.join();
  host.onProgress = nullptr;
  EXPECT_EQ(error, "Cancelled by user");
  EXPECT_FALSE(result);
  EXPECT_EQ(steps.size(), 2u);
  EXPECT_FALSE(host.driver().FEraseBdChecked.load());
}

// --- Text -------------------------------------------------------------------------

TEST_F(Executor, TextPlacementUsesTheGlyphBox) {
  const TAlphaColor black = 0xFF000000;
  Image canvas = test::Solid(200, 120, black);
  struct Case {
    std::string line;
    std::function<void(const IRect&)> check;
  };
  const std::vector<Case> cases = {
      {"TEXT 0 0 'xH' size=40",
       [](const IRect& b) {
         EXPECT_EQ(b.left, 0);
         EXPECT_EQ(b.top, 0);
       }},
      {"TEXT 50% 50% 'xH' size=40",
       [](const IRect& b) {
         EXPECT_NEAR((b.left + b.right) / 2.0, 100, 1.0);
         EXPECT_NEAR((b.top + b.bottom) / 2.0, 60, 1.0);
       }},
      {"TEXT 99% 99% 'xH' size=40",
       [](const IRect& b) {
         EXPECT_NEAR(b.right, 198, 1.0);
         EXPECT_NEAR(b.bottom, 119, 1.0);
       }},
      {"TEXT 1% 30 'xH' size=40",
       [](const IRect& b) {
         EXPECT_NEAR(b.left, 2, 1.0);
         EXPECT_NEAR(b.top, 30, 1.0);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    TScriptEngine engine(&rec);
    RunResult r = RunScript(engine, {c.line}, canvas, canvas);
    ASSERT_EQ(r.error, "");
    IRect box = ChangedBox(r.image, black);
    ASSERT_GT(box.right, box.left);
    EXPECT_GT(box.width(), 20);
    c.check(box);
  }
}

TEST_F(Executor, FontSetsTheStyleUntilChangedAndTextOverridesOneLine) {
  Image canvas = test::Solid(160, 140, 0xFF000000);
  TScriptEngine engine(&rec);
  RunResult r = RunScript(
      engine, {"FONT Georgia 30 bold #FFFF0000", "TEXT 10 10 'a'", "TEXT 10 50 'b' color=#FF0000FF", "TEXT 10 90 'c'"},
      canvas, canvas);
  ASSERT_EQ(r.error, "");
  EXPECT_GT(CountTinted(r.image, {0, 0, 160, 45}, 16), 20);  // red
  EXPECT_EQ(CountTinted(r.image, {0, 0, 160, 45}, 0), 0);
  EXPECT_GT(CountTinted(r.image, {0, 45, 160, 88}, 0), 20);  // blue
  EXPECT_EQ(CountTinted(r.image, {0, 45, 160, 88}, 16), 0);
  EXPECT_GT(CountTinted(r.image, {0, 88, 160, 140}, 16), 20);  // red again
  EXPECT_EQ(engine.TextState().FontName, "Georgia");
  EXPECT_EQ(engine.TextState().FontStyle.Weight, 700);
}

TEST_F(Executor, TextStyleSizeShadowAndFamilyFallback) {
  const TAlphaColor black = 0xFF000000;
  Image canvas = test::Solid(300, 100, 0xFF808080);
  auto draw = [&](const std::string& line) {
    TScriptEngine engine(&rec);
    RunResult r = RunScript(engine, {line}, canvas, canvas);
    EXPECT_EQ(r.error, "") << line;
    return r.image;
  };
  auto ink = [&](const Image& img) {
    int n = 0;
    ConstPixelView v = img.PeekPixels();
    for (int y = 0; y < v.height; ++y)
      for (int x = 0; x < v.width; ++x) n += GetR(v.at(x, y)) > 200;
    return n;
  };
  const Image regular = draw("TEXT 10 10 'Hello' size=40");
  EXPECT_GT(ink(draw("TEXT 10 10 'Hello' size=40 style=bold")), ink(regular) * 5 / 4);
  EXPECT_GT(ink(draw("TEXT 10 10 'Hello' size=60")), ink(regular) * 3 / 2);
  // An unknown family draws like "Arial".
  EXPECT_EQ(test::MaxChannelDiff(draw("TEXT 10 10 'Hello' size=40 font=NoSuchFamilyAtAll"), regular), 0);
  EXPECT_EQ(ResolveFontFamily("NoSuchFamilyAtAll"), "Arial");
  EXPECT_EQ(ResolveFontFamily("liberation sans"), "liberation sans");
  EXPECT_EQ(ResolveFontFamily("serif"), "serif");
  // The shadow darkens the grey below and to the right of the glyphs.
  const Image shadowed = draw("TEXT 10 10 'Hello' size=40 shadow=on");
  IRect box = ChangedBox(regular, 0xFF808080);
  int darker = 0;
  ConstPixelView v = shadowed.PeekPixels();
  for (int y = box.top; y < std::min(100, box.bottom + 4); ++y)
    for (int x = box.left; x < std::min(300, box.right + 4); ++x) darker += GetR(v.at(x, y)) < 0x60;
  EXPECT_GT(darker, 50);
  EXPECT_EQ(ChangedBox(draw("TEXT 10 10 'Hello' size=40 shadow=off"), 0xFF808080).left, box.left);
  // Nothing to draw: the picture is unchanged.
  EXPECT_EQ(ChangedBox(draw("TEXT 10 10 ''"), 0xFF808080).right, -1);
  EXPECT_EQ(ChangedBox(draw("TEXT 5000 10 'far away'"), 0xFF808080).right, -1);
  (void)black;
}

// --- Blending formulas --------------------------------------------------------------

double Separable(BlendMode m, double cb, double cs) {
  switch (m) {
    case BlendMode::Multiply:
      return cb * cs;
    case BlendMode::Screen:
      return cb + cs - cb * cs;
    case BlendMode::Overlay:
      return cb <= 0.5 ? 2 * cb * cs : 1 - 2 * (1 - cb) * (1 - cs);
    case BlendMode::Darken:
      return std::min(cb, cs);
    case BlendMode::Lighten:
      return std::max(cb, cs);
    case BlendMode::HardLight:
      return cs <= 0.5 ? 2 * cb * cs : 1 - 2 * (1 - cb) * (1 - cs);
    case BlendMode::SoftLight: {
      if (cs <= 0.5) return cb - (1 - 2 * cs) * cb * (1 - cb);
      const double d = cb <= 0.25 ? ((16 * cb - 12) * cb + 4) * cb : std::sqrt(cb);
      return cb + (2 * cs - 1) * (d - cb);
    }
    case BlendMode::Difference:
      return std::fabs(cb - cs);
    default:
      return cs;
  }
}

TEST(BlendImages, FollowsTheCompositingFormulas) {
  HeadlessHost host;
  // Pairs of straight colours with opaque and translucent pixels.
  std::vector<uint32_t> base, over;
  const int levels[] = {0, 40, 100, 128, 180, 230, 255};
  const int alphas[] = {255, 160};
  for (int ab : alphas)
    for (int as : alphas)
      for (int b : levels)
        for (int s : levels) {
          base.push_back(Premultiply(MakeColor(uint32_t(ab), uint32_t(b), uint32_t(255 - b), uint32_t(b / 2))));
          over.push_back(Premultiply(MakeColor(uint32_t(as), uint32_t(s), uint32_t(s / 3), uint32_t(255 - s))));
        }
  const int n = int(base.size());
  Image baseImg = Image::MakeFromPixels(n, 1, std::vector<uint32_t>(base));
  Image overImg = Image::MakeFromPixels(n, 1, std::vector<uint32_t>(over));
  const BlendMode modes[] = {BlendMode::SrcOver,   BlendMode::Multiply,  BlendMode::Screen,
                             BlendMode::Overlay,   BlendMode::Darken,    BlendMode::Lighten,
                             BlendMode::SoftLight, BlendMode::HardLight, BlendMode::Difference};
  for (BlendMode m : modes)
    for (float opacity : {1.0f, 0.5f, 0.0f}) {
      Image out = BlendImages(baseImg, overImg, opacity, m);
      ASSERT_TRUE(out);
      int worst = 0;
      for (int i = 0; i < n; ++i) {
        const TAlphaColor pb = base[size_t(i)], ps = over[size_t(i)], got = Pixel(out, i, 0);
        const double ab = GetA(pb) / 255.0, as = opacity * GetA(ps) / 255.0;
        for (int shift : {16, 8, 0}) {
          const double cb = GetA(pb) ? ((pb >> shift) & 255) / double(GetA(pb)) : 0;
          const double cs = GetA(ps) ? ((ps >> shift) & 255) / double(GetA(ps)) : 0;
          const double want = as * (1 - ab) * cs + ab * (1 - as) * cb + as * ab * Separable(m, cb, cs);
          worst = std::max(worst, std::abs(int((got >> shift) & 255) - int(std::lround(want * 255))));
        }
        const double alpha = as + ab * (1 - as);
        worst = std::max(worst, std::abs(int(GetA(got)) - int(std::lround(alpha * 255))));
      }
      EXPECT_LE(worst, 2) << "mode " << int(m) << " opacity " << opacity;
    }
  EXPECT_TRUE(BlendImages(baseImg, Image(), 1, BlendMode::SrcOver) == baseImg);
}

// --- Textures and frames -------------------------------------------------------------

// A picture with an opaque border `border` pixels wide and a clear window.
Image FramePicture(int w, int h, int border) {
  std::vector<uint32_t> px(size_t(w) * size_t(h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool inside = x >= border && x < w - border && y >= border && y < h - border;
      px[size_t(y) * size_t(w) + size_t(x)] = inside ? 0u : 0xFF603010u;
    }
  return Image::MakeFromPixels(w, h, std::move(px));
}

// A noisy grey texture; `salt` makes different ones.
Image NoiseTexture(int w, int h, uint32_t salt) {
  std::vector<uint32_t> px(size_t(w) * size_t(h));
  uint32_t s = salt * 2654435761u + 1;
  for (uint32_t& p : px) {
    s = s * 1664525u + 1013904223u;
    const uint32_t g = s >> 24;
    p = MakeColor(255, g, g, g);
  }
  return Image::MakeFromPixels(w, h, std::move(px), true);
}

TEST_F(Executor, TextureIndexesAndDefaults) {
  TScriptContext ctx;
  ctx.TextureBitmaps = {NoiseTexture(16, 16, 1), NoiseTexture(16, 16, 2), NoiseTexture(16, 16, 3)};
  ctx.TextureStrength = 70;
  ctx.TextureScale = 2.0f;
  // The texture's tiling phase is random: each run starts from the same seed.
  auto run = [&](const std::string& line) {
    RandSeed = 12345;
    TScriptEngine engine(&rec);
    RunResult r = RunScript(engine, {line}, source, photo, ctx);
    EXPECT_EQ(r.error, "") << line;
    return r.image;
  };
  const Image first = run("TEXTURE #0 70 2");
  EXPECT_GT(test::MaxChannelDiff(first, photo), 10);
  struct Case {
    const char* line;
    const char* same;  // a line that must give the same picture
  };
  const std::vector<Case> cases = {
      {"TEXTURE", "TEXTURE #0 70 2"},      // index 0, the context's strength and scale
      {"TEXTURE #-3", "TEXTURE #0 70 2"},  // negative indexes mean 0
      {"TEXTURE #2", "TEXTURE #2 70 2"},    {"TEXTURE #1 30 1", "TEXTURE #1 30 1.0"},
      {"TEXTURE #1 30", "TEXTURE #1 70 2"},  // strength and scale come only as a pair
  };
  for (const Case& c : cases) EXPECT_EQ(test::MaxChannelDiff(run(c.line), run(c.same)), 0) << c.line;
  EXPECT_GT(test::MaxChannelDiff(run("TEXTURE #1"), first), 0);
  EXPECT_EQ(test::MaxChannelDiff(run("TEXTURE #0 0 1"), photo), 0);  // strength 0 leaves the picture
}

TEST_F(Executor, ImageFramesGrowThePictureByMarginAndBorders) {
  TScriptContext ctx;
  ctx.FrameBitmaps = {FramePicture(30, 30, 6), FramePicture(40, 40, 10)};
  ctx.FrameMarginSize = 5;
  ctx.FrameMarginColor = 0xFF00FF00;
  struct Case {
    const char* line;
    int w, h;            // result size for the 40 x 30 picture
    int border;          // the frame's border
    TAlphaColor margin;  // colour just inside the border; 0: no margin
  };
  const std::vector<Case> cases = {
      {"FRAME", 40 + 10 + 12, 30 + 10 + 12, 6, 0xFF00FF00},
      {"FRAME #-1 0", 40 + 12, 30 + 12, 6, 0},
      {"FRAME #1 8 #FFFF0000", 40 + 16 + 20, 30 + 16 + 20, 10, 0xFFFF0000},
      {"FRAME #1 -4", 40 + 10 + 20, 30 + 10 + 20, 10, 0xFF00FF00},  // a negative margin means the default
  };
  for (const Case& c : cases) {
    TScriptEngine engine(&rec);
    RunResult r = RunScript(engine, {c.line}, source, photo, ctx);
    ASSERT_EQ(r.error, "") << c.line;
    EXPECT_EQ(r.image.width(), c.w) << c.line;
    EXPECT_EQ(r.image.height(), c.h) << c.line;
    if (c.margin) {
      EXPECT_EQ(Pixel(r.image, r.image.width() / 2, c.border + 1), c.margin) << c.line;
    }
  }
  // Margins a picture cannot have are refused before anything is made.
  TScriptEngine engine(&rec);
  RunResult r = RunScript(engine, {"FRAME #0 1000000000"}, source, photo, ctx);
  EXPECT_EQ(r.error, "Line 1: Could not create 2000000052x2000000042 surface");
  EXPECT_FALSE(r.image);
}

// --- The host's context ---------------------------------------------------------------

TEST(ScriptContext, ChosenPicturesComeFirstAndOnlyNeededOnesAreMade) {
  HeadlessHost host;
  const Image frame = test::Solid(9, 9, 0xFF102030), texture = test::Solid(7, 7, 0xFF808080);
  TScriptContext c = BuildScriptContext(frame, 20.5f, 0xFF00FF00, texture, 39.5f, 1.5f);
  EXPECT_EQ(c.FrameCount(), 8);  // the chosen frame, then the seven built-in ones
  EXPECT_TRUE(c.FrameBitmaps[0] == frame);
  EXPECT_EQ(c.TextureCount(), 7);  // the chosen texture, then the six built-in ones
  EXPECT_TRUE(c.TextureBitmaps[0] == texture);
  EXPECT_EQ(c.FrameMarginSize, 20);  // rounded half to even
  EXPECT_EQ(c.TextureStrength, 40);
  EXPECT_EQ(c.FrameMarginColor, 0xFF00FF00u);
  EXPECT_TRUE(c.BrushAtlas);
  for (const Image& img : c.FrameBitmaps) EXPECT_TRUE(img);

  c = BuildScriptContext(Image(), 20, 0xFFFFFFFF, Image(), 50, 1);
  EXPECT_EQ(c.FrameCount(), 7);
  EXPECT_EQ(c.TextureCount(), 6);

  const TScriptNeeds none = ScriptNeeds(Parsed({"RESET", "TEXT 1 1 x"}));
  EXPECT_FALSE(none.Textures || none.Frames || none.BrushAtlas);
  const TScriptNeeds brush = ScriptNeeds(Parsed({"FRAME brushstrokes"}));
  EXPECT_TRUE(brush.BrushAtlas && !brush.Frames && !brush.Textures);
  c = BuildScriptContext(frame, 20, 0, texture, 50, 1, ScriptNeeds(Parsed({"TEXTURE #1", "FRAME #2"})));
  EXPECT_EQ(c.TextureCount(), 7);
  EXPECT_EQ(c.FrameCount(), 8);
  EXPECT_FALSE(c.BrushAtlas);
  // Only the pictures the script names are decoded; the others keep their place.
  EXPECT_TRUE(c.TextureBitmaps[0] == texture);
  EXPECT_TRUE(c.FrameBitmaps[0] == frame);
  for (int i = 1; i < 7; ++i) EXPECT_EQ(bool(c.TextureBitmaps[size_t(i)]), i == 1) << "texture " << i;
  for (int i = 1; i < 8; ++i) EXPECT_EQ(bool(c.FrameBitmaps[size_t(i)]), i == 2) << "frame " << i;
  EXPECT_TRUE(c.FrameBitmaps[2] == Repository().Picture("FrameList/2"));
}

}  // namespace
