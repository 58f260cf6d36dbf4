#!/usr/bin/env bash
# Builds the web player (installing what is missing) and serves it on this
# machine only, at http://127.0.0.1:$PORT/ (8000 by default), until Ctrl-C.
# What it serves, build/web/site/, is static files for any web host.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
port=${PORT:-8000}
if ! [[ "$port" =~ ^[0-9]+$ ]] || ((port < 1 || port > 65535)); then
    echo "run-web: PORT must be a number from 1 to 65535, not '$port'" >&2
    exit 2
fi

"$root/scripts/install-deps.sh" web
echo "Building the web player in build/web..."
cmake -S "$root" -B "$root/build/web" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/emscripten.cmake" >/dev/null ||
    { echo "run-web: configuring the WebAssembly build failed" >&2; exit 1; }
cmake --build "$root/build/web" -j"$(nproc)" --target xmplayer_web web_page ||
    { echo "run-web: building the web player failed" >&2; exit 1; }

site="$root/build/web/site"
if ! python3 -c "import socket, sys; socket.socket().bind(('127.0.0.1', int(sys.argv[1])))" \
    "$port" 2>/dev/null; then
    echo "run-web: port $port on 127.0.0.1 is taken; choose another with PORT=..." >&2
    exit 1
fi
echo "Serving $site"
echo "Open http://127.0.0.1:$port/ (add ?song=URL to load a song by its address); Ctrl-C stops."
exec python3 -m http.server "$port" --bind 127.0.0.1 --directory "$site"
