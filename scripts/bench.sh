#!/usr/bin/env bash
# Builds an optimised configuration and runs the benchmarks (iperf3 is installed for comparison).
#   bash scripts/bench.sh [seconds per throughput run, default 5] [seconds of the chart run, default 30]
# A chart run of 600 seconds is the ten-minute memory check. The line test runs with its default phases;
# the history is filled with 10,000 tests.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

install_missing "${BUILD_PACKAGES[@]}" iperf3
BUILD="$ROOT/build/bench"
build_config "$BUILD" Release "" -DKORVADEN_BUILD_TESTS=OFF >/dev/null
"$BUILD/bin/korvaden-throughput-bench" "${1:-5}"
"$BUILD/bin/korvaden-chart-bench" "${2:-30}"
"$BUILD/bin/korvaden-server-load-bench"
"$BUILD/bin/korvaden-day-memory-bench"
bash "$ROOT/bench/line_test_bench.sh" "$BUILD/bin"
"$BUILD/bin/korvaden-history-bench"
