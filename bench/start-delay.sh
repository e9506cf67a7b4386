# The start at the target delay, in both stabilizer modes: a click train plays into the input
# from before the start; the delay from input to output measured 3 s after "Online" is within
# 10 % of the delay once the relay has settled. Wine's output starts late, so without the start
# trim the audio that piled up meanwhile would stay in the queue for many seconds.
# Run it as: bench/start-delay.sh (after a win64 build); KESTRUNE_START_MODES="0" or "1" for one
# mode. Not part of the test run: on a busy machine Wine's output stalls now and then, and the
# delay it adds or takes away behind the program's queue moves the delay by more than the 10 %
# it checks (docs/benchmarks.md).
if [ -z "${TESTENV_DIR:-}" ]; then
  script=$(readlink -f "$0")
  cd "$(dirname "$script")/.."
  export KESTRUNE_BUILD="${KESTRUNE_BUILD:-$PWD/build/win64}"
  source scripts/lib/testenv.sh
  testenv_start
  trap testenv_stop EXIT
  bash "$script" "$@"
  exit
fi
source "$(dirname "$0")/../tests/e2e/lib/app.sh"

tone_pid=""
cleanup() {
  [ -n "$tone_pid" ] && kill "$tone_pid" 2>/dev/null
  stop_all
}
trap cleanup EXIT

# Records both monitors for the given seconds into in.raw and out.raw. The recorders and the
# click player ask for 10 ms of latency: with PulseAudio's much larger default the two
# recordings start tens of milliseconds apart, by a different amount each time.
record_both() {
  timeout "$1" parec --latency-msec=10 --device=test_src.monitor --format=s16le --rate=44100 --channels=2 >"$TESTENV_DIR/in.raw" &
  local rec=$!
  timeout "$1" parec --latency-msec=10 --device=relay_out.monitor --format=s16le --rate=44100 --channels=2 >"$TESTENV_DIR/out.raw" || true
  wait "$rec" || true
}

click_delay() {
  python3 "$(dirname "$0")/../tests/e2e/lib/click-delay.py" "$TESTENV_DIR/in.raw" "$TESTENV_DIR/out.raw"
}

sox -q -n -r 44100 -c 2 -b 16 "$TESTENV_DIR/clicks.wav" synth 0.002 sine 2000 vol 0.5 pad 0 0.998 repeat 9
(while pacat --latency-msec=10 --device=test_src "$TESTENV_DIR/clicks.wav" 2>/dev/null; do :; done) &
tone_pid=$!

for mode in ${KESTRUNE_START_MODES:-0 1}; do
  name=$([ "$mode" = 1 ] && echo smooth || echo block)
  a=$(app_dir)
  cat >"$a/Kestrune.ini" <<INI
[Setting]
Source=Monitor of TestSource
Destination=RelayOut
Buffer=100
Auto=1
FadeIn=0.5
SilenceTime=0
StabMode=$mode
INI
  (cd "$a" && wine Kestrune.exe) &
  wait_status Online 30000
  t0=$(date +%s%N)
  # 3 s after "Online": a 3 s recording centred there.
  sleep 1.5
  record_both 3
  read -r early clicks < <(click_delay)
  t1=$(date +%s%N)
  echo "measured $name: delay $early ms over $clicks clicks, $(((t1 - t0) / 1000000)) ms after Online (recorded from 1.5 s)"
  [ "$clicks" -ge 2 ] || fail "$name: clicks not found in the output"
  sleep 15
  record_both 5
  read -r settled clicks < <(click_delay)
  echo "measured $name: delay $settled ms once settled (about 20 s after Online), $clicks clicks"
  [ "$clicks" -ge 3 ] || fail "$name: clicks not found in the output once settled"
  awk -v e="$early" -v s="$settled" 'BEGIN { d = e - s; if (d < 0) d = -d; exit !(s > 0 && d <= 0.1 * s) }' ||
    fail "$name: delay $early ms 3 s after Online, $settled ms once settled"
  echo "ok $name: starts at the target delay"
  stop_all
done
