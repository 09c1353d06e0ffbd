// A module loaded through the platform's loader (LoadLibrary / dlopen), as a
// host loads it, with its entry points looked up by name.
#ifndef QUORVIX_TESTS_LOADED_MODULE_H
#define QUORVIX_TESTS_LOADED_MODULE_H

#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

class Module {
 public:
  explicit Module(const char* path) {
#if defined(_WIN32)
    handle_ = LoadLibraryA(path);
    if (handle_ == nullptr) error_ = "LoadLibrary failed with error " + std::to_string(GetLastError());
#else
    handle_ = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) error_ = dlerror();
#endif
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

  bool loaded() const { return handle_ != nullptr; }
  const std::string& error() const { return error_; }

  template <typename Fn>
  Fn Find(const char* name) const {
#if defined(_WIN32)
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(handle_, name)));
#else
    return reinterpret_cast<Fn>(dlsym(handle_, name));
#endif
  }

 private:
#if defined(_WIN32)
  HMODULE handle_ = nullptr;
#else
  void* handle_ = nullptr;
#endif
  std::string error_;
};

#endif  // QUORVIX_TESTS_LOADED_MODULE_H
