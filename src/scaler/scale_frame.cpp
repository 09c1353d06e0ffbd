// The frame walk: per source row one pair call (or two row calls for kernels
// without one), with the edge rows standing in for the missing neighbours
// above the top and below the bottom.
#include "scaler.h"

namespace quorvix {

namespace {

const Pixel16* Advance(const Pixel16* row, uintptr_t bytes) {
  return reinterpret_cast<const Pixel16*>(reinterpret_cast<uintptr_t>(row) + bytes);
}

Pixel16* Advance(Pixel16* row, uintptr_t bytes) {
  return reinterpret_cast<Pixel16*>(reinterpret_cast<uintptr_t>(row) + bytes);
}

}  // namespace

void ScaleFrame2x(const RowKernel& kernel, const Pixel16* source,
                  uint32_t sourcePitch, Pixel16* target, uint32_t targetPitch,
                  uint32_t width, uint32_t height) {
  // Rows step by whole pixels; an odd pitch is rounded down.
  const uintptr_t sourceStep = sourcePitch & ~uintptr_t{1};
  // Large targets bypass the caches: their lines are not read back before
  // the frame ends, and the source rows stay cached for their next uses.
  const bool stream = kernel.pairStream != nullptr &&
                      uint64_t{width} * height * 8 >= kStreamingTargetBytes;
  const ScaleRowPair2xFn pair = stream ? kernel.pairStream : kernel.pair;
  const ScaleRow2xFn row = kernel.row;
  const Pixel16* above = source;
  const Pixel16* centre = source;
  Pixel16* line = target;
  for (uint32_t y = 0; y < height; ++y) {
    const Pixel16* below = y + 1 < height ? Advance(centre, sourceStep) : centre;
    Pixel16* lower = Advance(line, targetPitch);
    if (pair != nullptr) {
      pair(above, centre, below, line, lower, width);
    } else {
      row(above, centre, below, line, width);
      row(below, centre, above, lower, width);
    }
    above = centre;
    centre = below;
    line = Advance(line, uintptr_t{targetPitch} * 2);
  }
  if (kernel.endFrame != nullptr) kernel.endFrame();
}

}  // namespace quorvix
