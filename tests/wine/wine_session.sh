# Helpers for end-to-end tests that drive a Windows program under Wine on a
# private X server, as a person would. Source this file from a bash test
# script: it sources tests/e2e/x11_session.sh (Xvfb, windows, screenshots,
# exit status) and wine_env.sh, and adds a Wine prefix and sound server of
# the test's own. Needs what x11_session.sh needs, wine64, and pulseaudio
# with its utilities for the sound.
#
# Each test runs in a Wine prefix of its own, so that its Wine server, and
# the desktop process that goes with it, live on the test's X server alone:
# the screen size and the display modes that Windows programs see are those
# of that server.

# shellcheck source=tests/e2e/x11_session.sh
source "$(dirname "${BASH_SOURCE[0]}")/../e2e/x11_session.sh"
# shellcheck source=tests/wine/wine_env.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine_env.sh"

# The Wine server ends first, taking every Windows process along, then the
# processes that x11_session.sh tracks, the X server among them.
wine_cleanup() {
    if [[ -n "${WINEPREFIX:-}" && -d "$WINEPREFIX" ]]; then
        /usr/lib/wine/wineserver -k 2>/dev/null || true
        /usr/lib/wine/wineserver -w 2>/dev/null || true
    fi
    e2e_cleanup
}
trap wine_cleanup EXIT

# wine_start PROGRAM.exe: picks the Wine for the program and makes the
# test's own prefix.
wine_start() {
    command -v od >/dev/null || e2e_skip "od is not installed"
    wine_setup "$1" || e2e_skip "no Wine to run $1 (scripts/install-windows-deps.sh installs it)"
    WINEPREFIX=$(wine_private_prefix "$E2E_TEMP/prefix") || e2e_fail "no Wine prefix could be made"
    export WINEPREFIX
}

# wine_start_sound: a PulseAudio server of the test's own with one null
# sink, "capture", at the demo's format; Wine's wave-out plays into it and
# parec records its monitor. Without a server, wave-out has no device.
wine_start_sound() {
    local dir="$E2E_TEMP/pulse" deadline
    command -v pulseaudio >/dev/null && command -v parec >/dev/null ||
        e2e_skip "pulseaudio is not installed (scripts/install-windows-deps.sh installs it)"
    mkdir -p "$dir/runtime" "$dir/state"
    # -n: none of the system's configuration, so no real card is looked for.
    # Its files stay in the test's folder, whoever runs it.
    HOME="$dir" XDG_CONFIG_HOME="$dir" XDG_RUNTIME_DIR="$dir/runtime" \
        PULSE_RUNTIME_PATH="$dir/runtime" PULSE_STATE_PATH="$dir/state" \
        pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --disable-shm=yes \
        -L "module-null-sink sink_name=capture rate=44100 format=s16le channels=2" \
        -L "module-native-protocol-unix socket=$dir/socket auth-anonymous=1" \
        >"$dir/log" 2>&1 &
    e2e_track_pid $!
    export PULSE_SERVER="unix:$dir/socket"
    # Its clients ask for a fifth of a second of buffering: with the few
    # milliseconds Wine asks for, the server runs dry whenever the machine
    # is busy, and the recording has gaps. The demo's two-second ring is
    # far longer either way.
    export PULSE_LATENCY_MSEC=200
    deadline=$(($(e2e_now_ms) + 30000 * E2E_TIMEOUT_SCALE))
    until pactl info >/dev/null 2>&1; do
        (($(e2e_now_ms) < deadline)) ||
            e2e_fail "PulseAudio did not start: $(tail -n 5 "$dir/log")"
        sleep 0.1
    done
    e2e_log "PulseAudio with a null sink at $PULSE_SERVER"
}

# wine_record_sound FILE: records what the null sink plays, as raw 16-bit
# stereo at 44100 Hz, until the test ends.
wine_record_sound() {
    parec -d capture.monitor --latency-msec=500 --format=s16le --rate=44100 --channels=2 --raw "$1" &
    e2e_track_pid $!
}

# wine_answer_question TITLE yes|no: answers the Yes/No box titled TITLE
# from the keyboard, Return for the default Yes and n for No (under Wine,
# Escape answers Cancel, which a Windows Yes/No box never gives). A key
# that comes before the box takes input is pressed again.
wine_answer_question() {
    local title=$1 answer=$2 id key deadline
    case "$answer" in
        yes) key=Return ;;
        no) key=n ;;
        *) e2e_fail "wine_answer_question: answer must be yes or no, not $answer" ;;
    esac
    id=$(e2e_wait_window "$title")
    deadline=$(($(e2e_now_ms) + 30000 * E2E_TIMEOUT_SCALE))
    while [[ -n "$(e2e_find_window "$title")" ]]; do
        (($(e2e_now_ms) < deadline)) || e2e_fail "the box \"$title\" does not take the answer"
        xdotool windowfocus "$id" 2>/dev/null || true
        xdotool key "$key"
        sleep 1
    done
    e2e_log "answered $answer to \"$title\""
}

# wine_hold_key ID KEY: holds KEY down for 100 ms over the window ID; a
# program that polls the key's state misses a mere tap.
wine_hold_key() {
    xdotool windowfocus "$1" 2>/dev/null || true
    xdotool keydown "$2"
    sleep 0.1
    xdotool keyup "$2"
}

# wine_screenshot ID FILE: a screenshot of the window that gives up rather
# than wait for a window that has gone.
wine_screenshot() {
    timeout $((10 * E2E_TIMEOUT_SCALE)) import -window "$1" "$2" 2>/dev/null
}
