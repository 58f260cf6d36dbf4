#!/usr/bin/env bash
# Builds the demo and starts it with assets/ as its working directory, where
# it finds "Texture.bmp".
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build/release" --target demo -j"$(nproc)"
cd "$root/assets"
exec "$root/build/release/app/demo"
