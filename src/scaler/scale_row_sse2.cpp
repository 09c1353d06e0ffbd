// Scale2x rows eight pixels at a time in the 128-bit SSE2 registers: the MMX
// kernel's compare / blend / interleave sequence on twice the lanes.
#include <emmintrin.h>

#include "scale_row_simd.h"

namespace quorvix {

namespace {

struct Vec {
  typedef __m128i V;
  typedef __m128i Vertical;  // all ones where near and far are equal
  static constexpr uint32_t kLanes = 8;

  static V Load(const Pixel16* p) { return _mm_loadu_si128(reinterpret_cast<const V*>(p)); }
  static void Store(Pixel16* p, V v) { _mm_storeu_si128(reinterpret_cast<V*>(p), v); }
  static void StoreStream(Pixel16* p, V v) { _mm_stream_si128(reinterpret_cast<V*>(p), v); }

  static V LeftEdge(V e) {  // e0 e0 e1 .. e6
    return _mm_or_si128(_mm_slli_si128(e, 2), _mm_srli_si128(_mm_slli_si128(e, 14), 14));
  }
  static V RightEdge(V e) {  // e1 .. e7 e7
    return _mm_or_si128(_mm_srli_si128(e, 2), _mm_slli_si128(_mm_srli_si128(e, 14), 14));
  }

  static Vertical Compare(V x, V y) { return _mm_cmpeq_epi16(x, y); }

  static void Line(V x, V d, V e, V f, Vertical same, V* lo, V* hi) {
    const V md = _mm_cmpeq_epi16(d, x);
    const V mf = _mm_cmpeq_epi16(f, x);
    // Where exactly one of D and F equals X and Y does not, that side takes
    // X: e ^ (x ^ e) there, e elsewhere.
    const V one = _mm_andnot_si128(same, _mm_xor_si128(md, mf));
    const V flip = _mm_and_si128(one, _mm_xor_si128(x, e));
    const V l = _mm_xor_si128(e, _mm_and_si128(flip, md));
    const V r = _mm_xor_si128(e, _mm_and_si128(flip, mf));
    *lo = _mm_unpacklo_epi16(l, r);
    *hi = _mm_unpackhi_epi16(l, r);
  }
};

}  // namespace

void ScaleRow2x_SSE2(const Pixel16* near, const Pixel16* centre, const Pixel16* far,
                     Pixel16* out, uint32_t width) {
  ScaleRowVector<Vec, false, false>({near, centre, far, out, nullptr, width});
}

void ScaleRowPair2x_SSE2(const Pixel16* above, const Pixel16* centre, const Pixel16* below,
                         Pixel16* upper, Pixel16* lower, uint32_t width) {
  ScaleRowVector<Vec, true, false>({above, centre, below, upper, lower, width});
}

void ScaleRowPair2x_SSE2_Stream(const Pixel16* above, const Pixel16* centre, const Pixel16* below,
                                Pixel16* upper, Pixel16* lower, uint32_t width) {
  ScaleRowVector<Vec, true, true>({above, centre, below, upper, lower, width});
}

void EndFrame_SSE2() { _mm_sfence(); }

}  // namespace quorvix
