#!/usr/bin/env bash
# What a new user does on a brand-new Debian 12, checked step by step; scripts/clean-root.sh runs it
# as root inside fresh minimal roots, never on a machine of its own:
#   first-run-checks.sh desktop         what every desktop has (a D-Bus session launcher and the
#                                       accessibility bus), then the test command inside a running
#                                       session bus
#   first-run-checks.sh commands        the start command until the program runs with its server
#                                       listening, then the package command
#   first-run-checks.sh packages DIR    the packages in DIR: the server alone (no Qt comes with it),
#                                       then all of them, each program started, korvaden-check's
#                                       test in a new history, its user timer verified, then purged
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
export DEBIAN_FRONTEND=noninteractive

fail() { echo "first-run: FEHLER: $*"; exit 1; }
step() { echo "=== first-run: $1"; step_started=$SECONDS; }
step_done() { echo "=== first-run: fertig nach $((SECONDS - step_started)) s"; }

# listening PORT: some socket of this root listens on the TCP port (IPv4 or IPv6).
listening() {
  local hex
  hex=$(printf ':%04X' "$1")
  awk -v port="$hex" '$4 == "0A" && substr($2, length($2) - 4) == port { found = 1 } END { exit !found }' \
    /proc/net/tcp /proc/net/tcp6 2>/dev/null
}
# pids_running EXE: the processes that run this executable.
pids_running() {
  local p
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/exe" 2>/dev/null)" = "$1" ] && echo "${p#/proc/}"
  done
}
# wait_until SECONDS COMMAND...: polls once a second.
wait_until() {
  local limit=$1 i
  shift
  for ((i = 0; i < limit; i++)); do
    "$@" && return 0
    sleep 1
  done
  return 1
}
installed_packages() { dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' | awk '$1 == "ii" { print $2 }' | sort; }

# run_program EXE PORT_OF_ITS_SERVER: the desktop program comes up offscreen, stays up and ends
# through SIGTERM as when the session ends, with exit status 0.
run_program() {
  QT_QPA_PLATFORM=offscreen "$1" >/tmp/first-run-program.log 2>&1 &
  local program=$!
  sleep 3
  kill -0 "$program" 2>/dev/null || { cat /tmp/first-run-program.log; fail "$1 endete von selbst"; }
  kill -TERM "$program"
  wait "$program" || { cat /tmp/first-run-program.log; fail "$1 endete nach SIGTERM nicht mit 0"; }
}

# The test command as a developer meets it on a desktop: a session bus runs, and the packages
# that bring D-Bus to X11 programs and the accessibility bus are there.
check_desktop() {
  step "Desktop-Pakete (dbus-x11, at-spi2-core)"
  apt-get update -qq || fail "apt-get update"
  apt-get install -y -qq --no-install-recommends dbus-x11 at-spi2-core >/dev/null \
    || fail "die Desktop-Pakete ließen sich nicht installieren"
  step_done

  step "Testbefehl in einer laufenden Sitzung (dbus-run-session bash scripts/test.sh)"
  dbus-run-session -- bash scripts/test.sh || fail "der Testbefehl schlug fehl"
  step_done
}

check_commands() {
  local before
  before=$(installed_packages)

  step "Startbefehl (bash scripts/start.sh, offscreen)"
  QT_QPA_PLATFORM=offscreen bash scripts/start.sh >/tmp/first-run-start.log 2>&1 &
  local start=$! program=""
  local exe="$PWD/build/release/bin/korvaden"
  started() { kill -0 "$start" 2>/dev/null || return 0; program=$(pids_running "$exe"); [ -n "$program" ] && listening 2857; }
  wait_until 1800 started
  if [ -z "$program" ] || ! listening 2857; then
    tail -n 40 /tmp/first-run-start.log
    fail "der Startbefehl brachte Programm und Server nicht zum Laufen"
  fi
  sleep 3
  kill -0 "$program" 2>/dev/null || fail "das Programm endete von selbst"
  kill -TERM "$program"
  wait "$start" || { tail -n 20 /tmp/first-run-start.log; fail "der Startbefehl endete nicht mit 0"; }
  wait_until 10 eval '! listening 2857' || fail "der Server lief nach dem Programm weiter"
  step_done

  step "Paketbefehl (bash scripts/package.sh)"
  bash scripts/package.sh || fail "der Paketbefehl schlug fehl"
  step_done

  step "lintian"
  local checked
  checked=$(installed_packages)
  apt-get install -y -qq --no-install-recommends lintian >/dev/null || fail "lintian ließ sich nicht installieren"
  lintian --fail-on error,warning build/package/*.deb || fail "lintian hat Einwände"
  step_done

  echo "first-run: von den Befehlen installierte Pakete:"
  comm -13 <(echo "$before") <(echo "$checked") | paste -sd ' '
}

check_packages() {
  local dir=$1 server_deb names=()
  server_deb=$(ls "$dir"/korvaden-server_*.deb 2>/dev/null | head -n 1)
  local deb
  for deb in "$dir"/*.deb; do names+=("$(dpkg-deb -f "$deb" Package)"); done
  [ ${#names[@]} -gt 0 ] || fail "keine Pakete in $dir"
  apt-get update -qq || fail "apt-get update"

  if [ -n "$server_deb" ]; then
    step "Server-Paket allein (apt install $(basename "$server_deb"))"
    apt install -y -qq "$server_deb" >/dev/null || fail "das Server-Paket ließ sich nicht installieren"
    if installed_packages | grep -q '^libqt6'; then
      fail "das Server-Paket zog Qt nach: $(installed_packages | grep '^libqt6' | paste -sd ' ')"
    fi
    step_done

    step "systemd-Einheit"
    apt-get install -y -qq --no-install-recommends systemd man-db >/dev/null || fail "systemd ließ sich nicht installieren"
    local unit=/lib/systemd/system/korvaden-server.service
    systemd-analyze verify "$unit" || fail "systemd-analyze verify hat Einwände"
    [ "$(systemctl is-enabled korvaden-server.service 2>/dev/null)" = disabled ] \
      || fail "der Dienst ist nach der Installation nicht ausgeschaltet"
    systemd-analyze security --offline=yes "$unit" | tail -n 1
    systemd-analyze security --offline=yes --threshold=20 "$unit" >/dev/null \
      || fail "die Einheit ist schlechter als 2.0 abgesichert"
    step_done
  fi

  step "Pakete installieren (apt install ${names[*]})"
  apt install -y -qq "$dir"/*.deb >/dev/null || fail "die Pakete ließen sich nicht installieren"
  korvaden-server --bind 127.0.0.1 --port 2858 >/dev/null 2>&1 &
  local server=$!
  wait_until 10 listening 2858 || fail "der installierte korvaden-server lauscht nicht"
  run_program "$(command -v korvaden)"
  # Each test in a data folder of its own, so the history it leaves is its own: a finished test
  # lands in a new SQLite file (through Qt's SQLite driver, which only the package's dependencies
  # bring), with --no-history nothing does.
  local kept skipped history=Omvra-Soft/verlauf.sqlite
  kept=$(mktemp -d) skipped=$(mktemp -d)
  timeout 60 env XDG_DATA_HOME="$kept" korvaden-check 127.0.0.1 --port 2858 --phase-seconds 1 --json >/dev/null \
    || fail "der installierte korvaden-check prüft den installierten Server nicht"
  [ "$(head -c 15 "$kept/$history" 2>/dev/null)" = "SQLite format 3" ] \
    || fail "korvaden-check legte keinen Verlauf an ($kept/$history fehlt oder ist keine SQLite-Datei)"
  timeout 60 env XDG_DATA_HOME="$skipped" korvaden-check 127.0.0.1 --port 2858 --phase-seconds 1 --no-history >/dev/null \
    || fail "korvaden-check --no-history prüft den installierten Server nicht"
  [ -e "$skipped/$history" ] && fail "korvaden-check --no-history legte doch einen Verlauf an"
  rm -rf "$kept" "$skipped"
  kill -TERM "$server"; wait "$server" 2>/dev/null
  step_done

  step "systemd-Zeitgeber des Benutzers (korvaden-check@.timer)"
  apt-get install -y -qq --no-install-recommends systemd man-db >/dev/null || fail "systemd ließ sich nicht installieren"
  local user_units=/usr/lib/systemd/user unit out runtime
  for unit in korvaden-check@.service korvaden-check@.timer; do
    [ -f "$user_units/$unit" ] || fail "$user_units/$unit fehlt"
  done
  # A user manager's view without a running one: its runtime folder only has to exist. An
  # instance beside its template is verified through the template, ExecStart's program and the
  # Documentation's manual page included; unknown keys are only warnings, so any word about
  # the units fails too.
  runtime=$(mktemp -d)
  out=$(XDG_RUNTIME_DIR="$runtime" systemd-analyze --user verify \
    "$user_units/korvaden-check@messserver.example.net.timer" \
    "$user_units/korvaden-check@messserver.example.net.service" 2>&1) \
    || { echo "$out"; fail "systemd-analyze verify hat Einwände gegen den Zeitgeber"; }
  [ -n "$out" ] && echo "$out"
  echo "$out" | grep -q korvaden-check && fail "systemd-analyze verify hat Einwände gegen den Zeitgeber"
  # Enabling needs nothing but the [Install] section; offline, with copies in a root of its own.
  mkdir -p "$runtime$user_units"
  cp "$user_units"/korvaden-check@.* "$runtime$user_units/"
  out=$(systemctl --root="$runtime" --global enable korvaden-check@messserver.example.net.timer 2>&1)
  [ -e "$runtime/etc/systemd/user/timers.target.wants/korvaden-check@messserver.example.net.timer" ] \
    || { echo "$out"; fail "der Zeitgeber ließe sich nicht einschalten"; }
  rm -rf "$runtime"
  step_done

  step "Pakete entfernen (apt purge ${names[*]})"
  apt purge -y -qq "${names[@]}" >/dev/null || fail "die Pakete ließen sich nicht entfernen"
  local name
  for name in "${names[@]}"; do
    installed_packages | grep -qx "$name" && fail "$name ist noch installiert"
    dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -qv 'not-installed' && fail "von $name blieb etwas zurück"
  done
  [ -e /usr/bin/korvaden ] || [ -e /usr/bin/korvaden-server ] || [ -e /usr/bin/korvaden-check ] || [ -n "$(ls -d /usr/lib/*/korvaden 2>/dev/null)" ] \
    || [ -e /etc/default/korvaden-server ] || [ -e /lib/systemd/system/korvaden-server.service ] \
    || [ -e /usr/lib/systemd/user/korvaden-check@.timer ] || [ -e /usr/lib/systemd/user/korvaden-check@.service ] \
    && fail "nach dem Entfernen blieben Dateien zurück"
  step_done
}

case "${1:-}" in
  desktop) check_desktop ;;
  commands) check_commands ;;
  packages) check_packages "${2:?Ordner der Pakete fehlt}" ;;
  *) echo "Aufruf: $0 desktop | commands | packages DIR" >&2; exit 2 ;;
esac
echo "first-run: alles bestanden"
