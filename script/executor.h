// Runs a parsed script on a picture: one working image, named slots, a text
// style, and the frames, textures and brush atlas the host hands over.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/gfx/image.h"
#include "engine/pixel.h"
#include "script/script_types.h"

namespace lq {

// What the host hands to a run (copied into the engine when it starts).
struct TScriptContext {
  // FRAME #N: index 0 is the host's chosen frame when there is one, then the built-in frames.
  std::vector<Image> FrameBitmaps;
  int32_t FrameMarginSize = 20;               // default margin of FRAME
  TAlphaColor FrameMarginColor = 0xFFFFFFFF;  // default colour of FRAME and FRAME brushstrokes
  int32_t TextureStrength = 50;               // default strength of TEXTURE
  float TextureScale = 1.0f;                  // default scale of TEXTURE
  Image BrushAtlas;                           // FRAME brushstrokes; none: that command fails
  // TEXTURE #N: index 0 is the host's chosen texture when there is one, then the built-in textures.
  std::vector<Image> TextureBitmaps;

  int32_t FrameCount() const { return int32_t(FrameBitmaps.size()); }
  int32_t TextureCount() const { return int32_t(TextureBitmaps.size()); }
};

// The parts of a context a script reads; the built-in pictures of the others
// need not be decoded for it.
struct TScriptNeeds {
  bool Textures = true;
  bool Frames = true;
  bool BrushAtlas = true;
  // With OnlyListed, just the #N a script names are decoded; the lists keep
  // their length, so counts and messages stay the same.
  bool OnlyListed = false;
  std::set<int32_t> TextureIndexes, FrameIndexes;
};
TScriptNeeds ScriptNeeds(const std::vector<TScriptCommand>& script);

// The host's choices as a context: its chosen frame and texture (either may
// be empty) ahead of the built-in lists, and the embedded template brushes.
TScriptContext BuildScriptContext(const Image& storedFrame, float storedFrameSize, TAlphaColor storedFrameColor,
                                  const Image& storedTexture, float storedTextureStrength, float storedTextureScale,
                                  TScriptNeeds needs = {});

// The style FONT sets and TEXT uses.
struct TScriptTextState {
  std::string FontName = "Arial";
  float FontSize = 24.0f;
  TFontStyle FontStyle;
  TAlphaColor Color = 0xFFFFFFFF;
  bool Shadow = false;  // no command sets it; TEXT shadow=on asks per line
};

// Called before each step with the step number from 1, the number of steps
// and the step text.
using TScriptProgressProc = std::function<void(int AStep, int ATotal, const std::string& AStepName)>;
// True when the run is to stop.
using TScriptCancelFunc = std::function<bool()>;

// What a run needs of the window it works for. Calls come from the run's
// thread; implementations hand them to their UI thread and wait.
class TScriptHost {
 public:
  virtual ~TScriptHost() = default;
  // The erase-background setting effects honour: read at the start, written
  // by CLEAR / NOCLEAR, written back at the end of every run.
  virtual bool ReadEraseBackground() = 0;
  virtual void WriteEraseBackground(bool on) = 0;
  // A resized working image becomes the displayed result at once.
  virtual void TakeResizedImage(const Image& img) = 0;
  // Runs one effect step. `erase` is the run's own setting; a host that runs
  // several scripts at once makes sure the effect sees it.
  virtual void RunEffectStep(bool /*erase*/, const std::function<void()>& step) { step(); }
};

// The host behind the process's effect driver: its erase-background switch
// and its displayed image, changed on its UI thread.
class TDriverScriptHost : public TScriptHost {
 public:
  bool ReadEraseBackground() override;
  void WriteEraseBackground(bool on) override;
  void TakeResizedImage(const Image& img) override;
};

// The step text shown for a command ("Save → a", "Resize to 50%x50%", ...).
std::string ScriptStepText(const TScriptCommand& cmd);

class TScriptEngine {
 public:
  // Without a host the engine works for the process's effect driver.
  explicit TScriptEngine(TScriptHost* host = nullptr);
  ~TScriptEngine();
  TScriptEngine(const TScriptEngine&) = delete;
  TScriptEngine& operator=(const TScriptEngine&) = delete;

  // Runs the script on the calling thread. Returns the final working image
  // and an empty AError, or an empty image and a one-line AError. The host's
  // erase-background setting is as before the run whatever happens.
  Image Run(const std::vector<TScriptCommand>& AScript, const Image& ASourceImage, const Image& AWorkingImage,
            const TScriptContext& AContext, std::string& AError);

  TScriptProgressProc OnProgress;
  TScriptCancelFunc OnCancel;

  // Read access for whoever drives the engine (and its tests).
  const std::map<std::string, Image>& Slots() const { return FSlots; }
  const TScriptTextState& TextState() const { return FTextState; }

 private:
  void Execute(const TScriptCommand& cmd);
  void CheckCancel();
  void DoEffect(const TScriptCommand& cmd);
  void DoSave(const TScriptCommand& cmd);
  void DoLoad(const TScriptCommand& cmd);
  void DoSwap(const TScriptCommand& cmd);
  void DoReset(const TScriptCommand& cmd);
  void DoBlend(const TScriptCommand& cmd);
  void DoTexture(const TScriptCommand& cmd);
  void DoFrame(const TScriptCommand& cmd);
  void DoText(const TScriptCommand& cmd);
  void DoFont(const TScriptCommand& cmd);
  void DoResize(const TScriptCommand& cmd);
  void DoClear(const TScriptCommand& cmd);

  Image FWorking;
  std::map<std::string, Image> FSlots;
  TScriptTextState FTextState;
  TScriptContext FContext;
  // What effects that paint over the current picture start from: the picture
  // the host shows, which only a resize changes during a run.
  Image FStartImage;
  bool FErase = false;  // the run's erase-background setting

  TScriptHost* FHost;
  std::unique_ptr<TDriverScriptHost> FOwnHost;
};

}  // namespace lq
