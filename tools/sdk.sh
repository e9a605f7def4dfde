#!/bin/sh
# Builds the app SDK, what an app developer needs without this checkout: the app library for
# the goggles (armhf) and for the host, its header, the CMake pieces (the goggles' toolchain
# and vornax_app()), the app maker new-app.sh and APPS.md, in build/sdk/vornax-sdk.
#
#   tools/sdk.sh [--archive]
#
# --archive also packs it as build/release/vornax-sdk-VERSION.tar.gz, with SHA256SUMS inside
# and a .sha256 beside it, and prints its size.
set -eu
cd "$(dirname "$0")/.."
archive=""
case "${1:-}" in
--archive) archive=1 ;;
"") ;;
*)
    echo "usage: tools/sdk.sh [--archive]" >&2
    exit 2
    ;;
esac
tools/setup.sh arm
cmake --preset host >/dev/null
cmake --build --preset host --target vornax_app >/dev/null
cmake --preset armhf >/dev/null
cmake --build --preset armhf --target vornax_app >/dev/null

sdk=build/sdk/vornax-sdk
rm -rf "$sdk"
mkdir -p "$sdk/include" "$sdk/lib/armhf" "$sdk/lib/host" "$sdk/cmake"
cp src/applib/vornax_app.h "$sdk/include/"
cp build/armhf/src/libvornax_app.a "$sdk/lib/armhf/"
cp build/host/src/libvornax_app.a "$sdk/lib/host/"
cp sdk/vornax_app.cmake cmake/board_twin.cmake "$sdk/cmake/"
# The launcher's own cross toolchain (its emulator for tests left out), then what an app
# adds: the launcher's 64-bit file offsets and time and its warnings, as errors.
{
    cat <<'TOOLCHAIN'
# The goggles: 32-bit ARM Linux, hard float (Debian's cross compiler, gcc-arm-linux-gnueabihf).
# With 64-bit file offsets and time, as the launcher (without them readdir() can fail with
# EOVERFLOW and time_t ends in 2038), and the launcher's warnings, as errors.
TOOLCHAIN
    grep -v -e '^#' -e 'CMAKE_CROSSCOMPILING_EMULATOR' cmake/armhf.cmake
    cat <<'TOOLCHAIN'
set(CMAKE_C_FLAGS_INIT "-D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64 -Wall -Wextra -Werror")
set(CMAKE_CXX_FLAGS_INIT "-D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64 -Wall -Wextra -Werror")
TOOLCHAIN
} >"$sdk/cmake/goggles.cmake"
cp tools/new-app.sh "$sdk/new-app.sh"
cp APPS.md "$sdk/"
(cd "$sdk" && find . -type f ! -name SHA256SUMS | sort | xargs sha256sum >SHA256SUMS)
echo "sdk: $sdk"
[ -n "$archive" ] || exit 0

version=$(sed -n 's/^project(vornax_launcher VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
name="vornax-sdk-$version"
out=build/release
mkdir -p "$out"
tar -C build/sdk --owner=0 --group=0 --sort=name --transform "s,^vornax-sdk,$name," \
    -czf "$out/$name.tar.gz" vornax-sdk
(cd "$out" && sha256sum "$name.tar.gz" >"$name.tar.gz.sha256")
echo "sdk archive: $out/$name.tar.gz ($(stat -c %s "$out/$name.tar.gz") bytes)"
