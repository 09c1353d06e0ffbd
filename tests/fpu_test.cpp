// The MMX registers are the x87 FPU's registers. Once MMX code has run, every
// x87 stack slot is marked in use, and floating-point work gives NaN until
// the state is emptied (emms). A frame must leave the FPU usable: these tests
// compute with x87 right after frames, through the loaded module and through
// the frame walk with the MMX kernel.
#include <gtest/gtest.h>

#include <stdint.h>

#include <cstdlib>
#include <vector>

#include "frames.h"
#include "loaded_module.h"
#include "render_plugin.h"
#include "scaler.h"

// Double arithmetic must really be x87 here: a 32-bit x86 build whose
// baseline has no SSE math.
#if !defined(__i386__) || defined(__SSE_MATH__) || defined(__SSE2_MATH__)
#error "the FPU tests need a 32-bit x86 build whose floating point is x87"
#endif

namespace {

// A small computation needing several x87 stack slots, on values the
// compiler cannot fold: (1.5 * 4 + 0.25) / 2 - 0.125 = 3 exactly.
__attribute__((noinline)) double Compute() {
  static volatile double v[5] = {1.5, 4.0, 0.25, 2.0, 0.125};
  return (v[0] * v[1] + v[2]) / v[3] - v[4];
}

// The x87 tag word: 0xFFFF when every stack slot is empty, as it must be
// between functions.
uint16_t TagWord() {
  struct {
    uint32_t control, status, tag, rest[4];
  } env;
  // fnstenv masks all exceptions as a side effect; fldenv puts them back.
  __asm__ volatile("fnstenv %0\n\tfldenv %0" : "=m"(env));
  return static_cast<uint16_t>(env.tag);
}

// Runs the computation first thing after `frame` and reports what it gave.
template <typename Fn>
double ComputeAfter(Fn frame, uint16_t* tags) {
  frame();
  // Stored before the tag word is read, so no result waits on the x87 stack.
  volatile double result = Compute();
  *tags = TagWord();
  return result;
}

struct Buffers {
  Frame source = MakeFrame(Pattern::kSprite, 37, 11);
  std::vector<uint16_t> target = std::vector<uint16_t>(size_t{74} * 22);
};

TEST(FpuAfterFrames, ThroughTheLoadedModule) {
  Module module(QUORVIX_MODULE_FILE, kModuleLoader);
  ASSERT_TRUE(module.loaded()) << QUORVIX_MODULE_FILE << ": " << module.error();
  const auto output = module.Find<RenderPluginOutputFn>("RenderPluginOutput");
  ASSERT_NE(output, nullptr);
  for (uint32_t height : {11u, 0u}) {
    Buffers b;
    RenderPluginOutputParams p{};
    p.SourcePixels = b.source.pixels.data();
    p.SourcePitch = 2 * 37;
    p.SourceWidth = 37;
    p.SourceHeight = height;
    p.TargetPixels = b.target.data();
    p.TargetPitch = 2 * 74;
    p.TargetWidth = 74;
    p.TargetHeight = 22;
    uint16_t tags = 0;
    const double result = ComputeAfter([&] { output(&p); }, &tags);
    EXPECT_EQ(result, 3.0) << "height " << height << ", x87 tag word " << std::hex << tags;
    EXPECT_EQ(tags, 0xFFFF) << "height " << height;
    EXPECT_EQ(p.ResultHeight, 2 * height);
  }
}

class FpuAfterMmxFrames : public testing::Test {
 protected:
  void SetUp() override {
    size_t count;
    const quorvix::RowKernel* kernels = quorvix::CompiledKernels(&count);
    for (size_t i = 0; i < count; ++i) {
      if (kernels[i].row == quorvix::ScaleRow2x_MMX) mmx_ = &kernels[i];
    }
    if (mmx_ == nullptr) GTEST_SKIP() << "no MMX kernel in this build";
    if (!quorvix::KernelSupported(*mmx_)) GTEST_SKIP() << "processor lacks MMX";
  }

  // MMX state left behind on purpose: one row through the bare kernel.
  void DirtyTheFpu() {
    quorvix::ScaleRow2x_MMX(b_.source.pixels.data(), b_.source.pixels.data(),
                            b_.source.pixels.data(), b_.target.data(), 37);
  }

  const quorvix::RowKernel* mmx_ = nullptr;
  Buffers b_;
};

TEST_F(FpuAfterMmxFrames, TheTestSeesAKernelThatLeavesMmxState) {
  // Without a frame's end, the computation goes wrong: the test really
  // computes with x87 and the kernel really uses the MMX registers.
  uint16_t tags = 0;
  const double result = ComputeAfter([&] { DirtyTheFpu(); }, &tags);
  quorvix::EndFrame_MMX();
  EXPECT_NE(tags, 0xFFFF);
  // qemu's processor models keep the x87 stack apart from the MMX state:
  // there the tag word shows that state, but the computation comes out right.
  if (std::getenv("QUORVIX_CPU_MODEL") == nullptr) {
    EXPECT_NE(result, 3.0);
  }
}

TEST_F(FpuAfterMmxFrames, FramesOfEveryHeightLeaveTheFpuUsable) {
  for (uint32_t height : {11u, 1u, 0u}) {
    uint16_t tags = 0;
    const double result = ComputeAfter(
        [&] {
          // A zero-height frame draws no row; it still has to empty state
          // that earlier MMX code left.
          if (height == 0) DirtyTheFpu();
          quorvix::ScaleFrame2x(*mmx_, b_.source.pixels.data(), 2 * 37, b_.target.data(), 2 * 74, 37,
                                height);
        },
        &tags);
    EXPECT_EQ(result, 3.0) << "height " << height << ", x87 tag word " << std::hex << tags;
    EXPECT_EQ(tags, 0xFFFF) << "height " << height;
  }
}

}  // namespace
