# GoogleTest for the test suite, and how each test program's cases become CTest tests.

# The platform builds of scripts/test-platforms.sh compile the test programs (not the plug-in, the
# host library or the dynamics code they test) with -O1, which builds them in about half the time.
set(KESTRUNE_TEST_COMPILE_OPTIONS "" CACHE STRING "Extra compile options for the test programs only")
add_compile_options(${KESTRUNE_TEST_COMPILE_OPTIONS})

# Debian's libgtest-dev holds libraries for the build machine's own architectures (amd64, and
# i386 through multiarch). For Windows there is no such package, so GoogleTest is compiled from
# Debian's source copy in /usr/src/googletest with the same cross compiler.
if(WIN32 AND CMAKE_CROSSCOMPILING)
  set(KESTRUNE_GOOGLETEST_SOURCE "/usr/src/googletest" CACHE PATH "GoogleTest sources for cross builds")
  if(NOT EXISTS "${KESTRUNE_GOOGLETEST_SOURCE}/CMakeLists.txt")
    message(FATAL_ERROR "No GoogleTest sources in ${KESTRUNE_GOOGLETEST_SOURCE} (Debian: apt-get install googletest)")
  endif()
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  # Defines gtest and gtest_main with their aliases GTest::gtest and GTest::gtest_main.
  add_subdirectory("${KESTRUNE_GOOGLETEST_SOURCE}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
  # Third-party code: our warning flags are not its business.
  target_compile_options(gtest PRIVATE -w)
  target_compile_options(gtest_main PRIVATE -w)
else()
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)

# Registers every test case of target with CTest. Programs that only run through an emulator
# (Windows programs under wine) are listed when CTest starts rather than at build time, so
# building needs no wine. Further arguments go to gtest_discover_tests (PROPERTIES ...).
function(kestrune_discover_tests target)
  if(CMAKE_CROSSCOMPILING AND CMAKE_CROSSCOMPILING_EMULATOR)
    gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 ${ARGN})
  else()
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 ${ARGN})
  endif()
endfunction()
