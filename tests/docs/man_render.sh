#!/bin/sh
# Renders each manual page with groff's warnings on; any warning fails.
# usage: man_render.sh GROFF PAGE...
set -u
groff=$1
shift
status=0
for page in "$@"; do
  warnings=$("$groff" -man -ww -z -Tutf8 "$page" 2>&1) || status=1
  if [ -n "$warnings" ]; then
    printf '%s:\n%s\n' "$page" "$warnings"
    status=1
  fi
done
exit $status
