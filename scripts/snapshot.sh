#!/usr/bin/env bash
# Renders the main window during a real measurement on 127.0.0.1 into a PNG (default docs/hauptfenster.png).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

install_missing "${BUILD_PACKAGES[@]}"
BUILD="$ROOT/build/release"
build_config "$BUILD" RelWithDebInfo "" -DKORVADEN_BUILD_TESTS=OFF -DKORVADEN_BUILD_BENCH=OFF
QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}" "$BUILD/bin/korvaden-snapshot" "${1:-$ROOT/docs/hauptfenster.png}" "${2:-12}"
