// Draws the project's pixel-art sample (samples/sample.png): diagonal lines
// at two slopes, a filled circle, text in a 3x5 block font, an outlined
// sprite, lone dots and flat ground, in a small palette, stored as an
// 8-bit palette PNG.
//
//   quorvix-sample OUT.png
#include <spng.h>
#include <stdio.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int kWidth = 96;
constexpr int kHeight = 64;

enum Colour : uint8_t { kSky, kInk, kWhite, kSun, kSunRim, kBody, kGrass, kSoil, kRope, kCheek, kShadow, kStar };

const spng_plte_entry kPalette[] = {
    {0x22, 0x2E, 0x5C, 0}, {0x14, 0x12, 0x1E, 0}, {0xF4, 0xF0, 0xE6, 0}, {0xFF, 0xD8, 0x3A, 0},
    {0xF2, 0x8C, 0x1C, 0}, {0xD8, 0x3A, 0x4E, 0}, {0x4C, 0xB8, 0x48, 0}, {0x7A, 0x4A, 0x2C, 0},
    {0x9A, 0xC8, 0xF0, 0}, {0xF6, 0x9C, 0xB4, 0}, {0x3E, 0x2A, 0x22, 0}, {0xB8, 0xC4, 0xFF, 0},
};

struct Canvas {
  uint8_t pixels[kHeight][kWidth] = {};

  void Set(int x, int y, uint8_t c) {
    if (x >= 0 && x < kWidth && y >= 0 && y < kHeight) pixels[y][x] = c;
  }
  // A one-pixel line (Bresenham), so 45 degree and 2:1 slopes come out as
  // the stair steps that pixel art is made of.
  void Line(int x0, int y0, int x1, int y1, uint8_t c) {
    const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
    const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    int err = dx + dy;
    for (;;) {
      Set(x0, y0, c);
      if (x0 == x1 && y0 == y1) break;
      const int e2 = 2 * err;
      if (e2 >= dy) { err += dy; x0 += sx; }
      if (e2 <= dx) { err += dx; y0 += sy; }
    }
  }
  void Disc(int cx, int cy, int r, uint8_t fill, uint8_t rim) {
    for (int y = -r; y <= r; ++y) {
      for (int x = -r; x <= r; ++x) {
        const int d = x * x + y * y;
        if (d <= r * r + r) Set(cx + x, cy + y, d >= (r - 1) * (r - 1) + (r - 1) ? rim : fill);
      }
    }
  }
  // Rows of characters; '.' leaves the canvas as it is.
  void Stamp(int x0, int y0, const char* const* rows, int height) {
    for (int y = 0; y < height; ++y) {
      for (int x = 0; rows[y][x] != 0; ++x) {
        const char ch = rows[y][x];
        const uint8_t c = ch == 'k' ? kInk : ch == 'r' ? kBody : ch == 'w' ? kWhite : ch == 'p' ? kCheek : 0xFF;
        if (ch == '#') Set(x0 + x, y0 + y, kWhite);
        if (c != 0xFF) Set(x0 + x, y0 + y, c);
      }
    }
  }
};

// 3x5 block letters.
const char* const kS[] = {"###", "#..", "###", "..#", "###"};
const char* const kC[] = {"###", "#..", "#..", "#..", "###"};
const char* const kA[] = {".#.", "#.#", "###", "#.#", "#.#"};
const char* const kL[] = {"#..", "#..", "#..", "#..", "###"};
const char* const kE[] = {"###", "#..", "##.", "#..", "###"};
const char* const k2[] = {"##.", "..#", ".#.", "#..", "###"};
const char* const kX[] = {"#.#", "#.#", ".#.", "#.#", "#.#"};

// A round creature with a dark outline, eyes and cheeks.
const char* const kSprite[] = {
    "....kkkk....",
    "..kkrrrrkk..",
    ".krrrrrrrrk.",
    ".krwwrrwwrk.",
    "krrwkrrwkrrk",
    "krrwkrrwkrrk",
    "krprrrrrrprk",
    "krrrrkkrrrrk",
    "krrrrrrrrrrk",
    ".krrrrrrrrk.",
    "..krkrrkrk..",
    "...k.kk.k...",
};

void Draw(Canvas* c) {
  // Lone stars in the sky.
  const int stars[][2] = {{40, 4}, {52, 10}, {33, 14}, {60, 3}, {90, 36}, {6, 24}};
  for (const auto& s : stars) c->Set(s[0], s[1], kStar);
  // Text.
  const char* const* word[] = {kS, kC, kA, kL, kE, k2, kX};
  for (int i = 0; i < 7; ++i) c->Stamp(3 + 4 * i + (i >= 5 ? 2 : 0), 3, word[i], 5);
  // Sun: a filled circle with a rim.
  c->Disc(76, 18, 11, kSun, kSunRim);
  // Kite strings: diagonals at 45 degrees and at 2:1, crossing each other.
  c->Line(2, 52, 30, 24, kRope);
  c->Line(4, 30, 30, 56, kRope);
  c->Line(36, 22, 64, 36, kWhite);
  c->Line(58, 50, 94, 32, kRope);
  // Ground: a flat strip with a grass edge and a hill along a 2:1 slope.
  for (int x = 0; x < kWidth; ++x) {
    const int top = x < 60 ? 56 : 56 - (x - 60) / 2;
    for (int y = top; y < kHeight; ++y) c->Set(x, y, y == top ? kGrass : kSoil);
    if (x % 7 == 3) c->Set(x, top + 3, kShadow);
  }
  // The sprite standing on the ground.
  c->Stamp(40, 44, kSprite, 12);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: quorvix-sample OUT.png\n");
    return 2;
  }
  static Canvas canvas;
  Draw(&canvas);

  spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
  FILE* file = fopen(argv[1], "wb");
  if (ctx == nullptr || file == nullptr) {
    fprintf(stderr, "quorvix-sample: %s: cannot create\n", argv[1]);
    return 1;
  }
  spng_ihdr ihdr = {};
  ihdr.width = kWidth;
  ihdr.height = kHeight;
  ihdr.bit_depth = 8;
  ihdr.color_type = SPNG_COLOR_TYPE_INDEXED;
  spng_plte plte = {};
  plte.n_entries = sizeof(kPalette) / sizeof(kPalette[0]);
  std::memcpy(plte.entries, kPalette, sizeof(kPalette));
  int err = spng_set_png_file(ctx, file);
  if (err == 0) err = spng_set_ihdr(ctx, &ihdr);
  if (err == 0) err = spng_set_plte(ctx, &plte);
  if (err == 0) err = spng_encode_image(ctx, canvas.pixels, sizeof(canvas.pixels), SPNG_FMT_PNG,
                                        SPNG_ENCODE_FINALIZE);
  spng_ctx_free(ctx);
  if (fclose(file) != 0 || err != 0) {
    fprintf(stderr, "quorvix-sample: %s: %s\n", argv[1], err ? spng_strerror(err) : "write failed");
    return 1;
  }
  return 0;
}
