#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The real program used as a person would: under Xvfb, click into the input name box, type the
# name of a clip, Tab, type an output name, Tab, click "FreePlay", wait for the end of the input,
# keep a screenshot of the window, click "Exit". Then ffprobe checks the output.
#
# Usage: PersonUsesVarnel.sh <varnel executable> <folder for varnel-window.png>
# Exit status 0 passed, 77 skipped (a tool is missing), anything else failed.
set -euo pipefail

VARNEL=$1
SHOT_DIR=$2
FRAMES=90

for tool in xvfb-run xdotool import ffmpeg ffprobe; do
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
export QT_QPA_PLATFORM=xcb
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

click_control 83 19 198 14                      # the input name box
xdotool type --delay 10 "$WORK/in.wmv"
xdotool key Tab
xdotool type --delay 10 "$WORK/out.wmv"
xdotool key Tab
click_control 470 21 50 14                      # "FreePlay"

# The writer shows the file under its name only once it is finished: at the end of the input.
for _ in $(seq 1 600); do
  [ -e "$WORK/out.wmv" ] && break
  kill -0 "$PID" 2>/dev/null || fail "varnel ended during play"
  sleep 0.5
done
[ -e "$WORK/out.wmv" ] || fail "the output was not finished"
sleep 1  # the last readouts and the preview are drawn

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
