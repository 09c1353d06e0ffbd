// PNG files through libspng: any colour type and bit depth read as 8-bit
// RGBA, 8-bit RGB or RGBA written row by row, and output files that appear
// only when complete.
#ifndef QUORVIX_HOST_PNG_FILE_H
#define QUORVIX_HOST_PNG_FILE_H

#include <stdint.h>
#include <stdio.h>

#include <functional>
#include <string>
#include <vector>

struct spng_ctx;

namespace host {

struct RgbaImage {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> rgba;  // 4 bytes per pixel, rows without padding
};

// Reads a PNG in two steps, so that its size can be checked before any
// pixel memory is taken. Errors say what is wrong, without the file name.
class PngReader {
 public:
  PngReader() = default;
  ~PngReader();
  PngReader(const PngReader&) = delete;
  PngReader& operator=(const PngReader&) = delete;

  // Opens the file and reads its header.
  bool Open(const std::string& path, std::string* error);
  uint32_t width() const { return width_; }
  uint32_t height() const { return height_; }

  // Decodes every pixel as 8-bit RGBA: palette and transparency applied,
  // grey expanded, 16-bit channels reduced to their high byte.
  bool Decode(RgbaImage* image, std::string* error);

 private:
  FILE* file_ = nullptr;
  spng_ctx* ctx_ = nullptr;
  long fileSize_ = 0;
  uint32_t width_ = 0;
  uint32_t height_ = 0;
};

// Fills one output row of `width` RGBA pixels (4 bytes each).
using RowSource = std::function<void(uint32_t y, uint8_t* rgba)>;

// Encodes an 8-bit PNG into an open file, one row at a time; with
// `alpha` false the image is stored as RGB and the rows' alpha is dropped.
bool WritePng(FILE* file, uint32_t width, uint32_t height, bool alpha,
              const RowSource& row, std::string* error);

// An output file written under a temporary name in its own folder and
// renamed over `path` by Commit(). Until then `path` is untouched; a
// PendingFile destroyed without Commit() removes its temporary file.
class PendingFile {
 public:
  explicit PendingFile(std::string path) : path_(std::move(path)) {}
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  bool Create(std::string* error);
  FILE* file() const { return file_; }
  // Flushes and closes the temporary file; false if anything failed.
  bool Finish(std::string* error);
  bool Commit(std::string* error);

 private:
  std::string path_;
  std::string temp_;
  FILE* file_ = nullptr;
};

// The permission bits new files get; read once, before threads start.
void InitFileMode();

}  // namespace host

#endif  // QUORVIX_HOST_PNG_FILE_H
