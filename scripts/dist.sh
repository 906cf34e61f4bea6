#!/usr/bin/env bash
# make dist: the Linux release tarball, kelvo-VERSION-linux-ARCH.tar.gz in
# OUT_DIR. It holds one folder, kelvo-VERSION, laid out as `make install`
# lays out a prefix (bin/kelvo stripped, the i686 setup and uninstall
# programs and the resources in share/kelvo, the manual page), with the
# README and the examples beside. VERSION comes from the VERSION file.
# The archive is the same bytes for the same programs: names sorted, owner
# root, every time the last commit's (SOURCE_DATE_EPOCH when set), gzip
# without a name or time.
# With BIN_DIR (the folder of kelvo.exe and the i686 programs, build/bin),
# also the Windows zip kelvo-VERSION-windows-x86_64.zip: one folder
# kelvo-VERSION with kelvo.exe and the setup and uninstall programs beside
# it, the resources, README.md and the examples; the same bytes each time
# (sorted names, the same times, no extra attributes).
#   dist.sh SOURCE_DIR NATIVE_BINARY_DIR OUT_DIR [BIN_DIR]
set -euo pipefail
source_dir=$(cd "$1" && pwd)
binary_dir=$2
out_dir=$3
bin_dir=${4:-}

version=$(head -n 1 "$source_dir/VERSION")
arch=$(uname -m)
name="kelvo-$version"
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git -C "$source_dir" log -1 --format=%ct 2>/dev/null || stat -c %Y "$source_dir/VERSION")
fi

mkdir -p "$out_dir"
stage=$(mktemp -d "$out_dir/stage.XXXXXX")
trap 'rm -rf "$stage"' EXIT
cmake --install "$binary_dir" --prefix "$stage/$name" --strip >/dev/null
cp "$source_dir/README.md" "$stage/$name/"
cp -r "$source_dir/examples" "$stage/$name/"

tarball="$out_dir/$name-linux-$arch.tar.gz"
tar --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$SOURCE_DATE_EPOCH" \
    --mode='u+rwX,go+rX,go-w' -C "$stage" -cf - "$name" | gzip -9 -n >"$tarball.new"
mv "$tarball.new" "$tarball"
echo "$tarball"

[ -n "$bin_dir" ] || exit 0
windows="$stage/windows/$name"
mkdir -p "$windows/resources"
for program in kelvo.exe kelvo-setup.exe kelvo-uninstall.exe; do
  [ -f "$bin_dir/$program" ] || { echo "dist.sh: no $bin_dir/$program (make kelvo-exe shipped)" >&2; exit 1; }
  cp "$bin_dir/$program" "$windows/"
done
cp -r "$stage/$name/share/kelvo/resources/." "$windows/resources/"
cp "$source_dir/README.md" "$windows/"
cp -r "$source_dir/examples" "$windows/"
find "$stage/windows" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
zipfile="$out_dir/$name-windows-x86_64.zip"
rm -f "$zipfile.new"
(cd "$stage/windows" && find "$name" | LC_ALL=C sort | TZ=UTC zip -q -X -9 "$zipfile.new" -@)
mv "$zipfile.new" "$zipfile"
echo "$zipfile"
