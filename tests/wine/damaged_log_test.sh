#!/usr/bin/env bash
# A real installation whose uninstaller's log is then damaged:
#
#   damaged_log_test.sh KELVO STUB UNINSTALLER
#
# tests/fixtures/damaged-log is installed under Wine; then, one at a time,
# the log appended to the installed uninstaller gets a counted string that
# runs past the end of its record, a file list count larger than the
# records that follow, or is cut just before its end record. Each time the
# quiet uninstall (/Q) must end with the damaged-log code (1610; Wine passes
# on its low byte) and remove nothing: files, folders, shortcuts, the
# registry value, the INI entry and the uninstall key all stay. The intact
# uninstaller then removes everything.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
scripts="$here/../../scripts"
# shellcheck source-path=SCRIPTDIR/../../scripts source=wine-env.sh
. "$scripts/wine-env.sh"

if [ $# -ne 3 ]; then
    echo "usage: damaged_log_test.sh KELVO STUB UNINSTALLER" >&2
    exit 2
fi
kelvo=$1 stub=$2 uninstaller=$3
out="$KELVO_WINE_DIR/damaged-log"
rm -rf "$out"
mkdir -p "$out"
failures=0
damaged_code=$((1610 % 256))

fail() {
    echo "FAILED: $*" >&2
    failures=$((failures + 1))
}

drive_c="$WINEPREFIX/drive_c"
folder="$drive_c/Kelvo Damaged Log"
installed="$folder/uninstall.exe"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Kelvo Damaged Log'

# Exit code of a Windows program, without stopping the script.
run() {
    local status=0
    bash "$scripts/wine-run.sh" "$@" </dev/null >>"$out/wine.log" 2>&1 || status=$?
    echo "$status"
}

key_exists() { [ "$(run reg query "$1" /v "$2")" -eq 0 ]; }

# Everything the installation made, by kind; "present" or "absent" for all.
expect_installation() {
    local state=$1 when=$2 path
    local paths=("$folder/readme.txt" "$folder/Docs/notes.txt" "$folder/Data" "$folder/settings.ini")
    paths+=("$drive_c"/users/*/Desktop/"Kelvo Damaged Log read-me.lnk")
    paths+=("$drive_c"/users/*/AppData/Roaming/Microsoft/Windows/"Start Menu"/Programs/"Kelvo Damaged Log"/"Read me.lnk")
    for path in "${paths[@]}"; do
        if [ "$state" = present ] && [ ! -e "$path" ]; then fail "$when: $path is gone"; fi
        if [ "$state" = absent ] && [ -e "$path" ]; then fail "$when: $path is left"; fi
    done
    local key=absent value=absent
    key_exists "$uninstall_key" DisplayName && key=present
    key_exists 'HKCU\Software\Kelvo\Damaged Log' Version && value=present
    [ "$key" = "$state" ] || fail "$when: the uninstall key is $key"
    [ "$value" = "$state" ] || fail "$when: the registry value is $value"
    if [ "$state" = present ]; then
        grep -qsF "InstalledBy=Kelvo" "$folder/settings.ini" || fail "$when: the INI entry is gone"
    fi
}

# Writes the damaged copy of uninstaller $1 to $2: python3 damage.py KIND IN OUT.
cat >"$out/damage.py" <<'PY'
import struct, sys

kind, source, target = sys.argv[1:]
data = bytearray(open(source, "rb").read())
# The image ends where its furthest section ends; the records follow it.
pe = struct.unpack_from("<I", data, 0x3C)[0]
sections = struct.unpack_from("<H", data, pe + 6)[0]
table = pe + 24 + struct.unpack_from("<H", data, pe + 20)[0]
at = max(sum(struct.unpack_from("<II", data, table + 40 * i + 16)) for i in range(sections))
while True:
    record, length = struct.unpack_from("<H", data, at)[0], struct.unpack_from("<I", data, at + 4)[0]
    if record == 0x1235:  # the file list: u32 count, then counted folder, counted name, flags
        break
    at += 8 + length
body, end = at + 8, at + 8 + length
if kind == "string":
    # The first folder's length, one byte past the list's end.
    struct.pack_into("<H", data, body + 4, end - (body + 6) + 1)
elif kind == "count":
    struct.pack_into("<I", data, body, struct.unpack_from("<I", data, body)[0] + 1)
elif kind == "cut":
    assert struct.unpack_from("<H", data, len(data) - 8)[0] == 0x7F7F
    del data[-8:]
open(target, "wb").write(data)
PY

echo "=== installing tests/fixtures/damaged-log"
"$kelvo" build "$here/../fixtures/damaged-log/kelvo.toml" -o "$out/setup.exe" --stub "$stub" \
    --uninstaller "$uninstaller" >/dev/null
rm -rf "$folder"
status=$(run "$out/setup.exe" /QUIET /NORESTART)
[ "$status" -eq 0 ] || fail "the setup ended with $status"
[ -f "$installed" ] || { echo "FAILED: no uninstaller installed" >&2; exit 1; }
cp "$installed" "$out/uninstall.intact.exe"
expect_installation present "after the installation"

for kind in string count cut; do
    echo "=== a damaged log: $kind"
    python3 "$out/damage.py" "$kind" "$out/uninstall.intact.exe" "$installed"
    cmp -s "$installed" "$out/uninstall.intact.exe" && fail "$kind: the log was not changed"
    status=$(run 'C:\Kelvo Damaged Log\uninstall.exe' /Q)
    echo "  exit code $status"
    [ "$status" -eq "$damaged_code" ] || fail "$kind: the quiet uninstall ended with $status, not $damaged_code (1610)"
    [ -f "$installed" ] || fail "$kind: the uninstaller itself is gone"
    expect_installation present "$kind"
    cp "$out/uninstall.intact.exe" "$installed"
done

echo "=== the intact log"
status=$(run 'C:\Kelvo Damaged Log\uninstall.exe' /Q)
[ "$status" -eq 0 ] || fail "the intact quiet uninstall ended with $status"
expect_installation absent "the intact uninstall"
# /Q leaves the running uninstaller itself to the next restart.
rm -rf "$folder"

if [ "$failures" -ne 0 ]; then
    echo "damaged log test: $failures failure(s)" >&2
    exit 1
fi
echo "damaged log test passed"
