// The built module as a host sees it: loaded through the platform's loader
// (or the tests' PE loader, see kModuleLoader), both entry points found by
// name in its export table and driven through their records.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "frames.h"
#include "loaded_module.h"
#include "render_plugin.h"

namespace {

class ModuleTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    module_ = new Module(QUORVIX_MODULE_FILE, kModuleLoader);
    ASSERT_TRUE(module_->loaded()) << QUORVIX_MODULE_FILE << ": " << module_->error();
    getInfo_ = module_->Find<RenderPluginGetInfoFn>("RenderPluginGetInfo");
    output_ = module_->Find<RenderPluginOutputFn>("RenderPluginOutput");
  }
  static void TearDownTestSuite() {
    delete module_;
    module_ = nullptr;
  }
  void SetUp() override {
    ASSERT_NE(getInfo_, nullptr) << "RenderPluginGetInfo not exported";
    ASSERT_NE(output_, nullptr) << "RenderPluginOutput not exported";
  }

  static Module* module_;
  static RenderPluginGetInfoFn getInfo_;
  static RenderPluginOutputFn output_;
};

Module* ModuleTest::module_ = nullptr;
RenderPluginGetInfoFn ModuleTest::getInfo_ = nullptr;
RenderPluginOutputFn ModuleTest::output_ = nullptr;

TEST_F(ModuleTest, InfoRecordHoldsNameAndFlags) {
  RenderPluginInfo* info = getInfo_();
  ASSERT_NE(info, nullptr);
  char name[RENDER_PLUGIN_NAME_SIZE] = "Quorvix (Dovane)";  // zero-padded
  EXPECT_EQ(std::memcmp(info->Name, name, sizeof(name)), 0);
  EXPECT_EQ(info->Flags, 0x00000B01u);
  EXPECT_EQ(info->ModuleHandle, nullptr);
}

TEST_F(ModuleTest, InfoRecordIsOneRecordThatKeepsTheHostsField) {
  RenderPluginInfo* first = getInfo_();
  // A host keeps its own handle in the record; later calls leave it alone
  // and return the same record with the same bytes.
  int marker = 0;
  first->ModuleHandle = &marker;
  RenderPluginInfo* second = getInfo_();
  EXPECT_EQ(second, first);
  EXPECT_EQ(second->ModuleHandle, &marker);
  EXPECT_STREQ(second->Name, "Quorvix (Dovane)");
  first->ModuleHandle = nullptr;
  // A host that scribbled over the name gets it back on the next call.
  std::strcpy(first->Name, "x");
  EXPECT_STREQ(getInfo_()->Name, "Quorvix (Dovane)");
}

// A host's record with fields of its own after the plugin's, and a target
// with room to spare filled with a sentinel.
struct HostRecord {
  RenderPluginOutputParams params;
  uint32_t hostTail[4];
};

constexpr uint16_t kSentinel = 0x5A5A;

struct Call {
  Frame source;
  std::vector<uint16_t> target;
  HostRecord record{};

  Call(const Frame& src, uint32_t targetWidth, uint32_t targetHeight) : source(src) {
    target.assign(size_t{targetWidth} * targetHeight + 1, kSentinel);
    RenderPluginOutputParams& p = record.params;
    p.HostWord0 = 0xCAFEF00D;
    p.HostWord1 = 0x0BADBEEF;
    p.SourcePixels = source.pixels.data();
    p.SourcePitch = 2 * src.width;
    p.SourceWidth = src.width;
    p.SourceHeight = src.height;
    p.TargetPixels = target.data();
    p.TargetPitch = 2 * targetWidth;
    p.TargetWidth = targetWidth;
    p.TargetHeight = targetHeight;
    p.ResultWidth = p.ResultHeight = 0x12345678;
    for (uint32_t& w : record.hostTail) w = 0x77777777;
  }

  bool TargetUntouched() const {
    for (uint16_t px : target) {
      if (px != kSentinel) return false;
    }
    return true;
  }

  void ExpectHostFieldsKept() const {
    EXPECT_EQ(record.params.HostWord0, 0xCAFEF00Du);
    EXPECT_EQ(record.params.HostWord1, 0x0BADBEEFu);
    for (uint32_t w : record.hostTail) EXPECT_EQ(w, 0x77777777u);
  }
};

TEST_F(ModuleTest, DrawsIntoAnExactOrLargerTarget) {
  const Frame src = MakeFrame(Pattern::kSprite, 21, 13);
  const Frame want = Scale2xFrame(src);
  for (uint32_t extra : {0u, 5u}) {
    Call call(src, 42 + extra, 26 + extra);
    output_(&call.record.params);
    EXPECT_EQ(call.record.params.ResultWidth, 42u);
    EXPECT_EQ(call.record.params.ResultHeight, 26u);
    call.ExpectHostFieldsKept();
    for (size_t y = 0; y < 26 + extra; ++y) {
      for (size_t x = 0; x < 42 + extra; ++x) {
        const bool inside = x < 42 && y < 26;
        const uint16_t got = call.target[y * (42 + extra) + x];
        ASSERT_EQ(got, inside ? want.pixels[y * 42 + x] : kSentinel) << "(" << x << ", " << y << ")";
      }
    }
  }
}

TEST_F(ModuleTest, RefusesATargetTooSmallAndStillReportsTheDoubledSize) {
  struct Case {
    const char* what;
    uint32_t sourceWidth, sourceHeight, targetWidth, targetHeight;
    uint32_t resultWidth, resultHeight;
  };
  const Case cases[] = {
      {"one column short", 10, 6, 19, 12, 20, 12},
      {"one line short", 10, 6, 20, 11, 20, 12},
      {"width wraps 32 bits", 0x80000001u, 1, 2, 2, 0xFFFFFFFFu, 2},
      {"height wraps 32 bits", 1, 0x80000001u, 2, 2, 2, 0xFFFFFFFFu},
      {"both at the limit", 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu},
      {"half the width exactly past", 0x80000000u, 1, 0xFFFFFFFFu, 2, 0xFFFFFFFFu, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // The frame is never read when refused: a small real frame stands in.
    Call call(MakeFrame(Pattern::kNoise, 4, 4), 8, 8);
    RenderPluginOutputParams& p = call.record.params;
    p.SourceWidth = c.sourceWidth;
    p.SourceHeight = c.sourceHeight;
    p.TargetWidth = c.targetWidth;
    p.TargetHeight = c.targetHeight;
    output_(&p);
    EXPECT_TRUE(call.TargetUntouched());
    EXPECT_EQ(p.ResultWidth, c.resultWidth);
    EXPECT_EQ(p.ResultHeight, c.resultHeight);
    // A drawn image is never 0xFFFFFFFF wide or high (the size is even), so
    // the saturated value marks a refusal even against a target that large.
    EXPECT_TRUE(p.ResultWidth > p.TargetWidth || p.ResultHeight > p.TargetHeight ||
                p.ResultWidth == 0xFFFFFFFFu || p.ResultHeight == 0xFFFFFFFFu)
        << "a host could not tell the refusal";
    call.ExpectHostFieldsKept();
  }
}

TEST_F(ModuleTest, EmptyFramesDrawNothing) {
  for (uint32_t w : {0u, 7u}) {
    Frame src = MakeFrame(Pattern::kFlat, w, 3);
    Call call(src, 16, 8);
    call.record.params.SourceHeight = 0;
    output_(&call.record.params);
    EXPECT_TRUE(call.TargetUntouched());
    EXPECT_EQ(call.record.params.ResultWidth, 2 * w);
    EXPECT_EQ(call.record.params.ResultHeight, 0u);
  }
}

TEST_F(ModuleTest, EntryPointsRunOnSeveralThreadsAtOnce) {
  // Each thread scales its own frames with its own record and target, and
  // asks for the shared info record between frames; all start together.
  // Under ThreadSanitizer this shows that the calls share no unsynchronised
  // data, the info record's restoring writes included.
  constexpr int kThreads = 4;
  constexpr int kRounds = 20;
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::vector<std::string> failures(kThreads);
  auto work = [&](int t) {
    const Frame src = MakeFrame(Pattern::kSprite, 29 + 8 * t, 7 + t, t + 1);
    const Frame want = Scale2xFrame(src);
    ++ready;
    while (!go.load()) std::this_thread::yield();
    for (int round = 0; round < kRounds && failures[t].empty(); ++round) {
      const RenderPluginInfo* info = getInfo_();
      if (std::strcmp(info->Name, "Quorvix (Dovane)") != 0 || info->Flags != 0x00000B01u) {
        failures[t] = "info record read differently";
      }
      Call call(src, want.width + 1, want.height);
      output_(&call.record.params);
      for (uint32_t y = 0; y < want.height && failures[t].empty(); ++y) {
        const uint16_t* line = &call.target[size_t{y} * (want.width + 1)];
        if (!std::equal(line, line + want.width, &want.pixels[size_t{y} * want.width]) ||
            line[want.width] != kSentinel) {
          failures[t] = "round " + std::to_string(round) + ": line " + std::to_string(y) + " differs";
        }
      }
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back(work, t);
  while (ready.load() < kThreads) std::this_thread::yield();
  go = true;
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], "") << "thread " << t;
}

}  // namespace
