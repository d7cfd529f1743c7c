#!/usr/bin/env bash
# Installs what Pulsewick needs to build and test on Debian 12, then configures and builds it.
# Usage: scripts/setup.sh [BUILD_DIR [CMAKE_OPTION...]]   (default: build; the options go to cmake)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${1:-"$here/build"}
shift $(( $# > 0 ? 1 : 0 ))

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev qt6-serialport-dev libgl-dev
    prometheus # promtool and a real server for the metrics tests
    prometheus-alertmanager # the alert rules are tested end to end through a real Alertmanager
    # WAV alerts: Qt Multimedia decodes WAV itself and plays through the PulseAudio client
    # (the desktop's PulseAudio or PipeWire server); the media backend plugins are not needed.
    libqt6multimedia6 libpulse0
    pulseaudio # the playback test starts a private server with a null sink
    libgtest-dev libgmock-dev
    iproute2 util-linux procps
    systemd # systemd-analyze checks the service unit
    libsystemd-dev # the monitor reports readiness, pings the service watchdog and takes its socket
    # the metrics endpoint: HTTP and TLS (GnuTLS), the web configuration's YAML, bcrypt hashes
    libmicrohttpd-dev libgnutls28-dev libyaml-cpp-dev libcrypt-dev
    curl openssl # the endpoint tests scrape over TLS with certificates they make
    python3 python3-aiosmtpd
    libssl-dev # the e-mail alert's STARTTLS and TLS
    qtkeychain-qt6-dev # the e-mail login's password in the desktop's secret store
    python3-cryptography # the throw-away certificate of the TLS mail server in the tests
    desktop-file-utils shared-mime-info
    # the window-stacking test: the real window under Xvfb with the openbox window manager,
    # and xprop to read the stacking order
    xvfb openbox x11-utils
    tint2 # a panel with a system tray, for the tray test under the window manager
    qt6-charts-dev libqt6opengl6-dev # the history chart of an entry (Qt Charts needs Qt OpenGL)
    # the Debian packages and their test: cpack's dependency scan, lintian, the AppStream check,
    # setcap/getcap for the maintainer scripts, man for the manual pages' check
    dpkg-dev file lintian appstream libcap2-bin man-db
)

source "$here/scripts/install-packages.sh"
install_packages "${packages[@]}"

werror=OFF
[ -n "${CI:-}" ] && werror=ON

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

echo "== Configuring in $build_dir"
cmake -S "$here" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPULSEWICK_WERROR="$werror" "${launcher[@]}" "$@"
echo "== Building"
cmake --build "$build_dir" --parallel "$(nproc)"
