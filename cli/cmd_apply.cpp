// lumaquill-cli apply EFFECT [P1 .. P5] INPUT... (-o OUT | --out-dir DIR)
//   [--brush-frame WIDTH [--frame-brush N]] [--texture NAME|FILE ...] [--frame NAME|FILE ...]
//   [--brushes FILE...]; EFFECT "none" applies only the frames and texture.
#include <fmt/core.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <filesystem>

#include "cli/commands.h"
#include "cli/image_io.h"
#include "cli/runner.h"
#include "effects/overlay/builtin_pictures.h"
#include "effects/overlay/frame.h"
#include "effects/overlay/texture_overlay.h"
#include "effects/painting/brushstrokes_frame.h"
#include "engine/catalogue.h"
#include "i18n/translate.h"
#include "resources/brush_loader.h"

namespace lq::cli {

namespace fs = std::filesystem;

namespace {

// --- Brushstroke frame (--brush-frame) ------------------------------------
// Painted right after the effect, in the border colour of --frame-color.

constexpr int64_t kNoBrushFrame = INT64_MIN;

struct BrushFrameOptions {
  int64_t width = kNoBrushFrame;
  int64_t brush = 40;
};

void AddBrushFrameOptions(CLI::App* cmd, BrushFrameOptions& o) {
  cmd->add_option("--brush-frame", o.width,
                  "brushstroke frame after the effect: border width in pixels on every side, in the colour of "
                  "--frame-color (0: strokes over the picture's edges only)");
  cmd->add_option("--frame-brush", o.brush, "stroke size of the brushstroke frame (default 40)");
}

bool WantsBrushFrame(const BrushFrameOptions& o) { return o.width != kNoBrushFrame; }

// False (with a message) for values no frame can take.
bool CheckBrushFrameOptions(const BrushFrameOptions& o) {
  if (!WantsBrushFrame(o)) return true;
  if (o.width < 0) {
    fmt::print(stderr, "lumaquill-cli apply: --brush-frame must be 0 or more, got {}\n", o.width);
    return false;
  }
  if (o.brush < 1) {
    fmt::print(stderr, "lumaquill-cli apply: --frame-brush must be 1 or more, got {}\n", o.brush);
    return false;
  }
  return true;
}

// The frame tool of the studio on the runner's host, with its progress line
// and Ctrl+C as cancel. Empty with *error set when it did not frame.
Image ApplyBrushFrame(Runner& runner, const Image& img, const BrushFrameOptions& o, TAlphaColor colour,
                      std::string* error) {
  if (Runner::Interrupted()) {
    *error = "cancelled";
    return {};
  }
  HeadlessHost& host = runner.host();
  EffectDriver& d = host.driver();
  d.VIrImage = img;
  d.VIrSourceImage = img;
  host.messages.clear();
  bool done = false, replaced = false;
  if (!AddBrushstrokesFrame(colour, o.width, o.brush, [&](bool r) {
        done = true;
        replaced = r;
      })) {
    *error = host.messages.empty() ? "the frame could not start" : host.messages.back();
    return {};
  }
  host.loop().RunUntil([&] {
    if (Runner::Interrupted()) d.Cancel = true;
    return done;
  });
  if (replaced) return d.VIrImage;
  *error = !host.messages.empty() ? host.messages.back() : (Runner::Interrupted() ? "cancelled" : "not framed");
  return {};
}

// ---------------------------------------------------------------------------

struct ApplyOptions {
  std::vector<std::string> words;  // EFFECT, up to five integers, then inputs
  std::string out;
  std::string outDir;
  // Applied to the result, in this order.
  std::string texture;
  int textureStrength = 50;
  float textureScale = 1.0f;
  std::string frame;
  int frameMargin = 20;
  std::string frameColor = "#FFFFFFFF";
  std::vector<std::string> brushes;  // custom brushes (PNG or ZIP) for 302, 303, 304
  BrushFrameOptions brushFrame;
};

// A built-in picture by name, or an image file; the error names both.
Image PictureArgument(const std::string& what, const std::string& word, const std::vector<std::string>& builtins,
                      Image (*builtin)(const std::string&)) {
  if (Image img = builtin(word)) return img;
  std::string err;
  if (fs::exists(word))
    if (Image img = LoadImage(word, &err)) return img;
  std::string names;
  for (const std::string& n : builtins) names += (names.empty() ? "" : ", ") + n;
  if (fs::exists(word))
    fmt::print(stderr, "lumaquill-cli apply: {}\n", err);
  else
    fmt::print(stderr, "lumaquill-cli apply: no {} named '{}' and no such file (built-in: {})\n", what, word,
               names.empty() ? "none" : names);
  return {};
}

// #AARRGGBB or #RRGGBB (opaque).
bool ParseColor(const std::string& s, TAlphaColor* c) {
  if (s.size() != 7 && s.size() != 9) return false;
  if (s[0] != '#') return false;
  uint32_t v = 0;
  auto [ptr, ec] = std::from_chars(s.data() + 1, s.data() + s.size(), v, 16);
  if (ec != std::errc() || ptr != s.data() + s.size()) return false;
  *c = s.size() == 7 ? (0xFF000000u | v) : v;
  return true;
}

int RunApply(const ApplyOptions& o) {
  if (o.words.empty()) {
    fmt::print(stderr, "lumaquill-cli apply: missing EFFECT (see lumaquill-cli effects)\n");
    return 2;
  }
  // "none": no effect, only the texture and frame options.
  const bool noEffect = o.words[0] == "none";
  int number = noEffect ? -1 : ParseEffect(o.words[0]);
  if (!noEffect && (number < 0 || !FindEffectProc(number))) {
    fmt::print(stderr, "lumaquill-cli apply: unknown effect '{}' (see lumaquill-cli effects)\n", o.words[0]);
    return 2;
  }
  if (!CheckBrushFrameOptions(o.brushFrame)) return 2;
  if (noEffect && o.texture.empty() && o.frame.empty() && !WantsBrushFrame(o.brushFrame)) {
    fmt::print(stderr, "lumaquill-cli apply: 'none' needs --texture, --frame or --brush-frame\n");
    return 2;
  }
  const EffectInfo* info = noEffect ? nullptr : FindEffect(number);
  std::array<int, 5> p{};
  if (info) p = {info->defaults[0], info->defaults[1], info->defaults[2], info->defaults[3], info->defaults[4]};
  size_t i = 1;
  for (int k = 0; k < 5 && i < o.words.size() && !noEffect; ++k, ++i) {
    int v;
    if (!ParseInt(o.words[i], &v)) break;
    if (v < 0 || v > 100) {
      fmt::print(stderr, "lumaquill-cli apply: parameter P{} must be 0..100, got {}\n", k + 1, v);
      return 2;
    }
    p[size_t(k)] = v;
  }
  std::vector<std::string> inputs(o.words.begin() + long(i), o.words.end());
  if (inputs.empty()) {
    fmt::print(stderr, "lumaquill-cli apply: no input files\n");
    return 2;
  }
  if (o.out.empty() == o.outDir.empty()) {
    fmt::print(stderr, "lumaquill-cli apply: give either -o OUT or --out-dir DIR\n");
    return 2;
  }
  if (!o.out.empty() && inputs.size() != 1) {
    fmt::print(stderr, "lumaquill-cli apply: -o takes one input; use --out-dir for several\n");
    return 2;
  }
  if (o.textureStrength < 0 || o.textureStrength > 100) {
    fmt::print(stderr, "lumaquill-cli apply: --texture-strength must be 0..100, got {}\n", o.textureStrength);
    return 2;
  }
  if (!(o.textureScale > 0) || !std::isfinite(o.textureScale)) {
    fmt::print(stderr, "lumaquill-cli apply: --texture-scale must be above 0, got {}\n", o.textureScale);
    return 2;
  }
  if (o.frameMargin < 0 || o.frameMargin > 10000) {
    fmt::print(stderr, "lumaquill-cli apply: --frame-margin must be 0..10000, got {}\n", o.frameMargin);
    return 2;
  }
  TAlphaColor frameColor = 0;
  if (!ParseColor(o.frameColor, &frameColor)) {
    fmt::print(stderr, "lumaquill-cli apply: --frame-color must be #AARRGGBB or #RRGGBB, got '{}'\n", o.frameColor);
    return 2;
  }
  Image texture, frame;
  if (!o.texture.empty() &&
      !(texture = PictureArgument("texture", o.texture, BuiltinTextureNames(), &BuiltinTexture)))
    return 2;
  if (!o.frame.empty() && !(frame = PictureArgument("frame", o.frame, BuiltinFrameNames(), &BuiltinFrame)))
    return 2;
  if (!o.outDir.empty()) {
    std::error_code ec;
    fs::create_directories(o.outDir, ec);
    if (!fs::is_directory(o.outDir)) {
      fmt::print(stderr, "lumaquill-cli apply: cannot create directory {}\n", o.outDir);
      return 1;
    }
  }

  Runner runner;
  if (!o.brushes.empty()) {
    if (number != 302 && number != 303 && number != 304) {
      fmt::print(stderr, "lumaquill-cli apply: --brushes applies to effects 302, 303 and 304 only\n");
      return 2;
    }
    BrushLoadResult loaded = LoadBrushesToRepository(o.brushes);
    if (loaded.count <= 0) {
      fmt::print(stderr, "{}\n", Translate(kBrushLoadError));
      return 1;
    }
    // What loading custom brushes in the window does for the selected effect.
    EffectDriver& d = runner.host().driver();
    d.Brushes = loaded.atlas;
    d.GlobalBrushCount = loaded.count;
    if (number == 302) {
      d.CustomBrushesOn302 = true;
      d.CustomBrushBitmap302 = loaded.atlas;
    } else if (number == 303) {
      d.CustomBrushesOn303 = true;
      d.CustomBrushBitmap303 = loaded.atlas;
    } else {
      d.CustomBrushesOn304 = true;
      d.CustomBrushBitmap304 = loaded.atlas;
      d.CustomBrushCount304 = loaded.count;
    }
  }
  int written = 0;
  for (const std::string& in : inputs) {
    if (Runner::Interrupted()) break;
    std::string err;
    Image src = LoadImage(in, &err);
    if (!src) {
      fmt::print(stderr, "{}\n", err);
      continue;
    }
    std::string out = o.out.empty() ? (fs::path(o.outDir) / fs::path(OutputNameFor(in)).filename()).string() : o.out;
    Image result = noEffect ? src : runner.Apply(number, p, src, fs::path(in).filename().string(), &err);
    if (!result) {
      fmt::print(stderr, "{}: {}\n", in, err);
      continue;
    }
    if (WantsBrushFrame(o.brushFrame) && !(result = ApplyBrushFrame(runner, result, o.brushFrame, frameColor, &err))) {
      fmt::print(stderr, "{}: {}\n", in, err);
      continue;
    }
    if (texture) result = ApplyCustomTexture(result, texture, o.textureStrength, o.textureScale);
    if (frame) {
      TFrameLayout layout = ComputeFrameLayout(result.width(), result.height(), frame, o.frameMargin);
      if (!layout.valid)
        fmt::print(stderr, "{}: the frame has no transparent window at its centre; not framed\n", in);
      else
        result = ComposeFrame(result, frame, layout, frameColor);
    }
    if (!SaveImage(result, out, &err)) {
      fmt::print(stderr, "{}: {}\n", out, err);
      continue;
    }
    ++written;
  }
  if (Runner::Interrupted()) fmt::print(stderr, "Cancelled.\n");
  return written == int(inputs.size()) ? 0 : 1;
}

}  // namespace

void AddApplyCommand(CLI::App& app, int& status) {
  auto opts = std::make_shared<ApplyOptions>();
  auto* cmd = app.add_subcommand(
      "apply",
      "Apply an effect: EFFECT (number, script id or name, or none), up to five parameters 0..100 "
      "(missing ones take the defaults), then the input files; optionally a brushstroke frame, a texture and a "
      "frame after it");
  cmd->add_option("words", opts->words, "EFFECT [P1 .. P5] INPUT...")->required();
  cmd->add_option("-o,--out", opts->out, "output file (one input); the extension picks the format");
  cmd->add_option("--out-dir", opts->outDir, "output folder; each output is named name_LQ.ext");
  cmd->add_option("--texture", opts->texture,
                  "texture overlay after the effect: a built-in texture (Canvas, Paper, Impasto, watercolor, "
                  "cardboard, fabric) or an image file");
  cmd->add_option("--texture-strength", opts->textureStrength, "texture strength 0..100 (default 50)");
  cmd->add_option("--texture-scale", opts->textureScale, "texture scale (default 1)");
  cmd->add_option("--frame", opts->frame,
                  "picture frame after the texture: a built-in frame 1..7 or an image file with a "
                  "transparent window");
  cmd->add_option("--frame-margin", opts->frameMargin, "margin between picture and frame in pixels (default 20)");
  cmd->add_option("--frame-color", opts->frameColor,
                  "margin colour of --frame and border colour of --brush-frame, #AARRGGBB (default #FFFFFFFF)");
  AddBrushFrameOptions(cmd, opts->brushFrame);
  cmd->add_option("--brushes", opts->brushes,
                  "custom brushes for 302, 303 and 304: PNG files and ZIP archives of PNG files "
                  "(after the inputs, or once per file)");
  cmd->callback([opts, &status] { status = RunApply(*opts); });
}

}  // namespace lq::cli
