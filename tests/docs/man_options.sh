#!/bin/sh
# The options a program's --help lists and the options the SYNOPSIS and
# OPTIONS sections of its manual page name must be the same set.
# usage: man_options.sh PROGRAM PAGE
set -eu
program=$1
page=$2
help=$("$program" --help)
from_help=$(printf '%s\n' "$help" | grep -oE -- '--[a-z][a-z-]*' | sort -u)
# In the page source a dash is written \-; examples elsewhere may name other
# programs' options.
from_page=$(awk '/^\.SH/ { keep = ($2 == "SYNOPSIS" || $2 == "OPTIONS") } keep' "$page" |
            sed 's/\\-/-/g' | grep -oE -- '--[a-z][a-z-]*' | sort -u)
if [ "$from_help" != "$from_page" ]; then
  echo "options of $program --help:"; printf '%s\n' "$from_help"
  echo "options in $page:"; printf '%s\n' "$from_page"
  exit 1
fi
echo "$(basename "$program"): $(printf '%s ' $from_help)in --help and in $(basename "$page")"
