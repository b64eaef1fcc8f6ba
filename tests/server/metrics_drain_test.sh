#!/bin/sh
# A server's metrics page after known calls, and its stop on SIGTERM: calls
# under way are answered, the server says it drained and exits 0.
set -eu
server=$1
call=$2
dir=$(mktemp -d)
pid=
cleanup() {
  [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"$server" --db "$dir/m.db" --listen 127.0.0.1:0 --demo --metrics 0 --drain-seconds 20 \
  >"$dir/out" 2>&1 &
pid=$!
for _ in $(seq 1 300); do
  grep -q "listening on" "$dir/out" && break
  kill -0 "$pid" 2>/dev/null || fail "server ended: $(cat "$dir/out")"
  sleep 0.1
done
addr=$(sed -n 's/^apura-server listening on //p' "$dir/out")
metrics=$(sed -n 's/^apura-server metrics on //p' "$dir/out")
[ -n "$addr" ] && [ -n "$metrics" ] || fail "no addresses: $(cat "$dir/out")"
case "$metrics" in http://127.0.0.1:*/metrics) ;; *) fail "metrics not on loopback: $metrics" ;; esac
APURA_PASSWORD=$(sed -n 's/^demo: operator COMP01, password //p' "$dir/out")
export APURA_PASSWORD

grid=Prq05001.rdmPlanApurNegGrid
"$call" --login COMP01 "$addr" $grid GetProduto ref:0001 ref:1234 >/dev/null
"$call" --login COMP01 "$addr" $grid GetProduto ref:0001 ref:1234 >/dev/null
"$call" --login COMP01 "$addr" $grid AtuaPrecEco 0001 N000011 X X X 001 n:1 1234 \
  >/dev/null 2>&1 && fail "a quote that does not exist was priced"
"$call" --login COMP01 "$addr" $grid NoSuchMethod >/dev/null 2>&1 && fail "an unknown method answered"

curl -sf "$metrics" >"$dir/page" || fail "no metrics page at $metrics"
has() { grep -qxF "$1" "$dir/page" || fail "metrics lack: $1"; }
has "apura_calls_total{object=\"$grid\",method=\"GetProduto\"} 2"
has "apura_call_seconds_count{object=\"$grid\",method=\"GetProduto\"} 2"
has "apura_call_seconds_bucket{object=\"$grid\",method=\"GetProduto\",le=\"+Inf\"} 2"
has "apura_call_failures_total{object=\"$grid\",method=\"AtuaPrecEco\",code=\"not found\"} 1"
has "apura_calls_total{object=\"$grid\",method=\"(unknown)\"} 1"
has "apura_calls_total{object=\"Apura.Sessao\",method=\"Login\"} 4"
has "apura_tallies_held 1"
grep -q "^apura_call_failures_total.*GetProduto" "$dir/page" && fail "GetProduto counted as failed"
for gauge in apura_tally_packet_bytes apura_sessions process_resident_memory_bytes \
  apura_writer_wait_seconds_total apura_calls_under_way; do
  grep -q "^$gauge [0-9]" "$dir/page" || fail "metrics lack $gauge"
done
resident=$(sed -n 's/^process_resident_memory_bytes //p' "$dir/page")
[ "${resident%%[.e]*}" -gt 1000000 ] || fail "resident memory $resident"

# A stop with a call under way: the call is answered or, arriving after the
# stop, refused as unreachable; never cut off halfway.
"$call" --login COMP01 "$addr" $grid MelhorCotacao ref:0001 ref:1234 ref:PRQ ref:F \
  >"$dir/call.out" 2>&1 &
caller=$!
sleep 0.2
kill -TERM "$pid"
wait "$pid" || fail "server did not exit 0 after draining: $(cat "$dir/out")"
pid=
if wait "$caller"; then
  :
else
  grep -q "$addr" "$dir/call.out" || fail "call cut off by the stop: $(cat "$dir/call.out")"
fi
grep -q "stopping (SIGTERM), [0-9]* call" "$dir/out" || fail "no stop message: $(cat "$dir/out")"
grep -q "drained" "$dir/out" || fail "no drained message: $(cat "$dir/out")"
echo "metrics and drain ok"
