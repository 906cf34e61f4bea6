#!/usr/bin/env bash
# The whole life of a product on a user's machine, in a Wine prefix of its
# own:
#
#   life-cycle.sh [--windows-98] PROJECT.toml FOLDER NAME [SECOND_NAME]
#
# builds the project's setup with kelvo, installs its first set (named
# NAME) into FOLDER (a Windows path) the way a person would, lists what the
# installation added to the prefix (files and folders, registry values,
# shortcuts with their targets), uninstalls NAME the way a person would
# (from its registered uninstall command: Yes to the question, No to
# keeping shared files, OK to the report), restarts Wine so that what
# waited for the restart is done, and compares the prefix with how it was
# before the installation. With SECOND_NAME (the second set's name, in a
# project whose setup removes earlier installations) it then installs the
# first set again and the second over it, lists what the second setup
# removed and added, uninstalls the second and compares again. Exits 1 when
# anything is left, or any step fails. KELVO_LIFE_SHOTS=FOLDER keeps
# pictures of the first uninstallation's message boxes there.
#
# The prefix (build/wine/life-cycle/prefix, or build/wine64/... with
# KELVO_WINE_ARCH=win64; a copy of the template) gets its own wineserver and
# Xvfb, so the comparison sees nothing of other programs and the restart
# touches nothing else. With --windows-98 the prefix tells
# programs it is Windows 98 (platform 1), where files wait for the restart
# in WININIT.INI. Runs of this script are serialised.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source-path=SCRIPTDIR source=wine-env.sh
. "$here/wine-env.sh"

windows_98=""
if [ "${1:-}" = --windows-98 ]; then
    windows_98=1
    shift
fi
if [ $# -lt 3 ] || [ $# -gt 4 ] || [ ! -f "$1" ]; then
    echo "usage: life-cycle.sh [--windows-98] PROJECT.toml FOLDER NAME [SECOND_NAME]" >&2
    exit 2
fi
project="$1" folder="$2" name="$3" second_name="${4:-}"
# The native kelvo builds the setup from the setup and uninstall programs of
# this kind of Wine (KELVO_WINE_ARCH, see wine-env.sh), which also runs the
# driver of that kind.
kelvo="$KELVO_NATIVE_BIN/kelvo"
bin="$KELVO_WINDOWS_BIN"
work="$KELVO_WINE_DIR/life-cycle${windows_98:+-98}"
setup="$work/setup.exe"
log="$work/wine.log"
prefix="$work/prefix"

fail() {
    echo "life cycle FAILED: $*" >&2
    echo "(Wine's output: $log; the prefix is kept for a look)" >&2
    exit 1
}

finish() {
    local status=$?
    kelvo_private_wine_stop
    [ "$status" -ne 0 ] || rm -rf "$prefix"  # 600 MB; a failed run keeps it
    exit "$status"
}
trap finish EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

mkdir -p "$work"
exec 8>"$KELVO_WINE_DIR/life-cycle.lock"
flock 8
: >"$log"

# Runs a Windows program of the build; its output (without carriage
# returns) goes to stdout through a file, since Wine services started along
# the way outlive it and would keep a pipe open.
run() {
    local status=0
    wine "$@" </dev/null >"$work/out" 2>>"$log" 8>&- || status=$?
    tr -d '\r' <"$work/out"
    return "$status"
}

start_prefix() {
    kelvo_private_wine_start "$prefix" "$work/home" "$log" "$work/display" || fail "no private Wine session"
    # Wine's own first-run work (services, desktop) before the first picture.
    wineboot </dev/null >>"$log" 2>&1 8>&- || fail "wineboot failed"
    if [ -n "$windows_98" ]; then
        wine reg add 'HKCU\Software\Wine' /v Version /d win98 /f </dev/null >>"$log" 2>&1 8>&- ||
            fail "cannot make the prefix Windows 98"
    fi
    # Windows has the key where shared files are counted; Wine makes none.
    wine reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion\SharedDLLs' /f </dev/null >>"$log" 2>&1 8>&- ||
        fail "cannot make the SharedDLLs key"
}

# Registry values under a root, one line each: key\name=data. Continued
# lines of long values are joined first.
registry_lines() {
    local root="$1" file="$work/export.reg"
    rm -f "$file"
    # Right after a restart, under load, Wine's reg has been seen to fail
    # once with "The operation completed successfully": it gets two more tries.
    local try
    for try in 1 2 3; do
        wine reg export "$root" "$(winepath -w "$file" 2>>"$log")" /y </dev/null >>"$log" 2>&1 8>&- && break
        [ "$try" -lt 3 ] || fail "wine reg export $root failed"
        sleep 1
    done
    iconv -f UTF-16LE -t UTF-8 "$file" | tr -d '\r' | sed -e ':a' -e '/\\$/N; s/\\\n *//; ta' |
        awk '/^\[/ { key = substr($0, 2, length($0) - 2); next } /^$/ { next } key != "" { print key "\\" $0 }'
}

# What a user sees of the machine: every file and folder on drive C (the
# temporary folders aside) and the registry values of the machine and user.
snapshot() {
    (cd "$WINEPREFIX/drive_c" &&
        find . -ipath './users/*/temp' -prune -o -ipath './windows/temp' -prune -o -print | sed 's|^\./|C:/|')
    registry_lines 'HKEY_LOCAL_MACHINE\Software'
    registry_lines 'HKEY_CURRENT_USER\Software'
}

# Lines that Wine itself changes as it runs, whatever a program does. On
# Windows 95 and 98 the restart keeps the list it carried out as
# WININIT.BAK, as those systems do.
wine_noise() {
    grep -v -i -e '^C:/windows/wininit\.bak$' -e '\\Software\\Wine\\' -e '^HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer' \
        -e '^HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Perflib' || true
}

# Lines of $2 that $1 has not.
added() { LC_ALL=C comm -13 <(LC_ALL=C sort -u "$1") <(LC_ALL=C sort -u "$2"); }

# Installs set $1 through the wizard; its snapshot goes to $work/$2.
install_set() {
    local out="$work/install-$2.out" status=0
    run "$bin/kelvo-driver.exe" install "$(winepath -w "$setup" 2>>"$log")" --set "$1" --to "$folder" \
        --timeout 120 >"$out" || status=$?
    sed 's/^/  /' "$out"
    # The driver's account goes with the failure even where stdout is not shown.
    [ "$status" -eq 0 ] || { sed 's/^/  /' "$out" >&2; fail "the installation of set $1 did not end well"; }
    snapshot | wine_noise >"$work/$2"
}

# Lists the files and folders, registry values and shortcuts in $1; with
# $2 "gone" the shortcuts are only named, since they cannot be read.
list_lines() {
    echo "--- files and folders"
    grep '^C:/' "$1" | sed 's/^/  /' || echo "  (none)"
    echo "--- registry values"
    grep '^HKEY' "$1" | sed 's/^/  /' || echo "  (none)"
    echo "--- shortcuts"
    local links windows_links=() link
    mapfile -t links < <(grep -i '^C:/.*\.lnk$' "$1" || true)
    if [ "${#links[@]}" -eq 0 ] || [ "${2:-}" = gone ]; then
        [ "${#links[@]}" -gt 0 ] || echo "  (none)"
        for link in "${links[@]}"; do echo "  $link"; done
        return
    fi
    for link in "${links[@]}"; do windows_links+=("$(echo "$link" | sed 's|/|\\|g')"); done
    run "$bin/kelvo-driver.exe" shortcut "${windows_links[@]}" | sed 's/^/  /' || fail "a shortcut cannot be read"
}

# Uninstalls $1 as a person would, restarts Wine and compares the prefix
# with $work/before. With KELVO_LIFE_SHOTS (a folder) the first
# uninstallation's message boxes are saved there as pictures.
uninstall_and_compare() {
    echo "=== uninstalling \"$1\""
    local shots=()
    if [ -n "${KELVO_LIFE_SHOTS:-}" ] && [ -z "${shots_taken:-}" ]; then
        mkdir -p "$KELVO_LIFE_SHOTS"
        shots=(--shots "$(winepath -w "$KELVO_LIFE_SHOTS" 2>>"$log")")
        shots_taken=1
    fi
    run "$bin/kelvo-driver.exe" uninstall "$1" "${shots[@]}" | sed 's/^/  /' ||
        fail "the uninstallation did not end well"
    restart_and_compare
}

# Restarts Wine and compares the prefix with $work/before. A file given as
# $1 (C:/...) may be left on purpose: it is named and then removed.
restart_and_compare() {
    local kept="${1:-}"
    echo "=== restarting Wine: files that waited for the restart go now"
    wineboot -r </dev/null >>"$log" 2>&1 8>&- || fail "wineboot -r failed"
    snapshot | wine_noise >"$work/after"
    # The snapshots pass over the temporary folders; the uninstaller's copy
    # there must have gone with the restart.
    local copies
    copies=$(find "$WINEPREFIX/drive_c" -ipath '*/temp/_uninst*' | head -n3)
    [ -z "$copies" ] || fail "the uninstaller's copy is still there: $copies"
    echo "=== what is left"
    added "$work/before" "$work/after" >"$work/left"
    if [ -n "$kept" ] && grep -qxF "$kept" "$work/left"; then
        echo "  kept on purpose: $kept"
        rm -f "$WINEPREFIX/drive_c/${kept#C:/}"
        grep -vxF "$kept" "$work/left" >"$work/left.rest" || true
        mv "$work/left.rest" "$work/left"
    fi
    LC_ALL=C comm -23 <(LC_ALL=C sort -u "$work/before") <(LC_ALL=C sort -u "$work/after") >"$work/lost"
    if [ -s "$work/left" ] || [ -s "$work/lost" ]; then
        sed 's/^/  left: /' "$work/left"
        sed 's/^/  lost: /' "$work/lost"
        fail "the prefix is not as it was before the installation"
    fi
    echo "  nothing: every file, folder, shortcut and registry value is as before the installation"
}

# Runs `command line` exactly as written, through a batch file in the
# prefix (wine would quote arguments that hold blanks as a whole); its exit
# code (the low byte, as Wine passes it on) is the function's.
run_command_line() {
    printf '@%s\r\nexit /b %%errorlevel%%\r\n' "$1" >"$WINEPREFIX/drive_c/kelvo-life.bat"
    local status=0
    wine cmd /c 'C:\kelvo-life.bat' </dev/null >>"$log" 2>&1 8>&- || status=$?
    rm -f "$WINEPREFIX/drive_c/kelvo-life.bat"
    return "$status"
}

uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'

# The set installed without a person, with every option of a run without
# one; its log and the values of its registration; then the quiet uninstall
# it registered, after which the prefix must be as before.
quiet_cycle() {
    local setup_w log_w='C:\users\Public\kelvo-quiet.log' status=0
    setup_w=$(winepath -w "$setup" 2>>"$log")
    local line="\"$setup_w\" /QUIET /NORESTART /INSTALLSET=\"$name\" /TARGET=\"$folder\" /LOG=\"$log_w\""
    echo "=== \"$name\" without a person: $line"
    run_command_line "$line" || status=$?
    echo "  exit code $status"
    [ "$status" -eq 0 ] || fail "the run without a person ended with $status"
    echo "--- its log"
    tr -d '\r' <"$WINEPREFIX/drive_c/users/Public/kelvo-quiet.log" | sed 's/^/  /'
    rm -f "$WINEPREFIX/drive_c/users/Public/kelvo-quiet.log"
    echo "--- its registration"
    wine reg query "$uninstall_key\\$name" </dev/null 2>>"$log" 8>&- | tr -d '\r' | grep . | sed 's/^/  /'
    local quiet
    quiet=$(wine reg query "$uninstall_key\\$name" /v QuietUninstallString </dev/null 2>>"$log" 8>&- | tr -d '\r' |
        sed -n 's/^ *QuietUninstallString *REG_SZ *//p')
    [ -n "$quiet" ] || fail "no QuietUninstallString is registered"
    echo "=== the quiet uninstall: $quiet"
    status=0
    run_command_line "$quiet" || status=$?
    echo "  exit code $status"
    [ "$status" -eq 0 ] || fail "the quiet uninstall ended with $status"
    # With nobody to ask, a shared file no program counts any more is kept.
    restart_and_compare "C:/windows/kelvo-demo-common.txt"
}

echo "=== building $project"
"$kelvo" build "$project" -o "$setup" --stub "$bin/kelvo-setup.exe" --uninstaller "$bin/kelvo-uninstall.exe" \
    >/dev/null || fail "kelvo build failed"
echo "=== a fresh Wine prefix: $prefix"
start_prefix
snapshot | wine_noise >"$work/before"

echo "=== installing \"$name\" into $folder"
install_set 0 installed
echo "=== what the installation added"
added "$work/before" "$work/installed" >"$work/added"
grep -q '^C:/' "$work/added" || fail "the installation added no file"
list_lines "$work/added"
uninstall_and_compare "$name"
# Windows 95 and 98 cannot remove a folder at the restart, so the quiet
# uninstall's own folder would stay there: the quiet cycle runs on NT.
[ -n "$windows_98" ] || quiet_cycle

[ -n "$second_name" ] || exit 0
echo "=== \"$name\" again, then \"$second_name\" over it"
install_set 0 first >/dev/null
install_set 1 second
echo "=== what the second setup removed (it ran the first set's uninstaller with /X)"
LC_ALL=C comm -23 <(LC_ALL=C sort -u "$work/first") <(LC_ALL=C sort -u "$work/second") >"$work/removed"
list_lines "$work/removed" gone
echo "=== what it added"
added "$work/first" "$work/second" >"$work/added"
list_lines "$work/added"
uninstall_and_compare "$second_name"
