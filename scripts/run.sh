#!/usr/bin/env bash
# Sets up (packages, build) and runs Pulsewick: the window where a display is available,
# otherwise the headless companion monitoring the bundled example list (or the list given) until
# Ctrl-C, with its metrics on 127.0.0.1 at a free port it names.
# Extra arguments are passed to the program (for the window: a list file to load).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir="$here/build"
"$here/scripts/setup.sh" "$build_dir"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$build_dir/ui/pulsewick" ]; then
    exec "$build_dir/ui/pulsewick" "$@"
fi
list=${1:-$here/res/example.pwk}
echo "No display: monitoring $list headless (a pass now, then every period; one line per event). Press Ctrl-C to stop."
exec "$build_dir/cli/pulsewick-cli" monitor --metrics 127.0.0.1:0 "$list"
