// Test frames: pixel-art-like patterns, and the Scale2x enlargement of a
// whole frame computed the plain two-dimensional way, independently of the
// module's row-by-row walk.
#ifndef QUORVIX_TESTS_FRAMES_H
#define QUORVIX_TESTS_FRAMES_H

#include <stdint.h>

#include <string>
#include <vector>

struct Frame {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint16_t> pixels;  // row-major, no padding

  uint16_t at(int64_t x, int64_t y) const {
    // Beyond the frame the edge pixel repeats.
    x = x < 0 ? 0 : (x >= width ? width - 1 : x);
    y = y < 0 ? 0 : (y >= height ? height - 1 : y);
    return pixels[static_cast<size_t>(y) * width + static_cast<size_t>(x)];
  }
};

// The 2x image by the rule's 2x2 table: B above, D left, F right, H below.
inline Frame Scale2xFrame(const Frame& src) {
  Frame out;
  out.width = src.width * 2;
  out.height = src.height * 2;
  out.pixels.resize(size_t{out.width} * out.height);
  for (uint32_t y = 0; y < src.height; ++y) {
    for (uint32_t x = 0; x < src.width; ++x) {
      const uint16_t b = src.at(x, int64_t{y} - 1), d = src.at(int64_t{x} - 1, y);
      const uint16_t e = src.at(x, y), f = src.at(x + 1, y), h = src.at(x, y + 1);
      uint16_t* top = &out.pixels[size_t{2 * y} * out.width + 2 * x];
      uint16_t* bottom = top + out.width;
      top[0] = (d == b && h != b && f != b) ? b : e;
      top[1] = (f == b && h != b && d != b) ? b : e;
      bottom[0] = (d == h && b != h && f != h) ? h : e;
      bottom[1] = (f == h && b != h && d != h) ? h : e;
    }
  }
  return out;
}

// Small deterministic generator, the same on every platform.
class Lcg {
 public:
  explicit Lcg(uint32_t seed) : state_(seed) {}
  uint32_t Next() {
    state_ = state_ * 1664525u + 1013904223u;
    return state_ >> 8;
  }

 private:
  uint32_t state_;
};

enum class Pattern {
  kFewColours,  // three colours at random: equal neighbours everywhere
  kOneBitApart, // values that differ in a single bit
  kNoise,       // all 16 bits random: hardly any equal neighbours
  kFlat,        // one colour
  kDiagonals,   // one-pixel lines both ways over a background
  kSprite,      // flat areas with a blocky outlined shape and a lone dot
};

inline const char* PatternName(Pattern p) {
  switch (p) {
    case Pattern::kFewColours: return "FewColours";
    case Pattern::kOneBitApart: return "OneBitApart";
    case Pattern::kNoise: return "Noise";
    case Pattern::kFlat: return "Flat";
    case Pattern::kDiagonals: return "Diagonals";
    case Pattern::kSprite: return "Sprite";
  }
  return "?";
}

inline const Pattern kAllPatterns[] = {Pattern::kFewColours, Pattern::kOneBitApart,
                                       Pattern::kNoise,      Pattern::kFlat,
                                       Pattern::kDiagonals,  Pattern::kSprite};

inline Frame MakeFrame(Pattern pattern, uint32_t width, uint32_t height, uint32_t seed = 1) {
  Frame f;
  f.width = width;
  f.height = height;
  f.pixels.resize(size_t{width} * height);
  Lcg rng(seed * 2654435761u + width * 31u + height);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      uint16_t v = 0;
      switch (pattern) {
        case Pattern::kFewColours: v = static_cast<uint16_t>(0x1234 + (rng.Next() % 3) * 0x1111); break;
        case Pattern::kOneBitApart: v = static_cast<uint16_t>(0x8000 >> (rng.Next() % 2 * 15)); break;
        case Pattern::kNoise: v = static_cast<uint16_t>(rng.Next()); break;
        case Pattern::kFlat: v = 0x7C1F; break;
        case Pattern::kDiagonals: v = ((x + y) % 7 == 0 || (x + 2 * height - y) % 9 == 0) ? 0xFFFF : 0x0000; break;
        case Pattern::kSprite: {
          const bool inside = x % 16 >= 3 && x % 16 < 12 && y % 12 >= 2 && y % 12 < 10;
          const bool rim = inside && (x % 16 == 3 || x % 16 == 11 || y % 12 == 2 || y % 12 == 9);
          v = rim ? 0x0001 : inside ? 0xF800 : 0x03E0;
          if (x % 16 == 7 && y % 12 == 5) v = 0x001F;
          break;
        }
      }
      f.pixels[size_t{y} * width + x] = v;
    }
  }
  // One-bit-apart frames: keep only two neighbouring values, so equal and
  // nearly-equal pixels sit side by side.
  if (pattern == Pattern::kOneBitApart) {
    for (auto& p : f.pixels) p = p == 0x8000 ? 0x4A52 : 0x4A53;
  }
  return f;
}

#endif  // QUORVIX_TESTS_FRAMES_H
