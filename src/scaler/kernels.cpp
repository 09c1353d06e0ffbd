// The kernels this build carries, and the choice among them.
#include "scaler.h"

namespace quorvix {

namespace {

// Narrowest first. Which entries exist is decided when the module is built.
const RowKernel kKernels[] = {
#ifdef QUORVIX_KERNEL_REFERENCE
    {"reference", ScaleRow2x_Reference, 0, nullptr},
#endif
#ifdef QUORVIX_KERNEL_MMX
    {"mmx", ScaleRow2x_MMX, kCpuMMX, EndFrame_MMX},
#endif
};

// The plain rule always runs, also in a build that carries only SIMD kernels
// and lands on a processor without them.
const RowKernel kFallback = {"reference", ScaleRow2x_Reference, 0, nullptr};

}  // namespace

const RowKernel* CompiledKernels(size_t* count) {
  *count = sizeof(kKernels) / sizeof(kKernels[0]);
  return kKernels;
}

bool KernelSupported(const RowKernel& kernel) {
  return (CpuFeatures() & kernel.needs) == kernel.needs;
}

const RowKernel& SelectedKernel() {
  size_t count;
  const RowKernel* kernels = CompiledKernels(&count);
  for (size_t i = count; i-- > 0;) {
    if (KernelSupported(kernels[i])) return kernels[i];
  }
  return kFallback;
}

}  // namespace quorvix
