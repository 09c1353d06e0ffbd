#include "png_file.h"

#include <errno.h>
#include <fcntl.h>
#include <spng.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace host {
namespace {

// Decoder bookkeeping (text chunks, ICC profiles, ...) is capped, so that a
// hostile file cannot make the reader take memory that its pixels don't need.
constexpr size_t kChunkCacheLimit = size_t{64} << 20;

mode_t gFileMode = 0644;

std::string DescribeReadError(int err) {
  switch (err) {
    case SPNG_ESIGNATURE:
      return "not a PNG file";
    case SPNG_IO_EOF:
    case SPNG_EOF:
      return "truncated PNG file: it ends early";
    case SPNG_EIDAT_TOO_SHORT:
      return "truncated PNG file: image data ends early";
    case SPNG_IO_ERROR:
    case SPNG_EIO:
      return std::string("read error: ") + strerror(errno != 0 ? errno : EIO);
    case SPNG_EMEM:
      return "out of memory while decoding";
    case SPNG_EOVERFLOW:
      return "too large: the PNG decoder cannot hold a row or the image of this size";
    case SPNG_ECHUNK_CRC:
      return "corrupt PNG file: a chunk's checksum does not match";
    default:
      return std::string("corrupt PNG file: ") + spng_strerror(err);
  }
}

}  // namespace

PngReader::~PngReader() {
  if (ctx_ != nullptr) spng_ctx_free(ctx_);
  if (file_ != nullptr) fclose(file_);
}

bool PngReader::Open(const std::string& path, std::string* error) {
  file_ = fopen(path.c_str(), "rb");
  if (file_ == nullptr) {
    *error = std::string("cannot open: ") + strerror(errno);
    return false;
  }
  struct stat st;
  if (fstat(fileno(file_), &st) != 0 || !S_ISREG(st.st_mode)) {
    *error = "cannot read: not a regular file";
    return false;
  }
  fileSize_ = static_cast<long>(st.st_size);
  if (fileSize_ < 8) {
    *error = fileSize_ == 0 ? "empty file, not a PNG" : "not a PNG file";
    return false;
  }
  ctx_ = spng_ctx_new(0);
  if (ctx_ == nullptr) {
    *error = "out of memory";
    return false;
  }
  spng_set_chunk_limits(ctx_, UINT32_MAX, kChunkCacheLimit);
  spng_set_png_file(ctx_, file_);
  spng_ihdr ihdr;
  errno = 0;
  if (const int err = spng_get_ihdr(ctx_, &ihdr)) {
    *error = DescribeReadError(err);
    // The decoder reads the signature and the header in one go, so a short
    // file of another kind looks truncated; its first bytes tell.
    static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    unsigned char start[8];
    if ((err == SPNG_IO_EOF || err == SPNG_EOF) && fseek(file_, 0, SEEK_SET) == 0 &&
        (fread(start, 1, 8, file_) != 8 || memcmp(start, kSignature, 8) != 0)) {
      *error = "not a PNG file";
    }
    return false;
  }
  width_ = ihdr.width;
  height_ = ihdr.height;
  return true;
}

bool PngReader::Decode(RgbaImage* image, std::string* error) {
  size_t size = 0;
  if (const int err = spng_decoded_image_size(ctx_, SPNG_FMT_RGBA8, &size)) {
    *error = DescribeReadError(err);
    return false;
  }
  image->width = width_;
  image->height = height_;
  image->rgba.resize(size);
  errno = 0;
  if (const int err = spng_decode_image(ctx_, image->rgba.data(), size, SPNG_FMT_RGBA8,
                                        SPNG_DECODE_TRNS)) {
    *error = DescribeReadError(err);
    return false;
  }
  // The chunks after the image data, up to IEND: a file cut after its last
  // pixel is still a truncated file.
  errno = 0;
  if (const int err = spng_decode_chunks(ctx_)) {
    *error = DescribeReadError(err);
    return false;
  }
  return true;
}

bool WritePng(FILE* file, uint32_t width, uint32_t height, bool alpha,
              const RowSource& row, std::string* error) {
  spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
  if (ctx == nullptr) {
    *error = "out of memory";
    return false;
  }
  spng_ihdr ihdr = {};
  ihdr.width = width;
  ihdr.height = height;
  ihdr.bit_depth = 8;
  ihdr.color_type = alpha ? SPNG_COLOR_TYPE_TRUECOLOR_ALPHA : SPNG_COLOR_TYPE_TRUECOLOR;
  int err = spng_set_png_file(ctx, file);
  if (err == 0) err = spng_set_ihdr(ctx, &ihdr);
  if (err == 0) err = spng_encode_image(ctx, nullptr, 0, SPNG_FMT_PNG,
                                        SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE);
  std::vector<uint8_t> rgba(size_t{width} * 4);
  std::vector<uint8_t> rgb(alpha ? 0 : size_t{width} * 3);
  for (uint32_t y = 0; err == 0 && y < height; ++y) {
    row(y, rgba.data());
    const uint8_t* line = rgba.data();
    if (!alpha) {
      for (size_t x = 0; x < width; ++x) memcpy(&rgb[x * 3], &rgba[x * 4], 3);
      line = rgb.data();
    }
    err = spng_encode_row(ctx, line, alpha ? rgba.size() : rgb.size());
    if (err == SPNG_EOI) err = 0;  // the last row finishes the file
  }
  spng_ctx_free(ctx);
  if (err != 0) {
    *error = std::string("cannot write PNG: ") + spng_strerror(err);
    return false;
  }
  return true;
}

void InitFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  gFileMode = 0666 & ~mask;
}

PendingFile::~PendingFile() {
  if (file_ != nullptr) fclose(file_);
  if (!temp_.empty()) unlink(temp_.c_str());
}

bool PendingFile::Create(std::string* error) {
  // A hidden name beside the target, so that the final rename stays within
  // one file system and is atomic.
  const size_t slash = path_.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : path_.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path_ : path_.substr(slash + 1);
  std::string temp = dir + "." + base + ".XXXXXX";
  const int fd = mkstemp(&temp[0]);
  if (fd < 0) {
    *error = std::string("cannot create output: ") + strerror(errno);
    return false;
  }
  temp_ = temp;
  fchmod(fd, gFileMode);
  file_ = fdopen(fd, "wb");
  if (file_ == nullptr) {
    *error = std::string("cannot create output: ") + strerror(errno);
    close(fd);
    return false;
  }
  return true;
}

bool PendingFile::Finish(std::string* error) {
  bool ok = fflush(file_) == 0 && !ferror(file_) && fsync(fileno(file_)) == 0;
  const int saved = errno;
  ok = fclose(file_) == 0 && ok;
  file_ = nullptr;
  if (!ok) {
    *error = std::string("cannot write output: ") + strerror(saved != 0 ? saved : errno);
    return false;
  }
  return true;
}

bool PendingFile::Commit(std::string* error) {
  if (rename(temp_.c_str(), path_.c_str()) != 0) {
    *error = std::string("cannot write output: ") + strerror(errno);
    return false;
  }
  temp_.clear();
  return true;
}

}  // namespace host
