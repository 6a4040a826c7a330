# 32-bit Linux (i386) build on an x86_64 Debian machine: the multilib compiler with -m32, and the
# i386 libraries of Debian's multiarch (libgtest-dev:i386 after `dpkg --add-architecture i386`).
#   cmake -S . -B build-linux-i386 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/linux-i386.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)

# The audio path is specified bit for bit in double precision. i386 code defaults to the x87 unit,
# which keeps intermediates in 80-bit registers and rounds them only when they are spilled, so
# results would depend on register allocation and differ from every other platform. SSE2
# arithmetic rounds each operation to its declared type, as the 64-bit and Windows builds do.
set(CMAKE_C_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")

# With CMAKE_LIBRARY_ARCHITECTURE set, find_package looks in lib/i386-linux-gnu/cmake first.
