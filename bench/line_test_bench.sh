#!/usr/bin/env bash
# The line test on loopback with its default phases: how long the whole test takes (at most 45 s)
# and what it reports, against a korvaden-server of its own on a free port of 127.0.0.1.
#   bash bench/line_test_bench.sh BIN_DIR
set -uo pipefail
bin="${1:?Ordner mit korvaden-check und korvaden-server fehlt}"
work="$(mktemp -d)"
server=""
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

timeout 120 "$bin/korvaden-server" --bind 127.0.0.1 --port 0 >"$work/server" 2>&1 &
server=$!
for _ in $(seq 50); do
  port=$(sed -n 's/.*lauscht auf 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/server")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "${port:-}" ] || { echo "korvaden-server lauscht nicht: $(cat "$work/server")"; exit 1; }

started=$(date +%s%N)
timeout 90 "$bin/korvaden-check" 127.0.0.1 --port "$port" --no-history >"$work/report" 2>"$work/errors"
status=$?
ms=$((($(date +%s%N) - started) / 1000000))
[ $status -eq 0 ] || { echo "korvaden-check endete mit $status: $(cat "$work/errors")"; exit 1; }
verdict=erfüllt
[ $ms -le 45000 ] || verdict=verfehlt
printf 'Leitungstest auf 127.0.0.1: %d.%d s (Ziel höchstens 45 s: %s)\n' $((ms / 1000)) $((ms % 1000 / 100)) "$verdict"
sed -n '2,8p' "$work/report" | sed 's/^/  /'
[ $verdict = erfüllt ]
