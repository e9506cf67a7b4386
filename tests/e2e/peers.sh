# Interactive mode end to end: kestrune-ctl finds Kestrune by its program ID, starts it with a
# fade-in, watches its notifications, records the stream at each tap (Send 0..3) and stops it;
# with the internal volume at 0 the played-as-heard stream is silent while the played one is not.
lib="$(dirname "$0")/lib"
[ -d "$lib" ] || lib="$(dirname "$0")/../e2e/lib"
source "$lib/app.sh"

tone_pid=""
cleanup() {
  [ -n "$tone_pid" ] && kill "$tone_pid" 2>/dev/null
  stop_all
}
trap cleanup EXIT

ctl() {
  wine "$KESTRUNE_BUILD/tools/ctl/kestrune-ctl.exe" "$@" 2>&1 | tr -d '\r'
  return "${PIPESTATUS[0]}"
}

# RMS level in dBFS of a WAV file (-inf for silence); its rate and channels must be 44100/2.
wav_rms() {
  local info
  info=$(sox --i "$1") || return 1
  grep -q 'Sample Rate *: 44100' <<<"$info" || fail "$1 is not 44100 Hz: $info"
  grep -q 'Channels *: 2' <<<"$info" || fail "$1 is not stereo: $info"
  sox "$1" -n stats 2>&1 | awk '/^RMS lev dB/ { print $4; exit }'
}

sox -q -n -r 44100 -c 2 -b 16 "$TESTENV_DIR/tone1k.wav" synth 5 sine 1000 vol 0.1
(while pacat --device=test_src "$TESTENV_DIR/tone1k.wav" 2>/dev/null; do :; done) &
tone_pid=$!
# The tone's own level: a sine of amplitude 0.1 is -23.0 dBFS RMS.
tone_db=-23.0

for send in 0 1 2 3; do
  a=$(app_dir)
  cat >"$a/Kestrune.ini" <<INI
[Setting]
PID=-5
Source=Monitor of TestSource
Destination=RelayOut
Buffer=100
SourceMode=1
Send=$send
FadeIn=0.5
FadeOut=0.5
SilenceTime=0
INI
  start_app "$a" STOP 20000

  list=$(ctl list) || fail "list: $list"
  grep -Eq '^0x[0-9a-f]+ +[0-9]+ +-5$' <<<"$list" || fail "list shows no program ID -5: $list"

  ctl --pid -5 watch --seconds 6 >"$TESTENV_DIR/watch$send.txt" &
  watch_pid=$!
  sleep 1
  ctl --pid -5 play --fade >/dev/null || fail "play refused"
  wait_status Online 30000
  sleep 1  # fade-in done

  rec="$TESTENV_DIR/send$send.wav"
  out=$(ctl --pid -5 record "$rec" --seconds 2 --every 500) || fail "record (Send $send): $out"
  grep -q 'wrote 88200 frames (2.000 s at 44100 Hz)' <<<"$out" || fail "record (Send $send): $out"
  db=$(wav_rms "$rec")
  echo "measured Send $send: $db dBFS RMS (tone $tone_db)"
  awk -v d="$db" -v t="$tone_db" 'BEGIN { exit !(d > t - 1.5 && d < t + 1.5) }' ||
    fail "Send $send recorded $db dBFS"
  echo "ok Send $send records the tone"

  if [ "$send" -ge 2 ]; then
    ctl --pid -5 volume 0 >/dev/null || fail "volume refused"
    sleep 0.5
    ctl --pid -5 record "$TESTENV_DIR/quiet$send.wav" --seconds 1 >/dev/null || fail "record at volume 0"
    db=$(wav_rms "$TESTENV_DIR/quiet$send.wav")
    echo "measured Send $send at internal volume 0: $db dBFS RMS"
    if [ "$send" -eq 3 ]; then
      [ "$db" = "-inf" ] || awk -v d="$db" 'BEGIN { exit !(d < -80) }' || fail "Send 3 not silent: $db"
    else
      awk -v d="$db" -v t="$tone_db" 'BEGIN { exit !(d > t - 1.5) }' || fail "Send 2 scaled: $db"
    fi
    echo "ok Send $send at internal volume 0"
  fi

  wait "$watch_pid" || fail "watch ended with $?: $(cat "$TESTENV_DIR/watch$send.txt")"
  w=$(cat "$TESTENV_DIR/watch$send.txt")
  grep -Eq '0x0401 sound \(state at connection\)' <<<"$w" || fail "watch: no state at connection: $w"
  grep -Eq '^[0-9:.]+ 0x1001 online$' <<<"$w" || fail "watch: no online: $w"
  grep -A1 -E '0x1001 online$' <<<"$w" | grep -Eq '0x0401 sound$' || fail "watch: no sound after online: $w"
  echo "ok notifications (Send $send)"

  ctl --pid -5 stop --fade >/dev/null || fail "stop refused"
  wait_status STOP 10000
  echo "ok stopped with a fade (Send $send)"
  stop_all
done
