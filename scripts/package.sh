#!/usr/bin/env bash
# Sets up (scripts/setup.sh) and builds Pulsewick for /usr in a build folder of its own, with
# Debian's hardening flags, then makes the Debian packages pulsewick, pulsewick-cli and
# pulsewick-cli-sound from it with cpack, into BUILD_DIR/packages.
# Usage: scripts/package.sh [BUILD_DIR]   (default: build-package)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${1:-"$here/build-package"}

# dpkg-buildflags gives the flags Debian builds its packages with; dpkg-shlibdeps (and file, which
# cpack asks first) work out the packages' dependencies.
source "$here/scripts/install-packages.sh"
install_packages dpkg-dev file
flags() { DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"; }
"$here/scripts/setup.sh" "$build_dir" -DCMAKE_INSTALL_PREFIX=/usr -DPULSEWICK_BUILD_BENCHMARKS=OFF -DPULSEWICK_BUILD_TESTS=OFF \
    -DCMAKE_CXX_FLAGS="$(flags CPPFLAGS) $(flags CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" -DCMAKE_SHARED_LINKER_FLAGS="$(flags LDFLAGS)" \
    -DCMAKE_MODULE_LINKER_FLAGS="$(flags LDFLAGS)"

echo "== Packaging"
out="$build_dir/packages"
rm -f "$out"/*.deb
cpack -G DEB --config "$build_dir/CPackConfig.cmake" -B "$out"
echo
for deb in "$out"/*.deb; do
    echo "$deb"
    dpkg-deb -f "$deb" Depends Recommends Suggests | sed 's/^/    /'
done
echo "Install with: sudo apt install $out/pulsewick_*.deb $out/pulsewick-cli_*.deb (a server: pulsewick-cli alone)"
