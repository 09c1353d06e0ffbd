// A module loaded as a host loads it, with its entry points looked up by
// name: through the platform's loader (LoadLibrary / dlopen), or, in a 32-bit
// x86 Linux build, the 32-bit Windows DLL through the tests' own PE loader.
#ifndef QUORVIX_TESTS_LOADED_MODULE_H
#define QUORVIX_TESTS_LOADED_MODULE_H

#include <string>

#include <stdint.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <link.h>
#endif

enum class Loader { kPlatform, kPeImage };

inline const char* LoaderName(Loader loader) {
  if (loader == Loader::kPeImage) return "pe-loader";
#if defined(_WIN32)
  return "LoadLibrary";
#else
  return "dlopen";
#endif
}

// The loader the module tests use. A program built with
// QUORVIX_MODULE_LOADER_PE links the PE loader (pe_image.cpp: a 32-bit x86
// Linux program run against the Windows DLL) and loads through it; without,
// Loader::kPeImage is not available and kModuleLoader is the platform's.
#if defined(QUORVIX_MODULE_LOADER_PE)
#include "pe_image.h"
#if !defined(QUORVIX_HAVE_PE_IMAGE)
#error "QUORVIX_MODULE_LOADER_PE needs a 32-bit x86 Linux build, where the PE loader is compiled"
#endif
constexpr Loader kModuleLoader = Loader::kPeImage;
#else
constexpr Loader kModuleLoader = Loader::kPlatform;
#endif

class Module {
 public:
  explicit Module(const char* path, Loader loader = Loader::kPlatform) : loader_(loader) {
    if (loader == Loader::kPeImage) {
#if defined(QUORVIX_MODULE_LOADER_PE)
      if (!image_.Load(path)) error_ = image_.error();
#else
      error_ = "not linked into this program";
#endif
    } else {
#if defined(_WIN32)
      handle_ = LoadLibraryA(path);
      if (handle_ == nullptr) error_ = "error " + std::to_string(GetLastError());
#else
      handle_ = dlopen(path, RTLD_NOW | RTLD_LOCAL);
      if (handle_ == nullptr) error_ = dlerror();
#endif
    }
    if (!error_.empty()) error_ = std::string(LoaderName(loader)) + " failed: " + error_;
  }
  ~Module() {
#if defined(_WIN32)
    if (handle_ != nullptr) FreeLibrary(handle_);
#else
    if (handle_ != nullptr) dlclose(handle_);
#endif
  }
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  bool loaded() const {
#if defined(QUORVIX_MODULE_LOADER_PE)
    if (loader_ == Loader::kPeImage) return image_.loaded();
#endif
    return handle_ != nullptr;
  }
  const std::string& error() const { return error_; }

  template <typename Fn>
  Fn Find(const char* name) const {
    if (loader_ == Loader::kPeImage) {
#if defined(QUORVIX_MODULE_LOADER_PE)
      return reinterpret_cast<Fn>(image_.Find(name));
#else
      return nullptr;
#endif
    }
#if defined(_WIN32)
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(handle_, name)));
#else
    return reinterpret_cast<Fn>(dlsym(handle_, name));
#endif
  }

#if !defined(_WIN32)
  // The addresses of the module's code that holds the export `name`: the
  // whole image for the PE loader, the executable segment for dlopen.
  bool CodeRange(const char* name, uintptr_t* begin, uintptr_t* end) const {
#if defined(QUORVIX_MODULE_LOADER_PE)
    if (loader_ == Loader::kPeImage) {
      *begin = image_.base();
      *end = image_.base() + image_.size();
      return image_.loaded();
    }
#endif
    struct Search {
      uintptr_t address, begin, end;
    } search = {reinterpret_cast<uintptr_t>(Find<void*>(name)), 0, 0};
    if (search.address == 0) return false;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
          Search* s = static_cast<Search*>(data);
          for (int i = 0; i < info->dlpi_phnum; ++i) {
            const ElfW(Phdr)& segment = info->dlpi_phdr[i];
            if (segment.p_type != PT_LOAD || !(segment.p_flags & PF_X)) continue;
            const uintptr_t start = info->dlpi_addr + segment.p_vaddr;
            if (s->address >= start && s->address < start + segment.p_memsz) {
              s->begin = start;
              s->end = start + segment.p_memsz;
              return 1;
            }
          }
          return 0;
        },
        &search);
    *begin = search.begin;
    *end = search.end;
    return search.end != 0;
  }
#endif

 private:
  Loader loader_;
#if defined(_WIN32)
  HMODULE handle_ = nullptr;
#else
  void* handle_ = nullptr;
#endif
#if defined(QUORVIX_MODULE_LOADER_PE)
  PeImage image_;
#endif
  std::string error_;
};

#endif  // QUORVIX_TESTS_LOADED_MODULE_H
