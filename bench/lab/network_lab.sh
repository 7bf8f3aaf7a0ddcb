#!/usr/bin/env bash
# The network lab: real uplinks between private network namespaces. Each link joins a client
# namespace, where the real main window runs (offscreen), to a server namespace with
# korvaden-server, through a veth pair of MTU 1500. The client's side has the shape of the uplink:
# the token-bucket shaper tbf with a deep queue as in a home router (this kernel has no netem, so
# the queue is all the latency there is). The acknowledgements come back unshaped, as on a real
# downlink; on one shaped loopback they would wait in the uplink's queue behind the data. Then a
# silent server: a route from the client into a namespace that owns no such address and forwards
# nothing.
#
#   bash bench/lab/network_lab.sh BIN_DIR [SECONDS per link, default 30] [--short]
#
# Needs root. --short measures two links for a few seconds, as the test command does. Only
# addresses inside its own namespaces are used, from 198.18.0.0/15. Every run is bounded in time,
# and the namespaces are removed on every way out.
set -uo pipefail
bin="${1:?Ordner mit korvaden-lab-probe fehlt}"
seconds="${2:-30}"
short="${3:-}"

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
namespaces=()
remove_namespaces() {
  local ns
  for ns in "${namespaces[@]}"; do ip netns del "$ns" 2>/dev/null; done
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
# link RATE_MBIT QUEUE_MS
link() {
  local mbit=$1 queue=$2
  # The bucket holds 4 ms of the rate (the shaper's timer granularity), at least two frames: a
  # larger one would let a slow link deliver in bursts that no real line of that rate has.
  local burst=$((mbit * 1000000 / 8 / 250))
  [ $burst -lt 3028 ] && burst=3028
  pair "$mbit" || return 1
  tc -n "$prefix-$mbit-c" qdisc add dev "kl$$$mbit" root tbf rate "${mbit}mbit" burst "$burst" latency "${queue}ms" \
    || return 1
  echo "=== Netzlabor: ${mbit} Mbit/s (tbf, Warteschlange ${queue} ms), $seconds s"
  timeout --kill-after=10 $((seconds + 60)) ip netns exec "$prefix-$mbit-c" \
    "$bin/korvaden-lab-probe" link "$seconds" "$prefix-$mbit-s" 198.18.0.2 || return 1
  ip netns del "$prefix-$mbit-c"
  ip netns del "$prefix-$mbit-s"
}

silent() {
  pair q || return 1
  # 198.18.1.1 lies behind the server namespace, which has no such address and does not forward.
  ip -n "$prefix-q-c" route add 198.18.1.0/24 via 198.18.0.2
  echo "=== Netzlabor: stummer Server 198.18.1.1"
  timeout --kill-after=10 90 ip netns exec "$prefix-q-c" "$bin/korvaden-lab-probe" silent 198.18.1.1
}

if [ "$short" = "--short" ]; then
  link 10 200 || failed=1
  link 1000 20 || failed=1
else
  link 2 1000 || failed=1
  link 10 200 || failed=1
  link 100 50 || failed=1
  link 1000 20 || failed=1
fi
silent || failed=1
exit $failed
