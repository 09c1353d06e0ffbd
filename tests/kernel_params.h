// Test suites parameterised by row kernel: one instance per kernel compiled
// into the build, named after it, skipped where the processor lacks it.
#ifndef QUORVIX_TESTS_KERNEL_PARAMS_H
#define QUORVIX_TESTS_KERNEL_PARAMS_H

#include <gtest/gtest.h>

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

  // The kernel's row functions: the plain one and, where it has one, the
  // variant with non-temporal stores that large frames use.
  struct RowFunction {
    const char* what;
    quorvix::ScaleRow2xFn row;
  };
  std::vector<RowFunction> rowFunctions() const {
    std::vector<RowFunction> functions = {{"row", kernel().row}};
    if (kernel().rowStream != nullptr) functions.push_back({"streaming row", kernel().rowStream});
    return functions;
  }
};

#define INSTANTIATE_FOR_EVERY_KERNEL(Suite) \
  INSTANTIATE_TEST_SUITE_P(Kernels, Suite, testing::ValuesIn(AllKernels()), KernelName)

#endif  // QUORVIX_TESTS_KERNEL_PARAMS_H
