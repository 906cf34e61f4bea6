#!/usr/bin/env bash
# Tells whether Wine can run the build's Windows programs here.
#
#   wine-probe.sh [win32|win64]   exits 0 when Wine's 32-bit loader (the
#                                 default) or its 64-bit loader can start
#   wine-probe.sh --arch          prints the kind of Wine the Windows tests
#                                 run under here: win32 when the 32-bit loader
#                                 starts, else win64 when the 64-bit one
#                                 does; exits 1 when neither does
#
# Wine's loaders are Linux programs of their own width: on a kernel that
# does not run 32-bit programs the i386 loader fails with "Exec format
# error", and so would every test of the i686 programs; the 64-bit build of
# the same sources (build/windows64) can still be tested there. Any other
# failure (Wine missing or broken) is not hidden: the probe passes and lets
# the tests report it.

# Exits 0 when the loader of `arch` starts or fails for another reason.
loader_runs() {
    local loader
    case "$1" in
        win32) loader=/usr/lib/wine/wine ;;
        win64) loader=/usr/lib/wine/wine64 ;;
        *) echo "usage: wine-probe.sh [win32|win64|--arch]" >&2; exit 2 ;;
    esac
    [ -x "$loader" ] || return 0
    local output
    if output=$("$loader" --version 2>&1); then return 0; fi
    case "$output" in
        *"Exec format error"*|*"cannot execute binary file"*) ;;
        *) return 0 ;;
    esac
    echo "wine-probe: $loader cannot start on this machine (the kernel does not run it): $output" >&2
    return 1
}

if [ "${1:-}" = --arch ]; then
    if loader_runs win32; then
        echo win32
    elif loader_runs win64; then
        echo win64
    else
        exit 1
    fi
    exit 0
fi
loader_runs "${1:-win32}"
