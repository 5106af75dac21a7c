# Timing helpers shared by the benchmark scripts; source it after WORK (a scratch folder) is set.

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
