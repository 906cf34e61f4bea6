#!/usr/bin/env bash
# Build and extraction throughput of kelvo against tar with gzip, in one run,
# on the same corpus: at least 50 MB of this machine's binaries and texts,
# chosen deterministically (sorted paths, files of 1 KB to 8 MB).
# Prints MB/s of installed bytes and the ratios the project aims for:
#   build   at least 1.5 times as fast as single-threaded gzip -9, smaller
#   extract at least as fast as tar xzf
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kelvo=$root/build/bin/kelvo
work=$root/build/bench/archive
corpus_bytes=${CORPUS_BYTES:-52428800}

rm -rf "$work"
mkdir -p "$work/corpus" "$work/out-kelvo" "$work/out-tar"

# The corpus, flattened into one folder with unique names.
total=0 count=0
while IFS= read -r -d '' file; do
    size=$(stat -c %s "$file")
    cp "$file" "$work/corpus/$(printf '%s' "${file#/}" | tr '/' '_')"
    total=$((total + size)) count=$((count + 1))
    [ "$total" -ge "$corpus_bytes" ] && break
done < <(find /usr/bin /usr/lib/x86_64-linux-gnu /usr/share/doc -type f -size +1k -size -8M -print0 | LC_ALL=C sort -z)
mb=$(awk -v b="$total" 'BEGIN { printf "%.1f", b / 1e6 }')
echo "corpus: $count files, $mb MB"

cat > "$work/bench.toml" <<EOF
[setup]
title = "Benchmark"

[[set]]
name = "Benchmark"
destination = "<ProgramFiles>\\\\Benchmark"

[[set.file]]
source = "corpus/*"
EOF

# Runs a command and prints its wall time in seconds.
seconds() {
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null
    end=$(date +%s.%N)
    awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f", e - s }'
}
rate() { awk -v b="$total" -v t="$1" 'BEGIN { printf "%.1f", b / 1e6 / t }'; }
size_of() { du -cb "$@" | tail -n 1 | cut -f1; }

cd "$work"
t_build=$(seconds "$kelvo" build bench.toml -o bench-setup.exe)
s_build=$(size_of bench-setup.exe)
t_gzip9=$(seconds sh -c 'tar cf - corpus | gzip -9 > corpus-9.tar.gz')
s_gzip9=$(size_of corpus-9.tar.gz)
t_tarc=$(seconds tar czf corpus.tar.gz corpus)
s_tarc=$(size_of corpus.tar.gz)
t_extract=$(seconds "$kelvo" extract bench-setup.exe -d out-kelvo)
t_tarx=$(seconds tar xzf corpus.tar.gz -C out-tar)

printf '%-34s %8s s %8s MB/s %12s bytes\n' \
    "kelvo build (level 9, all cores)" "$t_build" "$(rate "$t_build")" "$s_build" \
    "tar cf | gzip -9 (one thread)" "$t_gzip9" "$(rate "$t_gzip9")" "$s_gzip9" \
    "tar czf (gzip -6, one thread)" "$t_tarc" "$(rate "$t_tarc")" "$s_tarc"
printf '%-34s %8s s %8s MB/s\n' \
    "kelvo extract" "$t_extract" "$(rate "$t_extract")" \
    "tar xzf" "$t_tarx" "$(rate "$t_tarx")"

cmp -s <(cd corpus && find . -type f -exec md5sum {} + | LC_ALL=C sort -k2) \
       <(cd out-kelvo && find . -type f -exec md5sum {} + | LC_ALL=C sort -k2) ||
    { echo "kelvo extract did not reproduce the corpus" >&2; exit 1; }

awk -v a="$t_gzip9" -v b="$t_build" 'BEGIN { printf "build ours/gzip-9 speed: %.2f\n", a / b }'
awk -v a="$s_build" -v b="$s_gzip9" 'BEGIN { printf "build ours/gzip-9 size: %.3f\n", a / b }'
awk -v a="$t_tarx" -v b="$t_extract" 'BEGIN { printf "extract ours/tar-xzf speed: %.2f\n", a / b }'
