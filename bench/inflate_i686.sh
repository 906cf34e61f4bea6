#!/usr/bin/env bash
# The decoder's benchmark built for i686 Linux (build/i686, see
# cmake/linux-i686.cmake): the setup program is an i686 program, so this is
# the decoder as it ships, built with the setup program's flags (and the
# decoder's own -O2, CMakeLists.txt), against Debian's i386 zlib and
# libdeflate; then the decoder at -Os, the small-program flags alone.
# Each prints "inflate i686 ours/libdeflate: R  ours/zlib: R" (their time
# over ours: above 1, ours is faster).
#
# Where the kernel runs no 32-bit programs, both run under qemu-user, whose
# timings are only indicative: emulation costs each kind of instruction
# differently. There a plugin (bench/qemu_insn_count.c) also counts the
# guest instructions of one decoding pass of each decoder, and the bench
# prints their ratio too, which emulation does not distort.
#
# Missing tools are a SKIPPED line, not a failure; a build failure or a
# wrong decode fails. The corpus is part (b)'s of the native benchmark,
# 50 MB unless INFLATE_I686_MB says otherwise.
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root" || exit 1
build=build/i686
jobs="${JOBS:-2}"
corpus_mb="${INFLATE_I686_MB:-50}"
skip() { echo "inflate i686 SKIPPED: $*"; exit 0; }

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

printf 'int main() { return 0; }\n' | g++ -m32 -static -x c++ - -o "$scratch/probe" 2>/dev/null ||
    skip "no i686 compiler and C library here (g++-multilib; make deps installs it)"
for lib in libdeflate.a libz.a; do
    [ -f "/usr/lib/i386-linux-gnu/$lib" ] ||
        skip "no i386 $lib here (libdeflate-dev:i386, zlib1g-dev:i386; make deps installs them)"
done

if [ ! -f "$build/build.ninja" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/linux-i686.cmake >"$scratch/configure.log" 2>&1 ||
        { cat "$scratch/configure.log"; echo "inflate i686: configuring $build failed"; exit 1; }
fi
cmake --build "$build" -j "$jobs" >"$scratch/build.log" 2>&1 ||
    { cat "$scratch/build.log"; echo "inflate i686: building $build failed"; exit 1; }

bench="$build/bench/inflate_bench"
runner=()
counting=0
if "$bench" --probe 2>/dev/null; then
    echo "i686 natively"
elif command -v qemu-i386 >/dev/null && qemu-i386 "$bench" --probe 2>/dev/null; then
    echo "i686 under qemu-user emulation: figures are indicative"
    runner=(qemu-i386)
    plugin="$build/qemu_insn_count.so"
    if [ ! -f "$plugin" ] || [ bench/qemu_insn_count.c -nt "$plugin" ]; then
        cc -shared -fPIC -O2 -fvisibility=hidden -o "$plugin" bench/qemu_insn_count.c 2>"$scratch/plugin.log" ||
            rm -f "$plugin"
    fi
    counts="$scratch/instructions"
    if [ -f "$plugin" ] &&
        KELVO_INSN_COUNTS="$counts" qemu-i386 -plugin "$plugin,counts=$counts" "$bench" --probe 2>"$scratch/plugin.log"; then
        runner=(qemu-i386 -plugin "$plugin,counts=$counts")
        counting=1
    else
        echo "instruction counts SKIPPED: this qemu-i386 loads no plugin ($(head -c 200 "$scratch/plugin.log"))"
    fi
else
    skip "this machine's kernel runs no 32-bit programs and qemu-i386 (qemu-user) is missing"
fi

status=0
for variant in "inflate_bench:i686:as the setup program ships it" \
    "inflate_bench_os:i686 -Os:with the small-program flags alone (-Os), for reference"; do
    program="$build/bench/${variant%%:*}"
    tag="${variant#*:}"
    tag="${tag%%:*}"
    echo "--- $tag: the decoder built ${variant##*:}"
    if [ $counting = 1 ]; then
        KELVO_INSN_COUNTS="$counts" "${runner[@]}" "$program" --decode-only --corpus-mb "$corpus_mb" --tag "$tag" || status=1
    else
        "${runner[@]}" "$program" --decode-only --corpus-mb "$corpus_mb" --tag "$tag" || status=1
    fi
done
exit $status
