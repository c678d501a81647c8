#!/usr/bin/env bash
# Installs what is missing, builds, starts the simulator with two units on a
# pseudo-terminal and shows tessolctl reading live values from them.
set -euo pipefail
cd "$(dirname "$0")"
./install-deps.sh
./build.sh

link="${TMPDIR:-/tmp}/tessol-demo-com2"
build/bin/tqk5820-sim --link "$link" --units 1,2 --line-rate &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
export TESSOL_COM2="$link"

ctl() { echo "\$ tessolctl $*"; build/bin/tessolctl "$@" || true; }
ctl scan --units 1-3
ctl --unit 1 write-text 51 +000.001 # output on
ctl --unit 1 write 3 30            # set point 30 degrees
for _ in 1 2 3; do
  ctl --unit 1 read 1              # actual temperature
  ctl --unit 1 read 5              # TE current
  sleep 1
done
ctl --unit 2 read 55               # serial number
ctl --unit 2 read 99               # refused by the instrument
