#!/usr/bin/env bash
# End-to-end pictures of the scene: runs the demo in a window on a private X
# server and checks screenshots of three stages, each a state that lasts over
# many frames, so that the checks hold however fast the machine draws:
#
#   pyramid   during the approach: the flat, unrotated pyramid with its red
#             centre, green front-left and blue front-right corners where the
#             projection puts them
#   cube      the grown cube, in its own muted colours, over the apex
#   ball      the textured ball at rest in the middle, nothing above it
#
#   scene_pictures_test.sh DEMO WORKDIR ARTIFACTS
#
# DEMO is started in WORKDIR (which holds Texture.bmp); one screenshot of each
# stage and the demo's output are kept in ARTIFACTS.
set -euo pipefail
source "$(dirname "$0")/x11_session.sh"

demo=$1
workdir=$2
artifacts=$3

title="Uma Vorodoze, um Vostel e uma Vado"
question="Start FullScreen?"
log="$artifacts/scene.log"

# The projection: 45 degrees vertically over 480 rows, so a point at height
# y and distance z lands focal * 240 * y / z rows from the middle.
readonly focal=2.414213562373095

e2e_require_tools
mkdir -p "$artifacts"
rm -f "$log" "$artifacts"/scene-*.png
# The demo plays music; a machine without a sound card still has this one.
export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}

# region FILE X Y WIDTH HEIGHT: "x y red green blue" for each pixel of the
# region, in window coordinates.
region() {
    convert "$1" -alpha off +repage -crop "${4}x${5}+${2}+${3}" +repage -depth 8 txt:- |
        awk -v ox="$2" -v oy="$3" 'NR > 1 {
            split($1, p, /[,:]/); gsub(/[()]/, "", $2); split($2, c, ",")
            print p[1] + ox, p[2] + oy, c[1], c[2], c[3]
        }'
}

# bounds FILE X Y WIDTH HEIGHT: "left top right bottom" of what is not black
# within the region; nothing when it is all black.
bounds() {
    convert "$1" -alpha off +repage -crop "${4}x${5}+${2}+${3}" +repage -fuzz 2% -trim \
        -format '%w %h %X %Y' info: 2>/dev/null |
        awk -v ox="$2" -v oy="$3" '{
            x = $3 + 0; y = $4 + 0
            if ($1 > 2 && x >= 0 && y >= 0) print x + ox, y + oy, x + ox + $1 - 1, y + oy + $2 - 1
        }'
}

# The approach: only the pyramid, unrotated, its apex still at the height of
# its base, so a flat square seen from above. Its front edge lies as far
# below the middle as its front corners lie left and right of it; the red
# centre and the back edge follow from the same distance.
pyramidAlone() {
    local file=$1 box left top right bottom
    box=$(bounds "$file" 0 0 640 480)
    [[ -n "$box" ]] || return 1
    read -r left top right bottom <<<"$box"
    region "$file" "$left" "$top" $((right - left + 1)) $((bottom - top + 1)) |
        awk -v l="$left" -v t="$top" -v r="$right" -v b="$bottom" -v f="$focal" '
        function abs(v) { return v < 0 ? -v : v }
        function dominant(x, y, want,   c) {
            c[1] = red[x, y]; c[2] = green[x, y]; c[3] = blue[x, y]
            return c[want] > 100 && c[want] > c[want % 3 + 1] && c[want] > c[(want + 1) % 3 + 1]
        }
        { red[$1, $2] = $3; green[$1, $2] = $4; blue[$1, $2] = $5 }
        END {
            front = b + 0.5 - 240
            if (front < 40) exit 1  # still too far away to judge
            if (abs(l + r + 1 - 640) > 3 || abs((r + 1 - l) / 2 - front) > 3) exit 1
            if (!dominant(l + 2, b, 2) || !dominant(r - 2, b, 3)) exit 1
            # The front edge is one unit nearer than the centre, the back
            # edge one unit farther.
            centre = 240 * f / front + 1
            if (abs(t + 0.5 - (240 + 240 * f / (centre + 1))) > 2) exit 1
            apex = 240 + 240 * f / centre
            best = -1; bestRow = -1
            for (y = t; y <= b; ++y) {
                redness = red[320, y] - (green[320, y] > blue[320, y] ? green[320, y] : blue[320, y])
                if (redness > best) { best = redness; bestRow = y }
            }
            if (best <= 0 || abs(bestRow + 0.5 - apex) > 2) exit 1
        }'
}

# The grown cube over the apex (stages 3 and 4 and the hold): in the upper
# rows, where the apex never reaches, a shape the size of the grown cube in
# the middle, in the cube's muted colours (no channel above 0.64) and facing
# several ways; the pyramid below.
cubeOverApex() {
    local file=$1 box left top right bottom below
    box=$(bounds "$file" 0 0 640 130)
    [[ -n "$box" ]] || return 1
    read -r left top right bottom <<<"$box"
    below=$(bounds "$file" 0 250 640 230)
    [[ -n "$below" ]] || return 1
    read -r -a below <<<"$below"
    ((below[2] - below[0] >= 250)) || return 1
    region "$file" "$left" "$top" $((right - left + 1)) $((bottom - top + 1)) |
        awk -v l="$left" -v t="$top" -v r="$right" -v b="$bottom" '
        function abs(v) { return v < 0 ? -v : v }
        { red[$1, $2] = $3; green[$1, $2] = $4; blue[$1, $2] = $5 }
        END {
            width = r - l + 1
            if (width < 55 || width > 150 || abs((l + r + 1) / 2 - 320) > 30) exit 1
            if (b - t + 1 < 25) exit 1
            shown = 0
            for (i = 1; i <= 5; ++i) for (j = 1; j <= 5; ++j) {
                x = int(l + (r - l) * i / 6); y = int(t + (b - t) * j / 6)
                c1 = red[x, y]; c2 = green[x, y]; c3 = blue[x, y]
                if (c1 + c2 + c3 < 40) continue
                ++shown
                if (c1 > 180 || c2 > 180 || c3 > 180) exit 1
                top3 = c1 >= c2 && c1 >= c3 ? "red" : (c2 >= c3 ? "green" : "blue")
                kinds[top3] = 1
            }
            n = 0; for (k in kinds) ++n
            if (shown < 8 || n < 2) exit 1
        }'
}

# The ball at rest: its centre (distance 10, one unit down) shows the white
# pole tinted by the cube's last colour (0.26, 0.43, 0.23); around it the
# coloured gores, never brighter than the tint; nothing above the horizon,
# the cube having shrunk to a point.
ballResting() {
    local file=$1
    [[ -z "$(bounds "$file" 0 0 640 240)" ]] || return 1
    region "$file" 270 247 100 100 | awk -v f="$focal" '
        function abs(v) { return v < 0 ? -v : v }
        function far(a, b) {
            return abs(ringR[a] - ringR[b]) > 20 || abs(ringG[a] - ringG[b]) > 20 ||
                   abs(ringB[a] - ringB[b]) > 20
        }
        { red[$1, $2] = $3; green[$1, $2] = $4; blue[$1, $2] = $5 }
        END {
            cx = 320; cy = int(240 + 240 * f / 10)
            if (abs(red[cx, cy] - 66) > 14 || abs(green[cx, cy] - 110) > 14 ||
                abs(blue[cx, cy] - 59) > 14) exit 1
            if (red[cx, cy - 45] + green[cx, cy - 45] + blue[cx, cy - 45] > 0) exit 1
            for (i = 0; i < 16; ++i) {
                a = i * 3.14159265 / 8
                x = int(cx + 20 * cos(a) + 0.5); y = int(cy + 20 * sin(a) + 0.5)
                ringR[i] = red[x, y]; ringG[i] = green[x, y]; ringB[i] = blue[x, y]
                if (ringR[i] + ringG[i] + ringB[i] < 30) exit 1
                if (ringR[i] > 76 || ringG[i] > 120 || ringB[i] > 69) exit 1
            }
            distinct = 0
            for (i = 0; i < 16; ++i) {
                unseen = 1
                for (j = 0; j < i; ++j) if (!far(i, j)) unseen = 0
                distinct += unseen
            }
            if (distinct < 3) exit 1
        }'
}

e2e_start_xvfb 1024x768x24
e2e_start_program "$workdir" "$log" "$demo"
e2e_answer_question "$question" no
id=$(e2e_wait_window "$title")

# The pyramid is near enough to judge for the last 50 or so frames of the
# approach, about a second at full speed. Screenshots are taken without a
# pause until the cube comes into view at the top; then the latest one that
# shows the pyramid as the projection has it, the nearest, is kept.
shots=()
deadline=$(($(e2e_now_ms) + 120000 * E2E_TIMEOUT_SCALE))
while (($(e2e_now_ms) < deadline)); do
    shot="$E2E_TEMP/approach-${#shots[@]}.png"
    import -window "$id" "$shot" 2>/dev/null || continue
    [[ -z "$(bounds "$shot" 0 0 640 130)" ]] || break
    shots+=("$shot")
done
((${#shots[@]} > 0)) || e2e_fail "no screenshot of the approach"
e2e_log "${#shots[@]} screenshots of the approach"
for ((i = ${#shots[@]} - 1; i >= 0; --i)); do
    if pyramidAlone "${shots[i]}"; then
        cp "${shots[i]}" "$artifacts/scene-pyramid.png"
        break
    fi
done
if ((i < 0)); then
    cp "${shots[-1]}" "$artifacts/scene-pyramid-last.png"
    e2e_fail "no screenshot showed the approaching pyramid as projected" \
        "(the last one is kept as scene-pyramid-last.png)"
fi
e2e_log "screenshot $artifacts/scene-pyramid.png passed pyramidAlone"
rm -f "${shots[@]}"

# The hold with the grown cube comes about 19 s after the start.
e2e_wait_screenshot "$id" "$artifacts/scene-cube.png" cubeOverApex 180
# The ball rests from about frame 1170, some 25 s after the start.
e2e_wait_screenshot "$id" "$artifacts/scene-ball.png" ballResting 180
# At rest the picture stays: the ball is not merely passing by.
sleep 1
import -window "$id" "$E2E_TEMP/later.png" 2>/dev/null || e2e_fail "no screenshot after the rest"
ballResting "$E2E_TEMP/later.png" || e2e_fail "the ball did not stay at rest"

e2e_press_key "$id" Escape
e2e_wait_exit 30
((E2E_EXIT_STATUS == 0)) || e2e_fail "status $E2E_EXIT_STATUS after Escape, expected 0"
e2e_log "PASS scene pictures"
