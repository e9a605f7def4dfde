#!/bin/sh
# The launcher and its in-process tests built with AddressSanitizer and
# UndefinedBehaviorSanitizer: the unit and core tests run sanitized, then every board test
# runs the sanitized launcher on the board of the host build. A report on the launcher's
# standard error fails the test that was running (a scenario's too). The board itself is
# test equipment and stays unsanitized, which keeps this build to the launcher's own code.
set -eu
cd "$(dirname "$0")/.."
tools/setup.sh tests
cmake --preset host-asan >/dev/null
cmake --build --preset host-asan --target unit_test fb_test buzzer_test core_test applib_test vornax-launcher
ctest --preset host-asan -L unit "$@"
cmake --preset host >/dev/null
cmake --build --preset host
VX_LAUNCHER="$PWD/build/host-asan/src/vornax-launcher" ctest --preset host-board "$@"
