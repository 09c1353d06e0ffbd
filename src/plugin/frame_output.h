// One frame of RenderPluginOutput with a chosen row kernel: the fit test, the
// frame walk and the result size. Internal; the module calls it with the
// selected kernel, and the fuzzer with every kernel of the build.
#ifndef QUORVIX_FRAME_OUTPUT_H
#define QUORVIX_FRAME_OUTPUT_H

#include "render_plugin.h"
#include "scaler.h"

namespace quorvix {

void OutputFrame(const RowKernel& kernel, RenderPluginOutputParams* params);

}  // namespace quorvix

#endif  // QUORVIX_FRAME_OUTPUT_H
