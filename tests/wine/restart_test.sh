#!/usr/bin/env bash
# Operations scheduled with ScheduleAtRestart, carried out by a real restart:
#
#   restart_test.sh KELVO-SCHEDULE-TOOL.exe
#
# An NT prefix (MoveFileEx records) and a Windows 98 prefix (WININIT.INI)
# each get files scheduled for replacement and deletion; nothing may happen
# before `wineboot -r`, and everything must have happened after it.
#
# A restart acts on the whole prefix, and a new wineserver session carries
# out whatever is pending, so the test never uses the shared session: each
# platform gets a private copy of the template prefix (build/wine/restart-nt,
# build/wine/restart-98; under build/wine64 with KELVO_WINE_ARCH=win64, which
# the 64-bit build's tool needs) with a wineserver of its own, which is
# stopped on any exit. Runs of this script are serialised by a lock. Nothing
# here opens a window, so no display is used.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
scripts="$here/../../scripts"
# shellcheck source-path=SCRIPTDIR/../../scripts source=wine-env.sh
. "$scripts/wine-env.sh"

if [ $# -ne 1 ] || [ ! -f "$1" ]; then
    echo "usage: restart_test.sh KELVO-SCHEDULE-TOOL.exe" >&2
    exit 2
fi
tool="$1"

log="$KELVO_WINE_DIR/restart.log"
out="$KELVO_WINE_DIR/restart.out"
# Inside the prefix: C:\kelvo restart test\..., with long names so that the
# short forms differ from them.
folder_name="kelvo restart test"

fail() {
    echo "restart test FAILED: $*" >&2
    echo "(Wine's output: $log; prefixes kept for a look)" >&2
    exit 1
}

finish() {
    local status=$?
    kelvo_private_wine_stop
    # Prefixes of a passing run are removed (600 MB each); a failed run
    # leaves them to be looked at.
    if [ "$status" -eq 0 ]; then
        rm -rf "$KELVO_WINE_DIR/restart-nt" "$KELVO_WINE_DIR/restart-98"
    fi
    exit "$status"
}
trap finish EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

mkdir -p "$KELVO_WINE_DIR"
exec 8>"$KELVO_WINE_DIR/restart.lock"
flock 8
: >"$log"

# Starts a private session in a fresh copy of the template at `prefix`, with
# no display; every later Wine command of this script runs there.
use_new_prefix() {
    prefix="$1"
    kelvo_private_wine_start "$prefix" "$KELVO_WINE_DIR/restart-home" "$log" ||
        fail "no private Wine session in $prefix"
    mkdir -p "$prefix/drive_c/$folder_name"
}

# Runs the tool; its output (without carriage returns) on stdout. The output
# goes through a file: Wine services started along the way outlive the tool
# and would keep a pipe open.
run_tool() {
    wine "$tool" "$@" </dev/null >"$out" 2>>"$log" 8>&- || fail "kelvo-schedule-tool $* exited with $?"
    tr -d '\r' <"$out"
}

windows_path() { printf 'C:\\%s\\%s' "$folder_name" "$1"; }
unix_path() { printf '%s/drive_c/%s/%s' "$prefix" "$folder_name" "$1"; }

make_file() { printf '%s' "$2" >"$(unix_path "$1")"; }

expect_contents() {
    local name="$1" expected="$2" when="$3"
    [ -f "$(unix_path "$name")" ] || fail "$when: '$name' is missing"
    [ "$(cat "$(unix_path "$name")")" = "$expected" ] ||
        fail "$when: '$name' holds '$(cat "$(unix_path "$name")")', expected '$expected'"
}

expect_gone() {
    [ ! -e "$(unix_path "$1")" ] || fail "$2: '$1' still exists"
}

restart() {
    wineboot -r </dev/null >>"$log" 2>&1 8>&- || fail "wineboot -r failed in $prefix"
}

# Finds the Windows folder's WININIT.INI whatever the case of its name.
wininit() { find "$prefix/drive_c/windows" -maxdepth 1 -iname wininit.ini | head -n1; }

echo "--- NT: MoveFileEx records"
use_new_prefix "$KELVO_WINE_DIR/restart-nt"
[ "$(run_tool platform)" = 2 ] || fail "the NT prefix reports platform $(run_tool platform)"
make_file "installed library.dll" "old library"
make_file "new library copy.tmp" "new library"
make_file "left over file.tmp" "left over"
run_tool replace "$(windows_path "installed library.dll")" "$(windows_path "new library copy.tmp")" >/dev/null
run_tool delete "$(windows_path "left over file.tmp")" >/dev/null
expect_contents "installed library.dll" "old library" "NT, before the restart"
expect_contents "new library copy.tmp" "new library" "NT, before the restart"
expect_contents "left over file.tmp" "left over" "NT, before the restart"
[ -z "$(wininit)" ] || fail "NT: WININIT.INI was written"
restart
expect_contents "installed library.dll" "new library" "NT, after the restart"
expect_gone "new library copy.tmp" "NT, after the restart"
expect_gone "left over file.tmp" "NT, after the restart"
kelvo_private_wine_stop

echo "--- Windows 98: WININIT.INI"
use_new_prefix "$KELVO_WINE_DIR/restart-98"
wine reg add 'HKCU\Software\Wine' /v Version /d win98 /f </dev/null >>"$log" 2>&1 8>&- ||
    fail "could not select Windows 98"
[ "$(run_tool platform)" = 1 ] || fail "the Windows 98 prefix reports platform $(run_tool platform)"
make_file "first file to delete.tmp" "first"
make_file "second file to delete.tmp" "second"
make_file "installed program.exe" "old program"
make_file "new program copy.tmp" "new program"
short_first="$(run_tool short "$(windows_path "first file to delete.tmp")")"
short_second="$(run_tool short "$(windows_path "second file to delete.tmp")")"
short_target="$(run_tool short "$(windows_path "installed program.exe")")"
short_source="$(run_tool short "$(windows_path "new program copy.tmp")")"
[ "$short_first" != "$short_second" ] || fail "the two files share the short name $short_first"
[ "$short_target" != "$(windows_path "installed program.exe")" ] || fail "no short name differs from its long one"

run_tool delete "$(windows_path "first file to delete.tmp")" >/dev/null
run_tool delete "$(windows_path "second file to delete.tmp")" >/dev/null
run_tool replace "$(windows_path "installed program.exe")" "$(windows_path "new program copy.tmp")" >/dev/null

ini="$(wininit)"
[ -n "$ini" ] || fail "Windows 98: no WININIT.INI in the Windows folder"
expected_ini="[Rename]
NUL=$short_first
NUL=$short_second
$short_target=$short_source"
actual_ini="$(tr -d '\r' <"$ini" | grep -v '^$')"
[ "$actual_ini" = "$expected_ini" ] ||
    fail "Windows 98: WININIT.INI holds
$actual_ini
expected
$expected_ini"
expect_contents "first file to delete.tmp" "first" "Windows 98, before the restart"
expect_contents "second file to delete.tmp" "second" "Windows 98, before the restart"
expect_contents "installed program.exe" "old program" "Windows 98, before the restart"
restart
expect_gone "first file to delete.tmp" "Windows 98, after the restart"
expect_gone "second file to delete.tmp" "Windows 98, after the restart"
expect_contents "installed program.exe" "new program" "Windows 98, after the restart"
expect_gone "new program copy.tmp" "Windows 98, after the restart"
# Carried out once: the file is set aside, not left to run again.
[ -z "$(wininit)" ] || fail "Windows 98: WININIT.INI is still there after the restart"

echo "restart test passed"
