#!/usr/bin/env bash
# Runs a test program on a virtual X screen managed by openbox, as on a desktop with a real window
# manager. Exits 77 (skipped) where Xvfb or openbox is missing. Both are gone on every way out.
# SCREEN_SIZE sets the screen (default 1024x768).
set -uo pipefail
# Never the desktop's session bus, and no bus autolaunched for the virtual screen either.
export DBUS_SESSION_BUS_ADDRESS=disabled:
unset AT_SPI_BUS_ADDRESS
program="$1"
shift
for tool in Xvfb openbox; do
  command -v "$tool" >/dev/null || { echo "$tool fehlt: Test unter einem Fenstermanager übersprungen"; exit 77; }
done

work="$(mktemp -d)"
cleanup() {
  [ -n "${wm:-}" ] && kill "$wm" 2>/dev/null
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# The server picks a free display and writes its number once it accepts clients.
exec {displayfd}>"$work/display"
Xvfb -displayfd "$displayfd" -screen 0 "${SCREEN_SIZE:-1024x768}x24" -wr -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
# Polls end as soon as the server or the window manager is up; the bounds allow for a busy machine.
for _ in $(seq 600); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb startet nicht:"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"

# openbox runs its start-up command once it manages the screen.
HOME="$work" openbox --startup "touch $work/ready" >"$work/openbox.log" 2>&1 &
wm=$!
for _ in $(seq 600); do [ -e "$work/ready" ] && break; sleep 0.1; done
[ -e "$work/ready" ] || { echo "openbox startet nicht:"; cat "$work/openbox.log"; exit 1; }

QT_QPA_PLATFORM=xcb timeout --kill-after=10 240 "$program" "$@"
