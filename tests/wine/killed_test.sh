#!/usr/bin/env bash
# Setups and uninstallers killed at seeded random moments:
#
#   killed_test.sh KELVO STUB UNINSTALLER [KILL_POINTS]
#
# A mixed payload (files of many sizes, in folders) is installed as version
# 1; then, at each kill point, version 2's setup (most files changed, some
# new) is killed (kill -9, as TerminateProcess would) after a seeded random
# delay within the time a whole installation takes. After each kill:
#   - every destination file holds version 1's contents or version 2's,
#     never a part (a file new in version 2 is absent or whole);
#   - running version 2's setup again completes the installation, and no
#     temporary file of the killed run is left in the destination folders
#     (the journal the killed run left names them), and no journal stays;
#   - a file that only looks like a temporary file of ours, put there by
#     someone else, is never deleted.
# Then version 1 is put back for the next point. At the end the uninstaller
# removes everything. The uninstaller itself is killed the same way: run
# again, it finishes the job and leaves a file its log does not list.
# The figures are printed: kill points tried, and where each one hit.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
scripts="$here/../../scripts"
# shellcheck source-path=SCRIPTDIR/../../scripts source=wine-env.sh
. "$scripts/wine-env.sh"

if [ $# -lt 3 ]; then
    echo "usage: killed_test.sh KELVO STUB UNINSTALLER [KILL_POINTS]" >&2
    exit 2
fi
kelvo=$1 stub=$2 uninstaller=$3 kill_points=${4:-20}
uninstall_kill_points=6
out="$KELVO_WINE_DIR/killed"
rm -rf "$out"
mkdir -p "$out"
failures=0
fail() {
    echo "FAILED: $*" >&2
    failures=$((failures + 1))
}

folder="$WINEPREFIX/drive_c/Kelvo Killed"
journal_of() { find "$WINEPREFIX/drive_c/users" -name kelvo-journal.tmp 2>/dev/null; }

# The payload: version 1 and version 2 trees from one seed.
python3 - "$out" <<'PY'
import os, random, sys
out = sys.argv[1]
rng = random.Random(4242)
sizes = [rng.choice([300, 2_000, 20_000, 90_000, 400_000, 1_500_000]) + rng.randrange(1000) for _ in range(160)]
for version in (1, 2):
    for i, size in enumerate(sizes):
        if version == 1 and i % 10 == 9:
            continue  # new in version 2
        name = os.path.join(out, f"v{version}", f"part{i % 4}", f"file{i:03d}.bin")
        os.makedirs(os.path.dirname(name), exist_ok=True)
        changed = version == 2 and i % 7 != 0  # a few files stay the same
        open(name, "wb").write(random.Random(i * 7919 + (2 if changed else 1)).randbytes(size))
PY
for version in 1 2; do
    cat >"$out/v$version/kelvo.toml" <<EOF
[setup]
title = "Kelvo Killed"

[[set]]
name = "Kelvo Killed"
destination = "C:\\\\Kelvo Killed"
uninstaller = "uninstall.exe"

[[set.file]]
source = "**/*.bin"
EOF
    "$kelvo" build "$out/v$version/kelvo.toml" -o "$out/setup$version.exe" --stub "$stub" \
        --uninstaller "$uninstaller" >/dev/null
done

run() { bash "$scripts/wine-run.sh" "$@" </dev/null >>"$out/wine.log" 2>&1; }

# Runs a program (the rest of the arguments), kills every process whose
# command line holds $2 after $1 seconds; returns 0 when the kill hit the
# running program, 1 when it had already ended.
run_and_kill() {
    local delay=$1 pattern=$2
    shift 2
    bash "$scripts/wine-run.sh" "$@" </dev/null >>"$out/wine.log" 2>&1 &
    local runner=$!
    sleep "$delay"
    local hit=1
    if pkill -9 -f "$pattern" 2>/dev/null; then hit=0; fi
    wait "$runner" 2>/dev/null || true
    # The server closes the killed process's handles; wait for it to be gone.
    # (A handle the server has not closed yet is noted again by the next run
    # and removed by the one after; the checks below expect it gone at once.)
    for _ in $(seq 50); do pgrep -f "$pattern" >/dev/null || break; sleep 0.1; done
    sleep 0.3
    return $hit
}

# Every file under the destination against the two versions.
check_contents() {
    python3 - "$folder" "$out/v1" "$out/v2" "$1" <<'PY'
import os, sys
folder, v1, v2, when = sys.argv[1:]
bad = []
for root, _dirs, names in os.walk(v2):
    for name in names:
        if not name.endswith(".bin"):
            continue
        rel = os.path.relpath(os.path.join(root, name), v2)
        target = os.path.join(folder, rel)
        if not os.path.exists(target):
            if os.path.exists(os.path.join(v1, rel)):
                bad.append(f"{rel} is missing")
            continue
        data = open(target, "rb").read()
        old = os.path.join(v1, rel)
        if data != open(os.path.join(v2, rel), "rb").read() and not (os.path.exists(old) and data == open(old, "rb").read()):
            bad.append(f"{rel} holds neither version ({len(data)} bytes)")
for line in bad[:5]:
    print(f"FAILED: {when}: {line}", file=sys.stderr)
sys.exit(1 if bad else 0)
PY
}

leftovers() { find "$folder" -name '*.$*' 2>/dev/null | sort; }

# $3 seeded delays from $1, spread over the last two thirds of $2 seconds
# (the first third is mostly Wine starting the program).
delays() { python3 -c "import random; r = random.Random($1); print(' '.join('%.2f' % (r.uniform($2 / 3, $2)) for _ in range($3)))"; }

# Seconds a whole run of the program (the arguments) takes.
time_run() {
    local start
    start=$(date +%s.%N)
    local status=0
    run "$@" || status=$?
    [ "$status" -eq 0 ] || fail "$* did not complete (exit code $status)"
    python3 -c "print(max(0.5, $(date +%s.%N) - $start))"
}

echo "=== version 1, and how long a whole installation takes"
rm -rf "$folder"
whole=$(time_run "$out/setup1.exe" /QUIET /NORESTART)
echo "  a whole installation: ${whole}s"

# A file that only looks like one of our temporary files.
mkdir -p "$folder/part0"
echo "not ours" >"$folder/part0/file000.\$\$B"

hits=0
point=0
for delay in $(delays 1701 "$whole" "$kill_points"); do
    point=$((point + 1))
    if run_and_kill "$delay" "killed/setup2.exe" "$out/setup2.exe" /QUIET /NORESTART; then
        hits=$((hits + 1))
        state="killed after ${delay}s, $(leftovers | grep -vc 'file000\.\$\$B$' || true) temporary file(s) left"
    else
        state="ended before ${delay}s"
    fi
    echo "  kill point $point: $state"
    journal=$(journal_of)
    [ -z "$journal" ] || cp "$journal" "$out/journal-after-kill-$point"
    check_contents "kill point $point" || fail "kill point $point: a file holds neither version"
    run "$out/setup2.exe" /QUIET /NORESTART || fail "kill point $point: the setup run again did not complete"
    check_contents "kill point $point, run again" || fail "kill point $point: run again, a file holds neither version"
    cmp -s "$folder/part1/file005.bin" "$out/v2/part1/file005.bin" || fail "kill point $point: run again, version 2 is not complete"
    [ -z "$(leftovers | grep -v 'file000\.\$\$B$')" ] ||
        fail "kill point $point: temporary files left: $(leftovers | tr '\n' ' '); the killed run's journal: $(tail -c 400 "$out/journal-after-kill-$point" 2>&1 | tr '\n' ' ')"
    [ -f "$folder/part0/file000.\$\$B" ] || fail "kill point $point: a file that only looks like ours was deleted"
    [ -z "$(journal_of)" ] || fail "kill point $point: the journal stays after a whole run"
    run "$out/setup1.exe" /QUIET /NORESTART || fail "kill point $point: version 1 did not go back"
done
echo "setup: $kill_points kill points tried, $hits hit a running setup"
[ "$hits" -ge $((kill_points / 2)) ] || fail "only $hits of $kill_points kill points hit a running setup"

echo "=== the uninstaller, killed"
run "$out/setup2.exe" /QUIET /NORESTART || fail "version 2 did not install"
cp "$folder/uninstall.exe" "$out/uninstall.exe"
whole=$(time_run 'C:\Kelvo Killed\uninstall.exe' /Q)
echo "  a whole uninstall: ${whole}s"
run "$out/setup2.exe" /QUIET /NORESTART || fail "version 2 did not install again"
echo "mine" >"$folder/part1/user-notes.txt"
uninstall_hits=0
point=0
for delay in $(delays 1702 "$whole" "$uninstall_kill_points"); do
    point=$((point + 1))
    if run_and_kill "$delay" "Killed.uninstall.exe" 'C:\Kelvo Killed\uninstall.exe' /Q; then
        uninstall_hits=$((uninstall_hits + 1))
        echo "  kill point $point: killed after ${delay}s, $(find "$folder" -name '*.bin' | wc -l) of 160 files left"
    else
        echo "  kill point $point: ended before ${delay}s"
    fi
    run 'C:\Kelvo Killed\uninstall.exe' /Q || fail "uninstaller kill point $point: run again, it did not finish"
    [ -z "$(find "$folder" -name '*.bin' 2>/dev/null)" ] || fail "uninstaller kill point $point: files are left"
    [ -f "$folder/part1/user-notes.txt" ] || fail "uninstaller kill point $point: it removed a file its log does not list"
    [ -f "$folder/part0/file000.\$\$B" ] || fail "uninstaller kill point $point: it removed a file its log does not list"
    run "$out/setup2.exe" /QUIET /NORESTART || fail "uninstaller kill point $point: version 2 did not go back"
done
echo "uninstaller: $uninstall_kill_points kill points tried, $uninstall_hits hit it running"

echo "=== the uninstaller removes everything"
run 'C:\Kelvo Killed\uninstall.exe' /Q || fail "the last uninstall did not finish"
[ -z "$(find "$folder" -name '*.bin' 2>/dev/null)" ] || fail "the last uninstall left files"
rm -rf "$folder"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "killed: all checks passed"
