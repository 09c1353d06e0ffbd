// The fit test, the frame and the reported size of one RenderPluginOutput call.
#include "frame_output.h"

#include <stdint.h>

namespace quorvix {

namespace {

uint32_t Doubled(uint32_t size) {
  const uint64_t doubled = uint64_t{size} * 2;
  return doubled > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(doubled);
}

}  // namespace

void OutputFrame(const RowKernel& kernel, RenderPluginOutputParams* params) {
  const uint32_t width = params->SourceWidth;
  const uint32_t height = params->SourceHeight;
  // The fit test in 64 bits: a doubled size never wraps past the target's.
  if (uint64_t{width} * 2 <= params->TargetWidth &&
      uint64_t{height} * 2 <= params->TargetHeight) {
    ScaleFrame2x(kernel, params->SourcePixels, params->SourcePitch, params->TargetPixels,
                 params->TargetPitch, width, height);
  }
  params->ResultWidth = Doubled(width);
  params->ResultHeight = Doubled(height);
}

}  // namespace quorvix
