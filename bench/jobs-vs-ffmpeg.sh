#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Throughput of a run of many inputs: six 20 s 640x480 H.264 clips at 29.97 frames a second with
# flickering brightness, made four times shorter by `varnel-batch --output-dir --jobs 2` against
# the ffmpeg command that does about the same work (every fifth frame, libx264 "faster", CRF 20)
# run two at a time by xargs -P2. The two take turns RUNS times (default 3); the medians of wall
# time and of CPU time (user + sys) count. Target: varnel-batch at most ffmpeg's wall time. The
# machine's load average is printed beside the figures: other work slows both, but not alike.
#
# Usage: bench/jobs-vs-ffmpeg.sh [VARNEL_BATCH]   (default: build/batch/varnel-batch)
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
RUNS="${RUNS:-3}"

# shellcheck source=bench/timing.sh
source "$ROOT/bench/timing.sh"
bench_start "$@"

for i in 1 2 3 4 5 6; do
    ffmpeg -v error -y -f lavfi \
        -i "testsrc2=size=640x480:rate=30000/1001:duration=20,eq=brightness='0.1*sin(1.7*n+$i)':eval=frame" \
        -c:v libx264 -preset veryfast -crf 18 -pix_fmt yuv420p "clip$i.mp4"
done

# Wall and CPU seconds of one command, "wall cpu" on one line.
timed() {
    /usr/bin/time -f "%e %U %S" -o "$WORK/time" "$@" >/dev/null 2>"$WORK/stderr" || {
        echo "failed: $*" >&2
        cat "$WORK/stderr" >&2
        exit 1
    }
    awk '{ print $1, $2 + $3 }' "$WORK/time"
}

load_before=$(cut -d' ' -f1 /proc/loadavg)
for _ in $(seq "$RUNS"); do
    rm -rf ff out
    mkdir ff
    timed sh -c 'ls clip*.mp4 | xargs -P2 -I{} ffmpeg -nostdin -v error -y -i {} -an \
        -vf framestep=5 -c:v libx264 -preset faster -crf 20 ff/{}' >>ffmpeg.times
    timed "$BATCH" --quiet --output-dir out --jobs 2 clip1.mp4 clip2.mp4 clip3.mp4 clip4.mp4 \
        clip5.mp4 clip6.mp4 >>batch.times
done
load_after=$(cut -d' ' -f1 /proc/loadavg)

column_median() { awk -v c="$1" '{ print $c }' "$2" | median; }
echo "six 20 s 640x480 H.264 clips, two at a time; $(nproc) cores, median of $RUNS runs," \
    "load average $load_before before, $load_after after"
awk -v fw="$(column_median 1 ffmpeg.times)" -v fc="$(column_median 2 ffmpeg.times)" \
    -v bw="$(column_median 1 batch.times)" -v bc="$(column_median 2 batch.times)" 'BEGIN {
    printf "%-44s %7.2f s wall %7.2f s CPU\n", "xargs -P2 ffmpeg framestep=5 libx264 faster", fw, fc
    printf "%-44s %7.2f s wall %7.2f s CPU  %4.2fx ffmpeg wall (target 1.00x: %s)\n",
           "varnel-batch --output-dir out --jobs 2", bw, bc, bw / fw, bw <= fw ? "met" : "MISSED"
}'
