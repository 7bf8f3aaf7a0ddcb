#!/usr/bin/env bash
# Builds the Debian package of Omvra Ratavel into build/package/.
#   bash scripts/package.sh            then: sudo apt install ./build/package/korvaden_1.0.0_amd64.deb
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

install_missing "${BUILD_PACKAGES[@]}" dpkg-dev file
BUILD="$ROOT/build/package"
build_config "$BUILD" Release "" -DKORVADEN_BUILD_TESTS=OFF -DKORVADEN_BUILD_BENCH=OFF -DCMAKE_INSTALL_PREFIX=/usr
(cd "$BUILD" && cpack -G DEB >/dev/null)
ls "$BUILD"/*.deb
