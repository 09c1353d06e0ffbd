// Scale2x rows four pixels at a time in the 64-bit MMX registers.
//
// Each group of four source pixels costs five loads, three compares, the
// and / and-not / or blends and two interleaving stores, with no branch per
// pixel; the row walk is the one the wider kernels share. The caller empties
// the MMX state once per frame.
#include <mmintrin.h>

#include "scale_row_simd.h"

namespace quorvix {

namespace {

// MMX loads and stores have no alignment requirement.
typedef __m64 UnalignedM64 __attribute__((aligned(1)));

struct Vec {
  typedef __m64 V;
  typedef __m64 Vertical;  // all ones where near and far are equal
  static constexpr uint32_t kLanes = 4;

  static V Load(const Pixel16* p) { return *reinterpret_cast<const UnalignedM64*>(p); }
  static void Store(Pixel16* p, V v) { *reinterpret_cast<UnalignedM64*>(p) = v; }

  static V LeftEdge(V e) {  // e0 e0 e1 e2
    return _mm_or_si64(_mm_slli_si64(e, 16), _mm_srli_si64(_mm_slli_si64(e, 48), 48));
  }
  static V RightEdge(V e) {  // e1 e2 e3 e3
    return _mm_or_si64(_mm_srli_si64(e, 16), _mm_slli_si64(_mm_srli_si64(e, 48), 48));
  }

  static Vertical Compare(V x, V y) { return _mm_cmpeq_pi16(x, y); }

  static void Line(V x, V d, V e, V f, Vertical same, V* lo, V* hi) {
    const V md = _mm_cmpeq_pi16(d, x);
    const V mf = _mm_cmpeq_pi16(f, x);
    const V selL = _mm_andnot_si64(_mm_or_si64(same, mf), md);
    const V selR = _mm_andnot_si64(_mm_or_si64(same, md), mf);
    const V l = _mm_or_si64(_mm_and_si64(selL, x), _mm_andnot_si64(selL, e));
    const V r = _mm_or_si64(_mm_and_si64(selR, x), _mm_andnot_si64(selR, e));
    *lo = _mm_unpacklo_pi16(l, r);
    *hi = _mm_unpackhi_pi16(l, r);
  }
};

}  // namespace

void ScaleRow2x_MMX(const Pixel16* near, const Pixel16* centre, const Pixel16* far,
                    Pixel16* out, uint32_t width) {
  ScaleRowVector<Vec, false, false>({near, centre, far, out, nullptr, width});
}

void EndFrame_MMX() { _mm_empty(); }

}  // namespace quorvix
