#!/bin/sh
# Keeps the layers apart: the core and the app catalogue decide, src/display and src/hw touch
# devices. Neither of the first two may include a device header or issue an ioctl, and no
# launcher code uses the heap or exceptions.
set -u
cd "$(dirname "$0")/.." || exit 2
status=0

report() {
    echo "layer check: $1"
    echo "$2" | sed 's/^/  /'
    status=1
}

hits=$(grep -rnE '#include[[:space:]]*[<"](sys/ioctl\.h|sys/mman\.h|linux/|asm/|termios\.h)' src/core src/apps)
[ -n "$hits" ] && report "device header in src/core or src/apps" "$hits"

hits=$(grep -rnE '\b(ioctl|mmap)[[:space:]]*\(' src/core src/apps)
[ -n "$hits" ] && report "device call in src/core or src/apps" "$hits"

heap='\bnew[[:space:]]+[A-Za-z_]|\b(malloc|calloc|realloc)[[:space:]]*\(|std::(string|vector|map|unique_ptr|shared_ptr|function)\b|\bthrow\b|\btry[[:space:]]*\{'
# Comments are prose ("a new session"): only code counts.
hits=$(grep -rnE "$heap" src | sed 's|//.*$||' | grep -E "$heap")
[ -n "$hits" ] && report "heap or exceptions in launcher code" "$hits"

[ "$status" -eq 0 ] && echo "layer check: ok"
exit "$status"
