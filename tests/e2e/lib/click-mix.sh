# Measures a relay's delay on one time line; sourced by tests and benchmarks that run inside
# scripts/lib/testenv.sh. The relay runs between two sinks of its own that are the two halves of
# one four-channel null sink: clicks are played into ClickIn, the program records its monitor
# ("Monitor of ClickIn") and plays into ClickOut, and one recording of the four-channel sink's
# monitor holds the input (channels 1-2) and the output (3-4) on one time line. Two recorders,
# one per monitor, start tens to hundreds of milliseconds apart, by a different amount every
# time, which moves every delay measured. The channels are auxiliary ones, which PulseAudio does
# not mix into each other.

click_mix_rec=""
click_mix_player=""

# Loads the sinks and writes the click train (a 2 ms click a second, ten in all, looped).
click_mix_load() {
  local half
  pactl load-module module-null-sink sink_name=click_mix channels=4 \
    channel_map=aux0,aux1,aux2,aux3 sink_properties=device.description=ClickMix >/dev/null
  for half in "click_in ClickIn aux0,aux1" "click_out ClickOut aux2,aux3"; do
    set -- $half
    pactl load-module module-remap-sink sink_name="$1" master=click_mix channels=2 \
      master_channel_map="$3" channel_map=front-left,front-right remix=no \
      sink_properties=device.description="$2" >/dev/null
  done
  sox -q -n -r 44100 -c 2 -b 16 "$TESTENV_DIR/clicks.wav" synth 0.002 sine 2000 vol 0.5 \
    pad 0 0.998 repeat 9
}

# A fresh folder holding the program (app_dir) set to relay from ClickIn to ClickOut with a buffer
# of 100 ms, in stabilizer mode MODE (0 whole frames, the default; 1 smooth); prints its path.
click_mix_app() {
  local a
  a=$(app_dir)
  printf '%s\n' "[Setting]" "Source=Monitor of ClickIn" "Destination=ClickOut" "Buffer=100" \
    "Auto=1" "FadeIn=0.5" "SilenceTime=0" "StabMode=${1:-0}" >"$a/Kestrune.ini"
  echo "$a"
}

# Plays the click train into ClickIn until click_mix_stop.
click_mix_play() {
  (while pacat --latency-msec=10 --device=click_in "$TESTENV_DIR/clicks.wav" 2>/dev/null; do :; done) &
  click_mix_player=$!
}

click_mix_start_recorder() {
  parec --latency-msec=10 --device=click_mix.monitor --format=s16le --rate=44100 --channels=4 \
    --channel-map=aux0,aux1,aux2,aux3 >"$TESTENV_DIR/mix.raw" &
  click_mix_rec=$!
}

# Ends the recording and splits it into in.raw and out.raw (stereo each).
click_mix_stop_recorder() {
  local half
  [ -n "$click_mix_rec" ] || return 0
  kill "$click_mix_rec" 2>/dev/null
  wait "$click_mix_rec" 2>/dev/null
  click_mix_rec=""
  for half in "in 1 2" "out 3 4"; do
    set -- $half
    sox -t raw -r 44100 -e signed -b 16 -c 4 "$TESTENV_DIR/mix.raw" -t raw "$TESTENV_DIR/$1.raw" \
      remix "$2" "$3"
  done
}

# The median delay of the input's clicks in ms and the clicks matched; with FROM and TO, only
# the input's clicks from FROM to TO seconds into the recording count.
click_mix_delay() {
  python3 "$(dirname "${BASH_SOURCE[0]}")/click-delay.py" "$TESTENV_DIR/in.raw" \
    "$TESTENV_DIR/out.raw" "$@"
}

# Stops the player and the recorder.
click_mix_stop() {
  [ -n "$click_mix_player" ] && kill "$click_mix_player" 2>/dev/null
  click_mix_player=""
  [ -n "$click_mix_rec" ] && kill "$click_mix_rec" 2>/dev/null
  click_mix_rec=""
  return 0
}
