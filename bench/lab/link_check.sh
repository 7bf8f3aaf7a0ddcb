#!/usr/bin/env bash
# Checks korvaden-lab-link, the lab's link with delay and loss, against ping and iperf3. Each check
# makes a client namespace (198.18.0.1) and a server namespace (198.18.0.2), starts the link
# between them and moves its two TUN devices there:
#   1. ping over 50 ms each way: the round trip is twice that;
#   2. iperf3 over 10 Mbit/s, 20 ms, 200 ms queue: the received rate is the rate less the headers,
#      and the link's truth file counts the bytes iperf3 received;
#   3. iperf3 over 20 Mbit/s, 100 ms, 0.5 % loss, 200 ms queue: it runs through, and the truth
#      file again counts the bytes iperf3 received;
#   4. and 5. the same two on the downlink (--direction down), iperf3 sending from the server's
#      namespace to the client's (-R): the shaped direction's rate and truth are judged alike;
#   6. both directions shaped (--direction both) as an asymmetric line, 5 Mbit/s up with a 250 ms
#      queue and 20 Mbit/s down with a 100 ms queue, 15 ms each way: iperf3 up, then down over the
#      same link, each rate against its own direction's and each truth file (--truth, --truth-down)
#      against the bytes of its own direction.
#
#   bash bench/lab/link_check.sh BIN_DIR
#
# Needs root, /dev/net/tun, ping and iperf3 (installed with apt-get when missing). Only addresses
# inside its own namespaces are used, from 198.18.0.0/15. Every run is bounded in time, and the
# processes and namespaces are removed on every way out. Exits 1 when a check fails.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/tun_link.sh"
bin="${1:?Ordner mit korvaden-lab-link fehlt}"
if [ ! -x "$bin/korvaden-lab-link" ]; then
  echo "korvaden-lab-link fehlt in $bin" >&2
  exit 1
fi

# A namespace must be made and entered; in a chroot whose root is no mount point, "ip netns exec"
# cannot make its private mounts, although "ip netns add" works.
if [ "$(id -u)" -ne 0 ] || ! command -v ip >/dev/null || ! ip netns add "korvaden-link-probe-$$" 2>/dev/null; then
  echo "Verbindungsprüfung übersprungen: hier lassen sich keine Netzwerk-Namensräume anlegen (root und iproute2 nötig)."
  exit 0
fi
if ! ip netns exec "korvaden-link-probe-$$" true 2>/dev/null; then
  ip netns del "korvaden-link-probe-$$"
  echo "Verbindungsprüfung übersprungen: Netzwerk-Namensräume lassen sich hier nicht betreten (Wurzel kein Einhängepunkt)."
  exit 0
fi
ip netns del "korvaden-link-probe-$$"
if [ ! -c /dev/net/tun ]; then
  echo "Verbindungsprüfung übersprungen: /dev/net/tun fehlt, hier gibt es keine TUN-Geräte."
  exit 0
fi
if ! command -v ping >/dev/null || ! command -v iperf3 >/dev/null || ! command -v jq >/dev/null; then
  { timeout 300 apt-get update -qq && DEBIAN_FRONTEND=noninteractive timeout 300 apt-get install -y -qq \
    iputils-ping iperf3 jq; } >/dev/null 2>&1
  if ! command -v ping >/dev/null || ! command -v iperf3 >/dev/null || ! command -v jq >/dev/null; then
    echo "Verbindungsprüfung übersprungen: ping, iperf3 und jq fehlen und lassen sich nicht installieren."
    exit 0
  fi
fi

prefix="korvaden-link-$$"
work="$(mktemp -d)"
namespaces=()
# The running link, iperf3 server and measuring client (ping or iperf3), each cleared once it has
# been waited for, so that no recycled process number is ever signalled. The client runs in the
# background too: bash runs a trap only once the foreground command has ended, but at once during
# a wait.
link_pid=""
server_pid=""
client_pid=""
cleanup() {
  local pid ns
  for pid in $client_pid $server_pid $link_pid; do kill "$pid" 2>/dev/null; done
  for pid in $client_pid $server_pid $link_pid; do wait "$pid" 2>/dev/null; done
  for ns in "${namespaces[@]}"; do ip netns del "$ns" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

# start_link NAME SECONDS LINK-OPTIONS...: namespaces $client and $server joined by the link, whose
# devices are kc<pid>NAME and ks<pid>NAME (at most 15 characters); its truth file is $truth.
start_link() {
  local name=$1 seconds=$2 ns
  shift 2
  client="$prefix-$name-c" server="$prefix-$name-s" truth="$work/$name.truth" link_log="$work/$name.err"
  local client_dev="kc$$$name" server_dev="ks$$$name"
  ip netns add "$client" && namespaces+=("$client") && ip netns add "$server" && namespaces+=("$server") || return 1
  start_tun_link "$bin" "$client" "$server" "$client_dev" "$server_dev" "$work/$name.out" "$link_log" $((seconds + 30)) \
    --truth "$truth" --duration "$seconds" "$@" || return 1
  # The first echo that comes back shows that the link forwards.
  for _ in $(seq 10); do
    timeout 5 ip netns exec "$client" ping -c 1 -W 1 198.18.0.2 >/dev/null 2>&1 && return 0
  done
  echo "Verbindung leitet kein ping weiter: $(cat "$link_log")"
  return 1
}

# Ends the link (it writes its last truth line and its summary) and removes its namespaces.
stop_link() {
  if [ -n "$link_pid" ]; then
    kill "$link_pid" 2>/dev/null
    wait "$link_pid" 2>/dev/null
  fi
  link_pid=""
  sed 's/^/  /' "$link_log" 2>/dev/null
  ip netns del "$client" 2>/dev/null
  ip netns del "$server" 2>/dev/null
}

# The truth file's in-order TCP bytes in its last line: every TCP flow of the shaped direction, so
# iperf3's control connection too (a few hundred bytes), up to the receiver's reset of the flow.
truth_bytes() { tail -n 1 "$truth" 2>/dev/null | awk '{ print $2 }'; }

# The truth file's queue over the whole run: the longest wait, packets and drops.
truth_queue() {
  awk '{ if ($4 > max) max = $4; packets += $5; queue += $6; loss += $7 }
    END { printf "Warteschlange: längste Wartezeit %.1f ms; %d Pakete %s, %d an der vollen Warteschlange verworfen, %d zufällig verloren\n",
      max / 1000, packets, way, queue, loss }' way="$1" "$truth" 2>/dev/null
}

# within MEASURED EXPECTED PERCENT: prints the deviation in percent; true when inside the bound.
within() {
  awk -v m="$1" -v e="$2" -v p="$3" 'BEGIN { d = (m - e) / e * 100; printf "%+.2f", d; exit !(e > 0 && d <= p && d >= -p) }'
}

# run_iperf SECONDS [-R]: iperf3 from the client namespace to the server namespace, with -R the
# other way; JSON in $work/iperf.json.
run_iperf() {
  local seconds=$1 reverse=${2:-}
  rm -f "$work/iperf.json"
  timeout --kill-after=5 $((seconds + 40)) ip netns exec "$server" iperf3 -s -B 198.18.0.2 -1 >/dev/null 2>&1 &
  server_pid=$!
  for _ in $(seq 50); do
    ip netns exec "$server" ss -ltn 2>/dev/null | grep -q '198.18.0.2:5201' && break
    sleep 0.1
  done
  timeout --kill-after=5 $((seconds + 30)) ip netns exec "$client" iperf3 -c 198.18.0.2 -t "$seconds" -J $reverse \
    >"$work/iperf.json" 2>/dev/null &
  client_pid=$!
  wait "$client_pid"
  local status=$?
  client_pid=""
  wait "$server_pid" 2>/dev/null
  server_pid=""
  return $status
}

failed=0
# verdict OK: the word for a check's outcome, for use in $(...); the caller records a failure.
verdict() { if [ "$1" -eq 0 ]; then echo "bestanden"; else echo "FEHLGESCHLAGEN"; fi; }

check_ping() {
  echo "=== Prüfung 1: ping über 50 ms Verzögerung je Richtung"
  if ! start_link ping 30 --rate-mbit 10 --delay-ms 50 --queue-ms 200; then
    stop_link
    echo "Prüfung 1 (ping): FEHLGESCHLAGEN (keine Verbindung)"
    return 1
  fi
  local average received deviation ok
  timeout 20 ip netns exec "$client" ping -c 10 -i 0.2 -W 2 198.18.0.2 >"$work/ping.txt" 2>&1 &
  client_pid=$!
  wait "$client_pid"
  client_pid=""
  average="$(sed -n 's|^rtt [^=]*= [0-9.]*/\([0-9.]*\)/.*|\1|p' "$work/ping.txt")"
  received="$(sed -n 's|.* \([0-9]*\) received.*|\1|p' "$work/ping.txt")"
  stop_link
  deviation="$(within "${average:-0}" 100 3)"
  ok=$?
  [ "${received:-0}" -eq 10 ] || ok=1
  echo "Prüfung 1 (ping): ${received:-0} von 10 Echos zurück, mittlere Umlaufzeit ${average:-?} ms," \
    "erwartet 100 ms (2 × 50 ms), Abweichung $deviation % (erlaubt ±3 %): $(verdict $ok)"
  return $ok
}

# The goodput iperf3 can see: every 1500-byte packet carries 20 bytes IP and 32 bytes TCP header
# (with timestamps), so 1448 bytes of payload.
goodput() { awk -v r="$1" 'BEGIN { printf "%.4f", r * 1448 / 1500 }'; }

# check_iperf NUMBER TITLE SECONDS RATE_BOUND TRUTH_BOUND LINK-OPTIONS...: with a rate bound in
# percent the received rate is judged, else only that iperf3 ran through. With --direction down
# among the link's options iperf3 sends from the server's side.
check_iperf() {
  local number=$1 title=$2 seconds=$3 rate_bound=$4 truth_bound=$5 rate reverse="" way=hinauf
  shift 5
  rate="$(sed -n 's/.*--rate-mbit \([0-9.]*\).*/\1/p' <<<"$*")"
  if [[ " $* " == *" --direction down "* ]]; then
    reverse=-R way=hinab
  fi
  echo "=== Prüfung $number: iperf3 $seconds s, $title"
  if ! start_link "i$number" $((seconds + 30)) "$@"; then
    stop_link
    echo "Prüfung $number (iperf3, $title): FEHLGESCHLAGEN (keine Verbindung)"
    return 1
  fi
  run_iperf "$seconds" $reverse
  local iperf_status=$?
  stop_link
  local error bytes mbit retransmits congestion truth_total expected rate_deviation truth_deviation ok=0
  error="$(jq -r '.error // empty' "$work/iperf.json" 2>/dev/null)"
  bytes="$(jq -r '.end.sum_received.bytes // 0' "$work/iperf.json" 2>/dev/null)"
  mbit="$(jq -r '(.end.sum_received.bits_per_second // 0) / 1e6' "$work/iperf.json" 2>/dev/null \
    | awk '{ printf "%.3f", $1 }')"
  # Reversed, iperf3's receiving client starts its clock a round trip and a slow start before the
  # first data arrives: the rate is that of the seconds after the first.
  [ -n "$reverse" ] && mbit="$(jq -r '[.intervals[1:][].sum.bits_per_second] | if length > 0 then add / length / 1e6
    else 0 end' "$work/iperf.json" 2>/dev/null | awk '{ printf "%.3f", $1 }')"
  retransmits="$(jq -r '.end.sum_sent.retransmits // "?"' "$work/iperf.json" 2>/dev/null)"
  congestion="$(jq -r '.end.sender_tcp_congestion // "?"' "$work/iperf.json" 2>/dev/null)"
  truth_total="$(truth_bytes)"
  if [ "$iperf_status" -ne 0 ] || [ -n "$error" ] || [ "${bytes:-0}" -eq 0 ]; then
    echo "  iperf3 lief nicht durch (Status $iperf_status) ${error}"
    ok=1
  fi
  echo "  iperf3: ${mbit:-0} Mbit/s empfangen, ${bytes:-0} Byte, $retransmits Wiederholungen" \
    "(Staukontrolle $congestion)"
  echo "  $(truth_queue $way)"
  if [ "$rate_bound" != - ]; then
    expected="$(goodput "$rate")"
    rate_deviation="$(within "${mbit:-0}" "$expected" "$rate_bound")" || ok=1
    echo "  Rate${reverse:+ ab der zweiten Sekunde}: ${mbit} Mbit/s, erwartet $expected Mbit/s Nutzlast ($rate Mbit/s × 1448/1500 Byte je Paket)," \
      "Abweichung $rate_deviation % (erlaubt ±$rate_bound %)"
  fi
  if [ -z "$reverse" ]; then
    truth_deviation="$(within "${truth_total:-0}" "${bytes:-0}" "$truth_bound")" || ok=1
    echo "  Wahrheitsdatei: ${truth_total:-?} Byte in Reihenfolge zugestellt, iperf3 empfing ${bytes:-0} Byte," \
      "Abweichung $truth_deviation % (erlaubt ±$truth_bound %)"
  else
    # The receiving iperf3 stops counting at the test's end and closes its socket only after the
    # results have been exchanged, a round trip later: what was queued and on its way then still
    # reaches the client's device and counts. The truth lies between what iperf3 read and what it
    # wrote.
    local sent
    sent="$(jq -r '.end.sum_sent.bytes // 0' "$work/iperf.json" 2>/dev/null)"
    awk -v t="${truth_total:-0}" -v r="${bytes:-0}" -v s="${sent:-0}" -v p="$truth_bound" \
      'BEGIN { exit !(r > 0 && t >= r * (1 - p / 100) && t <= s * (1 + p / 100)) }' || ok=1
    echo "  Wahrheitsdatei: ${truth_total:-?} Byte in Reihenfolge zugestellt, iperf3 empfing ${bytes:-0} Byte" \
      "und schrieb ${sent:-0} Byte (erlaubt dazwischen, ±$truth_bound %)"
  fi
  echo "Prüfung $number (iperf3, $title): $(verdict $ok)"
  return $ok
}

# check_both NUMBER SECONDS: the asymmetric line of check 6, an upload and then a download of
# SECONDS each over the one link.
check_both() {
  local number=$1 seconds=$2 ok=0 title="5 Mbit/s hinauf (Warteschlange 250 ms), 20 Mbit/s hinab (100 ms), 15 ms"
  echo "=== Prüfung $number: iperf3 je $seconds s hinauf und hinab, beide Richtungen geformt: $title"
  local down_truth="$work/b$number.truth-down"
  if ! start_link "b$number" $((2 * seconds + 60)) --direction both --rate-mbit 5 --queue-ms 250 \
    --down-rate-mbit 20 --down-queue-ms 100 --delay-ms 15 --truth-down "$down_truth"; then
    stop_link
    echo "Prüfung $number (iperf3, beide Richtungen geformt): FEHLGESCHLAGEN (keine Verbindung)"
    return 1
  fi
  local status bytes mbit expected deviation truth_total sent
  run_iperf "$seconds"
  status=$?
  bytes="$(jq -r '.end.sum_received.bytes // 0' "$work/iperf.json" 2>/dev/null)"
  mbit="$(jq -r '(.end.sum_received.bits_per_second // 0) / 1e6' "$work/iperf.json" 2>/dev/null \
    | awk '{ printf "%.3f", $1 }')"
  # The upload is over, so the uplink's truth holds it (and a few hundred bytes of iperf3's control).
  sleep 0.2
  truth_total="$(truth_bytes)"
  [ "$status" -eq 0 ] && [ "${bytes:-0}" -gt 0 ] || ok=1
  expected="$(goodput 5)"
  deviation="$(within "${mbit:-0}" "$expected" 2)" || ok=1
  echo "  hinauf: ${mbit:-0} Mbit/s, erwartet $expected Mbit/s Nutzlast, Abweichung $deviation % (erlaubt ±2 %)"
  deviation="$(within "${truth_total:-0}" "${bytes:-0}" 1)" || ok=1
  echo "  Wahrheitsdatei hinauf: ${truth_total:-?} Byte in Reihenfolge zugestellt, iperf3 empfing ${bytes:-0} Byte," \
    "Abweichung $deviation % (erlaubt ±1 %)"
  local up_truth=$truth
  truth=$down_truth
  local down_before
  down_before="$(truth_bytes)"
  run_iperf "$seconds" -R
  status=$?
  bytes="$(jq -r '.end.sum_received.bytes // 0' "$work/iperf.json" 2>/dev/null)"
  sent="$(jq -r '.end.sum_sent.bytes // 0' "$work/iperf.json" 2>/dev/null)"
  mbit="$(jq -r '[.intervals[1:][].sum.bits_per_second] | if length > 0 then add / length / 1e6 else 0 end' \
    "$work/iperf.json" 2>/dev/null | awk '{ printf "%.3f", $1 }')"
  stop_link
  truth_total="$(awk -v before="${down_before:-0}" 'END { print $2 - before }' "$truth" 2>/dev/null)"
  truth=$up_truth
  [ "$status" -eq 0 ] && [ "${bytes:-0}" -gt 0 ] || ok=1
  expected="$(goodput 20)"
  deviation="$(within "${mbit:-0}" "$expected" 2)" || ok=1
  echo "  hinab ab der zweiten Sekunde: ${mbit:-0} Mbit/s, erwartet $expected Mbit/s Nutzlast, Abweichung $deviation %" \
    "(erlaubt ±2 %)"
  # As in check 4, what was on its way when the receiving iperf3 stopped counting still arrives.
  awk -v t="${truth_total:-0}" -v r="${bytes:-0}" -v s="${sent:-0}" \
    'BEGIN { exit !(r > 0 && t >= r * 0.99 && t <= s * 1.01) }' || ok=1
  echo "  Wahrheitsdatei hinab während des Downloads: ${truth_total:-?} Byte in Reihenfolge zugestellt, iperf3 empfing" \
    "${bytes:-0} Byte und schrieb ${sent:-0} Byte (erlaubt dazwischen, ±1 %)"
  echo "Prüfung $number (iperf3, beide Richtungen geformt: $title): $(verdict $ok)"
  return $ok
}

check_ping || failed=1
check_iperf 2 "10 Mbit/s, 20 ms, Warteschlange 200 ms" 10 2 1 --rate-mbit 10 --delay-ms 20 --queue-ms 200 || failed=1
check_iperf 3 "20 Mbit/s, 100 ms, 0,5 % Verlust, Warteschlange 200 ms" 15 - 1 \
  --rate-mbit 20 --delay-ms 100 --queue-ms 200 --loss 0.005 --seed 1 || failed=1
check_iperf 4 "Download, 10 Mbit/s, 20 ms, Warteschlange 200 ms" 10 2 1 --rate-mbit 10 --delay-ms 20 --queue-ms 200 \
  --direction down || failed=1
check_iperf 5 "Download, 20 Mbit/s, 100 ms, 0,5 % Verlust, Warteschlange 200 ms" 15 - 1 \
  --rate-mbit 20 --delay-ms 100 --queue-ms 200 --loss 0.005 --seed 1 --direction down || failed=1
check_both 6 10 || failed=1
if [ $failed -eq 0 ]; then
  echo "Verbindungsprüfung: alle sechs Prüfungen bestanden."
else
  echo "Verbindungsprüfung: mindestens eine Prüfung fehlgeschlagen."
fi
exit $failed
