#!/usr/bin/env bash
# Installs the Debian packages the project builds, runs and tests with.
# Idempotent: prints nothing and changes nothing when all are present.
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    libsdl2-dev libgl1-mesa-dev libglu1-mesa-dev libgl1-mesa-dri
    libgtest-dev libgmock-dev libbenchmark-dev
    clang libclang-rt-14-dev
    xvfb xdotool x11-utils imagemagick
    libcli11-dev libsndfile1-dev help2man sox tmux
)

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
    sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q >/dev/null
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
