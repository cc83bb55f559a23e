#!/usr/bin/env bash
# Sets up a demo program folder (sample mail database, sample LDIF, VESKA.INI) and
# runs veskad on it in the foreground. Ctrl-C stops it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
# Only what the demo needs; scripts/setup.sh without a name installs everything.
scripts/setup.sh demo
port=${VESKA_DEMO_PORT:-10389}
build=build-demo
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVESKA_TESTS=OFF -DVESKA_GUI=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target veskad veska_api

demo=$root/demo
mkdir -p "$demo"
cp "$build/veskad" "$build/api/API.so" "$demo/"
rm -f "$demo/mail.db"
sqlite3 "$demo/mail.db" < api/schema.sql
sqlite3 "$demo/mail.db" < api/sample.sql
cp api/sample.ldif "$demo/contacts.ldif"
cat > "$demo/VESKA.INI" <<INI
[OPTIONS]
StartOpt=0
DefaultPort=$port
ExtFile=$demo/contacts.ldif
LogNone=No
LogSelected=Yes
LogService=Yes
LogRequests=Yes
LogErrors=No
LogSession=Yes
BindAll=No
BindSelected=Yes
IntSelected=127.0.0.1
StartMin=No
MaxResults=50
StandardSearch=Yes
INI

cat <<MSG
Demo folder: $demo (settings VESKA.INI, event log VESKA.LOG)
Try, in another terminal:
  ldapsearch -x -H ldap://127.0.0.1:$port -b "" "(|(cn=*lee*)(mail=*lee*))"
Ctrl-C stops the server.
MSG
exec "$demo/veskad" --dir "$demo"
