#!/usr/bin/env bash
# webrequest.exe under Wine against the Linux tree's test server on loopback:
#   webrequest_exe_test.sh WEBREQUEST_EXE TEST_HTTP_SERVER WINE_RUN
# HTTPS with a self-signed certificate (an unknown issuer: one of the waived
# kinds of certificate fault), and what it prints: to a pipe, to a terminal
# and on failure, with Chinese in the page and on the command line. Proxies
# and the other certificate faults are tried by web_request_fixtures_windows_test.
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

start_server() {  # start_server NAME [--tls]: port in $work/NAME.port, reply $work/NAME.http
  [ -s "$work/$1.http" ] ||
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

# Output to a pipe is the engine's text as it is: code page 936, line ends untouched.
# 中文 is D6D0 CEC4 in code page 936 and E4B8AD E69687 in UTF-8.
printf 'HTTP/1.1 200 OK\r\nContent-Length: 4\r\nConnection: close\r\n\r\n\xD6\xD0\xCE\xC4' \
  >"$work/gbk.http"
if start_server gbk; then
  url="http://127.0.0.1:$(cat "$work/gbk.port")/"
  "$wine_run" "$program" -i --timeout-seconds 10 "$url" >"$work/gbk.out" 2>"$work/gbk.err"
  printf 'HTTP/1.1 200 OK\r\nContent-Length: 4\r\nConnection: close\r\n\r\n\xD6\xD0\xCE\xC4' \
    >"$work/gbk.expected"
  cmp -s "$work/gbk.out" "$work/gbk.expected" ||
    fail "pipe: not the raw bytes: $(xxd "$work/gbk.out" | head -n 8)"

  # An argument in Chinese reaches the server in code page 936, whatever the
  # ANSI code page: it is read from the wide command line.
  "$wine_run" "$program" --timeout-seconds 10 --body '中文' "$url" >/dev/null 2>&1
  [ "$(tail -c 4 "$work/gbk.requests" | xxd -p)" = d6d0cec4 ] ||
    fail "argument: the body went out as $(tail -c 4 "$work/gbk.requests" | xxd -p)"

  # So does a file name: the body is read from a file with a Chinese name.
  printf 'file\x00body' >"$work/请求.bin"
  "$wine_run" "$program" --timeout-seconds 10 --body-file "$work/请求.bin" "$url" >/dev/null 2>&1 ||
    fail "body file: $("$wine_run" "$program" --body-file "$work/请求.bin" "$url" 2>&1 >/dev/null)"
  [ "$(tail -c 9 "$work/gbk.requests" | xxd -p)" = 66696c6500626f6479 ] ||
    fail "body file: the body went out as $(tail -c 9 "$work/gbk.requests" | xxd -p)"

  # On a terminal Wine's console shows what WriteConsoleW was given, in the
  # terminal's UTF-8: the characters, not the code page 936 bytes.
  if command -v script >/dev/null; then
    LANG=C.UTF-8 script -qec "'$wine_run' '$program' --timeout-seconds 10 '$url'" /dev/null \
      </dev/null >"$work/console.out" 2>&1
    grep -q "$(printf '\xE4\xB8\xAD\xE6\x96\x87')" "$work/console.out" ||
      fail "console: no 中文 on the terminal: $(xxd "$work/console.out" | head -n 4)"
  else
    echo "console case skipped: no script(1) for a terminal"
  fi
fi

# A failure's message goes to stderr, in code page 936 when redirected.
"$wine_run" "$program" --timeout-seconds 5 "http://127.0.0.1:1/" >/dev/null 2>"$work/failure.err"
status=$?
printf 'webrequest: 711 \xB7\xA2\xCB\xCD\xC7\xEB\xC7\xF3\xCA\xA7\xB0\xDC!\n' >"$work/failure.expected"
[ "$status" -eq 1 ] && cmp -s "$work/failure.err" "$work/failure.expected" ||
  fail "failure: exit status $status, stderr $(xxd "$work/failure.err" | head -n 4)"

[ "$failures" -eq 0 ] || exit 1
echo "webrequest.exe: every case passed"
