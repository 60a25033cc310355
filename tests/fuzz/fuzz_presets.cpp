// Any bytes as a preset file: the reader never crashes, and whatever it
// loaded survives a save and a second load unchanged.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "document/presets.h"

using namespace lq;

namespace {

// Made at run time: clang 14 crashes trying to constant-evaluate a static table.
const ParamTable& Defaults() {
  static const ParamTable* table = [] {
    auto* t = new ParamTable;
    InitializeParameters(*t);
    return t;
  }();
  return *table;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ParamTable loaded = Defaults();
  ReadParameters(std::string_view(reinterpret_cast<const char*>(data), size), loaded);

  // Writing and rereading 2403 lines costs far more than the read under test, so
  // only every 16th input takes the round trip (always the first, so a saved
  // finding reproduces on its own).
  static unsigned calls = 0;
  if (calls++ % 16 != 0) return 0;

  ParamTable again;
  ReadParameters(FormatParameters(loaded), again);
  for (size_t c = 0; c < loaded.size(); ++c)
    for (size_t i = 0; i < loaded[c].size(); ++i) {
      const TParameters& a = loaded[c][i];
      const TParameters& b = again[c][i];
      if (a.Value1 != b.Value1 || a.Value2 != b.Value2 || a.Value3 != b.Value3 || a.Value4 != b.Value4 ||
          a.Value5 != b.Value5 || a.Name1 != b.Name1 || a.Name2 != b.Name2 || a.Name3 != b.Name3 ||
          a.Name4 != b.Name4 || a.Name5 != b.Name5)
        std::abort();
    }
  return 0;
}
