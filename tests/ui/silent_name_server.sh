#!/usr/bin/env bash
# Runs a test program in network and mount namespaces of its own, where /etc/resolv.conf names a
# name server on 127.0.0.1 (which the test plays) and the resolver gives up after one second.
# Exits 77 (skipped) where such namespaces cannot be made. Nothing outside them is touched.
set -uo pipefail
program="$1"
shift
if ! command -v unshare >/dev/null || ! command -v ip >/dev/null || ! unshare --net --mount true 2>/dev/null; then
  echo "Netzwerk- und Mount-Namensräume fehlen: Test mit stummem Namensserver übersprungen"
  exit 77
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
printf 'nameserver 127.0.0.1\noptions timeout:1 attempts:1\n' >"$work/resolv.conf"
printf 'hosts: files dns\n' >"$work/nsswitch.conf"
KORVADEN_SILENT_NAME_SERVER=1 timeout --kill-after=10 240 unshare --net --mount bash -c '
  work=$1
  shift
  if ! mount --bind "$work/resolv.conf" /etc/resolv.conf || ! mount --bind "$work/nsswitch.conf" /etc/nsswitch.conf \
    || ! ip link set lo up; then
    echo "Namensserver lässt sich hier nicht umlenken: Test übersprungen"
    exit 77
  fi
  exec "$@"' silent-name-server "$work" "$program" "$@"
