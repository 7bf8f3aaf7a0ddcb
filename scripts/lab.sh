#!/usr/bin/env bash
# The network lab (as root): the chart against what korvaden-server received, on shaped uplinks of
# 2 Mbit/s, 10 Mbit/s, 100 Mbit/s and 1 Gbit/s, and the connect to a silent server.
#   bash scripts/lab.sh [seconds per link, default 30]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

install_missing "${BUILD_PACKAGES[@]}"
BUILD="$ROOT/build/bench"
build_config "$BUILD" Release "" -DKORVADEN_BUILD_TESTS=OFF >/dev/null
bash "$ROOT/bench/lab/network_lab.sh" "$BUILD/bin" "${1:-30}"
