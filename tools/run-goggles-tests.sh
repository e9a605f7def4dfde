#!/bin/sh
# The emulated goggles' stage: builds the release archive and the guest (qemu's ARM board
# with a Debian kernel), then runs the goggles' boot test and the scenarios listed as the
# goggles' in tests/scenarios/CMakeLists.txt, each on the release's static launcher installed
# from the archive. Prints each scenario's time and the stage's.
#
#   tools/run-goggles-tests.sh
set -eu
cd "$(dirname "$0")/.."
start=$(date +%s)
tools/setup.sh tests board goggles
cmake --preset host >/dev/null
cmake --build --preset host
tools/release.sh >/dev/null
tools/goggles/build-image.sh
built=$(date +%s)
echo "goggles: release and guest built in $((built - start)) s"
status=0
# The tests' whole output to a log of this stage's own (another ctest in the same tree may
# write its Testing/ log meanwhile); each test's result and the boot test's figures from it.
log=build/host/tests/goggles-stage.log
ctest --preset goggles -V --output-log "$log" >/dev/null || status=$?
# (Verbose, ctest puts a test's result on the line after its name.)
sed -n -E '/^ *[0-9]+\/[0-9]+ Test +#/{N;s/\n */ /;p}; /tests passed|\[ figure \]/p' "$log" |
    sed 's/^[0-9]*: //; s/^/goggles: /'
[ "$status" -eq 0 ] || echo "goggles: the tests' output is in $log" >&2
report=build/host/tests/scenarios/goggles/report.txt
if [ -f "$report" ]; then
    # "passed FILE: N steps, X s on the launcher's clock in Y s", and what failed or was
    # refused, with the summary.
    grep -E '^(passed|FAILED|REFUSED) |scenario\(s\):' "$report" | sed 's/^/goggles: /'
fi
echo "goggles: the stage took $(($(date +%s) - start)) s ($(($(date +%s) - built)) s of tests)"
exit "$status"
