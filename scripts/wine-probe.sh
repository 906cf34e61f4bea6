#!/usr/bin/env bash
# Exits 0 when Wine can run the build's 32-bit Windows programs here. Wine's
# i386 loader is a 32-bit Linux program: on a kernel that does not run 32-bit
# programs it fails with "Exec format error", and so would every Windows test.
# Any other failure (Wine missing or broken) is not hidden: it exits 0 and
# lets the tests report it.
loader=/usr/lib/wine/wine
[ -x "$loader" ] || exit 0
if output=$("$loader" --version 2>&1); then exit 0; fi
case "$output" in
    *"Exec format error"*|*"cannot execute binary file"*) ;;
    *) exit 0 ;;
esac
echo "wine-probe: $loader cannot start on this machine (the kernel runs no 32-bit programs): $output" >&2
exit 1
