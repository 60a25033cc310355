// An overview of the embedded pictures: labelled thumbnails on one sheet.
#pragma once

#include "engine/gfx/image.h"
#include "resources/repository.h"

namespace lq {

// Every distinct picture of the repository (aliases such as "Brushes" are
// shown once, under the picture they stand for) as a thumbnail with its name
// and size; transparency shows as a checkerboard.
Image MakeOverviewSheet(const ResourceRepository& repo);

}  // namespace lq
