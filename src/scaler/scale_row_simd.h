// The row walk shared by the MMX, SSE2, AVX2 and AVX-512 kernels. Each of those
// files defines a struct `Vec` with its vector type and a few operations,
// then instantiates ScaleRowVector for it. Everything here has internal
// linkage, so each file gets its own copy compiled for its own instruction
// set, and no copy built with wide instructions can stand in for another
// file's code. (For the same reason the kernel files call no inline function
// of the standard library: the linker could keep their wide-instruction copy.)
//
// Vec provides:
//   V, kLanes                     vector type, pixels per vector
//   V Load(const Pixel16*)        unaligned load
//   void Store(Pixel16*, V)       unaligned store
//   void StoreStream(Pixel16*, V) non-temporal store, vector-aligned address
//                                 (only for kernels with a streaming pair)
//   V LeftEdge(V e)               e0 e0 e1 ... : e one lane on, e0 repeated
//   V RightEdge(V e)              e1 ... eN eN : e one lane back, eN repeated
//   Vertical                      near and far compared, as Line takes it
//   Vertical Compare(V x, V y)    (the same for either order of the two)
//   void Line(x, d, e, f, vertical, V* lo, V* hi)
//                                 the rule for one target line, its left and
//                                 right pixels interleaved into two vectors
#ifndef QUORVIX_SCALE_ROW_SIMD_H
#define QUORVIX_SCALE_ROW_SIMD_H

#include "scaler.h"

namespace quorvix {
namespace {

// What one call works on. A single line takes `a` as its near row and `b` as
// its far row and writes `upper`; a pair also writes `lower`, for which `b`
// is near and `a` far. The pair shares the loads of the three source rows
// and the compare of a with b between its two lines.
struct Rows {
  const Pixel16* a;
  const Pixel16* centre;
  const Pixel16* b;
  Pixel16* upper;
  Pixel16* lower;
  uint32_t width;
};

template <typename Vec, bool kStream>
inline void Put(Pixel16* out, typename Vec::V lo, typename Vec::V hi) {
  if constexpr (kStream) {
    Vec::StoreStream(out, lo);
    Vec::StoreStream(out + Vec::kLanes, hi);
  } else {
    Vec::Store(out, lo);
    Vec::Store(out + Vec::kLanes, hi);
  }
}

// The group of source pixels [i, i + kLanes), given its left neighbours d,
// the pixels e and its right neighbours f.
template <typename Vec, bool kPair, bool kStream>
inline void Group(const Rows& r, uint32_t i, typename Vec::V d, typename Vec::V e,
                  typename Vec::V f) {
  const typename Vec::V a = Vec::Load(r.a + i);
  const typename Vec::V b = Vec::Load(r.b + i);
  const typename Vec::Vertical vertical = Vec::Compare(a, b);
  typename Vec::V lo, hi;
  Vec::Line(a, d, e, f, vertical, &lo, &hi);
  Put<Vec, kStream>(r.upper + 2 * size_t{i}, lo, hi);
  if (kPair) {
    Vec::Line(b, d, e, f, vertical, &lo, &hi);
    Put<Vec, kStream>(r.lower + 2 * size_t{i}, lo, hi);
  }
}

// The group at pixel i, at either end of the row too: the first group builds
// its left neighbours in register, the one flush with the row's end its
// right neighbours, so no load leaves [0, width).
template <typename Vec, bool kPair, bool kStream>
inline void EdgeGroup(const Rows& r, uint32_t i) {
  const typename Vec::V e = Vec::Load(r.centre + i);
  const typename Vec::V d = i == 0 ? Vec::LeftEdge(e) : Vec::Load(r.centre + i - 1);
  const typename Vec::V f = i + Vec::kLanes == r.width ? Vec::RightEdge(e) : Vec::Load(r.centre + i + 1);
  Group<Vec, kPair, kStream>(r, i, d, e, f);
}

// Pixels [begin, end) of the row (at least one group): a group at begin, then
// groups every kLanes pixels from `next` (begin < next <= begin + kLanes), and
// one flush with `end`, overlapping its predecessor where the span is not a
// whole number of groups. So there is no scalar tail.
template <typename Vec, bool kPair, bool kStream>
inline void Groups(const Rows& r, uint32_t begin, uint32_t next, uint32_t end) {
  constexpr uint32_t n = Vec::kLanes;
  EdgeGroup<Vec, kPair, kStream>(r, begin);
  for (uint32_t i = next; i < end - n; i += n) {
    Group<Vec, kPair, kStream>(r, i, Vec::Load(r.centre + i - 1), Vec::Load(r.centre + i),
                               Vec::Load(r.centre + i + 1));
  }
  if (end - n > begin) EdgeGroup<Vec, kPair, kStream>(r, end - n);
}

// A whole row. Rows narrower than one group take the plain rule.
//
// Plain stores: the groups after the first start where their stores to the
// upper line fall on a vector boundary (when its address is a multiple of
// 4 bytes, else no group store can be aligned), so those stores never
// straddle two cache lines.
//
// Streaming (when both lines sit alike on cache lines): the middle of the
// line, whole cache lines of it, is written with aligned non-temporal
// stores and the two ends with plain stores, so that no cache line receives
// both kinds (which costs a round trip to memory).
template <typename Vec, bool kPair, bool kStream>
inline void ScaleRowVector(const Rows& r) {
  constexpr uint32_t n = Vec::kLanes;
  if (r.width < n) {
    ScaleRow2x_Reference(r.a, r.centre, r.b, r.upper, r.width);
    if (kPair) ScaleRow2x_Reference(r.b, r.centre, r.a, r.lower, r.width);
    return;
  }
  // Pixel i's two target pixels start at byte address + 4i.
  const uint32_t address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(r.upper));
  const bool wordAligned = (address & 3) == 0;
  if constexpr (kStream) {
    const bool linesAlike =
        !kPair || ((reinterpret_cast<uintptr_t>(r.lower) - reinterpret_cast<uintptr_t>(r.upper)) & 63) == 0;
    if (wordAligned && linesAlike) {
      constexpr uint32_t kLinePixels = 16;  // a 64-byte cache line of target
      constexpr uint32_t step = n > kLinePixels ? n : kLinePixels;
      // First pixel at or after n whose target starts a cache line; the
      // streamed span is a whole number of steps, leaving at least one group.
      const uint32_t first = n + ((0u - (address >> 2) - n) & (kLinePixels - 1));
      if (first + step + n <= r.width) {
        const uint32_t end = first + (r.width - n - first) / step * step;
        Groups<Vec, kPair, false>(r, 0, n, first);
        Groups<Vec, kPair, true>(r, first, first + n, end);
        Groups<Vec, kPair, false>(r, end, end + n, r.width);
        return;
      }
    }
  }
  // Group i's stores are vector-aligned when 4i = -address (mod 2n).
  const uint32_t next = wordAligned ? n - ((address >> 2) & (n / 2 - 1)) : n;
  Groups<Vec, kPair, false>(r, 0, next, r.width);
}

}  // namespace
}  // namespace quorvix

#endif  // QUORVIX_SCALE_ROW_SIMD_H
