#include "bench.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "scale.h"

namespace host {
namespace {

using Clock = std::chrono::steady_clock;

// Called through a volatile pointer so the compiler keeps every fill.
void* (*volatile gMemset)(void*, int, size_t) = memset;

constexpr int kRounds = 5;

// Pixel-art-like content: flat tiles of a few colours, one-pixel diagonal
// lines both ways and scattered dots.
Frame16 MakeContent(uint32_t width, uint32_t height) {
  static const uint16_t kTiles[] = {0x18C5, 0x2A69, 0x7BEF, 0x4208, 0x1D54};
  Frame16 frame;
  frame.width = width;
  frame.height = height;
  frame.pixels.resize(size_t{width} * height);
  uint32_t seed = 12345;
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      uint16_t v = kTiles[(x / 16 + (y / 16) * 3) % 5];
      if ((x + y) % 23 == 0) v = 0xFFE0;
      if ((x + 2 * height - y) % 31 == 0) v = 0xF800;
      seed = seed * 1664525u + 1013904223u;
      if ((seed >> 24) < 4) v = 0x001F;
      frame.pixels[size_t{y} * width + x] = v;
    }
  }
  return frame;
}

double Seconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

}  // namespace

int RunBench(const PluginModule& module, uint32_t width, uint32_t height, uint64_t frames) {
  SizePlan plan;
  std::string error;
  if (!PlanScale(width, height, 1, false, &plan, &error)) {
    fprintf(stderr, "quorvix-host: bench: %ux%u frame: %s\n", width, height, error.c_str());
    return 1;
  }
  std::string name;
  uint32_t flags = 0;
  if (!module.ReadInfo(&name, &flags, &error)) {
    fprintf(stderr, "quorvix-host: %s: %s\n", module.path().c_str(), error.c_str());
    return 1;
  }

  const Frame16 source = MakeContent(width, height);
  Frame16 target;
  // The first frame warms the caches and checks that the module draws.
  if (!EnlargeFrame(module, source, &target, &error)) {
    fprintf(stderr, "quorvix-host: bench: %s\n", error.c_str());
    return 1;
  }
  RenderPluginOutputParams params = {};
  params.SourcePixels = source.pixels.data();
  params.SourcePitch = width * 2;
  params.SourceWidth = width;
  params.SourceHeight = height;
  params.TargetPixels = target.pixels.data();
  params.TargetPitch = target.width * 2;
  params.TargetWidth = target.width;
  params.TargetHeight = target.height;
  const size_t outputBytes = target.pixels.size() * sizeof(uint16_t);

  // Rounds of module frames and memsets take turns, and each keeps its best
  // round, so both see the same machine.
  const uint64_t perRound = std::max<uint64_t>(1, frames / kRounds);
  double moduleBest = 1e30, memsetBest = 1e30;
  for (int round = 0; round < kRounds; ++round) {
    Clock::time_point t0 = Clock::now();
    for (uint64_t i = 0; i < perRound; ++i) module.Output(&params);
    Clock::time_point t1 = Clock::now();
    for (uint64_t i = 0; i < perRound; ++i) gMemset(target.pixels.data(), int(i & 0xFF), outputBytes);
    Clock::time_point t2 = Clock::now();
    moduleBest = std::min(moduleBest, Seconds(t0, t1) / double(perRound));
    memsetBest = std::min(memsetBest, Seconds(t1, t2) / double(perRound));
  }

  const double pixels = double(width) * height;
  printf("module   %s (%s)\n", name.c_str(), module.path().c_str());
  printf("frame    %ux%u -> %ux%u, %llu frames in %d rounds, best round\n", width, height,
         target.width, target.height, static_cast<unsigned long long>(perRound * kRounds),
         kRounds);
  printf("module   %10.1f fps  %7.3f ns per source pixel\n", 1 / moduleBest,
         moduleBest * 1e9 / pixels);
  printf("memset   %10.1f fps  %7.3f ns per source pixel  (%zu bytes per frame)\n",
         1 / memsetBest, memsetBest * 1e9 / pixels, outputBytes);
  printf("ratio    %.2fx memset\n", moduleBest / memsetBest);
  return 0;
}

}  // namespace host
