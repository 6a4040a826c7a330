# 32-bit Windows (x86) with Debian's mingw-w64:
#   cmake -S . -B build-windows-x86 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
set(CMAKE_SYSTEM_PROCESSOR X86)
set(KESTRUNE_MINGW_TRIPLET i686-w64-mingw32)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake")

# As on 32-bit Linux: SSE2 arithmetic instead of the x87 unit, whose 80-bit intermediates would
# make the bit-exact audio path differ from the other platforms.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
