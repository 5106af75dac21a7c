# SPDX-License-Identifier: GPL-3.0-or-later
# Start-up and timing helpers shared by the benchmark scripts; source it, then call bench_start.

# bench_start [VARNEL_BATCH]: BATCH becomes the absolute path of varnel-batch (the argument, or
# build/batch/varnel-batch under ROOT), and the script stops when there is none; WORK becomes a
# scratch folder, removed on exit, and the current folder.
bench_start() {
    BATCH="${1:-$ROOT/build/batch/varnel-batch}"
    [ -x "$BATCH" ] || { echo "no varnel-batch at $BATCH (build it first)" >&2; exit 1; }
    BATCH="$(cd "$(dirname "$BATCH")" && pwd)/$(basename "$BATCH")"
    WORK="$(mktemp -d)"
    trap 'rm -rf "$WORK"' EXIT
    cd "$WORK"
}

# Wall time in seconds of one run of a command; the script stops when the command fails.
wall_time() {
    local start end
    start=$(date +%s.%N)
    if ! "$@" >/dev/null 2>"$WORK/stderr"; then
        echo "failed: $*" >&2
        cat "$WORK/stderr" >&2
        exit 1
    fi
    end=$(date +%s.%N)
    awk -v s="$start" -v e="$end" 'BEGIN { print e - s }'
}

# The median of the numbers on standard input, one a line.
median() { sort -g | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'; }

# measured FILE COMMAND...: runs the command once and appends "wall user+sys max-RSS" (seconds,
# seconds, KiB; from GNU time) as a line to FILE; the script stops when the command fails.
measured() {
    local file="$1"
    shift
    if ! /usr/bin/time -f '%e %U %S %M' -o "$WORK/measure" "$@" >/dev/null 2>"$WORK/stderr"; then
        echo "failed: $*" >&2
        cat "$WORK/stderr" >&2
        exit 1
    fi
    awk '{ printf "%s %.2f %s\n", $1, $2 + $3, $4 }' "$WORK/measure" >>"$file"
}

# column N FILE: the Nth number of each line of FILE, one a line (for median).
column() { awk -v n="$1" '{ print $n }' "$2"; }
