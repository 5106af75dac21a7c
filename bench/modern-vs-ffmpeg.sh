#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A whole varnel-batch run to MP4 against the ffmpeg command doing the same work, on 20 s of
# 1080p H.264 (a synthetic pattern with light noise, CRF 23, 29.97 frames a second): the same
# decoding, and every fourth frame encoded with libx264's "faster" preset at CRF 20. The two run
# RUNS times (default 3) in turn; the script prints the median wall time, CPU time (user + sys)
# and peak memory (maximum resident set) of each and their ratios. Targets: wall time at most
# 1.0 times ffmpeg's (0.9 the moonshot), peak memory at most 1.1 times. Wall times follow the
# machine's other work; CPU seconds are steadier, so they are printed too.
#
# Then the memory check of an 8K input (8 frames of 8192x4320) into .wmv, .mp4 and .webm: each
# run's peak memory against 1.5 GB, beside ffmpeg's for the same encoder (EIGHT_K=0 skips it).
#
# Usage: bench/modern-vs-ffmpeg.sh [VARNEL_BATCH]   (default: build/batch/varnel-batch)
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
RUNS="${RUNS:-3}"
EIGHT_K="${EIGHT_K:-1}"

# shellcheck source=bench/timing.sh
source "$ROOT/bench/timing.sh"
bench_start "$@"

ffmpeg -v error -y -f lavfi \
    -i "testsrc2=size=1920x1080:rate=30000/1001:duration=20,noise=alls=6:allf=t" \
    -c:v libx264 -preset veryfast -crf 23 -pix_fmt yuv420p in.mp4

load_before=$(cut -d' ' -f1 /proc/loadavg)
# The two commands take turns, so that a change in the machine's load hits them alike.
for _ in $(seq "$RUNS"); do
    measured ffmpeg.runs ffmpeg -v error -y -i in.mp4 -an -vf framestep=4 -c:v libx264 \
        -preset faster -crf 20 ffmpeg-out.mp4
    measured batch.runs "$BATCH" --quiet in.mp4 out.mp4
done
load_after=$(cut -d' ' -f1 /proc/loadavg)

frames() { ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$1"; }
echo "clip: 20 s 1920x1080 H.264 at 29.97 fps, $(nproc) cores, median of $RUNS runs," \
    "load average $load_before before, $load_after after"
printf '%-34s %8s %8s %9s %7s\n' "" "wall s" "CPU s" "peak MiB" "frames"
for who in ffmpeg batch; do
    label="ffmpeg framestep=4 libx264"
    out=ffmpeg-out.mp4
    [ "$who" = batch ] && label="varnel-batch in.mp4 out.mp4" && out=out.mp4
    printf '%-34s %8.2f %8.2f %9.0f %7s\n' "$label" "$(column 1 "$who.runs" | median)" \
        "$(column 2 "$who.runs" | median)" "$(($(column 3 "$who.runs" | median) / 1024))" \
        "$(frames "$out")"
done
awk -v w="$(column 1 batch.runs | median)" -v fw="$(column 1 ffmpeg.runs | median)" \
    -v c="$(column 2 batch.runs | median)" -v fc="$(column 2 ffmpeg.runs | median)" \
    -v m="$(column 3 batch.runs | median)" -v fm="$(column 3 ffmpeg.runs | median)" 'BEGIN {
    printf "varnel / ffmpeg: wall %.2fx (target 1.00x: %s, moonshot 0.90x: %s), CPU %.2fx, " \
           "peak memory %.2fx (target 1.10x: %s)\n", w / fw, w / fw <= 1.0 ? "met" : "MISSED",
           w / fw <= 0.9 ? "met" : "missed", c / fc, m / fm, m / fm <= 1.1 ? "met" : "MISSED"
}'
echo "run by run (wall s, CPU s, peak KiB), ffmpeg then varnel-batch:"
paste -d' ' ffmpeg.runs batch.runs | sed 's/^/  /'

[ "$EIGHT_K" = 0 ] && exit 0
ffmpeg -v error -y -f lavfi -i "smptebars=size=8192x4320:rate=30000/1001" -frames:v 8 \
    -c:v libx264 -preset ultrafast -crf 23 -pix_fmt yuv420p in8k.mp4
echo "8K: 8 frames of 8192x4320 H.264 ($(($(stat -c %s in8k.mp4) / 1024)) KiB), peak memory"
for ext in wmv mp4 webm; do
    case "$ext" in
        wmv) codec=(-c:v wmv2 -f asf) ;;
        mp4) codec=(-c:v libx264 -preset faster -crf 20) ;;
        webm) codec=(-c:v libvpx-vp9 -deadline good -cpu-used 4 -row-mt 1 -crf 32 -b:v 0) ;;
    esac
    measured "8k-$ext.batch" "$BATCH" --quiet in8k.mp4 "out8k.$ext"
    measured "8k-$ext.ffmpeg" ffmpeg -v error -y -i in8k.mp4 -an "${codec[@]}" "ffmpeg8k.$ext"
    awk -v m="$(column 3 "8k-$ext.batch")" -v f="$(column 3 "8k-$ext.ffmpeg")" -v e="$ext" 'BEGIN {
        printf "  .%-5s varnel-batch %6.0f MiB (under 1.5 GB: %s), ffmpeg %6.0f MiB\n", e,
               m / 1024, m * 1024 < 1.5e9 ? "met" : "MISSED", f / 1024
    }'
done
