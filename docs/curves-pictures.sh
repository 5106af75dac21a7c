#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes the README's pictures of the brightness curves from the bundled sample: the "Brightness
# Curves" window beside the dialog after FreePlay to the end (the real program under Xvfb, as a
# person would use it), and varnel-batch's --plot picture.
#
# Usage: docs/curves-pictures.sh [BUILD_DIR]   (default: build)
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="$(cd "${1:-$ROOT/build}" && pwd)"
SAMPLE="$ROOT/samples/flicker.wmv"

if [ -z "${VARNEL_UNDER_XVFB:-}" ]; then
  export VARNEL_UNDER_XVFB=1
  exec xvfb-run -a -s "-screen 0 2100x700x24" "$0" "$@"
fi

WORK=$(mktemp -d /tmp/varnel-pictures-XXXXXX)
PID=""
cleanup() {
  if [ -n "$PID" ] && kill -0 "$PID" 2>/dev/null; then kill "$PID"; fi
  rm -rf "$WORK"
}
trap cleanup EXIT
cd "$WORK"
cp "$SAMPLE" flicker.wmv

"$BUILD/batch/varnel-batch" --quiet --plot "$ROOT/docs/flicker-curves.png" flicker.wmv \
  flicker-short.wmv
rm flicker-short.wmv

export QT_QPA_PLATFORM=xcb
"$BUILD/app/varnel" >varnel.log 2>&1 &
PID=$!
WID=$(timeout 60 xdotool search --sync --onlyvisible --name '^Varnel$' | head -1)
xdotool windowmove --sync "$WID" 0 0
eval "$(xdotool getwindowgeometry --shell "$WID")"
DIALOG_WIDTH=$WIDTH
DIALOG_HEIGHT=$HEIGHT
# The centre of a control given in dialog units of the 630 x 410 template.
click_control() {
  xdotool mousemove --sync $(( X + WIDTH * ($1 + $3 / 2) / 630 )) \
    $(( Y + HEIGHT * ($2 + $4 / 2) / 410 )) click 1
}
click_control 83 19 198 14                      # the input name box
xdotool type --delay 5 flicker.wmv
xdotool key Tab
xdotool type --delay 5 flicker-short.wmv
xdotool key Tab
xdotool key shift+F10 && sleep 0.5 && xdotool key u   # "Brightness C&urves..."
CID=$(timeout 20 xdotool search --sync --onlyvisible --name '^Brightness Curves$' | head -1)
xdotool windowmove --sync "$CID" $(( DIALOG_WIDTH + 10 )) 0
xdotool windowsize --sync "$CID" 900 "$DIALOG_HEIGHT"
click_control 470 21 50 14                      # "FreePlay"
for _ in $(seq 1 600); do [ -e flicker-short.wmv ] && break; sleep 0.5; done
eval "$(xdotool getwindowgeometry --shell "$CID")"
xdotool mousemove --sync $(( X + 150 )) $(( Y + 20 )) click 1   # "Whole run"
xdotool mousemove --sync 5 550
sleep 1
import -window root -crop "$(( X + WIDTH ))x${DIALOG_HEIGHT}+0+0" "$ROOT/docs/brightness-curves-window.png"
echo "docs/brightness-curves-window.png and docs/flicker-curves.png written"
