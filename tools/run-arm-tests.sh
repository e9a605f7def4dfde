#!/bin/sh
# Builds the goggles' 32-bit ARM release and runs the system tests against it under
# qemu-arm: the dynamically linked twin with the board's preload library, then the static
# product binary itself for what needs no device ioctls (a static binary cannot be joined
# by the preload library, and qemu-arm hands its framebuffer ioctls to the host's kernel).
set -eu
cd "$(dirname "$0")/.."
tools/setup.sh tests arm arm-apps
cmake --preset host >/dev/null
cmake --build --preset host
cmake --preset armhf >/dev/null
cmake --build --preset armhf
VX_TARGET=armhf ctest --preset host -L system "$@"
VX_TARGET=armhf-static ctest --preset host -L system \
    -R 'no_transport_and_no_framebuffer' "$@"
