# The virtual board runs ARM programs through qemu-arm on the host's file system: an app's
# dynamically linked twin names the cross libraries where Debian installs them
# (libc6-armhf-cross), so that it loads in the board's sandbox, with the board's library.
set(VX_BOARD_TWIN_LINK_OPTIONS
    -Wl,--dynamic-linker=/usr/arm-linux-gnueabihf/lib/ld-linux-armhf.so.3
    -Wl,-rpath,/usr/arm-linux-gnueabihf/lib)
