#!/usr/bin/env bash
# Writes kelvo's manual page (kelvo.1, roff) from kelvo's own texts: the
# overview of `kelvo help`, then each command's `kelvo COMMAND --help` (or
# its line of the overview when it has no usage of its own), so
# the page says what the program says. No date: the same kelvo always
# gives the same page.
#   make-man.sh KELVO OUTPUT
set -euo pipefail
kelvo=$1
output=$2

# Text as roff shows it verbatim: backslashes escaped, and a line that
# starts with a dot or an apostrophe kept from being read as a request.
verbatim() { sed -e 's/\\/\\e/g' -e "s/^\\([.']\\)/\\\\\\&\\1/"; }

version=$("$kelvo" version)
overview=$("$kelvo" help)
# The command names: the first word of each line under "commands:".
commands=$(awk '/^commands:/ { on = 1; next } on && /^  [a-z]/ { print $1 } on && /^$/ { exit }' <<<"$overview")
[ -n "$commands" ] || { echo "make-man.sh: no commands in 'kelvo help'" >&2; exit 1; }

{
  echo ".TH KELVO 1 \"\" \"${version}\" \"Kelvo\""
  echo ".SH NAME"
  echo "kelvo \\- build, list, check and unpack Windows setup programs"
  echo ".SH SYNOPSIS"
  echo ".B kelvo"
  echo ".I COMMAND"
  echo "[\\fIOPTIONS\\fR]"
  echo ".SH DESCRIPTION"
  echo ".nf"
  verbatim <<<"$overview"
  echo ".fi"
  echo ".SH COMMANDS"
  # A command with a usage of its own shows it; the others answer --help
  # with the overview, and get their line of it.
  for command in $commands; do
    echo ".SS $command"
    echo ".nf"
    usage=$("$kelvo" "$command" --help)
    if [ "$usage" = "$overview" ]; then
      grep -m 1 "^  $command\( \|\$\)" <<<"$overview" | sed 's/^  //' | verbatim
    else
      verbatim <<<"$usage"
    fi
    echo ".fi"
  done
  echo ".SH FILES"
  echo "kelvo builds setups from the setup and uninstall programs"
  echo ".I kelvo-setup.exe"
  echo "and"
  echo ".IR kelvo-uninstall.exe ,"
  echo "found beside kelvo or in"
  echo ".I ../share/kelvo"
  echo "from kelvo's folder, unless --stub and --uninstaller name others."
  echo "Its built-in templates, texts and picture are part of kelvo; copies"
  echo "to start a project's own from are in"
  echo ".IR ../share/kelvo/resources ."
} >"$output.new"
mv "$output.new" "$output"
