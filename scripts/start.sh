#!/usr/bin/env bash
# Builds Omvra Ratavel and starts it together with a local measurement server on 127.0.0.1:2857.
# The server stops when the program exits.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

install_missing "${BUILD_PACKAGES[@]}"
BUILD="$ROOT/build/release"
build_config "$BUILD" RelWithDebInfo "" -DKORVADEN_BUILD_TESTS=OFF -DKORVADEN_BUILD_BENCH=OFF

"$BUILD/bin/korvaden-server" --bind 127.0.0.1 --port 2857 &
server=$!
trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null || true' EXIT
"$BUILD/bin/korvaden"
