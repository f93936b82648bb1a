#!/usr/bin/env bash
# Builds the Debian package of Kordel: a release build in build-package/ (kept between runs, so
# a second run rebuilds only what changed) with Debian's hardening flags, then cpack. Prints
# the package's path on the last line; install it with "apt install ./build-package/kordel_*.deb".
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
dir=${KORDEL_PACKAGE_DIR:-build-package}

# The flags Debian builds its own packages with (-O2, all hardening on); no debug information,
# as the package holds stripped programs.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
cxxflags=$(sed -e 's/\(^\| \)-g\( \|$\)/ /' <<<"$cxxflags")
ldflags=$(dpkg-buildflags --get LDFLAGS)

cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DKORDEL_BUILD_TESTS=OFF -DKORDEL_BUILD_BENCH=OFF -DKORDEL_SANITIZE= \
  -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG \
  -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >/dev/null
cmake --build "$dir" -j "$(nproc)"
rm -f "$dir"/kordel_*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
ls "$PWD/$dir"/kordel_*.deb
