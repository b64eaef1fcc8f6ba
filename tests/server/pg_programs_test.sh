#!/bin/sh
# Two apura-server processes on one PostgreSQL database, as an operator runs them:
# a throwaway cluster in a temporary folder (as user nobody when run as root,
# since initdb refuses root), the demo imported through one server, a write
# through one seen by a read through the other.
set -eu
server=$1
call=$2
bin=${APURA_PG_BIN:-$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)}
if [ -z "$bin" ] || [ ! -x "$bin/initdb" ]; then
  echo "SKIP: no PostgreSQL server programs; scripts/setup.sh installs them"
  exit 0
fi
dir=$(mktemp -d)
as=
if [ "$(id -u)" -eq 0 ]; then
  chown nobody "$dir"
  as="runuser -u nobody --"
fi
pids=
cleanup() {
  for p in $pids; do kill "$p" 2>/dev/null || true; done
  $as "$bin/pg_ctl" -D "$dir/data" -m immediate stop >/dev/null 2>&1 || true
  rm -rf "$dir"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

$as "$bin/initdb" -D "$dir/data" -U apura --auth=trust --locale=C -E UTF8 --no-sync \
  >"$dir/initdb.out" 2>&1 || fail "initdb: $(cat "$dir/initdb.out")"
$as "$bin/pg_ctl" -D "$dir/data" -l "$dir/pg.log" -w \
  -o "-c listen_addresses='' -k $dir -c fsync=off" start >/dev/null || fail "cluster did not start"
db="postgresql://apura@/postgres?host=$dir"
# Operators live in the database both servers use; every call logs in.
export APURA_PASSWORD="Vinte-e-dois cavalos azuis"

"$server" --write-demo "$dir/demo.json" >/dev/null
"$server" --db "$db" --import "$dir/demo.json" >/dev/null || fail "demo import into PostgreSQL"
echo "$APURA_PASSWORD" | "$server" --db "$db" --add-operator ANA --name Ana \
  --centres '*' --branches '*' >/dev/null || fail "operator not added"
if "$server" --db "$db" --import "$dir/demo.json" 2>"$dir/err"; then fail "second import accepted"; fi
grep -q "1234" "$dir/err" || fail "second import refusal does not name the tally"
if "$server" --db "postgresql://apura@/nothing?host=$dir" --import "$dir/demo.json" 2>"$dir/err"; then
  fail "a database that does not exist was accepted"
fi
grep -q "nothing" "$dir/err" || fail "the refused address is not named: $(cat "$dir/err")"

start() {
  "$server" --db "$db" --listen 127.0.0.1:0 --metrics 0 >"$dir/$1.out" 2>&1 &
  pids="$pids $!"
  for _ in $(seq 1 100); do
    grep -q "listening on" "$dir/$1.out" && break
    sleep 0.1
  done
  addr=$(sed -n 's/^apura-server listening on //p' "$dir/$1.out")
}
start a
a=$addr
start b
b=$addr
[ -n "$a" ] && [ -n "$b" ] || fail "servers did not start: $(cat "$dir/a.out" "$dir/b.out")"

# Rows of GetItmApurPrec whose IDITMSELAPUR (just before CDCENTITMAP) is "S".
selected() {
  "$call" --login ANA --json "$1" Prq05001.rdmPlanApurNegGrid GetItmApurPrec ref:0001 ref:1234 \
    | grep -c '"S", *"0001"' || true
}
[ "$(selected "$b")" -eq 0 ] || fail "demo tally starts with chosen rows"
"$call" --login ANA "$a" Prq05001.rdmPlanApurNegGrid MelhorCotacao ref:0001 ref:1234 ref:PRQ ref:F >/dev/null \
  || fail "MelhorCotacao through the first server"
n=$(selected "$b")
[ "$n" -gt 0 ] || fail "the second server does not see the first one's write"
[ "$n" -eq "$(selected "$a")" ] || fail "the two servers answer differently"

# Each server's metrics count its own calls; the sessions are the database's.
grid=Prq05001.rdmPlanApurNegGrid
page() { curl -sf "$(sed -n 's/^apura-server metrics on //p' "$dir/$1.out")"; }
page a >"$dir/a.page" || fail "no metrics page of the first server"
page b >"$dir/b.page" || fail "no metrics page of the second server"
grep -qxF "apura_calls_total{object=\"$grid\",method=\"MelhorCotacao\"} 1" "$dir/a.page" \
  || fail "first server's metrics: $(grep MelhorCotacao "$dir/a.page")"
grep -q "method=\"MelhorCotacao\"" "$dir/b.page" && fail "second server counted a call it did not serve"
grep -qxF "apura_calls_total{object=\"$grid\",method=\"GetItmApurPrec\"} 2" "$dir/b.page" \
  || fail "second server's metrics: $(grep GetItmApurPrec "$dir/b.page")"
grep -q "^apura_sessions [0-9]" "$dir/b.page" || fail "no sessions gauge on PostgreSQL"
grep -q "^apura_writer_waits_total [1-9]" "$dir/a.page" || fail "the tally lock's wait not counted"
echo "postgresql programs ok ($n rows chosen, seen through both servers)"
