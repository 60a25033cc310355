// Photo-lab effects (Orton filter 400, Adjustments 401, Vintage sepia 402,
// Retro film 403). The routines register themselves under their numbers; the
// declarations here let tools and tests call them directly.
#pragma once

#include "engine/gfx/surface.h"

namespace lq {

void OrtonFilter(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5, bool Preview);
void Adjustments(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5, bool Preview);
void VintageSepia(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5, bool Preview);
void RetroFilm(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5, bool Preview);

// Brightness, contrast and saturation of Adjustments as one colour matrix.
ColorMatrix AdjustmentsColorMatrix(int P1, int P2, int P3);

// Vintage sepia with an explicit film texture (empty: grain from the hash
// alone). The registered routine passes the embedded "OldFilmTexture".
void VintageSepiaWithTexture(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5, bool Preview,
                             const Image& FilmTexture);

}  // namespace lq
