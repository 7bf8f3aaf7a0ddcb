# Sourced by the lab's scripts: starts korvaden-lab-link between two namespaces that exist already.
#
#   start_tun_link BIN CLIENT_NS SERVER_NS CLIENT_DEV SERVER_DEV OUT ERR LIMIT_SECONDS LINK-OPTIONS...
#
# The link runs in the background with its standard output in OUT and its errors in ERR, ended by
# timeout after LIMIT_SECONDS at the latest; link_pid is its process. Once it has made its TUN
# devices, each moves into its namespace (client 198.18.0.1, server 198.18.0.2, MTU 1500, up),
# and loopback comes up in both. Fails, saying why, when the link does not start.
start_tun_link() {
  local bin=$1 client=$2 server=$3 client_dev=$4 server_dev=$5 out=$6 err=$7 limit=$8
  shift 8
  timeout --kill-after=5 "$limit" "$bin/korvaden-lab-link" --client-dev "$client_dev" --server-dev "$server_dev" \
    "$@" >"$out" 2>"$err" &
  link_pid=$!
  for _ in $(seq 100); do
    grep -qx bereit "$out" && break
    kill -0 "$link_pid" 2>/dev/null || break
    sleep 0.1
  done
  if ! grep -qx bereit "$out"; then
    echo "Verbindung startet nicht: $(cat "$err")"
    return 1
  fi
  ip link set "$client_dev" netns "$client" && ip link set "$server_dev" netns "$server" || return 1
  ip -n "$client" addr add 198.18.0.1 peer 198.18.0.2 dev "$client_dev" || return 1
  ip -n "$server" addr add 198.18.0.2 peer 198.18.0.1 dev "$server_dev" || return 1
  ip -n "$client" link set "$client_dev" mtu 1500 up && ip -n "$server" link set "$server_dev" mtu 1500 up || return 1
  ip -n "$client" link set lo up && ip -n "$server" link set lo up
}
