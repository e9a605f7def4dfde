#!/bin/sh
# Builds the release for the goggles: the static ARM launcher, two of the sample apps of
# apps/ (hello-shell, and button-clock cross-built), the goggles' README and the manifest
# reference, packed as build/release/vornax-launcher-VERSION-armhf.tar.gz with SHA256SUMS
# inside and beside it.
set -eu
cd "$(dirname "$0")/.."
tools/setup.sh arm
version=$(sed -n 's/^project(vornax_launcher VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
name="vornax-launcher-$version-armhf"
cmake --preset armhf >/dev/null
cmake --build --preset armhf --target vornax-launcher
out=build/release
rm -rf "$out/$name"
mkdir -p "$out/$name/VornaX-Launcher" "$out/$name/apps"
cp build/armhf/src/vornax-launcher "$out/$name/VornaX-Launcher/app"
arm-linux-gnueabihf-strip "$out/$name/VornaX-Launcher/app"
cp -r apps/hello-shell "$out/$name/apps/"
mkdir -p "$out/$name/apps/button-clock"
arm-linux-gnueabihf-g++ -std=c++20 -O2 -static -D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64 \
    -o "$out/$name/apps/button-clock/app" apps/button-clock/main.cpp
arm-linux-gnueabihf-strip "$out/$name/apps/button-clock/app"
cp apps/button-clock/manifest "$out/$name/apps/button-clock/"
cp release/README-goggles.md "$out/$name/README.md"
cp release/MANIFEST.md "$out/$name/"
cp APPS.md "$out/$name/"
chmod 755 "$out/$name/VornaX-Launcher/app" "$out/$name"/apps/*/app
(cd "$out/$name" && find . -type f ! -name SHA256SUMS | sort | xargs sha256sum > SHA256SUMS)
tar -C "$out" --owner=0 --group=0 --sort=name -czf "$out/$name.tar.gz" "$name"
(cd "$out" && sha256sum "$name.tar.gz" > "$name.tar.gz.sha256")
size=$(stat -c %s "$out/$name/VornaX-Launcher/app")
echo "release: $out/$name.tar.gz"
echo "launcher binary: $size bytes ($(( size * 100 / 1048576 ))% of 1 MiB)"
