#!/usr/bin/env bash
# Installations that fail are taken back:
#
#   rollback_test.sh KELVO STUB UNINSTALLER SCHEDULE_TOOL
#
# Version 1 of a product is installed unattended. Version 2 changes its
# files, adds files in new folders, counts a shared file in the Windows
# folder once more, adds a font, rewrites the desktop shortcut, replaces a
# file in the system folder that is in use (left for the restart), and would
# write a registry value and an INI entry at its end; one entry in the
# middle of its list is copied from beside the setup, where it is missing,
# so version 2 fails there (exit 1603). Cases:
#   over version 1   the machine afterwards is exactly as before the run:
#                    every file under C: (by contents), the registry under
#                    HKLM\Software, HKCU\Software and the restart operations;
#                    the log says what was removed and restored; version 1's
#                    uninstaller then removes everything;
#   fresh            the same on a machine without the product: its folder,
#                    shortcut, count, font and uninstall key are not there;
#   rollback = false the failure stops where it stops, as setups always did:
#                    the files before the failing entry are version 2's.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
scripts="$here/../../scripts"
# shellcheck source-path=SCRIPTDIR/../../scripts source=wine-env.sh
. "$scripts/wine-env.sh"

if [ $# -ne 4 ]; then
    echo "usage: rollback_test.sh KELVO STUB UNINSTALLER SCHEDULE_TOOL" >&2
    exit 2
fi
kelvo=$1 stub=$2 uninstaller=$3 tool=$4
out="$KELVO_WINE_DIR/rollback"
rm -rf "$out"
mkdir -p "$out"
failures=0
fail() {
    echo "FAILED: $*" >&2
    failures=$((failures + 1))
}
drive_c="$WINEPREFIX/drive_c"
folder="$drive_c/Kelvo Rollback"
font=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf

python3 - "$out" <<'PY'
import os, random, sys
out = sys.argv[1]
for version in (1, 2):
    base = os.path.join(out, f"v{version}")
    for name, size in [("a.bin", 300_000), ("b.bin", 20_000), ("same.bin", 5_000),
                       ("new/deep/c.bin", 70_000), ("new/d.bin", 1_000), ("shared.txt", 100),
                       ("locked.txt", 200)]:
        if version == 1 and name.startswith("new/"):
            continue
        seed = hash(name) % 1000 + (0 if name == "same.bin" else version) * 7
        os.makedirs(os.path.dirname(os.path.join(base, name)), exist_ok=True)
        open(os.path.join(base, name), "wb").write(random.Random(seed).randbytes(size))
PY
cp "$font" "$out/v2/kelvo-rollback.ttf"

# project VERSION [ROLLBACK]: version 1, or version 2 with its failing entry.
project() {
    local version=$1 rollback=${2:-true}
    cat <<EOF
[setup]
title = "Kelvo Rollback"
rollback = $rollback

[[set]]
name = "Kelvo Rollback"
destination = "C:\\\\Kelvo Rollback"
uninstaller = "uninstall.exe"

[[set.file]]
source = "a.bin"
desktop = { name = "Kelvo Rollback", arguments = "--version $version" }

[[set.file]]
source = "b.bin"

[[set.file]]
source = "same.bin"

[[set.file]]
source = "shared.txt"
name = "kelvo-rollback-shared.txt"
destination = "windows"
shared = true

[[set.file]]
source = "locked.txt"
name = "kelvo-rollback-locked.txt"
destination = "system"

[[set.registry]]
root = "HKLM"
key = "Software\\\\Kelvo\\\\Rollback"
name = "Version"
data = "$version"
EOF
    [ "$version" = 2 ] || return 0
    cat <<EOF

[[set.file]]
source = "new/deep/c.bin"
folder = "new\\\\deep"

[[set.file]]
source = "kelvo-rollback.ttf"
destination = "fonts"

[[set.file]]
name = "missing.bin"
copy-from-setup-folder = true

[[set.file]]
source = "new/d.bin"
folder = "new"

[[set.ini]]
file = "#Destination#\\\\settings.ini"
section = "Kelvo"
key = "Version"
value = "2"
EOF
}
project 1 >"$out/v1/kelvo.toml"
project 2 >"$out/v2/kelvo.toml"
project 2 false >"$out/v2/plain.toml"
"$kelvo" build "$out/v1/kelvo.toml" -o "$out/setup1.exe" --stub "$stub" --uninstaller "$uninstaller" >/dev/null
"$kelvo" build "$out/v2/kelvo.toml" -o "$out/setup2.exe" --stub "$stub" --uninstaller "$uninstaller" >/dev/null
"$kelvo" build "$out/v2/plain.toml" -o "$out/plain2.exe" --stub "$stub" --uninstaller "$uninstaller" >/dev/null

# Exit code of a Windows program, without stopping the script.
run() {
    local status=0
    bash "$scripts/wine-run.sh" "$@" </dev/null >>"$out/wine.log" 2>&1 || status=$?
    echo "$status"
}

# A path of this machine as Wine's Z: drive shows it.
windows_path() { local path=$1; echo "Z:${path//\//\\}"; }

# The machine's state: every file under C: but the temporary folders, by
# contents, and the registry where setup writes, in one text.
snapshot() {
    local file=$1 key
    : >"$out/registry.txt"
    for key in 'HKLM\Software' 'HKCU\Software' 'HKLM\System\CurrentControlSet\Control\Session Manager'; do
        run reg export "$key" "$(windows_path "$out/part.reg")" /y >/dev/null
        iconv -f UTF-16LE -t UTF-8 "$out/part.reg" 2>/dev/null | tr -d '\r' >>"$out/registry.txt" || true
    done
    python3 - "$drive_c" "$out/registry.txt" >"$file" <<'PY'
import hashlib, os, sys
root, registry = sys.argv[1:]
for folder, dirs, files in os.walk(root):
    dirs.sort()
    rel = os.path.relpath(folder, root)
    if rel.split(os.sep)[-1] in ("Temp", "temp") or "/Temp/" in rel + "/":
        dirs[:] = []
        continue
    print("folder", rel)
    for name in sorted(files):
        path = os.path.join(folder, name)
        if os.path.islink(path):
            continue
        print("file", os.path.join(rel, name), hashlib.sha1(open(path, "rb").read()).hexdigest())
print(open(registry, encoding="utf-8", errors="replace").read())
PY
}

install_failing() {
    local setup=$1 what=$2 status
    status=$(run "$setup" /QUIET /NORESTART "/LOG=$(windows_path "$out/$what.log")")
    # Wine passes on the low 8 bits of 1603.
    [ "$status" -eq $((1603 % 256)) ] || fail "$what: exit code $status, not 1603"
    tr -d '\r' <"$out/$what.log" >"$out/$what.txt"
    grep -q '^failed.*missing.bin' "$out/$what.txt" || fail "$what: the log names no failure of missing.bin"
}

echo "=== over version 1"
rm -rf "$folder"
# The system's keys for shared counts and fonts, which a fresh prefix lacks
# and setup does not make; those made here go again at the end.
made_keys=()
for key in 'HKLM\Software\Microsoft\Windows\CurrentVersion\SharedDLLs' 'HKLM\Software\Microsoft\Windows\CurrentVersion\Fonts'; do
    [ "$(run reg query "$key")" -eq 0 ] && continue
    run reg add "$key" /f >/dev/null
    made_keys+=("$key")
done
status=$(run "$out/setup1.exe" /QUIET /NORESTART)
[ "$status" -eq 0 ] || fail "version 1 ended with $status"
snapshot "$out/before.txt"
# The system folder's file is in use while version 2 runs: it is left for
# the restart, and taken back from the restart operations.
locked=$(find "$drive_c/windows" -maxdepth 2 -iname kelvo-rollback-locked.txt | head -n 1)
[ -n "$locked" ] || fail "version 1 installed no kelvo-rollback-locked.txt in the system folder"
rm -f "$out/holding"
bash "$scripts/wine-run.sh" "$tool" hold "$(windows_path "$locked")" "$(windows_path "$out/holding")" 10 \
    </dev/null >>"$out/wine.log" 2>&1 &
holder=$!
for _ in $(seq 100); do [ -e "$out/holding" ] && break; sleep 0.1; done
[ -e "$out/holding" ] || fail "the system folder's file could not be held open"
install_failing "$out/setup2.exe" over
grep -q '^left for the restart.*kelvo-rollback-locked.txt' "$out/over.txt" ||
    fail "over version 1: the file in use was not left for the restart"
kill "$holder" 2>/dev/null || true
wait "$holder" 2>/dev/null || true
snapshot "$out/after.txt"
diff -u "$out/before.txt" "$out/after.txt" >"$out/over.diff" || fail "over version 1: the machine changed ($(grep -c '^[-+][^-+]' "$out/over.diff") lines; $out/over.diff):
$(grep '^[-+][^-+]' "$out/over.diff" | head -n 20)"
for line in '^shared library counted.*kelvo-rollback-shared.txt' '^font.*kelvo-rollback.ttf' '^undoing' '^not replaced at the restart.*kelvo-rollback-locked.txt' '^restored.*a.bin' '^restored.*Kelvo Rollback.lnk' '^removed.*new\\deep\\c.bin' \
    '^removed.*kelvo-rollback.ttf' '^removed.*\\new$'; do
    grep -q -- "$line" "$out/over.txt" || fail "over version 1: the log has no line like '$line'"
done
grep '^undoing\|^removed\|^restored' "$out/over.txt" | sed 's/^/  /'
status=$(run "$folder/uninstall.exe" /Q)
[ "$status" -eq 0 ] || fail "version 1's uninstaller ended with $status"
# /Q leaves its own file and folder to the restart.
left=$(find "$folder" -mindepth 1 ! -name uninstall.exe | head -n 5 | tr '\n' ' ')
[ -z "$left" ] || fail "version 1's uninstaller left $left"
rm -rf "$folder"

echo "=== fresh"
snapshot "$out/before.txt"
install_failing "$out/setup2.exe" fresh
snapshot "$out/after.txt"
diff -u "$out/before.txt" "$out/after.txt" >"$out/fresh.diff" || fail "fresh: the machine changed ($out/fresh.diff):
$(grep '^[-+][^-+]' "$out/fresh.diff" | head -n 20)"
[ ! -e "$folder" ] || fail "fresh: the destination folder is left"

echo "=== rollback = false"
install_failing "$out/plain2.exe" plain
cmp -s "$folder/a.bin" "$out/v2/a.bin" || fail "rollback = false: a.bin is not version 2's"
[ -f "$folder/new/deep/c.bin" ] || fail "rollback = false: new\\deep\\c.bin is not there"
grep -q '^undoing' "$out/plain.txt" && fail "rollback = false: the log says it undoes"
run reg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\SharedDLLs' /v 'C:\windows\kelvo-rollback-shared.txt' /f >/dev/null
rm -rf "$folder" "$drive_c/windows/kelvo-rollback-shared.txt" "$drive_c/windows/Fonts/kelvo-rollback.ttf" "$locked"
rm -f "$drive_c"/users/*/Desktop/"Kelvo Rollback.lnk"
for key in "${made_keys[@]}"; do run reg delete "$key" /f >/dev/null; done

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "rollback: all checks passed (3 cases: over an installation, fresh, and off)"
