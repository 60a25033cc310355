// Helpers of the sketch effects' hot loops.
#pragma once

#include <sys/mman.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cmath>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>

namespace lq {

// Round, half to even, for values well inside the int range. The SSE2
// conversion rounds by the current mode (to nearest even) without a call.
#if defined(__SSE2__)
inline int RoundInt(double v) { return _mm_cvtsd_si32(_mm_set_sd(v)); }
#else
inline int RoundInt(double v) { return int(std::nearbyint(v)); }
#endif

// Working arrays of whole-picture size that are read at random places. They
// are backed by huge pages where the kernel offers them: with 4 KiB pages a
// 12-megapixel array spans thousands of pages and nearly every random read
// would also miss the TLB.
template <typename T>
class LargeBuffer {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

 public:
  LargeBuffer() = default;
  ~LargeBuffer() { std::free(data_); }
  LargeBuffer(const LargeBuffer&) = delete;
  LargeBuffer& operator=(const LargeBuffer&) = delete;

  // Uninitialised storage for n elements; false when the memory cannot be had.
  bool Allocate(size_t n) {
    std::free(data_);
    data_ = nullptr;
    size_ = 0;
    if (n == 0 || n > SIZE_MAX / sizeof(T)) return n == 0;
    constexpr size_t kHuge = size_t(2) << 20;
    size_t bytes = n * sizeof(T);
    size_t align = bytes >= kHuge ? kHuge : alignof(std::max_align_t);
    size_t rounded = (bytes + align - 1) / align * align;
    void* p = std::aligned_alloc(align, rounded);
    if (!p) return false;
    if (align == kHuge) madvise(p, rounded, MADV_HUGEPAGE);  // a hint; failure is harmless
    data_ = static_cast<T*>(p);
    size_ = n;
    return true;
  }
  bool Fill(size_t n, const T& v) {
    if (!Allocate(n)) return false;
    for (size_t i = 0; i < n; ++i) data_[i] = v;
    return true;
  }

  T* data() { return data_; }
  const T* data() const { return data_; }
  size_t size() const { return size_; }
  T& operator[](size_t i) { return data_[i]; }
  const T& operator[](size_t i) const { return data_[i]; }

 private:
  T* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace lq
