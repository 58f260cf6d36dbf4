#!/usr/bin/env bash
# Cross-builds the demo, the tools and the unit tests for Windows with
# mingw-w64 and runs the tests under Wine: the 64-bit build with its tests,
# run against the Linux renderer; the 32-bit build's programs, whose tests
# run only with WINE32_TESTS=1 (32-bit Wine runs through an emulator here,
# some six times slower). Installs what it needs (scripts/install-windows-deps.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
"$root/scripts/install-deps.sh"

step() { printf '\n==== %s\n' "$*"; }

step "Linux renderer, the measure of the Windows one"
cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build/release" -j"$jobs" --target xm_render

step "Windows builds"
wine32=()
if [[ "${WINE32_TESTS:-0}" == 1 ]]; then
    wine32=(--wine32)
fi
"$root/scripts/install-windows-deps.sh" "${wine32[@]}"
configureWindows() {
    cmake -S "$root" -B "$root/build/$1" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/$2.cmake" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DNATIVE_XM_RENDER="$root/build/release/tools/xm_render" >/dev/null
}
configureWindows win64 mingw-w64-x86_64
cmake --build "$root/build/win64" -j"$jobs"
configureWindows win32 mingw-w64-i686
if ((${#wine32[@]} > 0)); then
    cmake --build "$root/build/win32" -j"$jobs"
else
    cmake --build "$root/build/win32" -j"$jobs" --target demo xm_info xm_render xm_play
fi
step "Windows tests under Wine"
ctest --test-dir "$root/build/win64" --output-on-failure -j"$jobs"
if ((${#wine32[@]} > 0)); then
    ctest --test-dir "$root/build/win32" --output-on-failure -j"$jobs"
fi

step "Windows tests passed"
