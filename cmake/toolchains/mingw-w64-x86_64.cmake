# Cross-builds the 64-bit Windows programs on Debian with mingw-w64:
#   cmake -S . -B build/win64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake
set(MINGW_TRIPLET x86_64-w64-mingw32)
# 64-bit Windows keeps the stack aligned to 16 bytes and GCC cannot realign
# it there, so an AVX value spilled to the stack could be moved with an
# instruction that faults unless the address is a multiple of 32. The
# assembler makes every such move one that takes any address.
set(MINGW_ARCHITECTURE_FLAGS "-Wa,-muse-unaligned-vector-move")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
