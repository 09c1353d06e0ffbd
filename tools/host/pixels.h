// Turning RGBA images into frames of 16-bit pixels and back.
#ifndef QUORVIX_HOST_PIXELS_H
#define QUORVIX_HOST_PIXELS_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "png_file.h"

namespace host {

enum class PixelMode {
  // Each distinct RGBA colour gets its own 16-bit code. The module only
  // compares pixels for equality, so the result maps back to exactly the
  // enlargement of the true-colour image, alpha included.
  kExact,
  // What a 16-bit host shows: 5-6-5 bits of colour, the image composited
  // over black (such a frame has no alpha).
  kRgb565,
  // 5-5-5 bits of colour and the top bit as a 1-bit alpha (1-5-5-5): pixels
  // with alpha below 128 become one fully transparent code.
  kRgb555,
};

// A frame of 16-bit pixels, rows without padding.
struct Frame16 {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint16_t> pixels;
};

class PixelCoder {
 public:
  explicit PixelCoder(PixelMode mode) : mode_(mode) {}

  // Codes an image; fails only in exact mode, for more than 65536 colours.
  bool Encode(const RgbaImage& image, Frame16* frame, std::string* error);

  // Whether every pixel of `frame` is a code this coder gave out. A module
  // that only copies pixels passes; anything else cannot be mapped back.
  bool Covers(const Frame16& frame) const;

  // Back to RGBA, `count` pixels. Codes that Covers() would reject come out
  // transparent black.
  void Decode(const uint16_t* codes, size_t count, uint8_t* rgba) const;

  // Whether decoded pixels can be other than opaque (else RGB output will do).
  bool HasAlpha() const { return alpha_; }

 private:
  PixelMode mode_;
  std::vector<uint32_t> palette_;  // exact mode: code -> RGBA bytes
  bool alpha_ = false;
};

}  // namespace host

#endif  // QUORVIX_HOST_PIXELS_H
