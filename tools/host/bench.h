// Frame rate of a module beside a memset of the same output, measured in
// the same run so that the ratio holds on a busy machine.
#ifndef QUORVIX_HOST_BENCH_H
#define QUORVIX_HOST_BENCH_H

#include <stdint.h>

#include "module.h"

namespace host {

// Prints the figures to stdout; returns the process exit code.
int RunBench(const PluginModule& module, uint32_t width, uint32_t height, uint64_t frames);

}  // namespace host

#endif  // QUORVIX_HOST_BENCH_H
