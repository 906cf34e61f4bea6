#!/usr/bin/env bash
# Checks that the source folders depend on each other one way only, by their
# #include lines. The setup program is layered
#     common <- archive <- engine <- wizard <- control
# (each folder may include its own headers and those of the folders to its
# left); the uninstaller and kelvo stand beside it and use only common,
# archive and themselves (kelvo also embeds data from resources/).
#
#   check-layers.sh            exit 1, naming each file and include that runs
#                              against the order
#   check-layers.sh --counts   also print the includes per folder pair
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.." || exit 1

declare -A allowed=(
    [common]="common"
    [archive]="common archive"
    [engine]="common archive engine"
    [wizard]="common archive engine wizard"
    [control]="common archive engine wizard control"
    [uninstall]="common archive uninstall"
    [builder]="common archive builder resources"
)

status=0
declare -A pairs=()
for folder in "${!allowed[@]}"; do
    for file in "$folder"/*.h "$folder"/*.cpp; do
        [ -e "$file" ] || continue
        while IFS=: read -r line include; do
            target=${include%%/*}
            [ "$target" = "$include" ] && continue  # a header beside the file
            [ "$target" = "$folder" ] || pairs["$folder -> $target"]=$((${pairs["$folder -> $target"]:-0} + 1))
            case " ${allowed[$folder]} " in
                *" $target "*) ;;
                *) echo "$file:$line: includes \"$include\": $folder/ may use only ${allowed[$folder]// /, }" >&2
                   status=1 ;;
            esac
        done < <(grep -n '^#include "' "$file" | sed -E 's/^([0-9]+):#include "([^"]+)".*/\1:\2/')
    done
done

if [ "${1:-}" = "--counts" ]; then
    for pair in "${!pairs[@]}"; do printf '%5d  %s\n' "${pairs[$pair]}" "$pair"; done | sort -k2
fi
[ "$status" -eq 0 ] && echo "layers: every include runs one way"
exit "$status"
