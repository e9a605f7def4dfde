#!/bin/sh
# tools/new-app.sh makes a shell app and a C app; the C one builds with its own CMake files
# and the goggles' toolchain file; each passes its own scenario on the host board. Then, on a
# board that cannot run ARM executables (a binfmt_misc of its own, empty, in a user
# namespace), the C app's scenario fails saying so.
#   kit_test.sh VX-SCENARIO
set -eu
kit=$(cd "$(dirname "$0")/../.." && pwd)
scenario=$1
. "$(dirname "$0")/needs_arm_apps.sh"
dir=$(mktemp -d /tmp/vx-kit-XXXXXX)
trap 'rm -rf "$dir"' EXIT
"$kit/tools/new-app.sh" kit-shell --dir "$dir/kit-shell"
"$kit/tools/new-app.sh" kit_c --c --dir "$dir/kit_c"
cmake -S "$dir/kit_c" -B "$dir/kit_c/build" >/dev/null
cmake --build "$dir/kit_c/build"
"$scenario" --target host "$dir/kit-shell/kit-shell.scn" "$dir/kit_c/kit_c.scn"

if ! unshare --user --map-root-user --mount sh -c \
    'mount -t binfmt_misc none /proc/sys/fs/binfmt_misc' 2>/dev/null; then
    echo "not checked: no binfmt_misc of its own in a user namespace (a kernel before 6.7)"
    exit 0
fi
echo "On a board that cannot run ARM executables the C app's scenario fails, saying so:"
status=0
unshare --user --map-root-user --mount sh -c \
    'mount -t binfmt_misc none /proc/sys/fs/binfmt_misc && exec "$0" --target host "$1"' \
    "$scenario" "$dir/kit_c/kit_c.scn" >"$dir/out.txt" 2>&1 || status=$?
cat "$dir/out.txt"
[ "$status" -eq 1 ]
grep -q "kit_c/app is an ARM executable, and the board cannot run ARM executables" "$dir/out.txt"
