#!/bin/sh
# Builds the host build and runs every test of it: the unit tests and the system tests of
# the launcher on the virtual board. The goggles' build of the app library and of the board's
# library is made too, with the cross compiler and qemu-arm for ARM executables: the kit's
# test builds an ARM app on the app SDK and runs it on the board.
set -eu
cd "$(dirname "$0")/.."
tools/setup.sh tests arm arm-apps
cmake --preset host >/dev/null
cmake --build --preset host
cmake --preset armhf >/dev/null
cmake --build --preset armhf --target vornax_app vx-preload
tools/sdk.sh --archive >/dev/null
ctest --preset host "$@"
