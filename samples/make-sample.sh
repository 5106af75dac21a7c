#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes samples/flicker.wmv, the clip that scripts/run processes: five seconds of FFmpeg's
# test pattern at 640x480 and 29.97 frames per second whose brightness jumps from frame to frame
# (two sine waves of unrelated periods added to the luma), with a beeping tone beside it.
# WMV2 video and WMA2 audio in ASF, bit-exact, so running the script again gives the same file.
#
# Usage: samples/make-sample.sh [OUTPUT]   (default: flicker.wmv beside this script)
set -euo pipefail
HERE="$(cd "$(dirname "$0")" && pwd)"
OUT="${1:-$HERE/flicker.wmv}"

VIDEO="testsrc=size=640x480:rate=30000/1001:duration=5"
FLICKER="eq=brightness='0.14*sin(2.4*n)+0.07*sin(0.7*n+1)':eval=frame"
AUDIO="sine=frequency=440:beep_factor=4:sample_rate=22050:duration=5"

ffmpeg -v error -y \
    -f lavfi -i "$VIDEO,$FLICKER" \
    -f lavfi -i "$AUDIO" \
    -c:v wmv2 -b:v 200k -g 300 \
    -c:a wmav2 -b:a 32k -ac 1 \
    -map_metadata -1 -fflags +bitexact \
    -f asf "$OUT"
