# Cross-builds the 64-bit Windows programs on Debian with mingw-w64:
#   cmake -S . -B build/win64 --toolchain cmake/toolchains/mingw-w64-x86_64.cmake
set(MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
