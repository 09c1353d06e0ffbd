# Cross-build for 32-bit Windows with MinGW-w64. The posix thread model's
# compilers are needed for GoogleTest (std::mutex).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The module runs on any processor with MMX; wider kernels are chosen at run
# time. Programs are linked statically so wine needs no MinGW runtime DLLs.
set(CMAKE_C_FLAGS_INIT "-march=pentium-mmx -mtune=generic")
set(CMAKE_CXX_FLAGS_INIT "-march=pentium-mmx -mtune=generic")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Tests run under wine, in a 32-bit prefix.
set(QUORVIX_WINEARCH win32)
