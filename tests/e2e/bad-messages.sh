# Malformed messages from another process: WM_COPYDATA with no data, 4 MB of data (which Wine
# does not hand over: the send times out; the program must live on), wrong codes
# or no structure at all, a flood of them, and WM_WINMSG with parameters outside the protocol and
# senders that are no peer (none, the broadcast handle, no window, the receiver itself, a child
# window). After each kind the window must answer within 1 s (bad-sender checks), the probe must
# read "Online" within 1 s, no message box may be open, and the tone must still come out.
source "$(dirname "$0")/lib/app.sh"

tone_pid=""
cleanup() {
  [ -n "$tone_pid" ] && kill "$tone_pid" 2>/dev/null || true
  stop_all
}
trap cleanup EXIT

sox -q -n -r 44100 -c 2 -b 16 "$TESTENV_DIR/tone1k.wav" synth 5 sine 1000 vol 0.1
(while pacat --device=test_src "$TESTENV_DIR/tone1k.wav" 2>/dev/null; do :; done) &
tone_pid=$!

sender="$KESTRUNE_BUILD/tests/bad-sender.exe"
[ -f "$sender" ] || fail "bad-sender.exe not built (it is built with win_link)"

# Interactive mode, so the messages reach the protocol's decoding; the relay started by a
# controlling program as usual.
a=$(app_dir)
cat >"$a/Kestrune.ini" <<'INI'
[Setting]
PID=7
Source=Monitor of TestSource
Destination=RelayOut
Buffer=100
SourceMode=1
FadeIn=0
SilenceTime=0
EventLog=1
INI
start_app "$a" STOP 20000
wine "$KESTRUNE_BUILD/tools/ctl/kestrune-ctl.exe" --pid 7 play >/dev/null 2>&1 || fail "play refused"
wait_status Online 30000
sleep 1

# RMS level in dBFS of the output over a second.
output_db() {
  timeout 1 parec --device=relay_out.monitor --format=s16le --rate=44100 --channels=2 \
    >"$TESTENV_DIR/out.raw" || true
  rms_db "$TESTENV_DIR/out.raw"
}

for kind in copydata-empty copydata-wrong winmsg-lparam winmsg-wparam copydata-huge copydata-flood; do
  out=$(wine "$sender" "$kind" 4 2>&1 | tr -d '\r') || fail "$kind: $out"
  echo "measured $out"
  t0=$(date +%s%N)
  status=$(probe text LabStatus)
  t1=$(date +%s%N)
  probe_ms=$(((t1 - t0) / 1000000))
  [ "$status" = Online ] || fail "$kind: status '$status'"
  [ "$probe_ms" -le 1000 ] || fail "$kind: the probe took $probe_ms ms to read the status"
  boxes=$(probe boxes)
  [ -z "$boxes" ] || fail "$kind: a message box is open: $boxes"
  db=$(output_db)
  echo "measured after $kind: status $status read in $probe_ms ms (the probe's own start included), output $db dBFS"
  awk -v d="$db" 'BEGIN { exit !(d > -30 && d < -15) }' || fail "$kind: output at $db dBFS"
  echo "ok $kind: still answering and relaying"
done

[ "$(probe windows | wc -l)" -eq 1 ] || fail "the program ended or a second window appeared"
echo "the log:"
tr -d '\r' <"$a/Kestrune.log" | grep -v ' RES ' | sed 's/^/  /'
# Once online, nothing failed (the monitor of a null sink may make the first start stall once).
tr -d '\r' <"$a/Kestrune.log" | sed -n '/ STATE Online /,$p' | grep -q ' STALL \| DEVICE ' &&
  fail "a fault was logged"
echo "ok no fault in the log"
