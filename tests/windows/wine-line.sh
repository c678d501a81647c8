#!/usr/bin/env bash
# Runs the Windows build under Wine against tqk5820-sim: the simulator serves
# units 1 and 2 on a pseudo-terminal that Wine's COM2 leads to.
#
#   wine-line.sh WINDOWS_BUILD SIM CHECK
#
# CHECK is setup (the Wine prefix, made once in WINDOWS_BUILD/wine, and the
# simulator), cleanup, or one of the checks below. Exit 77 (skipped) when
# the Windows build or Wine is not there.
set -uo pipefail

build=$1
sim=$2
check=$3
state=$build/wine
line=$state/line
control=$state/control
export WINEPREFIX=$state/prefix
export WINEDEBUG=-all
# No Mono or Gecko installer, and no window: nothing may wait for a click.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

tessolctl=$build/bin/tessolctl.exe
tests=$build/bin/test_windows.exe

skip() { echo "skipped: $*"; exit 77; }
fail() { echo "FAILED: $*"; exit 1; }
[ -x "$tessolctl" ] && [ -f "$tests" ] || skip "no Windows build in $build (./build-windows.sh makes it)"
command -v wine > /dev/null && command -v wineserver > /dev/null || skip "Wine is not installed"

# Waits until the command succeeds, at most $1 tenths of a second.
wait_for() {
  local tenths=$1; shift
  for ((i = 0; i < tenths; i++)); do
    "$@" && return 0
    sleep 0.1
  done
  "$@"
}

start_sim() {
  [ -p "$control" ] || mkfifo "$control"
  # Read-write on the control pipe: the simulator never sees its end, and
  # each check can write a line to it. Nothing of it stays tied to ctest.
  setsid "$sim" --link "$line" --units 1,2 --line-rate <> "$control" > "$state/sim.log" 2>&1 &
  echo $! > "$state/sim.pid"
  wait_for 50 grep -q serving "$state/sim.log" || fail "the simulator did not start: $(cat "$state/sim.log")"
}

stop_sim() {
  if [ -f "$state/sim.pid" ]; then
    local pid
    pid=$(cat "$state/sim.pid")
    kill "$pid" 2> /dev/null && wait_for 50 bash -c "! kill -0 $pid 2> /dev/null"
    rm -f "$state/sim.pid"
  fi
}

# Sends a control line to the simulator and waits for its answer.
sim_says() {
  local before
  before=$(grep -c . "$state/sim.log")
  echo "$*" > "$control"
  wait_for 30 bash -c "[ \$(grep -c . '$state/sim.log') -gt $before ]"
}

# Runs a Windows program; its output in $out and $err, its exit code in $rc.
run() {
  "$@" > "$state/stdout" 2> "$state/stderr"
  rc=$?
  out=$(tr -d '\r' < "$state/stdout")
  err=$(tr -d '\r' < "$state/stderr")
}

ctl() { run wine "$tessolctl" --port COM2 "$@"; }

expect() {   # expect WHAT ACTUAL EXPECTED
  [ "$2" = "$3" ] || fail "$1: got [$2], expected [$3]"
}

expect_in() {   # expect_in WHAT TEXT PART
  [[ "$2" == *"$3"* ]] || fail "$1: [$3] not in [$2]"
}

case $check in
setup)
  mkdir -p "$state"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    start=$(date +%s%N)
    wineboot -i > "$state/wineboot.log" 2>&1
    wine reg add 'HKLM\Software\Wine\Ports' /v COM2 /t REG_SZ /d "$line" /f >> "$state/wineboot.log" 2>&1 \
      || fail "cannot map COM2: $(cat "$state/wineboot.log")"
    # The port mapping takes effect when the server starts again.
    wineserver -k
    wineserver -w
    echo "Wine prefix made in $((($(date +%s%N) - start) / 1000000)) ms"
  fi
  stop_sim
  start_sim
  # One server for all the checks, and Wine's own background processes
  # started now with their output in a file: started by a check, they
  # would hold its output open (and ctest waiting) for as long as they run.
  wineserver -p60 > "$state/wineserver.log" 2>&1 < /dev/null
  wineboot > "$state/wine-start.log" 2>&1 < /dev/null
  ;;
cleanup)
  stop_sim
  wineserver -k 2> /dev/null
  exit 0
  ;;
test_windows)
  TESSOL_TEST_PORT=COM2 run wine "$tests"
  echo "$out"
  echo "$err"
  exit "$rc"
  ;;
read)
  ctl --unit 1 read 56
  expect "read 56, exit code" "$rc" 0
  expect "read 56" "$out" "+001.300"
  ;;
write)
  ctl --unit 1 write 3 21.5
  expect "write 3 21.5, exit code" "$rc" 0
  expect "write 3 21.5" "$out" "+021.500"
  ctl --unit 1 read 3
  expect "read 3 after the write" "$out" "+021.500"
  ctl --unit 1 write 3 25
  expect "write 3 25" "$out" "+025.000"
  ;;
scan)
  ctl scan --units 1-3
  expect "scan, exit code" "$rc" 0
  expect "scan" "$out" $'unit 01  serial  CALLKV   firmware +001.300  sensor Thermistor T mode\nunit 02  serial  CALLKV   firmware +001.300  sensor Thermistor T mode'
  expect_in "scan, stderr" "$err" "2 unit(s) answered"
  ;;
status)
  ctl --unit 1 status
  echo "$out"
  expect "status, exit code" "$rc" 0
  expect_in "status" "$out" $'unit           01\nport           COM2\nfirmware       1.3\nserial number  CALLKV\nsensor type    Thermistor T mode'
  expect_in "status" "$out" "set point      25.000"
  ;;
switched-off)
  sim_says off 2 || fail "the simulator did not take 'off 2'"
  ctl --unit 2 read 56
  sim_says on 2
  echo "$err"
  expect "a unit switched off, exit code" "$rc" 1
  expect "a unit switched off" "$err" \
    "ERROR - Unit #02 Command 1-56, returned End Code 98. (no reply in time)"
  ;;
missing-port)
  run wine "$tessolctl" --port COM3 read 56
  echo "$err"
  expect "COM3, exit code" "$rc" 3
  expect "COM3" "$err" "ERROR - COM3 Port Open failed : OS Error = 2 (COM3: No such device)"
  ;;
lost-and-back)
  # watch goes on while its line goes away (the simulator ends, its
  # pseudo-terminal with it) and comes back (a new one at the same path).
  wine "$tessolctl" --port COM2 --unit 1 watch --count 60 > "$state/watch.out" 2> "$state/watch.err" &
  watcher=$!
  trap 'kill $watcher 2> /dev/null' EXIT
  wait_for 100 bash -c "[ \$(grep -c '^20' '$state/watch.out') -ge 2 ]" || fail "watch wrote no rows"
  stop_sim
  wait_for 50 grep -q '???' "$state/watch.out" || fail "no gap while the line was away"
  start_sim
  # A row with readings after the gap.
  back() { tr -d '\r' < "$state/watch.out" | sed -n '/???/,$p' | grep -q '^20[^?]*,off,[0-9.]*$'; }
  wait_for 200 back
  ok=$?
  kill "$watcher" 2> /dev/null
  tr -d '\r' < "$state/watch.out"
  [ $ok -eq 0 ] || fail "the line did not come back"
  ;;
network)
  # Winsock: the same simulated line through ser2net on loopback ports, raw
  # and RFC 2217, and a port where nothing listens.
  ser2net=$(command -v ser2net || echo /usr/sbin/ser2net)
  [ -x "$ser2net" ] || skip "ser2net is not installed"
  free_port() {
    local p
    for ((p = 20000 + RANDOM % 20000; ; p++)); do
      (exec 3<> "/dev/tcp/127.0.0.1/$p") 2> /dev/null || { echo "$p"; return; }
    done
  }
  raw=$(free_port)
  telnet=$((raw + 1))
  cat > "$state/ser2net.yaml" <<YAML
connection: &raw
  accepter: tcp,127.0.0.1,$raw
  connector: serialdev,$line,19200n81,local
connection: &rfc2217
  accepter: telnet(rfc2217),tcp,127.0.0.1,$telnet
  connector: serialdev,$line,19200n81,local
YAML
  setsid "$ser2net" -n -u -c "$state/ser2net.yaml" -P "$state/ser2net.pid" < /dev/null > "$state/ser2net.log" 2>&1 &
  server=$!
  trap 'kill $server 2> /dev/null' EXIT
  wait_for 50 bash -c "(exec 3<> /dev/tcp/127.0.0.1/$telnet) 2> /dev/null" || fail "ser2net does not listen"
  run wine "$tessolctl" --device "socket://127.0.0.1:$raw" --unit 1 read 56
  expect "socket://, exit code ($err)" "$rc" 0
  expect "socket://" "$out" "+001.300"
  # ser2net takes a moment to let go of the line for the other accepter.
  wait_for 30 run wine "$tessolctl" --device "rfc2217://127.0.0.1:$telnet" --unit 2 write 3 24.5
  expect "rfc2217://, exit code ($err)" "$rc" 0
  expect "rfc2217://" "$out" "+024.500"
  wait_for 30 run wine "$tessolctl" --device "rfc2217://127.0.0.1:$telnet" --unit 2 write 3 25
  run wine "$tessolctl" --device "socket://127.0.0.1:$((telnet + 100))" read 56
  echo "$err"
  expect "nothing listening, exit code" "$rc" 3
  expect_in "nothing listening" "$err" "ERROR - socket://127.0.0.1:$((telnet + 100)) Port Open failed : OS Error = 10061"
  ;;
*)
  echo "unknown check $check" >&2
  exit 2
  ;;
esac
exit 0
