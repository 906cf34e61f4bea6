#!/usr/bin/env bash
# Runs every test of both builds (what `make test` runs after building):
# the native tests, then the Windows tests under Wine. Both always run;
# the exit status is non-zero when any test failed.
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root" || exit 1
jobs="${JOBS:-2}"
status=0

echo "=== native tests"
ctest --test-dir build/native --output-on-failure --no-tests=error -j "$jobs" --timeout 300 || status=1

echo "=== Windows tests under Wine"
# The Wine session lives outside ctest: a wineserver or Wine service started
# by the first test would keep ctest's output pipe open.
bash scripts/wine-session.sh start $$ || exit 1
trap 'bash scripts/wine-session.sh stop $$' EXIT
ctest --test-dir build/windows --output-on-failure --no-tests=error -j "$jobs" --timeout 120 || status=1

if [ "$status" -ne 0 ]; then
    echo "=== some tests FAILED"
else
    echo "=== all tests passed"
fi
exit "$status"
