#!/usr/bin/env bash
# Takes the screenshot of the main window that software centres show (the AppStream metadata's
# res/screenshots/main-window.png): the real program under Xvfb with the openbox window manager,
# showing a list whose entries on this machine's loopback it has just checked. Run it after a
# change to the main window and commit the PNG (then update the image's size in
# res/desktop/org.pulsewick.Pulsewick.metainfo.xml if it changed).
# Usage: res/take-screenshot.sh [BUILD_DIR]   (default: build; scripts/setup.sh builds it)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build_dir=$(cd "${1:-$here/../build}" && pwd)
source "$here/../scripts/install-packages.sh"
# import (ImageMagick) grabs the window with openbox's frame; xdotool finds it.
install_packages xvfb openbox imagemagick xdotool

work=$(mktemp -d)
pids=()
cleanup() { # the window first, the X server last
    local i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

# A fresh user: default window size, no tray preference, the default fonts and style.
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_STATE_HOME="$work/home/.local/state"
export XDG_RUNTIME_DIR="$work/run"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

# Entries that answer and one that does not, all on loopback: a TCP port this script listens on,
# and one it leaves closed.
python3 -c 'import socket,time
s=socket.socket(); s.bind(("127.0.0.1",0)); s.listen(); print(s.getsockname()[1], flush=True)
c=socket.socket(); c.bind(("127.0.0.1",0)); print(c.getsockname()[1], flush=True)
time.sleep(600)' >"$work/ports" &
pids+=($!)
while [ "$(wc -l <"$work/ports")" -lt 2 ]; do sleep 0.1; done
{ read -r open_port; read -r closed_port; } <"$work/ports"

cli="$build_dir/cli/pulsewick-cli"
list="$work/office.pwk"
"$cli" new "$list" >/dev/null
"$cli" add "$list" icmp 127.0.0.1 >/dev/null
"$cli" add "$list" icmp localhost >/dev/null
"$cli" add "$list" tcp 127.0.0.1 "$open_port" >/dev/null
"$cli" add "$list" tcp localhost "$closed_port" >/dev/null
"$cli" set "$list" period 5 >/dev/null

# Xvfb picks a free display and writes its number.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" &
pids+=($!)
while [ ! -s "$work/display" ]; do sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"
openbox --sm-disable &
pids+=($!)
sleep 1

"$build_dir/ui/pulsewick" "$list" &
pids+=($!)
window=$(xdotool search --sync --name "office.pwk")
sleep 5 # the splash picture shows for 3 seconds
xdotool windowactivate --sync "$window"
xdotool key --window "$window" alt+p # Ping Now: results, round trips, the reason of the failure
sleep 3
mkdir -p "$here/screenshots"
import -window "$window" -frame "$here/screenshots/main-window.png"
identify -format 'res/screenshots/main-window.png: %w x %h\n' "$here/screenshots/main-window.png"
