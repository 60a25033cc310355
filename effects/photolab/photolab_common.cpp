#include "effects/photolab/photolab_common.h"

namespace lq::photolab {

std::atomic<bool> g_avx2Disabled{false};

Image EmbeddedPicture(const std::string& name) {
  EffectDriver* d = DriverIfAny();
  if (d && d->BuiltinImage) return d->BuiltinImage(name);
  return {};
}

}  // namespace lq::photolab
