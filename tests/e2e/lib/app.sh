# Shared by the end-to-end tests: runs inside the environment of scripts/lib/testenv.sh, with
# KESTRUNE_BUILD pointing at the win64 build directory.
set -euo pipefail
: "${KESTRUNE_BUILD:?set by scripts/test.sh}"
: "${TESTENV_DIR:?run inside scripts/lib/testenv.sh}"
source "$(dirname "${BASH_SOURCE[0]}")/../../../scripts/lib/testenv.sh"

fail() {
  echo "FAIL: $*"
  exit 1
}

# A fresh folder holding the program and the probe; prints its path.
app_dir() {
  local d
  d=$(mktemp -d "$TESTENV_DIR/app.XXXXXX")
  cp "$KESTRUNE_BUILD/Kestrune.exe" "$KESTRUNE_BUILD/tools/probe/kestrune-probe.exe" "$d/"
  echo "$d"
}

probe() {
  wine "$KESTRUNE_BUILD/tools/probe/kestrune-probe.exe" "$@" 2>/dev/null | tr -d '\r'
}

# Waits until the status label shows a text; fails the test after the timeout (ms).
wait_status() {
  local text=$1 timeout=${2:-20000}
  probe wait LabStatus "$text" "$timeout" >/dev/null || fail "status never became '$text' (it is '$(probe text LabStatus)')"
}

# Starts the program in a folder and waits until its status shows a text (timeout in ms).
start_app() {
  (cd "$1" && wine Kestrune.exe) &
  wait_status "$2" "$3"
}

# Ends every program of this prefix.
stop_all() {
  wineserver -k 2>/dev/null || true
  sleep 1
}

# RMS level in dBFS of a raw s16le stereo 44.1 kHz file.
rms_db() {
  sox -t raw -r 44100 -e signed -b 16 -c 2 "$1" -n stats 2>&1 | awk '/^RMS lev dB/ { print $4; exit }'
}
