#!/usr/bin/env bash
# Setups in the user's own characters, each run under Wine with the locale
# (ANSI code page and interface language) of its case:
#
#   languages_test.sh KELVO STUB UNINSTALLER DRIVER.exe
#
# - German, code page 1252, on a German system: the pages show the title and
#   the German texts, and the files install and uninstall under their names.
# - Japanese, code page 932, on a Japanese system: names whose characters end
#   in the byte of a backslash install into nested folders and uninstall.
# - Russian, code page 1251, on a Western system: the texts are right (NT
#   shows them through the wide-character calls).
# - English, German and Russian in one setup: German under a German locale,
#   English under a Swedish one.
# - A character the project's code page cannot hold fails the build, naming
#   the place and the character.
# The driver reports every window text in UTF-8.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
scripts="$here/../../scripts"
# shellcheck source-path=SCRIPTDIR/../../scripts source=wine-env.sh
. "$scripts/wine-env.sh"

if [ $# -ne 4 ]; then
    echo "usage: languages_test.sh KELVO STUB UNINSTALLER DRIVER.exe" >&2
    exit 2
fi
kelvo=$1 stub=$2 uninstaller=$3 driver=$4
fixtures="$here/../fixtures/languages"
out="$KELVO_WINE_DIR/languages"
rm -rf "$out"
mkdir -p "$out"
failures=0

fail() {
    echo "FAILED: $*" >&2
    failures=$((failures + 1))
}

build() { "$kelvo" build "$fixtures/$1/kelvo.toml" -o "$out/$1.exe" --stub "$stub" --uninstaller "$uninstaller" >/dev/null; }

# Runs a Windows program with the locale $1.
run_in() {
    local locale=$1
    shift
    LANG=$locale LC_ALL=$locale bash "$scripts/wine-run.sh" "$@"
}

# The tour of setup $2 under locale $1 must show each of the texts after them.
expect_tour() {
    local locale=$1 setup=$2
    shift 2
    local report="$out/$setup-$locale.tour"
    run_in "$locale" "$driver" tour "Z:$out/$setup.exe" --pages 1 >"$report" 2>&1 || true
    for text in "$@"; do
        grep -qF -- "$text" "$report" || fail "$setup under $locale does not show \"$text\" (report: $report)"
    done
}

echo "=== a character the code page cannot hold"
if "$kelvo" build "$fixtures/unrepresentable/kelvo.toml" -o "$out/unrepresentable.exe" 2>"$out/unrepresentable.err"; then
    fail "the build of a project with \"Ł\" in code page 1252 succeeded"
fi
cat "$out/unrepresentable.err"
for text in "kelvo.toml:8:" "destination" "Ł" "U+0141" "1252"; do
    grep -qF -- "$text" "$out/unrepresentable.err" || fail "the build's error does not name $text"
done

echo "=== German, code page 1252, on a German system"
build german
expect_tour de_DE.UTF-8 german "Café Müller – Größe" "Willkommen"
drive_c="$WINEPREFIX/drive_c"
folder="$drive_c/Kelvo Sprachen/Café Müller – Größe"
rm -rf "$drive_c/Kelvo Sprachen"
run_in de_DE.UTF-8 "$out/german.exe" /QUIET /NORESTART || fail "the German setup ended with $?"
for file in "Résumé.txt" "Übersicht/Größe.txt" "uninstall.exe"; do
    [ -f "$folder/$file" ] || fail "the German setup did not install $folder/$file"
done
ls -R "$drive_c/Kelvo Sprachen" || true
run_in de_DE.UTF-8 "C:\\Kelvo Sprachen\\Café Müller – Größe\\uninstall.exe" /Q || true
for file in "Résumé.txt" "Übersicht/Größe.txt" "Übersicht"; do
    [ ! -e "$folder/$file" ] || fail "the uninstaller left $folder/$file"
done

echo "=== Japanese, code page 932, on a Japanese system"
build japanese
expect_tour ja_JP.UTF-8 japanese "ソフト表" "ようこそ"
folder="$drive_c/Kelvo Languages/ソフト表"
rm -rf "$folder"
run_in ja_JP.UTF-8 "$out/japanese.exe" /QUIET /NORESTART || fail "the Japanese setup ended with $?"
for file in "readme.txt" "表示/ソース/表.txt" "uninstall.exe"; do
    [ -f "$folder/$file" ] || fail "the Japanese setup did not install $folder/$file"
done
run_in ja_JP.UTF-8 "C:\\Kelvo Languages\\ソフト表\\uninstall.exe" /Q || true
for file in "readme.txt" "表示/ソース/表.txt" "表示/ソース" "表示"; do
    [ ! -e "$folder/$file" ] || fail "the uninstaller left $folder/$file"
done

echo "=== Russian, code page 1251, on a Western system"
build russian
expect_tour en_US.UTF-8 russian "Программа" "Добро пожаловать"

echo "=== three languages in one setup"
build three
expect_tour de_DE.UTF-8 three "Willkommen bei Kelvo Three"
expect_tour sv_SE.UTF-8 three "Welcome"

if [ "$failures" -ne 0 ]; then
    echo "languages test: $failures failure(s)" >&2
    exit 1
fi
echo "languages test passed"
