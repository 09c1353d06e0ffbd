// Scale2x rows thirty-two pixels at a time in the 512-bit AVX-512 registers
// (F and BW): the compares give mask registers, which drive the blends, and
// one two-source word permute interleaves each output vector.
#include <immintrin.h>

#include "scale_row_simd.h"

namespace quorvix {

namespace {

// Lane indices: the edge vectors e0 e0 e1 .. e30 and e1 .. e31 e31, and the
// interleave of L (lanes 0-31) with R (32-63) into two output vectors.
alignas(64) const uint16_t kLeftEdge[32] = {0,  0,  1,  2,  3,  4,  5,  6,  7,  8,  9,
                                            10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20,
                                            21, 22, 23, 24, 25, 26, 27, 28, 29, 30};
alignas(64) const uint16_t kRightEdge[32] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11,
                                             12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22,
                                             23, 24, 25, 26, 27, 28, 29, 30, 31, 31};
alignas(64) const uint16_t kInterleaveLow[32] = {0,  32, 1,  33, 2,  34, 3,  35, 4,  36, 5,
                                                 37, 6,  38, 7,  39, 8,  40, 9,  41, 10, 42,
                                                 11, 43, 12, 44, 13, 45, 14, 46, 15, 47};
alignas(64) const uint16_t kInterleaveHigh[32] = {16, 48, 17, 49, 18, 50, 19, 51, 20, 52, 21,
                                                  53, 22, 54, 23, 55, 24, 56, 25, 57, 26, 58,
                                                  27, 59, 28, 60, 29, 61, 30, 62, 31, 63};

struct Vec {
  typedef __m512i V;
  typedef __mmask32 Vertical;  // set where near and far differ
  static constexpr uint32_t kLanes = 32;

  static V Load(const Pixel16* p) { return _mm512_loadu_si512(p); }
  static void Store(Pixel16* p, V v) { _mm512_storeu_si512(p, v); }
  static void StoreStream(Pixel16* p, V v) { _mm512_stream_si512(reinterpret_cast<V*>(p), v); }

  static V LeftEdge(V e) { return _mm512_permutexvar_epi16(_mm512_load_si512(kLeftEdge), e); }
  static V RightEdge(V e) { return _mm512_permutexvar_epi16(_mm512_load_si512(kRightEdge), e); }

  static Vertical Compare(V x, V y) { return _mm512_cmpneq_epi16_mask(x, y); }

  static void Line(V x, V d, V e, V f, Vertical open, V* lo, V* hi) {
    // D = X and F = X, each only where Y differs from X; a side takes X where
    // its own neighbour matches and the other one does not.
    const __mmask32 kd = _mm512_mask_cmpeq_epi16_mask(open, d, x);
    const __mmask32 kf = _mm512_mask_cmpeq_epi16_mask(open, f, x);
    const V l = _mm512_mask_blend_epi16(_kandn_mask32(kf, kd), e, x);
    const V r = _mm512_mask_blend_epi16(_kandn_mask32(kd, kf), e, x);
    *lo = _mm512_permutex2var_epi16(l, _mm512_load_si512(kInterleaveLow), r);
    *hi = _mm512_permutex2var_epi16(l, _mm512_load_si512(kInterleaveHigh), r);
  }
};

}  // namespace

void ScaleRow2x_AVX512BW(const Pixel16* near, const Pixel16* centre, const Pixel16* far,
                         Pixel16* out, uint32_t width) {
  ScaleRowVector<Vec, false, false>({near, centre, far, out, nullptr, width});
}

void ScaleRowPair2x_AVX512BW(const Pixel16* above, const Pixel16* centre, const Pixel16* below,
                             Pixel16* upper, Pixel16* lower, uint32_t width) {
  ScaleRowVector<Vec, true, false>({above, centre, below, upper, lower, width});
}

void ScaleRowPair2x_AVX512BW_Stream(const Pixel16* above, const Pixel16* centre,
                                    const Pixel16* below, Pixel16* upper, Pixel16* lower,
                                    uint32_t width) {
  ScaleRowVector<Vec, true, true>({above, centre, below, upper, lower, width});
}

void EndFrame_AVX512BW() { _mm_sfence(); }

}  // namespace quorvix
