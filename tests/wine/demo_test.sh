#!/usr/bin/env bash
# End-to-end tests of the Windows demo under Wine, on a private X server and
# a private sound server, driven as a person would.
#
#   demo_test.sh SCENARIO DEMO WORKDIR ARTIFACTS RENDERER SONG
#
# SCENARIO is one of
#   windowed    answering No on a 1024 x 768 screen gives a 640 x 480 window
#               at (192, 144) titled as the demo is; a screenshot shows the
#               pyramid in its red, green and blue; the sound that wave-out
#               plays is, from the first seconds on, frame for frame what
#               RENDERER makes of SONG; Escape held ends the run with status 0
#   fullscreen  answering Yes on a 640 x 480 screen switches the display and
#               covers it with the window; Escape held ends the run with 0
#   no-mode     answering Yes on a 1024 x 768 screen, which has no 640 x 480
#               mode, ends the run at once with status 0 and no window
#   no-device   with no sound device, wave-out does not open: the box "fcwef"
#               says "Error upon initialization" and the run ends with 255
# DEMO is demo.exe, started in WORKDIR; screenshots, logs and the recorded
# sound go to ARTIFACTS. RENDERER is xm_render.exe, SONG the song the demo
# carries.
set -euo pipefail
# shellcheck source=tests/wine/wine_session.sh
source "$(dirname "$0")/wine_session.sh"

scenario=$1
demo=$2
workdir=$3
artifacts=$4
renderer=$5
song=$6

title="Uma Vorodoze, um Vostel e uma Vado"
question="Start FullScreen?"
log="$artifacts/demo-$scenario.log"
shot="$artifacts/demo-$scenario.png"
recorded="$artifacts/demo-$scenario.raw"
rate=44100

e2e_require_tools
mkdir -p "$artifacts"
rm -f "$log" "$shot" "$recorded"
wine_start "$demo"

# Red, green and blue as the pyramid's corners have them, each in at least a
# few dozen pixels: full in one channel, little in the other two (the
# cube's colours are muted, the ball comes much later).
pyramidColours() {
    convert "$1" -alpha off -depth 8 txt:- | awk '
        NR > 1 {
            gsub(/[()]/, "", $2); split($2, c, ",")
            for (i = 1; i <= 3; ++i) {
                j = i % 3 + 1; k = j % 3 + 1
                if (c[i] >= 200 && c[j] <= 80 && c[k] <= 80) ++seen[i]
            }
        }
        END { exit !(seen[1] >= 30 && seen[2] >= 30 && seen[3] >= 30) }'
}

# The whole screen is the GL frame, cleared to black around the scene,
# which keeps to the middle during the first seconds.
screenCleared() {
    local corner
    [[ "$(convert "$1" -format '%w %h' info:)" == "640 480" ]] || return 1
    for corner in "0 0" "639 0" "0 479" "639 479"; do
        # shellcheck disable=SC2086  # the corner is two arguments
        [[ "$(e2e_pixel "$1" $corner)" == "0 0 0" ]] || return 1
    done
}

expectGeometry() {
    local actual
    actual=$(e2e_window_geometry "$1")
    [[ "$actual" == "$2" ]] ||
        e2e_fail "window at/size \"$actual\" (x y width height), expected \"$2\""
}

# Escape held ends the run promptly and cleanly, taking the window along.
endWithEscape() {
    kill -0 "$E2E_DEMO_PID" 2>/dev/null || e2e_fail "the demo ended before Escape: $(cat "$log")"
    wine_hold_key "$1" Escape
    e2e_wait_exit 30
    ((E2E_EXIT_STATUS == 0)) || e2e_fail "status $E2E_EXIT_STATUS after Escape, expected 0"
    ((E2E_EXIT_MS <= 5000 * E2E_TIMEOUT_SCALE)) ||
        e2e_fail "the demo took ${E2E_EXIT_MS} ms to end after Escape"
    [[ -z "$(e2e_find_window "$title")" ]] || e2e_fail "the window outlived the demo"
}

# compareSound RECORDED RENDERED: both raw 16-bit stereo. The recording
# must be the rendered song, frame for frame, from its first seconds on, in
# runs that follow each other in the song's order. Between two runs the
# sound server may have played a moment of silence (it ran dry) or Wine may
# have left out a few frames (once the server has run dry, Wine drops what
# should have played meanwhile to keep the position at real time); both
# happen on a busy machine. Each such gap may last up to a quarter of a
# second, all of them 5 % of the sound heard. Music heard twice, heard out
# of order or not the song's at all fails, and so does a position that runs
# ahead of what is heard (every ring would then be cut short).
compareSound() {
    local result
    result=$(awk -v rate="$rate" '
        FNR == 1 { ++file }
        file == 1 { rendered[FNR] = $1; renderedCount = FNR; next }
        { recorded[FNR] = $1; if ($1 != "00000000") lastSound = FNR }
        # The first place from `from` on, up to `limit`, where 256 frames of
        # the song agree with the recording at `at`; 0 when there is none.
        function find(at, from, limit,   place, k) {
            for (place = from; place <= limit && place + 256 <= renderedCount; ++place) {
                for (k = 0; k < 256 && rendered[place + k] == recorded[at + k]; ++k) {}
                if (k == 256) return place
            }
            return 0
        }
        END {
            if (lastSound == 0) { print "silent"; exit }
            for (at = 1; recorded[at] == "00000000"; ++at) {}
            # The last frames before the demo stopped may be cut short.
            end = lastSound - 256
            place = find(at, 1, 2 * rate)
            if (place == 0) { print "start", at; exit }
            first = place; matched = 0; gaps = 0; missed = 0
            while (at < end) {
                for (run = 0; at + run <= end && place + run <= renderedCount &&
                              rendered[place + run] == recorded[at + run]; ++run) {}
                matched += run; at += run; place += run
                if (at >= end) break
                for (silence = 0; at < end && recorded[at] == "00000000"; ++at) ++silence
                resume = find(at, place, place + rate / 4)
                if (resume == 0 || silence > rate / 4) { print "astray", at, matched; exit }
                ++gaps; missed += silence + resume - place; place = resume
            }
            print "matched", matched, first - 1, gaps, missed
        }' <(od -An -v -tx4 -w4 "$2" | tr -d ' ') <(od -An -v -tx4 -w4 "$1" | tr -d ' ')) ||
        e2e_fail "the recorded sound could not be compared"
    local verdict a b c d
    read -r verdict a b c d <<<"$result"
    case "$verdict" in
        silent) e2e_fail "the recording is silent throughout" ;;
        start) e2e_fail "the first sound, at recorded frame $a, is not the song's first two seconds" ;;
        astray) e2e_fail "at recorded frame $a the sound is not the song's next music" \
            "($b frames matched before)" ;;
        matched) ;;
        *) e2e_fail "the recorded sound could not be compared: $result" ;;
    esac
    local matched=$a missed=$d
    e2e_log "sound: $matched frames as rendered, from song frame $b on;" \
        "$c gaps of silence or left-out frames, $d frames in all"
    ((matched >= 4 * rate)) || e2e_fail "only $matched frames of the song were heard"
    ((missed * 20 <= matched)) || e2e_fail "$missed frames were silence or left out"
}

runWindowed() {
    local id seconds=8 rendered="$E2E_TEMP/rendered.raw" started
    e2e_start_xvfb 1024x768x24
    wine_start_sound
    wine_record_sound "$recorded"
    e2e_start_program "$workdir" "$log" "$WINE_LOADER" "$demo"
    wine_answer_question "$question" no
    id=$(e2e_wait_window "$title")
    started=$(e2e_now_ms)
    expectGeometry "$id" "192 144 640 480"
    e2e_wait_screenshot "$id" "$shot" pyramidColours 180
    # Enough sound to match: the start-up, two seconds, and four to compare.
    while (($(e2e_now_ms) < started + seconds * 1000)); do
        kill -0 "$E2E_DEMO_PID" 2>/dev/null || e2e_fail "the demo ended while playing: $(cat "$log")"
        sleep 0.2
    done
    endWithEscape "$id"
    "$WINE_LOADER" "$renderer" "$song" - --rules own --seconds $((seconds + 60)) >"$rendered" \
        2>"$E2E_TEMP/render.log" || e2e_fail "the renderer failed: $(cat "$E2E_TEMP/render.log")"
    compareSound "$recorded" "$rendered"
}

runFullScreen() {
    local id
    e2e_start_xvfb 640x480x24
    wine_start_sound
    e2e_start_program "$workdir" "$log" "$WINE_LOADER" "$demo"
    wine_answer_question "$question" yes
    id=$(e2e_wait_window "$title")
    expectGeometry "$id" "0 0 640 480"
    e2e_wait_screenshot "$id" "$shot" screenCleared
    endWithEscape "$id"
}

runWithoutMode() {
    e2e_start_xvfb 1024x768x24
    wine_start_sound
    e2e_start_program "$workdir" "$log" "$WINE_LOADER" "$demo"
    e2e_wait_window "$question" >/dev/null
    e2e_watch_windows
    wine_answer_question "$question" yes
    e2e_wait_exit 30
    ((E2E_EXIT_STATUS == 0)) || e2e_fail "status $E2E_EXIT_STATUS, expected 0: $(cat "$log")"
    ((E2E_EXIT_MS <= 5000 * E2E_TIMEOUT_SCALE)) ||
        e2e_fail "the demo took ${E2E_EXIT_MS} ms to give up"
    # Wine makes windows of its own (input-method windows of 1 x 1): what
    # must not appear is one the demo's size.
    ! grep -Eq '^ *parent 0x[0-9a-f]+, window 0x[0-9a-f]+, \([-0-9]+,[-0-9]+\), width 640, height 480' \
        "$E2E_TEMP/xev.log" || e2e_fail "a 640 x 480 window was made on a screen without the mode"
}

runWithoutDevice() {
    local id
    e2e_start_xvfb 1024x768x24
    # No sound server, and no ALSA card on a test machine: wave-out has no
    # device to open.
    export PULSE_SERVER="unix:$E2E_TEMP/no-such-socket"
    e2e_start_program "$workdir" "$log" "$WINE_LOADER" "$demo"
    wine_answer_question "$question" no
    id=$(e2e_wait_window "fcwef")
    [[ -z "$(e2e_find_window "$title")" ]] || e2e_fail "the demo window is up beside the error"
    xdotool windowfocus "$id" 2>/dev/null || true
    xdotool key Return
    e2e_wait_exit 30
    ((E2E_EXIT_STATUS == 255)) || e2e_fail "status $E2E_EXIT_STATUS, expected 255"
    grep -q "Error upon initialization" "$log" || e2e_fail "no message: $(cat "$log")"
}

case "$scenario" in
    windowed) runWindowed ;;
    fullscreen) runFullScreen ;;
    no-mode) runWithoutMode ;;
    no-device) runWithoutDevice ;;
    *) e2e_fail "unknown scenario $scenario" ;;
esac
e2e_log "PASS wine demo $scenario"
