#include "scale.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <new>

#include "png_file.h"

namespace host {
namespace {

constexpr uint64_t kPngMaxSide = 0x7FFFFFFF;
constexpr uint32_t kCompareGap = 8;  // grey strip between the two halves
constexpr uint8_t kGapGrey = 0x80;

std::string Size(uint64_t width, uint64_t height) {
  return std::to_string(width) + "x" + std::to_string(height);
}

std::string GiB(double bytes) {
  char text[32];
  snprintf(text, sizeof(text), "%.1f GiB", bytes / (1024.0 * 1024.0 * 1024.0));
  return text;
}

// Releases a budget reservation however the image ends.
class Reservation {
 public:
  Reservation(MemoryBudget* budget, double bytes) : budget_(budget), bytes_(bytes) {
    if (budget_ != nullptr) budget_->Acquire(bytes_);
  }
  ~Reservation() {
    if (budget_ != nullptr) budget_->Release(bytes_);
  }
  Reservation(const Reservation&) = delete;
  Reservation& operator=(const Reservation&) = delete;

 private:
  MemoryBudget* budget_;
  double bytes_;
};

ScaleResult Failure(const std::string& file, const std::string& what) {
  ScaleResult result;
  result.message = file + ": " + what;
  return result;
}

bool WriteImage(PendingFile* file, uint32_t width, uint32_t height, bool alpha,
                const RowSource& row, std::string* error) {
  return file->Create(error) && WritePng(file->file(), width, height, alpha, row, error) &&
         file->Finish(error);
}

}  // namespace

bool PlanScale(uint32_t width, uint32_t height, unsigned times, bool compare,
               SizePlan* plan, std::string* error) {
  uint64_t w = width, h = height;
  std::string grown = times == 1 ? "doubled" : "enlarged " + std::to_string(times) + " times";
  for (unsigned pass = 0; pass < times; ++pass) {
    w *= 2;
    h *= 2;
    if (w > UINT32_MAX || h > UINT32_MAX || 2 * w > UINT32_MAX) {
      // Width, height and the target's pitch in bytes are 32-bit fields.
      *error = "too large: " + grown + " it would be " + Size(w, h) +
               " pixels, past the 32-bit width, height and pitch fields of the module's frame record";
      return false;
    }
  }
  const uint64_t pictureWidth = compare ? 2 * w + kCompareGap : w;
  if (w > kPngMaxSide || h > kPngMaxSide || pictureWidth > kPngMaxSide) {
    *error = "too large: " + grown + " it would be " + Size(w, h) +
             " pixels, past the PNG limit of 2147483647 pixels a side";
    return false;
  }
  // Decoded RGBA and its codes; then the last pass's source and target
  // (and the original codes for the comparison); rows and libraries.
  const double in = double(width) * height;
  const double out = double(w) * h;
  const double bytes = 6 * in + 2.5 * out + (compare ? 2 * in : 0) + 16 * double(pictureWidth) +
                       (64 << 20);
  const double limit = MemoryLimit();
  if (bytes > limit) {
    *error = "too large: " + grown + " to " + Size(w, h) + " pixels it needs about " +
             GiB(bytes) + " of memory, more than the " + GiB(limit) + " available";
    return false;
  }
  plan->width = static_cast<uint32_t>(w);
  plan->height = static_cast<uint32_t>(h);
  plan->bytes = bytes;
  return true;
}

double MemoryLimit() {
  double limit = double(sysconf(_SC_PHYS_PAGES)) * double(sysconf(_SC_PAGESIZE));
  for (int resource : {RLIMIT_AS, RLIMIT_DATA}) {
    struct rlimit rl;
    if (getrlimit(resource, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY) {
      limit = std::min(limit, double(rl.rlim_cur));
    }
  }
  return limit;
}

void MemoryBudget::Acquire(double bytes) {
  std::unique_lock<std::mutex> lock(mutex_);
  freed_.wait(lock, [&] { return used_ == 0 || used_ + bytes <= limit_; });
  used_ += bytes;
}

void MemoryBudget::Release(double bytes) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    used_ -= bytes;
    if (used_ < 1) used_ = 0;
  }
  freed_.notify_all();
}

bool EnlargeFrame(const PluginModule& module, const Frame16& source, Frame16* target,
                  std::string* error) {
  target->width = source.width * 2;
  target->height = source.height * 2;
  target->pixels.assign(size_t{target->width} * target->height, 0);

  // The target is exactly twice the source: the module has all it needs,
  // and any pixel it might write past that would be outside our buffer.
  RenderPluginOutputParams params = {};
  params.SourcePixels = source.pixels.data();
  params.SourcePitch = source.width * 2;
  params.SourceWidth = source.width;
  params.SourceHeight = source.height;
  params.TargetPixels = target->pixels.data();
  params.TargetPitch = target->width * 2;
  params.TargetWidth = target->width;
  params.TargetHeight = target->height;
  module.Output(&params);

  // The module refuses silently: it reports a result larger than the target
  // (a size past 32 bits reads 0xFFFFFFFF, larger than any target here).
  if (params.ResultWidth > params.TargetWidth || params.ResultHeight > params.TargetHeight) {
    *error = "module " + module.path() + " refused the " + Size(source.width, source.height) +
             " frame: it reports a " + Size(params.ResultWidth, params.ResultHeight) +
             " result for the " + Size(params.TargetWidth, params.TargetHeight) + " target";
    return false;
  }
  if (params.ResultWidth != target->width || params.ResultHeight != target->height) {
    *error = "module " + module.path() + " produced a " +
             Size(params.ResultWidth, params.ResultHeight) + " image from the " +
             Size(source.width, source.height) + " frame, not " +
             Size(target->width, target->height);
    return false;
  }
  return true;
}

namespace {

ScaleResult Scale(const PluginModule& module, const ScaleOptions& options, MemoryBudget* budget,
                  const std::string& input, const std::string& output,
                  const std::string& compare) {
  std::string error;
  PngReader reader;
  SizePlan plan;
  if (!reader.Open(input, &error) ||
      !PlanScale(reader.width(), reader.height(), options.times, !compare.empty(), &plan,
                 &error)) {
    return Failure(input, error);
  }
  Reservation reservation(budget, plan.bytes);

  PixelCoder coder(options.mode);
  Frame16 original;
  {
    RgbaImage image;
    if (!reader.Decode(&image, &error) || !coder.Encode(image, &original, &error)) {
      return Failure(input, error);
    }
  }
  // The comparison needs the original frame; otherwise it is the first
  // pass's source and goes when the pass is done.
  Frame16 result;
  if (compare.empty()) {
    result = std::move(original);
  } else {
    result = original;
  }
  for (unsigned pass = 0; pass < options.times; ++pass) {
    Frame16 next;
    if (!EnlargeFrame(module, result, &next, &error)) return Failure(input, error);
    result = std::move(next);
  }
  if (!coder.Covers(result)) {
    return Failure(input, "module " + module.path() +
                              " produced pixel values that are not in the image, which "
                              "exact mode cannot map back");
  }

  const uint32_t width = result.width;
  PendingFile outFile(output);
  const RowSource resultRow = [&](uint32_t y, uint8_t* rgba) {
    coder.Decode(&result.pixels[size_t{y} * width], width, rgba);
  };
  if (!WriteImage(&outFile, width, result.height, coder.HasAlpha(), resultRow, &error)) {
    return Failure(output, error);
  }

  PendingFile compareFile(compare);
  if (!compare.empty()) {
    // Plain pixel doubling of the same frame on the left, the module's
    // result on the right.
    const unsigned shift = options.times;
    std::vector<uint16_t> doubled(width);
    const RowSource compareRow = [&](uint32_t y, uint8_t* rgba) {
      const uint16_t* source = &original.pixels[size_t{y >> shift} * original.width];
      for (uint32_t x = 0; x < width; ++x) doubled[x] = source[x >> shift];
      coder.Decode(doubled.data(), width, rgba);
      uint8_t* gap = rgba + size_t{width} * 4;
      for (uint32_t x = 0; x < kCompareGap; ++x, gap += 4) {
        gap[0] = gap[1] = gap[2] = kGapGrey;
        gap[3] = 255;
      }
      coder.Decode(&result.pixels[size_t{y} * width], width, gap);
    };
    if (!WriteImage(&compareFile, 2 * width + kCompareGap, result.height, coder.HasAlpha(),
                    compareRow, &error)) {
      return Failure(compare, error);
    }
  }

  if (!outFile.Commit(&error)) return Failure(output, error);
  if (!compare.empty() && !compareFile.Commit(&error)) return Failure(compare, error);
  ScaleResult done;
  done.ok = true;
  done.pixelsIn = uint64_t{reader.width()} * reader.height();
  done.pixelsOut = uint64_t{width} * result.height;
  return done;
}

}  // namespace

ScaleResult ScaleImage(const PluginModule& module, const ScaleOptions& options,
                       MemoryBudget* budget, const std::string& input,
                       const std::string& output, const std::string& compare) {
  try {
    return Scale(module, options, budget, input, output, compare);
  } catch (const std::bad_alloc&) {
    return Failure(input, "out of memory");
  }
}

}  // namespace host
