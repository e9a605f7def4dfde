#!/bin/sh
# Fetches the emulated goggles' 32-bit ARM pieces from Debian's archive by package name and
# unpacks them, without making armhf an architecture of this machine: apt runs with a
# configuration of its own (its own sources list, state and cache under the cache directory),
# so that the machine's package database never sees them.
#
#   tools/goggles/fetch-guest-packages.sh [CACHE_DIR]      default: build/goggles-cache
#
# apt checks what it fetches: the archive's Release file against Debian's keyring, the
# package lists against it, each package against its list. The checksums of the packages it
# got are kept beside them; once every package is there and matches, this touches no network
# and changes nothing. Prints the unpacked root on success.
set -eu
cd "$(dirname "$0")/../.."
cache=${1:-build/goggles-cache}
mkdir -p "$cache"
cache=$(cd "$cache" && pwd)
debs="$cache/debs"
root="$cache/root"
sums="$debs/SHA256SUMS"

# What the guest is made of, and why each:
#   the kernel's image package, from bookworm-backports: Linux 6.12 for ARMv7 boards, with
#     its modules (virtio's GPU, console transport and MMIO bus; CUSE). Bookworm's own 6.1
#     clips a framebuffer's damage to its first screen of rows, so that a page panned to
#     never reaches the display; 6.12 shows it.
#   busybox-static: the guest's shell and tools (init, mount, insmod, tar, sha256sum).
#   libfuse3-dev: libfuse3.a and its headers, linked into the guest's static CUSE server for
#     /dev/remote_i2c and its PWM file system.
kernel_meta=linux-image-armmp
kernel_suite=bookworm-backports
packages="busybox-static libfuse3-dev"

complete() {
    [ -f "$sums" ] && [ -f "$cache/kernel-version" ] && [ -f "$root/.unpacked" ] &&
        [ "$root/.unpacked" -nt "$sums" ] &&
        (cd "$debs" && sha256sum --quiet -c SHA256SUMS >/dev/null 2>&1)
}

if complete; then
    echo "$root"
    exit 0
fi

apt_dir="$cache/apt"
mkdir -p "$apt_dir/etc/apt.conf.d" "$apt_dir/etc/preferences.d" "$apt_dir/etc/sources.list.d" \
    "$apt_dir/state/lists/partial" "$apt_dir/cache/archives/partial" "$debs"
: >"$apt_dir/state/status"
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
if [ ! -f "$keyring" ]; then
    echo "fetch-guest-packages: $keyring is missing (Debian's debian-archive-keyring)" >&2
    exit 1
fi
{
    for suite in bookworm bookworm-updates $kernel_suite; do
        echo "deb [arch=armhf signed-by=$keyring] http://deb.debian.org/debian $suite main"
    done
} >"$apt_dir/etc/sources.list"
cat >"$apt_dir/apt.conf" <<CONF
Dir::Etc "$apt_dir/etc";
Dir::Etc::SourceList "$apt_dir/etc/sources.list";
Dir::Etc::SourceParts "$apt_dir/etc/sources.list.d";
Dir::Etc::Parts "$apt_dir/etc/apt.conf.d";
Dir::Etc::PreferencesParts "$apt_dir/etc/preferences.d";
Dir::State "$apt_dir/state";
Dir::State::status "$apt_dir/state/status";
Dir::Cache "$apt_dir/cache";
APT::Architecture "armhf";
APT::Architectures { "armhf"; };
APT::Sandbox::User "root";
Acquire::Languages "none";
CONF
export APT_CONFIG="$apt_dir/apt.conf"
echo "fetch-guest-packages: updating the armhf package lists in $apt_dir" >&2
apt-get update -qq
# The metapackage names the kernel of the day; its one dependency is the image itself.
kernel=$(apt-cache show "$kernel_meta/$kernel_suite" |
    sed -n 's/^Depends: \(linux-image-[^ ,]*\).*/\1/p' | head -n 1)
if [ -z "$kernel" ]; then
    echo "fetch-guest-packages: $kernel_meta has no image in $kernel_suite" >&2
    exit 1
fi
rm -f "$debs"/*.deb "$sums"
(cd "$debs" && apt-get download -qq "$kernel/$kernel_suite" $packages)
# The checksums apt checked them against, kept for the runs that check without a network.
for p in "$kernel/$kernel_suite" $packages; do
    name=${p%/*}
    sha=$(apt-cache show --no-all-versions "$p" | sed -n 's/^SHA256: //p' | head -n 1)
    file=$(cd "$debs" && ls "${name}"_*_armhf.deb)
    echo "$sha  $file" >>"$sums"
done
(cd "$debs" && sha256sum --quiet -c SHA256SUMS)
rm -rf "$root"
mkdir -p "$root"
for deb in "$debs"/*.deb; do
    dpkg-deb -x "$deb" "$root"
done
ls "$root/lib/modules" >"$cache/kernel-version"
touch "$root/.unpacked"
echo "fetch-guest-packages: $(cat "$cache/kernel-version"), busybox and libfuse3 in $root" >&2
echo "$root"
