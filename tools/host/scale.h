// Enlarging one PNG image with a loaded module: size checks first, then the
// frame passes through the module as often as asked, then the outputs.
#ifndef QUORVIX_HOST_SCALE_H
#define QUORVIX_HOST_SCALE_H

#include <stdint.h>

#include <condition_variable>
#include <mutex>
#include <string>

#include "module.h"
#include "pixels.h"

namespace host {

struct ScaleOptions {
  unsigned times = 1;  // passes through the module: the image grows 2^times
  PixelMode mode = PixelMode::kExact;
};

// Size of the enlarged image and a generous estimate of the memory that
// producing it takes.
struct SizePlan {
  uint32_t width = 0;
  uint32_t height = 0;
  double bytes = 0;
};

// Checks, before anything is allocated, that a width x height image
// enlarged `times` times fits the record's 32-bit fields, a PNG (the
// comparison picture too, when asked for) and this machine's memory.
bool PlanScale(uint32_t width, uint32_t height, unsigned times, bool compare,
               SizePlan* plan, std::string* error);

// Physical memory, or less when the process is limited.
double MemoryLimit();

// Memory shared by images being enlarged at the same time: an image waits
// until its estimate fits beside the others' (one alone always runs).
class MemoryBudget {
 public:
  explicit MemoryBudget(double limit) : limit_(limit) {}
  void Acquire(double bytes);
  void Release(double bytes);

 private:
  std::mutex mutex_;
  std::condition_variable freed_;
  double limit_;
  double used_ = 0;
};

// One pass through the module: `target` becomes the doubled frame. Fails
// when the module refuses the frame or produces another size.
bool EnlargeFrame(const PluginModule& module, const Frame16& source, Frame16* target,
                  std::string* error);

struct ScaleResult {
  bool ok = false;
  std::string message;  // on failure: "FILE: what is wrong"
  uint64_t pixelsIn = 0;
  uint64_t pixelsOut = 0;
};

// Reads `input`, enlarges it and writes `output`, and the side-by-side
// picture to `compare` unless that is empty. Outputs appear complete or
// not at all.
ScaleResult ScaleImage(const PluginModule& module, const ScaleOptions& options,
                       MemoryBudget* budget, const std::string& input,
                       const std::string& output, const std::string& compare);

}  // namespace host

#endif  // QUORVIX_HOST_SCALE_H
