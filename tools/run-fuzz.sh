#!/bin/sh
# Builds the libFuzzer targets with clang and runs each for a bounded time (seconds, default
# 30) from its seed corpus in tests/fuzz/corpus. A crash, a hang, a leak or a sanitizer
# report fails the run and leaves the input in build/fuzz/artifacts.
set -eu
cd "$(dirname "$0")/.."
tools/setup.sh fuzz
seconds="${1:-30}"
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVX_FUZZ=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build/fuzz --target fuzz_manifest fuzz_pid_text fuzz_app_name
mkdir -p build/fuzz/artifacts
for t in manifest pid_text app_name; do
    work="build/fuzz/corpus-$t"
    mkdir -p "$work"
    echo "fuzz_$t: ${seconds} s"
    "build/fuzz/tests/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=1024 \
        -max_len=4096 -print_final_stats=1 -artifact_prefix=build/fuzz/artifacts/ \
        "$work" "tests/fuzz/corpus/$t" 2>&1 | grep -E '^(stat::number_of_executed_units|#[0-9]+ *DONE)|ERROR|SUMMARY|crash|timeout' || true
    if ls build/fuzz/artifacts/* >/dev/null 2>&1; then
        echo "fuzz_$t: found a failing input:"; ls build/fuzz/artifacts; exit 1
    fi
done
