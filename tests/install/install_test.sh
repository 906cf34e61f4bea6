#!/usr/bin/env bash
# `make install` into a scratch prefix, as cmake --install does it for the
# native tree, then the installed kelvo used from an unrelated folder:
#   - the layout: kelvo, the setup and uninstall programs, the resources,
#     the manual page, each installed program the same bytes as the build's;
#   - one version: `kelvo version`, the manual page and both programs'
#     VERSIONINFO (fixed block and strings) all say what VERSION says;
#   - the manual page renders without a warning and has every command;
#   - the installed kelvo, run from elsewhere, finds its programs in
#     share/kelvo and builds the demo into the same bytes as kelvo of the
#     build tree (build/bin, its programs beside it).
#   install_test.sh SOURCE_DIR NATIVE_BINARY_DIR BIN_DIR
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
prefix="$scratch/prefix with space"
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$binary_dir" --prefix "$prefix" >"$scratch/install.log"

for file in bin/kelvo share/kelvo/kelvo-setup.exe share/kelvo/kelvo-uninstall.exe share/man/man1/kelvo.1 \
            share/kelvo/resources/dialogs.rc share/kelvo/resources/texts.toml share/kelvo/resources/wizard.bmp \
            share/kelvo/resources/languages/de.toml share/kelvo/resources/languages/ja.toml; do
  [ -f "$prefix/$file" ] || fail "$file was not installed"
done
[ -x "$prefix/bin/kelvo" ] || fail "bin/kelvo is not executable"
for program in kelvo-setup.exe kelvo-uninstall.exe; do
  cmp -s "$bin_dir/$program" "$prefix/share/kelvo/$program" || fail "share/kelvo/$program differs from $bin_dir/$program"
done
cmp -s "$source_dir/resources/texts.toml" "$prefix/share/kelvo/resources/texts.toml" || fail "texts.toml differs"

# One version everywhere.
version=$(head -n 1 "$source_dir/VERSION")
[ "$("$prefix/bin/kelvo" version)" = "kelvo $version" ] || fail "kelvo version says '$("$prefix/bin/kelvo" version)', VERSION says $version"
[ "$("$prefix/bin/kelvo" --version)" = "kelvo $version" ] || fail "kelvo --version differs from kelvo version"
for program in kelvo-setup.exe kelvo-uninstall.exe; do
  got=$(python3 "$source_dir/tests/install/pe_version.py" "$prefix/share/kelvo/$program")
  [ "$got" = "$version.0 $version" ] || fail "$program's VERSIONINFO says '$got', VERSION says $version"
done
grep -q "^\.TH KELVO 1 \"\" \"kelvo $version\"" "$prefix/share/man/man1/kelvo.1" || fail "kelvo.1 does not carry version $version"

# The manual page: no roff warnings, and a section per command of `kelvo help`.
rendered=$(LC_ALL=C.UTF-8 groff -man -Tutf8 -ww "$prefix/share/man/man1/kelvo.1" 2>"$scratch/groff.err")
[ ! -s "$scratch/groff.err" ] || fail "kelvo.1 has roff warnings: $(cat "$scratch/groff.err")"
plain=$(sed 's/.\x08//g' <<<"$rendered")
for command in build list verify extract dump manifest encode decode help version; do
  grep -q "^   $command\$" <<<"$plain" || fail "kelvo.1 has no section for '$command'"
done
grep -q -- "--disk-size" <<<"$plain" || fail "kelvo.1 lacks build's options"

# The installed kelvo, from a folder unrelated to both trees, against the
# build tree's kelvo.
mkdir "$scratch/elsewhere"
(cd "$scratch/elsewhere" && "$prefix/bin/kelvo" build "$source_dir/examples/demo/kelvo.toml" -o installed.exe >/dev/null) \
  || fail "the installed kelvo could not build the demo"
"$bin_dir/kelvo" build "$source_dir/examples/demo/kelvo.toml" -o "$scratch/built.exe" >/dev/null
cmp -s "$scratch/elsewhere/installed.exe" "$scratch/built.exe" || fail "the installed kelvo's demo setup differs from the build tree's"
"$prefix/bin/kelvo" verify "$scratch/elsewhere/installed.exe" >/dev/null || fail "the demo setup does not verify"

# Without its programs in either place, kelvo names a path beside itself.
mkdir -p "$scratch/bare/bin"
cp "$prefix/bin/kelvo" "$scratch/bare/bin/"
if "$scratch/bare/bin/kelvo" build "$source_dir/examples/demo/kelvo.toml" -o "$scratch/bare.exe" 2>"$scratch/bare.err" >/dev/null; then
  fail "kelvo built a setup with no setup program to start from"
fi
grep -Eq "$scratch/bare/bin/kelvo-(setup|uninstall)\.exe" "$scratch/bare.err" || fail "the error does not name a program's path: $(cat "$scratch/bare.err")"
echo "install: PASS ($prefix)"
