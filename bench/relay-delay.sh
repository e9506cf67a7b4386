#!/usr/bin/env bash
# Measures the relay end to end under Wine with a private PulseAudio: the delay of a click train
# from the input device to the output device at Buffer 100 and 40, against PulseAudio's own
# module-loopback relaying the same devices with the same latency setting, and the CPU time the
# relay thread spends per second of audio. Prints a Markdown table.
#   bench/relay-delay.sh [seconds-per-case]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
secs=${1:-20}

cmake --preset win64 >/dev/null
cmake --build --preset win64 --target Kestrune kestrune-probe >/dev/null

source scripts/lib/testenv.sh
testenv_start
trap 'testenv_stop' EXIT
probe() { wine "$root/build/win64/tools/probe/kestrune-probe.exe" "$@" 2>/dev/null | tr -d '\r'; }

# 2 ms bursts once a second.
clicks="$TESTENV_DIR/clicks.wav"
sox -q -n -r 44100 -c 2 -b 16 "$clicks" synth 0.002 sine 2000 vol 0.5 pad 0 0.998 repeat $((secs + 10))

# Records both monitors for the given seconds and prints the median onset delay in ms.
measure_delay() {
  local n=$1
  timeout "$n" parec --device=test_src.monitor --format=s16le --rate=44100 --channels=2 \
    >"$TESTENV_DIR/in.raw" &
  local rec=$!
  timeout "$n" parec --device=relay_out.monitor --format=s16le --rate=44100 --channels=2 \
    >"$TESTENV_DIR/out.raw" || true
  wait "$rec" || true
  python3 tests/e2e/lib/click-delay.py "$TESTENV_DIR/in.raw" "$TESTENV_DIR/out.raw"
}

relay_cpu_ms() {  # CPU time of the relay thread so far, ms
  local pid t
  pid=$(pgrep -f 'Kestrune.exe' | head -1)
  for t in /proc/"$pid"/task/*; do
    if [ "$(cat "$t/comm")" = "kestrune-relay" ]; then
      awk -v hz="$(getconf CLK_TCK)" '{ print ($14 + $15) * 1000 / hz }' "$t/stat"
      return
    fi
  done
  echo 0
}

echo "| buffer | Kestrune delay (ms) | module-loopback delay (ms) | ratio | relay thread CPU (ms per s of audio) |"
echo "|---|---|---|---|---|"
for buffer in 100 40; do
  (while pacat --device=test_src "$clicks" 2>/dev/null; do :; done) &
  tone=$!
  app="$TESTENV_DIR/app$buffer"
  mkdir -p "$app"
  cp build/win64/Kestrune.exe "$app/"
  printf '[Setting]\nSource=Monitor of TestSource\nDestination=RelayOut\nBuffer=%s\nAuto=1\nFadeIn=0\nSilenceTime=0\n' \
    "$buffer" >"$app/Kestrune.ini"
  (cd "$app" && wine Kestrune.exe) &
  probe wait LabStatus Online 30000 >/dev/null
  sleep 5
  cpu0=$(relay_cpu_ms)
  t0=$(date +%s%N)
  read -r relay n1 < <(measure_delay "$secs")
  cpu1=$(relay_cpu_ms)
  t1=$(date +%s%N)
  cpu=$(awk -v c0="$cpu0" -v c1="$cpu1" -v t0="$t0" -v t1="$t1" 'BEGIN { printf "%.2f", (c1 - c0) / ((t1 - t0) / 1e9) }')
  wineserver -k
  sleep 1

  mod=$(pactl load-module module-loopback source=test_src.monitor sink=relay_out latency_msec="$buffer")
  sleep 3
  read -r loop n2 < <(measure_delay "$secs")
  pactl unload-module "$mod"
  kill "$tone" 2>/dev/null || true
  ratio=$(awk -v a="$relay" -v b="$loop" 'BEGIN { printf "%.2f", a / b }')
  echo "| $buffer ms | $relay ($n1 clicks) | $loop ($n2 clicks) | $ratio | $cpu |"
done
