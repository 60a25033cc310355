#include "effects/photolab/photolab_common.h"

#include "resources/repository.h"

namespace lq::photolab {

std::atomic<bool> g_avx2Disabled{false};

Image EmbeddedPicture(const std::string& name) {
  // A host that supplies its own pictures decides alone (tests run without
  // the film texture that way); otherwise the program's own.
  EffectDriver* d = DriverIfAny();
  if (d && d->BuiltinImage) return d->BuiltinImage(name);
  return Repository().Picture(name);
}

}  // namespace lq::photolab
