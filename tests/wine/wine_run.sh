#!/usr/bin/env bash
# Runs a Windows program under Wine with its arguments and exit status; CTest
# starts every cross-built test program through it.
#
#   wine_run.sh PROGRAM.exe [ARGUMENTS...]
#
# The program runs in WINEPREFIX when that is set, else in the prefix the
# unit tests share (see wine_env.sh).
set -euo pipefail
# shellcheck source=tests/wine/wine_env.sh
source "$(dirname "$0")/wine_env.sh"

(($# >= 1)) || {
    echo "usage: wine_run.sh PROGRAM.exe [ARGUMENTS...]" >&2
    exit 2
}
wine_setup "$1"
if [[ -z "${WINEPREFIX:-}" ]]; then
    WINEPREFIX=$(wine_prefix units)
    export WINEPREFIX
fi
exec "$WINE_LOADER" "$@"
