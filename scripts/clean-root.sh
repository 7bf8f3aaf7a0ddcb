#!/usr/bin/env bash
# Proves the README's commands on brand-new minimal Debian 12 roots: makes each root with nothing
# but Debian's minimal base, clones the committed HEAD of this checkout into it and runs
# scripts/first-run-checks.sh there as root, in a process and mount namespace of its own, so that
# nothing started inside outlives the run. Three roots, each removed on every way out:
#   a desktop's: the desktop packages and a running session bus, then the test command;
#   the newcomer's bare root: the start and package commands;
#   a third for the packages alone, where nothing the build installed can hide a missing dependency.
#
#   bash scripts/clean-root.sh        (as root; CI runs it after the test command)
#
# Only the base root is cached, for at most a week, in ~/.cache/korvaden-clean-root (or
# $XDG_CACHE_HOME); everything the project's own commands install is fetched anew each run.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
LIMIT="${KORVADEN_CLEAN_ROOT_LIMIT:-70m}"

[ "$(id -u)" -eq 0 ] || { echo "clean-root: bitte als root ausführen" >&2; exit 2; }
command -v unshare >/dev/null && command -v git >/dev/null || { echo "clean-root: unshare und git fehlen" >&2; exit 2; }
if ! command -v mmdebstrap >/dev/null; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends mmdebstrap >/dev/null
fi

cache="${XDG_CACHE_HOME:-$HOME/.cache}/korvaden-clean-root"
base="$cache/bookworm-minbase.tar"
mkdir -p "$cache"
if [ ! -s "$base" ] || [ -n "$(find "$base" -mmin +$((7 * 24 * 60)))" ]; then
  echo "clean-root: lege ein minimales Debian 12 an"
  # The mirrors this machine's apt uses, where it has Debian's deb822 list; Debian's default otherwise.
  sources=()
  [ -r /etc/apt/sources.list.d/debian.sources ] && sources=(/etc/apt/sources.list.d/debian.sources)
  rm -rf "$base.part"
  mmdebstrap --quiet --format=tar --variant=minbase --include=ca-certificates bookworm "$base.part" "${sources[@]}" </dev/null
  mv "$base.part" "$base"
fi

roots=()
remove_roots() {
  local root
  for root in "${roots[@]}"; do
    # The mounts lived in the run's own mount namespace and ended with it; never delete through one.
    if grep -q " $root/" /proc/self/mounts; then
      echo "clean-root: $root ist noch eingehängt, bleibt liegen" >&2
      continue
    fi
    rm -rf --one-file-system "$root"
  done
}
trap remove_roots EXIT

# new_root: a fresh copy of the base root with a clone of this checkout's HEAD in /srv/project.
new_root() {
  root="$(mktemp -d /var/tmp/korvaden-clean-root.XXXXXX)"
  roots+=("$root")
  tar -C "$root" -xf "$base"
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  mkdir -p "$root/srv"
  git clone --quiet --no-local "$ROOT" "$root/srv/project"
}

# run_inside ROOT ARGS...: scripts/first-run-checks.sh ARGS as root of ROOT. unshare ignores
# SIGTERM while it waits, so the time limit ends it with SIGKILL; --kill-child then ends the root's
# first process, and with it every process of the root.
run_inside() {
  local root=$1
  shift
  timeout --kill-after=30 "$LIMIT" unshare --pid --fork --kill-child --mount --propagation private \
    /bin/bash -c '
      set -e
      root=$1 ci=$2
      shift 2
      # The root a mount point of its own, as on a real machine: ip netns needs to remount it.
      mount --bind "$root" "$root"
      mount --rbind /sys "$root/sys"
      mount --rbind /dev "$root/dev"
      mount -t tmpfs tmpfs "$root/dev/shm"
      mount -t tmpfs tmpfs "$root/run"
      exec chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 CI="$ci" \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        /bin/bash -c "mount -t proc proc /proc && cd /srv/project && bash scripts/first-run-checks.sh \"\$@\"" \
        first-run "$@"
    ' clean-root "$root" "${CI:-}" "$@" </dev/null
}

started=$SECONDS
status=0
new_root
echo "clean-root: $(git -C "$root/srv/project" log -1 --format='%h %s')"
run_inside "$root" desktop || status=$?
echo "clean-root: Desktop nach $((SECONDS - started)) s"
# A test tree is large; the next root needs the space more.
remove_roots
roots=()
if [ $status -eq 0 ]; then
  new_root
  run_inside "$root" commands || status=$?
  echo "clean-root: Start- und Paketbefehl nach $((SECONDS - started)) s"
fi
if [ $status -eq 0 ]; then
  built="$root/srv/project/build/package"
  new_root
  mkdir -p "$root/srv/packages"
  cp "$built"/*.deb "$root/srv/packages/"
  run_inside "$root" packages /srv/packages || status=$?
fi
echo "clean-root: Ergebnis $status nach $(( (SECONDS - started) / 60 )) min $(( (SECONDS - started) % 60 )) s"
exit $status
