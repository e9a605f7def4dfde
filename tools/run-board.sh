#!/bin/sh
# Runs the launcher on the virtual goggles board with the sample apps (or the app directory
# given with --apps DIR); the keys move the buttons. Arguments go to vx-board.
set -eu
cd "$(dirname "$0")/.."
cmake --preset host >/dev/null
cmake --build --preset host >/dev/null
case " $* " in
*" --target armhf"*)
    cmake --preset armhf >/dev/null
    cmake --build --preset armhf >/dev/null
    ;;
esac
exec build/host/sim/vx-board "$@"
