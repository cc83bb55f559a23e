#!/bin/bash
# floor_share.sh - veskad against a floor responder, alternately in one run,
# under the same load (bench/ldap_load.cpp): searches/s, p99 and veskad's share
# of the floor's searches/s per connection count.
#
#   bench/floor_share.sh FLOOR [VESKAD]
#
# FLOOR is the responder that does no directory work: an executable, a C source
# file (built with cc -O2 -pthread) or a command line. It is started as
#   FLOOR PORT ANSWER_FILE THREADS
# and must listen on 127.0.0.1:PORT, answer binds with success and answer every
# other request with the octets of ANSWER_FILE (captured here from veskad's
# answer to the benchmark search, message ID 2) under the request's message ID.
# VESKAD defaults to build-rel/veskad.
#
# Environment (defaults in brackets): N people [100000], CONNS ["1 8 64"],
# ROUNDS per server and count [3], DUR measured seconds per run [5], WARMUP [1],
# THREADS of the floor [nproc], LOAD a built ldap_load [built here],
# KEEP=1 keeps the work folder. Loopback only; stops what it started.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
FLOOR=${1:?usage: bench/floor_share.sh FLOOR [VESKAD]}
VESKAD=${2:-${VESKAD:-$ROOT/build-rel/veskad}}
N=${N:-100000}
CONNS=${CONNS:-"1 8 64"}
ROUNDS=${ROUNDS:-3}
DUR=${DUR:-5}
WARMUP=${WARMUP:-1}
THREADS=${THREADS:-$(nproc)}
FILTER='(|(cn=*smith*)(mail=*smith*))'
[[ -x "$VESKAD" ]] || { echo "floor_share: no veskad at $VESKAD" >&2; exit 2; }

WORK=$(mktemp -d /tmp/floor_share.XXXXXX)
vpid= fpid=
cleanup() {
    for p in $vpid $fpid; do kill "$p" 2>/dev/null || true; done
    for p in $vpid $fpid; do wait "$p" 2>/dev/null || true; done
    [[ "${KEEP:-0}" == 1 ]] || rm -rf "$WORK"
}
trap cleanup EXIT

free_port() { /usr/bin/python3 -c 'import socket;s=socket.socket();s.bind(("127.0.0.1",0));print(s.getsockname()[1])'; }
wait_port() {  # port pid
    for _ in $(seq 1 3000); do
        kill -0 "$2" 2>/dev/null || return 1
        (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}

LOAD=${LOAD:-}
if [[ -z "$LOAD" ]]; then
    LOAD=$WORK/ldap_load
    c++ -O2 -std=c++20 -pthread -o "$LOAD" "$ROOT/bench/ldap_load.cpp"
fi
case "$FLOOR" in
    *.c) cc -O2 -pthread -o "$WORK/floor" "$FLOOR"; floor_cmd=("$WORK/floor") ;;
    *) if [[ -x "$FLOOR" && ! -d "$FLOOR" ]]; then floor_cmd=("$FLOOR"); else read -ra floor_cmd <<<"$FLOOR"; fi ;;
esac

mkdir -p "$WORK/prog"
cc -O2 -fPIC -shared -o "$WORK/prog/API.so" "$ROOT/bench/empty_api.c"
/usr/bin/python3 "$ROOT/bench/people.py" "$N" "$WORK/people.ldif"
VP=$(free_port); FP=$(free_port)
printf '[OPTIONS]\nStartOpt=0\nDefaultPort=%s\nExtFile=%s\nMaxResults=50\nLogSelected=No\nBindAll=No\nBindSelected=Yes\nIntSelected=127.0.0.1\n' \
    "$VP" "$WORK/people.ldif" > "$WORK/prog/VESKA.INI"
"$VESKAD" --dir "$WORK/prog" > /dev/null 2> "$WORK/veskad.err" & vpid=$!
wait_port "$VP" "$vpid" || { echo "floor_share: veskad did not listen: $(head -c 300 "$WORK/veskad.err")" >&2; exit 1; }

search=(-H 127.0.0.1 -f "$FILTER" -b dc=example,dc=com -z 0 -a cn,mail,sn,givenName)
"$LOAD" -p "$VP" -n 1 -w 0 -d 30 "${search[@]}" --capture "$WORK/answer.bin" > /dev/null \
    || { echo "floor_share: no answer from veskad" >&2; exit 1; }
"${floor_cmd[@]}" "$FP" "$WORK/answer.bin" "$THREADS" > /dev/null 2>&1 & fpid=$!
wait_port "$FP" "$fpid" || { echo "floor_share: the floor responder did not listen" >&2; exit 1; }

one() {  # port conns name
    "$LOAD" -p "$1" -c "$2" -d "$DUR" -w "$WARMUP" "${search[@]}" --lowat --json --tag server="$3" || true
}
echo "$(date -u '+%Y-%m-%d %H:%M UTC'); $(nproc) cores; load average $(cut -d' ' -f1-3 /proc/loadavg); N=$N; $ROUNDS rounds x ${DUR}s"
printf '%-6s %12s %12s %7s %12s %12s %9s\n' conns floor/s veskad/s share "floor p99" "veskad p99" "p99 ratio"
for c in $CONNS; do
    runs=()
    for _ in $(seq 1 "$ROUNDS"); do
        runs+=("$(one "$FP" "$c" floor)" "$(one "$VP" "$c" veskad)")
    done
    /usr/bin/python3 - "$c" "${runs[@]}" <<'PY'
import json, statistics, sys
conns, runs = sys.argv[1], [json.loads(r) for r in sys.argv[2:] if r.startswith("{")]
def median(server, key):
    values = [r[key] for r in runs if r["server"] == server]
    return statistics.median(values) if values else float("nan")
fs, vs = median("floor", "searches_per_s"), median("veskad", "searches_per_s")
fp, vp = median("floor", "p99_us"), median("veskad", "p99_us")
bad = [r["server"] for r in runs if r["errors"] or r["entries_per_search_max"] != r["entries_per_search_min"]]
print("%-6s %12.0f %12.0f %7.2f %10.0fus %10.0fus %9.2f%s" % (conns, fs, vs, vs / fs if fs else 0, fp, vp,
      vp / fp if fp else 0, "  (errors or uneven answers: %s)" % ", ".join(sorted(set(bad))) if bad else ""))
PY
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
