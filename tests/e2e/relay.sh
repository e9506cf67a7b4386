# The relay end to end: a tone played into the input comes out of the output at the set volume;
# unplugging the input shows "WAIT" and plugging it back brings "Online" again; a stop with a
# fade-out ends in "STOP"; a click comes out about one buffer after it went in.
source "$(dirname "$0")/lib/app.sh"
source "$(dirname "$0")/lib/click-mix.sh"

tone_pid=""
cleanup() {
  [ -n "$tone_pid" ] && kill "$tone_pid" 2>/dev/null
  click_mix_stop
  stop_all
}
trap cleanup EXIT

start_tone() {
  (while pacat --device=test_src "$TESTENV_DIR/${1:-tone1k}.wav" 2>/dev/null; do :; done) &
  tone_pid=$!
}

stop_tone() {
  kill "$tone_pid" 2>/dev/null || true
  tone_pid=""
}

# Records both monitors for the given seconds into in.raw and out.raw (for their levels: the two
# recorders do not start together).
record_both() {
  timeout "$1" parec --latency-msec=10 --device=test_src.monitor --format=s16le --rate=44100 --channels=2 >"$TESTENV_DIR/in.raw" &
  local rec=$!
  timeout "$1" parec --latency-msec=10 --device=relay_out.monitor --format=s16le --rate=44100 --channels=2 >"$TESTENV_DIR/out.raw" || true
  wait "$rec" || true
}

sox -q -n -r 44100 -c 2 -b 16 "$TESTENV_DIR/tone1k.wav" synth 5 sine 1000 vol 0.1
start_tone

a=$(app_dir)
cat >"$a/Kestrune.ini" <<'INI'
[Setting]
Source=Monitor of TestSource
Destination=RelayOut
Buffer=100
Volume=150
Auto=1
FadeIn=0.5
FadeOut=2
SilenceTime=0
INI
start_app "$a" Online 30000
echo "ok online"
sleep 2  # fade-in done, stabilizer settled

record_both 3
in_db=$(rms_db "$TESTENV_DIR/in.raw")
out_db=$(rms_db "$TESTENV_DIR/out.raw")
gain=$(awk -v a="$out_db" -v b="$in_db" 'BEGIN { printf "%.2f", a - b }')
echo "measured input $in_db dBFS, output $out_db dBFS, gain $gain dB (volume 150: +3.52 dB)"
awk -v g="$gain" 'BEGIN { exit !(g > 3.0 && g < 4.0) }' || fail "gain $gain dB"
echo "ok gain"

# Unplug the input: the relay notices that nothing comes and waits for the device.
pactl unload-module "$(testenv_sink_module test_src)"
wait_status WAIT 6000
echo "ok unplugged input shows WAIT"
sleep 2
[ "$(probe windows | wc -l)" -eq 1 ] || fail "the program ended"

pactl load-module module-null-sink sink_name=test_src sink_properties=device.description=TestSource >/dev/null
start_tone
t0=$(date +%s%N)
wait_status Online 10000
t1=$(date +%s%N)
back_ms=$(((t1 - t0) / 1000000))
echo "measured back online $back_ms ms after the input returned"
[ "$back_ms" -le 3000 ] || fail "took $back_ms ms to come back"
echo "ok replugged input comes back online"

# Stop with a 2 s fade-out.
sleep 1
t0=$(date +%s%N)
probe click SBStop >/dev/null
wait_status STOP 8000
t1=$(date +%s%N)
stop_ms=$(((t1 - t0) / 1000000))
echo "measured stop took $stop_ms ms with FadeOut 2"
[ "$stop_ms" -ge 1500 ] || fail "stopped after $stop_ms ms, before the fade ended"
echo "ok stop with fade-out"

# The delay, on one time line (tests/e2e/lib/click-mix.sh), in a fresh program between the two
# halves of the click sink: once the stabilizer has brought the queue to its target, each click
# comes out about one buffer (100 ms) later. Wine's output starts late, so the queue may begin
# near its limit.
stop_all
click_mix_load
click_mix_play
start_app "$(click_mix_app)" Online 30000
for _ in $(seq 1 60); do
  [ "$(probe value GBuffer)" -le 120 ] 2>/dev/null && break
  sleep 0.5
done
echo "measured queue $(probe value GBuffer) ms before the delay measurement"
click_mix_start_recorder
sleep 6
click_mix_stop_recorder
read -r delay clicks < <(click_mix_delay)
echo "measured delay $delay ms over $clicks clicks (buffer 100 ms)"
[ "$clicks" -ge 3 ] || fail "clicks not found in the output"
awk -v d="$delay" 'BEGIN { exit !(d > 20 && d < 200) }' || fail "delay $delay ms"
echo "ok delay"
