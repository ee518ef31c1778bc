#!/usr/bin/env bash
# fatal_gui_probe_test.sh WINE_RUN PROBE_EXE: the windowed program's fatal
# error ends it with exit code -1 (255 as Wine passes it on) and leaves stderr
# empty; the message goes to the error box instead.
set -uo pipefail
err=$(mktemp)
WINEDEBUG=-all "$1" "$2" 2>"$err"
status=$?
text=$(tr -d '\r' <"$err" | grep -v '^wine: ' || true)
rm -f "$err"
[ "$status" -eq 255 ] || { echo "exit status $status, expected 255"; exit 1; }
[ -z "$text" ] || { echo "stderr was not empty: $text"; exit 1; }
echo "fatal error of a windowed program: exit code -1, nothing on stderr"
