#!/usr/bin/env bash
# Runs every test of both builds (what `make test` runs after building):
# the native tests, then the Windows tests under Wine. Both always run;
# the exit status is non-zero when any test failed.
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root" || exit 1
jobs="${JOBS:-2}"
status=0

echo "=== layers"
bash scripts/check-layers.sh || status=1

echo "=== native tests"
ctest --test-dir build/native --output-on-failure --no-tests=error -j "$jobs" --timeout 300 || status=1

# Wine runs the i686 Windows programs through its 32-bit loader. A machine
# whose kernel refuses 32-bit programs can run none of them; there the
# 64-bit build of the same sources (build/windows64, made by `make test`)
# is tested under 64-bit Wine instead. With neither, say so plainly and stop
# here rather than fail every test the same way.
if ! arch="$(bash scripts/wine-probe.sh --arch)"; then
    echo "=== Windows tests SKIPPED: this machine can run neither Wine's 32-bit nor its 64-bit programs (see above)"
    [ "$status" -ne 0 ] && echo "=== some tests FAILED" || echo "=== all native tests passed"
    exit "$status"
fi
export KELVO_WINE_ARCH="$arch"
windows_build=build/windows
if [ "$arch" = win64 ]; then
    windows_build=build/windows64
    echo "=== Windows tests under 64-bit Wine: this machine runs no 32-bit programs, so the 64-bit build of the same sources ($windows_build) is tested"
else
    echo "=== Windows tests under Wine"
fi
# The Wine session lives outside ctest: a wineserver or Wine service started
# by the first test would keep ctest's output pipe open.
bash scripts/wine-session.sh start $$ || exit 1
# Test files named *_user_test.cpp run as an ordinary user in the user session
# (scripts/wine-user-run.sh), which is started here too when there are any. It
# starts in the background while the other tests run; a user test that comes
# first waits for it on the session's lock.
wine_user="${KELVO_WINE_USER:-kelvo-wine}"
user_start="" user_start_log="$(mktemp)"
stop_sessions() {
    [ -z "$user_start" ] || wait "$user_start" 2>/dev/null
    KELVO_WINE_USER="$wine_user" bash scripts/wine-session.sh stop $$
    bash scripts/wine-session.sh stop $$
    rm -f "$user_start_log"
}
trap stop_sessions EXIT
if compgen -G "tests/windows/*_user_test.cpp" >/dev/null; then
    KELVO_WINE_USER="$wine_user" bash scripts/wine-session.sh start $$ >"$user_start_log" 2>&1 &
    user_start=$!
fi
ctest --test-dir "$windows_build" --output-on-failure --no-tests=error -j "$jobs" --timeout 120 || status=1
if [ -n "$user_start" ] && ! wait "$user_start"; then
    cat "$user_start_log" >&2
    status=1
fi
user_start=""

if [ "$status" -ne 0 ]; then
    echo "=== some tests FAILED"
else
    echo "=== all tests passed"
fi
exit "$status"
