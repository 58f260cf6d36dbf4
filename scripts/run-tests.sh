#!/usr/bin/env bash
# Builds everything and runs every test: the release build (unit, tool and
# end-to-end tests), the Windows builds with their tests under Wine, the
# sanitizer builds, and the fuzzers for a bounded time.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
"$root/scripts/install-deps.sh"

step() { printf '\n==== %s\n' "$*"; }

step "Release build"
cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build/release" -j"$jobs"
step "Release tests"
ctest --test-dir "$root/build/release" --output-on-failure -j"$jobs"

# The Windows programs, cross-built with mingw-w64: the 64-bit build with its
# tests, run under Wine against the Linux renderer above; the 32-bit build's
# programs, whose tests run only with WINE32_TESTS=1 (32-bit Wine runs
# through an emulator here, some six times slower).
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

step "AddressSanitizer + UndefinedBehaviorSanitizer build"
cmake -S "$root" -B "$root/build/sanitize" -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=ON >/dev/null
cmake --build "$root/build/sanitize" -j"$jobs"
step "Sanitizer tests"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir "$root/build/sanitize" --output-on-failure -j"$jobs" -LE "e2e|long"

step "ThreadSanitizer build"
cmake -S "$root" -B "$root/build/tsan" -DCMAKE_BUILD_TYPE=Debug -DSANITIZE_THREAD=ON \
    -DBUILD_DEMO=OFF >/dev/null
cmake --build "$root/build/tsan" -j"$jobs"
step "ThreadSanitizer tests"
ctest --test-dir "$root/build/tsan" --output-on-failure -j"$jobs" -L threads

step "Fuzzers"
CC=clang CXX=clang++ cmake -S "$root" -B "$root/build/fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBUILD_FUZZERS=ON -DBUILD_DEMO=OFF >/dev/null
cmake --build "$root/build/fuzz" -j"$jobs"
"$root/fuzz/run-fuzzers.sh" "$root/build/fuzz"

step "All tests passed"
