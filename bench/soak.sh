#!/usr/bin/env bash
# The soak: Kestrune.exe relays a tone under Wine for HOURS (default 1) through the gain plug-in,
# in interactive mode with a kestrune-ctl recorder attached and the event log on, while this
# script takes the input and the output device away and back at random moments (PulseAudio's
# pipe source and null sink unloaded and loaded again: at least 66 times an hour, a fifth of them
# both at once),
# stops and starts the relay through the peer link (with and without fades) and changes its
# internal volume. The output is listened to all along for silent stretches. At the end it
# prints a summary (also in OUT/summary.txt): the RES figures of the log at the start and the
# end with their slope per hour, each unplug answered by "WAIT" and each replug by "Online"
# (count and worst time), and the output gaps outside the unplugged and stopped periods.
#
#   bench/soak.sh [HOURS] [--seed N] [--out DIR] [--buffer MS] [--actions KINDS] [--no-follow]
#                 [--no-peer]
#
# HOURS may be a fraction: bench/soak.sh 0.1 runs six minutes. The buffer is 100 ms unless
# --buffer says otherwise; the seed is the time unless --seed gives one. To tell apart what a
# finding comes with, parts of the rig can be left out: --actions keeps only the kinds of the
# plan named (a comma list of unplug, stop, volume; "none" for a steady relay), --no-follow
# reads no status from outside (replies then go unseen there; the event log still has them),
# --no-peer attaches no recorder (commands still come through the peer link). The run takes HOURS
# plus about a minute to set up and end. OUT (default build/soak, emptied first) receives:
#   summary.txt    the summary printed at the end
#   events.tsv     what the script did and when (Unix seconds)
#   follow.txt     the status label as seen from outside every 50 ms (kestrune-probe follow)
#   gaps.tsv       silent stretches of the output and of the input (bench/lib/silence-scan.py)
#   late.tsv       moments the machine let an ordinary process wait 20 ms or more past its time
#   outside.tsv    the process as Linux sees it every minute: resident KB, threads, open files
#   records.tsv    the kestrune-ctl recordings: one line per recording of up to 5 minutes
#   Kestrune.log*  the program's event log
#   plan.txt       the schedule drawn from the seed
# Exit status 0 when every check held, 1 otherwise (a missing event log is a failure).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

hours=1
seed=""
buffer=100
out=build/soak
actions=unplug,stop,volume
follow=1
peer=1
while [ $# -gt 0 ]; do
  case "$1" in
    --seed) seed=${2:?--seed needs a number}; shift 2 ;;
    --out) out=${2:?--out needs a directory}; shift 2 ;;
    --buffer) buffer=${2:?--buffer needs milliseconds}; shift 2 ;;
    --actions) actions=${2:?--actions needs a list}; shift 2 ;;
    --no-follow) follow=0; shift ;;
    --no-peer) peer=0; shift ;;
    -h | --help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) hours=$1; shift ;;
  esac
done
[[ "$buffer" =~ ^[0-9]+$ ]] && [ "$buffer" -ge 20 ] && [ "$buffer" -le 4000 ] ||
  { echo "--buffer takes 20 to 4000 ms, not '$buffer'" >&2; exit 2; }
awk -v h="$hours" 'BEGIN { exit !(h + 0 > 0 && h + 0 <= 48) }' ||
  { echo "HOURS must be a number above 0 and at most 48, not '$hours'" >&2; exit 2; }
seconds=$(awk -v h="$hours" 'BEGIN { printf "%d", h * 3600 }')
seed=${seed:-$(date +%s)}

bash scripts/install-deps.sh
nice -n 10 cmake --preset win64 >/dev/null
nice -n 10 cmake --build --preset win64 --target Kestrune kestrune-ctl kestrune-probe dsp_gain >/dev/null

rm -rf "$out"
mkdir -p "$out"
out=$(cd "$out" && pwd)
[[ "$actions" =~ ^(none|(unplug|stop|volume)(,(unplug|stop|volume))*)$ ]] ||
  { echo "--actions takes none or a comma list of unplug, stop, volume, not '$actions'" >&2; exit 2; }
python3 bench/lib/soak-plan.py "$seconds" "$seed" |
  awk -v keep=",$actions," 'index(keep, "," $2 ",")' >"$out/plan.txt"
echo "soak of $seconds s, seed $seed, buffer $buffer ms, $(wc -l <"$out/plan.txt") actions; results in $out"

source scripts/lib/testenv.sh
testenv_start

bg_pids=()
tone_pid=""
declare -A scan_pid=()
cleanup() {
  local p
  for p in "${bg_pids[@]}" "$tone_pid" "${scan_pid[@]}"; do
    [ -n "$p" ] && kill "$p" 2>/dev/null || true
  done
  testenv_stop
}
trap cleanup EXIT

build=$root/build/win64
app="$TESTENV_DIR/app"
mkdir -p "$app/plugins"
cp "$build/Kestrune.exe" "$app/"
cp "$build/tools/plugins/dsp_gain.dll" "$app/plugins/"
fade_in=0.5
cat >"$app/Kestrune.ini" <<INI
[Setting]
PID=7
Source=PipeSource
Destination=RelayOut
Buffer=$buffer
SourceMode=1
Send=1
FadeIn=$fade_in
FadeOut=0.5
SilenceTime=0
Wait=10
EventLog=1
[Plugins]
Path=$(winepath -w "$app/plugins" | tr -d '\r')
File1=dsp_gain.dll
INI

now() { date +%s.%N | cut -c1-14; }
# Sleeps until the Unix time given (at once when it has passed).
sleep_until() {
  sleep "$(awk -v t="$1" -v n="$(now)" 'BEGIN { w = t - n; if (w < 0) w = 0; printf "%.3f", w }')"
}
ctl() { wine "$build/tools/ctl/kestrune-ctl.exe" "$@" 2>&1 | tr -d '\r'; return "${PIPESTATUS[0]}"; }
probe() { wine "$build/tools/probe/kestrune-probe.exe" "$@" 2>/dev/null | tr -d '\r'; }
# Waits for the status text; prints nothing, fails after the timeout (ms).
wait_status() { probe wait LabStatus "$1" "$2" >/dev/null; }

# The input is a pipe source fed with a 1 kHz tone in real time, as a capture device delivers
# (tests/e2e/lib/paced-writer.py, which opens the pipe again whenever the source comes back). The
# monitor of a null sink would not do: it delivers its first block about 2 s after the sink is
# loaded again, whatever the recorder does, and would hide how fast the program comes back.
fifo="$TESTENV_DIR/pipe_src.fifo"
tone_start() {
  python3 tests/e2e/lib/paced-writer.py "$fifo" &
  tone_pid=$!
}
# Listens to the input (the pipe source) or the output (relay_out's monitor). PulseAudio would
# move a recorder whose device goes away to another one, so it is stopped before an unplug.
scan_start() {
  local device=pipe_src
  [ "$1" = out ] && device=relay_out.monitor
  python3 bench/lib/silence-scan.py --device "$device" --label "$1" --out "$out/gaps.tsv" &
  scan_pid[$1]=$!
}
scan_stop() {
  local p=${scan_pid[$1]:-}
  [ -n "$p" ] && { kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; }
  scan_pid[$1]=""
}
sink_load() {
  if [ "$1" = in ]; then
    pactl load-module module-pipe-source source_name=pipe_src file="$fifo" format=s16le \
      rate=44100 channels=2 source_properties=device.description=PipeSource >/dev/null
  else
    pactl load-module module-null-sink sink_name=relay_out \
      sink_properties=device.description=RelayOut >/dev/null
  fi
}
sink_unload() {
  if [ "$1" = in ]; then
    pactl unload-module "$(pactl list short modules | awk '/source_name=pipe_src/ { print $1; exit }')"
  else
    pactl unload-module "$(testenv_sink_module relay_out)"
  fi
}

# Before the program starts: Wine reads its device list once per process.
sink_load in
tone_start
(cd "$app" && exec wine Kestrune.exe) &
app_pid=$!
wait_status STOP 30000 || { echo "Kestrune did not start"; exit 1; }
# Straight to the file: a pipe through tr would hold the lines back until the end.
if [ "$follow" = 1 ]; then
  wine "$build/tools/probe/kestrune-probe.exe" follow LabStatus 50 >"$out/follow.txt" 2>/dev/null &
  bg_pids+=($!)
fi
ctl --pid 7 play --fade >/dev/null || { echo "play refused"; exit 1; }
volume=100
wait_status Online 30000 || { echo "Kestrune did not come online"; exit 1; }
sleep 2
scan_start in
scan_start out
python3 bench/lib/late-watch.py --out "$out/late.tsv" &
bg_pids+=($!)
t0=$(now)
t_end=$(awk -v a="$t0" -v s="$seconds" 'BEGIN { printf "%.3f", a + s }')
echo "start $t0" >"$out/events.tsv"

# The process from outside, every minute: resident memory, threads and open files as Linux
# counts them (what the program reports itself is in its RES lines).
(
  while kill -0 "$app_pid" 2>/dev/null; do
    rss=$(awk '/^VmRSS/ { print $2 }' "/proc/$app_pid/status" 2>/dev/null || echo -)
    threads=$(awk '/^Threads/ { print $2 }' "/proc/$app_pid/status" 2>/dev/null || echo -)
    fds=$(ls "/proc/$app_pid/fd" 2>/dev/null | wc -l)
    echo "$(now) ${rss:--} ${threads:--} $fds" >>"$out/outside.tsv"
    sleep 60
  done
) &
bg_pids+=($!)

# A controlling program records the stream all along, 5 minutes a file; each file is checked
# (its header's sizes against its length) and removed.
(
  [ "$peer" = 1 ] || exit 0
  n=0
  while :; do
    left=$(awk -v e="$t_end" -v n="$(now)" 'BEGIN { printf "%d", e - n }')
    [ "$left" -ge 10 ] || break
    chunk=$((left < 300 ? left : 300))
    n=$((n + 1))
    wav="$TESTENV_DIR/record$n.wav"
    started=$(now)
    set +e
    text=$(ctl --pid 7 record "$(winepath -w "$wav" | tr -d '\r')" --seconds "$chunk" --idle 120 --every 3600000)
    rc=$?
    set -e
    summary=$(grep -m1 '^wrote ' <<<"$text" || echo "wrote ? frames")
    frames=$(awk '{ print $2 }' <<<"$summary")
    blocks=$(sed -n 's/.*; \([0-9]*\) blocks, \([0-9]*\) left out.*/\1/p' <<<"$summary")
    leftout=$(sed -n 's/.*; \([0-9]*\) blocks, \([0-9]*\) left out.*/\2/p' <<<"$summary")
    lost=$(sed -n 's/.*: \([0-9]*\) blocks came faster.*/\1/p' <<<"$text")
    pause=$(sed -n 's/^longest pause between blocks: \([0-9]*\) ms/\1/p' <<<"$text")
    header=$(python3 bench/lib/wav-check.py "$wav" 2>&1 | head -1 || true)
    echo "record $started $(now) $chunk $rc ${frames:-?} ${blocks:-?} ${leftout:-?} ${lost:-0} ${pause:-?} $header" >>"$out/records.tsv"
    [ "$rc" -eq 0 ] || echo "$text" | tail -3 | sed 's/^/  record: /' >>"$out/records.tsv"
    rm -f "$wav"
  done
) &
record_loop=$!
bg_pids+=($record_loop)

do_unplug() {
  local side=$1 hold=$2 parts t_u t_r seen_wait=- seen_online=- p
  case $side in input) parts=(in) ;; output) parts=(out) ;; *) parts=(in out) ;; esac
  for p in "${parts[@]}"; do scan_stop "$p"; done
  t_u=$(now)
  for p in "${parts[@]}"; do sink_unload "$p"; done
  wait_status WAIT 20000 && seen_wait=$(now)
  sleep_until "$(awk -v u="$t_u" -v h="$hold" 'BEGIN { printf "%.3f", u + h }')"
  for p in "${parts[@]}"; do sink_load "$p"; done
  t_r=$(now)
  for p in "${parts[@]}"; do scan_start "$p"; done
  wait_status Online 30000 && seen_online=$(now)
  echo "unplug $side $t_u $t_r $seen_wait $seen_online" >>"$out/events.tsv"
  # The restart fades in to full volume.
  volume=100
  echo "  $(date +%T) unplugged $side for ${hold}s: WAIT ${seen_wait:+seen}, Online ${seen_online:+seen}"
}

do_stop() {
  local stopfade=$1 hold=$2 playfade=$3 t_s t_p seen_stop=- seen_online=- arg
  t_s=$(now)
  arg=()
  [ "$stopfade" = fade ] && arg=(--fade)
  ctl --pid 7 stop "${arg[@]}" >/dev/null || true
  wait_status STOP 15000 && seen_stop=$(now)
  sleep "$hold"
  arg=()
  [ "$playfade" = fade ] && arg=(--fade)
  t_p=$(now)
  ctl --pid 7 play "${arg[@]}" >/dev/null || true
  wait_status Online 30000 && seen_online=$(now)
  # A start without fade keeps the internal volume where it was (0 after a stop with fade): the
  # controlling program sets the level it wants, as a real one would.
  t_v=-
  if [ "$playfade" = cut ]; then
    t_v=$(now)
    ctl --pid 7 volume "$volume" >/dev/null || true
  fi
  echo "stop $stopfade $playfade $t_s $t_p $seen_stop $seen_online $t_v" >>"$out/events.tsv"
  echo "  $(date +%T) stop ($stopfade) and play ($playfade)"
}

# The plan is read on a descriptor of its own: nothing run in the loop can eat it.
while read -r -u 3 offset action a1 a2 _ a4; do
  due=$(awk -v s="$t0" -v o="$offset" 'BEGIN { printf "%.3f", s + o }')
  sleep_until "$due"
  case $action in
    unplug) do_unplug "$a1" "$a2" ;;
    stop) do_stop "$a1" "$a2" "$a4" ;;
    volume)
      volume=$a1
      echo "volume $a1 $(now)" >>"$out/events.tsv"
      ctl --pid 7 volume "$a1" >/dev/null || echo "  volume $a1 refused"
      ;;
  esac
done 3<"$out/plan.txt"
sleep_until "$t_end"
t_stop=$(now)
echo "end $t_stop" >>"$out/events.tsv"

alive=1
kill -0 "$app_pid" 2>/dev/null || alive=0
echo "alive $alive" >>"$out/events.tsv"
wait "$record_loop" 2>/dev/null || true
scan_stop in
scan_stop out
# The last RES line and everything before it reach the file within a second or two.
sleep 2
# A clean end, as a user's: the window closed and the question answered, the process gone
# within 10 s.
if [ "$alive" = 1 ]; then
  t_close=$(now)
  probe close >/dev/null || true
  for _ in $(seq 50); do
    probe boxes | grep -q "Are you sure exit this program?" && { probe answer Yes >/dev/null; break; }
    sleep 0.1
  done
  gone=-
  for _ in $(seq 100); do
    kill -0 "$app_pid" 2>/dev/null || { gone=$(awk -v a="$t_close" -v n="$(now)" 'BEGIN { printf "%.1f", n - a }'); break; }
    sleep 0.1
  done
  echo "closed $gone" >>"$out/events.tsv"
fi
cp "$app"/Kestrune.log* "$out/" 2>/dev/null || true

python3 bench/lib/soak-report.py --dir "$out" --fade-in "$fade_in" --seed "$seed" --buffer "$buffer" \
  $([ "$peer" = 1 ] || echo --no-peer) |
  tee "$out/summary.txt"
exit "${PIPESTATUS[0]}"
