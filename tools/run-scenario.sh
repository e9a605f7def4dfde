#!/bin/sh
# Runs scenario files on the virtual goggles board, building what that takes first:
#
#   tools/run-scenario.sh FILE... [--apps DIR] [--realtime] [--accept]
#                         [--target host|armhf|goggles] [--report FILE]
#
# Paths are taken from where it is called, so that an app's own repository can keep its
# scenarios and apps beside its code. Exits as vx-scenario does: 0 all passed, 1 one failed,
# 2 a bad scenario or bad usage.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
# The apps may be ARM programs, as on the goggles.
parts="board arm-apps"
case " $* " in
*" --target armhf"*) parts="$parts arm" ;;
*" --target goggles"*) parts="$parts goggles" ;;
esac
out=$(mktemp)
trap 'rm -f "$out"' EXIT
# The build's output only when it fails: the report is what the caller reads.
if ! (
    cd "$root"
    tools/setup.sh $parts
    cmake --preset host
    cmake --build --preset host --target vx-scenario
    case " $* " in
    *" --target armhf"*)
        cmake --preset armhf
        cmake --build --preset armhf
        ;;
    # The emulated goggles install the release archive and boot the guest.
    *" --target goggles"*)
        tools/release.sh
        tools/goggles/build-image.sh
        ;;
    esac
) >"$out" 2>&1; then
    cat "$out" >&2
    echo "run-scenario: the build failed" >&2
    exit 1
fi
rm -f "$out"
exec "$root/build/host/sim/vx-scenario" "$@"
