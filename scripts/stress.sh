#!/usr/bin/env bash
# The long form of the stress suite: a thousand Start/Stop cycles and refused connects, fifty
# random resets, a hundred pairs of instances starting and ending together, every damaged settings
# file, the ten-minute run, then each fuzz target for the given seconds (default 600), whose new
# inputs are merged into tests/fuzz/corpus. About 35 minutes here. The test command runs the short form of the same suite.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

fuzz_seconds="${1:-600}"
install_missing "${BUILD_PACKAGES[@]}"
export QT_QPA_PLATFORM=offscreen

dir="$ROOT/build/stress"
echo "=== stress: build"
build_config "$dir" RelWithDebInfo "" -DKORVADEN_BUILD_BENCH=OFF || exit 1

failed=()
echo "=== stress: suite (long form)"
KORVADEN_STRESS=long "$dir/bin/stress_tests" || failed+=("stress")
# The inputs that reach new code join the repository's corpus; commit them with the run's results.
bash "$ROOT/scripts/fuzz.sh" "$fuzz_seconds" --merge || failed+=("fuzz")

if [ ${#failed[@]} -gt 0 ]; then
  echo "Fehlgeschlagen: ${failed[*]}"
  exit 1
fi
echo "Belastungsprobe (lange Form) bestanden."
