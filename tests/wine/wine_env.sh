# Wine for the tests of the Windows programs. Source this file from bash; it
# defines:
#
#   wine_setup PROGRAM.exe   picks the Wine loader that runs the program
#                            (wine64 for 64-bit, wine for 32-bit programs),
#                            sets WINE_LOADER, WINELOADER, WINEARCH,
#                            WINEDEBUG and WINEDLLOVERRIDES; fails with a
#                            message when that Wine is not installed
#   wine_prefix NAME         prints the path of a Wine prefix of that name,
#                            made for the architecture wine_setup chose
#   wine_private_prefix DIR  makes a prefix of its own in DIR (for a test that
#                            needs its own Wine server) and prints its path
#
# Prefixes live in WINE_PREFIX_ROOT, by default outside every source tree
# (a prefix links its drive Z: to /, which would make tools that walk a
# tree walk the whole machine). The first use makes a template with
# "wineboot -i" (15 to 30 s); every other prefix is a copy of the template
# whose files are hard links, made in a moment.

WINE_PREFIX_ROOT=${WINE_PREFIX_ROOT:-${XDG_CACHE_HOME:-$HOME/.cache}/uma-vorodoze/wine}
# Wine's debug channels would fill every log; Mono and Gecko are not used
# and their installers must not be offered.
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree=d;mshtml=d}

# The machine field of a PE executable's header: 8664 (x86-64) or 014c (i386).
wine_machine() {
    local offset
    offset=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
    [[ -n "$offset" ]] || return 1
    od -An -tx2 -j$((offset + 4)) -N2 "$1" | tr -d ' '
}

wine_setup() {
    local machine
    machine=$(wine_machine "$1") || {
        echo "wine: $1 is not a Windows executable" >&2
        return 1
    }
    case "$machine" in
        8664)
            WINE_LOADER=/usr/lib/wine/wine64
            export WINEARCH=win64
            [[ -x "$WINE_LOADER" ]] || {
                echo "wine: $WINE_LOADER is missing (scripts/install-windows-deps.sh installs wine64)" >&2
                return 1
            }
            ;;
        014c)
            WINE_LOADER=/usr/lib/wine/wine
            export WINEARCH=win32
            [[ -x "$WINE_LOADER" ]] || {
                echo "wine: 32-bit programs need wine32 and an i386 emulator" \
                    "(scripts/install-windows-deps.sh --wine32 installs them)" >&2
                return 1
            }
            ;;
        *)
            echo "wine: $1 is for machine $machine, which Wine here does not run" >&2
            return 1
            ;;
    esac
    # Wine starts its own helper processes through this loader.
    export WINELOADER=$WINE_LOADER
}

# wine_template: the prefix every other one is copied from.
wine_template() {
    local template="$WINE_PREFIX_ROOT/template-$WINEARCH"
    mkdir -p "$WINE_PREFIX_ROOT"
    (
        flock 9
        if [[ ! -f "$template/system.reg" ]]; then
            echo "wine: making the prefix $template (wineboot, about 20 s)" >&2
            rm -rf "$template.new"
            # No display: the prefix needs none, and no window is shown.
            if ! env -u DISPLAY WINEPREFIX="$template.new" "$WINE_LOADER" wineboot -i \
                >"$WINE_PREFIX_ROOT/wineboot.log" 2>&1 ||
                ! WINEPREFIX="$template.new" /usr/lib/wine/wineserver -w; then
                echo "wine: wineboot failed: $(tail -n 5 "$WINE_PREFIX_ROOT/wineboot.log")" >&2
                exit 1
            fi
            mv "$template.new" "$template"
        fi
    ) 9>"$WINE_PREFIX_ROOT/.lock" || return 1
    echo "$template"
}

# wine_copy_prefix TEMPLATE DESTINATION: the registry files are real copies,
# since the Wine server rewrites them; everything else is shared.
wine_copy_prefix() {
    cp -al "$1" "$2.new"
    local file
    for file in "$2.new"/*.reg; do
        cp --remove-destination "$1/$(basename "$file")" "$file"
    done
    rm -f "$2.new/wineserver"
    mv "$2.new" "$2"
}

wine_prefix() {
    local template prefix="$WINE_PREFIX_ROOT/$1-$WINEARCH"
    template=$(wine_template) || return 1
    (
        flock 9
        [[ -f "$prefix/system.reg" ]] || wine_copy_prefix "$template" "$prefix"
    ) 9>"$WINE_PREFIX_ROOT/.lock" || return 1
    echo "$prefix"
}

wine_private_prefix() {
    local template
    template=$(wine_template) || return 1
    rm -rf "$1"
    wine_copy_prefix "$template" "$1"
    echo "$1"
}
