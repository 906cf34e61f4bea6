#!/usr/bin/env bash
# kelvo.exe, kelvo built for Windows, against kelvo on Linux:
#
#   kelvo_exe_test.sh KELVO KELVO_EXE STUB UNINSTALLER SOURCE_DIR
#
# - The same project built by both gives byte-identical setups: the demo,
#   and setups in other code pages whose file names come from the disk
#   (a German one with accented names, a Japanese and a Russian one).
# - A project written on Windows (CRLF line ends, backslashes in paths, a
#   picture named by drive letter) builds with kelvo.exe into the same setup
#   as the project written on Linux; kelvo on Linux builds it too, but for
#   the drive letter, which names nothing there.
# - kelvo.exe lists, verifies and extracts a setup as kelvo does: the same
#   report, the same files with the same names.
# - Code pages: kelvo.exe converts with Windows' tables, kelvo with glibc's;
#   over every character (tests/code_pages/code_pages_probe.cpp) they agree
#   on 1250, 1251, 1252, 1254 and 1256. The groups of characters where the
#   other pages differ are counted and printed, not failed (README).
# Both use the same setup and uninstall programs (--stub, --uninstaller).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
scripts="$here/../../scripts"
# shellcheck source-path=SCRIPTDIR/../../scripts source=wine-env.sh
. "$scripts/wine-env.sh"

if [ $# -ne 5 ]; then
    echo "usage: kelvo_exe_test.sh KELVO KELVO_EXE STUB UNINSTALLER SOURCE_DIR" >&2
    exit 2
fi
kelvo=$1 kelvo_exe=$2 stub=$3 uninstaller=$4 source_dir=$5
if [ ! -f "$kelvo_exe" ]; then
    echo "SKIPPED: no $kelvo_exe (make kelvo-exe builds it)"
    exit 77
fi
out="$KELVO_WINE_DIR/kelvo-exe"
rm -rf "$out"
mkdir -p "$out"
failures=0

fail() {
    echo "FAILED: $*" >&2
    failures=$((failures + 1))
}

# kelvo.exe under Wine with UTF-8 output; its paths are Unix paths, which
# Wine finds on drive Z:.
kelvo_exe() {
    LANG=C.UTF-8 LC_ALL=C.UTF-8 bash "$scripts/wine-run.sh" "$kelvo_exe" "$@" 2> >(grep -v '^[0-9a-f]*:fixme:' >&2)
}

programs=(--stub "$stub" --uninstaller "$uninstaller")

# Builds PROJECT with both tools and compares the setups.
same_setup() {
    local name=$1 project=$2
    "$kelvo" build "$project" -o "$out/$name-linux.exe" "${programs[@]}" >/dev/null
    if ! kelvo_exe build "$project" -o "$out/$name-windows.exe" "${programs[@]}" >"$out/$name-build.txt"; then
        fail "$name: kelvo.exe could not build it: $(cat "$out/$name-build.txt")"
    elif ! cmp "$out/$name-linux.exe" "$out/$name-windows.exe"; then
        fail "$name: kelvo.exe built a setup that differs from kelvo's"
    else
        echo "ok: $name: byte-identical setups"
    fi
}

same_setup demo "$source_dir/examples/demo/kelvo.toml"
for language in german japanese russian; do
    same_setup "$language" "$source_dir/tests/fixtures/languages/$language/kelvo.toml"
done

# The demo as written on Windows: CRLF line ends, backslashes in every
# source path, the background picture named by drive letter.
windows_project="$out/windows-project"
cp -a "$source_dir/examples/demo" "$windows_project"  # keeping the times the demo records
picture_on_z="Z:$(echo "$windows_project/background.bmp" | tr / '\\')"
sed -e '/^source = /s|/|\\\\|g' \
    -e "s|^picture = \"background.bmp\"|picture = '${picture_on_z//\\/\\\\}'|" \
    -e 's/$/\r/' "$source_dir/examples/demo/kelvo.toml" >"$windows_project/kelvo.toml"
grep -q "^source = \"files\\\\\\\\docs" "$windows_project/kelvo.toml" || fail "the Windows project has no backslashed source"
grep -q "^picture = 'Z:" "$windows_project/kelvo.toml" || fail "the Windows project names no drive"
if kelvo_exe build "$windows_project/kelvo.toml" -o "$out/windows-project.exe" "${programs[@]}" >/dev/null &&
    cmp "$out/demo-linux.exe" "$out/windows-project.exe"; then
    echo "ok: a project written on Windows builds with kelvo.exe into the same setup"
else
    fail "the project written on Windows did not build into the demo's setup"
fi
# kelvo on Linux reads the same project, but for the drive letter.
sed -i "s|^picture = '[^']*'|picture = \"background.bmp\"|" "$windows_project/kelvo.toml"
if "$kelvo" build "$windows_project/kelvo.toml" -o "$out/windows-project-linux.exe" "${programs[@]}" >/dev/null &&
    cmp "$out/demo-linux.exe" "$out/windows-project-linux.exe"; then
    echo "ok: kelvo on Linux builds the CRLF, backslashed project into the same setup"
else
    fail "kelvo on Linux did not build the CRLF, backslashed project into the demo's setup"
fi

# list, verify and extract: the same reports and the same files.
setup="$out/german-linux.exe"
for command in list verify; do
    "$kelvo" "$command" "$setup" >"$out/$command-linux.txt"
    kelvo_exe "$command" "$setup" | tr -d '\r' >"$out/$command-windows.txt" || fail "kelvo.exe $command failed"
    if diff -u "$out/$command-linux.txt" "$out/$command-windows.txt"; then
        echo "ok: kelvo.exe $command reports as kelvo does"
    else
        fail "kelvo.exe $command reports differently"
    fi
done
"$kelvo" extract "$setup" -d "$out/extract-linux" >/dev/null
kelvo_exe extract "$setup" -d "$out/extract-windows" >/dev/null || fail "kelvo.exe extract failed"
if diff -r "$out/extract-linux" "$out/extract-windows" && [ -n "$(find "$out/extract-windows" -name 'Résumé.txt')" ]; then
    echo "ok: kelvo.exe extracts the same files under the same names"
else
    fail "kelvo.exe extracted other files or names: $(cd "$out/extract-windows" 2>/dev/null && find . | sort | tr '\n' ' ')"
fi

probe_linux="$source_dir/build/native/code_pages_probe"
probe_windows="$source_dir/build/kelvo-exe/code_pages_probe.exe"
if [ -x "$probe_linux" ] && [ -f "$probe_windows" ]; then
    "$probe_linux" >"$out/probe-linux.txt"
    kelvo_exe_probe() { LANG=C.UTF-8 LC_ALL=C.UTF-8 bash "$scripts/wine-run.sh" "$probe_windows" 2>/dev/null; }
    kelvo_exe_probe | tr -d '\r' >"$out/probe-windows.txt"
    [ "$(wc -l <"$out/probe-windows.txt")" = "$(wc -l <"$out/probe-linux.txt")" ] || fail "the code page probes printed different numbers of lines"
    for page in 1250 1251 1252 1254 1256; do
        if diff <(grep "^$page " "$out/probe-linux.txt") <(grep "^$page " "$out/probe-windows.txt") >/dev/null; then
            echo "ok: code page $page converts alike in kelvo and kelvo.exe"
        else
            fail "code page $page converts differently in kelvo.exe"
        fi
    done
    echo "groups of 256 characters converting differently, by code page:" \
        "$(diff "$out/probe-linux.txt" "$out/probe-windows.txt" | awk '/^</ {print $2}' | sort | uniq -c | awk '{printf "%s:%s ", $2, $1}')"
else
    echo "no code page probes (build/native, build/kelvo-exe): conversion not compared"
fi

version="$(kelvo_exe version | tr -d '\r')"
[ "$version" = "$("$kelvo" version)" ] && echo "ok: kelvo.exe version: $version" ||
    fail "kelvo.exe version says '$version'"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "kelvo.exe: all checks passed"
