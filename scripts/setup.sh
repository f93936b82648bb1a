#!/usr/bin/env bash
# Installs what building and testing Kordel needs on Debian 12 (run as root). Installs only
# what is missing, so a second run costs a few seconds. With --test, also the tools that only
# the test command uses (the package check's lintian and desktop-file-validate).
set -euo pipefail
packages=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev libgl-dev qt6-charts-dev libqt6opengl6-dev
  qt6-translations-l10n libqt6svg6
  libgtest-dev libgmock-dev
  libcli11-dev
  libxlsxwriter-dev
  libsqlite3-dev sqlite3
  libpq-dev postgresql
  g++-mingw-w64-x86-64
  wine wine64 locales
  clang libclang-rt-14-dev
  xvfb xauth
  poppler-utils
  librsvg2-bin dpkg-dev
  ser2net iproute2 python3
)
if [ "${1:-}" = --test ]; then
  packages+=(lintian desktop-file-utils)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
