#!/usr/bin/env bash
# Installs what the Windows programs are built and tested with: the
# mingw-w64 cross compilers (posix threads), 64-bit Wine and PulseAudio, on
# top of what install-deps.sh installs (Xvfb, xdotool, ImageMagick, CLI11 and
# the GoogleTest sources among them). The tools' libraries that Debian does
# not package for mingw-w64 are built for both targets into
# MINGW_LIBRARIES_ROOT (by default ~/.cache/uma-vorodoze/mingw), where the
# toolchain files look: libsndfile from Debian's own sources, without the
# FLAC, Vorbis and Opus codecs (about 25 s a target), and CLI11's headers.
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

# libsndfile: Debian's source package, the version the Linux build links,
# so that the Windows renderer writes the same WAV headers.
librariesRoot=${MINGW_LIBRARIES_ROOT:-${XDG_CACHE_HOME:-$HOME/.cache}/uma-vorodoze/mingw}
root=$(cd "$(dirname "$0")/.." && pwd)
sndfileSource() {
    local version
    version=$(dpkg-query -W -f='${source:Version}\n' libsndfile1 2>/dev/null | head -n 1)
    [[ -n "$version" ]] || {
        echo "install-windows-deps: libsndfile1 is not installed (scripts/install-deps.sh installs it)" >&2
        exit 1
    }
    if [[ ! -f "$librariesRoot/src/$version/CMakeLists.txt" ]]; then
        if ! grep -rqsE '^(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d; then
            echo "Adding Debian's source packages to apt's sources" >&2
            echo "deb-src http://deb.debian.org/debian bookworm main" |
                "${sudo[@]}" tee /etc/apt/sources.list.d/bookworm-src.list >/dev/null
            "${sudo[@]}" apt-get update -q >/dev/null
        fi
        echo "Fetching the source of libsndfile $version" >&2
        rm -rf "$librariesRoot/src/fetch"
        mkdir -p "$librariesRoot/src/fetch"
        (cd "$librariesRoot/src/fetch" && apt-get source -q "libsndfile=$version" >/dev/null 2>&1) || {
            echo "install-windows-deps: apt-get source libsndfile=$version failed" >&2
            exit 1
        }
        rm -rf "$librariesRoot/src/$version"
        mv "$librariesRoot/src/fetch"/libsndfile-*/ "$librariesRoot/src/$version"
        rm -rf "$librariesRoot/src/fetch"
    fi
    echo "$librariesRoot/src/$version"
}
for target in x86_64 i686; do
    prefix="$librariesRoot/$target-w64-mingw32"
    if [[ ! -f "$prefix/lib/libsndfile.a" ]]; then
        source=$(sndfileSource)
        echo "Building libsndfile for $target-w64-mingw32"
        build="$librariesRoot/build-$target"
        rm -rf "$build"
        cmake -S "$source" -B "$build" -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-w64-$target.cmake" \
            -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF \
            -DENABLE_EXTERNAL_LIBS=OFF -DENABLE_MPEG=OFF -DBUILD_PROGRAMS=OFF \
            -DBUILD_EXAMPLES=OFF -DBUILD_TESTING=OFF -DENABLE_CPACK=OFF \
            -DINSTALL_MANPAGES=OFF >"$build.log" 2>&1 &&
            cmake --build "$build" -j"$(nproc)" >>"$build.log" 2>&1 &&
            cmake --install "$build" >>"$build.log" 2>&1 || {
            echo "install-windows-deps: libsndfile did not build for $target; see $build.log" >&2
            exit 1
        }
        rm -rf "$build" "$build.log"
    fi
    # CLI11 is headers only; its package file finds them beside itself.
    if [[ ! -f "$prefix/share/cmake/CLI11/CLI11Config.cmake" ]]; then
        [[ -d /usr/include/CLI && -d /usr/share/cmake/CLI11 ]] || {
            echo "install-windows-deps: CLI11 is not installed (scripts/install-deps.sh installs it)" >&2
            exit 1
        }
        mkdir -p "$prefix/include" "$prefix/share/cmake"
        cp -r /usr/include/CLI "$prefix/include/"
        cp -r /usr/share/cmake/CLI11 "$prefix/share/cmake/"
    fi
done

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
