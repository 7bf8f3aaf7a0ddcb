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
# where rd's small receive buffer is the program's (tcp_rmem of the client's namespace). Needs root.
# --short measures w, 1000 and wd for a few seconds, as the test command does; a list of names
# measures only those. The uploads l and 10 run with the chart's round-trip line on: on l the line
# is judged point by point against the link's queue, and the program's CPU on 10 is that with the
# line drawn. Only addresses inside its own namespaces are used, from 198.18.0.0/15.
# Every run is bounded in time, and the namespaces and the link are removed on every way out.
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
remove_namespaces() {
  local ns
  if [ -n "$link_pid" ]; then
    kill "$link_pid" 2>/dev/null
    wait "$link_pid" 2>/dev/null
  fi
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
  "") chosen=(2 10 l w r m 100 1000 2d 10d ld wd rd md 100d 1000d) ;;
  *) read -ra chosen <<<"$short" ;;
esac
for name in "${chosen[@]}"; do run_one "$name" || failed=1; done
if [ "$short" = --short ] || [ -z "$short" ]; then silent || failed=1; fi
if [ -s "$work/table" ]; then
  echo "=== Netzlabor: die ersten 20 Punkte jeder Leitung gegen die Wahrheit"
  cat "$work/table"
fi
exit $failed
