# The plug-in chain end to end: the gain plug-in named in the INI takes 6 dB off a relayed tone,
# and a plug-in that faults between two others leaves the relay online with the others working.
source "$(dirname "$0")/lib/app.sh"

tone_pid=""
cleanup() {
  [ -n "$tone_pid" ] && kill "$tone_pid" 2>/dev/null
  stop_all
}
trap cleanup EXIT

sox -q -n -r 44100 -c 2 -b 16 "$TESTENV_DIR/tone1k.wav" synth 5 sine 1000 vol 0.2
(while pacat --device=test_src "$TESTENV_DIR/tone1k.wav" 2>/dev/null; do :; done) &
tone_pid=$!

# The RMS level of the loudest quarter second of a recording: a short gap in the output on a busy
# machine lowers the whole recording's level, not this one.
loudest_db() {
  local s best=-200 l
  for s in $(seq 0 0.25 2.5); do
    l=$(sox -t raw -r 44100 -e signed -b 16 -c 2 "$1" -n trim "$s" 0.25 stats 2>&1 |
      awk '/^RMS lev dB/ { print $4; exit }')
    [[ "$l" =~ ^-?[0-9.]+$ ]] || continue
    best=$(awk -v a="$best" -v b="$l" 'BEGIN { print (b + 0 > a + 0) ? b : a }')
  done
  echo "$best"
}

# Relays with the given plug-ins for a while and sets gain to the gain from input to output, dB.
relay_gain() {
  local a files="" n=1 p
  a=$(app_dir)
  mkdir -p "$a/plugins"
  cp "$KESTRUNE_BUILD"/tools/plugins/dsp_*.dll "$a/plugins/"
  # A second copy of the gain plug-in: each file loads once.
  cp "$a/plugins/dsp_gain.dll" "$a/plugins/dsp_gain2.dll"
  for p in "$@"; do
    files+="File$n=$p"$'\n'
    n=$((n + 1))
  done
  cat >"$a/Kestrune.ini" <<INI
[Setting]
Source=Monitor of TestSource
Destination=RelayOut
Buffer=100
Auto=1
FadeIn=0
SilenceTime=0
[Plugins]
Path=$(winepath -w "$a/plugins")
$files
INI
  start_app "$a" Online 30000
  sleep 3
  timeout 3 parec --device=test_src.monitor --format=s16le --rate=44100 --channels=2 >"$TESTENV_DIR/in.raw" &
  local rec=$!
  timeout 3 parec --device=relay_out.monitor --format=s16le --rate=44100 --channels=2 >"$TESTENV_DIR/out.raw" || true
  wait "$rec" || true
  [ "$(probe text LabStatus)" = Online ] || fail "status $(probe text LabStatus) with $*"
  gain=$(awk -v a="$(loudest_db "$TESTENV_DIR/out.raw")" -v b="$(loudest_db "$TESTENV_DIR/in.raw")" \
    'BEGIN { printf "%.2f", a - b }')
  stop_all
}

relay_gain dsp_gain.dll
echo "measured gain with the gain plug-in: $gain dB"
awk -v g="$gain" 'BEGIN { exit !(g > -6.5 && g < -5.5) }' || fail "gain $gain dB, expected -6"
echo "ok gain plug-in takes 6 dB off"

relay_gain dsp_gain.dll dsp_fault.dll dsp_gain2.dll
echo "measured gain with gain, faulting, gain: $gain dB"
awk -v g="$gain" 'BEGIN { exit !(g > -12.5 && g < -11.5) }' || fail "gain $gain dB, expected -12"
echo "ok a faulting plug-in drops out, the relay stays online and the others work"
