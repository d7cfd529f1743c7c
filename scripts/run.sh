#!/usr/bin/env bash
# Sets up (packages, build) and runs Pulsewick: the window where a display is available,
# otherwise the headless companion showing the bundled example list.
# Extra arguments are passed to the program (for the window: a list file to load).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir="$here/build"
"$here/scripts/setup.sh" "$build_dir"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$build_dir/ui/pulsewick" ]; then
    exec "$build_dir/ui/pulsewick" "$@"
fi
exec "$build_dir/cli/pulsewick-cli" show "${1:-$here/res/example.pwk}"
