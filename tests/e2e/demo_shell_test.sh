#!/usr/bin/env bash
# End-to-end test of the demo's shell on a private X server, driven as a
# person would.
#
#   demo_shell_test.sh SCENARIO DEMO WORKDIR ARTIFACTS
#
# SCENARIO is one of
#   windowed       answering No on a 1024 x 768 screen gives a visible,
#                  centred 640 x 480 window; Escape ends the run with status 0
#   no-mode        answering Yes on a 1024 x 768 screen, which has no 640 x 480
#                  mode, ends the run at once with status 0 and no window
#   no-depth       the same on a 640 x 480 screen of 16 bits per pixel
#   fullscreen     answering Yes on a 640 x 480 x 32 screen covers the screen;
#                  Escape ends the run with status 0
#   no-texture     run where there is no "Texture.bmp": the window is shown,
#                  then the run ends silently with status 0
#   signal         SIGTERM to the windowed demo ends it like Escape, through
#                  the take-down, with status 0
#   no-gl          on a screen without OpenGL the window cannot be made: an
#                  "Error" box says why and the run ends with status 255
#   no-display     with no display at all the demo says so and ends with 255
#   no-fonts       on an X server with none of the core fonts that message
#                  boxes draw with, the start-up question cannot be shown: the
#                  demo says why on stderr and ends with status 255, making
#                  no window and trying no full screen on an answer nobody gave
#   escape-windowed, escape-fullscreen
#                  Escape typed the moment the window appears, with no click
#                  or focus call first, ends the run with status 0
#   box-fullscreen a "Texture.bmp" that the loader refuses, in full screen:
#                  its "Error" box is in front of the full-screen window, and
#                  dismissing it ends the run with status 0
#   ...-wm         the scenario under a window manager that gives new
#                  windows no focus of its own accord
# DEMO is the demo executable, started in WORKDIR; screenshots and the
# demo's output go to ARTIFACTS.
set -euo pipefail
# shellcheck source=tests/e2e/x11_session.sh
source "$(dirname "$0")/x11_session.sh"

scenario=${1%-wm}
windowManager=0
[[ "$1" == *-wm ]] && windowManager=1
demo=$2
workdir=$3
artifacts=$4

title="Uma Vorodoze, um Vostel e uma Vado"
question="Start FullScreen?"
log="$artifacts/$1.log"
shot="$artifacts/$1.png"

e2e_require_tools
mkdir -p "$artifacts"
rm -f "$log" "$shot"

# startScreen WIDTHxHEIGHTxDEPTH: the X server, and the window manager when
# the scenario asks for one.
startScreen() {
    e2e_start_xvfb "$1"
    ((windowManager == 0)) || e2e_start_window_manager
}

# The whole 640 x 480 client area is the GL frame, cleared to black around
# the scene, which keeps to the middle during the first seconds.
frameCleared() {
    local size corner
    size=$(convert "$1" -format '%w %h' info:)
    [[ "$size" == "640 480" ]] || return 1
    for corner in "0 0" "639 0" "0 479" "639 479"; do
        # shellcheck disable=SC2086  # the corner is two arguments
        [[ "$(e2e_pixel "$1" $corner)" == "0 0 0" ]] || return 1
    done
}

expectGeometry() {
    local id=$1 expected=$2 actual
    actual=$(e2e_window_geometry "$id")
    [[ "$actual" == "$expected" ]] ||
        e2e_fail "window at/size \"$actual\" (x y width height), expected \"$expected\""
}

# Escape must end the run promptly and cleanly, taking the window along.
endWithEscape() {
    local id=$1
    kill -0 "$E2E_DEMO_PID" 2>/dev/null || e2e_fail "the demo ended before Escape"
    e2e_press_key "$id" Escape
    e2e_wait_exit 30
    ((E2E_EXIT_STATUS == 0)) || e2e_fail "status $E2E_EXIT_STATUS after Escape, expected 0"
    ((E2E_EXIT_MS <= 5000 * E2E_TIMEOUT_SCALE)) ||
        e2e_fail "the demo took ${E2E_EXIT_MS} ms to end after Escape"
    [[ -z "$(e2e_find_window "$title")" ]] || e2e_fail "the window outlived the demo"
}

runWindow() {
    local screen=$1 answer=$2 expected=$3 id
    e2e_start_xvfb "$screen"
    e2e_start_program "$workdir" "$log" "$demo"
    e2e_answer_question "$question" "$answer"
    id=$(e2e_wait_window "$title")
    expectGeometry "$id" "$expected"
    e2e_wait_screenshot "$id" "$shot" frameCleared
    endWithEscape "$id"
}

# A refused display mode ends the run silently, before any window exists.
runRefused() {
    local screen=$1 id
    e2e_start_xvfb "$screen"
    e2e_start_program "$workdir" "$log" "$demo"
    id=$(e2e_wait_window "$question")
    e2e_watch_windows
    e2e_click_box_button "$id" 1
    e2e_wait_exit 30
    ((E2E_EXIT_STATUS == 0)) || e2e_fail "status $E2E_EXIT_STATUS, expected 0"
    ((E2E_EXIT_MS <= 5000 * E2E_TIMEOUT_SCALE)) ||
        e2e_fail "the demo took ${E2E_EXIT_MS} ms to give up"
    local created
    created=$(e2e_created_windows)
    [[ -z "$created" ]] || e2e_fail "windows were created after the answer: $created"
    [[ ! -s "$log" ]] || e2e_fail "the demo was not silent: $(cat "$log")"
}

runWithoutTexture() {
    local id empty="$E2E_TEMP/empty"
    mkdir -p "$empty"
    e2e_start_xvfb 1024x768x24
    e2e_start_program "$empty" "$log" "$demo"
    id=$(e2e_wait_window "$question")
    e2e_watch_windows
    e2e_click_box_button "$id" 2
    e2e_wait_exit 30
    ((E2E_EXIT_STATUS == 0)) || e2e_fail "status $E2E_EXIT_STATUS, expected 0"
    [[ -n "$(e2e_created_windows)" ]] || e2e_fail "the window was never made"
    [[ ! -s "$log" ]] || e2e_fail "the demo was not silent: $(cat "$log")"
}

runStopSignal() {
    local id
    e2e_start_xvfb 1024x768x24
    e2e_start_program "$workdir" "$log" "$demo"
    e2e_answer_question "$question" no
    id=$(e2e_wait_window "$title")
    kill -TERM "$E2E_DEMO_PID"
    e2e_wait_exit 30
    ((E2E_EXIT_STATUS == 0)) || e2e_fail "status $E2E_EXIT_STATUS after SIGTERM, expected 0"
    [[ -z "$(e2e_find_window "$title")" ]] || e2e_fail "window $id outlived the demo"
}

# A window that cannot be made is reported in a box of its own once the
# window is gone, and the run ends with -1.
runWithoutGl() {
    local id
    e2e_start_xvfb 1024x768x8
    e2e_start_program "$workdir" "$log" "$demo"
    e2e_answer_question "$question" no
    id=$(e2e_wait_window "Error")
    [[ -z "$(e2e_find_window "$title")" ]] || e2e_fail "the demo window is up beside the error"
    e2e_click_box_button "$id" 1
    e2e_wait_exit 30
    ((E2E_EXIT_STATUS == 255)) || e2e_fail "status $E2E_EXIT_STATUS, expected 255"
    grep -q "Cannot create the window" "$log" || e2e_fail "no reason given: $(cat "$log")"
}

runWithoutDisplay() {
    local status
    (cd "$workdir" && exec timeout $((60 * E2E_TIMEOUT_SCALE)) \
        env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER "$demo") >"$log" 2>&1 &&
        status=0 || status=$?
    ((status == 255)) || e2e_fail "status $status, expected 255"
    grep -q "Cannot open the display" "$log" || e2e_fail "no reason given: $(cat "$log")"
}

# The question box cannot draw its text: nothing may be shown, full screen
# above all (this 640 x 480 x 32 screen would grant it, and the demo would
# run on in full screen though nobody answered).
runWithoutFonts() {
    e2e_start_xvfb 640x480x24 -fp built-ins
    e2e_watch_windows
    e2e_start_program "$workdir" "$log" "$demo"
    e2e_wait_exit 30
    ((E2E_EXIT_STATUS == 255)) || e2e_fail "status $E2E_EXIT_STATUS, expected 255"
    grep -q 'Cannot show the box "Start FullScreen?": .*core fonts' "$log" ||
        e2e_fail "no reason given: $(cat "$log")"
    local created
    created=$(e2e_created_windows)
    [[ -z "$created" ]] || e2e_fail "windows were created: $created"
}

# Typed with no focus call: only a window that took the keyboard focus when
# it was shown receives it. The pointer is moved off the window first, so
# that the key does not find the window by where the pointer is.
runEscapeAtOnce() {
    local screen=$1 answer=$2
    startScreen "$screen"
    e2e_start_program "$workdir" "$log" "$demo"
    e2e_answer_question "$question" "$answer"
    xdotool mousemove 0 0
    e2e_wait_window "$title" >/dev/null
    xdotool key Escape
    e2e_wait_exit 30
    ((E2E_EXIT_STATUS == 0)) || e2e_fail "status $E2E_EXIT_STATUS after Escape, expected 0"
    ((E2E_EXIT_MS <= 5000 * E2E_TIMEOUT_SCALE)) ||
        e2e_fail "the demo took ${E2E_EXIT_MS} ms to end after Escape"
}

# A bitmap with the later 108-byte header, which the loader refuses with a box.
writeRefusedBitmap() {
    {
        printf 'BM\xaa\0\0\0\0\0\0\0\x7a\0\0\0'
        printf '\x6c\0\0\0\x04\0\0\0\x04\0\0\0\x01\0\x18\0'
        head -c 152 /dev/zero
    } >"$1"
}

# The box is read off the screen: one that the full-screen window covers
# shows no button to click.
runBoxInFront() {
    local refused="$E2E_TEMP/refused" id
    mkdir -p "$refused"
    writeRefusedBitmap "$refused/Texture.bmp"
    startScreen 640x480x24
    e2e_start_program "$refused" "$log" "$demo"
    e2e_answer_question "$question" yes
    id=$(e2e_wait_window "Error")
    [[ -n "$(e2e_find_window "$title")" ]] || e2e_fail "the full-screen window is not up"
    import -window root "$shot" 2>/dev/null || true
    e2e_click_box_button "$id" 1
    e2e_wait_exit 30
    ((E2E_EXIT_STATUS == 0)) || e2e_fail "status $E2E_EXIT_STATUS, expected 0"
    grep -q "Unknown DIB file format." "$log" || e2e_fail "no reason given: $(cat "$log")"
}

case "$scenario" in
    windowed) runWindow 1024x768x24 no "192 144 640 480" ;;
    fullscreen) runWindow 640x480x24 yes "0 0 640 480" ;;
    no-mode) runRefused 1024x768x24 ;;
    no-depth) runRefused 640x480x16 ;;
    no-texture) runWithoutTexture ;;
    signal) runStopSignal ;;
    no-gl) runWithoutGl ;;
    no-display) runWithoutDisplay ;;
    no-fonts) runWithoutFonts ;;
    escape-windowed) runEscapeAtOnce 1024x768x24 no ;;
    escape-fullscreen) runEscapeAtOnce 640x480x24 yes ;;
    box-fullscreen) runBoxInFront ;;
    *) e2e_fail "unknown scenario $scenario" ;;
esac
e2e_log "PASS $1"
