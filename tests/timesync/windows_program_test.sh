#!/usr/bin/env bash
# timesync.exe run end to end under Wine against a local HTTPS server:
#   windows_program_test.sh TIMESYNC_EXE TEST_HTTP_SERVER WINE_RUN
#
# Each run happens in a private network and mount namespace (loopback up, a
# hosts file mapping the server's name to 127.0.0.1 bound over /etc/hosts, the
# Linux test_http_server on 127.0.0.1:443). Wine runs through wine-run, so
# CAP_SYS_TIME is dropped and the host's clock cannot change; Wine itself
# refuses to move the clock and says by how much it was asked to. Wine's relay
# trace shows the notice's arguments. Exit 77 (skipped) without root,
# unshare or the server program.
set -uo pipefail

program=$1
server=$2
wine_run=$3

skip() { echo "skipped: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "needs root for the network and mount namespace"
command -v unshare >/dev/null && command -v ip >/dev/null || skip "unshare or ip is missing"
[ -x "$server" ] || skip "no test_http_server at '$server' (build the Linux tree first)"
unshare --net --mount true 2>/dev/null || skip "unshare --net --mount is not available here"

# Wine's server makes the program's sockets, so it has to live in the run's
# namespace: the runs get a prefix of their own, and its server is stopped
# before each namespace ends.
export WINESERVER=${TIMESYNC_WINESERVER:-/usr/lib/wine/wineserver64}
export WINEPREFIX
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/timesync-wine-program.XXXXXX")
stop_server() { "$WINESERVER" -k >/dev/null 2>&1; "$WINESERVER" -w >/dev/null 2>&1; }
trap 'stop_server; rm -rf "$WINEPREFIX"' EXIT
"$wine_run" reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ \
  /d "user32.MessageBoxTimeoutA;kernel32.SetLocalTime;$(printf 'winhttp.WinHttp%s;' CrackUrl Open SetTimeouts Connect OpenRequest SetOption AddRequestHeaders \
      SendRequest ReceiveResponse QueryHeaders)" \
  /f >/dev/null 2>&1 ||
  { echo "cannot set up Wine's relay trace"; exit 1; }
stop_server

failures=0
fail() { echo "FAIL [$case_name]: $*"; failures=$((failures + 1)); }

# Runs the program once; REPLY empty: no server listens.
run_case() {  # run_case NAME REPLY
  case_name=$1
  WORK=$(mktemp -d)
  export WORK SERVER=$server PROGRAM=$program WINE_RUN=$wine_run
  printf '127.0.0.1 localhost www.baidu.com\n::1 localhost\n' >"$WORK/hosts"
  if [ -n "$2" ]; then printf '%b' "$2" >"$WORK/reply.http"; export SERVE=1; else export SERVE=; fi
  started_ms=$(date +%s%3N)
  timeout 120 unshare --net --mount -- /bin/sh -c '
    ip link set lo up || exit 91
    mount --bind "$WORK/hosts" /etc/hosts || exit 92
    server=
    if [ -n "$SERVE" ]; then
      "$SERVER" --response "$WORK/reply.http" --address 127.0.0.1 --port 443 --tls \
          --record "$WORK/requests" --port-file "$WORK/port" --max-seconds 90 \
          >"$WORK/server.log" 2>&1 &
      server=$!
      tries=0
      while [ ! -s "$WORK/port" ] && [ "$tries" -lt 200 ]; do sleep 0.05; tries=$((tries + 1)); done
      [ -s "$WORK/port" ] || { kill "$server"; exit 93; }
    fi
    TZ=UTC WINEDEBUG=-all,+relay,err+sync "$WINE_RUN" "$PROGRAM" >"$WORK/stdout" 2>"$WORK/wine.log"
    status=$?
    "$WINESERVER" -k >/dev/null 2>&1; "$WINESERVER" -w >/dev/null 2>&1
    if [ -n "$server" ]; then kill "$server"; wait "$server"; fi
    exit "$status"'
  status=$?
  [ "$status" -eq 0 ] || fail "exit status $status, expected 0"
  notice=$(grep -a -m1 'Call user32.MessageBoxTimeoutA(' "$WORK/wine.log" || true)
  clock=$(grep -a -m1 'NtSetSystemTime not allowed: difference' "$WORK/wine.log" || true)
}

# The notice: no owner, the text, the caption, style 0, language 0, 1000 ms.
expect_notice() {  # expect_notice TEXT CAPTION (as Wine's trace writes them)
  [[ $notice == *"\"$1\","*"\"$2\",00000000,00000000,"*"3e8)"* ]] ||
    fail "notice: got '$notice', expected text '$1' and caption '$2'"
}

# The clock was asked for local (here UTC) time WANTED: Wine reports the
# difference to its own clock in milliseconds, cut to 32 bits.
expect_clock() {  # expect_clock "YYYY-MM-DD hh:mm:ss"
  local wanted_ms reported expected delta
  wanted_ms=$(($(TZ=UTC date -d "$1" +%s) * 1000))
  reported=$(sed -E 's/.*difference (-?[0-9]+) ms.*/\1/' <<<"$clock")
  [ -n "$clock" ] || { fail "the clock was not asked to change"; return; }
  expected=$(((((wanted_ms - started_ms) % 4294967296) + 4294967296) % 4294967296))
  [ "$expected" -ge 2147483648 ] && expected=$((expected - 4294967296))
  delta=$((reported - expected))
  [ "${delta#-}" -lt 120000 ] || fail "clock asked for a time $delta ms away from $1"
}

expect_no_clock() {
  [ -z "$clock" ] || fail "the clock was asked to change: $clock"
}

# 时间校正失败：系统拒绝修改时间，网络时间：  and  校时失败
refused='\xca\xb1\xbc\xe4\xd0\xa3\xd5\xfd\xca\xa7\xb0\xdc\xa3\xba\xcf\xb5\xcd\xb3\xbe\xdc\xbe\xf8\xd0\xde\xb8\xc4\xca\xb1\xbc\xe4\xa3\xac\xcd\xf8\xc2\xe7\xca\xb1\xbc\xe4\xa3\xba'
failed_caption='\xd0\xa3\xca\xb1\xca\xa7\xb0\xdc'
# 时间校正失败：未能获取网络时间
not_fetched='\xca\xb1\xbc\xe4\xd0\xa3\xd5\xfd\xca\xa7\xb0\xdc\xa3\xba\xce\xb4\xc4\xdc\xbb\xf1\xc8\xa1\xcd\xf8\xc2\xe7\xca\xb1\xbc\xe4'
# 时间校正失败：无法识别网络时间
not_read='\xca\xb1\xbc\xe4\xd0\xa3\xd5\xfd\xca\xa7\xb0\xdc\xa3\xba\xce\xde\xb7\xa8\xca\xb6\xb1\xf0\xcd\xf8\xc2\xe7\xca\xb1\xbc\xe4'

run_case "date plus eight hours" \
  'HTTP/1.1 200 OK\r\nDate: Tue, 13 Jul 2021 20:30:15 GMT\r\nContent-Length: 0\r\nConnection: close\r\n\r\n'
grep -q $'^HEAD / HTTP/1.1\r$' "$WORK/requests" 2>/dev/null || fail "no HEAD / request reached the server"
grep -qi $'^Host: www.baidu.com\r$' "$WORK/requests" 2>/dev/null || fail "the request named another host"
expect_clock "2021-07-14 04:30:15"
expect_notice "${refused}2021-07-14 04:30:15" "$failed_caption"
# The HTTP service is called with the engine's arguments: no proxy, 30 s for
# every phase, port 443, HEAD of "/" over TLS, the two options by address
# with length 4, the header block with its length and the add flag, no body,
# and the two-call raw header query (22).
h='[0-9a-f]+'
for call in \
    'WinHttpCrackUrl\('$h' L"https://www.baidu.com",00000015,00000000,'$h'\)' \
    'WinHttpOpen\(00000000,00000001,'$h' L"",00000000,00000000\)' \
    'WinHttpSetTimeouts\('$h',00007530,00007530,00007530,00007530\)' \
    'WinHttpConnect\('$h','$h' L"www.baidu.com",000001bb,00000000\)' \
    'WinHttpOpenRequest\('$h','$h' L"HEAD",'$h' L"/",00000000,00000000,00000000,00800000\)' \
    'WinHttpSetOption\('$h',0000001f,'$h',00000004\)' \
    'WinHttpSetOption\('$h',0000003f,'$h',00000004\)' \
    'WinHttpAddRequestHeaders\('$h','$h' L"User-Agent: [^"]*",'$h',20000000\)' \
    'WinHttpSendRequest\('$h',00000000,00000000,00000000,00000000,00000000,00000000\)' \
    'WinHttpReceiveResponse\('$h',00000000\)' \
    'WinHttpQueryHeaders\('$h',00000016,00000000,00000000,'$h','$h'\)' \
    'WinHttpQueryHeaders\('$h',00000016,00000000,'$h','$h','$h'\)'; do
  grep -a -qE "Call winhttp\.$call" "$WORK/wine.log" || fail "no call matching $call"
done
[ -n "${KEEP_WORK:-}" ] || rm -rf "$WORK"

run_case "year end" \
  'HTTP/1.1 200 OK\r\nX-Date: Mon, 01 Jan 2001 00:00:00 GMT\r\ndate: Fri, 31 Dec 2021 20:30:15 GMT\r\nContent-Length: 0\r\n\r\n'
expect_clock "2022-01-01 04:30:15"
expect_notice "${refused}2022-01-01 04:30:15" "$failed_caption"
[ -n "${KEEP_WORK:-}" ] || rm -rf "$WORK"

run_case "garbage date" 'HTTP/1.1 200 OK\r\nDate: Fr\r\nContent-Length: 0\r\n\r\n'
expect_no_clock
expect_notice "$not_read" "$failed_caption"
[ -n "${KEEP_WORK:-}" ] || rm -rf "$WORK"

run_case "no server" ""
expect_no_clock
expect_notice "$not_fetched" "$failed_caption"
[ -n "${KEEP_WORK:-}" ] || rm -rf "$WORK"

[ "$failures" -eq 0 ] || exit 1
echo "timesync.exe: every case passed"
