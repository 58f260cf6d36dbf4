# Builds the player and the web page for WebAssembly with Debian's emscripten:
#   cmake -S . -B build/web -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/emscripten.cmake
# or `cmake --preset web`. Only the player library, the page and its tests are
# built (see the top-level CMakeLists.txt).
if(NOT EMSCRIPTEN_ROOT_PATH)
    set(EMSCRIPTEN_ROOT_PATH /usr/share/emscripten)
endif()
if(NOT EXISTS ${EMSCRIPTEN_ROOT_PATH}/cmake/Modules/Platform/Emscripten.cmake)
    message(FATAL_ERROR "emscripten is not installed in ${EMSCRIPTEN_ROOT_PATH} "
                        "(scripts/install-deps.sh installs Debian's)")
endif()
include(${EMSCRIPTEN_ROOT_PATH}/cmake/Modules/Platform/Emscripten.cmake)

# Debian's emscripten runs its JavaScript optimizer on Node with the acorn
# parser that Debian installs as a Node package outside Node's own search path.
set(CMAKE_C_LINKER_LAUNCHER ${CMAKE_COMMAND} -E env NODE_PATH=/usr/share/nodejs)
set(CMAKE_CXX_LINKER_LAUNCHER ${CMAKE_COMMAND} -E env NODE_PATH=/usr/share/nodejs)
