#!/bin/sh
# Builds the release host build and prints every performance figure as one table, measured
# in one run on this machine: the benchmarks' full output first, then the table of their
# "figure|name|measured|target" lines.
#
#   tools/bench.sh [IDLE_SECONDS]   the idle CPU span on the board (default 30)
set -eu
cd "$(dirname "$0")/.."
tools/setup.sh tests
idle=${1:-30}
cmake --preset bench >/dev/null
cmake --build --preset bench --target frame_bench app_frame_bench launch_bench board_figures >/dev/null
out=$(mktemp)
trap 'rm -f "$out"' EXIT
build/bench/tools/bench/frame_bench --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=true --benchmark_color=false | tee -a "$out"
build/bench/tools/bench/app_frame_bench --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=true --benchmark_color=false | tee -a "$out"
build/bench/tools/bench/launch_bench | tee -a "$out"
build/bench/tools/bench/board_figures "$idle" | tee -a "$out"
echo
grep -o 'figure|.*' "$out" | awk -F'|' '
    BEGIN { w = 6 }
    { name[NR] = $2; got[NR] = $3; want[NR] = $4; if (length($2) > w) w = length($2) }
    END {
        printf "%-" w "s  %9s  %s\n", "figure", "measured", "target"
        for (i = 1; i <= NR; i++)
            printf "%-" w "s  %9s  %s\n", name[i], got[i], want[i] == "" ? "-" : want[i]
    }'
