#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need: the
# union of scripts/packages/*.list (one package a line, # starts a comment).
# Idempotent: apt is only asked when something is missing.
set -euo pipefail
cd "$(dirname "$0")"
mapfile -t packages < <(cat packages/*.list | sed -e 's/#.*//' -e 's/[[:space:]]//g' | grep -v '^$' | sort -u)
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
