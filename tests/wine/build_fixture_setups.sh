#!/usr/bin/env bash
# Builds a setup from every project in tests/fixtures/projects with the
# native kelvo and the setup and uninstall programs of this build (the i686
# ones or the 64-bit test build's), for the Windows tests that run real
# setups:  build_fixture_setups.sh KELVO STUB UNINSTALLER OUTPUT_FOLDER
# Each project P becomes OUTPUT_FOLDER/P.exe. A project folder with a
# `sizes` file ("name bytes" per line) gets those zero-filled files made in
# a copy of the folder first, so large payloads need not be kept in git; a
# `build-options` file holds more options for kelvo build (one line).
set -euo pipefail
kelvo=$1 stub=$2 uninstaller=$3 out=$4
projects="$(cd "$(dirname "${BASH_SOURCE[0]}")/../fixtures/projects" && pwd)"
if [ ! -x "$kelvo" ]; then
    echo "build_fixture_setups: $kelvo is missing (build the native tree first: make native)" >&2
    exit 1
fi
mkdir -p "$out"
for project in "$projects"/*/kelvo.toml; do
    folder="$(dirname "$project")"
    name="$(basename "$folder")"
    if [ -f "$folder/sizes" ]; then
        copy="$out/projects/$name"
        rm -rf "$copy"
        mkdir -p "$copy"
        cp -r "$folder"/. "$copy"
        grep -v '^#' "$folder/sizes" | while read -r file bytes; do
            [ -n "$file" ] || continue
            mkdir -p "$(dirname "$copy/$file")"
            truncate -s "$bytes" "$copy/$file"
        done
        project="$copy/kelvo.toml"
    fi
    options=()
    [ -f "$folder/build-options" ] && read -r -a options <"$folder/build-options"
    rm -f "$out/$name".D[0-9][0-9]
    "$kelvo" build "$project" -o "$out/$name.exe" --stub "$stub" --uninstaller "$uninstaller" --level 9 "${options[@]}" >/dev/null
    echo "built $out/$name.exe"
done
