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
source tests/e2e/lib/click-mix.sh
trap 'click_mix_stop; testenv_stop' EXIT
probe() { wine "$root/build/win64/tools/probe/kestrune-probe.exe" "$@" 2>/dev/null | tr -d '\r'; }

# The relays run from ClickIn to ClickOut, recorded on one time line (tests/e2e/lib/click-mix.sh).
click_mix_load

# Records input and output for the given seconds and prints the median onset delay in ms.
measure_delay() {
  click_mix_start_recorder
  sleep "$1"
  click_mix_stop_recorder
  click_mix_delay
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
  click_mix_play
  app="$TESTENV_DIR/app$buffer"
  mkdir -p "$app"
  cp build/win64/Kestrune.exe "$app/"
  printf '[Setting]\nSource=Monitor of ClickIn\nDestination=ClickOut\nBuffer=%s\nAuto=1\nFadeIn=0\nSilenceTime=0\n' \
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

  mod=$(pactl load-module module-loopback source=click_in.monitor sink=click_out latency_msec="$buffer")
  sleep 3
  read -r loop n2 < <(measure_delay "$secs")
  pactl unload-module "$mod"
  click_mix_stop
  ratio=$(awk -v a="$relay" -v b="$loop" 'BEGIN { printf "%.2f", a / b }')
  echo "| $buffer ms | $relay ($n1 clicks) | $loop ($n2 clicks) | $ratio | $cpu |"
done
