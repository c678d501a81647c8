#!/usr/bin/env bash
# Plants an angle-bracket include of a project header, an upward link and a
# simulator link to a layer it does not include in a scratch tree, and checks
# that the layering check names each of them and fails.
#
#   layering-planted.sh LAYERING
set -uo pipefail
layering=$1
tree=$(mktemp -d) || exit 1
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree/link" "$tree/config" "$tree/sim"
printf '#include <config/Controller.h>\n#include "link/Protocol.h"\n' > "$tree/link/Bad.cpp"
printf '#include "link/Protocol.h"\n' > "$tree/config/Ok.cpp"
printf '#include "link/Protocol.h"\n' > "$tree/sim/Sim.cpp"
printf 'tessol_library(tessol_link Bad.cpp)\ntarget_link_libraries(tessol_link PUBLIC tessol_config)\n' \
  > "$tree/link/CMakeLists.txt"
printf 'tessol_library(tessol_config Ok.cpp) # the layer above\n' > "$tree/config/CMakeLists.txt"
printf 'add_library(tessol_sim Sim.cpp)\ntarget_link_libraries(tessol_sim PUBLIC tessol_link tessol_config)\n' \
  > "$tree/sim/CMakeLists.txt"
out=$("$layering" "$tree")
rc=$?
echo "$out"
fail() { echo "FAILED: $*"; exit 1; }
[ "$rc" -eq 1 ] || fail "exit status $rc, not 1"
grep -qF 'link/Bad.cpp:1: includes <config/Controller.h> with angle brackets' <<<"$out" || fail "the angle-bracket include"
grep -qF 'link/CMakeLists.txt:2: tessol_link links tessol_config, but config lies above link' <<<"$out" \
  || fail "the upward link"
grep -qF 'sim/CMakeLists.txt:2: tessol_sim links tessol_config, but nothing in sim includes config' <<<"$out" \
  || fail "the simulator's link to a layer it does not include"
[ "$(grep -c ': ' <<<"$out")" -eq 3 ] || fail "more than the three planted faults named"
echo "all three planted faults named"
