#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The README's two recipes for more than one machine, run on this one: GNU parallel with the
# local host as its one --sshlogin, and the Slurm array script with SLURM_ARRAY_TASK_ID set by
# hand. Each must give one output per line of the list. Usage: MultiMachineRecipes.sh VARNEL_BATCH
set -euo pipefail
BATCH="$1"
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
command -v ffmpeg >/dev/null || { echo "no ffmpeg: skipped"; exit 77; }
command -v parallel >/dev/null || { echo "no GNU parallel: skipped"; exit 77; }
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"
for i in 1 2 3; do
    ffmpeg -nostdin -v error -f lavfi -i "testsrc=size=96x64:rate=30000/1001:duration=2" "clip$i.mp4"
done
printf '%s\n' clip1.mp4 clip2.mp4 clip3.mp4 >files.txt
PATH="$(dirname "$BATCH"):$PATH"

parallel --will-cite -j2 --sshlogin 2/: --trc {.}-short.mp4 \
    varnel-batch --quiet {} {.}-short.mp4 :::: files.txt 2>/dev/null
for i in 1 2 3; do [ -s "clip$i-short.mp4" ] || { echo "parallel: no clip$i-short.mp4"; exit 1; }; done

for task in 1 2 3; do
    SLURM_ARRAY_TASK_ID=$task VARNEL_BATCH="$BATCH" "$ROOT/docs/varnel-array.sbatch" files.txt out
done
for i in 1 2 3; do [ -s "out/clip$i.mp4" ] || { echo "array: no out/clip$i.mp4"; exit 1; }; done
echo "both recipes gave three outputs"
