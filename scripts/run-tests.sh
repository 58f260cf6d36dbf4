#!/usr/bin/env bash
# Builds everything and runs every test: the release build (unit, tool and
# end-to-end tests, with the shared library of the C API), the Python module's
# tests, the web player's WebAssembly build with its tests in Node and headless
# Chromium, the Windows builds with their tests under Wine
# (scripts/run-windows-tests.sh), the sanitizer builds, and the fuzzers for a
# bounded time.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
"$root/scripts/install-deps.sh"

step() { printf '\n==== %s\n' "$*"; }

step "Release build"
cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBUILD_SHARED_LIBS=ON >/dev/null
cmake --build "$root/build/release" -j"$jobs"
step "Release tests"
ctest --test-dir "$root/build/release" --output-on-failure -j"$jobs"
step "Python module"
"$root/scripts/run-python-tests.sh" "$root/build/release"

step "Web player build (WebAssembly)"
cmake -S "$root" -B "$root/build/web" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/emscripten.cmake" \
    -DNATIVE_XM_RENDER="$root/build/release/tools/xm_render" >/dev/null
cmake --build "$root/build/web" -j"$jobs"
step "Web player tests: Node and headless Chromium"
ctest --test-dir "$root/build/web" --output-on-failure -j"$jobs" -L web

"$root/scripts/run-windows-tests.sh"

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
