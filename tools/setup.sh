#!/bin/sh
# Installs what a fresh Debian machine lacks for the named parts of the work, and nothing
# more. Idempotent: with everything in place it only asks dpkg and touches no network.
#
#   tools/setup.sh PART...     build (always implied), board, web, tests, arm, browser, fuzz,
#                              glyphs
#
# As root it updates the package lists once and installs the missing packages with apt-get;
# as another user it prints the one apt-get line that is needed and fails, so that nothing
# is built on a machine that cannot run it.
set -eu
cd "$(dirname "$0")/.."

packages="cmake ninja-build g++ pkg-config"
npm_dirs=""
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
    *)
        echo "setup: unknown part '$part' (build, board, web, tests, arm, browser, fuzz, glyphs)" >&2
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
