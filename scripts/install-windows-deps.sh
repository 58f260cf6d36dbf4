#!/usr/bin/env bash
# Installs what the Windows programs are built and tested with: the
# mingw-w64 cross compilers (posix threads), 64-bit Wine and PulseAudio, on
# top of what install-deps.sh installs (Xvfb, xdotool, ImageMagick and the
# GoogleTest sources among them).
#
#   install-windows-deps.sh [--wine32]
#
# --wine32 also makes 32-bit Windows programs run, for the optional tests of
# the 32-bit build. This machine's kernel runs no 32-bit x86 code, so 32-bit
# Wine runs through qemu-i386 (version 10, from bookworm-backports; the 7.2
# of bookworm fails), registered with binfmt_misc: about 1.5 GB more, and
# the tests run some six times slower.
#
# Idempotent: prints nothing and changes nothing when all is in place.
set -euo pipefail

wine32=false
case "${1:-}" in
    "") ;;
    --wine32) wine32=true ;;
    *)
        echo "usage: install-windows-deps.sh [--wine32]" >&2
        exit 2
        ;;
esac

packages=(
    gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix
    gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix
    wine64 pulseaudio pulseaudio-utils
)
wine32Packages=(wine32:i386 libgl1:i386 libgl1-mesa-dri:i386 libpulse0:i386)
backports="deb http://deb.debian.org/debian bookworm-backports main"
backportsList=/etc/apt/sources.list.d/bookworm-backports.list
binfmt=/proc/sys/fs/binfmt_misc
# The ELF header of a 32-bit x86 executable or shared object, and its mask.
i386Magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
i386Mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

installed() {
    [[ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null || true)" == "install ok installed" ]]
}

sudo=()
if [[ $(id -u) -ne 0 ]]; then
    sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
aptInstall() {
    "${sudo[@]}" apt-get install -y -q --no-install-recommends "$@" >/dev/null ||
        {
            echo "install-windows-deps: apt-get could not install: $*" >&2
            exit 1
        }
}

missing=()
for package in "${packages[@]}"; do
    installed "$package" || missing+=("$package")
done
if ((${#missing[@]} > 0)); then
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -q >/dev/null
    aptInstall "${missing[@]}"
fi

$wine32 || exit 0

if ! /usr/bin/qemu-i386-static --version 2>/dev/null | grep -Eq 'version ([89]|[1-9][0-9])\.'; then
    echo "Installing: qemu-user-static from bookworm-backports"
    [[ -f "$backportsList" ]] || echo "$backports" | "${sudo[@]}" tee "$backportsList" >/dev/null
    "${sudo[@]}" apt-get update -q >/dev/null
    aptInstall -t bookworm-backports qemu-user-static
fi
missing=()
for package in "${wine32Packages[@]}"; do
    installed "$package" || missing+=("$package")
done
if ((${#missing[@]} > 0)); then
    echo "Installing: ${missing[*]}"
    dpkg --print-foreign-architectures | grep -qx i386 || "${sudo[@]}" dpkg --add-architecture i386
    "${sudo[@]}" apt-get update -q >/dev/null
    aptInstall "${missing[@]}"
fi
# F: the kernel opens the emulator now, so it is found inside any root.
if [[ ! -e "$binfmt/qemu-i386" ]]; then
    echo "Registering qemu-i386 for 32-bit x86 programs"
    [[ -e "$binfmt/register" ]] || "${sudo[@]}" mount -t binfmt_misc binfmt_misc "$binfmt"
    printf ':qemu-i386:M::%s:%s:/usr/bin/qemu-i386-static:F\n' "$i386Magic" "$i386Mask" |
        "${sudo[@]}" tee "$binfmt/register" >/dev/null
fi
