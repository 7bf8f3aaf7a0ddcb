# Shared by the start and test commands: installs what is missing and builds one configuration.

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# Debian packages the build, the program and the tests need. Qt Charts' CMake package needs the
# OpenGL development files, which qt6-charts-dev only recommends; the windows are laid out for the
# fonts of fonts-liberation; Qt's own dialogs speak German with qt6-translations-l10n; the history
# is an SQLite file that Qt SQL reads through its SQLite driver, a plugin of its own package
# (libqt6sql6-sqlite); the test command checks the layout with clang-format; the network
# lab needs iproute2; one test runs the window on a virtual X screen (xvfb) under a real window
# manager (openbox).
BUILD_PACKAGES=(cmake g++ make qt6-base-dev qt6-charts-dev libqt6opengl6-dev qt6-qpa-plugins libqt6charts6
  libqt6sql6-sqlite googletest fonts-dejavu-core fonts-liberation qt6-translations-l10n clang clang-format
  libclang-rt-14-dev iproute2 xvfb openbox libxcb1-dev)

install_missing() {
  local missing=()
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "Bitte als root ausführen oder sudo installieren." >&2; exit 1; }
    sudo="sudo"
  fi
  echo "Installiere fehlende Pakete: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# build_config DIR BUILD_TYPE SANITIZER [extra cmake args...]
build_config() {
  local dir="$1" type="$2" sanitize="$3"
  shift 3
  cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE="$type" -DKORVADEN_SANITIZE="$sanitize" "$@" >/dev/null
  cmake --build "$dir" -j "$(nproc)"
}
