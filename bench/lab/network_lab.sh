#!/usr/bin/env bash
# The network lab: real uplinks and downlinks between private network namespaces. Each link joins
# a client namespace, where the real main window runs (offscreen), to a server namespace with
# korvaden-server. Two kinds of link:
#   - delay and loss (korvaden-lab-link): two TUN devices joined in user space, with a rate, a
#     tail-drop queue, a one-way delay and random loss, as Wi-Fi, mobile and long-distance uplinks
#     have them; the link counts what the server could read in order (this kernel has no netem);
#   - fast lines: a veth pair of MTU 1500 whose client side has the shape of the uplink, the
#     token-bucket shaper tbf with a deep queue as in a home router (a user-space link would be
#     the bottleneck there). The acknowledgements come back unshaped, as on a real downlink.
# Each link also runs as a download, its name with a "d" after it (10d, wd, 1000d, ...): the same
# shape on the downlink, korvaden-lab-link with --direction down or tbf on the server's side of the
# veth pair, and the window measuring a download; the truth is then what the program could read.
# The line-test links shape both directions (korvaden-lab-link --direction both), each with its
# own rate and queue, and run the line test on the command line, korvaden-check, whose JSON
# korvaden-lab-line-judge sets beside the link: rates against the payload rates, latency idle and
# loaded against the round trip and the queues' fill, the grade against the added latency, and
# each phase's bytes against what the link delivered in that direction over its counted window.
# Every chart point is printed beside the truth over the same interval, then the run's details
# (round trip, added latency, bytes sent again, what limited the rate) beside the link's queue and
# drops; each link ends with result lines, and a table of them closes the run. Then a silent server: a route from the client
# into a namespace that owns no such address and forwards nothing; and a download from a server
# that accepts and never sends, which must end in an error message within 15 s.
#
#   bash bench/lab/network_lab.sh BIN_DIR [SECONDS per link, default 30] [--short | "LINK ..."]
#
# The links: 2 (2 Mbit/s, 15 ms, 1 s queue), 10 (10 Mbit/s, 20 ms), l (20 Mbit/s, 100 ms, 200 ms
# queue), w (the same with 0.5 % loss), r (20 Mbit/s, 20 ms, a server with a 16 KiB receive buffer),
# m (8 Mbit/s, 300 ms, 0.2 % loss), 100 and 1000 (tbf on veth); each with a "d" as a download,
# where rd's small receive buffer is the program's (tcp_rmem of the client's namespace). The line
# tests: a (20 Mbit/s down with a 100 ms queue, 5 Mbit/s up with a 250 ms queue, 15 ms each way,
# cubic senders) and wl (20 Mbit/s each way, 100 ms, 0.5 % loss each way, 200 ms queues, bbr),
# their three load phases a third of the seconds each (10 s at the default 30). Needs root.
# --short measures w, 1000 and wd for a few seconds, as the test command does (not the line tests,
# which take longer); a list of names measures only those, "a wl" the line tests alone. The
# uploads l and 10 run with the chart's round-trip line on: on l the line is judged point by point
# against the link's queue, and the program's CPU on 10 is that with the line drawn. Only
# addresses inside its own namespaces are used, from 198.18.0.0/15. Every run is bounded in time,
# and the namespaces, the link and a line test's server are removed on every way out.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/tun_link.sh"
bin="${1:?Ordner mit korvaden-lab-probe fehlt}"
seconds="${2:-30}"
short="${3:-}"  # --short, a list of links, or all

# A namespace must be made and entered; in a chroot whose root is no mount point, "ip netns exec"
# cannot make its private mounts, although "ip netns add" works.
if [ "$(id -u)" -ne 0 ] || ! command -v ip >/dev/null || ! command -v tc >/dev/null \
  || ! ip netns add "korvaden-lab-probe-$$" 2>/dev/null; then
  echo "Netzlabor übersprungen: hier lassen sich keine Netzwerk-Namensräume anlegen (root und iproute2 nötig)."
  exit 0
fi
if ! ip netns exec "korvaden-lab-probe-$$" true 2>/dev/null; then
  ip netns del "korvaden-lab-probe-$$"
  echo "Netzlabor übersprungen: Netzwerk-Namensräume lassen sich hier nicht betreten (Wurzel kein Einhängepunkt)."
  exit 0
fi
ip netns del "korvaden-lab-probe-$$"

prefix="korvaden-lab-$$"
work="$(mktemp -d)"
namespaces=()
link_pid=""
# A line test's korvaden-server and korvaden-check. The check runs in the background, for bash runs
# a trap only once the foreground command has ended, but at once during a wait.
server_pid=""
check_pid=""
remove_namespaces() {
  local ns pid
  for pid in $check_pid $server_pid $link_pid; do kill "$pid" 2>/dev/null; done
  for pid in $check_pid $server_pid $link_pid; do wait "$pid" 2>/dev/null; done
  for ns in "${namespaces[@]}"; do ip netns del "$ns" 2>/dev/null; done
  rm -rf "$work"
}
trap remove_namespaces EXIT
trap 'exit 130' INT TERM HUP

# pair ID: namespaces $prefix-ID-c (198.18.0.1) and $prefix-ID-s (198.18.0.2), joined by a veth
# pair whose client end is kl<pid>ID (interface names have at most 15 characters).
pair() {
  local client="$prefix-$1-c" server="$prefix-$1-s" device="kl$$$1"
  ip netns add "$client" && namespaces+=("$client") && ip netns add "$server" && namespaces+=("$server") || return 1
  ip link add "$device" netns "$client" type veth peer name "${device}s" netns "$server" || return 1
  ip -n "$client" addr add 198.18.0.1/30 dev "$device"
  ip -n "$server" addr add 198.18.0.2/30 dev "${device}s"
  for ns in "$client" "$server"; do ip -n "$ns" link set lo up; done
  ip -n "$client" link set "$device" up
  ip -n "$server" link set "${device}s" up
}

failed=0
line_rows=""  # set once a line test has a row in the table
round_trip=()
# measure NAME TITLE [PROBE-OPTIONS...]: the probe in the pair's client namespace; its result
# lines go into the table.
measure() {
  local name=$1 title=$2
  shift 2
  if [ ${#round_trip[@]} -gt 0 ]; then
    title+=", mit Umlaufzeit-Linie"
    set -- "$@" "${round_trip[@]}"
  fi
  # KORVADEN_LAB_PICTURES=FOLDER: a picture of the window with its details at each link's end.
  [ -n "${KORVADEN_LAB_PICTURES:-}" ] && set -- "$@" --snapshot "$KORVADEN_LAB_PICTURES/messdetails-$name.png"
  echo "=== Netzlabor: $title, $seconds s"
  timeout --kill-after=10 $((seconds + 60)) ip netns exec "$prefix-$name-c" \
    "$bin/korvaden-lab-probe" link "$seconds" "$prefix-$name-s" 198.18.0.2 "$@" | tee "$work/$name.out"
  local status=${PIPESTATUS[0]}
  printf '%s\n  %s\n' "$title" "$(sed -n 's/^Ergebnis: //p' "$work/$name.out")" >>"$work/table"
  sed -n 's/^\(Ergebnis \(um\|in\|Phase\|Messdetails\|Umlaufzeit\).*\)/  \1/p' "$work/$name.out" >>"$work/table"
  return "$status"
}

# link NAME up|down RATE_MBIT QUEUE_MS: a veth pair shaped by tbf, on the client's side for an
# upload, on the server's for a download; the probe reads the client's device either way (what it
# sent, or what it received, which is what left the server's shaper).
link() {
  local name=$1 direction=$2 mbit=$3 queue=$4
  # The bucket holds 4 ms of the rate (the shaper's timer granularity), at least two frames: a
  # larger one would let a slow link deliver in bursts that no real line of that rate has.
  local burst=$((mbit * 1000000 / 8 / 250))
  [ $burst -lt 3028 ] && burst=3028
  pair "$name" || return 1
  local title="${mbit} Mbit/s (tbf, Warteschlange ${queue} ms)" options=()
  local shaped_ns="$prefix-$name-c" shaped_dev="kl$$$name"
  if [ "$direction" = down ]; then
    shaped_ns="$prefix-$name-s" shaped_dev="kl$$${name}s" title="Download: $title" options=(--download)
  fi
  tc -n "$shaped_ns" qdisc add dev "$shaped_dev" root tbf rate "${mbit}mbit" burst "$burst" latency "${queue}ms" \
    || return 1
  measure "$name" "$title" --device "kl$$$name" "${options[@]}" || return 1
  ip netns del "$prefix-$name-c"
  ip netns del "$prefix-$name-s"
}

# lossy NAME up|down RATE_MBIT DELAY_MS QUEUE_MS LOSS [RECEIVE_BUFFER]: the user-space link with
# delay and loss between two namespaces, shaping the uplink or the downlink; its truth file is what
# the points are judged against, its queue log what the details are. With RECEIVE_BUFFER the
# receiver's connections get a receive buffer that small: the server's in an upload, the program's
# in a download (the client namespace's TCP receive buffers, which the program leaves to the system).
lossy() {
  local name=$1 direction=$2 mbit=$3 delay=$4 queue=$5 loss=$6 buffer=${7:-}
  local client="$prefix-$name-c" server="$prefix-$name-s" client_dev="kc$$$name" server_dev="ks$$$name"
  if [ ! -c /dev/net/tun ]; then
    echo "Netzlabor: $mbit Mbit/s mit $delay ms übersprungen: /dev/net/tun fehlt."
    return 0
  fi
  ip netns add "$client" && namespaces+=("$client") && ip netns add "$server" && namespaces+=("$server") || return 1
  start_tun_link "$bin" "$client" "$server" "$client_dev" "$server_dev" "$work/$name.link" "$work/$name.err" \
    $((seconds + 120)) --rate-mbit "$mbit" --delay-ms "$delay" --queue-ms "$queue" --loss "$loss" --seed 1 \
    --truth "$work/$name.truth" --queue-log "$work/$name.queue" --duration $((seconds + 90)) --direction "$direction" \
    || return 1
  local percent title options=()
  percent=$(awk -v p="$loss" 'BEGIN { printf "%g", p * 100 }')
  title="$mbit Mbit/s, $delay ms, ${percent} % Verlust, Warteschlange $queue ms"
  if [ "$direction" = down ]; then
    title="Download: $title"
    options=(--download)
    if [ -n "$buffer" ]; then
      title+=", Empfangspuffer des Programms $buffer Bytes"
      ip netns exec "$client" sysctl -q -w net.ipv4.tcp_rmem="4096 $buffer $buffer" || return 1
    fi
  elif [ -n "$buffer" ]; then
    title+=", Empfangspuffer des Servers $buffer Bytes"
    options=(--receive-buffer "$buffer")
  fi
  measure "$name" "$title" --truth "$work/$name.truth" --delay "$delay" --queue-log "$work/$name.queue" "${options[@]}"
  local status=$?
  kill "$link_pid" 2>/dev/null
  wait "$link_pid" 2>/dev/null
  link_pid=""
  sed 's/^/  Verbindung: /' "$work/$name.err"
  ip netns del "$client"
  ip netns del "$server"
  return $status
}

# line_test NAME DOWN_MBIT DOWN_QUEUE_MS UP_MBIT UP_QUEUE_MS DELAY_MS LOSS RATE_BOUND CONGESTION TITLE:
# the line test on the command line (korvaden-check --json) in the client's namespace against
# korvaden-server in the server's, over the user-space link with both directions shaped, each with
# its rate and queue and the loss, when not 0, on both: the test loads the downlink, then the
# uplink, then both. Its phases take a third of the seconds each. korvaden-lab-line-judge sets its
# figures beside the link's: the rates within RATE_BOUND percent of the payload rates, the latency
# against the round trip and the queues' fill, the grade against the added latency and each
# phase's bytes against what the link delivered in its direction over the phase's counted window.
# Both ends send with the congestion control CONGESTION, set on the route to the far end: outside
# the first namespace the kernel lets a namespace's default be only one of
# net.ipv4.tcp_allowed_congestion_control (here reno and bbr).
line_test() {
  local name=$1 down_mbit=$2 down_queue=$3 up_mbit=$4 up_queue=$5 delay=$6 loss=$7 bound=$8 congestion=$9 title=${10}
  local client="$prefix-$name-c" server="$prefix-$name-s" client_dev="kc$$$name" server_dev="ks$$$name"
  local phase=$((seconds / 3)) pid status
  [ $phase -lt 1 ] && phase=1
  [ $phase -gt 120 ] && phase=120
  title="Leitungstest: $title, Staukontrolle $congestion"
  line_rows=1
  echo "=== Netzlabor: $title, Phasen je $phase s"
  if [ ! -x "$bin/korvaden-check" ]; then
    echo "Netzlabor: korvaden-check fehlt in $bin"
    printf '%s\n  korvaden-check fehlt\n' "$title" >>"$work/table"
    return 1
  fi
  if [ ! -c /dev/net/tun ]; then
    echo "Netzlabor: Leitungstest $name übersprungen: /dev/net/tun fehlt."
    return 0
  fi
  # The idle phase lasts half a load phase; the rest is the name lookup, connects and ends.
  local limit=$((phase * 7 / 2 + 60))
  ip netns add "$client" && namespaces+=("$client") && ip netns add "$server" && namespaces+=("$server") || return 1
  start_tun_link "$bin" "$client" "$server" "$client_dev" "$server_dev" "$work/$name.link" "$work/$name.err" \
    $((limit + 60)) --direction both --rate-mbit "$up_mbit" --queue-ms "$up_queue" --loss "$loss" \
    --down-rate-mbit "$down_mbit" --down-queue-ms "$down_queue" --down-loss "$loss" --delay-ms "$delay" --seed 1 \
    --truth "$work/$name.truth-up" --truth-down "$work/$name.truth-down" --queue-log "$work/$name.queue-up" \
    --queue-log-down "$work/$name.queue-down" --duration $((limit + 30)) || return 1
  ip -n "$client" route replace 198.18.0.2 dev "$client_dev" congctl "$congestion" \
    && ip -n "$server" route replace 198.18.0.1 dev "$server_dev" congctl "$congestion" || return 1
  # Its own port in its own namespace: the one korvaden-check tries by default.
  timeout --kill-after=5 $((limit + 30)) ip netns exec "$server" "$bin/korvaden-server" --bind 198.18.0.2 \
    >"$work/$name.server" 2>&1 &
  server_pid=$!
  for _ in $(seq 50); do
    grep -q "lauscht auf" "$work/$name.server" && break
    sleep 0.1
  done
  if ! grep -q "lauscht auf" "$work/$name.server"; then
    echo "korvaden-server startete nicht: $(cat "$work/$name.server")"
    return 1
  fi
  timeout --kill-after=10 "$limit" ip netns exec "$client" "$bin/korvaden-check" 198.18.0.2 --json --no-history \
    --phase-seconds "$phase" >"$work/$name.json" 2>"$work/$name.check" &
  check_pid=$!
  wait "$check_pid"
  status=$?
  check_pid=""
  # Its answer for the record, without the chart's points.
  sed 's/"points":\[[^]]*\],\?//; s/^/  korvaden-check: /' "$work/$name.json" "$work/$name.check"
  echo "  korvaden-check endete mit $status"
  for pid in $server_pid $link_pid; do kill "$pid" 2>/dev/null; done
  for pid in $server_pid $link_pid; do wait "$pid" 2>/dev/null; done
  server_pid="" link_pid=""
  sed 's/^/  Verbindung: /' "$work/$name.err"
  if [ $status -eq 0 ]; then
    "$bin/korvaden-lab-line-judge" "$work/$name.json" --delay-ms "$delay" --down-rate-mbit "$down_mbit" \
      --up-rate-mbit "$up_mbit" --down-queue-ms "$down_queue" --up-queue-ms "$up_queue" --rate-bound "$bound" \
      --truth-down "$work/$name.truth-down" --truth-up "$work/$name.truth-up" \
      --queue-log-down "$work/$name.queue-down" --queue-log-up "$work/$name.queue-up" | tee "$work/$name.out"
    status=${PIPESTATUS[0]}
    printf '%s\n  %s\n' "$title" "$(sed -n 's/^Ergebnis: //p' "$work/$name.out")" >>"$work/table"
    sed -n 's/^\(Ergebnis [A-Z].*\)/  \1/p' "$work/$name.out" >>"$work/table"
  else
    printf '%s\n  korvaden-check endete mit %s: %s\n' "$title" "$status" "$(tr '\n' ' ' <"$work/$name.check")" \
      >>"$work/table"
  fi
  ip netns del "$client"
  ip netns del "$server"
  return $status
}

silent() {
  pair q || return 1
  # 198.18.1.1 lies behind the server namespace, which has no such address and does not forward.
  ip -n "$prefix-q-c" route add 198.18.1.0/24 via 198.18.0.2
  echo "=== Netzlabor: stummer Server 198.18.1.1"
  local status=0
  timeout --kill-after=10 90 ip netns exec "$prefix-q-c" "$bin/korvaden-lab-probe" silent 198.18.1.1 || status=1
  # A download from a server that takes the connection and never sends, on the namespace's loopback.
  echo "=== Netzlabor: Download von einem Server, der nichts sendet"
  timeout --kill-after=10 60 ip netns exec "$prefix-q-c" "$bin/korvaden-lab-probe" mute --download || status=1
  return $status
}

# One word a line: the name, then the kind and its figures. A name with a "d" after it is the same
# link as a download.
run_one() {
  local name=$1 direction=up
  # The line tests load both directions themselves. On a, an asymmetric line whose queues are what
  # the grade is about, the senders are cubic, which fills a queue until it drops as the systems a
  # line test meets mostly do (bbr, this kernel's default, keeps a queue short). On wl the loss is:
  # cubic would be held to about 1 Mbit/s a connection by 0.5 % loss at a 200 ms round trip, so the
  # row would judge cubic, not the test; bbr, which the other lossy links run too, is not.
  case "$name" in
    a)
      line_test a 20 100 5 250 15 0 5 cubic \
        "20 Mbit/s hinab (Warteschlange 100 ms), 5 Mbit/s hinauf (250 ms), 15 ms je Richtung"
      return ;;
    wl)
      line_test wl 20 200 20 200 100 0.005 10 bbr \
        "20 Mbit/s je Richtung, 100 ms, 0,5 % Verlust je Richtung, Warteschlange 200 ms"
      return ;;
  esac
  if [[ $name == *d ]]; then
    name=${name%d}
    direction=down
  fi
  # The probe's options for the round-trip line: on for the uploads l and 10 only.
  round_trip=()
  [ $direction = up ] && { [ "$name" = l ] || [ "$name" = 10 ]; } && round_trip=(--round-trip)
  case "$name" in
    2) lossy "$1" $direction 2 15 1000 0 ;;
    10) lossy "$1" $direction 10 20 200 0 ;;
    l) lossy "$1" $direction 20 100 200 0 ;;
    w) lossy "$1" $direction 20 100 200 0.005 ;;
    r) lossy "$1" $direction 20 20 200 0 16384 ;;
    m) lossy "$1" $direction 8 300 500 0.002 ;;
    100) link "$1" $direction 100 50 ;;
    1000) link "$1" $direction 1000 20 ;;
    *) echo "Netzlabor: keine Leitung namens $1" >&2; return 1 ;;
  esac
}
case "$short" in
  --short) chosen=(w 1000 wd) ;;
  "") chosen=(2 10 l w r m 100 1000 2d 10d ld wd rd md 100d 1000d a wl) ;;
  *) read -ra chosen <<<"$short" ;;
esac
for name in "${chosen[@]}"; do run_one "$name" || failed=1; done
if [ "$short" = --short ] || [ -z "$short" ]; then silent || failed=1; fi
if [ -s "$work/table" ]; then
  if [ -n "$line_rows" ]; then
    echo "=== Netzlabor: die ersten 20 Punkte jeder Leitung und jeder Leitungstest gegen die Wahrheit"
  else
    echo "=== Netzlabor: die ersten 20 Punkte jeder Leitung gegen die Wahrheit"
  fi
  cat "$work/table"
fi
exit $failed
