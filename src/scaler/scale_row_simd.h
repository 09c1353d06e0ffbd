// The row walk shared by the SSE2, AVX2 and AVX-512 kernels. Each of those
// files defines a struct `Vec` with its vector type and five operations, then
// instantiates ScaleRowVector for it. Everything here has internal linkage,
// so each file gets its own copy compiled for its own instruction set, and no
// copy built with wide instructions can stand in for another file's code.
// (For the same reason the kernel files call no inline function of the
// standard library: the linker could keep their wide-instruction copy.)
//
// Vec provides:
//   kLanes                       pixels per group (vector bytes / 2)
//   V Load(const Pixel16*)       unaligned load of kLanes pixels
//   V LeftEdge(V e)              e0 e0 e1 ... : e shifted right one lane,
//                                its first pixel repeated
//   V RightEdge(V e)             e1 ... eN eN : shifted left, last repeated
//   void Group(x, y, d, e, f, V* lo, V* hi)
//                                the two target vectors of one group: the
//                                rule's left/right outputs interleaved
//   void Store(Pixel16*, V)      unaligned store
//   void StoreStream(Pixel16*, V)  non-temporal store, vector-aligned address
#ifndef QUORVIX_SCALE_ROW_SIMD_H
#define QUORVIX_SCALE_ROW_SIMD_H

#include "scaler.h"

namespace quorvix {
namespace {

// One group of kLanes source pixels starting at pixel i, written to out + 2i.
template <typename Vec, bool kStream>
inline void Group(typename Vec::V x, typename Vec::V y, typename Vec::V d, typename Vec::V e,
                  typename Vec::V f, Pixel16* out) {
  typename Vec::V lo, hi;
  Vec::Group(x, y, d, e, f, &lo, &hi);
  if (kStream) {
    Vec::StoreStream(out, lo);
    Vec::StoreStream(out + Vec::kLanes, hi);
  } else {
    Vec::Store(out, lo);
    Vec::Store(out + Vec::kLanes, hi);
  }
}

// The group at pixel i, at either end of the row too: the first group builds
// its left neighbours in register, the one flush with the row's end its
// right neighbours, so no load leaves [0, width).
template <typename Vec, bool kStream>
inline void EdgeGroup(const Pixel16* near, const Pixel16* centre, const Pixel16* far, Pixel16* out,
                      uint32_t width, uint32_t i) {
  const typename Vec::V e = Vec::Load(centre + i);
  const typename Vec::V d = i == 0 ? Vec::LeftEdge(e) : Vec::Load(centre + i - 1);
  const typename Vec::V f = i + Vec::kLanes == width ? Vec::RightEdge(e) : Vec::Load(centre + i + 1);
  Group<Vec, kStream>(Vec::Load(near + i), Vec::Load(far + i), d, e, f, out + 2 * size_t{i});
}

// Pixels [begin, end) of the row (at least one group): a group at begin, then
// groups every kLanes pixels from `next` (begin < next <= begin + kLanes), and
// one flush with `end`, overlapping its predecessor where the span is not a
// whole number of groups. So there is no scalar tail.
template <typename Vec, bool kStream>
inline void Groups(const Pixel16* near, const Pixel16* centre, const Pixel16* far, Pixel16* out,
                   uint32_t width, uint32_t begin, uint32_t next, uint32_t end) {
  constexpr uint32_t n = Vec::kLanes;
  EdgeGroup<Vec, kStream>(near, centre, far, out, width, begin);
  for (uint32_t i = next; i < end - n; i += n) {
    Group<Vec, kStream>(Vec::Load(near + i), Vec::Load(far + i), Vec::Load(centre + i - 1),
                        Vec::Load(centre + i), Vec::Load(centre + i + 1), out + 2 * size_t{i});
  }
  if (end - n > begin) EdgeGroup<Vec, kStream>(near, centre, far, out, width, end - n);
}

// A whole row. Rows narrower than one group take the plain rule.
//
// Plain stores: the groups after the first start where their stores fall on
// a vector boundary of the target (when the line's address is a multiple of
// 4 bytes, else no group store can be aligned), so no store straddles two
// cache lines.
//
// Streaming: the middle of the line, whole cache lines of it, is written with
// aligned non-temporal stores; the two ends with plain stores, so that no
// cache line receives both kinds (which costs a round trip to memory).
template <typename Vec, bool kStream>
inline void ScaleRowVector(const Pixel16* near, const Pixel16* centre, const Pixel16* far,
                           Pixel16* out, uint32_t width) {
  constexpr uint32_t n = Vec::kLanes;
  if (width < n) {
    ScaleRow2x_Reference(near, centre, far, out, width);
    return;
  }
  // Pixel i's two target pixels start at byte address + 4i.
  const uint32_t address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(out));
  const bool wordAligned = (address & 3) == 0;
  if (kStream && wordAligned) {
    constexpr uint32_t kLinePixels = 16;  // a 64-byte cache line of target
    constexpr uint32_t step = n > kLinePixels ? n : kLinePixels;
    // First pixel at or after n whose target starts a cache line; the
    // streamed span is a whole number of steps, leaving at least one group.
    const uint32_t first = n + ((0u - (address >> 2) - n) & (kLinePixels - 1));
    if (first + step + n <= width) {
      const uint32_t end = first + (width - n - first) / step * step;
      Groups<Vec, false>(near, centre, far, out, width, 0, n, first);
      Groups<Vec, true>(near, centre, far, out, width, first, first + n, end);
      Groups<Vec, false>(near, centre, far, out, width, end, end + n, width);
      return;
    }
  }
  // Group i's stores are vector-aligned when 4i = -address (mod 2n).
  const uint32_t next = wordAligned ? n - ((address >> 2) & (n / 2 - 1)) : n;
  Groups<Vec, false>(near, centre, far, out, width, 0, next, width);
}

}  // namespace
}  // namespace quorvix

#endif  // QUORVIX_SCALE_ROW_SIMD_H
