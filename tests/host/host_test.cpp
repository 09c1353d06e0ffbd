// quorvix-host as a user runs it: a separate process given PNG files that
// the tests write, checked by what it prints, its exit status and the files
// it leaves. Expected images are computed here, independently of the tool:
// colours are numbered and enlarged with the plain 2-D rule of frames.h.
#include <fcntl.h>
#include <spawn.h>
#include <spng.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "frames.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// ---------------------------------------------------------------- images

// One uint32_t per pixel holding the bytes R, G, B, A in memory order.
struct Image {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint32_t> pixels;
  int colourType = -1;  // of the file it was read from
};

uint32_t Rgba(uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
  const uint8_t bytes[4] = {r, g, b, a};
  uint32_t v;
  memcpy(&v, bytes, 4);
  return v;
}

std::string Hex(uint32_t rgba) {
  uint8_t b[4];
  memcpy(b, &rgba, 4);
  char text[16];
  snprintf(text, sizeof(text), "#%02x%02x%02x%02x", b[0], b[1], b[2], b[3]);
  return text;
}

bool ReadPng(const std::string& path, Image* image) {
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  spng_ctx* ctx = spng_ctx_new(0);
  spng_set_png_file(ctx, file);
  spng_ihdr ihdr;
  size_t size = 0;
  bool ok = spng_get_ihdr(ctx, &ihdr) == 0 &&
            spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size) == 0;
  if (ok) {
    image->width = ihdr.width;
    image->height = ihdr.height;
    image->colourType = ihdr.color_type;
    image->pixels.resize(size / 4);
    ok = spng_decode_image(ctx, image->pixels.data(), size, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS) == 0;
  }
  spng_ctx_free(ctx);
  fclose(file);
  return ok;
}

// A PNG as stored: colour type, bit depth and packed rows (16-bit samples in
// host order, as libspng takes them), with a palette and its alpha if any.
struct PngSpec {
  uint8_t colourType = SPNG_COLOR_TYPE_TRUECOLOR;
  uint8_t bitDepth = 8;
  bool interlaced = false;  // Adam7
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> rows;
  std::vector<uint32_t> palette;  // RGBA; alpha below 255 goes into tRNS
};

bool WritePng(const std::string& path, const PngSpec& spec) {
  spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
  FILE* file = fopen(path.c_str(), "wb");
  spng_ihdr ihdr = {};
  ihdr.width = spec.width;
  ihdr.height = spec.height;
  ihdr.bit_depth = spec.bitDepth;
  ihdr.color_type = spec.colourType;
  ihdr.interlace_method = spec.interlaced ? SPNG_INTERLACE_ADAM7 : SPNG_INTERLACE_NONE;
  int err = spng_set_png_file(ctx, file);
  if (err == 0) err = spng_set_ihdr(ctx, &ihdr);
  if (err == 0 && !spec.palette.empty()) {
    spng_plte plte = {};
    spng_trns trns = {};
    plte.n_entries = static_cast<uint32_t>(spec.palette.size());
    for (size_t i = 0; i < spec.palette.size(); ++i) {
      uint8_t b[4];
      memcpy(b, &spec.palette[i], 4);
      plte.entries[i] = {b[0], b[1], b[2], 0};
      trns.type3_alpha[i] = b[3];
      if (b[3] != 255) trns.n_type3_entries = static_cast<uint32_t>(i + 1);
    }
    err = spng_set_plte(ctx, &plte);
    if (err == 0 && trns.n_type3_entries > 0) err = spng_set_trns(ctx, &trns);
  }
  if (err == 0) {
    err = spng_encode_image(ctx, spec.rows.data(), spec.rows.size(), SPNG_FMT_PNG,
                            SPNG_ENCODE_FINALIZE);
  }
  spng_ctx_free(ctx);
  return fclose(file) == 0 && err == 0;
}

// The 2x image: distinct colours numbered, the numbers enlarged by the plain
// 2-D rule, the numbers mapped back.
Image Scale2x(const Image& in) {
  std::map<uint32_t, uint16_t> numbers;
  std::vector<uint32_t> colours;
  Frame frame;
  frame.width = in.width;
  frame.height = in.height;
  for (uint32_t p : in.pixels) {
    auto it = numbers.emplace(p, static_cast<uint16_t>(colours.size())).first;
    if (it->second == colours.size()) colours.push_back(p);
    frame.pixels.push_back(it->second);
  }
  const Frame doubled = Scale2xFrame(frame);
  Image out;
  out.width = doubled.width;
  out.height = doubled.height;
  for (uint16_t n : doubled.pixels) out.pixels.push_back(colours[n]);
  return out;
}

Image Nearest(const Image& in, uint32_t factor) {
  Image out;
  out.width = in.width * factor;
  out.height = in.height * factor;
  for (uint32_t y = 0; y < out.height; ++y) {
    for (uint32_t x = 0; x < out.width; ++x) {
      out.pixels.push_back(in.pixels[size_t{y / factor} * in.width + x / factor]);
    }
  }
  return out;
}

// Empty when equal, else the first difference.
std::string Difference(const Image& got, const Image& want) {
  if (got.width != want.width || got.height != want.height) {
    return "size " + std::to_string(got.width) + "x" + std::to_string(got.height) +
           ", expected " + std::to_string(want.width) + "x" + std::to_string(want.height);
  }
  for (size_t i = 0; i < got.pixels.size(); ++i) {
    if (got.pixels[i] != want.pixels[i]) {
      return "pixel (" + std::to_string(i % got.width) + ", " + std::to_string(i / got.width) +
             ") is " + Hex(got.pixels[i]) + ", expected " + Hex(want.pixels[i]);
    }
  }
  return "";
}

// The picture --compare writes: left half, a gap, right half.
Image Crop(const Image& in, uint32_t x0, uint32_t width) {
  Image out;
  out.width = width;
  out.height = in.height;
  for (uint32_t y = 0; y < in.height; ++y) {
    for (uint32_t x = 0; x < width; ++x) out.pixels.push_back(in.pixels[size_t{y} * in.width + x0 + x]);
  }
  return out;
}

// ---------------------------------------------------------------- files

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

uint32_t BigEndian32(const std::string& s, size_t at) {
  return uint32_t{uint8_t(s[at])} << 24 | uint32_t{uint8_t(s[at + 1])} << 16 |
         uint32_t{uint8_t(s[at + 2])} << 8 | uint8_t(s[at + 3]);
}

void PutBigEndian32(std::string* s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*s)[at + i] = char(v >> (24 - 8 * i));
}

// Offset of the chunk of this type (its length field), or npos.
size_t FindChunk(const std::string& png, const char* type) {
  for (size_t at = 8; at + 12 <= png.size(); at += 12 + BigEndian32(png, at)) {
    if (png.compare(at + 4, 4, type) == 0) return at;
  }
  return std::string::npos;
}

// Recomputes a chunk's CRC after its data was edited, so that the file is
// damaged only where the test means it to be.
void FixCrc(std::string* png, size_t chunk) {
  const uint32_t length = BigEndian32(*png, chunk);
  const uint32_t crc = static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(png->data() + chunk + 4), length + 4));
  PutBigEndian32(png, chunk + 8 + length, crc);
}

// A PNG that is only a header: signature and IHDR, no image data.
std::string HeaderOnlyPng(uint32_t width, uint32_t height, uint8_t colourType) {
  std::string png("\x89PNG\r\n\x1a\n", 8);
  png += std::string("\0\0\0\x0dIHDR", 8);
  png += std::string(13, '\0');
  PutBigEndian32(&png, 16, width);
  PutBigEndian32(&png, 20, height);
  png[24] = 8;  // bit depth
  png[25] = static_cast<char>(colourType);
  png += std::string(4, '\0');
  FixCrc(&png, 8);
  return png;
}

// ---------------------------------------------------------------- fixtures

// An image of a test pattern's few 16-bit codes, each given a colour.
PngSpec Rgba8(const Frame& frame, const std::function<uint32_t(uint16_t)>& colour) {
  PngSpec spec;
  spec.colourType = SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
  spec.width = frame.width;
  spec.height = frame.height;
  for (uint16_t code : frame.pixels) {
    uint8_t b[4];
    const uint32_t c = colour(code);
    memcpy(b, &c, 4);
    spec.rows.insert(spec.rows.end(), b, b + 4);
  }
  return spec;
}

// Palette images of any depth: the codes numbered in order of appearance.
PngSpec Palette(const Frame& frame, uint8_t depth, const std::vector<uint32_t>& palette) {
  PngSpec spec;
  spec.colourType = SPNG_COLOR_TYPE_INDEXED;
  spec.bitDepth = depth;
  spec.width = frame.width;
  spec.height = frame.height;
  spec.palette = palette;
  std::map<uint16_t, uint8_t> index;
  for (uint16_t code : frame.pixels) index.emplace(code, static_cast<uint8_t>(index.size()));
  const size_t rowBytes = (size_t{frame.width} * depth + 7) / 8;
  spec.rows.assign(rowBytes * frame.height, 0);
  for (uint32_t y = 0; y < frame.height; ++y) {
    for (uint32_t x = 0; x < frame.width; ++x) {
      const size_t bit = size_t{x} * depth;
      const uint8_t v = index[frame.pixels[size_t{y} * frame.width + x]];
      spec.rows[y * rowBytes + bit / 8] |= static_cast<uint8_t>(v << (8 - depth - bit % 8));
    }
  }
  return spec;
}

// Grey images of 1 to 16 bits, with or without alpha, from the codes' bits.
PngSpec Grey(const Frame& frame, uint8_t depth, bool alpha) {
  PngSpec spec;
  spec.colourType = alpha ? SPNG_COLOR_TYPE_GRAYSCALE_ALPHA : SPNG_COLOR_TYPE_GRAYSCALE;
  spec.bitDepth = depth;
  spec.width = frame.width;
  spec.height = frame.height;
  std::map<uint16_t, uint16_t> index;
  for (uint16_t code : frame.pixels) index.emplace(code, static_cast<uint16_t>(index.size()));
  const uint32_t top = (1u << depth) - 1;
  for (uint32_t y = 0; y < frame.height; ++y) {
    std::vector<uint8_t> row((size_t{frame.width} * depth * (alpha ? 2 : 1) + 7) / 8);
    for (uint32_t x = 0; x < frame.width; ++x) {
      const uint16_t n = index[frame.pixels[size_t{y} * frame.width + x]];
      const uint32_t grey = (n * 0x9E37u) & top;
      const uint32_t a = n % 2 ? top : top / 3;
      if (depth == 16) {
        uint16_t s[2] = {uint16_t(grey), uint16_t(a)};
        memcpy(&row[x * (alpha ? 4 : 2)], s, alpha ? 4 : 2);
      } else if (depth == 8) {
        row[x * (alpha ? 2 : 1)] = uint8_t(grey);
        if (alpha) row[x * 2 + 1] = uint8_t(a);
      } else {
        const size_t bit = size_t{x} * depth;
        row[bit / 8] |= static_cast<uint8_t>(grey << (8 - depth - bit % 8));
      }
    }
    spec.rows.insert(spec.rows.end(), row.begin(), row.end());
  }
  return spec;
}

PngSpec Rgb16(const Frame& frame, bool alpha) {
  PngSpec spec;
  spec.colourType = alpha ? SPNG_COLOR_TYPE_TRUECOLOR_ALPHA : SPNG_COLOR_TYPE_TRUECOLOR;
  spec.bitDepth = 16;
  spec.width = frame.width;
  spec.height = frame.height;
  for (uint16_t code : frame.pixels) {
    // Channels that differ only in their low byte still read as distinct
    // 16-bit colours; the tool keeps their high bytes.
    const uint16_t s[4] = {uint16_t(code * 3), uint16_t(code ^ 0x00FF), uint16_t(code + 0x1234),
                           uint16_t(code & 1 ? 0xFFFF : 0x7F00 + (code & 0xFF))};
    const uint8_t* b = reinterpret_cast<const uint8_t*>(s);
    spec.rows.insert(spec.rows.end(), b, b + (alpha ? 8 : 6));
  }
  return spec;
}

// ---------------------------------------------------------------- running

struct Outcome {
  int exit = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

int CountLines(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

class HostTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string base = (fs::temp_directory_path() / "quorvix-host-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(&base[0]), nullptr);
    root_ = base;
    work_ = root_ + "/work";
    fs::create_directory(work_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  // A path in the folder that the tool reads and writes.
  std::string Path(const std::string& name) const { return work_ + "/" + name; }

  Outcome Spawn(const char* program, const std::vector<std::string>& args) const {
    const std::string outPath = root_ + "/stdout", errPath = root_ + "/stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv{const_cast<char*>(program)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    Outcome run;
    pid_t pid;
    if (posix_spawn(&pid, program, &actions, nullptr, argv.data(), environ) == 0) {
      int status = 0;
      waitpid(pid, &status, 0);
      run.exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    run.out = ReadFile(outPath);
    run.err = ReadFile(errPath);
    return run;
  }

  Outcome Host(const std::vector<std::string>& args) const { return Spawn(QUORVIX_HOST, args); }

  // Names in a folder; the tool's temporary files start with a dot.
  static std::vector<std::string> Listing(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string root_;
  std::string work_;
};

std::string Joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& n : names) text += n + " ";
  return text;
}

// ---------------------------------------------------------------- tests

TEST_F(HostTest, InfoPrintsTheModulesNameAndFlags) {
  Outcome run = Host({"info"});
  EXPECT_EQ(run.exit, 0) << run.err;
  EXPECT_NE(run.out.find("Quorvix (Dovane)"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("0x00000B01"), std::string::npos) << run.out;

  run = Host({"info", "--plugin", STUB_REFUSING_MODULE});
  EXPECT_EQ(run.exit, 0) << run.err;
  EXPECT_NE(run.out.find("Stub"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("0x00000000"), std::string::npos) << run.out;
}

TEST_F(HostTest, TheSampleEnlargesToTheScale2xOfItsColours) {
  Image sample;
  ASSERT_TRUE(ReadPng(QUORVIX_SAMPLE_PNG, &sample));
  const Image twice = Scale2x(sample);
  const Image fourTimes = Scale2x(twice);

  Outcome run = Host({"scale", QUORVIX_SAMPLE_PNG, Path("2x.png")});
  ASSERT_EQ(run.exit, 0) << run.err;
  EXPECT_NE(run.out.find("1 of 1 image scaled"), std::string::npos) << run.out;
  Image got;
  ASSERT_TRUE(ReadPng(Path("2x.png"), &got));
  EXPECT_EQ(Difference(got, twice), "");
  EXPECT_EQ(got.colourType, SPNG_COLOR_TYPE_TRUECOLOR) << "an opaque image is stored as RGB";

  // --times 2: twice through the module, 4x; the comparison picture holds
  // plain 4x pixel repetition, a gap, and the same result.
  run = Host({"scale", QUORVIX_SAMPLE_PNG, Path("4x.png"), "--times", "2", "--compare",
              Path("compare.png")});
  ASSERT_EQ(run.exit, 0) << run.err;
  ASSERT_TRUE(ReadPng(Path("4x.png"), &got));
  EXPECT_EQ(got.width, sample.width * 4);
  EXPECT_EQ(got.height, sample.height * 4);
  EXPECT_EQ(Difference(got, fourTimes), "");
  Image picture;
  ASSERT_TRUE(ReadPng(Path("compare.png"), &picture));
  ASSERT_GT(picture.width, 2 * got.width);
  const uint32_t gap = picture.width - 2 * got.width;
  EXPECT_EQ(Difference(Crop(picture, 0, got.width), Nearest(sample, 4)), "");
  EXPECT_EQ(Difference(Crop(picture, got.width + gap, got.width), fourTimes), "");

  // The README shows this very picture.
  Image shown;
  ASSERT_TRUE(ReadPng(QUORVIX_DOCS_COMPARE_PNG, &shown));
  EXPECT_EQ(Difference(shown, picture), "") << "remake docs/sample-compare.png (see README)";
}

TEST_F(HostTest, EveryKindOfPngRoundTripsLosslessly) {
  const Frame sprite = MakeFrame(Pattern::kSprite, 21, 13);       // four codes
  const Frame few = MakeFrame(Pattern::kFewColours, 19, 11);      // three codes
  const Frame twoCodes = MakeFrame(Pattern::kOneBitApart, 17, 9); // two codes
  const Frame lines = MakeFrame(Pattern::kDiagonals, 23, 15);     // two codes
  struct Case {
    const char* name;
    PngSpec spec;
  };
  const Case cases[] = {
      // Colours that differ only in alpha must stay apart.
      {"rgba8 with alpha", Rgba8(sprite, [](uint16_t c) {
         return c == 0x0001 ? Rgba(10, 20, 30, 0) : c == 0xF800 ? Rgba(10, 20, 30, 128)
              : c == 0x03E0 ? Rgba(10, 20, 30, 255) : Rgba(200, 100, 50, 255); })},
      {"rgb8", [&] { PngSpec s = Rgba8(few, [](uint16_t c) { return Rgba(uint8_t(c), uint8_t(c >> 8), 7, 255); });
         // The same colours without the alpha channel.
         std::vector<uint8_t> rgb;
         for (size_t i = 0; i < s.rows.size(); i += 4) rgb.insert(rgb.end(), &s.rows[i], &s.rows[i + 3]);
         s.rows = rgb;
         s.colourType = SPNG_COLOR_TYPE_TRUECOLOR;
         return s; }()},
      {"palette 8-bit with transparency", Palette(few, 8, {Rgba(255, 0, 0, 255), Rgba(255, 0, 0, 0), Rgba(0, 0, 255, 90)})},
      {"palette 2-bit", Palette(sprite, 2, {Rgba(0, 0, 0, 255), Rgba(90, 160, 60, 255), Rgba(250, 250, 250, 255), Rgba(200, 40, 40, 255)})},
      {"palette 1-bit", Palette(lines, 1, {Rgba(20, 20, 60, 255), Rgba(240, 240, 200, 255)})},
      {"grey 1-bit", Grey(twoCodes, 1, false)},
      {"grey 4-bit", Grey(sprite, 4, false)},
      {"grey 8-bit with alpha", Grey(sprite, 8, true)},
      {"grey 16-bit", Grey(few, 16, false)},
      {"grey 16-bit with alpha", Grey(sprite, 16, true)},
      {"rgb 16-bit", Rgb16(sprite, false)},
      {"rgba 16-bit", Rgb16(sprite, true)},
      {"rgba 16-bit interlaced", [&] { PngSpec s = Rgb16(sprite, true); s.interlaced = true; return s; }()},
      {"palette 2-bit interlaced", [&] { PngSpec s = Palette(sprite, 2, {Rgba(0, 0, 0, 255), Rgba(1, 1, 1, 255), Rgba(2, 2, 2, 0), Rgba(3, 3, 3, 255)});
         s.interlaced = true; return s; }()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(WritePng(Path("in.png"), c.spec));
    ASSERT_EQ(ReadFile(Path("in.png"))[28], c.spec.interlaced ? 1 : 0) << "IHDR interlace method";
    Image in;
    ASSERT_TRUE(ReadPng(Path("in.png"), &in));
    const Outcome run = Host({"scale", Path("in.png"), Path("out.png")});
    ASSERT_EQ(run.exit, 0) << run.err;
    Image out;
    ASSERT_TRUE(ReadPng(Path("out.png"), &out));
    EXPECT_EQ(Difference(out, Scale2x(in)), "");
    const bool alpha = std::any_of(in.pixels.begin(), in.pixels.end(), [](uint32_t p) {
      return (p >> 24) != 255;  // little-endian: the fourth byte
    });
    EXPECT_EQ(out.colourType, alpha ? SPNG_COLOR_TYPE_TRUECOLOR_ALPHA : SPNG_COLOR_TYPE_TRUECOLOR);
  }
}

TEST_F(HostTest, LossyModesConvertLikeA16BitHost) {
  struct Case {
    const char* mode;
    uint32_t in, out;
    int colourType;
  };
  const int kRgb = SPNG_COLOR_TYPE_TRUECOLOR, kRgba = SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
  const Case cases[] = {
      {"rgb565", Rgba(0x12, 0x34, 0x56, 255), Rgba(0x10, 0x34, 0x52, 255), kRgb},
      {"rgb565", Rgba(255, 255, 255, 255), Rgba(255, 255, 255, 255), kRgb},
      // No alpha in 5-6-5: the image is shown over black.
      {"rgb565", Rgba(255, 255, 255, 128), Rgba(132, 130, 132, 255), kRgb},
      {"rgb565", Rgba(200, 100, 50, 0), Rgba(0, 0, 0, 255), kRgb},
      {"rgb555", Rgba(0x12, 0x34, 0x56, 255), Rgba(0x10, 0x31, 0x52, 255), kRgb},
      // One bit of alpha: below half is fully transparent.
      {"rgb555", Rgba(255, 255, 255, 128), Rgba(255, 255, 255, 255), kRgb},
      {"rgb555", Rgba(200, 100, 50, 127), Rgba(0, 0, 0, 0), kRgba},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.mode) + " " + Hex(c.in));
    const Frame flat = MakeFrame(Pattern::kFlat, 3, 2);
    ASSERT_TRUE(WritePng(Path("in.png"), Rgba8(flat, [&](uint16_t) { return c.in; })));
    const Outcome run = Host({"scale", Path("in.png"), Path("out.png"), "--pixels", c.mode});
    ASSERT_EQ(run.exit, 0) << run.err;
    Image out;
    ASSERT_TRUE(ReadPng(Path("out.png"), &out));
    Image want;
    want.width = 6;
    want.height = 4;
    want.pixels.assign(24, c.out);
    EXPECT_EQ(Difference(out, want), "");
    EXPECT_EQ(out.colourType, c.colourType);
  }
}

TEST_F(HostTest, BadInputsFailWithOneLineAndLeaveNoOutput) {
  // A small valid PNG to damage.
  ASSERT_TRUE(WritePng(Path("good.png"), Rgba8(MakeFrame(Pattern::kNoise, 40, 30), [](uint16_t c) {
                         return Rgba(uint8_t(c), uint8_t(c >> 8), uint8_t(c * 7), 255); })));
  const std::string good = ReadFile(Path("good.png"));
  const size_t idat = FindChunk(good, "IDAT");
  ASSERT_NE(idat, std::string::npos);

  std::string dataBroken = good;
  dataBroken[idat + 8 + 5] ^= 0x55;
  std::string crcBroken = good;
  crcBroken[8 + 8 + 13] ^= 0x01;  // the header's CRC
  std::string zlibBroken = good;
  zlibBroken[idat + 8] = 0;  // not a zlib header; the chunk's CRC is right
  FixCrc(&zlibBroken, idat);
  std::string depthBroken = good;
  depthBroken[8 + 8 + 8] = 7;  // no such bit depth
  FixCrc(&depthBroken, 8);
  // A full-colour image with more than 65536 colours.
  PngSpec manyColours;
  manyColours.colourType = SPNG_COLOR_TYPE_TRUECOLOR;
  manyColours.width = 256;
  manyColours.height = 257;
  for (uint32_t i = 0; i < 256 * 257; ++i) {
    manyColours.rows.insert(manyColours.rows.end(), {uint8_t(i), uint8_t(i >> 8), uint8_t(i >> 16)});
  }
  ASSERT_TRUE(WritePng(Path("many-colours.png"), manyColours));
  fs::create_directory(Path("folder.png"));
  WriteFile(Path("text.png"), "this is not an image\n");
  WriteFile(Path("empty.png"), "");

  struct Case {
    const char* input;
    std::string bytes;  // written to the input first, unless empty
    std::vector<std::string> extra;
    const char* message;
    const char* named;  // the file the message names, if not the input
  };
  const Case cases[] = {
      {"missing.png", "", {}, "cannot open: No such file or directory", nullptr},
      {"folder.png", "", {}, "not a regular file", nullptr},
      {"empty.png", "", {}, "empty file", nullptr},
      {"text.png", "", {}, "not a PNG file", nullptr},
      {"truncated.png", good.substr(0, idat + 40), {}, "truncated PNG file", nullptr},
      {"no-end.png", good.substr(0, good.size() - 12), {}, "truncated PNG file", nullptr},
      {"data.png", dataBroken, {}, "corrupt PNG file", nullptr},
      {"crc.png", crcBroken, {}, "corrupt PNG file: a chunk's checksum does not match", nullptr},
      {"zlib.png", zlibBroken, {}, "corrupt PNG file", nullptr},
      {"depth.png", depthBroken, {}, "corrupt PNG file", nullptr},
      // Sizes are checked from the header, before any pixel is read.
      {"wide.png", HeaderOnlyPng(0x40000000, 1, SPNG_COLOR_TYPE_GRAYSCALE), {}, "32-bit", nullptr},
      {"huge.png", HeaderOnlyPng(1000000, 1000000, SPNG_COLOR_TYPE_TRUECOLOR_ALPHA), {}, "of memory", nullptr},
      {"undecodable.png", HeaderOnlyPng(0x7FFFFFFF, 1, SPNG_COLOR_TYPE_TRUECOLOR_ALPHA), {}, "too large", nullptr},
      {"good.png", "", {"--times", "26"}, "32-bit", nullptr},
      {"many-colours.png", "", {}, "use --pixels rgb565", nullptr},
      {"good.png", "", {"--plugin", Path("none.rpi")}, "cannot open module", "none.rpi"},
      {"good.png", "", {"--plugin", Path("text.png")}, "cannot load module", "text.png"},
      {"good.png", "", {"--plugin", STUB_NO_OUTPUT_MODULE}, "no RenderPluginOutput entry point",
       STUB_NO_OUTPUT_MODULE},
      {"good.png", "", {"--plugin", STUB_REFUSING_MODULE}, "refused the 40x30 frame", nullptr},
  };
  // The comparison picture's path already holds an earlier picture, which a
  // failure must leave as it was.
  WriteFile(Path("earlier.png"), "an earlier picture");
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.input) + " " + Joined(c.extra) + "-> " + c.message);
    if (!c.bytes.empty()) WriteFile(Path(c.input), c.bytes);
    const std::vector<std::string> before = Listing(work_);
    std::vector<std::string> args = {"scale", Path(c.input), Path("out.png"), "--compare",
                                     Path("earlier.png")};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    const Outcome run = Host(args);
    EXPECT_EQ(run.exit, 1);
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(c.named != nullptr ? c.named : Path(c.input)), std::string::npos)
        << run.err;
    EXPECT_EQ(CountLines(run.err), 1) << run.err;
    EXPECT_FALSE(fs::exists(Path("out.png")));
    EXPECT_EQ(ReadFile(Path("earlier.png")), "an earlier picture");
    EXPECT_EQ(Joined(Listing(work_)), Joined(before)) << "no file left behind";
  }
}

TEST_F(HostTest, AFileCutAnywhereIsRejected) {
  ASSERT_TRUE(WritePng(Path("good.png"), Rgba8(MakeFrame(Pattern::kSprite, 30, 20), [](uint16_t c) {
                         return Rgba(uint8_t(c), uint8_t(c >> 8), 99, uint8_t(c | 1)); })));
  const std::string good = ReadFile(Path("good.png"));
  // Every length up to the final chunk's CRC (libspng does not read IEND's
  // CRC: a file missing only that still holds the whole image).
  for (size_t length = 1; length + 4 < good.size(); length += length < 60 ? 1 : 7) {
    SCOPED_TRACE(length);
    WriteFile(Path("cut.png"), good.substr(0, length));
    const Outcome run = Host({"scale", Path("cut.png"), Path("out.png")});
    EXPECT_EQ(run.exit, 1);
    EXPECT_EQ(CountLines(run.err), 1) << run.err;
    EXPECT_FALSE(fs::exists(Path("out.png")));
  }
}

TEST_F(HostTest, BatchModeGoesOnPastABadInputAndKeepsEarlierOutputs) {
  const Pattern patterns[] = {Pattern::kSprite, Pattern::kDiagonals, Pattern::kFewColours,
                              Pattern::kOneBitApart, Pattern::kFlat};
  std::vector<std::string> args = {"scale"};
  std::vector<Image> inputs;
  for (size_t i = 0; i < 5; ++i) {
    const std::string name = "in" + std::to_string(i) + ".png";
    ASSERT_TRUE(WritePng(Path(name), Rgba8(MakeFrame(patterns[i], 20 + uint32_t(i), 9),
                                            [](uint16_t c) { return Rgba(uint8_t(c), uint8_t(c >> 8), 1, 255); })));
    inputs.emplace_back();
    ASSERT_TRUE(ReadPng(Path(name), &inputs.back()));
    args.push_back(Path(name));
    if (i == 2) {
      WriteFile(Path("broken.png"), ReadFile(Path(name)).substr(0, 60));
      args.push_back(Path("broken.png"));
    }
  }
  // An earlier run's output for the input that is now broken.
  fs::create_directory(Path("out"));
  WriteFile(Path("out/broken.png"), "earlier output");
  args.insert(args.end(), {"-o", Path("out")});

  const Outcome run = Host(args);
  EXPECT_EQ(run.exit, 1);
  EXPECT_NE(run.err.find(Path("broken.png") + ": truncated PNG file"), std::string::npos) << run.err;
  EXPECT_EQ(CountLines(run.err), 1) << "no progress bar off a terminal: " << run.err;
  EXPECT_NE(run.out.find("5 of 6 images scaled"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("1 failed"), std::string::npos) << run.out;
  for (size_t i = 0; i < inputs.size(); ++i) {
    SCOPED_TRACE(i);
    Image out;
    ASSERT_TRUE(ReadPng(Path("out/in" + std::to_string(i) + ".png"), &out));
    EXPECT_EQ(Difference(out, Scale2x(inputs[i])), "");
  }
  EXPECT_EQ(ReadFile(Path("out/broken.png")), "earlier output");
  EXPECT_EQ(Listing(Path("out")).size(), 6u) << Joined(Listing(Path("out")));

  // A folder that does not exist yet is made.
  const Outcome again = Host({"scale", Path("in0.png"), Path("in1.png"), "-o", Path("new")});
  EXPECT_EQ(again.exit, 0) << again.err;
  EXPECT_EQ(Joined(Listing(Path("new"))), "in0.png in1.png ");
}

TEST_F(HostTest, CommandLineMistakesAreRefusedBeforeAnyWork) {
  ASSERT_TRUE(WritePng(Path("a.png"), Rgba8(MakeFrame(Pattern::kFlat, 4, 4), [](uint16_t) {
                         return Rgba(1, 2, 3, 255); })));
  fs::create_directory(Path("sub"));
  fs::copy_file(Path("a.png"), Path("sub/a.png"));
  const std::string original = ReadFile(Path("a.png"));
  const std::vector<std::vector<std::string>> cases = {
      {"scale", Path("a.png")},
      {"scale", Path("a.png"), Path("b.png"), Path("c.png")},
      {"scale", Path("a.png"), Path("b.png"), "--times", "0"},
      {"scale", Path("a.png"), Path("b.png"), "--pixels", "rgb444"},
      {"scale", Path("a.png"), Path("x.png"), "-o", Path("out"), "--compare", Path("c.png")},
      {"scale", Path("a.png"), Path("sub/a.png"), "-o", Path("out")},
      {"scale", Path("a.png"), Path("a.png")},
      {"bench", "--size", "320"},
      {"bench", "--frames", "0"},
      {"frobnicate"},
      {},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(Joined(args));
    const std::vector<std::string> before = Listing(work_);
    const Outcome run = Host(args);
    EXPECT_EQ(run.exit, 2);
    EXPECT_EQ(CountLines(run.err), 1) << run.err;
    EXPECT_EQ(Joined(Listing(work_)), Joined(before));
    EXPECT_EQ(ReadFile(Path("a.png")), original);
  }
}

TEST_F(HostTest, BenchPrintsTheModuleBesideMemset) {
  Outcome run = Host({"bench", "--size", "40x30", "--frames", "10"});
  ASSERT_EQ(run.exit, 0) << run.err;
  EXPECT_NE(run.out.find("Quorvix (Dovane)"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("ns per source pixel"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("x memset"), std::string::npos) << run.out;

  run = Host({"bench", "--size", "40x30", "--frames", "10", "--plugin", STUB_REFUSING_MODULE});
  EXPECT_EQ(run.exit, 1);
  EXPECT_NE(run.err.find("refused"), std::string::npos) << run.err;
}

TEST_F(HostTest, TheCommittedSampleIsWhatTheDrawerDraws) {
  const Outcome run = Spawn(QUORVIX_SAMPLE_TOOL, {Path("drawn.png")});
  ASSERT_EQ(run.exit, 0) << run.err;
  Image drawn, committed;
  ASSERT_TRUE(ReadPng(Path("drawn.png"), &drawn));
  ASSERT_TRUE(ReadPng(QUORVIX_SAMPLE_PNG, &committed));
  EXPECT_EQ(Difference(drawn, committed), "") << "redraw samples/sample.png with quorvix-sample";
}

}  // namespace
