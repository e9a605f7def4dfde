#!/bin/sh
# Builds the host build and runs every test of it: the unit tests and the system tests of
# the launcher on the virtual board.
set -eu
cd "$(dirname "$0")/.."
tools/setup.sh tests
cmake --preset host >/dev/null
cmake --build --preset host
ctest --preset host "$@"
