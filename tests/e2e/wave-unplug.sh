#!/usr/bin/env bash
# Removes the RelayOut sink while the wave test plays to it and records its monitor, then loads
# it again: the devices must stop without a failure or a hang, and open and play once it is back.
# Usage: tests/e2e/wave-unplug.sh [path to win_wave.exe]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
exe=${1:-$root/build/win64/tests/win_wave.exe}
source "$root/scripts/lib/testenv.sh"

test_pid=""
cleanup() {
  [ -n "$test_pid" ] && kill "$test_pid" 2>/dev/null || true
  testenv_stop
}
trap cleanup EXIT

testenv_start
stage="$TESTENV_DIR/stage"
: >"$stage"
export KESTRUNE_UNPLUG_STAGE="Z:${stage//\//\\}"

wait_stage() {
  local i
  for i in $(seq 1 300); do
    # The test writes with Windows line ends.
    [ "$(head -n1 "$stage" 2>/dev/null | tr -d "\r")" = "$1" ] && return 0
    kill -0 "$test_pid" 2>/dev/null || { echo "test ended before '$1'" >&2; return 1; }
    sleep 0.1
  done
  echo "timed out waiting for '$1'" >&2
  return 1
}

wine "$exe" --gtest_filter='WinmmWave.AnUnplugged*' >"$TESTENV_DIR/test.log" 2>&1 &
test_pid=$!

status=0
if wait_stage recording; then
  pactl unload-module "$(testenv_sink_module relay_out)"
  echo unplugged >"$stage"
  if wait_stage stalled; then
    pactl load-module module-null-sink sink_name=relay_out \
      sink_properties=device.description=RelayOut >/dev/null
    echo plugged >"$stage"
  else
    status=1
  fi
else
  status=1
fi

wait "$test_pid" || status=1
test_pid=""
cat "$TESTENV_DIR/test.log"
grep -q '^\[  PASSED  \] 1 test' "$TESTENV_DIR/test.log" || status=1
exit $status
