#!/bin/sh
# Makes a ready app directory for VornaX Launcher:
#
#   tools/new-app.sh NAME [--shell|--c] [--dir DIR]
#
# DIR (default ./NAME) gets a manifest with every key explained, the app (a shell script, or
# a C program with its CMakeLists.txt and the goggles' toolchain file), a scenario NAME.scn
# that starts it from the menu and checks its first line and its end, and a README on
# building, running it on the virtual board, testing and installing it. The launcher names an
# app by its directory, so DIR must end in NAME.
set -eu
kit=$(cd "$(dirname "$0")/.." && pwd)

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
    cat >"$dir/main.c" <<EOF
// $name: started from the menu as /tmp/vorna-x/$name/app, with the manifest's args;
// what it prints lands in /tmp/vorna-x/$name.log. The goggles' buttons are its own until
// it exits, and the menu comes back then. PLAY held 10 s sends SIGTERM: end on it.
#include <signal.h>
#include <stdio.h>
#include <time.h>

static volatile sig_atomic_t stop;

static void on_term(int sig) {
    (void)sig;
    stop = 1;
}

int main(int argc, char **argv) {
    struct sigaction sa = {0};
    sa.sa_handler = on_term; // no SA_RESTART: the sleep below ends at the signal
    sigaction(SIGTERM, &sa, NULL);
    // The log is a file: a line is written as it is printed, not when a buffer fills.
    setvbuf(stdout, NULL, _IOLBF, 0);
    printf("$name started with:");
    for (int i = 1; i < argc; ++i)
        printf(" %s", argv[i]);
    printf("\n");
    for (int tick = 1; tick <= 3; ++tick) {
        const struct timespec second = {1, 0};
        nanosleep(&second, NULL);
        if (stop) break;
        printf("tick %d\n", tick);
    }
    printf(stop ? "$name: stopped\n" : "$name: done\n");
    return 0;
}
EOF
    cat >"$dir/CMakeLists.txt" <<EOF
# $name for the goggles: \`cmake -S . -B build && cmake --build build\` writes \`app\` beside
# the manifest, a static 32-bit ARM program (goggles.cmake), for the goggles and the board.
cmake_minimum_required(VERSION 3.16)
if(NOT CMAKE_TOOLCHAIN_FILE)
  set(CMAKE_TOOLCHAIN_FILE \${CMAKE_CURRENT_SOURCE_DIR}/goggles.cmake)
endif()
project($name LANGUAGES C CXX)
if(NOT CMAKE_BUILD_TYPE)
  set(CMAKE_BUILD_TYPE Release)
endif()

add_executable(app main.c)
set_target_properties(app PROPERTIES RUNTIME_OUTPUT_DIRECTORY \${CMAKE_CURRENT_SOURCE_DIR})
EOF
    # The launcher's own cross toolchain (its comments and the emulator for its tests left
    # out), then what an app adds; copied, since the app's directory stands on its own.
    {
        cat <<'EOF'
# The goggles: 32-bit ARM Linux, hard float (Debian's cross compiler, g++-arm-linux-gnueabihf).
# Programs are linked static, so that they need none of the goggles' libraries, with 64-bit
# file offsets and time as the launcher has (without them readdir() can fail with EOVERFLOW
# and time_t ends in 2038), and with the launcher's warnings, as errors.
EOF
        grep -v -e '^#' -e 'CMAKE_CROSSCOMPILING_EMULATOR' "$kit/cmake/armhf.cmake"
        cat <<'EOF'
set(CMAKE_C_FLAGS_INIT "-D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64 -Wall -Wextra -Werror")
set(CMAKE_CXX_FLAGS_INIT "-D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64 -Wall -Wextra -Werror")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
EOF
    } >"$dir/goggles.cmake"
    printf '/build/\n/app\n' >"$dir/.gitignore"
    files='`app` | the program, built from `main.c` (below) |
| `main.c`, `CMakeLists.txt` | its source and its build (C and C++) |
| `goggles.cmake` | the toolchain for the goggles: arm-linux-gnueabihf, static, 64-bit `off_t` and `time_t`, `-Wall -Wextra -Werror`'
fi

cat >"$dir/$name.scn" <<EOF
# $name from the menu: started with the manifest's words, it ends by itself with status 0
# and the menu comes back; a 3 s hold gives the goggles back.
apps .. $name

hold PLAY 2s
expect screen menu
tap MIDDLE
expect app-log $name "$name started with: --from menu"
wait-for app-exit
expect app $name exited 0
expect screen menu
hold PLAY 3.3s
expect service running
EOF

{
    cat <<EOF
# $name

An app for VornaX Launcher, made by \`tools/new-app.sh\` of the launcher's checkout
$kit (the paths below are as they were then). The launcher lists an app by its
directory's name; \`APPS.md\` there says how an app is started and what it may rely on.

| file | what |
|---|---|
| \`manifest\` | what the menu shows and how the app is started; each key is explained in it |
| $files |
| \`$name.scn\` | a scenario: starts it from the menu, checks its first line and its end |

EOF
    if [ "$kind" = c ]; then
        cat <<EOF
## Build

    $kit/tools/setup.sh arm     # the cross compiler, once
    cmake -S . -B build && cmake --build build

writes \`app\` here: one static 32-bit ARM program for the goggles and the virtual board.

EOF
    fi
    cat <<EOF
## Run it on the virtual goggles

    $kit/tools/run-board.sh --apps $parent

runs the launcher on the virtual board with the apps of $parent, this one among
them, and shows the goggles on http://127.0.0.1:8088/ (\`--cli\` for the terminal): hold
PLAY for the menu, UP and DOWN move, MIDDLE starts the app; its log
(\`/tmp/vorna-x/$name.log\` on the goggles) is shown beside the screen. \`--target armhf\`
runs the launcher's own ARM build under qemu-arm. ARM programs run on the board through
qemu-arm, registered with the kernel by \`tools/setup.sh arm-apps\` (the board does it).

## Test it

    $kit/tools/run-scenario.sh $name.scn
    $kit/tools/run-scenario.sh $name.scn --target armhf

\`SCENARIOS.md\` in the launcher's checkout describes the steps; add yours to the scenario.

## Install it on the goggles

Copy \`app\` and \`manifest\` to \`/record/vorna-x/apps/$name/\` and make the program
executable (\`chmod 755 /record/vorna-x/apps/$name/app\`). The menu lists it from its next
opening; at most 16 apps are listed.
EOF
} >"$dir/README.md"

echo "new-app: made $dir ($kind app $name); see $dir/README.md"
