#!/usr/bin/env bash
# A destination drive that fills up during the installation:
#
#   disk_full_test.sh KELVO STUB UNINSTALLER
#
# A small tmpfs is mounted and given a Wine drive letter (needs root; the
# test is skipped without). Version 1 of a payload is installed there; then
# version 2's setup runs unattended, and once its first temporary file
# appears (its space check has passed), another process fills the drive.
# Checked for each case (which file the drive fills on):
#   - the run fails: exit code 112 (the disk is full), and the log's last
#     line says so;
#   - the log's failure line names the file and gives the system's error;
#   - every file holds version 1 or version 2 whole;
#   - no temporary file is left.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
scripts="$here/../../scripts"
# shellcheck source-path=SCRIPTDIR/../../scripts source=wine-env.sh
. "$scripts/wine-env.sh"

if [ $# -ne 3 ]; then
    echo "usage: disk_full_test.sh KELVO STUB UNINSTALLER" >&2
    exit 2
fi
kelvo=$1 stub=$2 uninstaller=$3
out="$KELVO_WINE_DIR/disk-full"
small="$out/drive"
drive_link="$WINEPREFIX/dosdevices/k:"
failures=0
fail() {
    echo "FAILED: $*" >&2
    failures=$((failures + 1))
}

umount "$small" 2>/dev/null || true
rm -rf "$out"
mkdir -p "$small"
if [ "$(id -u)" -ne 0 ] || ! mount -t tmpfs -o size=40m kelvo-disk-full "$small" 2>/dev/null; then
    echo "SKIPPED: cannot mount a small tmpfs (needs root)"
    exit 77
fi
cleanup() {
    rm -f "$drive_link"
    umount "$small" 2>/dev/null || true
}
trap cleanup EXIT
ln -sfn "$small" "$drive_link"

python3 - "$out" <<'PY'
import os, random, sys
out = sys.argv[1]
for version in (1, 2):
    os.makedirs(os.path.join(out, f"v{version}"), exist_ok=True)
    for i in range(24):
        data = random.Random(i * 31 + version).randbytes(1_000_000 + i * 1000)
        open(os.path.join(out, f"v{version}", f"file{i:02d}.bin"), "wb").write(data)
PY
for version in 1 2; do
    cat >"$out/v$version/kelvo.toml" <<EOF
[setup]
title = "Kelvo Disk Full"

[[set]]
name = "Kelvo Disk Full"
destination = "K:\\\\Disk Full"
uninstaller = "uninstall.exe"

[[set.file]]
source = "*.bin"
EOF
    "$kelvo" build "$out/v$version/kelvo.toml" -o "$out/setup$version.exe" --stub "$stub" \
        --uninstaller "$uninstaller" --level 1 >/dev/null
done
folder="$small/Disk Full"

run() { bash "$scripts/wine-run.sh" "$@" </dev/null >>"$out/wine.log" 2>&1; }

# Fills the drive, leaving $1 KB, as soon as the setup's log holds $2 (its
# first line, "destination", follows the space check; "fileNN.bin" once
# that file is in place). A tight loop: on a tmpfs a file takes a few
# milliseconds.
fill_when_writing() {
    python3 - "$small" "$1" "$2" <<'PY'
import os, sys, time
drive, leave_kb, marker = sys.argv[1], int(sys.argv[2]), sys.argv[3].encode()
log = os.path.join(drive, "disk-full.log")
deadline = time.time() + 60
while time.time() < deadline:
    try:
        if marker in open(log, "rb").read():
            break
    except OSError:
        pass
else:
    sys.exit(0)
# Fills the drive but for leave_kb in one step while setup writes on; when
# that is refused (setup took some room meanwhile), in smaller steps.
with open(os.path.join(drive, "filler.part"), "wb") as f:
    stat = os.statvfs(drive)
    size, step = 0, stat.f_bavail * stat.f_frsize - leave_kb * 1024
    while step >= 4096:
        try:
            os.posix_fallocate(f.fileno(), size, step)
            size += step
        except OSError:
            step //= 2
os.rename(os.path.join(drive, "filler.part"), os.path.join(drive, "filler"))
PY
}

cases=0
hits=0
for trigger in destination file03.bin file09.bin; do
    for leave_kb in 0 500; do
        cases=$((cases + 1))
        what="case $cases (full after '$trigger', ${leave_kb} KB left)"
        rm -f "$small/filler" "$small/filler.part" "$small/disk-full.log"
        rm -rf "$folder"
        run "$out/setup1.exe" /QUIET /NORESTART || fail "$what: version 1 did not install"
        fill_when_writing "$leave_kb" "$trigger" &
        filler=$!
        status=0
        run "$out/setup2.exe" /QUIET /NORESTART '/LOG=K:\disk-full.log' || status=$?
        wait "$filler" || true
        log="$small/disk-full.log"
        last=$(tail -n 1 "$log" 2>/dev/null | tr -d '\r')
        failed=$(grep -a '^failed' "$log" 2>/dev/null | head -n 1 | tr -d '\r' || true)
        echo "  $what: exit $status; $failed"
        if [ "$status" -eq 0 ]; then
            # The setup ended before the drive was full: no case, but the
            # installation must be whole.
            cmp -s "$folder/file23.bin" "$out/v2/file23.bin" || fail "$what: exit 0, but version 2 is not whole"
            continue
        fi
        hits=$((hits + 1))
        [ "$status" -eq 112 ] || fail "$what: exit code $status, not 112"
        [[ "$last" == "exit code 112"* ]] || fail "$what: the log ends with '$last'"
        [[ "$failed" == *'K:\Disk Full\file'*'.bin'* ]] || fail "$what: the failure does not name the file: '$failed'"
        [[ "$failed" == *"space"* || "$failed" == *"full"* ]] || fail "$what: the failure gives no system error: '$failed'"
        python3 - "$folder" "$out/v1" "$out/v2" <<'PY' || fail "$what: a file holds neither version"
import os, sys
folder, v1, v2 = sys.argv[1:]
bad = [n for n in sorted(os.listdir(v1)) if n.endswith(".bin") and
       open(os.path.join(folder, n), "rb").read() not in (open(os.path.join(v1, n), "rb").read(),
                                                          open(os.path.join(v2, n), "rb").read())]
for n in bad:
    print(f"  {n} holds neither version", file=sys.stderr)
sys.exit(1 if bad else 0)
PY
        left=$(find "$folder" -name '*.$*' | tr '\n' ' ')
        [ -z "$left" ] || fail "$what: temporary files left: $left"
    done
done
echo "disk full: $cases cases tried, the drive filled during $hits installations"
[ "$hits" -ge 2 ] || fail "the drive filled during only $hits of $cases installations"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "disk full: all checks passed"
