// Pixel kernels behind the image filters: Gaussian blur, 3 x 3 convolution,
// colour matrix. They work on premultiplied engine buffers, split rows across
// cores, and accept src == dst for in-place use.
#pragma once

#include <array>
#include <cstdint>

#include "engine/gfx/image.h"
#include "engine/gfx/paint.h"

namespace lq {

// Separable Gaussian blur with a per-axis sigma. Pixels beyond the edge come
// from the tile mode (Decal: transparent). dst has src's size. Sigma <= 0 on an
// axis leaves that axis unblurred.
void GaussianBlur(ConstPixelView src, PixelView dst, float sigmaX, float sigmaY, TileMode tile);

// The same for one byte per pixel (masks, grey maps) and one float per pixel.
void GaussianBlurA8(const uint8_t* src, uint8_t* dst, int width, int height, size_t stride, float sigmaX,
                    float sigmaY, TileMode tile);
void GaussianBlurF32(const float* src, float* dst, int width, int height, float sigmaX, float sigmaY, TileMode tile);

// 3 x 3 convolution: out = gain * sum(k[i] * px) + bias (bias in 0..1 units),
// kernel centred at kernelOffset. Colour is convolved unpremultiplied when
// convolveAlpha is false (alpha then kept), premultiplied otherwise.
void Convolve3x3(ConstPixelView src, PixelView dst, const std::array<float, 9>& kernel, float gain, float bias,
                 IPoint kernelOffset, TileMode tile, bool convolveAlpha);

// Applies a 4 x 5 colour matrix (straight colour, 0..1 units) to every pixel.
void ApplyColorMatrix(ConstPixelView src, PixelView dst, const ColorMatrix& m);

// Number of pixels a blur of this sigma reaches beyond its centre.
int BlurRadius(float sigma);

}  // namespace lq
