// Memory placed flush against inaccessible pages, so that a test fails at the
// first read or write that leaves a buffer.
#ifndef QUORVIX_TESTS_GUARDED_MEMORY_H
#define QUORVIX_TESTS_GUARDED_MEMORY_H

#include <stddef.h>
#include <stdint.h>

#include <cstdlib>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

// Which end of the buffer touches a guard page. Both ends of every buffer
// are guarded; `kEnd` puts the last byte right before the trailing guard,
// `kStart` the first byte right after the leading one.
enum class Flush { kStart, kEnd };

class GuardedMemory {
 public:
  GuardedMemory(size_t bytes, Flush flush) : bytes_(bytes) {
    page_ = PageSize();
    const size_t inner = (bytes + page_ - 1) / page_ * page_;
    total_ = inner + 2 * page_;
#if defined(_WIN32)
    base_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, total_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (base_ == nullptr) std::abort();
    DWORD old;
    VirtualProtect(base_, page_, PAGE_NOACCESS, &old);
    VirtualProtect(base_ + page_ + inner, page_, PAGE_NOACCESS, &old);
#else
    void* p = mmap(nullptr, total_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) std::abort();
    base_ = static_cast<uint8_t*>(p);
    mprotect(base_, page_, PROT_NONE);
    mprotect(base_ + page_ + inner, page_, PROT_NONE);
#endif
    data_ = flush == Flush::kStart ? base_ + page_ : base_ + page_ + inner - bytes;
  }
  ~GuardedMemory() {
#if defined(_WIN32)
    VirtualFree(base_, 0, MEM_RELEASE);
#else
    munmap(base_, total_);
#endif
  }
  GuardedMemory(const GuardedMemory&) = delete;
  GuardedMemory& operator=(const GuardedMemory&) = delete;

  // After this, a write anywhere in the buffer faults too: for memory that
  // code under test may only read.
  void MakeReadOnly() {
    const size_t inner = total_ - 2 * page_;
#if defined(_WIN32)
    DWORD old;
    VirtualProtect(base_ + page_, inner, PAGE_READONLY, &old);
#else
    mprotect(base_ + page_, inner, PROT_READ);
#endif
  }

  uint8_t* bytes() { return data_; }
  uint16_t* pixels() { return reinterpret_cast<uint16_t*>(data_); }
  size_t size() const { return bytes_; }

 private:
  static size_t PageSize() {
#if defined(_WIN32)
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwPageSize;
#else
    return static_cast<size_t>(sysconf(_SC_PAGESIZE));
#endif
  }

  size_t bytes_;
  size_t page_ = 0;
  size_t total_ = 0;
  uint8_t* base_ = nullptr;
  uint8_t* data_ = nullptr;
};

#endif  // QUORVIX_TESTS_GUARDED_MEMORY_H
