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
//   void StoreStream(Pixel16*, V)  non-temporal store, aligned address
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

// The first group builds its left neighbours in register; the last group sits
// flush with the row's end, overlapping its predecessor when the width is not
// a multiple of kLanes, and builds its right neighbours in register. So no
// load leaves [0, width) of any row and there is no scalar tail. The groups in
// between start where their stores fall on a vector boundary of the target
// (when the line allows it: its address a multiple of 4 bytes), which keeps
// every store inside one cache line and lets the streaming variant use
// aligned non-temporal stores. Rows narrower than one group take the plain
// rule.
template <typename Vec, bool kStream>
inline void ScaleRowVector(const Pixel16* near, const Pixel16* centre, const Pixel16* far,
                           Pixel16* out, uint32_t width) {
  typedef typename Vec::V V;
  constexpr uint32_t n = Vec::kLanes;
  if (width < n) {
    ScaleRow2x_Reference(near, centre, far, out, width);
    return;
  }
  const uintptr_t address = reinterpret_cast<uintptr_t>(out);
  if (kStream && (address & 3) != 0) {
    // Group stores can never be aligned on this line: plain stores.
    ScaleRowVector<Vec, false>(near, centre, far, out, width);
    return;
  }
  const uint32_t last = width - n;  // start of the group flush with the end
  {
    const V e = Vec::Load(centre);
    const V f = last == 0 ? Vec::RightEdge(e) : Vec::Load(centre + 1);
    Group<Vec, false>(Vec::Load(near), Vec::Load(far), Vec::LeftEdge(e), e, f, out);
  }
  // Group i stores 2 * n pixels at byte address + 4i; with address a multiple
  // of 4 that is a multiple of the vector size (2n bytes) for i in (n/2, n].
  uint32_t i = n;
  if ((address & 3) == 0) i = n - static_cast<uint32_t>((address >> 2) & (n / 2 - 1));
  for (; i < last; i += n) {
    Group<Vec, kStream>(Vec::Load(near + i), Vec::Load(far + i), Vec::Load(centre + i - 1),
                        Vec::Load(centre + i), Vec::Load(centre + i + 1), out + 2 * size_t{i});
  }
  if (last > 0) {
    const V e = Vec::Load(centre + last);
    Group<Vec, false>(Vec::Load(near + last), Vec::Load(far + last), Vec::Load(centre + last - 1),
                      e, Vec::RightEdge(e), out + 2 * size_t{last});
  }
}

}  // namespace
}  // namespace quorvix

#endif  // QUORVIX_SCALE_ROW_SIMD_H
