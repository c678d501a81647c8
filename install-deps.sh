#!/usr/bin/env bash
# Installs what building, testing and the demo need on a Debian machine, and
# nothing when it is all there already.
set -euo pipefail

packages=(build-essential cmake pkg-config libgtest-dev libgmock-dev qt6-base-dev qt6-charts-dev libgl-dev ser2net
          xvfb xauth imagemagick mosquitto mosquitto-clients libmosquitto-dev
          libmicrohttpd-dev prometheus
          g++-mingw-w64-x86-64-posix wine wine64 dpkg-dev file desktop-file-utils)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}"
fi
