// The frame walk: every kernel against the plain two-dimensional rule, with
// padded pitches, unaligned buffers and frames against guard pages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "frames.h"
#include "guarded_memory.h"
#include "kernel_params.h"
#include "scaler.h"

using quorvix::RowKernel;

namespace {

class FrameTest : public PerKernel {
 protected:

  // Scales `src` into a target of `targetPitch` bytes per line and
  // `targetLines` lines filled with a sentinel; source rows are
  // `sourcePitch` bytes apart. Returns the whole target.
  std::vector<uint16_t> Scale(const Frame& src, uint32_t sourcePitch, uint32_t targetPitch,
                              uint32_t targetLines) {
    std::vector<uint16_t> source(size_t{sourcePitch / 2} * (src.height + 1) + 1, 0xBEEF);
    for (uint32_t y = 0; y < src.height; ++y) {
      // Also for width 0, whose frame has no pixel to index.
      std::copy_n(src.pixels.data() + size_t{y} * src.width, src.width,
                  reinterpret_cast<uint16_t*>(reinterpret_cast<uint8_t*>(source.data()) +
                                              size_t{y} * sourcePitch));
    }
    std::vector<uint16_t> target(size_t{targetPitch / 2} * targetLines, kSentinel);
    quorvix::ScaleFrame2x(kernel(), source.data(), sourcePitch, target.data(), targetPitch,
                          src.width, src.height);
    return target;
  }

  static constexpr uint16_t kSentinel = 0xA5A5;
};

// Checks the doubled image in the top-left corner and the sentinel everywhere
// else in the target.
void ExpectScaled(const Frame& src, const std::vector<uint16_t>& target, uint32_t targetPitch) {
  const Frame want = Scale2xFrame(src);
  const size_t stride = targetPitch / 2;
  for (size_t t = 0; t < target.size(); ++t) {
    const size_t x = t % stride, y = t / stride;
    const bool inside = x < want.width && y < want.height;
    const uint16_t expected = inside ? want.pixels[y * want.width + x] : 0xA5A5;
    if (target[t] != expected) {
      ADD_FAILURE() << src.width << "x" << src.height << ": target (" << x << ", " << y << ") is "
                    << target[t] << ", expected " << expected << (inside ? "" : " (outside the image)");
      return;
    }
  }
}

TEST_P(FrameTest, MatchesThePlainRule) {
  const uint32_t sizes[][2] = {{0, 0}, {0, 3}, {5, 0}, {1, 1}, {1, 5}, {6, 1}, {3, 2}, {4, 4},
                               {17, 9}, {64, 3}, {67, 33}, {320, 24}};
  for (Pattern pattern : kAllPatterns) {
    for (const auto& size : sizes) {
      SCOPED_TRACE(PatternName(pattern));
      const Frame src = MakeFrame(pattern, size[0], size[1]);
      const uint32_t targetPitch = 4 * src.width;
      ExpectScaled(src, Scale(src, 2 * src.width, targetPitch, 2 * src.height), targetPitch);
    }
  }
}

TEST_P(FrameTest, PaddedPitchesAndALargerTarget) {
  // Source rows with slack after them, target lines longer than the image
  // and more target lines than it needs: only the image's rectangle changes.
  const Frame src = MakeFrame(Pattern::kSprite, 37, 11);
  for (uint32_t slack : {0u, 1u, 2u, 9u}) {
    const uint32_t targetPitch = 2 * (2 * src.width + slack * 3);
    ExpectScaled(src, Scale(src, 2 * (src.width + slack), targetPitch, 2 * src.height + 3), targetPitch);
  }
}

TEST_P(FrameTest, OddSourcePitchStepsByWholePixels) {
  const Frame src = MakeFrame(Pattern::kFewColours, 10, 6);
  std::vector<uint16_t> source(11 * 6 + 1, 0);
  for (uint32_t y = 0; y < 6; ++y) std::copy_n(&src.pixels[y * 10], 10, &source[y * 11]);
  std::vector<uint16_t> target(20 * 12, kSentinel);
  quorvix::ScaleFrame2x(kernel(), source.data(), 23, target.data(), 40, 10, 6);
  ExpectScaled(src, target, 40);
}

TEST_P(FrameTest, KnownPictures) {
  const uint16_t A = 0xF800, C = 0x001F;
  auto frame = [](uint32_t w, uint32_t h, std::vector<uint16_t> px) {
    Frame f;
    f.width = w;
    f.height = h;
    f.pixels = std::move(px);
    return f;
  };
  auto scale = [&](const Frame& f) {
    std::vector<uint16_t> t = Scale(f, 2 * f.width, 4 * f.width, 2 * f.height);
    return t;
  };
  // A lone dot becomes a 2x2 block; its surroundings stay as they were.
  {
    const auto t = scale(frame(3, 3, {C, C, C, C, A, C, C, C, C}));
    for (size_t i = 0; i < t.size(); ++i) {
      const bool dot = (i % 6 == 2 || i % 6 == 3) && (i / 6 == 2 || i / 6 == 3);
      EXPECT_EQ(t[i], dot ? A : C) << "target pixel " << i;
    }
  }
  // Above and left A, centre, right and below C: the centre's top-left is A.
  {
    const auto t = scale(frame(3, 3, {A, A, A, A, C, C, A, C, C}));
    EXPECT_EQ(t[2 * 6 + 2], A);
    EXPECT_EQ(t[2 * 6 + 3], C);
    EXPECT_EQ(t[3 * 6 + 2], C);
    EXPECT_EQ(t[3 * 6 + 3], C);
  }
  // A diagonal line of A on C, away from the edges: each A block is whole,
  // the pixel below an A gets A top-right, the pixel right of it bottom-left.
  {
    std::vector<uint16_t> px(6 * 6, C);
    for (int i = 1; i < 5; ++i) px[i * 6 + i] = A;
    const auto t = scale(frame(6, 6, px));
    auto at = [&](int x, int y) { return t[size_t(y) * 12 + size_t(x)]; };
    for (int i = 1; i < 5; ++i) {
      EXPECT_EQ(at(2 * i, 2 * i), A);
      EXPECT_EQ(at(2 * i + 1, 2 * i + 1), A);
    }
    for (int i = 1; i < 4; ++i) {
      // Pixel (i, i + 1) is below an A pixel; (i + 1, i) is right of one.
      EXPECT_EQ(at(2 * i + 1, 2 * (i + 1)), A) << "below " << i;
      EXPECT_EQ(at(2 * i, 2 * (i + 1)), C);
      EXPECT_EQ(at(2 * (i + 1), 2 * i + 1), A) << "right of " << i;
      EXPECT_EQ(at(2 * (i + 1) + 1, 2 * i + 1), C);
    }
  }
}

TEST_P(FrameTest, LargeFramesWrittenPastTheCaches) {
  // Targets large enough for the streaming pair function: with a pitch of
  // whole cache lines (streamed), and with one that puts every other line
  // at an address that is not a multiple of 4 bytes (plain stores).
  const uint32_t width = 1030;
  const uint32_t height = static_cast<uint32_t>(quorvix::kStreamingTargetBytes / (8 * width)) + 1;
  const Frame src = MakeFrame(Pattern::kSprite, width, height);
  for (uint32_t targetPitch : {4 * width + 40, 4 * width + 2}) {
    ExpectScaled(src, Scale(src, 2 * width + 6, targetPitch, 2 * height), targetPitch);
  }
}

TEST_P(FrameTest, StaysInsideFramesAgainstGuardPages) {
  // The whole source frame and the whole target image each flush against an
  // inaccessible page at one end and guarded at the other; the frame's rows
  // and lines are packed without padding, so the first and last pixels touch
  // the guards.
  const uint32_t sizes[][2] = {{1, 1}, {3, 2}, {4, 1}, {5, 3}, {16, 2}, {33, 5}, {64, 4}, {97, 3}};
  for (const auto& size : sizes) {
    const uint32_t w = size[0], h = size[1];
    const Frame src = MakeFrame(Pattern::kDiagonals, w, h);
    for (Flush flush : {Flush::kStart, Flush::kEnd}) {
      GuardedMemory source(2 * size_t{w} * h, flush), target(8 * size_t{w} * h, flush);
      std::copy(src.pixels.begin(), src.pixels.end(), source.pixels());
      quorvix::ScaleFrame2x(kernel(), source.pixels(), 2 * w, target.pixels(), 4 * w, w, h);
      const Frame want = Scale2xFrame(src);
      ASSERT_TRUE(std::equal(want.pixels.begin(), want.pixels.end(), target.pixels()))
          << w << "x" << h;
    }
  }
}

#if defined(_WIN32) && defined(__i386__)
// Runs fn(arg) with the stack pointer `offset` bytes off a 16-byte boundary
// at the call, as a 32-bit Windows host may (its ABI promises 4 bytes).
void CallOnMisalignedStack(void (*fn)(void*), void* arg, uint32_t offset) {
  __asm__ volatile(
      "mov %%esp, %%ebx\n\t"
      "and $-16, %%esp\n\t"
      "sub %%ecx, %%esp\n\t"
      "sub $12, %%esp\n\t"
      "push %%edi\n\t"
      "call *%%esi\n\t"
      "mov %%ebx, %%esp\n\t"
      : "+S"(fn), "+D"(arg), "+c"(offset)
      :
      : "ebx", "eax", "edx", "memory", "cc");
}

struct FrameJob {
  const RowKernel* kernel;
  const Frame* src;
  std::vector<uint16_t>* target;
};

void RunFrameJob(void* p) {
  const FrameJob& job = *static_cast<FrameJob*>(p);
  quorvix::ScaleFrame2x(*job.kernel, job.src->pixels.data(), 2 * job.src->width, job.target->data(),
                        4 * job.src->width, job.src->width, job.src->height);
}

TEST_P(FrameTest, RunsOnAStackAlignedToFourBytes) {
  // The wide kernels keep vectors on the stack; they must realign it.
  const Frame src = MakeFrame(Pattern::kSprite, 333, 7);
  for (uint32_t offset : {4u, 8u, 12u}) {
    std::vector<uint16_t> target(4 * size_t{src.width} * src.height, kSentinel);
    FrameJob job = {&kernel(), &src, &target};
    CallOnMisalignedStack(RunFrameJob, &job, offset);
    ExpectScaled(src, target, 4 * src.width);
  }
}
#endif

INSTANTIATE_FOR_EVERY_KERNEL(FrameTest);

}  // namespace
