#!/bin/sh
# Makes a ready app directory for VornaX Launcher:
#
#   tools/new-app.sh NAME [--shell|--c] [--dir DIR]
#
# DIR (default ./NAME) gets a manifest with every key explained, the app (a shell script, or
# a C program on the app library with its CMakeLists.txt), a scenario NAME.scn that starts
# it from the menu and checks its first line and its end, and a README on building, running
# it on the virtual board, testing and installing it. The launcher names an app by its
# directory, so DIR must end in NAME.
#
# It runs from the launcher's checkout (tools/new-app.sh, the SDK built by tools/sdk.sh when
# a C app needs it) or from the app SDK's directory (new-app.sh beside cmake/ and lib/).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
if [ -f "$here/cmake/vornax_app.cmake" ]; then
    sdk=$here
    kit=""
else
    kit=$(dirname "$here")
    sdk=$kit/build/sdk/vornax-sdk
fi

usage() {
    echo "usage: tools/new-app.sh NAME [--shell|--c] [--dir DIR]" >&2
    exit 2
}

name=""
named=""
kind=shell
dir=""
while [ $# -gt 0 ]; do
    case "$1" in
    --shell) kind=shell ;;
    --c) kind=c ;;
    --dir)
        [ $# -ge 2 ] || usage
        dir=$2
        shift
        ;;
    --)
        [ $# -eq 2 ] && [ -z "$named" ] || usage
        name=$2
        named=1
        shift
        ;;
    -h | --help) usage ;;
    -*)
        echo "new-app: unknown option '$1' (a NAME that starts with '-' goes after --)" >&2
        usage
        ;;
    *)
        [ -z "$named" ] || usage
        name=$1
        named=1
        ;;
    esac
    shift
done
[ -n "$named" ] || usage

# The names the launcher lists (src/apps/catalogue.cpp, app_name_acceptable).
case "$name" in
'' | *[!A-Za-z0-9_-]* | VornaX-Launcher) bad_name=1 ;;
*) bad_name=$((${#name} > 39)) ;;
esac
if [ "$bad_name" -ne 0 ]; then
    echo "new-app: the launcher would not list an app named '$name': a name is 1 to 39" \
        "letters, digits, '_' or '-', and not VornaX-Launcher (the launcher's own)" >&2
    exit 2
fi
dir=${dir:-$name}
dir=${dir%/}
if [ "$(basename "$dir")" != "$name" ]; then
    echo "new-app: the launcher names an app by its directory: DIR must end in /$name" >&2
    exit 2
fi
if [ -e "$dir" ] && [ -n "$(ls -A "$dir")" ]; then
    echo "new-app: $dir exists and is not empty" >&2
    exit 1
fi
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
parent=$(dirname "$dir")

cat >"$dir/manifest" <<EOF
# The manifest of $name: what the menu shows and how the app is started.
# One key=value a line; a line that starts with none of the keys (these
# comments, for one) is ignored. A value ends at the line's end or at its
# first control byte (TAB, CR); what is longer than the key allows is cut.
#
# desc: the line shown under the name in the menu, up to 95 bytes.
desc=$name: prints its words, counts to three and ends
# version: the tag beside the name, up to 15 bytes; without it 1.
version=0.1
# args: the words the program is started with, split at spaces, at most
# 8 of them, up to 127 bytes; no quoting ("a b" is two words, quotes kept).
args=--from menu
# modes: the goggles' video modes it may start in, separated by commas:
# normal, av (the menu on the analogue overlay), hdmi; without it normal.
# The menu lists it in the others too, but refuses to start it there.
modes=normal
EOF

if [ "$kind" = shell ]; then
    cat >"$dir/app" <<EOF
#!/bin/sh
# $name: started from the menu as /tmp/vorna-x/$name/app, with the manifest's args;
# what it prints lands in /tmp/vorna-x/$name.log. The goggles' buttons are its own until
# it exits, and the menu comes back then. PLAY held 10 s sends SIGTERM: end on it.
trap 'echo "$name: stopped"; exit 0' TERM
echo "$name started with: \$*"
i=0
while [ "\$i" -lt 3 ]; do
    sleep 1
    i=\$((i + 1))
    echo "tick \$i"
done
echo "$name: done"
EOF
    chmod 755 "$dir/app"
    files='`app` | the program, a shell script (`#!/bin/sh`)'
else
    if [ -n "$kit" ] && [ ! -f "$sdk/cmake/vornax_app.cmake" ]; then
        echo "new-app: building the app SDK (tools/sdk.sh) for the C app" >&2
        "$kit/tools/sdk.sh" >&2
    fi
    cat >"$dir/main.c" <<EOF
/* $name: started from the menu as /tmp/vorna-x/$name/app, with the manifest's args; what it
 * prints lands in /tmp/vorna-x/$name.log. The goggles' buttons are its own until it exits,
 * and the menu comes back then. It shows the button last let go, on the screen in NORMAL
 * mode and on the overlay in AV mode, and ends on BACK or on the launcher's SIGTERM (PLAY
 * held 10 s). APPS.md describes the library. */
#include <stdio.h>

#include "vornax_app.h"

static int on_screen; /* the screen (NORMAL mode), else the overlay (AV mode) */

static void draw(const char* line) {
    if (on_screen) {
        vx_clear(0x00000000u);                    /* transparent: the video shows */
        vx_fill(660, 440, 600, 160, 0xC0203040u); /* a translucent panel */
        vx_text(VX_FONT_LARGE, 690, 470, 0xFFFFFFu, "$name");
        vx_text(VX_FONT_MEDIUM, 690, 530, 0x9AC8F8u, line);
        vx_present();
    } else {
        vx_overlay_text(2, 2, "$name");
        vx_overlay_text(4, 2, line);
    }
}

static int fail(const char* what, vx_status s) {
    fprintf(stderr, "$name: %s: %s\n", what, vx_status_text(s));
    return 1;
}

int main(int argc, char** argv) {
    /* The log is a file: a line is written as it is printed, not when a buffer fills. */
    setvbuf(stdout, NULL, _IOLBF, 0);
    printf("$name started with:");
    for (int i = 1; i < argc; ++i)
        printf(" %s", argv[i]);
    printf("\n");
    vx_status s = vx_open();
    if (s != VX_OK) return fail("buttons", s);
    int mode = VX_MODE_UNKNOWN;
    vx_video_mode(&mode);
    on_screen = mode != VX_MODE_AV;
    s = on_screen ? vx_screen_open() : vx_overlay_open();
    if (s != VX_OK) return fail(on_screen ? "screen" : "overlay", s);
    draw("BACK ENDS IT");
    for (;;) {
        vx_event e;
        s = vx_wait_event(&e, -1); /* -1: for as long as it takes */
        if (s != VX_OK) break;     /* VX_QUIT: the launcher's SIGTERM */
        if (e.type != VX_EVENT_RELEASE) continue;
        if (e.key == VX_KEY_BACK) break;
        char line[32];
        snprintf(line, sizeof line, "KEY %d HELD %d MS", e.key, (int)e.held_ms);
        printf("%s\n", line);
        draw(line);
    }
    vx_close(); /* the screen, the overlay and the buzzer given back */
    printf("$name: done\n");
    return 0;
}
EOF
    cat >"$dir/CMakeLists.txt" <<EOF
# $name for the goggles: \`cmake -S . -B build && cmake --build build\` writes \`app\` beside
# the manifest, a static 32-bit ARM program for the goggles, and \`app.board\`, its twin for
# the virtual board. -DVORNAX_HOST=ON builds \`app\` for the host instead.
cmake_minimum_required(VERSION 3.16)
# The app SDK: the library, its header and the goggles' toolchain.
set(VORNAX_SDK "$sdk" CACHE PATH "the VornaX app SDK")
option(VORNAX_HOST "build for the host rather than the goggles" OFF)
if(NOT CMAKE_TOOLCHAIN_FILE AND NOT VORNAX_HOST)
  set(CMAKE_TOOLCHAIN_FILE \${VORNAX_SDK}/cmake/goggles.cmake)
endif()
project($name LANGUAGES C CXX)
if(NOT CMAKE_BUILD_TYPE)
  set(CMAKE_BUILD_TYPE Release)
endif()
include(\${VORNAX_SDK}/cmake/vornax_app.cmake)
vornax_app(main.c)
EOF
    printf '/build/\n/app\n/app.board\n' >"$dir/.gitignore"
    files='`app` | the program, built from `main.c` (below): static, for the goggles |
| `app.board` | its twin for the virtual board, dynamically linked so that the board answers its device calls |
| `main.c`, `CMakeLists.txt` | its source and its build, with the app library of the SDK in '"$sdk"''
fi

# How the app ends in its scenario: the shell app by itself, the C app at BACK.
ending="the shell app ends by itself"
ends_it=""
if [ "$kind" = c ]; then
    ending="BACK ends it"
    ends_it="tap BACK"
fi
cat >"$dir/$name.scn" <<EOF
# $name from the menu: started with the manifest's words; $ending with status 0 and the
# menu comes back; a 3 s hold gives the goggles back.
apps .. $name

hold PLAY 2s
expect screen menu
tap MIDDLE
expect app-log $name "$name started with: --from menu"
$ends_it
wait-for app-exit
expect app $name exited 0
expect screen menu
hold PLAY 3.3s
expect service running
EOF

origin="the launcher's checkout $kit"
[ -n "$kit" ] || origin="the app SDK in $sdk"
{
    cat <<EOF
# $name

An app for VornaX Launcher, made by \`new-app.sh\` of $origin (the paths below are as
they were then). The launcher lists an app by its directory's name; \`APPS.md\` there says
how an app is started, what it may rely on, and the app library's calls.

| file | what |
|---|---|
| \`manifest\` | what the menu shows and how the app is started; each key is explained in it |
| $files |
| \`$name.scn\` | a scenario for the virtual board: starts it from the menu, checks its first line and its end |

EOF
    if [ "$kind" = c ]; then
        cat <<EOF
## Build

    apt-get install gcc-arm-linux-gnueabihf g++-arm-linux-gnueabihf   # the cross compiler, once
    cmake -S . -B build && cmake --build build

writes \`app\` here, the static 32-bit ARM program for the goggles, and \`app.board\`, its
dynamically linked twin, which the virtual board runs in its place.

EOF
    fi
    if [ -n "$kit" ]; then
        cat <<EOF
## Run it on the virtual goggles

    $kit/tools/run-board.sh --apps $parent

runs the launcher on the virtual board with the apps of $parent, this one among
them, and shows the goggles on http://127.0.0.1:8088/ (\`--cli\` for the terminal): hold
PLAY for the menu, UP and DOWN move, MIDDLE starts the app; its log
(\`/tmp/vorna-x/$name.log\` on the goggles) is shown beside the screen, and what it draws on
the screen or the overlay, and sounds, is the board's as the launcher's is. \`--target armhf\`
runs the launcher's own ARM build under qemu-arm. ARM programs run on the board through
qemu-arm, registered with the kernel by \`tools/setup.sh arm-apps\` (the board does it).

## Test it

    $kit/tools/run-scenario.sh $name.scn
    $kit/tools/run-scenario.sh $name.scn --target armhf

\`SCENARIOS.md\` in the launcher's checkout describes the steps; add yours to the scenario.

EOF
    fi
    cat <<EOF
## Install it on the goggles

Copy \`app\` and \`manifest\` to \`/record/vorna-x/apps/$name/\` and make the program
executable (\`chmod 755 /record/vorna-x/apps/$name/app\`). The menu lists it from its next
opening; at most 16 apps are listed.
EOF
} >"$dir/README.md"

echo "new-app: made $dir ($kind app $name); see $dir/README.md"
