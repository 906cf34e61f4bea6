#!/usr/bin/env bash
# Runs one Windows program under Wine as an ordinary user:
#   wine-user-run.sh PROGRAM.exe [ARGS...]
#
# Run as root, Wine lets a program open a read-only file for writing or copy
# onto it; as an ordinary user both fail with "access denied", as on Windows.
# So this runs the program as KELVO_WINE_USER (by default kelvo-wine, made by
# scripts/install-deps.sh) in the user session: a prefix, home, wineserver
# and Xvfb of its own (see wine-session.sh).
# When the caller is not root it is an ordinary user already, and this is
# wine-run.sh. The program and its input files need only be readable by the
# user; what it writes belongs in the user's prefix (its temporary folder).
# Exits with the program's exit code, as wine-run.sh does.
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
export KELVO_WINE_USER="${KELVO_WINE_USER:-kelvo-wine}"
exec bash "$here/wine-run.sh" "$@"
