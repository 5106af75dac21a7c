#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Peak memory (maximum resident set) of varnel-batch at high speed-ups against the default:
# --speedup 60 against 4 on a 60 s 640x480 clip, and --speedup 1000 against 4 on a 60 s
# 1920x1080 clip, both H.264 at 29.97 frames a second. The runs take turns RUNS times (default
# 3); the medians count. Targets: within 1.1 times (60) and 1.1 times (1000) of the default.
#
# Usage: bench/speedup-memory.sh [VARNEL_BATCH]   (default: build/batch/varnel-batch)
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
RUNS="${RUNS:-3}"

# shellcheck source=bench/timing.sh
source "$ROOT/bench/timing.sh"
bench_start "$@"

for size in 640x480 1920x1080; do
    ffmpeg -v error -y -f lavfi \
        -i "testsrc2=size=$size:rate=30000/1001:duration=60,eq=brightness='0.1*sin(1.7*n)':eval=frame" \
        -c:v libx264 -preset ultrafast -crf 23 -pix_fmt yuv420p "clip-$size.mp4"
done

# Maximum resident set in MiB of one run.
peak() {
    /usr/bin/time -f "%M" -o "$WORK/rss" "$BATCH" --quiet "$@" >/dev/null 2>"$WORK/stderr" || {
        echo "failed: $*" >&2
        cat "$WORK/stderr" >&2
        exit 1
    }
    awk '{ printf "%.1f\n", $1 / 1024 }' "$WORK/rss"
}

for _ in $(seq "$RUNS"); do
    peak --speedup 4 clip-640x480.mp4 out.mp4 >>sd4.rss
    peak --speedup 60 clip-640x480.mp4 out.mp4 >>sd60.rss
    peak --speedup 4 clip-1920x1080.mp4 out.mp4 >>hd4.rss
    peak --speedup 1000 clip-1920x1080.mp4 out.mp4 >>hd1000.rss
done
echo "peak resident memory, median of $RUNS runs, load average $(cut -d' ' -f1 /proc/loadavg)"
report() {
    awk -v name="$1" -v base="$(median <"$2")" -v high="$(median <"$3")" -v limit="$4" 'BEGIN {
        ratio = high / base
        printf "%-34s %7.1f MiB vs %7.1f MiB at 4: %4.2fx (target %.2fx: %s)\n", name, high, base,
               ratio, limit, ratio <= limit ? "met" : "MISSED"
    }'
}
report "640x480, --speedup 60" sd4.rss sd60.rss 1.1
report "1920x1080, --speedup 1000" hd4.rss hd1000.rss 1.1
