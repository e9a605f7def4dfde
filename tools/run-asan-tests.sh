#!/bin/sh
# Builds the host build with AddressSanitizer and UndefinedBehaviorSanitizer (the tested
# targets only) and runs every test of it: the unit and core tests in-process, the system
# tests with the sanitized launcher on the board, where a report on its standard error fails
# the test that was running (a scenario's too).
set -eu
cd "$(dirname "$0")/.."
tools/setup.sh tests
cmake --preset host-asan >/dev/null
cmake --build --preset host-asan --target unit_test fb_test buzzer_test core_test system_test \
    vx-scenario scenario_runner_test
ctest --preset host-asan "$@"
