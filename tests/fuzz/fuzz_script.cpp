// Any bytes as a script file: reading and parsing never crash, and what the
// parser accepts stays consistent with the renderers and the size checks.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "document/textio.h"
#include "script/parser.h"
#include "script/surface_size.h"

using namespace lq;

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool HasBothQuotes(const std::string& s) {
  return s.find('"') != std::string::npos && s.find('\'') != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const DecodedText text = DecodeText(std::string_view(reinterpret_cast<const char*>(data), size));
  Check(DecodeText(EncodeText(text.utf8, text.encoding)).utf8 == text.utf8);

  const std::vector<std::string> lines = SplitLines(text.utf8);
  const TScriptParseResult r = ParseScript(lines);
  Check(r.Ok == r.Errors.empty());
  int32_t last = 0;
  for (const TScriptCommand& c : r.Commands) {
    Check(c.LineNumber > last && size_t(c.LineNumber) <= lines.size());
    last = c.LineNumber;
    switch (c.Kind) {
      case sckResize:
        Check(c.ResizeW > 0 && c.ResizeH > 0);
        SurfaceSizeError(c.LineNumber, ResizeTargetSize(c, 4000, 3000));
        break;
      case sckFrame:
        SurfaceSizeError(c.LineNumber, BrushFrameSize(4000, 3000, c.FrameSize));
        SurfaceSizeError(c.LineNumber, ImageFrameSize(4000, 3000, c.FrameSize, 50, 50, 50, 50));
        break;
      case sckBlend:
        Check(c.BlendOpacity >= 0.0f && c.BlendOpacity <= 1.0f);
        break;
      case sckText:
        if (!HasBothQuotes(c.TextString)) {
          const TScriptParseResult back = ParseScript({FormatTextCommand("0", "0", c.TextString)});
          Check(back.Ok && back.Commands.size() == 1 && back.Commands[0].TextString == c.TextString);
        }
        break;
      case sckFont:
        if (!HasBothQuotes(c.FontName)) {
          const TScriptParseResult back = ParseScript({FormatFontCommand(c.FontName, c.FontSize, "", "")});
          Check(back.Ok && back.Commands.size() == 1 && back.Commands[0].FontName == c.FontName);
        }
        break;
      default:
        break;
    }
  }
  return 0;
}
