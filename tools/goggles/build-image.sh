#!/bin/sh
# Builds the emulated goggles' guest: the kernel of the fetched Debian package, and an
# initramfs of BusyBox, the kernel modules the board's devices need (with those they depend
# on, in the order they load), the guest's programs (tools/setup.sh goggles, then the armhf
# build's vx-guest) and the start-up of sim/guest/rootfs.
#
#   tools/goggles/build-image.sh          writes build/goggles/vmlinuz and guest.cpio
set -eu
cd "$(dirname "$0")/../.."
root=$(tools/goggles/fetch-guest-packages.sh)
version=$(cat build/goggles-cache/kernel-version)
cmake --preset armhf >/dev/null
cmake --build --preset armhf --target vx-guest >/dev/null
programs="vx-guest-agent vx-guest-i2c vx-guest-pwm vx-guest-service"
for p in $programs; do
    if [ ! -x "build/armhf/sim/guest/$p" ]; then
        echo "build-image: build/armhf/sim/guest/$p was not built (libfuse3.a missing?)" >&2
        exit 1
    fi
done

out=build/goggles
stage="$out/initramfs"
rm -rf "$stage"
mkdir -p "$stage/bin" "$stage/sbin" "$stage/usr/bin" "$stage/lib/modules" "$stage/proc" \
    "$stage/sys" "$stage/dev" "$stage/tmp" "$stage/run" "$stage/record" "$stage/etc"
cp "$root/bin/busybox" "$stage/bin/"
cp -r sim/guest/rootfs/. "$stage/"
for p in $programs; do
    arm-linux-gnueabihf-strip -o "$stage/usr/bin/$p" "build/armhf/sim/guest/$p"
done

# The initramfs stays uncompressed: the board appends an archive of its own to it at each
# boot (the release), which the kernel unpacks after it.

# The modules, each after those it depends on (its .modinfo's depends=), unpacked: the
# kernel takes them as they are. The display's helper gets room for three screens in its
# framebuffer, which the launcher pans between; the rest load with their defaults.
#   virtio_mmio   the bus qemu's virt machine puts its virtio devices on
#   virtio_gpu    the display, with the DRM framebuffer emulation as /dev/fb0
#   cuse          character devices in user space: /dev/remote_i2c
modules_dir="$root/lib/modules/$version/kernel"
parameters() {
    case "$1" in
    drm_kms_helper) echo "drm_fbdev_overalloc=300" ;;
    esac
}
module_file() {
    find "$modules_dir" -name "$1.ko.xz" -o -name "$(echo "$1" | tr _ -).ko.xz" | head -n 1
}
loaded=" "
load() {
    case "$loaded" in *" $1 "*) return ;; esac
    file=$(module_file "$1")
    if [ -z "$file" ]; then
        echo "build-image: no module $1 in $modules_dir" >&2
        exit 1
    fi
    deps=$(xz -dc "$file" | tr '\0' '\n' | sed -n 's/^depends=//p' | tr ',' ' ')
    for dep in $deps; do load "$dep"; done
    xz -dc "$(module_file "$1")" >"$stage/lib/modules/$1.ko"
    echo "$1 $(parameters "$1")" >>"$stage/lib/modules/load-order"
    loaded="$loaded$1 "
}
: >"$stage/lib/modules/load-order"
for m in virtio_mmio virtio_gpu cuse; do load "$m"; done

(cd "$stage" && find . | LC_ALL=C sort | cpio -o -H newc -R 0:0 --quiet) >"$out/guest.cpio"
cp "$root/boot/vmlinuz-$version" "$out/vmlinuz"
echo "build-image: $out/vmlinuz ($version) and $out/guest.cpio ($(wc -c <"$out/guest.cpio") bytes;" \
    "modules: $(cut -d' ' -f1 "$stage/lib/modules/load-order" | tr '\n' ' '))" >&2
