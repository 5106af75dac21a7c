#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Wall time of a whole varnel-batch run to an MP4 output against the ffmpeg command that does
# about the same work with libx264's default preset (every fifth frame of the input, CRF 20), on
# a 20 s 1280x720 H.264 clip at 29.97 frames a second with flickering brightness. The two
# commands run RUNS times (default 3) in turn; the median of each counts. Target: varnel-batch
# within 1.1 times ffmpeg's wall time. The machine's load average is printed beside the figures:
# other work on the machine slows both, but not alike.
#
# Usage: bench/mp4-vs-ffmpeg.sh [VARNEL_BATCH]   (default: build/batch/varnel-batch)
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
RUNS="${RUNS:-3}"

# shellcheck source=bench/timing.sh
source "$ROOT/bench/timing.sh"
bench_start "$@"

ffmpeg -v error -y -f lavfi \
    -i "testsrc2=size=1280x720:rate=30000/1001:duration=20,eq=brightness='0.12*sin(2.4*n)':eval=frame" \
    -c:v libx264 -preset veryfast -crf 18 -pix_fmt yuv420p clip.mp4

load_before=$(cut -d' ' -f1 /proc/loadavg)
# The two commands take turns, so that a change in the machine's load hits them alike.
for _ in $(seq "$RUNS"); do
    wall_time ffmpeg -v error -y -i clip.mp4 -an -vf framestep=5 -c:v libx264 -crf 20 \
        ffmpeg-out.mp4 >>ffmpeg.times
    wall_time "$BATCH" --quiet clip.mp4 batch-out.mp4 >>batch.times
done
load_after=$(cut -d' ' -f1 /proc/loadavg)
ffmpeg_time=$(median <ffmpeg.times)
batch_time=$(median <batch.times)

frames() { ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$1"; }
echo "clip: 20 s 1280x720 H.264 at 29.97 fps, $(nproc) cores, median of $RUNS runs," \
    "load average $load_before before, $load_after after"
printf '%-40s %7.3f s  %4s frames  %6s KiB\n' "ffmpeg framestep=5 libx264 -crf 20" \
    "$ffmpeg_time" "$(frames ffmpeg-out.mp4)" "$(($(stat -c %s ffmpeg-out.mp4) / 1024))"
awk -v t="$batch_time" -v f="$ffmpeg_time" -v n="$(frames batch-out.mp4)" \
    -v k="$(($(stat -c %s batch-out.mp4) / 1024))" 'BEGIN {
    ratio = t / f
    printf "%-40s %7.3f s  %4s frames  %6s KiB  %5.2fx ffmpeg  (target 1.10x: %s)\n",
           "varnel-batch clip.mp4 out.mp4", t, n, k, ratio, ratio <= 1.1 ? "met" : "MISSED"
}'
