# Cross-builds the 32-bit Windows programs on Debian with mingw-w64:
#   cmake -S . -B build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-i686.cmake
set(MINGW_TRIPLET i686-w64-mingw32)
# x87 arithmetic keeps intermediates in 80 bits, so float and double sums
# would round differently from every other build; SSE2 rounds each step to
# its type, as the player's arithmetic is written.
set(MINGW_ARCHITECTURE_FLAGS "-msse2 -mfpmath=sse")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
