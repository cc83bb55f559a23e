#!/bin/bash
# listener_load.sh - searches per second and latency of veskad at several
# connection counts, with the project's load tool (bench/ldap_load.cpp).
# With OTHER set to a second veskad (for example an older build) both run
# alternately under the same load. Prints one line per run; never fails a build.
#
#   VESKAD=build-rel/veskad [OTHER=/path/to/other/veskad] bench/listener_load.sh
#
# Environment (defaults in brackets): N people [10000], CONNS ["8 64"], ROUNDS [3],
# DUR seconds per run [5], MAXRESULTS [50], PORT [38912], LOAD a built ldap_load.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
N=${N:-10000}
CONNS=${CONNS:-"8 64"}
ROUNDS=${ROUNDS:-3}
DUR=${DUR:-5}
MAXRESULTS=${MAXRESULTS:-50}
PORT=${PORT:-38912}
FILTER='(|(cn=*smith*)(mail=*smith*))'
: "${VESKAD:?set VESKAD to a veskad binary}"

WORK=$(mktemp -d /tmp/listener_load.XXXXXX)
trap '[[ -z "${PID:-}" ]] || kill "$PID" 2>/dev/null; rm -rf "$WORK"' EXIT

LOAD=${LOAD:-}
if [[ -z "$LOAD" ]]; then
    LOAD=$WORK/ldap_load
    c++ -O2 -std=c++20 -pthread -o "$LOAD" "$ROOT/bench/ldap_load.cpp"
fi
cc -O2 -fPIC -shared -o "$WORK/API.so" "$ROOT/bench/empty_api.c"
/usr/bin/python3 "$ROOT/bench/people.py" "$N" "$WORK/veska.ldif"

start() {  # binary
    mkdir -p "$WORK/dir"
    cp "$WORK/API.so" "$WORK/dir/API.so"
    printf '[OPTIONS]\nStartOpt=0\nDefaultPort=%s\nExtFile=%s\nLogSelected=No\nBindSelected=Yes\nIntSelected=127.0.0.1\nMaxResults=%s\n' \
        "$PORT" "$WORK/veska.ldif" "$MAXRESULTS" > "$WORK/dir/VESKA.INI"
    "$1" --dir "$WORK/dir" > /dev/null 2>&1 &
    PID=$!
    for _ in $(seq 300); do
        (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null && return 0
        sleep 0.1
    done
    echo "veskad did not listen" >&2
    return 1
}

stop() {
    kill "$PID" 2>/dev/null || true
    wait "$PID" 2>/dev/null || true
    PID=
}

echo "N=$N filter $FILTER MaxResults=$MAXRESULTS; $(nproc) cores; load $(cut -d' ' -f1-3 /proc/loadavg)"
for round in $(seq "$ROUNDS"); do
    for which in VESKAD OTHER; do
        bin=${!which:-}
        [[ -n "$bin" ]] || continue
        start "$bin"
        for c in $CONNS; do
            out=$("$LOAD" -p "$PORT" -c "$c" -d "$DUR" -w 1 -f "$FILTER" -a cn,mail,sn,givenName --lowat --json || true)
            /usr/bin/python3 -c 'import json,sys; r=json.loads(sys.argv[1]); print("round %s %-6s c=%-3s %8.0f searches/s  p50 %5d us  p99 %6d us  errors %d" % (sys.argv[2], sys.argv[3], sys.argv[4], r["searches_per_s"], r["p50_us"], r["p99_us"], r["errors"]))' \
                "$out" "$round" "$which" "$c" 2>/dev/null || echo "round $round $which c=$c: no result"
        done
        stop
    done
done
