# Shared part of the two Windows toolchains; include it after setting KESTRUNE_MINGW_TRIPLET.
# Debian's mingw-w64 compilers with the posix thread model: the default win32-thread ones lack
# std::mutex and friends, which GoogleTest needs.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${KESTRUNE_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KESTRUNE_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KESTRUNE_MINGW_TRIPLET}-windres)
set(CMAKE_OBJDUMP ${KESTRUNE_MINGW_TRIPLET}-objdump)
set(CMAKE_STRIP ${KESTRUNE_MINGW_TRIPLET}-strip)

set(CMAKE_FIND_ROOT_PATH /usr/${KESTRUNE_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Fully static: the C++ runtime, libgcc and winpthreads are linked into every module and program,
# so Kestrune.dll (and each test program) imports nothing but DLLs that come with Windows.
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-static")
endforeach()

# Test programs run under wine; the wrapper silences wine's own diagnostics and turns the console's
# CR LF line ends back into LF so CTest can read the test lists.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh")
