#!/bin/sh
# vx-web's CPU with one page open in chromium and nothing changing on the board, over
# SECONDS (default 30): the README's figure.
set -eu
cd "$(dirname "$0")/.."
tools/setup.sh browser
cmake --preset host >/dev/null
cmake --build --preset host --target vx-web
exec node tools/bench/web_idle.mjs "$PWD/build/host/sim/vx-web" "${1:-30}"
