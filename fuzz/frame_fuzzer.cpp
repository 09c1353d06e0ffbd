// libFuzzer target: one frame as a host could describe it, scaled with every
// row kernel of the build that this processor runs.
//
// Input layout (missing bytes read as zero):
//   0-1  source width, little-endian, modulo 321
//   2    source height, modulo 33
//   3    bits 0-3: pixels of slack after each source row
//        bit 4: source pitch one byte longer (odd; rows step by whole pixels)
//        bits 5-6: pixel coding of the data bytes (see Pixel below)
//        bit 7: the source sits flush against the guard page after it
//               (else against the one before it)
//   4    bits 0-2: target width minus twice the source width, plus 2
//        bits 3-5: target height minus twice the source height, plus 2
//        bit 6: the target sits flush against the guard page after it
//        bit 7: add 0x80000000 to the source width (a doubled size past 32 bits)
//   5    bits 0-3: pixels of slack after each target line (pitch minus image)
//        bit 4: add 0x80000000 to the source height
//   6... pixel data, repeated as often as the frame needs
//
// Source and target hold exactly the bytes the record describes, each flush
// against an inaccessible page, and the source is read-only: any access
// outside the frame, or any write to the source, ends the run. Every kernel's
// target must match the reference kernel's byte for byte, the image must match
// the plain two-dimensional rule, and nothing outside the doubled rectangle
// may change.
#include <stddef.h>
#include <stdint.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "frame_output.h"
#include "frames.h"
#include "guarded_memory.h"
#include "scaler.h"

namespace {

constexpr uint16_t kSentinel = 0xDEAD;

struct Description {
  uint32_t width = 0, height = 0;
  uint32_t sourcePitch = 0;
  uint32_t targetWidth = 0, targetHeight = 0, targetPitch = 0;
  uint32_t sourceWidthField = 0, sourceHeightField = 0;  // as the record carries them
  bool sourceAtEnd = false, targetAtEnd = false;
  Frame frame;
};

uint8_t ByteAt(const uint8_t* data, size_t size, size_t i) { return i < size ? data[i] : 0; }

// Pixel codings: few colours make equal neighbours (and so the rule's
// corners) common; raw 16-bit values and values one bit apart probe the
// compares.
uint16_t Pixel(uint32_t coding, const uint8_t* bytes, size_t count, size_t i) {
  if (count == 0) return 0x1234;
  switch (coding) {
    case 0: return (bytes[i % count] & 1) ? 0x7C00 : 0x03E0;
    case 1: {
      static const uint16_t kPalette[4] = {0x0000, 0xFFFF, 0x8000, 0x0001};
      return kPalette[bytes[i % count] & 3];
    }
    case 2: return static_cast<uint16_t>(bytes[(2 * i) % count] | bytes[(2 * i + 1) % count] << 8);
    default: return static_cast<uint16_t>(0x4A52 | (bytes[i % count] & 1));
  }
}

Description Decode(const uint8_t* data, size_t size) {
  Description d;
  const uint8_t b3 = ByteAt(data, size, 3), b4 = ByteAt(data, size, 4), b5 = ByteAt(data, size, 5);
  d.width = (ByteAt(data, size, 0) | ByteAt(data, size, 1) << 8) % 321;
  d.height = ByteAt(data, size, 2) % 33;
  d.sourcePitch = 2 * (d.width + (b3 & 15)) + ((b3 >> 4) & 1);
  d.sourceAtEnd = (b3 & 0x80) != 0;
  const int64_t targetWidth = int64_t{2} * d.width + (b4 & 7) - 2;
  const int64_t targetHeight = int64_t{2} * d.height + ((b4 >> 3) & 7) - 2;
  d.targetWidth = targetWidth < 0 ? 0 : static_cast<uint32_t>(targetWidth);
  d.targetHeight = targetHeight < 0 ? 0 : static_cast<uint32_t>(targetHeight);
  d.targetPitch = 2 * (2 * d.width + (b5 & 15));
  d.targetAtEnd = (b4 & 0x40) != 0;
  d.sourceWidthField = d.width + ((b4 & 0x80) ? 0x80000000u : 0);
  d.sourceHeightField = d.height + ((b5 & 0x10) ? 0x80000000u : 0);

  const uint8_t* pixels = size > 6 ? data + 6 : nullptr;
  const size_t count = size > 6 ? size - 6 : 0;
  const uint32_t coding = (b3 >> 5) & 3;
  d.frame.width = d.width;
  d.frame.height = d.height;
  d.frame.pixels.resize(size_t{d.width} * d.height);
  for (size_t i = 0; i < d.frame.pixels.size(); ++i) d.frame.pixels[i] = Pixel(coding, pixels, count, i);
  return d;
}

// Bytes from the first described pixel to the last: rows step by whole pixels.
size_t Extent(uint32_t lines, uint32_t step, uint32_t lineBytes) {
  if (lines == 0 || lineBytes == 0) return 0;
  return size_t{lines - 1} * step + lineBytes;
}

uint32_t Doubled(uint32_t size) {
  const uint64_t doubled = uint64_t{size} * 2;
  return doubled > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(doubled);
}

[[noreturn]] void Fail(const char* kernel, const Description& d, const char* what, size_t x, size_t y) {
  std::fprintf(stderr,
               "kernel %s, source %ux%u (fields 0x%08x x 0x%08x) pitch %u, target %ux%u pitch %u: "
               "%s at (%zu, %zu)\n",
               kernel, d.width, d.height, d.sourceWidthField, d.sourceHeightField, d.sourcePitch,
               d.targetWidth, d.targetHeight, d.targetPitch, what, x, y);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Description d = Decode(data, size);
  const uint32_t sourceStep = d.sourcePitch & ~1u;

  GuardedMemory source(Extent(d.height, sourceStep, 2 * d.width),
                       d.sourceAtEnd ? Flush::kEnd : Flush::kStart);
  for (uint32_t y = 0; y < d.height && d.width > 0; ++y) {
    std::memcpy(source.bytes() + size_t{y} * sourceStep, &d.frame.pixels[size_t{y} * d.width],
                2 * size_t{d.width});
  }
  source.MakeReadOnly();
  GuardedMemory target(Extent(d.targetHeight, d.targetPitch, 2 * d.targetWidth),
                       d.targetAtEnd ? Flush::kEnd : Flush::kStart);
  const size_t targetPixels = target.size() / 2;

  const bool fits = uint64_t{d.sourceWidthField} * 2 <= d.targetWidth &&
                    uint64_t{d.sourceHeightField} * 2 <= d.targetHeight;
  const Frame want = Scale2xFrame(d.frame);
  std::vector<uint16_t> referenceTarget;

  size_t count;
  const quorvix::RowKernel* kernels = quorvix::CompiledKernels(&count);
  static bool announced = false;
  if (!announced) {
    announced = true;
    std::fprintf(stderr, "frame fuzzer: kernels");
    for (size_t k = 0; k < count; ++k) {
      std::fprintf(stderr, " %s%s", kernels[k].name, quorvix::KernelSupported(kernels[k]) ? "" : " (not run)");
    }
    std::fprintf(stderr, "\n");
  }

  // The reference kernel first, whether or not the build lists it, then
  // every other kernel, each held to its bytes.
  quorvix::RowKernel reference{};
  reference.name = "reference";
  reference.row = quorvix::ScaleRow2x_Reference;
  const size_t stride = d.targetPitch / 2;
  for (size_t k = 0; k <= count; ++k) {
    const quorvix::RowKernel& kernel = k == 0 ? reference : kernels[k - 1];
    if (k > 0 && kernel.row == quorvix::ScaleRow2x_Reference) continue;
    if (!quorvix::KernelSupported(kernel)) continue;
    for (size_t i = 0; i < targetPixels; ++i) target.pixels()[i] = kSentinel;

    RenderPluginOutputParams params;
    params.HostWord0 = 0xCAFEF00D;
    params.HostWord1 = 0x0BADBEEF;
    params.SourcePixels = source.pixels();
    params.SourcePitch = d.sourcePitch;
    params.SourceWidth = d.sourceWidthField;
    params.SourceHeight = d.sourceHeightField;
    params.TargetPixels = target.pixels();
    params.TargetPitch = d.targetPitch;
    params.TargetWidth = d.targetWidth;
    params.TargetHeight = d.targetHeight;
    params.ResultWidth = params.ResultHeight = 0x12345678;
    quorvix::OutputFrame(kernel, &params);

    if (params.ResultWidth != Doubled(d.sourceWidthField) ||
        params.ResultHeight != Doubled(d.sourceHeightField)) {
      Fail(kernel.name, d, "wrong result size", params.ResultWidth, params.ResultHeight);
    }
    if (params.HostWord0 != 0xCAFEF00D || params.HostWord1 != 0x0BADBEEF) {
      Fail(kernel.name, d, "host words changed", 0, 0);
    }
    for (size_t i = 0; i < targetPixels; ++i) {
      const size_t x = stride > 0 ? i % stride : i, y = stride > 0 ? i / stride : 0;
      const bool inside = fits && x < want.width && y < want.height;
      const uint16_t expected = inside ? want.pixels[y * want.width + x] : kSentinel;
      if (target.pixels()[i] != expected) {
        Fail(kernel.name, d, inside ? "pixel differs from the plain rule" : "pixel outside the image changed", x, y);
      }
    }
    if (k == 0) {
      referenceTarget.assign(target.pixels(), target.pixels() + targetPixels);
    } else if (!std::equal(referenceTarget.begin(), referenceTarget.end(), target.pixels())) {
      Fail(kernel.name, d, "target differs from the reference kernel's", 0, 0);
    }
  }
  return 0;
}
