#!/bin/sh
# Runs the launcher on the virtual goggles board with the sample apps of apps/ (or the app
# directory given with --apps DIR) and serves the goggles as a web page on http://127.0.0.1:8088/
# (--port N for another). --cli runs the terminal front end instead, whose keys move the
# buttons. Other arguments go to vx-web or vx-board (--target armhf, --mode N, -- ARGS...).
# --target goggles boots the emulated goggles (qemu) with the release archive installed.
set -eu
cd "$(dirname "$0")/.."
front=web
case "${1:-}" in
--cli)
    front=cli
    shift
    ;;
esac
parts=board
[ "$front" = web ] && parts=web
# The apps it runs may be ARM programs, as on the goggles.
parts="$parts arm-apps"
case " $* " in
*" --target armhf"*) parts="$parts arm" ;;
*" --target goggles"*) parts="$parts goggles" ;;
esac
tools/setup.sh $parts
cmake --preset host >/dev/null
# Only the front end and what it runs (the launcher, the sandbox's init, the preload), in
# view: the first build takes a minute or two, and a silent one looks like a hang.
target=vx-board
[ "$front" = web ] && target=vx-web
[ -x "build/host/sim/$target" ] || echo "run-board: building $target and the launcher (the first time takes a while)" >&2
if ! cmake --build --preset host --target "$target" >&2; then
    if [ "$front" = web ]; then
        echo "run-board: vx-web did not build (it needs civetweb and nlohmann-json: apt-get install" \
            "libcivetweb-dev nlohmann-json3-dev); the terminal front end is tools/run-board.sh --cli" >&2
    fi
    exit 1
fi
case " $* " in
*" --target armhf"*)
    cmake --preset armhf >/dev/null
    cmake --build --preset armhf >/dev/null
    ;;
*" --target goggles"*)
    # The release archive the emulated goggles install, and the guest they boot.
    tools/release.sh >/dev/null
    tools/goggles/build-image.sh
    ;;
esac
if [ "$front" = web ]; then
    exec build/host/sim/vx-web "$@"
fi
exec build/host/sim/vx-board "$@"
