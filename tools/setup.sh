#!/bin/sh
# Installs what a fresh Debian machine lacks for the named parts of the work, and nothing
# more. Idempotent: with everything in place it only asks dpkg and touches no network.
#
#   tools/setup.sh PART...     build (always implied), board, web, tests, arm, browser, fuzz,
#                              glyphs, arm-apps, goggles
#
# As root it updates the package lists once and installs the missing packages with apt-get;
# as another user it prints the one apt-get line that is needed and fails, so that nothing
# is built on a machine that cannot run it.
set -eu
cd "$(dirname "$0")/.."

packages="cmake ninja-build g++ pkg-config"
npm_dirs=""
arm_apps=""
goggles=""
for part in "$@"; do
    case "$part" in
    build) ;;
    # The board: the launcher in a bubblewrap sandbox; unshare (util-linux) gives the time
    # namespace of the wrap tests; libpng writes the screenshots.
    board) packages="$packages bubblewrap util-linux libpng-dev" ;;
    web) packages="$packages bubblewrap util-linux libpng-dev libcivetweb-dev nlohmann-json3-dev" ;;
    tests) packages="$packages bubblewrap util-linux libpng-dev libgtest-dev libgmock-dev libbenchmark-dev" ;;
    arm) packages="$packages g++-arm-linux-gnueabihf libc6-dev-armhf-cross qemu-user" ;;
    browser)
        packages="$packages bubblewrap util-linux libpng-dev libcivetweb-dev nlohmann-json3-dev chromium"
        # Node.js with npm may come from elsewhere than Debian; only a machine without npm
        # gets Debian's.
        command -v npm >/dev/null 2>&1 || packages="$packages nodejs npm"
        npm_dirs="$npm_dirs tests/browser"
        ;;
    fuzz) packages="$packages clang libclang-rt-14-dev" ;;
    # Regenerating the checked-in glyph tables and drawing their sheets: FreeType, the face
    # they are rendered from, and libpng for the sheets.
    glyphs) packages="$packages libfreetype-dev fonts-dejavu-core libpng-dev" ;;
    # ARM apps on the board: the kernel hands ARM executables to qemu-arm (below).
    arm-apps)
        packages="$packages qemu-user-static"
        arm_apps=1
        ;;
    # The emulated goggles: qemu's ARM system emulator (from qemu-system-arm; the network ROMs
    # it recommends are left out, the board has no network card), cpio to pack the guest's
    # initramfs, xz to unpack the kernel's modules, the cross compiler for the guest's
    # programs; the guest's own packages are fetched for armhf below.
    goggles)
        packages="$packages qemu-system-arm cpio xz-utils debian-archive-keyring g++-arm-linux-gnueabihf libc6-dev-armhf-cross qemu-user"
        goggles=1
        ;;
    *)
        echo "setup: unknown part '$part' (build, board, web, tests, arm, browser, fuzz, glyphs, arm-apps, goggles)" >&2
        exit 2
        ;;
    esac
done

missing=""
for p in $(printf '%s\n' $packages | sort -u); do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
        missing="$missing $p"
done

if [ -n "$missing" ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "setup: these Debian packages are missing; install them as root, then run this again:" >&2
        echo "    apt-get install --no-install-recommends$missing" >&2
        exit 1
    fi
    echo "setup: installing$missing" >&2
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    # shellcheck disable=SC2086
    apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi

for dir in $npm_dirs; do
    # The lock file pins the packages; the tree is installed again only when it changed.
    if [ ! -f "$dir/node_modules/.package-lock.json" ] ||
        [ "$dir/package-lock.json" -nt "$dir/node_modules/.package-lock.json" ]; then
        (cd "$dir" && npm ci --no-audit --no-fund --loglevel=error)
    fi
done

# ARM executables run by the kernel through binfmt_misc: an app the launcher execs on the
# board is a 32-bit ARM ELF, as on the goggles. The static qemu-arm needs no libraries, and
# the fix-binary flag (F) has the kernel open it now, so that it works inside the board's
# sandbox too. The magic is the ELF header of a 32-bit little-endian ARM executable or
# position-independent one (e_type 2 or 3, e_machine 40), the ABI byte left out.
if [ -n "$arm_apps" ]; then
    binfmt=/proc/sys/fs/binfmt_misc
    if [ "$(id -u)" -ne 0 ]; then
        if [ ! -f "$binfmt/qemu-arm" ]; then
            echo "setup: ARM executables are not registered with binfmt_misc; as root run: tools/setup.sh arm-apps" >&2
            exit 1
        fi
    else
        if [ ! -f "$binfmt/register" ]; then
            mount -t binfmt_misc binfmt_misc "$binfmt"
            echo "setup: mounted binfmt_misc at $binfmt" >&2
        fi
        if [ ! -f "$binfmt/qemu-arm" ]; then
            printf '%s' ':qemu-arm:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x28\x00:\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-arm-static:F' \
                >"$binfmt/register"
            echo "setup: registered qemu-arm (/usr/bin/qemu-arm-static, flag F) for ARM executables" >&2
        fi
        if ! grep -qx enabled "$binfmt/qemu-arm"; then
            echo 1 >"$binfmt/qemu-arm"
            echo "setup: enabled the qemu-arm entry of binfmt_misc" >&2
        fi
    fi
fi

# The emulated goggles' kernel, busybox and libfuse3, for armhf, into the build's cache: by
# apt with a configuration of its own, not as packages of this machine.
if [ -n "$goggles" ]; then
    tools/goggles/fetch-guest-packages.sh >/dev/null
fi
