#!/bin/sh
# Builds the release host build and prints the performance figures as ratios measured in
# one run on this machine.
set -eu
cd "$(dirname "$0")/.."
cmake --preset bench >/dev/null
cmake --build --preset bench --target frame_bench launch_bench >/dev/null
build/bench/tests/bench/frame_bench
build/bench/tests/bench/launch_bench
