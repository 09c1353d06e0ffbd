// The Scale2x rule stated plainly, one source pixel at a time.
#include "scaler.h"

namespace quorvix {

void ScaleRow2x_Reference(const Pixel16* near, const Pixel16* centre,
                          const Pixel16* far, Pixel16* out, uint32_t width) {
  for (uint32_t i = 0; i < width; ++i) {
    const Pixel16 e = centre[i];
    const Pixel16 x = near[i];
    const Pixel16 y = far[i];
    const Pixel16 d = i > 0 ? centre[i - 1] : e;          // left edge repeats
    const Pixel16 f = i + 1 < width ? centre[i + 1] : e;  // right edge repeats
    // A corner takes the near neighbour when it meets the side neighbour on
    // that corner's side and neither the far nor the other side neighbour.
    out[2 * size_t{i}] = (d == x && y != x && f != x) ? x : e;
    out[2 * size_t{i} + 1] = (f == x && y != x && d != x) ? x : e;
  }
}

}  // namespace quorvix
