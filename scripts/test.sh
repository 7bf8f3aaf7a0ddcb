#!/usr/bin/env bash
# Builds and runs every test three times: a normal build, one with AddressSanitizer and
# UndefinedBehaviorSanitizer, and one with ThreadSanitizer. Widgets run on the offscreen platform.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

install_missing "${BUILD_PACKAGES[@]}"
export QT_QPA_PLATFORM=offscreen
# No session bus: the tests neither use nor disturb the desktop's, and libdbus starts none of its
# own (under X11 it would autolaunch one through dbus-launch). The accessibility bridge, which finds
# its bus through the session bus, stays off with it.
export DBUS_SESSION_BUS_ADDRESS=disabled:
unset AT_SPI_BUS_ADDRESS
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0"
export LSAN_OPTIONS="suppressions=$ROOT/tests/sanitizers/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# die_after_fork=0: tests start korvaden-server through QProcess, which forks and then execs at once.
export TSAN_OPTIONS="suppressions=$ROOT/tests/sanitizers/tsan.supp:halt_on_error=1:second_deadlock_stack=1:die_after_fork=0"

failed=()
# The layout of every source file, as .clang-format has it.
echo "=== Format (clang-format)"
(cd "$ROOT" && find app base bench measure net server settings support tests tools ui -name '*.cpp' -o -name '*.h' \
  | xargs clang-format --dry-run -Werror) \
  || failed+=("Format")

run_suite() {
  local name="$1" sanitize="$2"
  local dir="$ROOT/build/test-$name"
  echo "=== $name: build"
  if ! build_config "$dir" Debug "$sanitize" -DKORVADEN_BUILD_BENCH=OFF; then
    failed+=("$name (build)")
    return
  fi
  echo "=== $name: tests"
  ctest --test-dir "$dir" --output-on-failure --timeout 300 -j 2 || failed+=("$name")
}

run_suite normal ""
# The network lab's short form: shaped links and a silent server in namespaces of its own.
bash "$ROOT/bench/lab/network_lab.sh" "$ROOT/build/test-normal/bin" 6 --short || failed+=("Netzlabor")
run_suite asan address
run_suite tsan thread
bash "$ROOT/scripts/fuzz.sh" 15 || failed+=("fuzz")

if [ ${#failed[@]} -gt 0 ]; then
  echo "Fehlgeschlagen: ${failed[*]}"
  exit 1
fi
echo "Alle drei Testläufe bestanden."
