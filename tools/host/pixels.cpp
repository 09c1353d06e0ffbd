#include "pixels.h"

#include <string.h>

#include <unordered_map>

namespace host {
namespace {

constexpr size_t kMaxCodes = size_t{1} << 16;

// 8-bit channel to `bits` bits, rounded, and back by repeating the top bits.
inline uint32_t Narrow(uint32_t v, int bits) {
  const uint32_t top = (1u << bits) - 1;
  return (v * top + 127) / 255;
}
inline uint8_t Widen(uint32_t v, int bits) {
  return static_cast<uint8_t>((v << (8 - bits)) | (v >> (2 * bits - 8)));
}

}  // namespace

bool PixelCoder::Encode(const RgbaImage& image, Frame16* frame, std::string* error) {
  const size_t count = size_t{image.width} * image.height;
  frame->width = image.width;
  frame->height = image.height;
  frame->pixels.resize(count);
  const uint8_t* px = image.rgba.data();
  alpha_ = false;

  if (mode_ == PixelMode::kExact) {
    std::unordered_map<uint32_t, uint16_t> codes;
    palette_.clear();
    uint32_t last = 0;
    uint16_t lastCode = 0;
    for (size_t i = 0; i < count; ++i, px += 4) {
      uint32_t colour;
      memcpy(&colour, px, 4);
      if (i > 0 && colour == last) {  // runs of one colour are the common case
        frame->pixels[i] = lastCode;
        continue;
      }
      auto found = codes.find(colour);
      if (found == codes.end()) {
        if (palette_.size() == kMaxCodes) {
          *error = "more than 65536 distinct colours, too many for exact 16-bit codes; "
                   "use --pixels rgb565 (lossy) instead";
          return false;
        }
        found = codes.emplace(colour, static_cast<uint16_t>(palette_.size())).first;
        palette_.push_back(colour);
        alpha_ = alpha_ || px[3] != 255;
      }
      last = colour;
      lastCode = found->second;
      frame->pixels[i] = lastCode;
    }
    return true;
  }

  for (size_t i = 0; i < count; ++i, px += 4) {
    uint32_t r = px[0], g = px[1], b = px[2];
    const uint32_t a = px[3];
    if (mode_ == PixelMode::kRgb565) {
      r = (r * a + 127) / 255;
      g = (g * a + 127) / 255;
      b = (b * a + 127) / 255;
      frame->pixels[i] = static_cast<uint16_t>(Narrow(r, 5) << 11 | Narrow(g, 6) << 5 | Narrow(b, 5));
    } else if (a < 128) {
      frame->pixels[i] = 0;  // every transparent pixel is the same
      alpha_ = true;
    } else {
      frame->pixels[i] = static_cast<uint16_t>(0x8000 | Narrow(r, 5) << 10 | Narrow(g, 5) << 5 | Narrow(b, 5));
    }
  }
  return true;
}

bool PixelCoder::Covers(const Frame16& frame) const {
  if (mode_ != PixelMode::kExact) return true;
  for (uint16_t c : frame.pixels) {
    if (c >= palette_.size()) return false;
  }
  return true;
}

void PixelCoder::Decode(const uint16_t* codes, size_t count, uint8_t* rgba) const {
  for (size_t i = 0; i < count; ++i, rgba += 4) {
    const uint32_t c = codes[i];
    switch (mode_) {
      case PixelMode::kExact:
        if (c < palette_.size()) {
          memcpy(rgba, &palette_[c], 4);
        } else {
          memset(rgba, 0, 4);
        }
        break;
      case PixelMode::kRgb565:
        rgba[0] = Widen(c >> 11, 5);
        rgba[1] = Widen((c >> 5) & 0x3F, 6);
        rgba[2] = Widen(c & 0x1F, 5);
        rgba[3] = 255;
        break;
      case PixelMode::kRgb555:
        if (c & 0x8000) {
          rgba[0] = Widen((c >> 10) & 0x1F, 5);
          rgba[1] = Widen((c >> 5) & 0x1F, 5);
          rgba[2] = Widen(c & 0x1F, 5);
          rgba[3] = 255;
        } else {
          memset(rgba, 0, 4);
        }
        break;
    }
  }
}

}  // namespace host
