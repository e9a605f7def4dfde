#!/bin/sh
# Randomized sessions on the virtual board for as long as asked: seeded streams of presses,
# holds, slides, mode switches, device faults and apps against one launcher at a time, each
# step checked against what the launcher's state allows, each session ended by a signal.
#
#   tools/run-sessions.sh [SECONDS]     default 60; the host suite runs a slice of three
#   tools/run-sessions.sh --seed N      replays the session of seed N (printed on a failure)
set -eu
cd "$(dirname "$0")/.."
tools/setup.sh tests
cmake --preset host >/dev/null
cmake --build --preset host --target system_test
filter='--gtest_filter=Session.*'
if [ "${1:-}" = --seed ]; then
    VX_SESSION_SEED=$2 exec build/host/tests/system/system_test "$filter"
fi
VX_SESSION_SECONDS=${1:-60} exec build/host/tests/system/system_test "$filter"
