#!/usr/bin/env bash
# Sets up and builds (scripts/setup.sh), then makes the Debian packages pulsewick, pulsewick-cli
# and pulsewick-cli-sound from the build with cpack, into BUILD_DIR/packages.
# Usage: scripts/package.sh [BUILD_DIR]   (default: build)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${1:-"$here/build"}
"$here/scripts/setup.sh" "$build_dir"

# dpkg-shlibdeps (and file, which cpack asks first) work out the packages' dependencies.
source "$here/scripts/install-packages.sh"
install_packages dpkg-dev file

echo "== Packaging"
out="$build_dir/packages"
rm -f "$out"/*.deb
cpack -G DEB --config "$build_dir/CPackConfig.cmake" -B "$out"
echo
for deb in "$out"/*.deb; do
    echo "$deb"
    dpkg-deb -f "$deb" Depends Suggests | sed 's/^/    /'
done
echo "Install with: sudo apt install $out/pulsewick_*.deb $out/pulsewick-cli_*.deb (a server: pulsewick-cli alone)"
