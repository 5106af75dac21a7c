#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Wall time of varnel-batch against the ffmpeg command doing the same decoding and about the same
# encoding (every fifth frame of the input, WMV2 at the input's bit rate), on a 20 s 1280x720 WMV2
# clip with flickering brightness, with and without --manipulate. The three commands run RUNS
# times (default 3) in turn; the median of each counts. Targets: varnel-batch within 1.25 times
# ffmpeg's wall time, within 1.5 times with --manipulate.
#
# Usage: bench/batch-vs-ffmpeg.sh [VARNEL_BATCH]   (default: build/batch/varnel-batch)
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
RUNS="${RUNS:-3}"

# shellcheck source=bench/timing.sh
source "$ROOT/bench/timing.sh"
bench_start "$@"

ffmpeg -v error -y -f lavfi \
    -i "testsrc2=size=1280x720:rate=30000/1001:duration=20,eq=brightness='0.12*sin(2.4*n)':eval=frame" \
    -c:v wmv2 -b:v 4M -f asf clip.wmv
RATE="$(ffprobe -v error -select_streams v:0 -show_entries stream=bit_rate -of csv=p=0 clip.wmv)"
case "$RATE" in '' | N/A | 0) RATE=4000000 ;; esac

# The three commands take turns, so that a change in the machine's load hits them alike.
for _ in $(seq "$RUNS"); do
    wall_time ffmpeg -v error -y -i clip.wmv -an -vf framestep=5 -c:v wmv2 -b:v "$RATE" \
        -f asf ffmpeg-out.wmv >>ffmpeg.times
    wall_time "$BATCH" --quiet clip.wmv batch-out.wmv >>batch.times
    wall_time "$BATCH" --quiet --manipulate clip.wmv batch-manip-out.wmv >>manip.times
done
ffmpeg_time=$(median <ffmpeg.times)
batch_time=$(median <batch.times)
manip_time=$(median <manip.times)

report() {  # label, seconds, target ratio
    awk -v label="$1" -v t="$2" -v f="$ffmpeg_time" -v target="$3" 'BEGIN {
        ratio = t / f
        printf "%-38s %7.3f s  %5.2fx ffmpeg  (target %.2fx: %s)\n", label, t, ratio, target,
               ratio <= target ? "met" : "MISSED"
    }'
}

echo "clip: 20 s 1280x720 WMV2 at $RATE bit/s, $(nproc) cores, median of $RUNS runs"
printf '%-38s %7.3f s\n' "ffmpeg framestep=5 -c:v wmv2" "$ffmpeg_time"
report "varnel-batch" "$batch_time" 1.25
report "varnel-batch --manipulate" "$manip_time" 1.5
