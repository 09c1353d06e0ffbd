// Test suites parameterised by row kernel: one instance per kernel compiled
// into the build, named after it, skipped where the processor lacks it.
#ifndef QUORVIX_TESTS_KERNEL_PARAMS_H
#define QUORVIX_TESTS_KERNEL_PARAMS_H

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "scaler.h"

namespace quorvix {
// Test names and failure messages show the kernel's name.
inline void PrintTo(const RowKernel* kernel, std::ostream* os) { *os << kernel->name; }
}  // namespace quorvix

inline std::vector<const quorvix::RowKernel*> AllKernels() {
  size_t count;
  const quorvix::RowKernel* kernels = quorvix::CompiledKernels(&count);
  std::vector<const quorvix::RowKernel*> all;
  for (size_t i = 0; i < count; ++i) all.push_back(&kernels[i]);
  return all;
}

inline std::string KernelName(const testing::TestParamInfo<const quorvix::RowKernel*>& param) {
  return param.param->name;
}

class PerKernel : public testing::TestWithParam<const quorvix::RowKernel*> {
 protected:
  void SetUp() override {
    if (!quorvix::KernelSupported(kernel())) GTEST_SKIP() << "processor lacks " << kernel().name;
  }
  void TearDown() override {
    if (kernel().endFrame != nullptr) kernel().endFrame();
  }
  const quorvix::RowKernel& kernel() const { return *GetParam(); }

  // The ways the kernel draws both target lines of a source row: its row
  // function called for each line, and its pair functions (plain and, for
  // large frames, streaming) where it has them.
  struct Drawer {
    std::string what;
    std::function<void(const uint16_t* above, const uint16_t* centre, const uint16_t* below,
                       uint16_t* upper, uint16_t* lower, uint32_t width)>
        draw;
  };
  std::vector<Drawer> drawers() const {
    const quorvix::ScaleRow2xFn row = kernel().row;
    std::vector<Drawer> all = {{"row", [row](const uint16_t* above, const uint16_t* centre,
                                             const uint16_t* below, uint16_t* upper,
                                             uint16_t* lower, uint32_t width) {
                                  row(above, centre, below, upper, width);
                                  row(below, centre, above, lower, width);
                                }}};
    if (kernel().pair != nullptr) all.push_back({"pair", kernel().pair});
    if (kernel().pairStream != nullptr) all.push_back({"streaming pair", kernel().pairStream});
    return all;
  }
};

#define INSTANTIATE_FOR_EVERY_KERNEL(Suite) \
  INSTANTIATE_TEST_SUITE_P(Kernels, Suite, testing::ValuesIn(AllKernels()), KernelName)

#endif  // QUORVIX_TESTS_KERNEL_PARAMS_H
