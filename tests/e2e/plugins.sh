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

# Relays with the given plug-ins for a while and prints the gain from input to output in dB.
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
  (cd "$a" && wine Kestrune.exe) &
  wait_status Online 30000
  sleep 3
  timeout 3 parec --device=test_src.monitor --format=s16le --rate=44100 --channels=2 >"$TESTENV_DIR/in.raw" &
  timeout 3 parec --device=relay_out.monitor --format=s16le --rate=44100 --channels=2 >"$TESTENV_DIR/out.raw" || true
  wait %2 2>/dev/null || true
  [ "$(probe text LabStatus)" = Online ] || fail "status $(probe text LabStatus) with $*"
  awk -v a="$(rms_db "$TESTENV_DIR/out.raw")" -v b="$(rms_db "$TESTENV_DIR/in.raw")" \
    'BEGIN { printf "%.2f", a - b }'
  stop_all
}

g=$(relay_gain dsp_gain.dll)
echo "measured gain with the gain plug-in: $g dB"
awk -v g="$g" 'BEGIN { exit !(g > -6.3 && g < -5.7) }' || fail "gain $g dB, expected -6"
echo "ok gain plug-in takes 6 dB off"

g=$(relay_gain dsp_gain.dll dsp_fault.dll dsp_gain2.dll)
echo "measured gain with gain, faulting, gain: $g dB"
awk -v g="$g" 'BEGIN { exit !(g > -12.3 && g < -11.7) }' || fail "gain $g dB, expected -12"
echo "ok a faulting plug-in drops out, the relay stays online and the others work"
