#!/usr/bin/env bash
# Builds Kestrune.exe and starts it under Wine, relaying a test tone from a private PulseAudio
# input ("Monitor of TestSource") to its output ("RelayOut").
# With $DISPLAY set the window opens there and the relay runs until you close it; without one it
# runs on a private Xvfb for a while, saves a screenshot and says where.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/install-deps.sh
cmake --preset win64 >/dev/null
cmake --build --preset win64 --target Kestrune kestrune-probe

headless=1
if [ -n "${DISPLAY:-}" ]; then
  headless=0
  export TESTENV_KEEP_DISPLAY=1
fi
source scripts/lib/testenv.sh
testenv_start
trap 'kill ${tone_pid:-} 2>/dev/null || true; testenv_stop' EXIT

app="$TESTENV_DIR/app"
mkdir -p "$app"
cp build/win64/Kestrune.exe build/win64/tools/probe/kestrune-probe.exe "$app/"
cat >"$app/Kestrune.ini" <<'INI'
[Setting]
Source=Monitor of TestSource
Destination=RelayOut
Buffer=100
Volume=100
Auto=1
FadeIn=2
SilenceTime=5
RestoreTime=1
INI

# A tone that swells and fades, so the levels move; played into the input without end.
sox -q -n -r 44100 -c 2 -b 16 "$TESTENV_DIR/tone.wav" synth 4 sine 440 sine 660 tremolo 0.5 90
(while true; do pacat --device=test_src "$TESTENV_DIR/tone.wav" || exit 0; done) &
tone_pid=$!

cd "$app"
wine Kestrune.exe &
app_pid=$!
wine kestrune-probe.exe wait LabStatus Online 20000 >/dev/null 2>&1 && echo "Kestrune is relaying: status Online"

if [ "$headless" -eq 1 ]; then
  sleep 5
  shot="$root/build/kestrune-run.png"
  import -window root "$shot"
  echo "screenshot saved to $shot"
  kill "$app_pid" 2>/dev/null || true
else
  echo "close the window to end"
  wait "$app_pid" || true
fi
