#!/bin/sh
# Builds the web goggles (vx-web) and drives their page in Debian's chromium: the browser
# suite of tests/browser, which starts vx-web itself on a free port with its own apps.
# BUILD_DIR=DIR uses another CMake build directory that is already configured.
set -eu
cd "$(dirname "$0")/.."
tools/setup.sh browser
build=${BUILD_DIR:-}
if [ -z "$build" ]; then
    cmake --preset host >/dev/null
    cmake --build --preset host --target vx-web vx-scenario
    build=build/host
else
    cmake --build "$build" --target vx-web vx-scenario -j2
fi
[ -x "$build/sim/vx-web" ] || {
    echo "run-browser-tests: $build/sim/vx-web was not built (are libcivetweb-dev and nlohmann-json3-dev installed?)" >&2
    exit 1
}
command -v "${CHROMIUM:-/usr/bin/chromium}" >/dev/null || {
    echo "run-browser-tests: no chromium (apt-get install chromium)" >&2
    exit 1
}
cd tests/browser
VX_WEB="$PWD/../../$build/sim/vx-web" exec node --test goggles.test.mjs
