#!/usr/bin/env bash
# Installs what is missing, builds, starts the simulator with two units on
# a pseudo-terminal that the program sees as COM2, and starts the program.
# Open a controller with File, New, "Temperature Controller".
#
# Without a display the program runs under Xvfb for a few seconds with two
# controller windows and leaves a picture of them in build/demo.png.
set -euo pipefail
cd "$(dirname "$0")"
./install-deps.sh
./build.sh

# A folder of this run's own, so that two demos on one machine do not meet.
demo="$(mktemp -d "${TMPDIR:-/tmp}/tessol-demo.XXXXXX")"
link="$demo/com2"
build/bin/tqk5820-sim --link "$link" --units 1,2 --line-rate < /dev/null &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null || true; rm -rf "$demo"' EXIT
for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
export TESSOL_COM2="$link"

echo "\$ tessolctl scan --units 1-2"
build/bin/tessolctl scan --units 1-2 || true
echo "\$ tessolctl --unit 1 status"
build/bin/tessolctl --unit 1 status || true

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  build/bin/tessol
else
  echo "No display: running the program under Xvfb with two controller windows."
  xvfb-run -a -s "-screen 0 1280x1024x24" build/bin/tessol_screenshot build/demo.png --windows 2 --seconds 8
  echo "Picture of the main window: build/demo.png"
fi
