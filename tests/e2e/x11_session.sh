# Helpers for end-to-end tests that drive the real demo on a private X
# server, as a person would: answer its question box, look at its window,
# press keys. Source this file from a bash test script; it needs Xvfb,
# xdotool, x11-utils (xwininfo, xev) and ImageMagick (import, convert), and
# openbox for e2e_start_window_manager.
#
# Every helper either succeeds or ends the script through e2e_fail with a
# message saying what was expected. The X server and every process started
# through these helpers are ended when the script exits, however it exits.
#
# Timeouts are generous on purpose: on a loaded CI machine with software GL a
# window can take many seconds to appear. Everything waits by polling, never
# by fixed sleeps. Scale them all with E2E_TIMEOUT_SCALE (an integer).

E2E_TIMEOUT_SCALE=${E2E_TIMEOUT_SCALE:-1}
# The demo plays sound and ends with an error when no sound device opens:
# unless a test says otherwise, SDL's dummy driver stands in for a card.
export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}
E2E_PIDS=()
E2E_TEMP=$(mktemp -d "${TMPDIR:-/tmp}/e2e.XXXXXX")

e2e_log() { printf '[%s] %s\n' "$(date +%T.%3N)" "$*"; }

e2e_fail() {
    printf 'FAIL: %s\n' "$*" >&2
    exit 1
}

# Exit status that CTest reports as a skipped test (SKIP_RETURN_CODE 77).
e2e_skip() {
    printf 'SKIPPED: %s\n' "$*"
    exit 77
}

e2e_cleanup() {
    local pid
    for pid in "${E2E_PIDS[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${E2E_PIDS[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    E2E_PIDS=()
    rm -rf "$E2E_TEMP"
}
trap e2e_cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Ends the process with the script (helpers track the processes they start).
e2e_track_pid() { E2E_PIDS+=("$1"); }

e2e_require_tools() {
    local tool
    for tool in Xvfb xdotool xwininfo xev xprop import convert stdbuf; do
        command -v "$tool" >/dev/null || e2e_skip "$tool is not installed (scripts/install-deps.sh installs it)"
    done
}

# Seconds since the epoch with milliseconds, for deadlines and durations.
e2e_now_ms() { date +%s%3N; }

# e2e_start_xvfb WIDTHxHEIGHTxDEPTH [XVFB OPTIONS...]
# Starts a private X server on a display number that the server itself picks
# among the free ones (so parallel tests never collide), and exports DISPLAY.
e2e_start_xvfb() {
    local screen=$1 fifo="$E2E_TEMP/displayfd" number=""
    shift
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp -noreset "$@" \
        3>"$fifo" >"$E2E_TEMP/xvfb.log" 2>&1 &
    E2E_XVFB_PID=$!
    e2e_track_pid "$E2E_XVFB_PID"
    # The server writes its display number once it accepts connections.
    read -r -t $((30 * E2E_TIMEOUT_SCALE)) number <"$fifo" || true
    [[ "$number" =~ ^[0-9]+$ ]] ||
        e2e_fail "Xvfb did not start with screen $screen: $(tail -n 5 "$E2E_TEMP/xvfb.log")"
    export DISPLAY=":$number"
    e2e_log "Xvfb $screen on display $DISPLAY"
}

# e2e_start_window_manager: starts a window manager on the display and
# waits until it manages the screen. Openbox is set to give new windows no
# focus of their own accord, as window managers that guard against focus
# stealing do: a program that needs the keyboard must ask for it.
e2e_start_window_manager() {
    local config="$E2E_TEMP/openbox.xml" deadline
    command -v openbox >/dev/null || e2e_skip "openbox is not installed (scripts/install-deps.sh installs it)"
    cat >"$config" <<'CONFIG'
<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <focus><focusNew>no</focusNew><followMouse>no</followMouse></focus>
</openbox_config>
CONFIG
    # Its session files go to the test's own folder, not the user's home.
    XDG_CACHE_HOME="$E2E_TEMP" XDG_CONFIG_HOME="$E2E_TEMP" \
        openbox --config-file "$config" >"$E2E_TEMP/openbox.log" 2>&1 &
    e2e_track_pid $!
    # The manager announces itself before it handles requests: ready is when
    # it has carried out one, here the change to a single desktop.
    deadline=$(($(e2e_now_ms) + 30000 * E2E_TIMEOUT_SCALE))
    until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' &&
        xdotool set_num_desktops 1 2>/dev/null &&
        [[ "$(xdotool get_num_desktops 2>/dev/null)" == 1 ]]; do
        (($(e2e_now_ms) < deadline)) ||
            e2e_fail "the window manager did not start: $(tail -n 5 "$E2E_TEMP/openbox.log")"
        sleep 0.1
    done
    e2e_log "openbox manages display $DISPLAY"
}

# e2e_find_window NAME: id of a viewable window named exactly NAME, or
# nothing. Reads the whole tree, where a window manager's frame holds the
# program's window, rather than asking xdotool, whose name search misses
# windows that carry their name only as UTF-8.
e2e_find_window() {
    local name=$1 id
    while read -r id; do
        if xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable'; then
            echo "$id"
            return 0
        fi
    done < <(xwininfo -root -tree 2>/dev/null |
        awk -v want="\"$name\"" 'index($0, want) { print $1 }')
}

# e2e_wait_window NAME [SECONDS]: prints the window's id once it is viewable.
e2e_wait_window() {
    local name=$1 seconds=${2:-30} id deadline
    deadline=$(($(e2e_now_ms) + seconds * 1000 * E2E_TIMEOUT_SCALE))
    while (($(e2e_now_ms) < deadline)); do
        id=$(e2e_find_window "$name")
        if [[ -n "$id" ]]; then
            echo "$id"
            return 0
        fi
        if [[ -n "${E2E_DEMO_PID:-}" ]] && ! kill -0 "$E2E_DEMO_PID" 2>/dev/null; then
            e2e_fail "the program ended before a window named \"$name\" appeared"
        fi
        sleep 0.1
    done
    e2e_fail "no window named \"$name\" within ${seconds}s; named windows:" \
        "$(xwininfo -root -tree 2>/dev/null | grep -E '^ +0x[0-9a-f]+ "' || true)"
}

# e2e_window_geometry ID: prints "x y width height" of the window on screen.
e2e_window_geometry() {
    xwininfo -id "$1" | awk '
        /Absolute upper-left X:/ { x = $NF }
        /Absolute upper-left Y:/ { y = $NF }
        /^ *Width:/ { w = $NF }
        /^ *Height:/ { h = $NF }
        END { print x, y, w, h }'
}

# e2e_screen_size: prints "width height" of the screen.
e2e_screen_size() {
    xwininfo -root | awk '/^ *Width:/ { w = $NF } /^ *Height:/ { h = $NF } END { print w, h }'
}

# e2e_screenshot ID FILE: saves the window's contents as an image.
e2e_screenshot() {
    import -window "$1" "$2" 2>/dev/null || e2e_fail "could not take a screenshot of window $1"
    e2e_log "screenshot: $2"
}

# e2e_pixel FILE X Y: prints the pixel's "red green blue", 0 to 255 each.
e2e_pixel() {
    convert "$1" -alpha off -crop "1x1+$2+$3" +repage -depth 8 txt:- |
        awk 'NR == 2 { gsub(/[()]/, "", $2); split($2, c, ","); print c[1], c[2], c[3] }'
}

# e2e_brightest FILE: the largest channel value in the image, 0 to 255.
e2e_brightest() { convert "$1" -alpha off -depth 8 -format '%[fx:int(255*maxima+0.5)]' info:; }

# e2e_wait_screenshot ID FILE CHECK [SECONDS]: takes screenshots of the
# window until the command CHECK, given the file, succeeds; fails with the
# last screenshot kept when it never does.
e2e_wait_screenshot() {
    local id=$1 file=$2 check=$3 seconds=${4:-30} deadline
    deadline=$(($(e2e_now_ms) + seconds * 1000 * E2E_TIMEOUT_SCALE))
    while :; do
        import -window "$id" "$file" 2>/dev/null && "$check" "$file" && break
        (($(e2e_now_ms) < deadline)) || e2e_fail "screenshot $file never passed $check"
        sleep 0.1
    done
    e2e_log "screenshot $file passed $check"
}

# e2e_box_buttons ID: prints "x y" (window-relative centre) of each button of
# a message box, left to right, as the screen shows them: the box is read
# from a picture of the whole screen, so a box that another window covers
# has no buttons. Buttons are the runs of pixels that differ from the box's
# background in the middle row of the lowest band that is not plain
# background, so no colours or fonts are assumed.
e2e_box_buttons() {
    local shot="$E2E_TEMP/screen.png" geometry
    read -r -a geometry < <(e2e_window_geometry "$1")
    import -window root "$shot" 2>/dev/null || e2e_fail "could not capture the screen"
    convert "$shot" -alpha off \
        -crop "${geometry[2]}x${geometry[3]}+${geometry[0]}+${geometry[1]}" +repage \
        -depth 8 txt:- | awk '
        NR == 1 { next }
        {
            split($1, p, /[,:]/); x = p[1] + 0; y = p[2] + 0
            colour[x, y] = $3
            if (x > width) width = x
            if (y > height) height = y
        }
        END {
            background = colour[0, 0]
            # Skip the bottom margin, then take the band of rows with content.
            for (y = height - 1; y > 0; --y) if (busy(y)) break
            bottom = y
            for (; y > 0; --y) if (!busy(y)) break
            middle = int((y + 1 + bottom) / 2)
            inside = 0
            for (x = 0; x <= width; ++x) {
                if (colour[x, middle] != background && !inside) { inside = 1; start = x }
                if (colour[x, middle] == background && inside) {
                    inside = 0; print int((start + x - 1) / 2), middle
                }
            }
        }
        function busy(row,   x) {
            for (x = 1; x < width; ++x) if (colour[x, row] != background) return 1
            return 0
        }'
}

# e2e_click_box_button ID INDEX: clicks the INDEX-th button (1 = leftmost)
# of the message box window ID.
e2e_click_box_button() {
    local id=$1 index=$2 buttons geometry bx="" by deadline
    # A box may be on screen a moment before its buttons are painted.
    deadline=$(($(e2e_now_ms) + 10000 * E2E_TIMEOUT_SCALE))
    while :; do
        buttons=$(e2e_box_buttons "$id")
        read -r bx by < <(sed -n "${index}p" <<<"$buttons") || true
        [[ -n "$bx" ]] && break
        (($(e2e_now_ms) < deadline)) ||
            e2e_fail "message box $id has no button $index (found: ${buttons:-none})"
        sleep 0.1
    done
    read -r -a geometry < <(e2e_window_geometry "$id")
    xdotool mousemove --sync $((geometry[0] + bx)) $((geometry[1] + by)) click 1
}

# e2e_answer_question TITLE yes|no: waits for the Yes/No box titled TITLE and
# clicks the answer (Yes is the left button, No the right one). Leaves the
# box's id in E2E_QUESTION_ID.
e2e_answer_question() {
    local title=$1 answer=$2 id
    id=$(e2e_wait_window "$title")
    case "$answer" in
        yes) e2e_click_box_button "$id" 1 ;;
        no) e2e_click_box_button "$id" 2 ;;
        *) e2e_fail "e2e_answer_question: answer must be yes or no, not $answer" ;;
    esac
    e2e_log "answered $answer to \"$title\""
    # shellcheck disable=SC2034  # for the scripts that source this file
    E2E_QUESTION_ID=$id
}

# e2e_press_key ID KEY: gives the window the keyboard focus and types KEY.
e2e_press_key() {
    xdotool windowfocus "$1" 2>/dev/null || true
    xdotool key "$2"
}

# e2e_start_program DIRECTORY LOG PROGRAM [ARGS...]: starts the program in
# DIRECTORY with its output in LOG; sets E2E_DEMO_PID.
e2e_start_program() {
    local directory=$1 log=$2
    shift 2
    (cd "$directory" && exec "$@") >"$log" 2>&1 &
    E2E_DEMO_PID=$!
    e2e_track_pid "$E2E_DEMO_PID"
    e2e_log "started $(basename "$1") (pid $E2E_DEMO_PID) in $directory"
}

# e2e_wait_exit [SECONDS]: waits for the program to end; sets
# E2E_EXIT_STATUS and E2E_EXIT_MS (milliseconds waited).
e2e_wait_exit() {
    local seconds=${1:-30} start deadline
    start=$(e2e_now_ms)
    deadline=$((start + seconds * 1000 * E2E_TIMEOUT_SCALE))
    while kill -0 "$E2E_DEMO_PID" 2>/dev/null; do
        # A finished child stays a zombie until waited for: check its state.
        [[ "$(ps -o stat= -p "$E2E_DEMO_PID" 2>/dev/null)" == Z* ]] && break
        (($(e2e_now_ms) < deadline)) || e2e_fail "the program did not end within ${seconds}s"
        sleep 0.05
    done
    E2E_EXIT_STATUS=0
    wait "$E2E_DEMO_PID" || E2E_EXIT_STATUS=$?
    E2E_EXIT_MS=$(($(e2e_now_ms) - start))
    e2e_log "program ended with status $E2E_EXIT_STATUS after ${E2E_EXIT_MS} ms"
}

# e2e_watch_windows: records every top-level window created from now on;
# e2e_created_windows prints the ids of those created since.
e2e_watch_windows() {
    local log="$E2E_TEMP/xev.log" probe deadline
    stdbuf -oL xev -root -event substructure -event property >"$log" 2>&1 &
    e2e_track_pid $!
    # xev says nothing about when it starts listening: change a property of
    # the root window until xev reports the change.
    deadline=$(($(e2e_now_ms) + 10000 * E2E_TIMEOUT_SCALE))
    for ((probe = 1; ; ++probe)); do
        xprop -root -f _E2E_PROBE 32c -set _E2E_PROBE "$probe"
        grep -q '_E2E_PROBE' "$log" && return 0
        (($(e2e_now_ms) < deadline)) || e2e_fail "xev did not start watching the screen"
        sleep 0.05
    done
}

e2e_created_windows() {
    sed -n 's/^ *parent 0x[0-9a-f]*, window \(0x[0-9a-f]*\), (.*/\1/p' "$E2E_TEMP/xev.log"
}
