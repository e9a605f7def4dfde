# Sourced by the kit's tests, which build an app for the goggles and run it on the board:
# without the cross compiler or qemu-arm registered for ARM executables they are skipped
# (ctest's status 77), saying what would install it.
if ! command -v arm-linux-gnueabihf-gcc >/dev/null 2>&1; then
    echo "skipped: no cross compiler for the goggles (tools/setup.sh arm installs it)"
    exit 77
fi
if ! grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-arm 2>/dev/null; then
    echo "skipped: the board cannot run ARM executables" \
        "(tools/setup.sh arm-apps registers qemu-arm)"
    exit 77
fi
