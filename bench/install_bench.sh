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
# Each payload becomes two kelvo setups, one per codec: ours-deflate
# (compression = "deflate", a DEFLATE stream per file) and ours-lzma (the
# project's default: LZMA in solid blocks at the default level, which the
# run checks with `kelvo list`), and two NSIS installers (zlib, and solid
# LZMA); every build is timed once (wall clock; kelvo packs LZMA blocks on
# all cores, makensis as it comes). Ours-lzma is worked through its wizard
# by kelvo-driver once; then both of ours run without a person (/QUIET)
# beside both NSIS installers' silent installs (/S /D=...): those four, and
# each one's silent uninstall, run BENCH_RUNS times (default 3) in turn and
# the best time of each counts. engine_bench then times our engine alone on
# the ours-lzma setup. Every installed tree is checked against the payload.
# Each installation is then removed by its own uninstaller in place: the
# wizard's with /X (progress window, as a setup runs it), the quiet ones'
# with /Q (the QuietUninstallString, no window), NSIS's with /S _?=; the
# folder must be left with nothing but the uninstaller's file.
#
# Decoding against xz, natively, for the real and mixed payloads: a tar of
# the payload packed with `xz -9 -T1`, `xz -d -c >/dev/null` against
# `kelvo verify` on the ours-lzma setup (which decodes every stored file
# with the setup program's LZMA decoder source and checks it), each the
# best of 3.
#
# Each payload gets a table: for ours-deflate, ours-lzma, ours-wizard (the
# ours-lzma setup through its wizard), nsis-zlib and nsis-lzma, the setup's
# bytes (with any volumes), its stub's bytes, build, install and uninstall
# seconds. Notes follow (the wizard's time against the classic pace,
# engine_bench's figures, rollback's times, each decoder's bytes and
# throughput) and a key to the figures. The last lines are time ratios
# (lower is better), where "ours" is the ours-lzma setup, the default codec:
# ours without a person over NSIS zlib, ours-lzma over NSIS LZMA, and what
# rollback costs on the mixed payload (/QUIET with it over without it,
# installing fresh and over itself):
#   install ours/nsis-zlib: single R mixed R small R real R
#   uninstall ours/nsis-zlib: single R mixed R small R real R
#   install ours-lzma/nsis-lzma: single R mixed R small R real R
#   rollback on/off mixed: fresh R over-itself R
# then the size of the ours-lzma setup over NSIS's solid-LZMA installer's
# (lower is better):
#   size ours/nsis-lzma: real R mixed R
# decoding speed, ours' throughput over xz's (higher is better):
#   decode ours/xz: real R mixed R
# and the memory each decoder needs for the real payload: the setup
# program's LZMA window (`setup's window` in `kelvo list`'s packing line)
# and xz's (`xz -lvv`):
#   decoder memory real: setup's window N KB, xz -d M KB
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
command -v xz >/dev/null || { echo "install_bench: xz is missing (xz-utils)" >&2; exit 1; }

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

# Our projects (the default codec, deflate, and the default without
# rollback) and the two NSIS scripts for a payload.
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
    # The same setup without rollback, to show what rollback costs, and
    # the same setup packed the old way.
    sed 's/^title = .*/&\nrollback = false/' "$folder/kelvo.toml" >"$folder/kelvo-no-rollback.toml"
    sed 's/^title = .*/&\ncompression = "deflate"/' "$folder/kelvo.toml" >"$folder/kelvo-deflate.toml"
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

# Installers, every one built afresh and timed: build_seconds[SHAPE/NAME].
# The setups' packing lines must show the codec each is named for.
declare -A build_seconds
build_installers() {
    local shape=$1 folder=$work/$1 compressor
    build_seconds[$shape/ours-lzma]=$(timed "$work/build.out" "$kelvo" build "$folder/kelvo.toml" \
        -o "$folder/kelvo-setup.exe" --stub "$stub" --uninstaller "$uninstaller")
    build_seconds[$shape/ours-deflate]=$(timed "$work/build.out" "$kelvo" build "$folder/kelvo-deflate.toml" \
        -o "$folder/kelvo-deflate.exe" --stub "$stub" --uninstaller "$uninstaller")
    "$kelvo" build "$folder/kelvo-no-rollback.toml" -o "$folder/kelvo-no-rollback.exe" --stub "$stub" \
        --uninstaller "$uninstaller" >/dev/null
    expect_packing "$folder/kelvo-setup.exe" 'LZMA, '
    expect_packing "$folder/kelvo-deflate.exe" 'a DEFLATE stream per file'
    for compressor in zlib lzma; do
        build_seconds[$shape/nsis-$compressor]=$(timed "$work/build.out" makensis -V1 -NOCD "$folder/nsis-$compressor.nsi")
    done
}

# The packing line of `kelvo list` for a setup.
packing() { "$kelvo" list "$1" | sed -n 's/^ *packing: *//p'; }

expect_packing() {
    local got
    got=$(packing "$1")
    case $got in "$2"*) ;; *) echo "install_bench: $1 is packed as '$got', expected '$2...'" >&2; exit 1 ;; esac
}

# Bytes of a setup and of its volumes (NAME.D01, NAME.D02, ...).
setup_bytes() {
    local total volume
    total=$(stat -c %s "$1")
    for volume in "${1%.*}".D[0-9]*; do
        [ ! -f "$volume" ] || total=$((total + $(stat -c %s "$volume")))
    done
    echo "$total"
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

# The ours-lzma setup's size over NSIS's solid-LZMA installer's for a payload.
setup_size_ratio() { ratio "$(setup_bytes "$work/$1/kelvo-setup.exe")" "$(setup_bytes "$work/$1/nsis-lzma.exe")"; }

# The lower of two times; the second when the first is empty.
lowest() { awk -v a="$1" -v b="$2" 'BEGIN { print (a != "" && a + 0 < b + 0) ? a : b }'; }

# Decoding speed, natively: `xz -d` of the payload as a tar packed with
# `xz -9 -T1` (made again only when the payload changed) against `kelvo
# verify` of the ours-lzma setup, the best of 3 each. Each one's throughput
# is the bytes it gives out (the tar's, the stored files') over its time.
decode_ratios=() decode_notes=() xz_memory=''
decode_bench() {
    local shape=$1 folder=$work/$1 packed=$work/$1/payload.tar.xz b_xz='' b_ours='' t run tar_bytes ours_bytes
    if [ ! -f "$packed" ] || [ "$folder/stamp" -nt "$packed" ]; then
        tar -C "$folder/payload" --sort=name --owner=0 --group=0 --numeric-owner --mtime=@0 -cf - . |
            xz -9 -T1 >"$packed.part"
        mv "$packed.part" "$packed"
    fi
    tar_bytes=$(xz --robot -l "$packed" | awk '$1 == "totals" { print $5 }')
    for ((run = 0; run < 3; run++)); do
        t=$(timed /dev/null xz -d -c "$packed")
        b_xz=$(lowest "$b_xz" "$t")
        t=$(timed "$work/verify.out" "$kelvo" verify "$folder/kelvo-setup.exe")
        b_ours=$(lowest "$b_ours" "$t")
    done
    ours_bytes=$(sed -n 's/^checked .* (\([0-9]*\) bytes.*/\1/p' "$work/verify.out")
    [ -n "$ours_bytes" ] || { echo "install_bench: kelvo verify printed no byte count:" >&2; cat "$work/verify.out" >&2; exit 1; }
    decode_ratios+=("$shape $(awk -v ob="$ours_bytes" -v ot="$b_ours" -v xb="$tar_bytes" -v xt="$b_xz" \
        'BEGIN { printf "%.2f", (ob / ot) / (xb / xt) }')")
    decode_notes+=("$shape, decoding: kelvo verify $ours_bytes bytes in $b_ours s ($(awk -v b="$ours_bytes" -v t="$b_ours" \
        'BEGIN { printf "%.1f", b / t / 1e6 }') MB/s), xz -d $tar_bytes bytes in $b_xz s ($(awk -v b="$tar_bytes" \
        -v t="$b_xz" 'BEGIN { printf "%.1f", b / t / 1e6 }') MB/s) of $(stat -c %s "$packed") packed (best of 3)")
    [ "$shape" != real ] ||
        xz_memory=$(xz --robot -lvv "$packed" | awk '$1 == "summary" { printf "%d", ($2 + 1023) / 1024 }')
}

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
decode_bench real
decode_bench mixed
setup_window=$(packing "$work/real/kelvo-setup.exe" | sed -n "s/.*setup's window \([0-9]*\) KB.*/\1/p")
start_wine

# Installer NAME's run without a person into C:\bench\NAME (ours with
# /QUIET, NSIS with /S), and its uninstaller's there (ours /Q, NSIS /S _?=);
# each prints its wall time.
quiet_install() {
    local name=$1 exe=$2
    case $name in
    ours-*) timed "$work/quiet.out" wine "$exe" /QUIET /NORESTART "/TARGET=C:\\bench\\$name" ;;
    *) timed "$work/nsis.out" wine "$exe" /S "/D=C:\\bench\\$name" ;;
    esac
}
quiet_uninstall() {
    local name=$1
    case $name in
    ours-*) timed "$work/uninstall.out" wine "C:\\bench\\$name\\uninst.exe" /Q ;;
    *) timed "$work/uninstall.out" wine "C:\\bench\\$name\\uninst.exe" /S "_?=C:\\bench\\$name" ;;
    esac
}

installers=(ours-deflate ours-lzma nsis-zlib nsis-lzma)
declare -A exe_of=([ours-deflate]=kelvo-deflate.exe [ours-lzma]=kelvo-setup.exe [nsis-zlib]=nsis-zlib.exe
    [nsis-lzma]=nsis-lzma.exe)
declare -A stub_of=([ours-deflate]=$stub [ours-lzma]=$stub [nsis-zlib]=$nsis_stubs/zlib-$nsis_target
    [nsis-lzma]=$nsis_stubs/lzma_solid-$nsis_target)
rows=() notes=() install_ratios=() uninstall_ratios=() lzma_ratios=() rollback_ratios=''
for shape in "${shapes[@]}"; do
    folder=$work/$shape
    expected=$(tree_summary "$folder/payload")
    entries=${expected%% *}
    mb=$(awk -v b="$(echo "$expected" | cut -d' ' -f2)" 'BEGIN { printf "%.1f", b / 1e6 }')
    echo "--- $shape: $entries files, $mb MB"
    rows+=("$shape - $entries $mb")  # the table's heading: files and MB in place of bytes

    pace=$(awk -v n="$entries" -v ms="$pace_ms" 'BEGIN { printf "%.2f", n * ms / 1000 }')
    limit=$(awk -v p="$pace" -v s="$slack_seconds" 'BEGIN { printf "%d", p * 2 + s }')
    timed "$work/driver.out" wine "$driver" install "$(windows_path "$folder/kelvo-setup.exe")" \
        --to 'C:\bench\ours-wizard' --timeout "$limit" >/dev/null
    t_wizard=$(plain "$work/driver.out" | sed -n 's/^wall time: \([0-9.]*\) s$/\1/p')
    [ -n "$t_wizard" ] || { echo "install_bench: the wizard run printed no time:" >&2; plain "$work/driver.out" >&2; exit 1; }
    check_tree ours-wizard "$expected"
    u_wizard=$(timed "$work/uninstall.out" wine 'C:\bench\ours-wizard\uninst.exe' /X)
    check_removed ours-wizard

    # The four without a person, in turn, the best of `runs`.
    declare -A best_install=() best_uninstall=()
    b_over='' b_plain='' b_plain_over=''
    for ((run = 0; run < runs; run++)); do
        for name in "${installers[@]}"; do
            t=$(quiet_install "$name" "$folder/${exe_of[$name]}")
            check_tree "$name" "$expected"
            best_install[$name]=$(lowest "${best_install[$name]:-}" "$t")
            if [ "$shape" = mixed ] && [ "$name" = ours-lzma ]; then
                # Rollback's cost: the same setup again over the installation
                # (every file replaced, each old one kept aside until the end),
                # and both runs of the setup built without rollback.
                t=$(quiet_install ours-lzma "$folder/kelvo-setup.exe")
                check_tree ours-lzma "$expected"
                b_over=$(lowest "$b_over" "$t")
                quiet_uninstall ours-lzma >/dev/null
                check_removed ours-lzma
                t=$(quiet_install ours-lzma "$folder/kelvo-no-rollback.exe")
                check_tree ours-lzma "$expected"
                b_plain=$(lowest "$b_plain" "$t")
                t=$(quiet_install ours-lzma "$folder/kelvo-no-rollback.exe")
                check_tree ours-lzma "$expected"
                b_plain_over=$(lowest "$b_plain_over" "$t")
            fi
            t=$(quiet_uninstall "$name")
            check_removed "$name"
            best_uninstall[$name]=$(lowest "${best_uninstall[$name]:-}" "$t")
        done
    done
    for name in "${installers[@]}"; do
        rows+=("$shape $name $(setup_bytes "$folder/${exe_of[$name]}") $(stat -c %s "${stub_of[$name]}") \
${build_seconds[$shape/$name]} ${best_install[$name]} ${best_uninstall[$name]}")
        [ "$name" != ours-lzma ] ||
            rows+=("$shape ours-wizard $(setup_bytes "$folder/kelvo-setup.exe") $(stat -c %s "$stub") - $t_wizard $u_wizard")
    done
    install_ratios+=("$shape $(ratio "${best_install[ours-lzma]}" "${best_install[nsis-zlib]}")")
    uninstall_ratios+=("$shape $(ratio "${best_uninstall[ours-lzma]}" "${best_uninstall[nsis-zlib]}")")
    lzma_ratios+=("$shape $(ratio "${best_install[ours-lzma]}" "${best_install[nsis-lzma]}")")
    [ "$shape" != mixed ] ||
        rollback_ratios="fresh $(ratio "${best_install[ours-lzma]}" "$b_plain") over-itself $(ratio "$b_over" "$b_plain_over")"
    [ "$shape" != mixed ] ||
        notes+=("mixed, ours-lzma /QUIET with rollback and without: fresh ${best_install[ours-lzma]} s / $b_plain s, over the installation $b_over s / $b_plain_over s (best of $runs)")
    nsis_per_file=$(awk -v t="${best_install[nsis-zlib]}" -v n="$entries" 'BEGIN { printf "%.3f", t * 1000 / n }')

    wine "$engine" "$(windows_path "$folder/kelvo-setup.exe")" 'C:\bench\engine' </dev/null >"$work/engine.out" 2>&1 8>&- ||
        { echo "install_bench: engine_bench failed:" >&2; plain "$work/engine.out" >&2; exit 1; }
    check_tree engine "$expected"
    rm -rf "$(installed engine)"
    engine_figures=$(plain "$work/engine.out" | awk '/^entries/ { printf "%s ms, %s MB/s, %s ms per entry", $6, $8, $10 }')
    # Setups install in batches now; the classic pace (one entry a tick) is
    # what an archive without the InstallPace record would cost.
    notes+=("$shape: $entries entries, ours-lzma $t_wizard s through the wizard (the classic pace alone would be $pace s); engine alone on ours-lzma: $engine_figures; NSIS zlib's whole silent install: $nsis_per_file ms per file")
done

for row in "${rows[@]}"; do
    read -r shape installer bytes stub_bytes seconds_build seconds removal <<<"$row"
    if [ "$installer" = - ]; then
        echo
        echo "$shape: $bytes files, $stub_bytes MB"
        printf '  %-13s %13s %10s %8s %9s %11s\n' installer "setup bytes" "stub bytes" "build s" "install s" "uninstall s"
    else
        printf '  %-13s %13s %10s %8s %9s %11s\n' "$installer" "$bytes" "$stub_bytes" "$seconds_build" "$seconds" "$removal"
    fi
done
echo
printf '%s\n' "${notes[@]}" "${decode_notes[@]}"
echo "(setup bytes: the installer with any volumes; build s: one kelvo build or makensis, wall clock;"
echo " install s: ours-deflate, ours-lzma and NSIS silent, the wine process, the best of $runs runs each,"
echo " ours with /QUIET; ours-wizard: the ours-lzma setup from its start to its exit, worked through"
echo " every page by kelvo-driver, once; every installed tree matched its payload;"
echo " uninstall s: the uninstaller's wine process in place: ours /X after the wizard, /Q after /QUIET,"
echo " NSIS /S _?=; decoding: natively, kelvo verify of ours-lzma (decodes and checks every stored file)"
echo " against xz -d -c >/dev/null of the payload's tar made with xz -9 -T1)"
echo
echo "install ours/nsis-zlib: ${install_ratios[*]}"
echo "uninstall ours/nsis-zlib: ${uninstall_ratios[*]}"
echo "install ours-lzma/nsis-lzma: ${lzma_ratios[*]}"
echo "rollback on/off mixed: $rollback_ratios"
echo "(time ratios, lower is better; ours = ours-lzma, the default codec)"
echo "size ours/nsis-lzma: real $(setup_size_ratio real) mixed $(setup_size_ratio mixed)"
echo "decode ours/xz: ${decode_ratios[*]}"
echo "(size: lower is better; decode: ours' throughput over xz's, higher is better)"
echo "decoder memory real: setup's window $setup_window KB, xz -d $xz_memory KB"
