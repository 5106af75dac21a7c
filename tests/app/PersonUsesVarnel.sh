#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The real program used as a person would, under Xvfb with xdotool: type the name of a clip and
# an existing file as the output, then change the output to a new name (the existing file stays
# as it was), click "FreePlay" and wait for the end; commit the clip again and a second output,
# play again (the first output stays as it was, the second starts at its first frame); type
# letters into a slider box (its number comes back); name an output that cannot be written (the
# status line says so); keep a screenshot of the window, click "Exit". ffprobe checks the outputs;
# boxes are read through the clipboard.
#
# Usage: PersonUsesVarnel.sh <varnel executable> <folder for varnel-window.png>
# Exit status 0 passed, 77 skipped (a tool is missing), anything else failed.
set -euo pipefail

VARNEL=$1
SHOT_DIR=$2
FRAMES=90

for tool in xvfb-run xdotool xclip import ffmpeg ffprobe; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed"
    exit 77
  fi
done

if [ -z "${VARNEL_UNDER_XVFB:-}" ]; then
  export VARNEL_UNDER_XVFB=1
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

fail() {
  echo "FAIL: $*"
  [ -f "$WORK/varnel.log" ] && sed 's/^/varnel: /' "$WORK/varnel.log"
  exit 1
}

WORK=$(mktemp -d /tmp/varnel-person-XXXXXX)
PID=""
cleanup() {
  if [ -n "$PID" ] && kill -0 "$PID" 2>/dev/null; then kill "$PID"; fi
  rm -rf "$WORK"
}
trap cleanup EXIT

ffmpeg -nostdin -v error -f lavfi -i testsrc=size=320x240:rate=30000/1001 -frames:v "$FRAMES" \
  -c:v wmv2 -b:v 1M "$WORK/in.wmv" || fail "ffmpeg could not make the input clip"

cd "$WORK"
printf 'precious' >"$WORK/kept.wmv"
export QT_QPA_PLATFORM=xcb
export XDG_CONFIG_HOME="$WORK/config"  # the user's own settings stay untouched
"$VARNEL" >"$WORK/varnel.log" 2>&1 &
PID=$!

WID=$(timeout 60 xdotool search --sync --onlyvisible --name '^Varnel$' | head -1) || true
[ -n "$WID" ] || fail "the Varnel window did not appear"
eval "$(xdotool getwindowgeometry --shell "$WID")"

# Clicks the centre of a control given in dialog units (x, y, width, height) of the 630 x 410
# template: the client area scales both ways alike, whatever the font.
click_control() {
  local cx=$(( X + WIDTH * ($1 + $3 / 2) / 630 ))
  local cy=$(( Y + HEIGHT * ($2 + $4 / 2) / 410 ))
  xdotool mousemove --sync "$cx" "$cy" click 1
}
# Replaces the text of the box at these dialog units and leaves it with Tab.
type_into() {
  click_control "$1" "$2" "$3" "$4"
  xdotool key ctrl+a
  xdotool type --delay 10 "$5"
  xdotool key Tab
}
# The text of the box at these dialog units, through the clipboard.
box_text() {
  click_control "$1" "$2" "$3" "$4"
  xdotool key ctrl+a ctrl+c
  sleep 0.3
  xclip -o -selection clipboard 2>/dev/null || true
}
INPUT_BOX="83 19 198 14"
OUTPUT_BOX="83 41 203 14"
# Plays to the end of the input: the output takes its name only once it is finished.
play_until() {
  click_control 470 21 50 14                    # "FreePlay"
  for _ in $(seq 1 600); do
    [ -e "$1" ] && break
    kill -0 "$PID" 2>/dev/null || fail "varnel ended during play"
    sleep 0.5
  done
  [ -e "$1" ] || fail "$1 was not finished"
  sleep 1  # the last readouts and the preview are drawn
}

type_into $INPUT_BOX "$WORK/in.wmv"
type_into $OUTPUT_BOX "$WORK/kept.wmv"
type_into $OUTPUT_BOX "$WORK/out.wmv"          # kept.wmv ends with no picture in it
[ "$(cat "$WORK/kept.wmv")" = precious ] || fail "the existing output was replaced"
play_until "$WORK/out.wmv"
FIRST=$(md5sum <"$WORK/out.wmv")

type_into $INPUT_BOX "$WORK/in.wmv"            # writing begins again under out.wmv
type_into $OUTPUT_BOX "$WORK/second.wmv"
play_until "$WORK/second.wmv"
[ "$(md5sum <"$WORK/out.wmv")" = "$FIRST" ] || fail "the first output changed"
START=$(ffprobe -v error -select_streams v -show_entries frame=pts_time -read_intervals '%+#1' \
  -of csv=p=0 "$WORK/second.wmv")
echo "second output starts at $START s"
[ "$START" = 0.033000 ] || fail "the second output starts at $START s"

type_into 102 335 40 14 abc                    # the "Dark Factor" value
DARK=$(box_text 102 335 40 14)
[ "$DARK" = 1.00e+01 ] || fail "the Dark Factor box holds '$DARK' after letters were typed"

type_into $OUTPUT_BOX /proc/x.mp4
STATUS=$(box_text 130 389 493 14)              # the status line
echo "status line: $STATUS"
[[ "$STATUS" == "Could not begin writing file /proc/x.mp4: "* ]] || fail "no failure shown"
xdotool key Tab                                 # nothing selected in the screenshot

mkdir -p "$SHOT_DIR"
import -window "$WID" "$SHOT_DIR/varnel-window.png" || fail "no screenshot"

click_control 7 389 50 14                       # "Exit"
for _ in $(seq 1 120); do
  kill -0 "$PID" 2>/dev/null || break
  sleep 0.5
done
kill -0 "$PID" 2>/dev/null && fail "varnel did not end after Exit"
STATUS=0
wait "$PID" || STATUS=$?
PID=""
[ "$STATUS" -eq 0 ] || fail "varnel ended with status $STATUS"

[ -s "$WORK/lastprofile.xml" ] || fail "no lastprofile.xml in the working folder"
[ ! -e /proc/x.mp4 ] || fail "/proc/x.mp4 exists"
STREAMS=$(ffprobe -v error -count_packets -show_entries stream=codec_name,nb_read_packets \
  -of csv=p=0 "$WORK/out.wmv")
echo "output streams: $STREAMS"
[ "$(printf '%s\n' "$STREAMS" | wc -l)" -eq 1 ] || fail "the output holds more than one stream"
CODEC=${STREAMS%%,*}
PACKETS=${STREAMS##*,}
[ "$CODEC" = wmv2 ] || fail "the output stream is $CODEC, not wmv2"
# About a quarter of the input: picks lie 3 to 8 frames apart, a pick is written at most twice.
[ "$PACKETS" -ge $(( 1 + (FRAMES - 6) / 8 )) ] || fail "only $PACKETS samples written"
[ "$PACKETS" -le $(( 2 * (1 + (FRAMES - 6) / 3) )) ] || fail "$PACKETS samples written"
echo "PASS: $PACKETS samples of $FRAMES frames; screenshot in $SHOT_DIR/varnel-window.png"
