#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Wall time of varnel-batch with --plot (SVG and PNG) against the same run without it, on the
# bundled sample (5 s, 640x480) and on a 20 s 1280x720 WMV2 clip with flickering brightness. The
# three commands run RUNS times (default 5) in turn; the median of each counts. Target: a run with
# --plot at most 1.05 times the run without it.
#
# Usage: bench/batch-plot.sh [VARNEL_BATCH]   (default: build/batch/varnel-batch)
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
RUNS="${RUNS:-5}"

# shellcheck source=bench/timing.sh
source "$ROOT/bench/timing.sh"
bench_start "$@"

cp "$ROOT/samples/flicker.wmv" sample.wmv
ffmpeg -v error -y -f lavfi \
    -i "testsrc2=size=1280x720:rate=30000/1001:duration=20,eq=brightness='0.12*sin(2.4*n)':eval=frame" \
    -c:v wmv2 -b:v 4M -f asf clip720.wmv

for input in sample.wmv clip720.wmv; do
    : >plain.t; : >svg.t; : >png.t
    for _ in $(seq 1 "$RUNS"); do
        wall_time "$BATCH" --quiet "$input" out.wmv >>plain.t
        wall_time "$BATCH" --quiet --plot curves.svg "$input" out.wmv >>svg.t
        wall_time "$BATCH" --quiet --plot curves.png "$input" out.wmv >>png.t
    done
    plain=$(median <plain.t); svg=$(median <svg.t); png=$(median <png.t)
    echo "$input: without --plot ${plain} s, --plot SVG ${svg} s, --plot PNG ${png} s (median of $RUNS)"
    awk -v p="$plain" -v s="$svg" -v g="$png" \
        'BEGIN { printf "  ratios: SVG %.3f, PNG %.3f (target at most 1.05)\n", s / p, g / p }'
done
