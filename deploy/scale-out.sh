#!/usr/bin/env bash
# Two veskad replicas behind HAProxy (TCP mode, LDAP bind health checks), all on
# loopback, driven by the load generator; halfway through one replica is killed.
# Shows the figures with two replicas, then that searches go on through the
# survivor and that no more searches fail than the killed replica had
# connections. Everything it starts it stops; it talks to 127.0.0.1 only.
#
#   deploy/scale-out.sh [VESKAD [API_SO]]
# Defaults: build-release/veskad and build-release/api/API.so. Settings from the
# environment: CONNS (16), DURATION (seconds per run, 6), ENTRIES (people in the
# generated directory, 5000), FILTER.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
veskad=${1:-$root/build-release/veskad}
api=${2:-$(dirname "$veskad")/api/API.so}
conns=${CONNS:-16}
duration=${DURATION:-6}
entries=${ENTRIES:-5000}
filter=${FILTER:-(|(cn=*lee*)(mail=*lee*))}
for tool in haproxy c++ python3 ss; do
  command -v "$tool" >/dev/null || { echo "scale-out: $tool is not installed" >&2; exit 1; }
done
[ -x "$veskad" ] && [ -f "$api" ] || { echo "scale-out: no veskad/API.so at $veskad (build it first)" >&2; exit 1; }

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

c++ -O2 -std=c++20 -pthread -o "$work/ldap_load" "$root/bench/ldap_load.cpp"
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

# One directory for both replicas: the sample mail database and generated people.
sqlite3 "$work/mail.db" < "$root/api/schema.sql"
sqlite3 "$work/mail.db" < "$root/api/sample.sql"
python3 - "$entries" > "$work/people.ldif" <<'PY'
import sys
first = ["Ann", "Bob", "Dana", "Eve", "Lee", "Mia", "Noor", "Omar", "Ravi", "Sara", "Tom", "Yuki"]
last = ["Lee", "Park", "Smith", "Chang", "Patel", "Novak", "Berg", "Costa", "Ito", "Kahn", "Leeds", "Moreau"]
for i in range(int(sys.argv[1])):
    name = "%s %s %d" % (first[i % len(first)], last[(i // len(first)) % len(last)], i)
    mail = name.lower().replace(" ", ".") + "@example.net"
    print("dn: %s\ncn: %s\nmail: %s\n" % (name, name, mail))
PY

start_replica() {  # name port -> pid in $replica_pid
  local dir=$work/$1
  mkdir -p "$dir"
  cp "$api" "$dir/API.so"
  ln -s "$work/mail.db" "$dir/mail.db"
  printf '[OPTIONS]\nDefaultPort=%s\nBindSelected=Yes\nIntSelected=127.0.0.1\nExtFile=%s\nMaxResults=50\n' \
    "$2" "$work/people.ldif" > "$dir/VESKA.INI"
  "$veskad" --dir "$dir" > "$dir/out" 2> "$dir/err" &
  replica_pid=$!
  pids+=("$replica_pid")
  for _ in $(seq 200); do
    grep -q '^Service started ' "$dir/out" 2>/dev/null && return 0
    sleep 0.05
  done
  echo "scale-out: replica $1 did not start: $(cat "$dir/err")" >&2
  exit 1
}

p1=$(free_port); p2=$(free_port); lb=$(free_port)
start_replica r1 "$p1"; pid1=$replica_pid
start_replica r2 "$p2"; pid2=$replica_pid
VESKA_LB_BIND=127.0.0.1:$lb VESKA_REPLICA1=127.0.0.1:$p1 VESKA_REPLICA2=127.0.0.1:$p2 \
  haproxy -db -f "$here/haproxy.cfg" > "$work/haproxy.log" 2>&1 &
pids+=("$!")
# Ready once a search through the balancer is answered.
for _ in $(seq 100); do
  "$work/ldap_load" -p "$lb" -n 1 -w 0 -d 1 -f "$filter" > /dev/null 2>&1 && break
  sleep 0.1
done

searches_of() { grep -c '^Search Request ' "$work/$1/out" || true; }
field() { python3 -c 'import json,sys; print(json.loads(sys.argv[1])[sys.argv[2]])' "$1" "$2"; }

echo "veskad replicas on 127.0.0.1:$p1 and :$p2, HAProxy on :$lb; $conns connections, $duration s per run"
echo "directory: $entries generated people + the sample mail users; filter $filter"

# Run 1: both replicas up.
both=$("$work/ldap_load" -p "$lb" -c "$conns" -t 2 -d "$duration" -w 1 -f "$filter" --json)
echo "both replicas:  $(field "$both" searches_per_s) searches/s, p50 $(field "$both" p50_us) us, p99 $(field "$both" p99_us) us, errors $(field "$both" errors)"
echo "  searches answered by replica1 $(searches_of r1), replica2 $(searches_of r2)"

# Run 2: replica1 is killed (SIGKILL, as in a crash) after a third of the run.
"$work/ldap_load" -p "$lb" -c "$conns" -t 2 -d "$duration" -w 0 -f "$filter" --json > "$work/failover.json" &
loadgen=$!
sleep "$(awk -v d="$duration" 'BEGIN { print d / 3 }')"  # no interpreter start-up in the timing
on_killed=$(ss -Htn state established "( dport = :$p1 )" | wc -l)
kill -KILL "$pid1"
wait "$pid1" 2>/dev/null || true
survivor_before=$(searches_of r2)
killed_at=$SECONDS
wait "$loadgen" || true
after_kill=$((SECONDS - killed_at))
failover=$(cat "$work/failover.json")
survivor_after=$(searches_of r2)
errors=$(field "$failover" errors)
echo "replica1 killed with $on_killed balancer connections open on it"
echo "failover run:   $(field "$failover" searches_per_s) searches/s, p99 $(field "$failover" p99_us) us, max $(field "$failover" max_us) us," \
     "errors $errors (connection $(field "$failover" conn_errors), timeouts $(field "$failover" timeouts)), reconnects $(field "$failover" reconnects)"
echo "  searches answered by replica2 in the ${after_kill} s after the kill: $((survivor_after - survivor_before))"

ok=1
if [ "$((survivor_after - survivor_before))" -le 0 ]; then echo "FAIL: no search answered after the kill" >&2; ok=0; fi
if [ "$errors" -gt "$on_killed" ]; then echo "FAIL: $errors failed searches, more than the $on_killed connections of the killed replica" >&2; ok=0; fi
[ "$ok" = 1 ] && echo "scale-out: searches went on; failures stayed within the killed replica's connections"
[ "$ok" = 1 ]
