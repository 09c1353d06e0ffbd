// A 32-bit Windows DLL mapped by hand into a 32-bit x86 Linux process, so
// that the tests can call the shipped PE32 file where no Windows (and no
// wine) runs. The calling convention, record layouts and callee-saved
// registers are the same on both systems, so its exports are called directly.
//
// The loader does the least a Windows loader does for a DLL that links
// nothing: map the headers and sections, apply the base relocations, set
// each section's protection, run the entry point, and look exports up by
// name. Anything it cannot honour (imports, TLS, other relocation types, ...)
// refuses the load with a message naming what it found. The file is treated
// as untrusted: every offset and size in it is checked before use.
#ifndef QUORVIX_TESTS_PE_IMAGE_H
#define QUORVIX_TESTS_PE_IMAGE_H

#if defined(__i386__) && !defined(_WIN32)
#define QUORVIX_HAVE_PE_IMAGE 1

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

class PeImage {
 public:
  PeImage() = default;
  ~PeImage() { Unload(); }
  PeImage(const PeImage&) = delete;
  PeImage& operator=(const PeImage&) = delete;

  // Maps the DLL at `path` and runs its entry point for the process attach.
  // False, with error() saying why, when the file is not a DLL this loader
  // can load. An image loaded before is unloaded first.
  bool Load(const char* path);
  // Runs the entry point for the process detach and unmaps the image;
  // nothing when no image is loaded.
  void Unload();

  bool loaded() const { return base_ != nullptr; }
  const std::string& error() const { return error_; }

  // The address of the export `name` (case-sensitive), null without one.
  void* Find(const char* name) const;

  // Where the image sits and how many bytes it spans, and the base its file
  // was linked for. The two bases always differ: the relocations always run.
  uintptr_t base() const { return reinterpret_cast<uintptr_t>(base_); }
  size_t size() const { return size_; }
  uint32_t preferred_base() const { return preferred_base_; }

 private:
  using Entry = int(__attribute__((stdcall)) *)(void* instance, uint32_t reason, void* reserved);
  struct Export {
    std::string name;
    uint32_t rva;
  };

  bool Map(uint64_t bytes);
  bool Relocate(uint32_t rva, uint32_t bytes);
  bool ReadExports(uint32_t rva, uint32_t bytes);
  // Records `why`, unmaps whatever is mapped and returns false.
  bool Fail(const std::string& why);
  void Unmap();

  uint8_t* base_ = nullptr;
  size_t size_ = 0;
  uint32_t image_size_ = 0;  // SizeOfImage: how much of the mapping the file describes
  uint32_t preferred_base_ = 0;
  Entry entry_ = nullptr;
  std::vector<Export> exports_;
  std::string error_;
};

#endif  // defined(__i386__) && !defined(_WIN32)
#endif  // QUORVIX_TESTS_PE_IMAGE_H
