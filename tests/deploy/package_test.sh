#!/bin/sh
# The Debian packages as a team gets them: CPack on the optimised build, lintian
# without errors, then the unpacked files run from a temporary folder — the
# server on its own configuration file (pointed at a temporary state folder
# and a free loopback port), a call through the unpacked apura-call, and the
# unpacked host writing a report with the screens it finds beside it.
set -eu
build=$1
dir=$(mktemp -d)
server_pid=
cleanup() {
  [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$dir/debs" >"$dir/cpack.out" 2>&1) || fail "cpack: $(cat "$dir/cpack.out")"
server_deb=$(ls "$dir"/debs/apura-server_*.deb)
host_deb=$(ls "$dir"/debs/apura_*.deb)

# lintian: errors fail, warnings are shown.
for deb in "$server_deb" "$host_deb"; do
  lintian --fail-on error --no-tag-display-limit "$deb" >"$dir/lintian.out" 2>&1 \
    || fail "lintian on $(basename "$deb"): $(cat "$dir/lintian.out")"
  grep '^W:' "$dir/lintian.out" || true
done

# What dpkg is told: the configuration file is kept across upgrades, the user
# is made before the service starts.
dpkg-deb -e "$server_deb" "$dir/control"
grep -qx /etc/apura/apura-server.conf "$dir/control/conffiles" || fail "the configuration is no conffile"
grep -q 'adduser --system' "$dir/control/postinst" || fail "postinst makes no system user"
dpkg-deb -f "$server_deb" Depends | grep -q libgrpc || fail "the server package does not depend on gRPC"

root=$dir/root
dpkg-deb -x "$server_deb" "$root"
dpkg-deb -x "$host_deb" "$root"
grep -q '^ExecStart=/usr/bin/apura-server --config /etc/apura/apura-server.conf$' \
  "$root/lib/systemd/system/apura-server.service" || fail "the service does not run on its configuration"

# Every program and library finds what it links to inside the package.
for f in "$root"/usr/bin/apura-server "$root"/usr/bin/apura-call "$root"/usr/lib/*/apura/apura \
  "$root"/usr/lib/*/apura/*.so "$root"/usr/lib/*/apura-server/*.so; do
  [ -f "$f" ] || fail "$f is not in the packages"
  if ldd "$f" | grep -q 'not found'; then fail "$f: $(ldd "$f" | grep 'not found')"; fi
done

# The installed configuration, with the state folder and port of this test.
mkdir "$dir/state"
sed -e "s|^db = .*|db = \"$dir/state/apura.sqlite\"|" -e 's|^listen = .*|listen = "127.0.0.1:0"|' \
  "$root/etc/apura/apura-server.conf" >"$dir/apura-server.conf"
grep -q "^db = \"$dir/state" "$dir/apura-server.conf" || fail "the default configuration names no db"
server="$root/usr/bin/apura-server"
call="$root/usr/bin/apura-call"
conf="$dir/apura-server.conf"

# The service's file serves the administrator's work too, without listening.
"$server" --write-demo "$dir/demo.json" >/dev/null || fail "--write-demo"
"$server" --config "$conf" --import "$dir/demo.json" >/dev/null || fail "--import with --config"
echo 'Vinte-e-dois cavalos azuis' | "$server" --config "$conf" --add-operator ANA --centres '*' --branches '*' \
  >/dev/null || fail "--add-operator with --config"
if "$server" --config "$dir/none.conf" 2>"$dir/err"; then fail "a missing configuration file was accepted"; fi
grep -q "none.conf" "$dir/err" || fail "the missing configuration file is not named: $(cat "$dir/err")"
{ cat "$conf"; echo 'keep-idle-minuts = 5'; } >"$dir/typo.conf"
if "$server" --config "$dir/typo.conf" 2>"$dir/err"; then fail "a misspelt option in the configuration was accepted"; fi
grep -q "keep-idle-minuts" "$dir/err" || fail "the misspelt option is not named: $(cat "$dir/err")"

"$server" --config "$conf" >"$dir/server.out" 2>&1 &
server_pid=$!
for _ in $(seq 1 300); do
  grep -q "listening on" "$dir/server.out" && break
  kill -0 "$server_pid" 2>/dev/null || fail "the server ended: $(cat "$dir/server.out")"
  sleep 0.1
done
addr=$(sed -n 's/^apura-server listening on //p' "$dir/server.out")
[ -n "$addr" ] || fail "the server did not start: $(cat "$dir/server.out")"
APURA_PASSWORD='Vinte-e-dois cavalos azuis' "$call" --login ANA "$addr" Prq05001.rdmPlanApurNegGrid GetApurNeg \
  ref:0001 ref:1234 >"$dir/call.out" 2>&1 || fail "call: $(cat "$dir/call.out")"
grep -Eq '^\([1-9][0-9]* rows?\)$' "$dir/call.out" || fail "the tally's lines did not come: $(tail -5 "$dir/call.out")"
kill "$server_pid"
wait "$server_pid" || fail "the server did not stop cleanly on SIGTERM"
server_pid=

# The host, through the link in /usr/bin, finds its screens and framework.
QT_QPA_PLATFORM=offscreen "$root/usr/bin/apura" --demo --demo-dir "$dir/demo" --report LIB050 \
  --pdf "$dir/lib050.pdf" --local-db "$dir/local.sqlite" >"$dir/host.out" 2>&1 \
  || fail "the unpacked host: $(cat "$dir/host.out")"
[ -s "$dir/lib050.pdf" ] || fail "the unpacked host wrote no report"
echo "packages ok: $(basename "$server_deb"), $(basename "$host_deb")"
