#!/bin/sh
# apura-server and apura-call as an operator uses them.
set -eu
server=$1
call=$2
dir=$(mktemp -d)
pid=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# Export the demo, import it into a fresh database, refuse a second import.
"$server" --write-demo "$dir/demo.json" >/dev/null
"$server" --db "$dir/a.db" --import "$dir/demo.json" | grep -q "imported tally 1234 of centre 0001" \
  || fail "import did not report the tally"
if "$server" --db "$dir/a.db" --import "$dir/demo.json" 2>"$dir/err"; then fail "second import accepted"; fi
grep -q "1234" "$dir/err" || fail "second import refusal does not name the tally"
echo '{"format": "apura-tally/1", "centre": {' >"$dir/bad.json"
if "$server" --db "$dir/a.db" --import "$dir/bad.json" 2>"$dir/err"; then fail "bad JSON accepted"; fi
grep -q "bad.json: JSON line" "$dir/err" || fail "bad JSON error does not say where"

# Options that are not numbers are refused, not read as something else.
if "$server" --db "$dir/x.db" --demo-rows abc 2>"$dir/err"; then fail "--demo-rows abc accepted"; fi
grep -q "demo-rows" "$dir/err" || fail "--demo-rows refusal does not name the option"
for t in inf 1e30 abc 0; do
  if "$call" --timeout "$t" 127.0.0.1:1 Cmp.rdmCompras GetParamCmp 2>"$dir/err"; then
    fail "--timeout $t accepted"
  fi
  grep -q "timeout" "$dir/err" || fail "--timeout $t refusal does not name the option"
done

# Serve the demo on a free port.
"$server" --db "$dir/b.db" --listen 127.0.0.1:0 --demo >"$dir/out" 2>&1 &
pid=$!
for _ in $(seq 1 100); do
  grep -q "listening on" "$dir/out" && break
  sleep 0.1
done
grep -q "demo: centre 0001, tally 1234" "$dir/out" || fail "no demo line: $(cat "$dir/out")"
addr=$(sed -n 's/^apura-server listening on //p' "$dir/out")
[ -n "$addr" ] || fail "no listening line"

"$call" "$addr" Cmp.rdmCompras GetParamCmp ref:0001 PRQ >"$dir/param"
grep -q "IDTIPOAPUR" "$dir/param" || fail "GetParamCmp printed no table"
"$call" --json "$addr" Prq05001.rdmPlanApurNegGrid GetProduto ref:0001 ref:1234 >"$dir/prod"
grep -q '"Feijão Carioca"' "$dir/prod" || fail "GetProduto JSON lacks a product"
"$call" "$addr" Prq05001.rdmPlanApurNegGrid AtuaPrecEco 0001 N000011 X X X 001 n:1 1234 \
  >/dev/null 2>"$dir/err" && fail "a failure exited 0"
grep -q "Cotação não encontrada" "$dir/err" || fail "failure text not shown"

kill -TERM "$pid"
wait "$pid" || fail "server did not stop cleanly on SIGTERM"
pid=
grep -q "stopping (SIGTERM)" "$dir/out" || fail "no stop message"

if "$call" "$addr" Cmp.rdmCompras GetParamCmp 0001 PRQ 2>"$dir/err"; then fail "call to a stopped server"; fi
grep -q "$addr" "$dir/err" || fail "unreachable server not named"

# A stop signal during a long demo import ends the program at once, and the
# interrupted import leaves no tally behind.
"$server" --db "$dir/c.db" --listen 127.0.0.1:0 --demo --demo-rows 500000 >"$dir/out" 2>&1 &
pid=$!
sleep 0.5
kill -TERM "$pid"
for _ in $(seq 1 30); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then fail "SIGTERM during the demo import did not stop the server"; fi
wait "$pid" || true
pid=
grep -q "listening on" "$dir/out" && fail "the server started after SIGTERM"
"$server" --db "$dir/c.db" --import "$dir/demo.json" >/dev/null || fail "interrupted import left a tally"
echo "programs ok"
