#!/usr/bin/env bash
# Installs the Debian packages the project builds, runs and tests with; with
# `web`, only those that build the web player (scripts/run-web.sh).
# Idempotent: prints nothing and changes nothing when all are present.
set -euo pipefail

# Recommended packages are left out, so everything the demo and the tests use
# at run time is named here, not only what the build needs.
packages=(
    # The build, the unit tests, the benchmarks and the fuzzers.
    build-essential cmake pkg-config
    libsdl2-dev libgl1-mesa-dev libglu1-mesa-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    clang libclang-rt-14-dev
    # The command-line tools: option parsing, sound files, man pages.
    libcli11-dev libsndfile1-dev help2man
    # The demo: Mesa's software GL drivers, and the X core fonts that its
    # message boxes draw with (without them no box can be shown).
    libgl1-mesa-dri xfonts-base
    # The end-to-end tests: the X server, the tools that drive and look at
    # the demo, a window manager, and ps for the exit checks.
    xvfb xauth xdotool x11-utils imagemagick openbox procps
    # The tools' tests: sox reads what xm_render writes, tmux is xm_play's
    # terminal.
    sox tmux
    # The Python module, installed offline into a virtual environment with
    # Debian's NumPy and build tools.
    python3-venv python3-numpy python3-setuptools python3-wheel
    # The web player: the WebAssembly compiler (which brings Node's acorn), and
    # the browser, its driver and the Python client its tests drive them with.
    emscripten chromium chromium-driver python3-selenium
)

case "${1:-}" in
    "") ;;
    web) packages=(cmake emscripten) ;;
    *) echo "usage: install-deps.sh [web]" >&2; exit 2 ;;
esac

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    if [[ "$status" != "install ok installed" ]]; then
        missing+=("$package")
    fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
if [[ $(id -u) -ne 0 ]]; then
    if ! command -v sudo >/dev/null; then
        echo "install-deps: installing packages needs root, and sudo is not installed" >&2
        exit 1
    fi
    sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q >/dev/null ||
    { echo "install-deps: apt-get update failed" >&2; exit 1; }
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null ||
    { echo "install-deps: could not install ${missing[*]}" >&2; exit 1; }
