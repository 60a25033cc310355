#include "script/executor.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <stdexcept>

#include "effects/overlay/frame.h"
#include "effects/overlay/texture_overlay.h"
#include "effects/painting/brushstrokes_frame.h"
#include "engine/abort.h"
#include "engine/catalogue.h"
#include "engine/driver.h"
#include "engine/gfx/surface.h"
#include "engine/random.h"
#include "resources/repository.h"
#include "script/image_ops.h"
#include "script/parser.h"
#include "script/surface_size.h"


namespace lq {

namespace {

// A step's own failure: its message is complete, line number included.
class EScriptFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::string LinePrefix(int32_t line) { return "Line " + std::to_string(line) + ": "; }

[[noreturn]] void Fail(const TScriptCommand& cmd, const std::string& what) {
  throw EScriptFailure(LinePrefix(cmd.LineNumber) + what);
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

std::string ResizeSideText(float value, bool percent) {
  if (percent) return FormatScriptNumber(value, 1) + "%";
  return std::to_string(Round(double(value)));
}

}  // namespace

// ---------------------------------------------------------------------------
// Host

bool TDriverScriptHost::ReadEraseBackground() {
  bool on = false;
  RunOnUi([&] { on = Driver().FEraseBdChecked.load(); });
  return on;
}

void TDriverScriptHost::WriteEraseBackground(bool on) {
  RunOnUi([on] { Driver().FEraseBdChecked = on; });
}

void TDriverScriptHost::TakeResizedImage(const Image& img) {
  RunOnUi([&img] {
    EffectDriver& d = Driver();
    d.VIrImage = img;
    d.host().RepaintWorkspace();
  });
}

TScriptNeeds ScriptNeeds(const std::vector<TScriptCommand>& script) {
  TScriptNeeds n{false, false, false, true, {}, {}};
  for (const TScriptCommand& c : script) {
    if (c.Kind == sckTexture) {
      n.Textures = true;
      n.TextureIndexes.insert(std::max(0, c.TextureIndex));
    } else if (c.Kind == sckFrame && c.FrameStyle != "brushstrokes") {
      n.Frames = true;
      n.FrameIndexes.insert(std::max(0, c.FrameIndex));
    } else if (c.Kind == sckFrame) {
      n.BrushAtlas = true;
    }
  }
  return n;
}

TScriptContext BuildScriptContext(const Image& storedFrame, float storedFrameSize, TAlphaColor storedFrameColor,
                                  const Image& storedTexture, float storedTextureStrength, float storedTextureScale,
                                  TScriptNeeds needs) {
  TScriptContext c;
  const ResourceRepository& repo = Repository();
  // Built-in pictures are several megapixels of PNG each: a batch script
  // should not decode the ones it never names.
  auto fill = [&](std::vector<Image>& out, const Image& chosen, const std::vector<std::string>& names,
                  const std::set<int32_t>& wanted) {
    if (chosen) out.push_back(chosen);
    for (const std::string& name : names) {
      const int32_t index = int32_t(out.size());
      out.push_back(!needs.OnlyListed || wanted.count(index) ? repo.Picture(name) : Image());
    }
  };
  if (needs.Frames) fill(c.FrameBitmaps, storedFrame, repo.FrameListNames(), needs.FrameIndexes);
  c.FrameMarginSize = int32_t(Round(storedFrameSize));
  c.FrameMarginColor = storedFrameColor;
  if (needs.Textures) fill(c.TextureBitmaps, storedTexture, repo.TextureListNames(), needs.TextureIndexes);
  c.TextureStrength = int32_t(Round(storedTextureStrength));
  c.TextureScale = storedTextureScale;
  if (needs.BrushAtlas) c.BrushAtlas = repo.Picture("TemplateMatchingBrushes");
  return c;
}

std::string ScriptStepText(const TScriptCommand& cmd) {
  switch (cmd.Kind) {
    case sckEffect:
      return EffectDisplayName(cmd.EffectNumber);
    case sckSave:
      return "Save \u2192 " + cmd.SlotName;
    case sckLoad:
      return "Load \u2190 " + cmd.SlotName;
    case sckSwap:
      return "Swap \u2194 " + cmd.SlotName;
    case sckReset:
      return "Reset to source";
    case sckBlend:
      return "Blend \u2190 " + cmd.BlendSlot;
    case sckTexture:
      return "Apply texture";
    case sckFrame:
      return cmd.FrameStyle == "brushstrokes" ? "Apply brushstrokes frame" : "Apply frame";
    case sckText:
      return "Draw text";
    case sckFont:
      return "Set font";
    case sckResize:
      return "Resize to " + ResizeSideText(cmd.ResizeW, cmd.ResizeWPercent) + "x" +
             ResizeSideText(cmd.ResizeH, cmd.ResizeHPercent);
    case sckClear:
      return cmd.P1 == 1 ? "Clear background" : "Keep background";
  }
  return {};
}

// ---------------------------------------------------------------------------
// Engine

TScriptEngine::TScriptEngine(TScriptHost* host) : FHost(host) {
  if (!FHost) {
    FOwnHost = std::make_unique<TDriverScriptHost>();
    FHost = FOwnHost.get();
  }
}

TScriptEngine::~TScriptEngine() = default;

Image TScriptEngine::Run(const std::vector<TScriptCommand>& AScript, const Image& ASourceImage,
                         const Image& AWorkingImage, const TScriptContext& AContext, std::string& AError) {
  AError.clear();
  if (AScript.empty()) {
    AError = "Script is empty";
    return {};
  }
  if (!ASourceImage || !AWorkingImage) {
    AError = "No image loaded";
    return {};
  }
  FContext = AContext;
  FSlots.clear();
  FSlots["src"] = ASourceImage;
  FSlots["dst"] = AWorkingImage;
  FWorking = AWorkingImage;
  FStartImage = AWorkingImage;
  FTextState = TScriptTextState();

  bool savedErase = false;
  try {
    savedErase = FHost->ReadEraseBackground();
  } catch (...) {
    // The host is shutting down: nothing has changed yet.
    AError = "Cancelled by user";
    return {};
  }
  FErase = savedErase;

  Image result;
  const int total = int(AScript.size());
  int32_t line = 0;
  try {
    for (int i = 0; i < total; ++i) {
      const TScriptCommand& cmd = AScript[size_t(i)];
      line = cmd.LineNumber;
      if (OnProgress) OnProgress(i + 1, total, ScriptStepText(cmd));
      CheckCancel();
      Execute(cmd);
    }
    result = FWorking;
  } catch (const EScriptFailure& e) {
    AError = e.what();
  } catch (const EAbort&) {
    AError = "Cancelled by user";
  } catch (const std::bad_alloc&) {
    AError = LinePrefix(line) + "Out of memory";
  } catch (const std::exception& e) {
    AError = LinePrefix(line) + e.what();
  } catch (...) {
    AError = LinePrefix(line) + "Unknown error";
  }
  try {
    FHost->WriteEraseBackground(savedErase);
  } catch (...) {
    // The host has gone; there is no setting left to restore.
  }
  if (!AError.empty()) result = Image();
  return result;
}

void TScriptEngine::CheckCancel() {
  if (OnCancel && OnCancel()) throw EAbort();
}

void TScriptEngine::Execute(const TScriptCommand& cmd) {
  switch (cmd.Kind) {
    case sckEffect:
      DoEffect(cmd);
      break;
    case sckSave:
      DoSave(cmd);
      break;
    case sckLoad:
      DoLoad(cmd);
      break;
    case sckSwap:
      DoSwap(cmd);
      break;
    case sckReset:
      DoReset(cmd);
      break;
    case sckBlend:
      DoBlend(cmd);
      break;
    case sckTexture:
      DoTexture(cmd);
      break;
    case sckFrame:
      DoFrame(cmd);
      break;
    case sckText:
      DoText(cmd);
      break;
    case sckFont:
      DoFont(cmd);
      break;
    case sckResize:
      DoResize(cmd);
      break;
    case sckClear:
      DoClear(cmd);
      break;
  }
}

void TScriptEngine::DoEffect(const TScriptCommand& cmd) {
  if (!FWorking) Fail(cmd, "No working image for EFFECT");
  // Numbers without an effect (the brushstroke frame's 900 included) leave the picture as it is.
  if (!FindEffect(cmd.EffectNumber) || !FindEffectProc(cmd.EffectNumber)) return;
  EffectDriver* driver = DriverIfAny();
  if (!driver) Fail(cmd, "No effect driver");
  auto surface = Surface::MakeRaster(FWorking.width(), FWorking.height());
  if (!surface) Fail(cmd, "Could not create surface");
  // The effect starts from a surface holding the working image: one that does
  // not clear its surface paints over it.
  surface->GetCanvas()->DrawImage(FWorking, 0, 0);
  FHost->RunEffectStep(FErase, [&] {
    driver->ProcessEffectOnSurface(FWorking, *surface, cmd.EffectNumber, cmd.P1, cmd.P2, cmd.P3, cmd.P4, cmd.P5,
                                   FStartImage);
  });
  // An effect may stop early on cancel without raising; its picture is unfinished.
  if (driver->Cancel.load()) throw EAbort();
  surface->Flush();
  FWorking = surface->MakeImageSnapshot();
}

void TScriptEngine::DoSave(const TScriptCommand& cmd) {
  if (!FWorking) Fail(cmd, "No working image to SAVE");
  FSlots[cmd.SlotName] = FWorking;
}

void TScriptEngine::DoLoad(const TScriptCommand& cmd) {
  auto it = FSlots.find(cmd.SlotName);
  if (it == FSlots.end()) Fail(cmd, "Slot " + Quoted(cmd.SlotName) + " not found");
  FWorking = it->second;
}

void TScriptEngine::DoSwap(const TScriptCommand& cmd) {
  auto it = FSlots.find(cmd.SlotName);
  if (it == FSlots.end()) Fail(cmd, "Slot " + Quoted(cmd.SlotName) + " not found");
  std::swap(FWorking, it->second);
}

void TScriptEngine::DoReset(const TScriptCommand& cmd) {
  auto it = FSlots.find("src");
  if (it == FSlots.end()) Fail(cmd, "\"src\" slot not found (should never happen)");
  FWorking = it->second;
}

void TScriptEngine::DoBlend(const TScriptCommand& cmd) {
  auto it = FSlots.find(cmd.BlendSlot);
  if (it == FSlots.end()) Fail(cmd, "Slot " + Quoted(cmd.BlendSlot) + " not found for BLEND");
  FWorking = BlendImages(FWorking, it->second, cmd.BlendOpacity, cmd.BlendMode);
}

void TScriptEngine::DoTexture(const TScriptCommand& cmd) {
  const int32_t index = std::max(0, cmd.TextureIndex);
  if (FContext.TextureCount() == 0) Fail(cmd, "No texture loaded (select a texture first)");
  if (index >= FContext.TextureCount())
    Fail(cmd, "Texture #" + std::to_string(index) + " not found (only " + std::to_string(FContext.TextureCount()) +
                  " available)");
  const Image& texture = FContext.TextureBitmaps[size_t(index)];
  if (!texture) Fail(cmd, "Texture #" + std::to_string(index) + " is empty");
  const int32_t strength = cmd.TextureStrength >= 0 ? cmd.TextureStrength : FContext.TextureStrength;
  const float scale = cmd.TextureScale >= 0 ? cmd.TextureScale : FContext.TextureScale;
  FWorking = ApplyCustomTexture(FWorking, texture, strength, scale);
}

void TScriptEngine::DoFrame(const TScriptCommand& cmd) {
  if (cmd.FrameStyle == "brushstrokes") {
    if (!FContext.BrushAtlas) Fail(cmd, "No brush atlas available for brushstrokes frame");
    const int32_t width = cmd.FrameSize >= 0 ? cmd.FrameSize : 60;
    const TAlphaColor color = cmd.FrameColor != 0 ? cmd.FrameColor : FContext.FrameMarginColor;
    const int32_t brush = std::clamp(cmd.FrameBrushSize, 10, 200);
    // The width comes from the script: refuse a border we cannot allocate.
    const std::string tooLarge =
        SurfaceSizeError(cmd.LineNumber, BrushFrameSize(FWorking.width(), FWorking.height(), width));
    if (!tooLarge.empty()) throw EScriptFailure(tooLarge);
    std::string why;
    Image framed = MakeBrushstrokesFrameImage(FWorking, FContext.BrushAtlas, color, width, brush, &why);
    if (!framed) Fail(cmd, why.empty() ? "Could not paint the brushstrokes frame" : why);
    FWorking = framed;
    return;
  }
  const int32_t index = std::max(0, cmd.FrameIndex);
  if (FContext.FrameCount() == 0) Fail(cmd, "No frame loaded (select a frame first)");
  if (index >= FContext.FrameCount())
    Fail(cmd, "Frame #" + std::to_string(index) + " not found (only " + std::to_string(FContext.FrameCount()) +
                  " available)");
  const Image& frame = FContext.FrameBitmaps[size_t(index)];
  if (!frame) Fail(cmd, "Frame #" + std::to_string(index) + " is empty");
  const int32_t margin = cmd.FrameSize >= 0 ? cmd.FrameSize : FContext.FrameMarginSize;
  const TAlphaColor color = cmd.FrameColor != 0 ? cmd.FrameColor : FContext.FrameMarginColor;
  // The margin comes from the script: refuse a framed picture we cannot allocate.
  const IRect hole = FindFrameHole(frame);
  if (!hole.isEmpty()) {
    const TSurfaceSize framed = ImageFrameSize(FWorking.width(), FWorking.height(), std::max(0, margin), hole.left,
                                               hole.top, frame.width() - hole.right, frame.height() - hole.bottom);
    const std::string tooLarge = SurfaceSizeError(cmd.LineNumber, framed);
    if (!tooLarge.empty()) throw EScriptFailure(tooLarge);
  }
  FWorking = ApplyImageFrame(FWorking, frame, margin, color);
}

void TScriptEngine::DoText(const TScriptCommand& cmd) {
  if (!FWorking) Fail(cmd, "No working image for TEXT");
  const std::string& family = !cmd.TextFontOverride.empty() ? cmd.TextFontOverride : FTextState.FontName;
  const float size = cmd.TextSizeOverride > 0 ? cmd.TextSizeOverride : FTextState.FontSize;
  const TFontStyle style =
      !cmd.TextStyleOverride.empty() ? ParseFontStyle(cmd.TextStyleOverride) : FTextState.FontStyle;
  const TAlphaColor color = cmd.TextColorOverride != 0 ? cmd.TextColorOverride : FTextState.Color;
  const bool shadow = cmd.TextShadowOverride == 1 ? true : (cmd.TextShadowOverride == 0 ? false : FTextState.Shadow);
  FWorking = DrawTextOnImage(FWorking, cmd.TextX, cmd.TextY, cmd.TextXPercent, cmd.TextYPercent, cmd.TextString, family,
                             size, style, color, shadow);
}

void TScriptEngine::DoFont(const TScriptCommand& cmd) {
  if (!cmd.FontName.empty()) FTextState.FontName = cmd.FontName;
  if (cmd.FontSize > 0) FTextState.FontSize = cmd.FontSize;
  if (!cmd.FontStyleStr.empty()) FTextState.FontStyle = ParseFontStyle(cmd.FontStyleStr);
  if (cmd.FontColor != 0) FTextState.Color = cmd.FontColor;
}

void TScriptEngine::DoResize(const TScriptCommand& cmd) {
  if (!FWorking) Fail(cmd, "No working image for RESIZE");
  const TSurfaceSize size = ResizeTargetSize(cmd, FWorking.width(), FWorking.height());
  // Refused before anything is allocated: the size comes from the script.
  const std::string tooLarge = SurfaceSizeError(cmd.LineNumber, size);
  if (!tooLarge.empty()) throw EScriptFailure(tooLarge);
  const int w = int(size.Width), h = int(size.Height);
  try {
    FWorking = ResizeImage(FWorking, w, h);
    // RESET after a resize loads a source of the new size; no other slot changes.
    auto src = FSlots.find("src");
    if (src != FSlots.end()) src->second = ResizeImage(src->second, w, h);
  } catch (const EImageOpError&) {
    Fail(cmd, "Could not create " + std::to_string(w) + "x" + std::to_string(h) + " surface");
  }
  FStartImage = FWorking;
  FHost->TakeResizedImage(FWorking);
}

void TScriptEngine::DoClear(const TScriptCommand& cmd) {
  FErase = cmd.P1 == 1;
  FHost->WriteEraseBackground(FErase);
}

}  // namespace lq
