#!/usr/bin/env bash
# Installs the Python module into a fresh virtual environment, carrying the
# shared library of BUILD_DIR (configured with -DBUILD_SHARED_LIBS=ON), the
# way the README shows, offline; then runs its tests against BUILD_DIR's
# xm_render.
#
#   scripts/run-python-tests.sh [BUILD_DIR]     (default build/release)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/release}" && pwd)
library="$build/player/libxmplayer.so.3"
render="$build/tools/xm_render"
for needed in "$library" "$render"; do
    if [[ ! -f "$needed" ]]; then
        echo "run-python-tests: $needed is missing; build $build with -DBUILD_SHARED_LIBS=ON" >&2
        exit 1
    fi
done

environment="$build/python-env"
echo "Installing the xmplayer module into $environment"
rm -rf "$environment"
/usr/bin/python3 -m venv --system-site-packages "$environment"
XMPLAYER_LIBRARY="$library" "$environment/bin/pip" install --quiet --no-index \
    --no-build-isolation "$root/bindings/python"

echo "Running the module's tests"
# From the build folder, so that the installed module is the one imported.
cd "$build"
XM_RENDER="$render" "$environment/bin/python" -m unittest discover \
    -s "$root/bindings/python/tests" -t "$root/bindings/python/tests"
