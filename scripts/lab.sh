#!/usr/bin/env bash
# The network lab (as root): the chart against what the server could read, on uplinks with delay
# and loss (a user-space link between TUN devices) and on fast shaped lines (tbf), the same as
# downloads against what the program could read, the connect to a silent server, and the line test
# (korvaden-check) on links shaped both ways against what each direction delivered.
#   bash scripts/lab.sh [seconds per link, default 30] ["LINK ..." of 2 10 l w r m 100 1000, each
#   also with a "d" after it for the download, and the line tests a (asymmetric, 20 Mbit/s down
#   and 5 Mbit/s up) and wl (20 Mbit/s each way, 100 ms, 0.5 % loss), whose phases take a third of
#   the seconds each; "a wl" runs just those]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

install_missing "${BUILD_PACKAGES[@]}"
BUILD="$ROOT/build/bench"
build_config "$BUILD" Release "" -DKORVADEN_BUILD_TESTS=OFF >/dev/null
bash "$ROOT/bench/lab/network_lab.sh" "$BUILD/bin" "${1:-30}" ${2:+"$2"}
