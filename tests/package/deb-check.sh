#!/usr/bin/env bash
# Builds the Debian package with CPack, unpacks it into a scratch root and
# runs the programs from there, as a user who installed it would.
#
#   deb-check.sh CPACK BUILD_DIR VERSION
#
# CPack installs through the build tree's install rules, so the build must be
# complete (it is after ./build.sh).
set -uo pipefail

cpack=$1
build=$2
version=$3

fail() { echo "FAILED: $*"; exit 1; }

scratch=$(mktemp -d "$build/deb-check.XXXXXX") || fail "no scratch folder in $build"
trap 'rm -rf "$scratch"' EXIT

"$cpack" --config "$build/CPackConfig.cmake" -B "$scratch" > "$scratch/cpack.log" 2>&1 \
  || { cat "$scratch/cpack.log"; fail "cpack"; }
deb=$scratch/tessol_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || { cat "$scratch/cpack.log"; ls "$scratch"; fail "no $(basename "$deb")"; }

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = tessol ] || fail "package name $(field Package)"
[ "$(field Version)" = "$version" ] || fail "package version $(field Version), not $version"
[ "$(field Maintainer)" = "Tessol developers" ] || fail "maintainer $(field Maintainer)"
# What dpkg-shlibdeps found: the window program's Qt and the C++ runtime.
for dep in libqt6widgets6 libqt6charts6 libstdc++6; do
  [[ $(field Depends) == *"$dep"* ]] || fail "Depends lacks $dep: $(field Depends)"
done

root=$scratch/root
dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x"

# The three programs and nothing else: no test, benchmark, gallery or
# screenshot tool.
programs=$(cd "$root/usr/bin" && ls | tr '\n' ' ')
[ "$programs" = "tessol tessolctl tqk5820-sim " ] || fail "usr/bin holds: $programs"
for f in usr/share/applications/tessol.desktop usr/share/icons/hicolor/scalable/apps/tessol.svg; do
  [ -f "$root/$f" ] || fail "no $f"
done
if command -v desktop-file-validate > /dev/null; then
  desktop-file-validate "$root/usr/share/applications/tessol.desktop" || fail "desktop entry"
fi

# The system's libraries are found without help; no path into the build.
for p in "$root"/usr/bin/*; do
  if readelf -d "$p" | grep -E 'R(UN)?PATH'; then
    fail "$(basename "$p") carries a library path"
  fi
done

run() {
  local out rc
  out=$(env -u LD_LIBRARY_PATH -u DISPLAY -u WAYLAND_DISPLAY "$@" 2>&1)
  rc=$?
  [ $rc -eq 0 ] || { echo "$out"; fail "$* exits with $rc"; }
  printf '%s\n' "$out"
}
bin=$root/usr/bin
run "$bin/tessolctl" --help | grep '^usage: tessolctl' > /dev/null || fail "tessolctl --help"
[ "$(run "$bin/tessolctl" --version)" = "tessolctl (Tessol) $version" ] || fail "tessolctl --version: $(run "$bin/tessolctl" --version)"
[ "$(run "$bin/tessol" --version)" = "Tessol $version" ] || fail "tessol --version: $(run "$bin/tessol" --version)"
run "$bin/tqk5820-sim" --help | grep '^usage: tqk5820-sim' > /dev/null || fail "tqk5820-sim --help"
echo "$(basename "$deb") installs and runs"
