// Scale2x rows sixteen pixels at a time in the 256-bit AVX2 registers. The
// word interleave and the byte shifts of AVX2 work within each 128-bit half,
// so the edge vectors and the interleaved output take one cross-half permute.
#include <immintrin.h>

#include "scale_row_simd.h"

namespace quorvix {

namespace {

struct Vec {
  typedef __m256i V;
  typedef __m256i Vertical;  // all ones where near and far are equal
  static constexpr uint32_t kLanes = 16;

  static V Load(const Pixel16* p) { return _mm256_loadu_si256(reinterpret_cast<const V*>(p)); }
  static void Store(Pixel16* p, V v) { _mm256_storeu_si256(reinterpret_cast<V*>(p), v); }
  static void StoreStream(Pixel16* p, V v) { _mm256_stream_si256(reinterpret_cast<V*>(p), v); }

  static V LeftEdge(V e) {  // e0 e0 e1 .. e14
    // [0 | e.low] lets alignr carry e7 into the upper half; then the first
    // two lanes are set to e0.
    const V shifted = _mm256_alignr_epi8(e, _mm256_permute2x128_si256(e, e, 0x08), 14);
    return _mm256_blend_epi32(shifted, _mm256_shufflelo_epi16(e, 0x00), 0x01);
  }
  static V RightEdge(V e) {  // e1 .. e15 e15
    // [e.high | 0] carries e8 into the lower half; the last two lanes are
    // set to e15.
    const V shifted = _mm256_alignr_epi8(_mm256_permute2x128_si256(e, e, 0x81), e, 2);
    return _mm256_blend_epi32(shifted, _mm256_shufflehi_epi16(e, 0xFF), 0x80);
  }

  static Vertical Compare(V x, V y) { return _mm256_cmpeq_epi16(x, y); }

  static void Line(V x, V d, V e, V f, Vertical same, V* lo, V* hi) {
    const V md = _mm256_cmpeq_epi16(d, x);
    const V mf = _mm256_cmpeq_epi16(f, x);
    // Where exactly one of D and F equals X and Y does not, that side takes X.
    const V one = _mm256_andnot_si256(same, _mm256_xor_si256(md, mf));
    const V l = _mm256_blendv_epi8(e, x, _mm256_and_si256(one, md));
    const V r = _mm256_blendv_epi8(e, x, _mm256_and_si256(one, mf));
    // Within each half: a = pairs of pixels 0-3 | 8-11, b = 4-7 | 12-15;
    // the permutes put the halves in pixel order.
    const V a = _mm256_unpacklo_epi16(l, r);
    const V b = _mm256_unpackhi_epi16(l, r);
    *lo = _mm256_permute2x128_si256(a, b, 0x20);
    *hi = _mm256_permute2x128_si256(a, b, 0x31);
  }
};

}  // namespace

void ScaleRow2x_AVX2(const Pixel16* near, const Pixel16* centre, const Pixel16* far,
                     Pixel16* out, uint32_t width) {
  ScaleRowVector<Vec, false, false>({near, centre, far, out, nullptr, width});
}

void ScaleRowPair2x_AVX2(const Pixel16* above, const Pixel16* centre, const Pixel16* below,
                         Pixel16* upper, Pixel16* lower, uint32_t width) {
  ScaleRowVector<Vec, true, false>({above, centre, below, upper, lower, width});
}

void ScaleRowPair2x_AVX2_Stream(const Pixel16* above, const Pixel16* centre, const Pixel16* below,
                                Pixel16* upper, Pixel16* lower, uint32_t width) {
  ScaleRowVector<Vec, true, true>({above, centre, below, upper, lower, width});
}

void EndFrame_AVX2() { _mm_sfence(); }

}  // namespace quorvix
