// Row kernels: the rule on hand-made cases, and every kernel of the build held
// to the reference byte for byte, also with its rows against guard pages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "frames.h"
#include "guarded_memory.h"
#include "kernel_params.h"
#include "scaler.h"

using quorvix::RowKernel;
using quorvix::ScaleRow2x_Reference;

namespace {

std::vector<uint16_t> Row(const std::vector<uint16_t>& nearRow, const std::vector<uint16_t>& centre,
                          const std::vector<uint16_t>& farRow) {
  std::vector<uint16_t> out(2 * centre.size());
  ScaleRow2x_Reference(nearRow.data(), centre.data(), farRow.data(), out.data(),
                       static_cast<uint32_t>(centre.size()));
  return out;
}

// One pixel E between its left D and right F, with X on the near side and Y
// on the far side: the two target pixels it becomes.
struct RuleCase {
  const char* what;
  uint16_t x, y, d, e, f;
  uint16_t left, right;
};

TEST(ReferenceRule, SinglePixelCases) {
  const uint16_t A = 0x1111, C = 0x2222, E = 0x3333;
  const RuleCase cases[] = {
      {"all five equal", A, A, A, A, A, A, A},
      {"near equals far", A, A, A, E, A, E, E},
      {"both sides equal near", A, C, A, E, A, E, E},
      {"left side only", A, C, A, E, C, A, E},
      {"right side only", A, C, C, E, A, E, A},
      {"nothing equal", A, C, C, E, C, E, E},
      {"one bit apart is different", 0x4A52, 0x4A53, 0x4A52, E, 0x4A53, 0x4A52, E},
      {"high bit apart is different", 0x8000, 0x0000, 0x8000, E, 0x0000, 0x8000, E},
  };
  for (const RuleCase& c : cases) {
    SCOPED_TRACE(c.what);
    // The pixel under test sits in the middle of a three-pixel row.
    const auto out = Row({0, c.x, 0}, {c.d, c.e, c.f}, {0, c.y, 0});
    EXPECT_EQ(out[2], c.left);
    EXPECT_EQ(out[3], c.right);
  }
}

TEST(ReferenceRule, WorkedGroup) {
  // A group of four with 5 before the centre row's first pixel and 3 after
  // its fourth; the neighbours' own rows are padded to the same length.
  const auto out = Row({0, 5, 5, 7, 9, 0}, {5, 1, 2, 9, 6, 3}, {0, 1, 4, 7, 2, 0});
  const std::vector<uint16_t> group(out.begin() + 2, out.begin() + 10);
  EXPECT_EQ(group, (std::vector<uint16_t>{5, 1, 2, 2, 9, 9, 9, 6}));
}

TEST(ReferenceRule, RowEndsRepeatTheEdgePixel) {
  // Beyond each end the neighbour is the end pixel itself, so the outer half
  // of an end pixel's pair is always the pixel: here the near row would make
  // both outer pixels A if the neighbours beyond the ends were A.
  const uint16_t A = 1, E = 2, Y = 3;
  EXPECT_EQ(Row({A, A}, {E, E}, {Y, Y}), (std::vector<uint16_t>{E, E, E, E}));
  EXPECT_EQ(Row({A, A, A}, {E, A, E}, {Y, Y, Y}), (std::vector<uint16_t>{E, A, A, A, A, E}));
  EXPECT_EQ(Row({A}, {E}, {Y}), (std::vector<uint16_t>{E, E}));
  EXPECT_EQ(Row({}, {}, {}), (std::vector<uint16_t>{}));
}

// ---------------------------------------------------------------------------
// Every compiled kernel against the reference.

using KernelTest = PerKernel;

// Widths from empty to several groups of the widest kernel, with every
// remainder, and some longer odd ones.
std::vector<uint32_t> Widths() {
  std::vector<uint32_t> widths;
  for (uint32_t w = 0; w <= 200; ++w) widths.push_back(w);
  for (uint32_t w : {255u, 256u, 257u, 319u, 320u, 321u, 641u, 1023u, 1920u}) widths.push_back(w);
  return widths;
}

// The reference's two lines for a source row: upper (near = above) and
// lower (near = below), each followed by sentinels.
struct Lines {
  std::vector<uint16_t> upper, lower;
};
constexpr uint16_t kSentinel = 0xDEAD;

Lines ReferenceLines(const uint16_t* above, const uint16_t* centre, const uint16_t* below,
                     uint32_t width) {
  Lines want{std::vector<uint16_t>(2 * size_t{width} + 8, kSentinel),
             std::vector<uint16_t>(2 * size_t{width} + 8, kSentinel)};
  ScaleRow2x_Reference(above, centre, below, want.upper.data(), width);
  ScaleRow2x_Reference(below, centre, above, want.lower.data(), width);
  return want;
}

TEST_P(KernelTest, MatchesReferenceOnEveryWidthAndPattern) {
  for (const Drawer& drawer : drawers()) {
    for (Pattern pattern : kAllPatterns) {
      for (uint32_t width : Widths()) {
        const Frame f = MakeFrame(pattern, width, 3);
        const uint16_t* above = f.pixels.data();
        const uint16_t* centre = above + width;
        const uint16_t* below = centre + width;
        const Lines want = ReferenceLines(above, centre, below, width);
        Lines got{std::vector<uint16_t>(want.upper.size(), kSentinel),
                  std::vector<uint16_t>(want.lower.size(), kSentinel)};
        drawer.draw(above, centre, below, got.upper.data(), got.lower.data(), width);
        if (got.upper != want.upper || got.lower != want.lower) {
          ADD_FAILURE() << kernel().name << " " << drawer.what << ": pattern " << PatternName(pattern)
                        << ", width " << width << ": "
                        << (got.upper != want.upper ? "upper" : "lower")
                        << " line differs from the reference";
          return;
        }
      }
    }
  }
}

TEST_P(KernelTest, WorksOnUnalignedRows) {
  // Rows and target lines starting at every even address modulo 64 bytes,
  // the two lines of a pair sometimes alike on cache lines, mostly not: the
  // wide kernels place their middle groups by the upper line's address, and
  // stream only where both lines allow aligned stores.
  for (const Drawer& drawer : drawers()) {
    for (uint32_t width : {33u, 77u, 200u}) {
      const Frame f = MakeFrame(Pattern::kSprite, width, 3);
      for (size_t shift = 0; shift < 32; ++shift) {
        const size_t lowerShift = shift * 5 % 32;  // the same as shift for 0, 8, 16, 24
        std::vector<uint16_t> src(3 * width + 64), upper(2 * width + 64, 0), lower(2 * width + 64, 0);
        std::copy(f.pixels.begin(), f.pixels.end(), src.begin() + shift);
        const uint16_t* rows = src.data() + shift;
        const Lines want = ReferenceLines(rows, rows + width, rows + 2 * width, width);
        drawer.draw(rows, rows + width, rows + 2 * width, upper.data() + shift,
                    lower.data() + lowerShift, width);
        if (kernel().endFrame != nullptr) kernel().endFrame();
        ASSERT_TRUE(std::equal(want.upper.begin(), want.upper.begin() + 2 * width, upper.begin() + shift) &&
                    std::equal(want.lower.begin(), want.lower.begin() + 2 * width, lower.begin() + lowerShift))
            << drawer.what << ", width " << width << ", offset " << shift;
      }
    }
  }
}

TEST_P(KernelTest, ReadsAndWritesOnlyTheRows) {
  // Each row and each target line alone in memory with inaccessible pages
  // right before and right after: any access beyond them faults.
  for (const Drawer& drawer : drawers()) {
    for (uint32_t width : {1u, 2u, 3u, 4u, 5u, 7u, 8u, 9u, 15u, 16u, 17u, 31u, 32u, 33u,
                           47u, 63u, 64u, 65u, 96u, 100u, 129u, 255u}) {
      const Frame f = MakeFrame(Pattern::kFewColours, width, 3);
      for (Flush flush : {Flush::kStart, Flush::kEnd}) {
        GuardedMemory above(2 * size_t{width}, flush), centre(2 * size_t{width}, flush),
            below(2 * size_t{width}, flush), upper(4 * size_t{width}, flush),
            lower(4 * size_t{width}, flush);
        std::copy_n(f.pixels.data(), width, above.pixels());
        std::copy_n(f.pixels.data() + width, width, centre.pixels());
        std::copy_n(f.pixels.data() + 2 * width, width, below.pixels());
        const Lines want = ReferenceLines(above.pixels(), centre.pixels(), below.pixels(), width);
        drawer.draw(above.pixels(), centre.pixels(), below.pixels(), upper.pixels(), lower.pixels(), width);
        if (kernel().endFrame != nullptr) kernel().endFrame();
        ASSERT_TRUE(std::equal(want.upper.begin(), want.upper.begin() + 2 * width, upper.pixels()) &&
                    std::equal(want.lower.begin(), want.lower.begin() + 2 * width, lower.pixels()))
            << drawer.what << ", width " << width;
      }
    }
  }
}

INSTANTIATE_FOR_EVERY_KERNEL(KernelTest);

// Under one of qemu's processor models, the test's environment names the
// model and the widest of the kernels' instruction sets that it has, as
// "Conroe:sse2"; null on a real processor.
const char* EmulatedModel() { return std::getenv("QUORVIX_CPU_MODEL"); }

// The processor's features as the operating system reports them, read
// independently of the scaler's CPUID / XGETBV code: Linux's /proc/cpuinfo
// (which wine shows on drive Z:), where the kernel lists a feature only when
// it also saves the feature's registers. Empty when there is no such file,
// and under an emulated processor, where the file describes the host.
std::vector<std::string> CpuinfoFlags() {
  std::vector<std::string> flags;
  if (EmulatedModel() != nullptr) return flags;
  for (const char* path : {"/proc/cpuinfo", "Z:\\proc\\cpuinfo"}) {
    std::ifstream file(path);
    for (std::string line; flags.empty() && std::getline(file, line);) {
      if (line.compare(0, 5, "flags") != 0 || line.find(':') == std::string::npos) continue;
      std::istringstream words(line.substr(line.find(':') + 1));
      for (std::string word; words >> word;) flags.push_back(word);
    }
    if (!flags.empty()) break;
  }
  return flags;
}

// A kernel's features in /proc/cpuinfo's names.
struct KernelFlags {
  const char* kernel;
  uint32_t feature;
  std::vector<std::string> flags;
};
const KernelFlags kKernelFlags[] = {
    {"reference", 0, {}},
    {"mmx", quorvix::kCpuMMX, {"mmx"}},
    {"sse2", quorvix::kCpuSSE2, {"sse2"}},
    {"avx2", quorvix::kCpuAVX2, {"avx2"}},
    {"avx512", quorvix::kCpuAVX512BW, {"avx512f", "avx512bw"}},
};

bool HasAll(const std::vector<std::string>& have, const std::vector<std::string>& want) {
  for (const std::string& flag : want) {
    if (std::find(have.begin(), have.end(), flag) == have.end()) return false;
  }
  return true;
}

TEST(KernelSelection, CpuFeaturesAgreeWithTheOperatingSystem) {
  const std::vector<std::string> flags = CpuinfoFlags();
  if (flags.empty()) GTEST_SKIP() << "no /proc/cpuinfo of this processor to compare with";
  for (const KernelFlags& k : kKernelFlags) {
    if (k.feature == 0) continue;
    EXPECT_EQ((quorvix::CpuFeatures() & k.feature) != 0, HasAll(flags, k.flags)) << k.kernel;
  }
}

TEST(KernelSelection, PicksTheWidestSupportedKernel) {
  size_t count;
  const RowKernel* kernels = quorvix::CompiledKernels(&count);
  ASSERT_GT(count, 0u);
  const RowKernel* widest = nullptr;
  for (size_t i = 0; i < count; ++i) {
    if (quorvix::KernelSupported(kernels[i])) widest = &kernels[i];
  }
  if (widest == nullptr) {
    EXPECT_STREQ(quorvix::SelectedKernel().name, "reference");
  } else {
    EXPECT_EQ(&quorvix::SelectedKernel(), widest) << "selected " << quorvix::SelectedKernel().name;
  }
  // The same answer from the operating system's list: the last compiled
  // kernel (they are narrowest first) whose features the processor has.
  const std::vector<std::string> flags = CpuinfoFlags();
  if (flags.empty()) return;
  std::string expected = "reference";
  for (size_t i = 0; i < count; ++i) {
    for (const KernelFlags& k : kKernelFlags) {
      if (kernels[i].name == std::string(k.kernel) && HasAll(flags, k.flags)) expected = k.kernel;
    }
  }
  EXPECT_EQ(quorvix::SelectedKernel().name, expected);
}

TEST(KernelSelection, PicksTheKernelOfTheProcessorModel) {
  // An emulated model's features are known in advance (a Pentium III has
  // SSE but not SSE2, so its widest is mmx), so a wrong CPUID or XGETBV
  // reading cannot go unnoticed.
  if (EmulatedModel() == nullptr) GTEST_SKIP() << "a real processor: checked against /proc/cpuinfo";
  const std::string model = EmulatedModel();
  const size_t colon = model.find(':');
  ASSERT_NE(colon, std::string::npos) << "QUORVIX_CPU_MODEL=" << model;
  const KernelFlags* widest = nullptr;
  for (const KernelFlags& k : kKernelFlags) {
    if (model.compare(colon + 1, std::string::npos, k.kernel) == 0) widest = &k;
  }
  ASSERT_NE(widest, nullptr) << "QUORVIX_CPU_MODEL=" << model << " names no kernel";
  // Every instruction set up to the model's widest, and none beyond it.
  for (const KernelFlags& k : kKernelFlags) {
    if (k.feature == 0) continue;
    EXPECT_EQ((quorvix::CpuFeatures() & k.feature) != 0, k.feature <= widest->feature)
        << k.kernel << " on " << model;
  }
  // The kernel chosen: the widest compiled one within them.
  size_t count;
  const RowKernel* kernels = quorvix::CompiledKernels(&count);
  std::string expected = "reference";
  for (size_t i = 0; i < count; ++i) {
    for (const KernelFlags& k : kKernelFlags) {
      if (kernels[i].name == std::string(k.kernel) && k.feature <= widest->feature) expected = k.kernel;
    }
  }
  EXPECT_EQ(quorvix::SelectedKernel().name, expected) << "on " << model;
}

}  // namespace
