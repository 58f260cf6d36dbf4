#!/usr/bin/env bash
# End-to-end test of the demo's sound on a private X server: SDL's disk audio
# driver writes what the sound card would have played to a file.
#
#   demo_audio_test.sh SCENARIO DEMO WORKDIR ARTIFACTS RENDERER SONG
#
# SCENARIO is one of
#   plays      the windowed demo plays the embedded song from its start,
#              frame for frame what RENDERER makes of SONG by the player's own
#              rules (the demo's), for longer than
#              the player's two-second ring; Escape ends it with status 0
#   no-device  a sound device that cannot be opened gives the box
#              "Error upon initialization" titled "fcwef" and status 255
# DEMO is the demo executable, started in WORKDIR; its output and the
# captured sound go to ARTIFACTS. RENDERER is xm_render, SONG the XM file
# that the demo carries.
set -euo pipefail
# shellcheck source=tests/e2e/x11_session.sh
source "$(dirname "$0")/x11_session.sh"

scenario=$1
demo=$2
workdir=$3
artifacts=$4
renderer=$5
song=$6

title="Uma Vorodoze, um Vostel e uma Vado"
question="Start FullScreen?"
log="$artifacts/audio-$scenario.log"
captured="$artifacts/audio-$scenario.raw"
bytesPerSecond=$((44100 * 4))

e2e_require_tools
command -v od >/dev/null || e2e_skip "od is not installed"
mkdir -p "$artifacts"
rm -f "$log" "$captured"

# Bytes of whole 16-bit stereo frames of silence at the start of a file: the
# device plays silence of its own while it is open but not yet started.
leadingSilence() {
    local line
    line=$(od -An -v -tx4 -w4 "$1" | grep -n -m1 -v '^ *00000000$' | cut -d: -f1) || true
    [[ -n "$line" ]] || e2e_fail "$1 is silent throughout"
    echo $(((line - 1) * 4))
}

fileSize() { stat -c %s "$1" 2>/dev/null || echo 0; }

runPlays() {
    local id seconds=5 deadline heard skip expected="$E2E_TEMP/rendered.raw"
    e2e_start_xvfb 1024x768x24
    export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$captured"
    e2e_start_program "$workdir" "$log" "$demo"
    e2e_answer_question "$question" no
    id=$(e2e_wait_window "$title")
    # The disk driver writes at the pace a sound card would play.
    deadline=$(($(e2e_now_ms) + (seconds + 60) * 1000 * E2E_TIMEOUT_SCALE))
    while (($(fileSize "$captured") < seconds * bytesPerSecond)); do
        kill -0 "$E2E_DEMO_PID" 2>/dev/null || e2e_fail "the demo ended while playing: $(cat "$log")"
        (($(e2e_now_ms) < deadline)) || e2e_fail "less than ${seconds}s of sound was played"
        sleep 0.1
    done
    e2e_press_key "$id" Escape
    e2e_wait_exit 30
    ((E2E_EXIT_STATUS == 0)) || e2e_fail "status $E2E_EXIT_STATUS after Escape, expected 0"

    "$renderer" "$song" - --rules own --seconds $((seconds + 30)) >"$expected" 2>"$E2E_TEMP/render.log" ||
        e2e_fail "the renderer failed: $(cat "$E2E_TEMP/render.log")"
    heard=$(fileSize "$captured")
    skip=$(leadingSilence "$captured")
    heard=$((heard - skip))
    ((heard >= seconds * bytesPerSecond - bytesPerSecond)) ||
        e2e_fail "only $heard bytes of sound after the leading silence"
    cmp -n "$heard" <(tail -c +$((skip + 1)) "$captured") \
        <(tail -c +$(($(leadingSilence "$expected") + 1)) "$expected") ||
        e2e_fail "the demo played other frames than the renderer makes of the song"
    e2e_log "$((heard / bytesPerSecond)) s of sound as rendered"
}

runWithoutDevice() {
    local id
    e2e_start_xvfb 1024x768x24
    export SDL_AUDIODRIVER=no-such-driver
    e2e_start_program "$workdir" "$log" "$demo"
    e2e_answer_question "$question" no
    id=$(e2e_wait_window "fcwef")
    [[ -z "$(e2e_find_window "$title")" ]] || e2e_fail "the demo window is up beside the error"
    e2e_click_box_button "$id" 1
    e2e_wait_exit 30
    ((E2E_EXIT_STATUS == 255)) || e2e_fail "status $E2E_EXIT_STATUS, expected 255"
    grep -q "Error upon initialization" "$log" || e2e_fail "no message: $(cat "$log")"
}

case "$scenario" in
    plays) runPlays ;;
    no-device) runWithoutDevice ;;
    *) e2e_fail "unknown scenario $scenario" ;;
esac
e2e_log "PASS audio $scenario"
