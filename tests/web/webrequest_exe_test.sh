#!/usr/bin/env bash
# webrequest.exe under Wine against the Linux tree's test server on loopback:
#   webrequest_exe_test.sh WEBREQUEST_EXE TEST_HTTP_SERVER WINE_RUN
# HTTPS with a self-signed certificate (an unknown issuer: one of the waived
# kinds of certificate fault). Proxies and the other certificate faults are
# tried by web_request_fixtures_windows_test.
# Exit 77 (skipped) without the server program.
set -uo pipefail

program=$1
server=$2
wine_run=$3
[ -x "$server" ] || { echo "skipped: no test_http_server at '$server'"; exit 77; }

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

start_server() {  # start_server NAME [--tls]: port in $work/NAME.port
  printf 'HTTP/1.1 200 OK\r\nX-Served: %s\r\nContent-Length: 5\r\nConnection: close\r\n\r\nhello' \
    "$1" >"$work/$1.http"
  "$server" --response "$work/$1.http" --address 127.0.0.1 --port 0 "${@:2}" \
    --record "$work/$1.requests" --port-file "$work/$1.port" --max-seconds 120 \
    >"$work/$1.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 200); do [ -s "$work/$1.port" ] && return 0; sleep 0.05; done
  fail "the $1 server did not start"
  return 1
}

if start_server tls --tls; then
  out=$("$wine_run" "$program" -i --timeout-seconds 10 "https://127.0.0.1:$(cat "$work/tls.port")/" 2>"$work/tls.err")
  status=$?
  [ "$status" -eq 0 ] || fail "https: exit status $status: $(cat "$work/tls.err")"
  [[ $out == *"X-Served: tls"* && $out == *hello ]] || fail "https: unexpected output: $out"
fi

[ "$failures" -eq 0 ] || exit 1
echo "webrequest.exe: every case passed"
