#!/bin/sh
# Builds the goggles' 32-bit ARM release and runs the system tests against it under
# qemu-arm: the dynamically linked twin with the board's preload library, then the static
# product binary itself for what needs no device ioctls.
set -eu
cd "$(dirname "$0")/.."
cmake --preset host >/dev/null
cmake --build --preset host
cmake --preset armhf >/dev/null
cmake --build --preset armhf
VX_TARGET=armhf ctest --preset host -L system "$@"
VX_TARGET=armhf-static ctest --preset host -L system \
    -R 'Catalogue|Termination|Status1|BannerThenCount' "$@"
