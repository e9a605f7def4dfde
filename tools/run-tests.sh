#!/bin/sh
# Builds the host build and runs every test of it: the unit tests and the system tests of
# the launcher on the virtual board. The cross compiler and qemu-arm for ARM executables are
# set up too: the kit's test builds an ARM app and runs it on the board.
set -eu
cd "$(dirname "$0")/.."
tools/setup.sh tests arm arm-apps
cmake --preset host >/dev/null
cmake --build --preset host
ctest --preset host "$@"
