#!/usr/bin/env bash
# make dist's tarball (scripts/dist.sh) into a scratch folder:
#   - named after VERSION and the machine, one top folder kelvo-VERSION with
#     kelvo, both Windows programs, the manual page, README and examples;
#   - the same bytes when made twice;
#   - with kelvo.exe built, the Windows zip too: one top folder with
#     kelvo.exe and both Windows programs beside it, the resources, README
#     and examples, the same bytes when made twice;
#   - unpacked elsewhere, its kelvo builds the unpacked demo into a setup
#     that verifies, and the source's demo into the same bytes as the build
#     tree's kelvo.
#   dist_test.sh SOURCE_DIR NATIVE_BINARY_DIR BIN_DIR
# Exits 77 (skipped) when the Windows build has not made the programs yet.
set -euo pipefail
source_dir=$1
binary_dir=$2
bin_dir=$3

for program in kelvo-setup.exe kelvo-uninstall.exe; do
  [ -f "$bin_dir/$program" ] || { echo "SKIPPED: no $bin_dir/$program (make windows)"; exit 77; }
done
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

version=$(head -n 1 "$source_dir/VERSION")
top="kelvo-$version"
expected="$scratch/out/$top-linux-$(uname -m).tar.gz"
zip_expected="$scratch/out/$top-windows-x86_64.zip"
windows_bin=""
[ -f "$bin_dir/kelvo.exe" ] && windows_bin=$bin_dir
made=$(bash "$source_dir/scripts/dist.sh" "$source_dir" "$binary_dir" "$scratch/out" $windows_bin)
made=$(head -n 1 <<<"$made")
[ "$made" = "$expected" ] && [ -f "$expected" ] || fail "dist made '$made', not $expected"
cp "$expected" "$scratch/first.tar.gz"
[ -z "$windows_bin" ] || cp "$zip_expected" "$scratch/first.zip"
sleep 1  # a second run later in time must still make the same bytes
bash "$source_dir/scripts/dist.sh" "$source_dir" "$binary_dir" "$scratch/out" $windows_bin >/dev/null
cmp -s "$expected" "$scratch/first.tar.gz" || fail "two runs of dist made different tarballs"
made_files="$(basename "$expected")"
if [ -n "$windows_bin" ]; then
  cmp -s "$zip_expected" "$scratch/first.zip" || fail "two runs of dist made different zips"
  made_files="$(printf '%s\n%s' "$(basename "$expected")" "$(basename "$zip_expected")" | LC_ALL=C sort)"
  zip_listing=$(unzip -Z1 "$zip_expected")
  for member in kelvo.exe kelvo-setup.exe kelvo-uninstall.exe resources/texts.toml resources/languages/de.toml \
                README.md examples/demo/kelvo.toml; do
    grep -qx "$top/$member" <<<"$zip_listing" || fail "the zip has no $top/$member"
  done
  [ -z "$(grep -v "^$top/" <<<"$zip_listing")" ] || fail "the zip has members outside $top/"
  mkdir "$scratch/zip"
  (cd "$scratch/zip" && unzip -q "$zip_expected")
  for program in kelvo.exe kelvo-setup.exe kelvo-uninstall.exe; do
    cmp -s "$scratch/zip/$top/$program" "$bin_dir/$program" || fail "the zip's $program is not the build's"
  done
else
  echo "no $bin_dir/kelvo.exe (make kelvo-exe): the Windows zip is not checked"
fi
[ "$(ls "$scratch/out" | LC_ALL=C sort)" = "$made_files" ] || fail "dist left other files: $(ls "$scratch/out")"

listing=$(tar -tzf "$expected")
for member in bin/kelvo share/kelvo/kelvo-setup.exe share/kelvo/kelvo-uninstall.exe share/man/man1/kelvo.1 \
              share/kelvo/resources/texts.toml README.md examples/demo/kelvo.toml; do
  grep -qx "$top/$member" <<<"$listing" || fail "the tarball has no $top/$member"
done
[ -z "$(grep -v "^$top/" <<<"$listing")" ] || fail "the tarball has members outside $top/"

mkdir "$scratch/unpacked" "$scratch/elsewhere"
tar -xzf "$expected" -C "$scratch/unpacked"
kelvo="$scratch/unpacked/$top/bin/kelvo"
[ "$("$kelvo" version)" = "kelvo $version" ] || fail "the tarball's kelvo says '$("$kelvo" version)'"
(cd "$scratch/elsewhere" && "$kelvo" build "$scratch/unpacked/$top/examples/demo/kelvo.toml" -o unpacked.exe >/dev/null) \
  || fail "the tarball's kelvo could not build its own demo"
"$kelvo" verify "$scratch/elsewhere/unpacked.exe" >/dev/null || fail "the tarball's demo setup does not verify"
# The same project, the same setup: the tarball's kelvo (stripped, its
# programs in share/kelvo) against the build tree's on the source's demo.
(cd "$scratch/elsewhere" && "$kelvo" build "$source_dir/examples/demo/kelvo.toml" -o demo.exe >/dev/null) \
  || fail "the tarball's kelvo could not build the demo"
"$bin_dir/kelvo" build "$source_dir/examples/demo/kelvo.toml" -o "$scratch/built.exe" >/dev/null
cmp -s "$scratch/elsewhere/demo.exe" "$scratch/built.exe" || fail "the tarball's demo setup differs from the build tree's"
echo "dist: PASS"
