#!/usr/bin/env bash
# Builds the Debian package of the service, installs it on this machine, runs the
# installed veskad on a scratch folder and a free high port, searches it with
# ldapsearch, verifies the systemd unit, then removes the package again.
# The optimised build of 20-release is reused (configured for prefix /usr).
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
build=build-release
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null && sudo -n true 2>/dev/null; then SUDO="sudo -n"; else
    echo "package check needs root (or password-less sudo) for dpkg -i: skipped"; exit 0; fi
fi

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVESKA_WERROR=ON -DVESKA_GUI=OFF \
  -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build "$build" -j"$(nproc)"
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/veskad_*.deb)
echo "built $(basename "$deb")"

fail() { echo "package check: $*" >&2; exit 1; }
contents=$(dpkg-deb -c "$deb")
for f in ./usr/sbin/veskad ./usr/lib/veska/API.so ./usr/lib/systemd/system/veskad.service \
         ./usr/share/man/man8/veskad.8.gz ./usr/share/veska/VESKA.INI ./usr/share/veska/sample.ldif \
         ./usr/share/veska/schema.sql ./usr/share/veska/sample.sql; do
  grep -q " $f\$" <<<"$contents" || fail "$f missing from the package"
done
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for lib in libc6 libstdc++6 libsqlite3-0 libssl3; do
  grep -q "$lib" <<<"$depends" || fail "dependency on $lib not found by shlibdeps"
done

scratch=$(mktemp -d)
pid=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  rm -rf "$scratch"
  if dpkg-query -W -f='${Status}' veskad 2>/dev/null | grep -q "ok installed"; then
    $SUDO dpkg -P veskad >/dev/null || true
  fi
}
trap cleanup EXIT

$SUDO dpkg -i "$deb" >/dev/null
[ -x /usr/sbin/veskad ] || fail "veskad not installed"
/usr/sbin/veskad --version | grep -qx "veskad [0-9.]*" || fail "veskad --version"
zcat /usr/share/man/man8/veskad.8.gz | grep -q '^\.TH VESKAD 8' || fail "man page veskad(8) unreadable"

if command -v systemd-analyze >/dev/null; then
  # --man=no: the check of Documentation= needs man-db, which is not the unit's business.
  verify=$(systemd-analyze verify --man=no /usr/lib/systemd/system/veskad.service 2>&1) || fail "unit rejected: $verify"
  [ -z "$verify" ] || fail "unit has warnings: $verify"
  echo "systemd-analyze verify: unit accepted"
else
  echo "systemd-analyze not installed: unit not verified"
fi

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
sqlite3 "$scratch/mail.db" < /usr/share/veska/schema.sql
sqlite3 "$scratch/mail.db" < /usr/share/veska/sample.sql
ln -s /usr/lib/veska/API.so "$scratch/API.so"
sed -e "s/^DefaultPort=.*/DefaultPort=$port/" -e 's/^BindAll=.*/BindAll=No/' \
    -e 's/^BindSelected=.*/BindSelected=Yes/' -e 's/^IntSelected=.*/IntSelected=127.0.0.1/' \
    -e "s#^ExtFile=.*#ExtFile=/usr/share/veska/sample.ldif#" /usr/share/veska/VESKA.INI > "$scratch/VESKA.INI"
/usr/sbin/veskad --dir "$scratch" > "$scratch/out" 2> "$scratch/err" &
pid=$!
for _ in $(seq 100); do
  grep -q '^Service started ' "$scratch/out" && break
  kill -0 "$pid" 2>/dev/null || fail "installed veskad ended: $(cat "$scratch/err")"
  sleep 0.1
done
grep -q '^Service started ' "$scratch/out" || fail "installed veskad did not start: $(cat "$scratch/err")"
[ ! -s "$scratch/err" ] || fail "installed veskad complained: $(cat "$scratch/err")"
# An entry's name is its first line (entries from the LDIF file also carry
# their own "dn" line as an attribute).
found=$(ldapsearch -x -LLL -o ldif-wrap=no -H "ldap://127.0.0.1:$port" -b "" "(|(cn=*lee*)(mail=*lee*))" \
        | awk 'BEGIN { RS = "" } { split($0, lines, "\n"); printf "%s|", lines[1] }')
[ "$found" = "dn: cn=Ann Lee,o=Example|dn: mail=bob@example.org|dn: mail=fleet@example.org|dn: cn=Lee Chang,o=Partners|" ] || fail "ldapsearch found: $found"
echo "installed veskad answered ldapsearch on port $port: $found"
kill -TERM "$pid"
wait "$pid" || fail "veskad did not exit 0 on SIGTERM"
pid=""

$SUDO dpkg -r veskad >/dev/null
[ ! -e /usr/sbin/veskad ] || fail "dpkg -r left /usr/sbin/veskad"
[ ! -e /usr/lib/systemd/system/veskad.service ] || fail "dpkg -r left the unit"
$SUDO dpkg -P veskad >/dev/null
echo "package installed, served, verified and removed"
