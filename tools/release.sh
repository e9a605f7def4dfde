#!/bin/sh
# Builds the release for the goggles: the static ARM launcher, the sample apps (the C ones
# on the app library, static; the shell ones as they are), the goggles' README and the
# manifest reference, packed as build/release/vornax-launcher-VERSION-armhf.tar.gz with
# SHA256SUMS inside and beside it; and the app SDK beside it (tools/sdk.sh --archive).
set -eu
cd "$(dirname "$0")/.."
tools/setup.sh arm
version=$(sed -n 's/^project(vornax_launcher VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
name="vornax-launcher-$version-armhf"
cmake --preset armhf >/dev/null
cmake --build --preset armhf --target vornax-launcher vx-samples
out=build/release
rm -rf "$out/$name"
mkdir -p "$out/$name/VornaX-Launcher" "$out/$name/apps"
cp build/armhf/src/vornax-launcher "$out/$name/VornaX-Launcher/app"
arm-linux-gnueabihf-strip "$out/$name/VornaX-Launcher/app"
# Each sample's program and manifest; the board's twins stay behind, and so does a sample
# with no manifest (battery_log, the board's example of an app that fails at once).
for dir in build/armhf/apps/*/; do
    [ -f "$dir/app" ] && [ -f "$dir/manifest" ] || continue
    app=$(basename "$dir")
    mkdir -p "$out/$name/apps/$app"
    cp "$dir/app" "$out/$name/apps/$app/"
    cp "$dir/manifest" "$out/$name/apps/$app/"
    if [ "$(head -c 4 "$dir/app" | tail -c 3)" = ELF ]; then arm-linux-gnueabihf-strip "$out/$name/apps/$app/app"; fi
done
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
tools/sdk.sh --archive
