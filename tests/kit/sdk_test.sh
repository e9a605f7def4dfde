#!/bin/sh
# The app SDK as an app developer without this checkout gets it: the archive unpacked in a
# directory of its own, an app made by its new-app.sh, built with Debian's cross compiler from
# the SDK alone, and its scenario passed on the board (host and ARM launcher alike).
#   sdk_test.sh VX-SCENARIO SDK-ARCHIVE
set -eu
scenario=$1
archive=$2
if [ ! -f "$archive" ]; then
    echo "skipped: no SDK archive at $archive (tools/sdk.sh --archive makes it)"
    exit 77
fi
. "$(dirname "$0")/needs_arm_apps.sh"
dir=$(mktemp -d /tmp/vx-sdk-XXXXXX)
trap 'rm -rf "$dir"' EXIT
tar -C "$dir" -xzf "$archive"
sdk=$(echo "$dir"/vornax-sdk-*)
(cd "$sdk" && sha256sum --quiet -c SHA256SUMS)
"$sdk/new-app.sh" sdk_app --c --dir "$dir/apps/sdk_app"
grep -q "VORNAX_SDK \"$sdk\"" "$dir/apps/sdk_app/CMakeLists.txt"
cmake -S "$dir/apps/sdk_app" -B "$dir/apps/sdk_app/build" >/dev/null
cmake --build "$dir/apps/sdk_app/build"
"$scenario" "$dir/apps/sdk_app/sdk_app.scn"
