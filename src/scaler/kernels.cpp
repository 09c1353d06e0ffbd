// The kernels this build carries, and the choice among them.
#include "scaler.h"

namespace quorvix {

namespace {

// Narrowest first. Which entries exist is decided when the module is built.
const RowKernel kKernels[] = {
#ifdef QUORVIX_KERNEL_REFERENCE
    {"reference", ScaleRow2x_Reference, nullptr, nullptr, 0, nullptr},
#endif
#ifdef QUORVIX_KERNEL_MMX
    {"mmx", ScaleRow2x_MMX, nullptr, nullptr, kCpuMMX, EndFrame_MMX},
#endif
#ifdef QUORVIX_KERNEL_SSE2
    {"sse2", ScaleRow2x_SSE2, ScaleRowPair2x_SSE2, ScaleRowPair2x_SSE2_Stream, kCpuSSE2,
     EndFrame_SSE2},
#endif
#ifdef QUORVIX_KERNEL_AVX2
    {"avx2", ScaleRow2x_AVX2, ScaleRowPair2x_AVX2, ScaleRowPair2x_AVX2_Stream, kCpuAVX2,
     EndFrame_AVX2},
#endif
#ifdef QUORVIX_KERNEL_AVX512
    {"avx512", ScaleRow2x_AVX512BW, ScaleRowPair2x_AVX512BW, ScaleRowPair2x_AVX512BW_Stream,
     kCpuAVX512BW, EndFrame_AVX512BW},
#endif
};

// The plain rule always runs, also in a build that carries only SIMD kernels
// and lands on a processor without them.
const RowKernel kFallback = {"reference", ScaleRow2x_Reference, nullptr, nullptr, 0, nullptr};

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
