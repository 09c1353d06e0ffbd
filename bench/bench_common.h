// What both benchmark programs share: the frames they scale, a textbook
// scalar Scale2x to compare with, the built module loaded as a host loads
// it, the list of things measured and the ratio table they print.
#ifndef QUORVIX_BENCH_COMMON_H
#define QUORVIX_BENCH_COMMON_H

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "loaded_module.h"
#include "render_plugin.h"
#include "scaler.h"

namespace bench {

struct Size {
  uint32_t width, height;
};
const Size kSizes[] = {{256, 224}, {320, 240}, {640, 480}, {1920, 1080}};

inline std::string SizeName(Size s) { return std::to_string(s.width) + "x" + std::to_string(s.height); }

// Pixel-art-like content: flat sky bands with dithered seams, a brick
// ground, outlined round sprites, diagonal lines and rows of small glyphs.
inline std::vector<Pixel16> PixelArtFrame(uint32_t w, uint32_t h) {
  std::vector<Pixel16> f(size_t{w} * h);
  auto put = [&](int64_t x, int64_t y, Pixel16 v) {
    if (x >= 0 && y >= 0 && x < w && y < h) f[size_t(y) * w + size_t(x)] = v;
  };
  const Pixel16 sky[4] = {0x5D9F, 0x6DDF, 0x7E1F, 0x8E5F};
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      Pixel16 v;
      if (y < h / 2) {
        const uint32_t band = y * 8 / h;                   // 0..3
        const bool seam = band < 3 && (y + 1) * 8 / h != band;
        v = sky[seam && (x + y) % 2 ? band + 1 : band];  // checker dither
      } else {
        const uint32_t ty = (y - h / 2) % 16, tx = (x + (((y - h / 2) / 8) % 2) * 8) % 16;
        v = (ty % 8 == 0 || tx == 0) ? Pixel16{0x8410} : Pixel16{0xB2A4};  // mortar, brick
      }
      f[size_t{y} * w + x] = v;
    }
  }
  uint32_t seed = 12345;
  auto next = [&seed](uint32_t n) {
    seed = seed * 1664525u + 1013904223u;
    return (seed >> 8) % n;
  };
  // Sprites: filled discs with a one-pixel dark outline and a highlight.
  for (uint32_t s = 0; s < w * h / 2048 + 1; ++s) {
    const int64_t cx = next(w), cy = next(h), r = 4 + next(9);
    const Pixel16 fill = static_cast<Pixel16>(0xF800 >> next(3) * 5 | 0x0010);
    for (int64_t dy = -r - 1; dy <= r + 1; ++dy) {
      for (int64_t dx = -r - 1; dx <= r + 1; ++dx) {
        const int64_t d = dx * dx + dy * dy;
        if (d <= r * r) put(cx + dx, cy + dy, fill);
        else if (d <= (r + 1) * (r + 1)) put(cx + dx, cy + dy, 0x0000);
      }
    }
    put(cx - r / 2, cy - r / 2, 0xFFFF);
  }
  // Diagonal lines both ways.
  for (uint32_t l = 0; l < w / 64 + 1; ++l) {
    const int64_t x0 = next(w), y0 = next(h), len = 20 + next(60), dir = next(2) ? 1 : -1;
    for (int64_t i = 0; i < len; ++i) put(x0 + i, y0 + dir * i, 0x07E0);
  }
  // Text: rows of 3x5 glyphs taken from bits of the generator.
  for (uint32_t row = 0; row < h / 60 + 1; ++row) {
    const int64_t y0 = 4 + row * 9 * 6;
    for (int64_t x0 = 4; x0 + 3 < w / 2; x0 += 4) {
      const uint32_t glyph = next(1u << 15);
      for (int b = 0; b < 15; ++b) {
        if (glyph >> b & 1) put(x0 + b % 3, y0 + b / 3, 0xFFE0);
      }
    }
  }
  return f;
}

// Scale2x as a textbook writes it: one pixel at a time, its neighbours
// fetched with the edges clamped, and a branch for the common case where
// the pixel keeps its colour (B = H or D = F leaves all four corners E).
inline void TextbookScale2x(const Pixel16* src, uint32_t w, uint32_t h, Pixel16* dst) {
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      const Pixel16 B = src[size_t{y > 0 ? y - 1 : y} * w + x];
      const Pixel16 H = src[size_t{y + 1 < h ? y + 1 : y} * w + x];
      const Pixel16 D = src[size_t{y} * w + (x > 0 ? x - 1 : x)];
      const Pixel16 F = src[size_t{y} * w + (x + 1 < w ? x + 1 : x)];
      const Pixel16 E = src[size_t{y} * w + x];
      Pixel16 e0 = E, e1 = E, e2 = E, e3 = E;
      if (B != H && D != F) {
        if (D == B) e0 = D;
        if (B == F) e1 = F;
        if (D == H) e2 = D;
        if (H == F) e3 = F;
      }
      Pixel16* top = dst + size_t{2 * y} * (2 * w) + 2 * x;
      top[0] = e0;
      top[1] = e1;
      top[2 * w] = e2;
      top[2 * w + 1] = e3;
    }
  }
}

// The built module, loaded as a host loads it; it stays loaded until the
// program ends.
inline RenderPluginOutputFn LoadModuleOutput() {
  static Module module(QUORVIX_MODULE_FILE);
  const auto fn = module.loaded() ? module.Find<RenderPluginOutputFn>("RenderPluginOutput") : nullptr;
  if (fn == nullptr) {
    fprintf(stderr, "cannot load RenderPluginOutput from %s: %s\n", QUORVIX_MODULE_FILE,
            module.error().c_str());
    exit(1);
  }
  return fn;
}

inline void* AlignedAlloc(size_t bytes) {
#if defined(_WIN32)
  return _aligned_malloc(bytes, 64);
#else
  return aligned_alloc(64, (bytes + 63) / 64 * 64);
#endif
}

inline void AlignedFree(void* p) {
#if defined(_WIN32)
  _aligned_free(p);
#else
  free(p);
#endif
}

// One frame size's buffers: the source frame, a target of exactly the
// doubled size, a second buffer of that size for memcpy, and the record.
struct Workload {
  explicit Workload(Size s) : size(s) {
    const std::vector<Pixel16> pixels = PixelArtFrame(s.width, s.height);
    source = static_cast<Pixel16*>(AlignedAlloc(pixels.size() * 2));
    memcpy(source, pixels.data(), pixels.size() * 2);
    target = static_cast<Pixel16*>(AlignedAlloc(targetBytes()));
    copyFrom = static_cast<Pixel16*>(AlignedAlloc(targetBytes()));
    memset(target, 0, targetBytes());
    memset(copyFrom, 0x5A, targetBytes());
    memset(&params, 0, sizeof params);
    params.SourcePixels = source;
    params.SourcePitch = 2 * s.width;
    params.SourceWidth = s.width;
    params.SourceHeight = s.height;
    params.TargetPixels = target;
    params.TargetPitch = 4 * s.width;
    params.TargetWidth = 2 * s.width;
    params.TargetHeight = 2 * s.height;
  }
  ~Workload() {
    AlignedFree(source);
    AlignedFree(target);
    AlignedFree(copyFrom);
  }
  Workload(const Workload&) = delete;
  Workload& operator=(const Workload&) = delete;

  size_t pixels() const { return size_t{size.width} * size.height; }
  size_t targetBytes() const { return 8 * pixels(); }

  void Kernel(const quorvix::RowKernel& k) {
    quorvix::ScaleFrame2x(k, source, 2 * size.width, target, 4 * size.width, size.width, size.height);
  }
  void Textbook() { TextbookScale2x(source, size.width, size.height, target); }

  Size size;
  Pixel16* source;
  Pixel16* target;
  Pixel16* copyFrom;
  RenderPluginOutputParams params;
};

// Every kernel the build carries and the processor runs.
inline std::vector<const quorvix::RowKernel*> RunnableKernels() {
  size_t count;
  const quorvix::RowKernel* kernels = quorvix::CompiledKernels(&count);
  std::vector<const quorvix::RowKernel*> runnable;
  for (size_t i = 0; i < count; ++i) {
    if (quorvix::KernelSupported(kernels[i])) runnable.push_back(&kernels[i]);
  }
  return runnable;
}

// The textbook version, every kernel and the module all draw the same image.
inline bool SameOutputEverywhere(Workload& w, RenderPluginOutputFn output) {
  std::vector<Pixel16> want(w.targetBytes() / 2);
  w.Textbook();
  memcpy(want.data(), w.target, w.targetBytes());
  bool same = true;
  auto check = [&](const char* what) {
    if (memcmp(want.data(), w.target, w.targetBytes()) != 0) {
      fprintf(stderr, "%s %s: output differs from the textbook Scale2x\n", SizeName(w.size).c_str(), what);
      same = false;
    }
    memset(w.target, 0, w.targetBytes());
  };
  for (const quorvix::RowKernel* k : RunnableKernels()) {
    w.Kernel(*k);
    check(k->name);
  }
  output(&w.params);
  check("RenderPluginOutput");
  return same;
}

// One measurement: nanoseconds per source pixel of `what` at `size`.
// `what` is "memset", "memcpy", "call", "textbook" or a kernel's name.
struct Result {
  std::string size;
  std::string what;
  double nsPerPixel;
};

inline double Find(const std::vector<Result>& results, const std::string& size, const std::string& what) {
  for (const Result& r : results) {
    if (r.size == size && r.what == what) return r.nsPerPixel;
  }
  return 0;
}

// The order of the table's rows within each frame size.
inline std::vector<std::string> Measured() {
  std::vector<std::string> what = {"memset", "memcpy", "call"};
  for (const quorvix::RowKernel* k : RunnableKernels()) what.push_back(k->name);
  what.push_back("textbook");
  return what;
}

// The table: ns per source pixel, and each against memset and memcpy of the
// output measured in the same run, and the textbook version against it.
inline void PrintRatios(const std::vector<Result>& results) {
  printf("\n%-10s %-10s %10s %9s %9s %11s\n", "frame", "what", "ns/pixel", "/memset", "/memcpy",
         "textbook/x");
  std::vector<std::string> sizes;  // the usual ones first, then any other
  for (Size s : kSizes) sizes.push_back(SizeName(s));
  for (const Result& r : results) {
    if (std::find(sizes.begin(), sizes.end(), r.size) == sizes.end()) sizes.push_back(r.size);
  }
  for (const std::string& size : sizes) {
    const double memsetNs = Find(results, size, "memset");
    const double memcpyNs = Find(results, size, "memcpy");
    const double textbookNs = Find(results, size, "textbook");
    bool any = false;
    for (const std::string& what : Measured()) {
      const double ns = Find(results, size, what);
      if (ns == 0) continue;
      if (!any) printf("\n");
      any = true;
      // A ratio to something not measured (filtered out) shows as "-".
      auto ratio = [](double a, double b, const char* format) {
        char text[32] = "-";
        if (a > 0 && b > 0) snprintf(text, sizeof text, format, a / b);
        return std::string(text);
      };
      printf("%-10s %-10s %10.4f %9s %9s %11s\n", size.c_str(), what.c_str(), ns,
             ratio(ns, memsetNs, "%.2f").c_str(), ratio(ns, memcpyNs, "%.2f").c_str(),
             ratio(textbookNs, ns, "%.1f").c_str());
    }
  }
  printf("\nwhole call (selected kernel: %s); targets: call/memset <= 2 at 320x240, "
         "call/memcpy <= 1 at 1920x1080, textbook/call >= 15\n",
         quorvix::SelectedKernel().name);
  for (const char* size : {"320x240", "1920x1080"}) {
    const double call = Find(results, size, "call");
    if (call == 0 || Find(results, size, "memset") == 0 || Find(results, size, "memcpy") == 0 ||
        Find(results, size, "textbook") == 0) {
      continue;
    }
    printf("  %-10s call/memset %.2f  call/memcpy %.2f  textbook/call %.1f\n", size,
           call / Find(results, size, "memset"), call / Find(results, size, "memcpy"),
           Find(results, size, "textbook") / call);
  }
}

}  // namespace bench

#endif  // QUORVIX_BENCH_COMMON_H
