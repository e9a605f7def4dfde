#!/bin/sh
# Builds the host build and runs the soak: VX_SOAK_CYCLES (default 500) open-navigate-
# launch-exit-close cycles on one launcher on the virtual board, then its descriptors,
# children, zombies and memory after the warm-up and at the end. About 0.1 s a cycle; the
# host suite (tools/run-tests.sh) runs the same 500.
# VX_SOAK_BUILD names another build directory (default build/host).
set -eu
cd "$(dirname "$0")/.."
tools/setup.sh tests
build=${VX_SOAK_BUILD:-build/host}
if [ "$build" = build/host ]; then
    cmake --preset host >/dev/null
else
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
fi
cmake --build "$build" --target soak_test
VX_SOAK_CYCLES=${VX_SOAK_CYCLES:-500} "$build/tests/system/soak_test" "$@"
