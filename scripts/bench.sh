#!/usr/bin/env bash
# Builds an optimised configuration and runs the benchmarks (iperf3 is installed for comparison).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

install_missing "${BUILD_PACKAGES[@]}" iperf3
BUILD="$ROOT/build/bench"
build_config "$BUILD" Release "" -DKORVADEN_BUILD_TESTS=OFF
"$BUILD/bin/korvaden-throughput-bench" "${1:-5}"
