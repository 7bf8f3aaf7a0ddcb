#!/usr/bin/env bash
# The pictures of the documentation, each from a real run: the main window during a measurement on
# 127.0.0.1, the same in expert mode, the About box with the help beside it, the dialog that
# saves a measurement, Messdetails beside the window at the end of a run on 127.0.0.1 (an upload and
# a download), the chart with its round-trip line during a run on 127.0.0.1, and the window
# "Verlauf" on four days of example tests with a contract's rates (chart and contract). With Xvfb and
# openbox they are taken on a virtual screen under a real window manager, frames included;
# otherwise the windows draw themselves offscreen.
#   bash scripts/snapshot.sh [folder]      (default docs/)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

install_missing "${BUILD_PACKAGES[@]}"
BUILD="$ROOT/build/release"
build_config "$BUILD" RelWithDebInfo "" -DKORVADEN_BUILD_TESTS=OFF -DKORVADEN_BUILD_BENCH=OFF
folder="${1:-$ROOT/docs}"
# Figures as a German desktop shows them; Qt reads the locale's name from the environment itself.
export LANG=de_DE.UTF-8
mkdir -p "$folder"
shoot() {
  if command -v Xvfb >/dev/null && command -v openbox >/dev/null; then
    SCREEN_SIZE=1600x900 bash "$ROOT/tests/ui/under_window_manager.sh" "$BUILD/bin/korvaden-snapshot" "$@"
  else
    QT_QPA_PLATFORM=offscreen "$BUILD/bin/korvaden-snapshot" "$@"
  fi
}
shoot "$folder/hauptfenster.png" 12
shoot "$folder/hauptfenster-experte.png" 12 --expert
shoot "$folder/info-und-hilfe.png" --about
shoot "$folder/messwerte-speichern.png" 4 --save
shoot "$folder/messdetails-lokal.png" 8 --details
shoot "$folder/download-messdetails.png" 8 --download --details
shoot "$folder/umlaufzeit-lokal.png" 12 --round-trip
shoot "$folder/verlauf.png" --history
shoot "$folder/verlauf-vertrag.png" --history --contract
echo "Bilder in $folder"
