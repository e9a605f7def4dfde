#!/bin/sh
# Keeps the layers apart. From the bottom: base (clock, log, EINTR-safe calls, safe opens)
# includes nothing of the launcher; apps (the catalogue, launching, processes) builds on base;
# hw and display (the devices) build on base and apps, not on each other; core decides and
# may use them all; applib, the library apps link, builds on the devices beside the core. Only hw and display touch devices: base, core and apps include no device
# header and issue no ioctl, bar base's one EINTR-safe ioctl wrapper. No launcher code uses
# the heap or exceptions.
set -u
cd "$(dirname "$0")/.." || exit 2
status=0

report() {
    echo "layer check: $1"
    echo "$2" | sed 's/^/  /'
    status=1
}

# Which launcher directories each layer may include from.
allowed() {
    case "$1" in
    base) echo "base" ;;
    apps) echo "base apps" ;;
    hw) echo "base apps hw" ;;
    display) echo "base apps display" ;;
    core) echo "base apps hw display core" ;;
    applib) echo "base apps hw display applib" ;;
    esac
}

for layer in base apps hw display core applib; do
    ok=$(allowed "$layer" | sed 's/ /|/g')
    hits=$(grep -rnE '#include[[:space:]]*"[a-z]+/' "src/$layer" |
        grep -vE "#include[[:space:]]*\"($ok)/")
    [ -n "$hits" ] && report "src/$layer includes a layer above it or beside it" "$hits"
done

hits=$(grep -rnE '#include[[:space:]]*[<"](sys/mman\.h|linux/|asm/|termios\.h)' src/base src/core src/apps)
[ -n "$hits" ] && report "device header in src/base, src/core or src/apps" "$hits"

hits=$(grep -rnE '#include[[:space:]]*[<"]sys/ioctl\.h' src/core src/apps)
[ -n "$hits" ] && report "device header in src/core or src/apps" "$hits"

hits=$(grep -rnE '\b(ioctl|mmap)[[:space:]]*\(' src/core src/apps)
[ -n "$hits" ] && report "device call in src/core or src/apps" "$hits"

heap='\bnew[[:space:]]+[A-Za-z_]|\b(malloc|calloc|realloc)[[:space:]]*\(|std::(string|vector|map|unique_ptr|shared_ptr|function)\b|\bthrow\b|\btry[[:space:]]*\{'
# Comments are prose ("a new session"): only code counts.
hits=$(grep -rnE "$heap" src | sed 's|//.*$||' | grep -E "$heap")
[ -n "$hits" ] && report "heap or exceptions in launcher code" "$hits"

[ "$status" -eq 0 ] && echo "layer check: ok"
exit "$status"
