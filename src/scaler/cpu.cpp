// What the processor and the operating system let the kernels use.
#include <atomic>

#include "scaler.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#define QUORVIX_X86 1
#endif

namespace quorvix {

namespace {

#if QUORVIX_X86
// XCR0: which register states the operating system saves on a task switch.
uint64_t ReadXcr0() {
  uint32_t lo, hi;
  __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
  return (uint64_t{hi} << 32) | lo;
}

uint32_t DetectCpuFeatures() {
  uint32_t a, b, c, d;
  // __get_cpuid also checks that the CPUID instruction exists (i486 and
  // earlier have none).
  if (!__get_cpuid(1, &a, &b, &c, &d)) return 0;
  uint32_t features = 0;
  if (d & (1u << 23)) features |= kCpuMMX;
  if (d & (1u << 26)) features |= kCpuSSE2;
  const bool osxsave = (c & (1u << 27)) != 0;
  const bool avx = (c & (1u << 28)) != 0;
  if (!osxsave || !avx) return features;
  const uint64_t xcr0 = ReadXcr0();
  const bool ymmSaved = (xcr0 & 0x6) == 0x6;             // SSE and AVX state
  const bool zmmSaved = (xcr0 & 0xE6) == 0xE6;           // plus opmask, ZMM
  if (__get_cpuid_max(0, nullptr) < 7) return features;
  __cpuid_count(7, 0, a, b, c, d);
  if (ymmSaved && (b & (1u << 5))) features |= kCpuAVX2;
  const bool avx512 = (b & (1u << 16)) && (b & (1u << 30));  // F and BW
  if (zmmSaved && avx512) features |= kCpuAVX512BW;
  return features;
}
#else
uint32_t DetectCpuFeatures() { return 0; }
#endif

}  // namespace

uint32_t CpuFeatures() {
  // Detected once; threads racing on the first call store the same value.
  static std::atomic<uint32_t> cached{0};
  constexpr uint32_t kKnown = 1u << 31;
  uint32_t value = cached.load(std::memory_order_relaxed);
  if (value == 0) {
    value = DetectCpuFeatures() | kKnown;
    cached.store(value, std::memory_order_relaxed);
  }
  return value & ~kKnown;
}

}  // namespace quorvix
