// Scale2x rows four pixels at a time in the 64-bit MMX registers.
//
// Each group of four source pixels costs five loads, three compares, the
// and / and-not / or blends and two interleaving stores, with no branch per
// pixel. The first group takes its left neighbours from the row shifted in
// register with the first pixel repeated; the last group is placed flush
// with the row's end (overlapping its predecessor when the width is not a
// multiple of four) and takes its right neighbours the same way, so no load
// leaves the row. The caller empties the MMX state once per frame.
#include <mmintrin.h>

#include "scaler.h"

namespace quorvix {

namespace {

// MMX loads and stores have no alignment requirement.
typedef __m64 UnalignedM64 __attribute__((aligned(1)));

inline __m64 Load(const Pixel16* p) {
  return *reinterpret_cast<const UnalignedM64*>(p);
}

inline void Store(Pixel16* p, __m64 v) {
  *reinterpret_cast<UnalignedM64*>(p) = v;
}

// e0 e0 e1 e2: the left neighbours of the row's first group.
inline __m64 LeftEdge(__m64 e) {
  return _mm_or_si64(_mm_slli_si64(e, 16), _mm_srli_si64(_mm_slli_si64(e, 48), 48));
}

// e1 e2 e3 e3: the right neighbours of the row's last group.
inline __m64 RightEdge(__m64 e) {
  return _mm_or_si64(_mm_srli_si64(e, 16), _mm_slli_si64(_mm_srli_si64(e, 48), 48));
}

inline void Group(__m64 x, __m64 y, __m64 d, __m64 e, __m64 f, Pixel16* out) {
  const __m64 my = _mm_cmpeq_pi16(y, x);
  const __m64 md = _mm_cmpeq_pi16(d, x);
  const __m64 mf = _mm_cmpeq_pi16(f, x);
  const __m64 selL = _mm_andnot_si64(_mm_or_si64(my, mf), md);
  const __m64 selR = _mm_andnot_si64(_mm_or_si64(my, md), mf);
  const __m64 l = _mm_or_si64(_mm_and_si64(selL, x), _mm_andnot_si64(selL, e));
  const __m64 r = _mm_or_si64(_mm_and_si64(selR, x), _mm_andnot_si64(selR, e));
  Store(out, _mm_unpacklo_pi16(l, r));
  Store(out + 4, _mm_unpackhi_pi16(l, r));
}

}  // namespace

void ScaleRow2x_MMX(const Pixel16* near, const Pixel16* centre,
                    const Pixel16* far, Pixel16* out, uint32_t width) {
  if (width < 4) {
    ScaleRow2x_Reference(near, centre, far, out, width);
    return;
  }
  const uint32_t last = width - 4;  // start of the group flush with the end
  {
    const __m64 e = Load(centre);
    const __m64 f = last == 0 ? RightEdge(e) : Load(centre + 1);
    Group(Load(near), Load(far), LeftEdge(e), e, f, out);
  }
  for (uint32_t i = 4; i < last; i += 4) {
    Group(Load(near + i), Load(far + i), Load(centre + i - 1), Load(centre + i),
          Load(centre + i + 1), out + 2 * size_t{i});
  }
  if (last > 0) {
    const __m64 e = Load(centre + last);
    Group(Load(near + last), Load(far + last), Load(centre + last - 1), e,
          RightEdge(e), out + 2 * size_t{last});
  }
}

void EndFrame_MMX() { _mm_empty(); }

}  // namespace quorvix
