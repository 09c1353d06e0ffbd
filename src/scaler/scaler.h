// The scaler's internal interface: the row kernels, the kernel table and the
// frame walk. Nothing here is exported from the module; tests and tools link
// the scaler library directly to reach every kernel.
#ifndef QUORVIX_SCALER_H
#define QUORVIX_SCALER_H

#include <stddef.h>
#include <stdint.h>

#include "render_plugin.h"

namespace quorvix {

// Writes one target line (2 * width pixels) from a source row and its two
// vertical neighbours: `near` is the row on the side of the line being drawn,
// `far` the row opposite. Pixel i sees centre[i - 1] and centre[i + 1] as its
// horizontal neighbours, and the row's own end pixel beyond either end, so no
// read leaves [0, width) of any of the three rows. Buffers need no alignment.
// Every kernel below has this signature and writes the same bytes.
typedef void (*ScaleRow2xFn)(const Pixel16* near, const Pixel16* centre,
                             const Pixel16* far, Pixel16* out, uint32_t width);

// The plain statement of the rule, one pixel at a time. Every other kernel is
// held to it byte for byte, and uses it for rows narrower than its vectors.
void ScaleRow2x_Reference(const Pixel16* near, const Pixel16* centre,
                          const Pixel16* far, Pixel16* out, uint32_t width);
void ScaleRow2x_MMX(const Pixel16* near, const Pixel16* centre,
                    const Pixel16* far, Pixel16* out, uint32_t width);
void EndFrame_MMX();  // empties the MMX state

// Both target lines of one source row in one pass: `upper` as ScaleRow2x
// with near = above and far = below, `lower` with near = below and far =
// above. The two lines share the loads of the three rows and the compare of
// above with below; the bytes written are those of the two row calls.
typedef void (*ScaleRowPair2xFn)(const Pixel16* above, const Pixel16* centre,
                                 const Pixel16* below, Pixel16* upper,
                                 Pixel16* lower, uint32_t width);

// Eight, sixteen and thirty-two pixels at a time. Each has a row function,
// a pair function and a pair function that writes the middle of both lines
// with non-temporal stores, for frames much larger than the caches; its
// EndFrame_* makes those stores visible to other processors (sfence).
void ScaleRow2x_SSE2(const Pixel16* near, const Pixel16* centre,
                     const Pixel16* far, Pixel16* out, uint32_t width);
void ScaleRowPair2x_SSE2(const Pixel16* above, const Pixel16* centre,
                         const Pixel16* below, Pixel16* upper, Pixel16* lower,
                         uint32_t width);
void ScaleRowPair2x_SSE2_Stream(const Pixel16* above, const Pixel16* centre,
                                const Pixel16* below, Pixel16* upper,
                                Pixel16* lower, uint32_t width);
void EndFrame_SSE2();
void ScaleRow2x_AVX2(const Pixel16* near, const Pixel16* centre,
                     const Pixel16* far, Pixel16* out, uint32_t width);
void ScaleRowPair2x_AVX2(const Pixel16* above, const Pixel16* centre,
                         const Pixel16* below, Pixel16* upper, Pixel16* lower,
                         uint32_t width);
void ScaleRowPair2x_AVX2_Stream(const Pixel16* above, const Pixel16* centre,
                                const Pixel16* below, Pixel16* upper,
                                Pixel16* lower, uint32_t width);
void EndFrame_AVX2();
void ScaleRow2x_AVX512BW(const Pixel16* near, const Pixel16* centre,
                         const Pixel16* far, Pixel16* out, uint32_t width);
void ScaleRowPair2x_AVX512BW(const Pixel16* above, const Pixel16* centre,
                             const Pixel16* below, Pixel16* upper,
                             Pixel16* lower, uint32_t width);
void ScaleRowPair2x_AVX512BW_Stream(const Pixel16* above, const Pixel16* centre,
                                    const Pixel16* below, Pixel16* upper,
                                    Pixel16* lower, uint32_t width);
void EndFrame_AVX512BW();

struct RowKernel {
  const char* name;    // "reference", "mmx", "sse2", "avx2", "avx512"
  ScaleRow2xFn row;
  // Both lines of a source row at once; null where the frame walk calls
  // `row` twice instead.
  ScaleRowPair2xFn pair;
  // The same with non-temporal stores, for frames too large to stay in the
  // caches; null where there is none.
  ScaleRowPair2xFn pairStream;
  // Instruction sets the kernel needs, as CpuFeature bits.
  uint32_t needs;
  // Run once after a frame's last row (e.g. to leave the FPU usable after
  // MMX); null when the kernel leaves no state behind.
  void (*endFrame)();
};

enum CpuFeature : uint32_t {
  kCpuMMX = 1u << 0,
  kCpuSSE2 = 1u << 1,
  kCpuAVX2 = 1u << 2,      // with the OS saving YMM state
  kCpuAVX512BW = 1u << 3,  // F + BW, with the OS saving ZMM state
};

// What this processor and operating system support, as CpuFeature bits.
uint32_t CpuFeatures();

// The kernels compiled into this build, narrowest first.
const RowKernel* CompiledKernels(size_t* count);

bool KernelSupported(const RowKernel& kernel);

// The widest compiled kernel that this machine runs.
const RowKernel& SelectedKernel();

// Target images of at least this many bytes are written with the kernel's
// streaming pair function: they would only push the source rows out of the
// caches. (Measured: 1280x720 sources, 7.4 MB of target, ran faster cached;
// 1920x1080, 16.6 MB, faster streamed.)
constexpr uint64_t kStreamingTargetBytes = uint64_t{8} << 20;

// Enlarges a width x height source frame into the top-left corner of the
// target with the given kernel. Rows beyond the frame's top and bottom are
// taken to repeat the edge rows. The caller has checked that the target holds
// 2 * width by 2 * height pixels.
void ScaleFrame2x(const RowKernel& kernel, const Pixel16* source,
                  uint32_t sourcePitch, Pixel16* target, uint32_t targetPitch,
                  uint32_t width, uint32_t height);

}  // namespace quorvix

#endif  // QUORVIX_SCALER_H
