#!/bin/sh
# Writes a program's man page from its own --help, so the page never drifts from the program:
# help2man for the page, each subcommand's --help under COMMANDS, gzip -9n as Debian ships them.
#
#   make-man-page.sh HELP2MAN PROGRAM VERSION NAME OUTPUT.gz [SUBCOMMAND...]
set -eu
help2man=$1 program=$2 version=$3 description=$4 output=$5
shift 5

name=$(basename "$program")
# Run through PATH so the usage lines say "brenvik-cli", not the build tree's path.
PATH="$(cd "$(dirname "$program")" && pwd):$PATH"
export PATH

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

include=
if [ $# -gt 0 ]; then
  include="--include=$work/include"
  echo '[COMMANDS]' >>"$work/include"
  for sub in "$@"; do
    help=$("$name" "$sub" --help) || { echo "$name $sub --help failed" >&2; exit 1; }
    # Verbatim, with roff's escape character and control lines neutralised.
    printf '.SS %s\n.nf\n%s\n.fi\n' "$sub" \
      "$(printf '%s\n' "$help" | sed -e 's/\\/\\e/g' -e 's/-/\\-/g' -e "s/^[.']/\\\\\\&&/")" >>"$work/include"
  done
fi

"$help2man" --no-info --no-discard-stderr --version-string="$version" --name="$description" \
  ${include:+"$include"} --output="$work/page" "$name"
gzip -9n -c "$work/page" >"$output.tmp"
mv "$output.tmp" "$output"
