#!/usr/bin/env bash
# Installation under Wine, ours against NSIS, in one run and one private
# Wine prefix, on three payload shapes made here (seeded, so every run has
# the same bytes; half compressible text, half random) and one of real
# programs:
#   single  one large file
#   mixed   nested folders of files from 100 B to a few MB
#   small   many files of 100 B to 4 KB
#   real    Wine's own i386 PE libraries and executables (from the wine32
#           package), every fourth by size
# Each payload becomes a kelvo setup and two NSIS installers (zlib, and
# solid LZMA). Ours is worked through its wizard by kelvo-driver once, then
# runs without a person (/QUIET) beside NSIS's silent install (/S /D=...):
# those two, and each one's silent uninstall, run BENCH_RUNS times (default
# 3) in turn and the best time of each counts. engine_bench then times our
# engine alone on the same setup. Every installed tree is checked against
# the payload. Each installation is then removed by its own uninstaller in
# place: the wizard's with /X (progress window, as a setup runs it), the
# quiet one's with /Q (the QuietUninstallString, no window), NSIS's with
# /S _?=; the folder must be left with nothing but the uninstaller's file.
#
# The last lines are the ratios of ours without a person to NSIS zlib
# (time, lower is better), and what rollback costs on the mixed payload
# (/QUIET with it over without it, installing fresh and over itself):
#   install ours/nsis-zlib: single R mixed R small R real R
#   uninstall ours/nsis-zlib: single R mixed R small R real R
#   rollback on/off mixed: fresh R over-itself R
# and the size of our setup over NSIS's solid-LZMA installer:
#   size ours/nsis-lzma: real R mixed R
#
# Scale: by default the payloads are a quarter of the full size (25 MB,
# 150 files of 16 MB, 750 small files, every sixteenth real program) to
# keep `make bench` short; BENCH_FULL=1 runs 100 MB, 600 files of 65 MB,
# 3,000 small files and every fourth real program (about 150 MB).
#
# KELVO (native tool, default build/bin/kelvo) and KELVO_WINDOWS_BIN (the
# folder with kelvo-setup.exe, kelvo-uninstall.exe, kelvo-driver.exe and
# engine_bench.exe, default build/bin) choose the programs. With
# KELVO_WINE_ARCH=win64 (where the kernel runs no 32-bit programs) the
# 64-bit test build's programs (build/bin64) run under 64-bit Wine, against
# NSIS installers made for amd64 (NSIS makes those Unicode only).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kelvo=${KELVO:-$root/build/bin/kelvo}
if [ "${KELVO_WINE_ARCH:-win32}" = win64 ]; then
    windows_bin=${KELVO_WINDOWS_BIN:-$root/build/bin64}
    nsis_target=amd64-unicode nsis_charset="Target amd64-unicode"
else
    windows_bin=${KELVO_WINDOWS_BIN:-$root/build/bin}
    nsis_target=x86-ansi nsis_charset="Unicode false"
fi
stub=$windows_bin/kelvo-setup.exe
uninstaller=$windows_bin/kelvo-uninstall.exe
driver=$windows_bin/kelvo-driver.exe
engine=$windows_bin/engine_bench.exe
nsis_stubs=/usr/share/nsis/Stubs
pace_ms=50          # the classic pace: one entry per 50 ms tick
runs=${BENCH_RUNS:-3}
slack_seconds=120   # time a wizard run may take beyond its pace and the setup's work

# Each scale keeps its own payloads and installers for the next run.
if [ "${BENCH_FULL:-0}" = 1 ]; then
    scale=1 scale_note="full size (BENCH_FULL=1)" work=$root/build/bench/install-full
else
    scale=0.25 scale_note="a quarter of full size; BENCH_FULL=1 for 100 MB / 600 files / 3,000 files"
    work=$root/build/bench/install
fi

for program in "$kelvo" "$stub" "$uninstaller" "$driver" "$engine"; do
    [ -f "$program" ] || { echo "install_bench: $program is missing (build first)" >&2; exit 1; }
done
command -v makensis >/dev/null || { echo "install_bench: makensis is missing (make deps)" >&2; exit 1; }

# shellcheck source-path=SCRIPTDIR/../scripts source=../scripts/wine-env.sh
. "$root/scripts/wine-env.sh"
mkdir -p "$work"
exec 8>"$work/lock"
flock 8

# ---------------------------------------------------------------------------
# Payloads: build/bench/install[-full]/<shape>/payload, made again only when
# the generator changed.
make_payload() {
    local shape=$1 folder=$work/$1/payload stamp="generator-1 $1 $scale"
    [ "$(cat "$work/$shape/stamp" 2>/dev/null)" = "$stamp" ] && return
    rm -rf "$folder" && mkdir -p "$folder"
    python3 - "$shape" "$folder" "$scale" <<'EOF'
import math, os, random, sys

shape, folder, scale = sys.argv[1], sys.argv[2], float(sys.argv[3])
rng = random.Random(20240611)
MB = 1 << 20
BLOCK = MB  # the single file alternates text and random data per block
vocabulary = ["".join(rng.choice("etaoinshrdlucmfwypvbgkjqxz") for _ in range(rng.randint(2, 10)))
              for _ in range(4000)]

def text(size):
    words = rng.choices(vocabulary, k=size // 5 + 8)
    for i in range(12, len(words), 13):
        words[i] += ".\n"
    return " ".join(words).encode()[:size]

def data(size, compressible):
    return text(size) if compressible else rng.randbytes(size)

def write(relative, content):
    path = os.path.join(folder, relative)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(content)

def nested_folders(count, depth):
    names = ["docs", "data", "lib", "assets", "media", "plugins", "lang", "help", "samples", "tools"]
    return ["/".join(f"{rng.choice(names)}{rng.randint(1, 9)}" for _ in range(rng.randint(1, depth)))
            for _ in range(count)]

def file_name(i, compressible):
    return f"file{i:05d}" + (".txt" if compressible else ".bin")

if shape == "single":
    total, blocks = int(100 * MB * scale), []
    for at in range(0, total, BLOCK):
        blocks.append(data(min(BLOCK, total - at), rng.random() < 0.5))
    write("payload.dat", b"".join(blocks))
elif shape == "mixed":
    count, total = int(600 * scale), int(65 * MB * scale)
    folders = nested_folders(max(4, count // 15), 3)
    # Sizes spread over 100 B .. 3 MB on a log scale, most of them small,
    # then scaled to the total.
    drawn = [100 * (30000 ** (rng.random() ** 1.5)) for _ in range(count)]
    factor = total / sum(drawn)
    for i, size in enumerate(drawn):
        compressible = i % 2 == 0
        write(f"{rng.choice(folders)}/{file_name(i, compressible)}", data(max(100, int(size * factor)), compressible))
elif shape == "small":
    count = int(3000 * scale)
    folders = nested_folders(max(4, count // 100), 2)
    for i in range(count):
        compressible = i % 2 == 0
        write(f"{folders[i % len(folders)]}/{file_name(i, compressible)}", data(rng.randint(100, 4096), compressible))
elif shape == "real":
    # Real Windows programs: Wine's own i386 PE libraries and executables
    # (the wine32 package), every fourth by size (about 150 MB); at a
    # quarter of full size every sixteenth.
    source = "/usr/lib/i386-linux-gnu/wine/i386-windows"
    files = sorted((os.path.getsize(os.path.join(source, n)), n) for n in os.listdir(source)
                   if os.path.isfile(os.path.join(source, n)))
    step = 4 if scale >= 1 else 16
    for _size, name in files[::step]:
        with open(os.path.join(source, name), "rb") as f:
            write(name, f.read())
EOF
    echo "$stamp" >"$work/$shape/stamp"
}

# Our project and the two NSIS scripts for a payload.
write_projects() {
    local shape=$1 folder=$work/$1
    cat >"$folder/kelvo.toml" <<EOF
[setup]
title = "Bench $shape"

[[set]]
name = "Bench $shape"
destination = "C:\\\\bench\\\\default"
uninstaller = "uninst.exe"

[[set.file]]
source = "payload/**"
EOF
    # The same setup without rollback, to show what rollback costs.
    sed 's/^title = .*/&\nrollback = false/' "$folder/kelvo.toml" >"$folder/kelvo-no-rollback.toml"
    local compressor
    for compressor in zlib lzma; do
        cat >"$folder/nsis-$compressor.nsi" <<EOF
$nsis_charset
SetCompressor $([ "$compressor" = lzma ] && echo "/SOLID lzma" || echo zlib)
Name "Bench $shape"
OutFile "$folder/nsis-$compressor.exe"
InstallDir "C:\\bench\\default"
RequestExecutionLevel user
Page directory
Page instfiles
Section
  SetOutPath "\$INSTDIR"
  File /r "$folder/payload/*"
  WriteUninstaller "\$INSTDIR\\uninst.exe"
SectionEnd
Section "Uninstall"
  RMDir /r "\$INSTDIR"
SectionEnd
EOF
    done
}

# Installers, NSIS ones made again only when their script or payload changed.
build_installers() {
    local shape=$1 folder=$work/$1 compressor
    "$kelvo" build "$folder/kelvo.toml" -o "$folder/kelvo-setup.exe" --stub "$stub" --uninstaller "$uninstaller" >/dev/null
    "$kelvo" build "$folder/kelvo-no-rollback.toml" -o "$folder/kelvo-no-rollback.exe" --stub "$stub" \
        --uninstaller "$uninstaller" >/dev/null
    for compressor in zlib lzma; do
        local exe=$folder/nsis-$compressor.exe script=$folder/nsis-$compressor.nsi
        if [ ! -f "$exe" ] || [ "$folder/stamp" -nt "$exe" ] || ! cmp -s "$script" "$exe.nsi"; then
            makensis -V1 -NOCD "$script" >/dev/null
            cp "$script" "$exe.nsi"
        fi
    done
}

# ---------------------------------------------------------------------------
# The private Wine session: a copy of the template prefix, its own
# wineserver and its own Xvfb, so neither the tests' session nor its
# one-setup-at-a-time rule meet this run.
wine_dir=$work/wine
log=$wine_dir/wine.log
start_wine() {
    rm -rf "$wine_dir" && mkdir -p "$wine_dir"
    kelvo_private_wine_start "$wine_dir/prefix" "$wine_dir/home" "$log" "$wine_dir/display" ||
        { echo "install_bench: no private Wine session" >&2; exit 1; }
    # Brings up the services and the virtual desktop before anything is timed.
    wine rundll32.exe user32.dll,GetDesktopWindow </dev/null >>"$log" 2>&1 8>&-
}

finish() {
    local status=$?
    kelvo_private_wine_stop
    # The prefix of a passing run goes (it holds every installed tree);
    # a failed one stays to be looked at.
    [ "$status" -ne 0 ] || rm -rf "$wine_dir"
    exit "$status"
}
trap finish EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

windows_path() { local path=${1//\//\\}; printf 'Z:%s' "$path"; }
installed() { printf '%s/drive_c/bench/%s' "$WINEPREFIX" "$1"; }

# "files bytes checksum" of a tree: names, sizes and contents; the
# uninstaller an installation adds is not part of the payload.
tree_summary() {
    (cd "$1" && find . -type f ! -name uninst.exe -printf '%s\n' | awk '{n++; b += $1} END {printf "%d %d ", n, b}' &&
        find . -type f ! -name uninst.exe -print0 | LC_ALL=C sort -z | xargs -0r md5sum | md5sum | cut -c1-12)
}

# Checks that installation `name` reproduced the payload.
check_tree() {
    local name=$1 expected=$2 got
    got=$(tree_summary "$(installed "$name")" 2>/dev/null || echo "nothing installed")
    [ "$got" = "$expected" ] || { echo "install_bench: $name installed '$got', expected '$expected'" >&2; exit 1; }
}

# Checks that installation `name` was removed (its uninstaller, which ran in
# place, may stay), then clears its folder.
check_removed() {
    local name=$1 left
    left=$(cd "$(installed "$name")" 2>/dev/null && find . -mindepth 1 ! -name uninst.exe | head -n3)
    [ -z "$left" ] || { echo "install_bench: the uninstaller of $name left $left ..." >&2; exit 1; }
    rm -rf "$(installed "$name")"
}

# Runs a command, its output to `out`; prints its wall time in seconds.
timed() {
    local out=$1 start end
    shift
    start=$(date +%s.%N)
    "$@" </dev/null >"$out" 2>&1 8>&- || { echo "install_bench: $* failed:" >&2; cat "$out" >&2; exit 1; }
    end=$(date +%s.%N)
    awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f", e - s }'
}

# Output of the wizard run with carriage returns removed.
plain() { tr -d '\r' <"$1"; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# Our setup's size over NSIS's solid-LZMA installer's for a payload.
setup_size_ratio() { ratio "$(stat -c %s "$work/$1/kelvo-setup.exe")" "$(stat -c %s "$work/$1/nsis-lzma.exe")"; }

# The lower of two times; the second when the first is empty.
lowest() { awk -v a="$1" -v b="$2" 'BEGIN { print (a != "" && a + 0 < b + 0) ? a : b }'; }

# ---------------------------------------------------------------------------
shapes=(single mixed small real)
echo "payloads: $scale_note"
[ "$nsis_target" = x86-ansi ] ||
    echo "programs: the 64-bit build of ours (this machine runs no 32-bit programs) against NSIS $nsis_target"
for shape in "${shapes[@]}"; do
    make_payload "$shape"
    write_projects "$shape"
    build_installers "$shape"
done
start_wine

rows=() notes=() install_ratios=() uninstall_ratios=() rollback_ratios=''
for shape in "${shapes[@]}"; do
    folder=$work/$shape
    expected=$(tree_summary "$folder/payload")
    entries=${expected%% *}
    mb=$(awk -v b="$(echo "$expected" | cut -d' ' -f2)" 'BEGIN { printf "%.1f", b / 1e6 }')
    echo "--- $shape: $entries files, $mb MB"

    pace=$(awk -v n="$entries" -v ms="$pace_ms" 'BEGIN { printf "%.2f", n * ms / 1000 }')
    limit=$(awk -v p="$pace" -v s="$slack_seconds" 'BEGIN { printf "%d", p * 2 + s }')
    timed "$work/driver.out" wine "$driver" install "$(windows_path "$folder/kelvo-setup.exe")" \
        --to 'C:\bench\kelvo' --timeout "$limit" >/dev/null
    t_ours=$(plain "$work/driver.out" | sed -n 's/^wall time: \([0-9.]*\) s$/\1/p')
    [ -n "$t_ours" ] || { echo "install_bench: the wizard run printed no time:" >&2; plain "$work/driver.out" >&2; exit 1; }
    check_tree kelvo "$expected"
    u_ours=$(timed "$work/uninstall.out" wine 'C:\bench\kelvo\uninst.exe' /X)
    check_removed kelvo
    s_ours=$(stat -c %s "$folder/kelvo-setup.exe")
    rows+=("$shape kelvo $s_ours $(stat -c %s "$stub") $t_ours $u_ours")

    # Ours without a person and NSIS silent, in turn, the best of `runs`.
    b_quiet='' b_unquiet='' b_zlib='' b_unzlib='' b_over='' b_plain='' b_plain_over=''
    for ((run = 0; run < runs; run++)); do
        t=$(timed "$work/quiet.out" wine "$folder/kelvo-setup.exe" /QUIET /NORESTART '/TARGET=C:\bench\kelvo')
        check_tree kelvo "$expected"
        b_quiet=$(lowest "$b_quiet" "$t")
        if [ "$shape" = mixed ]; then
            # Rollback's cost: the same setup again over the installation
            # (every file replaced, each old one kept aside until the end),
            # and both runs of the setup built without rollback.
            t=$(timed "$work/quiet.out" wine "$folder/kelvo-setup.exe" /QUIET /NORESTART '/TARGET=C:\bench\kelvo')
            check_tree kelvo "$expected"
            b_over=$(lowest "$b_over" "$t")
            timed "$work/uninstall.out" wine 'C:\bench\kelvo\uninst.exe' /Q >/dev/null
            check_removed kelvo
            t=$(timed "$work/quiet.out" wine "$folder/kelvo-no-rollback.exe" /QUIET /NORESTART '/TARGET=C:\bench\kelvo')
            check_tree kelvo "$expected"
            b_plain=$(lowest "$b_plain" "$t")
            t=$(timed "$work/quiet.out" wine "$folder/kelvo-no-rollback.exe" /QUIET /NORESTART '/TARGET=C:\bench\kelvo')
            check_tree kelvo "$expected"
            b_plain_over=$(lowest "$b_plain_over" "$t")
        fi
        t=$(timed "$work/uninstall.out" wine 'C:\bench\kelvo\uninst.exe' /Q)
        check_removed kelvo
        b_unquiet=$(lowest "$b_unquiet" "$t")
        t=$(timed "$work/nsis.out" wine "$folder/nsis-zlib.exe" /S '/D=C:\bench\nsis-zlib')
        check_tree nsis-zlib "$expected"
        b_zlib=$(lowest "$b_zlib" "$t")
        t=$(timed "$work/uninstall.out" wine 'C:\bench\nsis-zlib\uninst.exe' /S '_?=C:\bench\nsis-zlib')
        check_removed nsis-zlib
        b_unzlib=$(lowest "$b_unzlib" "$t")
    done
    rows+=("$shape kelvo-quiet $s_ours $(stat -c %s "$stub") $b_quiet $b_unquiet")
    rows+=("$shape nsis-zlib $(stat -c %s "$folder/nsis-zlib.exe") $(stat -c %s "$nsis_stubs/zlib-$nsis_target") $b_zlib $b_unzlib")
    install_ratios+=("$shape $(ratio "$b_quiet" "$b_zlib")")
    [ "$shape" != mixed ] || rollback_ratios="fresh $(ratio "$b_quiet" "$b_plain") over-itself $(ratio "$b_over" "$b_plain_over")"
    [ "$shape" != mixed ] ||
        notes+=("mixed, /QUIET with rollback and without: fresh $b_quiet s / $b_plain s, over the installation $b_over s / $b_plain_over s (best of $runs)")
    uninstall_ratios+=("$shape $(ratio "$b_unquiet" "$b_unzlib")")

    exe=$folder/nsis-lzma.exe
    t=$(timed "$work/nsis.out" wine "$exe" /S '/D=C:\bench\nsis-lzma')
    check_tree nsis-lzma "$expected"
    u=$(timed "$work/uninstall.out" wine 'C:\bench\nsis-lzma\uninst.exe' /S '_?=C:\bench\nsis-lzma')
    check_removed nsis-lzma
    rows+=("$shape nsis-lzma $(stat -c %s "$exe") $(stat -c %s "$nsis_stubs/lzma_solid-$nsis_target") $t $u")
    nsis_per_file=$(awk -v t="$b_zlib" -v n="$entries" 'BEGIN { printf "%.3f", t * 1000 / n }')

    wine "$engine" "$(windows_path "$folder/kelvo-setup.exe")" 'C:\bench\engine' </dev/null >"$work/engine.out" 2>&1 8>&- ||
        { echo "install_bench: engine_bench failed:" >&2; plain "$work/engine.out" >&2; exit 1; }
    check_tree engine "$expected"
    rm -rf "$(installed engine)"
    engine_figures=$(plain "$work/engine.out" | awk '/^entries/ { printf "%s ms, %s MB/s, %s ms per entry", $6, $8, $10 }')
    # Setups install in batches now; the classic pace (one entry a tick) is
    # what an archive without the InstallPace record would cost.
    notes+=("$shape: $entries entries, $t_ours s through the wizard (the classic pace alone would be $pace s); engine alone: $engine_figures; NSIS zlib's whole silent install: $nsis_per_file ms per file")
done

echo
printf '%-7s %-10s %15s %10s %9s %11s %9s %9s %11s\n' payload installer "installer bytes" "stub bytes" \
    "install s" "uninstall s" "ours/size" "ours/time" "ours/uninst"
for row in "${rows[@]}"; do
    read -r shape installer bytes stub_bytes seconds removal <<<"$row"
    if [ "$installer" = kelvo ] || [ "$installer" = kelvo-quiet ]; then
        # NSIS's silent install is compared with ours without a person.
        ours_bytes=$bytes ours_seconds=$seconds ours_removal=$removal
        printf '%-7s %-10s %15s %10s %9s %11s\n' "$shape" "$installer" "$bytes" "$stub_bytes" "$seconds" "$removal"
    else
        printf '%-7s %-10s %15s %10s %9s %11s %9s %9s %11s\n' "$shape" "$installer" "$bytes" "$stub_bytes" \
            "$seconds" "$removal" "$(ratio "$ours_bytes" "$bytes")" "$(ratio "$ours_seconds" "$seconds")" \
            "$(ratio "$ours_removal" "$removal")"
    fi
done
echo
printf '%s\n' "${notes[@]}"
echo "(install s: kelvo from the setup's start to its exit, worked through every page by kelvo-driver;"
echo " kelvo-quiet the same setup with /QUIET, the wine process; the ratios compare it with NSIS;"
echo " NSIS silent, the wine process; every installed tree matched its payload;"
echo " uninstall s: the uninstaller's wine process in place: ours /X after the wizard, /Q after /QUIET, NSIS /S _?=;"
echo " kelvo-quiet and nsis-zlib: the best of $runs runs each)"
echo
echo "install ours/nsis-zlib: ${install_ratios[*]}"
echo "uninstall ours/nsis-zlib: ${uninstall_ratios[*]}"
echo "rollback on/off mixed: $rollback_ratios"
echo "size ours/nsis-lzma: real $(setup_size_ratio real) mixed $(setup_size_ratio mixed)"
