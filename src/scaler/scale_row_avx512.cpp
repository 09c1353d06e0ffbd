// Scale2x rows thirty-two pixels at a time in the 512-bit AVX-512 registers
// (F and BW): the compares give mask registers, which drive the blends.
#include <immintrin.h>

#include "scale_row_simd.h"

namespace quorvix {

namespace {

// Lane indices for the edge vectors: e0 e0 e1 .. e30 and e1 .. e31 e31.
alignas(64) const uint16_t kLeftEdge[32] = {0,  0,  1,  2,  3,  4,  5,  6,  7,  8,  9,
                                            10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20,
                                            21, 22, 23, 24, 25, 26, 27, 28, 29, 30};
alignas(64) const uint16_t kRightEdge[32] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11,
                                             12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22,
                                             23, 24, 25, 26, 27, 28, 29, 30, 31, 31};

struct Vec {
  typedef __m512i V;
  static constexpr uint32_t kLanes = 32;

  static V Load(const Pixel16* p) { return _mm512_loadu_si512(p); }
  static void Store(Pixel16* p, V v) { _mm512_storeu_si512(p, v); }
  static void StoreStream(Pixel16* p, V v) { _mm512_stream_si512(reinterpret_cast<V*>(p), v); }

  static V LeftEdge(V e) { return _mm512_permutexvar_epi16(_mm512_load_si512(kLeftEdge), e); }
  static V RightEdge(V e) { return _mm512_permutexvar_epi16(_mm512_load_si512(kRightEdge), e); }

  static void Group(V x, V y, V d, V e, V f, V* lo, V* hi) {
    // D = X and F = X, each only where Y differs from X; a side takes X where
    // its own neighbour matches and the other one does not.
    const __mmask32 open = _mm512_cmpneq_epi16_mask(y, x);
    const __mmask32 kd = _mm512_mask_cmpeq_epi16_mask(open, d, x);
    const __mmask32 kf = _mm512_mask_cmpeq_epi16_mask(open, f, x);
    const V l = _mm512_mask_blend_epi16(_kandn_mask32(kf, kd), e, x);
    const V r = _mm512_mask_blend_epi16(_kandn_mask32(kd, kf), e, x);
    // The interleave works within 128-bit quarters: a holds pixels 0-3,
    // 8-11, 16-19, 24-27 of the pair stream, b 4-7, 12-15, ...; one
    // two-source permute of 64-bit words puts each output in pixel order.
    const V a = _mm512_unpacklo_epi16(l, r);
    const V b = _mm512_unpackhi_epi16(l, r);
    *lo = _mm512_permutex2var_epi64(a, _mm512_set_epi64(11, 10, 3, 2, 9, 8, 1, 0), b);
    *hi = _mm512_permutex2var_epi64(a, _mm512_set_epi64(15, 14, 7, 6, 13, 12, 5, 4), b);
  }
};

}  // namespace

void ScaleRow2x_AVX512BW(const Pixel16* near, const Pixel16* centre, const Pixel16* far,
                         Pixel16* out, uint32_t width) {
  ScaleRowVector<Vec, false>(near, centre, far, out, width);
}

void ScaleRow2x_AVX512BW_Stream(const Pixel16* near, const Pixel16* centre, const Pixel16* far,
                                Pixel16* out, uint32_t width) {
  ScaleRowVector<Vec, true>(near, centre, far, out, width);
}

void EndFrame_AVX512BW() { _mm_sfence(); }

}  // namespace quorvix
