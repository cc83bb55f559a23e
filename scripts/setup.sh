#!/usr/bin/env bash
# Installs the Debian packages of the named lists (scripts/setup.sh demo gui
# reads packages/demo.list and packages/gui.list), or, with no name, of every
# list: all that the build, the tests and the demo need. One package a line,
# # starts a comment. Idempotent: apt is only asked when something is missing.
set -euo pipefail
cd "$(dirname "$0")"
lists=()
for name in "$@"; do
  [ -f "packages/$name.list" ] || { echo "setup.sh: no list packages/$name.list" >&2; exit 2; }
  lists+=("packages/$name.list")
done
[ ${#lists[@]} -eq 0 ] && lists=(packages/*.list)
mapfile -t packages < <(cat "${lists[@]}" | sed -e 's/#.*//' -e 's/[[:space:]]//g' | grep -v '^$' | sort -u)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
