# 32-bit x86 Linux with the host's multilib compilers: the same pentium-mmx
# baseline and per-file kernel options as the 32-bit Windows DLL, for testing
# 32-bit code on machines whose kernel may run none. Programs run under
# qemu-user, which emulates the whole processor and needs no kernel support;
# its processor model is chosen per test (see tests/).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32 -march=pentium-mmx -mtune=generic")
set(CMAKE_CXX_FLAGS_INIT "-m32 -march=pentium-mmx -mtune=generic")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")

find_program(QUORVIX_QEMU_I386 qemu-i386-static REQUIRED)
# The whole suite runs on a processor with every kernel but AVX-512, which
# qemu does not emulate; tests/ adds runs on older models.
set(QUORVIX_QEMU_DEFAULT_CPU Haswell)
set(CMAKE_CROSSCOMPILING_EMULATOR ${QUORVIX_QEMU_I386} -cpu ${QUORVIX_QEMU_DEFAULT_CPU})
