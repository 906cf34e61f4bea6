#!/usr/bin/env bash
# Runs one Windows program under Wine:  wine-run.sh PROGRAM.exe [ARGS...]
#
# The program runs in the current Wine session, which this script joins for
# the length of the run: scripts/run-tests.sh starts one around the Windows
# ctest run, and ctest runs every Windows test through this script. When no
# session is running, joining starts one, and leaving stops it again.
# Exits with the program's exit code; Wine passes on its low eight bits, and
# a crash exits with 5 after printing a backtrace.
# With KELVO_WINE_USER set (scripts/wine-user-run.sh sets it), the program
# runs as that user in the user session instead (see wine-env.sh).
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
. "$here/wine-env.sh"

if [ $# -lt 1 ]; then
    echo "usage: wine-run.sh PROGRAM.exe [ARGS...]" >&2
    exit 2
fi

if [ -n "$KELVO_WINE_USER" ] && [ -e "$1" ] && ! "${KELVO_AS_WINE_USER[@]}" test -r "$1"; then
    echo "wine-run.sh: user $KELVO_WINE_USER cannot read $1" >&2
    exit 1
fi
bash "$here/wine-session.sh" start $$ || exit 1
trap 'bash "$here/wine-session.sh" stop $$' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
kelvo_wine_session_alive || exit 1
export DISPLAY="$KELVO_SESSION_DISPLAY"
"${KELVO_AS_WINE_USER[@]}" wine "$@"
