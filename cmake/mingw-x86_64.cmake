# Cross-build for 64-bit Windows with MinGW-w64. The posix thread model's
# compilers are needed for GoogleTest (std::mutex).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The module runs on any x86-64 processor (SSE2); wider kernels are chosen at
# run time. Programs are linked statically so wine needs no MinGW runtime DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Tests run under wine, in a 64-bit prefix.
set(QUORVIX_WINEARCH win64)
