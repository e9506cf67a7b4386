# kestrune-ctl recording where it cannot write: onto a disk that fills up (a 256 KB file system
# mounted inside the test's folder; where mounting is not allowed, a file size limit stands in),
# it stops with a message naming the file and the reason and exit code 5, and the WAV file holds
# the audio written before, with a header that matches its length. Into a folder that does not
# exist: the same exit code and a message, and no file.
source "$(dirname "$0")/lib/app.sh"

tone_pid=""
full="$TESTENV_DIR/full"
mounted=0
cleanup() {
  [ -n "$tone_pid" ] && kill "$tone_pid" 2>/dev/null
  stop_all
  [ "$mounted" -eq 1 ] && umount "$full" 2>/dev/null
  true
}
trap cleanup EXIT

ctl() {
  wine "$KESTRUNE_BUILD/tools/ctl/kestrune-ctl.exe" "$@" 2>&1 | tr -d '\r'
  return "${PIPESTATUS[0]}"
}
wav_check="$(dirname "$0")/../../bench/lib/wav-check.py"

sox -q -n -r 44100 -c 2 -b 16 "$TESTENV_DIR/tone1k.wav" synth 5 sine 1000 vol 0.1
(while pacat --device=test_src "$TESTENV_DIR/tone1k.wav" 2>/dev/null; do :; done) &
tone_pid=$!

a=$(app_dir)
cat >"$a/Kestrune.ini" <<'INI'
[Setting]
PID=-7
Source=Monitor of TestSource
Destination=RelayOut
Buffer=100
SourceMode=1
FadeIn=0
SilenceTime=0
INI
start_app "$a" STOP 20000
ctl --pid -7 play >/dev/null || fail "play refused"
wait_status Online 30000

mkdir -p "$full"
if mount -t tmpfs -o size=256k tmpfs "$full" 2>/dev/null; then
  mounted=1
  how="a full 256 KB file system"
  limit=""
else
  how="a 256 KB file size limit (mounting is not allowed here)"
  limit="ulimit -f 256; trap '' XFSZ;"
fi
wav="$full/rec.wav"
set +e
out=$(bash -c "$limit"' exec wine "$0" --pid -7 record "$1" --seconds 60' \
  "$KESTRUNE_BUILD/tools/ctl/kestrune-ctl.exe" "$(winepath -w "$wav" | tr -d '\r')" 2>&1 | tr -d '\r')
rc=${PIPESTATUS[0]}
set -e
echo "$out" | sed 's/^/  /'
[ "$rc" -eq 5 ] || fail "exit code $rc on $how, expected 5"
grep -Eq '^kestrune-ctl: cannot write .*rec\.wav: .+; the file holds what was written before$' <<<"$out" ||
  fail "no message naming the file and the reason: $out"
check=$(python3 "$wav_check" "$wav") || fail "$check"
frames=$(sed -n 's/^header ok: \([0-9]*\) frames.*/\1/p' <<<"$check")
[ "$frames" -gt 22050 ] || fail "only $frames frames kept before the disk was full"
db=$(sox "$wav" -n stats 2>&1 | awk '/^RMS lev dB/ { print $4; exit }')
awk -v d="$db" 'BEGIN { exit !(d > -24.5 && d < -21.5) }' || fail "the kept audio is not the tone: $db dBFS"
echo "measured on $how: exit 5, $(stat -c %s "$wav") bytes kept, $check, $db dBFS"
echo "ok a full disk ends the recording with a message, exit 5 and a valid WAV file"

missing="$TESTENV_DIR/no-such-folder/rec.wav"
set +e
out=$(ctl --pid -7 record "$(winepath -w "$missing" | tr -d '\r')" --seconds 1)
rc=$?
set -e
[ "$rc" -eq 5 ] || fail "exit code $rc for a missing folder, expected 5: $out"
grep -q '^kestrune-ctl: cannot create .*rec\.wav: ' <<<"$out" || fail "no message for a missing folder: $out"
[ ! -e "$missing" ] || fail "a file appeared in a missing folder"
echo "ok a folder that does not exist: $(tail -1 <<<"$out")"
