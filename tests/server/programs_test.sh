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
for rows in abc -5 1.5 1000000001 99999999999999999999; do
  if "$server" --db "$dir/x.db" --demo-rows "$rows" 2>"$dir/err"; then
    fail "--demo-rows $rows accepted"
  fi
  grep -q "demo-rows" "$dir/err" || fail "--demo-rows refusal does not name the option"
done
for idle in abc -1 ""; do
  if "$server" --db "$dir/x.db" --keep-idle-minutes "$idle" 2>"$dir/err"; then
    fail "--keep-idle-minutes '$idle' accepted"
  fi
  grep -q "keep-idle-minutes" "$dir/err" || fail "--keep-idle-minutes refusal does not name the option"
done
for hours in abc 0 -1 9000 ""; do
  if "$server" --db "$dir/x.db" --session-hours "$hours" 2>"$dir/err"; then
    fail "--session-hours '$hours' accepted"
  fi
  grep -q "session-hours" "$dir/err" || fail "--session-hours refusal does not name the option"
done
for t in inf 1e30 abc 0; do
  if "$call" --timeout "$t" 127.0.0.1:1 Cmp.rdmCompras GetParamCmp 2>"$dir/err"; then
    fail "--timeout $t accepted"
  fi
  grep -q "timeout" "$dir/err" || fail "--timeout $t refusal does not name the option"
done

# --help describes every option and exits 0; a wrong command line exits 2.
"$server" --help >"$dir/help" || fail "apura-server --help did not exit 0"
for o in --db --operators --listen --tls-cert --tls-key --keep-idle-minutes --session-hours --create --demo --demo-rows \
  --import --write-demo --add-operator --name --centres --branches --authorisations; do
  grep -q -- "$o " "$dir/help" || fail "apura-server --help lacks $o"
done
"$call" --help >"$dir/help" || fail "apura-call --help did not exit 0"
for o in --json --timeout --login --token --tls-ca address object method args; do
  grep -q -- "$o " "$dir/help" || fail "apura-call --help lacks $o"
done
set +e
"$server" --db "$dir/x.db" --no-such-option 2>"$dir/err"
[ $? -eq 2 ] || fail "an unknown apura-server option did not exit 2"
grep -q -- "--no-such-option" "$dir/err" || fail "the unknown option is not named"
"$call" 127.0.0.1:1 Cmp.rdmCompras 2>"$dir/err"
[ $? -eq 2 ] || fail "apura-call without METHOD did not exit 2"
"$call" 127.0.0.1:port Cmp.rdmCompras GetParamCmp 2>"$dir/err"
[ $? -eq 2 ] || fail "apura-call with a port that is no number did not exit 2"
grep -q "HOST:PORT" "$dir/err" || fail "a bad address refusal does not say the form"
set -e

# Operators: added with a password from standard input, never beyond loopback
# without TLS.
# A database file that does not exist is made only when asked: never in place of
# a mistyped or lost one.
if echo "Vinte-e-dois cavalos azuis" | "$server" --db "$dir/b.db" --add-operator ANA --centres 0002 --branches '*' \
  2>"$dir/err"; then fail "a missing database file was made without --create"; fi
grep -q "$dir/b.db does not exist" "$dir/err" || fail "missing file not named: $(cat "$dir/err")"
[ ! -e "$dir/b.db" ] || fail "the refused start left a file"
"$server" --db "$dir/made.db" --create || fail "--create alone did not make the database"
[ -e "$dir/made.db" ] || fail "--create alone made no file"
# Weak passwords are refused, saying why: too short, or easy to guess.
for weak in segredo ana-ana-ana-ana Password123; do
  if echo "$weak" | "$server" --db "$dir/b.db" --create --add-operator ANA --centres 0002 \
    --branches '*' 2>"$dir/err"; then fail "the weak password $weak was kept"; fi
  grep -q "operator ANA not saved: A senha" "$dir/err" || fail "weak password: $(cat "$dir/err")"
done
echo "Vinte-e-dois cavalos azuis" | "$server" --db "$dir/b.db" --create --add-operator ANA \
  --name "Ana" --centres 0002 --branches '*' | grep -q "operator ANA saved" || fail "operator not saved"
if "$server" --db "$dir/b.db" --listen 0.0.0.0:0 2>"$dir/err"; then fail "plain text off loopback"; fi
grep -q "without TLS" "$dir/err" || fail "off-loopback refusal does not say why"

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

# The demo buyer's password is printed once, when the demo adds the operator.
APURA_PASSWORD=$(sed -n 's/^demo: operator COMP01, password //p' "$dir/out")
export APURA_PASSWORD
[ -n "$APURA_PASSWORD" ] || fail "no demo operator line: $(cat "$dir/out")"
if "$call" "$addr" Cmp.rdmCompras GetParamCmp ref:0001 PRQ 2>"$dir/err"; then
  fail "a call without a session was served"
fi
grep -q "faça login.*\[unauthenticated\]" "$dir/err" || fail "no-session refusal: $(cat "$dir/err")"
"$call" --login COMP01 "$addr" Cmp.rdmCompras GetParamCmp ref:0001 PRQ >"$dir/param"
grep -q "IDTIPOAPUR" "$dir/param" || fail "GetParamCmp printed no table"
# A host name goes through the system's resolver, which keeps memory to the end;
# the sanitizer build's leak check at exit must cost neither the answer nor the status.
port=${addr##*:}
"$call" --login COMP01 "localhost:$port" Cmp.rdmCompras GetParamCmp ref:0001 PRQ >"$dir/param" \
  2>"$dir/err" || fail "a call by host name failed: $(cat "$dir/err")"
grep -q "IDTIPOAPUR" "$dir/param" || fail "a call by host name printed no table"
"$call" --login COMP01 --json "$addr" Prq05001.rdmPlanApurNegGrid GetProduto ref:0001 ref:1234 \
  >"$dir/prod"
grep -q '"Feijão Carioca"' "$dir/prod" || fail "GetProduto JSON lacks a product"
# After METHOD everything is an argument, even what looks like an option.
if "$call" --login COMP01 "$addr" Prq05001.rdmPlanApurNegGrid GetProduto ref:0001 --json \
  >/dev/null 2>"$dir/err"; then fail "a tally named --json was found"; fi
grep -q "Apuração --json não encontrada" "$dir/err" || fail "--json after METHOD: $(cat "$dir/err")"
"$call" --login COMP01 "$addr" Prq05001.rdmPlanApurNegGrid AtuaPrecEco 0001 N000011 X X X 001 \
  n:1 1234 >/dev/null 2>"$dir/err" && fail "a failure exited 0"
grep -q "Cotação não encontrada.*\[not found\]" "$dir/err" || fail "failure text: $(cat "$dir/err")"
if APURA_PASSWORD=wrong "$call" --login COMP01 "$addr" Cmp.rdmCompras GetParamCmp 0001 PRQ \
  2>"$dir/err"; then fail "a wrong password logged in"; fi
grep -q "Operador ou senha inválidos.*\[unauthenticated\]" "$dir/err" || fail "wrong password not refused"
# Every login is logged with its caller's address and outcome.
grep -q "login COMP01 from 127.0.0.1: wrong operator or password" "$dir/out" \
  || fail "no log of a failed login: $(cat "$dir/out")"
grep -q "login COMP01 from 127.0.0.1: ok" "$dir/out" || fail "no log of a login"
if APURA_PASSWORD="Vinte-e-dois cavalos azuis" "$call" --login ANA "$addr" Cmp.rdmCompras GetParamCmp 0001 PRQ \
  2>"$dir/err"; then fail "an operator read another centre"; fi
grep -q "ANA não trabalha no centro de compras 0001.*\[forbidden\]" "$dir/err" || fail "centre not checked"

kill -TERM "$pid"
wait "$pid" || fail "server did not stop cleanly on SIGTERM"
pid=
grep -q "stopping (SIGTERM)" "$dir/out" || fail "no stop message"

if "$call" --login COMP01 "$addr" Cmp.rdmCompras GetParamCmp 0001 PRQ 2>"$dir/err"; then
  fail "call to a stopped server"
fi
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
