#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# How faithfully deflicker brings real footage back to its clean brightness. Real clips that are
# themselves free of flicker get a known flicker: every frame's luma is scaled by its own
# pseudo-random gain of 1 +- A (A = 0.15 and 0.05; ffmpeg's geq filter, a hash of the frame
# number), and the clean and the flickered clip are kept losslessly (FFV1) at 29.97 frames a
# second. Each pipeline then runs on the flickered clip, and /work/shared/tools/fidelity-score
# gives the RMS, over the output's pictures, of (mean luma of the picture - mean luma of the
# clean clip at the picture's source frame), in luma levels: flicker left in and real change
# taken out (cuts, fades, exposure steps) both count. Lower is better.
#
# Clips (from ../shared/testdata, skipped where absent): b03 ladybug (VC-1, camera), c08 bee,
# c14 elephant, a06 numbers (animation), a01 red then green (one real cut), "montage" (2 s of
# c14, b03, c08 and a06 in turn, scaled to 320x240: a film with cuts), and "stills" (the camera
# stills of colorchart-aperture, 15 frames each: real exposure steps).
#
# Pipelines: "as is" (framestep=4 of the flickered clip), FFmpeg framestep=4,deflicker=size=5,
# 15 and 31, varnel-batch picking only, --deflicker, --manipulate --deflicker (outputs in
# Matroska with --crf 0, mapped to their source frames by --report).
#
# Targets: --manipulate --deflicker at most 0.8 x the better of (FFmpeg's best size, as is) at
# +-0.15; --deflicker never worse than as is; at +-0.05, --manipulate --deflicker at most 1.1 x
# as is. Then the cost: processor time and peak memory of --manipulate --deflicker against
# --manipulate on the largest clip (/usr/bin/time; RUNS turns each, default 5, medians).
#
# Usage: bench/fidelity.sh [VARNEL_BATCH]   (default: build/batch/varnel-batch)
#        CLIPS="b03 c08" bench/fidelity.sh    (a subset)
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
RUNS="${RUNS:-5}"
DATA="${TESTDATA:-$ROOT/../shared/testdata}"
[ -d "$DATA" ] || DATA=/work/shared/testdata
SCORE="${FIDELITY_SCORE:-/work/shared/tools/fidelity-score}"
for tool in ffmpeg ffprobe python3 /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "$tool is needed" >&2; exit 1; }
done
[ -x "$SCORE" ] || { echo "no fidelity-score at $SCORE" >&2; exit 1; }

# shellcheck source=bench/timing.sh
source "$ROOT/bench/timing.sh"
bench_start "$@"

CLIPS="${CLIPS:-b03 c08 c14 a06 a01 montage stills}"
RATE=30000/1001
# Lossless, every frame kept as it comes (NUT keeps each time stamp as it is).
FFV1=(-an -c:v ffv1 -level 3 -pix_fmt yuv420p -fps_mode passthrough)

# The clean clip of a name, as clean.NAME.nut; false when its source is absent.
make_clean() {
    local name=$1 src
    case $name in
        b03) src="$DATA/b03_vc1adv_512x288_ladybug_wmapro_12s.wmv" ;;
        c08) src="$DATA/c08_wmv1_160x120_bee_wma-8k_10s.wmv" ;;
        c14) src="$DATA/c14_mp43_160x120_elephant_28s.asf" ;;
        a06) src="$DATA/a06_wmv3_320x240_15fps_numbers_60s.wmv" ;;
        a01) src="$DATA/a01_wmv3_moviemaker6_640x480_red2s-then-green.wmv" ;;
        montage)
            local parts=() i=0 part
            # Each part from its own place (seconds in) in its clip, 60 frames.
            for part in c14_mp43_160x120_elephant_28s.asf@2 b03_vc1adv_512x288_ladybug_wmapro_12s.wmv@1 \
                        c08_wmv1_160x120_bee_wma-8k_10s.wmv@2 a06_wmv3_320x240_15fps_numbers_60s.wmv@10 \
                        c14_mp43_160x120_elephant_28s.asf@15 b03_vc1adv_512x288_ladybug_wmapro_12s.wmv@6; do
                [ -f "$DATA/${part%@*}" ] || return 1
                ffmpeg -v error -y -ss "${part#*@}" -i "$DATA/${part%@*}" -frames:v 60 \
                    -vf "scale=320:240,setsar=1,setpts=N/($RATE)/TB" "${FFV1[@]}" "part$i.nut"
                parts+=("file 'part$i.nut'")
                i=$((i + 1))
            done
            printf '%s\n' "${parts[@]}" >parts.txt
            ffmpeg -v error -y -f concat -safe 0 -i parts.txt \
                -vf "setpts=N/($RATE)/TB" "${FFV1[@]}" "clean.$name.nut"
            return 0 ;;
        stills)
            [ -d "$DATA/stills/colorchart-aperture" ] || return 1
            ffmpeg -v error -y -framerate 2 -i "$DATA/stills/colorchart-aperture/%03d.JPG" \
                -vf "fps=$RATE,scale=360:240,setsar=1,setpts=N/($RATE)/TB" \
                "${FFV1[@]}" "clean.$name.nut"
            return 0 ;;
    esac
    [ -f "$src" ] || return 1
    ffmpeg -v error -y -i "$src" -fps_mode passthrough -vf "setpts=N/($RATE)/TB" \
        "${FFV1[@]}" "clean.$name.nut"
}

# The flickered clip: each frame's luma times 1 + A x (a hash of N spread over -1..1).
make_flicker() {  # name, amplitude
    local gain="(1+$2*(2*mod(abs(sin(N*12.9898+4.1414)*43758.5453)\,1)-1))"
    ffmpeg -v error -y -i "clean.$1.nut" \
        -vf "geq=lum='clip(lum(X\,Y)*$gain\,0\,255)':cb='cb(X\,Y)':cr='cr(X\,Y)'" \
        "${FFV1[@]}" "flicker.$1.$2.nut"
}

score_step() { "$SCORE" "$1" "$2" --step 4; }

: >rows
for name in $CLIPS; do
    if ! make_clean "$name"; then
        echo "skipped $name: its source is not in $DATA" >&2
        continue
    fi
    for amp in 0.15 0.05; do
        make_flicker "$name" "$amp"
        in="flicker.$name.$amp.nut"
        ffmpeg -v error -y -i "$in" -vf framestep=4 "${FFV1[@]}" asis.nut
        row="$name|$amp|$(score_step "clean.$name.nut" asis.nut)"
        for size in 5 15 31; do
            ffmpeg -v error -y -i "$in" -vf "framestep=4,deflicker=size=$size" "${FFV1[@]}" ff.nut
            row="$row|$(score_step "clean.$name.nut" ff.nut)"
        done
        for mode in "" "--deflicker" "--manipulate --deflicker"; do
            # shellcheck disable=SC2086
            "$BATCH" --quiet $mode --crf 0 --report out.csv "$in" out.mkv
            row="$row|$("$SCORE" "clean.$name.nut" out.mkv --report out.csv)"
        done
        echo "$row" >>rows
        echo "$row" >&2
    done
done

awk -F'|' '
function verdict(ok) { return ok ? "met" : "MISSED" }
function min(a, b) { return a < b ? a : b }
BEGIN {
    printf "%-8s %5s %7s %22s %8s %11s %16s\n", "clip", "gain", "as is", "ffmpeg size 5/15/31", "picking", "--deflicker", "--manip --defl"
}
{
    printf "%-8s %5s %7.2f %7.2f/%6.2f/%6.2f %8.2f %11.2f %16.2f\n", $1, "+-" $2, $3, $4, $5, $6, $7, $8, $9
    ff = min($4, min($5, $6))
    if ($2 == "0.15") {
        bound = 0.8 * min(ff, $3)
        checks = checks sprintf("  %-8s +-0.15: --manipulate --deflicker %.2f <= 0.8 x min(ffmpeg %.2f, as is %.2f) = %.2f: %s\n", $1, $9, ff, $3, bound, verdict($9 <= bound))
    } else {
        checks = checks sprintf("  %-8s +-0.05: --manipulate --deflicker %.2f <= 1.1 x as is (%.2f): %s\n", $1, $9, 1.1 * $3, verdict($9 <= 1.1 * $3))
    }
    checks = checks sprintf("  %-8s +-%s: --deflicker %.2f <= as is %.2f: %s\n", $1, $2, $8, $3, verdict($8 <= $3))
}
END { printf "\n%s", checks }' rows

# The cost, on the largest clip made: --manipulate against --manipulate --deflicker, in turns.
big="$(ls -S flicker.*.0.15.nut 2>/dev/null | head -1)"
[ -n "$big" ] || exit 0
for _ in $(seq "$RUNS"); do
    for i in 0 1; do
        mode="--manipulate"
        [ "$i" = 1 ] && mode="--manipulate --deflicker"
        # shellcheck disable=SC2086
        /usr/bin/time -f "%e %U %S %M" -o stats "$BATCH" --quiet $mode "$big" out.mkv
        read -r seconds user system kbytes <stats
        awk -v u="$user" -v s="$system" 'BEGIN { print u + s }' >>"cpu.$i"
        echo "$seconds" >>"time.$i"
        echo "$kbytes" >>"memory.$i"
    done
done
awk -v c0="$(median <cpu.0)" -v c1="$(median <cpu.1)" -v t0="$(median <time.0)" -v t1="$(median <time.1)" \
    -v m0="$(median <memory.0)" -v m1="$(median <memory.1)" -v clip="$big" -v runs="$RUNS" 'BEGIN {
    printf "\non %s, median of %d runs each: processor time, wall time, peak memory\n", clip, runs
    printf "  --manipulate               %6.2f s %6.2f s %8d KB\n", c0, t0, m0
    printf "  --manipulate --deflicker   %6.2f s %6.2f s %8d KB\n", c1, t1, m1
    printf "  processor %.2fx, wall %.2fx (target 1.15x: %s), memory %.2fx (target 1.25x: %s)\n",
        c1 / c0, t1 / t0, (t1 / t0 <= 1.15 || c1 / c0 <= 1.15) ? "met" : "MISSED", m1 / m0, m1 / m0 <= 1.25 ? "met" : "MISSED"
}'
