#!/usr/bin/env bash
# Real drift under Wine: an input device whose clock runs off by a given number of ppm, relayed
# to a null sink by PulseAudio's own module-loopback (the reference) and by Kestrune.exe in
# both stabilizer modes (whole frames, smooth), one after the other, each measured the same way.
#
# The input is PulseAudio's module-pipe-source ("PipeSource" to Wine) fed by
# tests/e2e/lib/paced-writer.py with a 1 kHz tone at -6 dBFS, paced by the monotonic clock at
# 44100 x (1 + ppm / 10^6) frames a second; the output is the null sink "RelayOut", which runs on
# the system clock. Each relay is given SETTLE seconds from its start ("Online" for Kestrune),
# then for SECONDS the output's monitor is recorded and listened to for silent stretches of
# 50 ms or more (bench/lib/silence-scan.py, the input as well), and Kestrune's StabLevel gauge is
# read from outside: its text followed every 250 ms (kestrune-probe follow; in smooth mode it
# shows ppm), its value read every 2 s, the queue's text (GBuffer) and the status (LabStatus:
# how often it left "Online", i.e. the devices were restarted) followed as well. The
# recording's SINAD is fitted in windows (bench/sinad, tone-sinad) of 1 s, which count the pitch
# the stabilizer bends within a second as noise, and of 0.1 s, which follow it and leave the
# distortion and the steps; windows without the tone (a dropout) are left out and counted. The
# pitch is the range of the tone's frequencies fitted in the 1 s windows, in ppm of 1 kHz: a
# relay that keeps every sample plays the tone off by the input's drift. The recording is also
# measured in pieces of 10 s, whose median shows the sound between disturbances.
#
#   bench/real-drift.sh [--settle S] [--seconds S] [--drifts "PPM ..."] [--buffers "MS ..."]
#                       [--relays "loopback block smooth"] [--out DIR] [--keep-audio]
#
#   --settle    seconds from the start before measuring (default 30)
#   --seconds   seconds measured (default 120)
#   --drifts    the input's clock error, ppm (default "+1000 -1000"; 0 gives a baseline)
#   --buffers   Kestrune's Buffer and the loopback's latency_msec, ms (default 100)
#   --relays    which relays, in this order (default "loopback block smooth")
#   --out       the results (default build/real-drift, emptied first): results.csv, the table
#               in results.md, and per run the followed texts, the values and the gaps
#   --keep-audio  keeps each run's recording (out-*.raw, 10 MB a minute)
#
# Needs the win64 build (KESTRUNE_BUILD, default build/win64); builds tone-sinad with the native
# preset. Takes about (SETTLE + SECONDS + 10 s) x relays x drifts x buffers. Exit status 0 when
# every run was measured, 1 when one could not be (Kestrune never "Online", no tone in the
# recording), 2 on wrong arguments. The figures are the result: nothing is checked against a
# limit.
set -euo pipefail

if [ -z "${TESTENV_DIR:-}" ]; then
  script=$(readlink -f "$0")
  cd "$(dirname "$script")/.."
  settle=30
  seconds=120
  drifts="+1000 -1000"
  buffers=100
  relays="loopback block smooth"
  out=build/real-drift
  keep=0
  while [ $# -gt 0 ]; do
    case "$1" in
      --settle) settle=${2:?--settle needs seconds}; shift 2 ;;
      --seconds) seconds=${2:?--seconds needs seconds}; shift 2 ;;
      --drifts) drifts=${2:?--drifts needs a list of ppm}; shift 2 ;;
      --buffers) buffers=${2:?--buffers needs a list of ms}; shift 2 ;;
      --relays) relays=${2:?--relays needs a list}; shift 2 ;;
      --out) out=${2:?--out needs a directory}; shift 2 ;;
      --keep-audio) keep=1; shift ;;
      -h | --help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
      *) echo "unknown argument '$1' (see --help)" >&2; exit 2 ;;
    esac
  done
  bad() { echo "$1" >&2; exit 2; }
  [[ "$settle" =~ ^[0-9]+$ ]] || bad "--settle takes whole seconds, not '$settle'"
  if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 5 ]; then
    bad "--seconds takes 5 or more whole seconds, not '$seconds'"
  fi
  for d in $drifts; do
    if ! [[ "$d" =~ ^[+-]?[0-9]+$ ]] || [ "${d#[+-]}" -gt 50000 ]; then
      bad "a drift is whole ppm within +-50000, not '$d'"
    fi
  done
  for b in $buffers; do
    if ! [[ "$b" =~ ^[0-9]+$ ]] || [ "$b" -lt 20 ] || [ "$b" -gt 4000 ]; then
      bad "a buffer is 20 to 4000 ms, not '$b'"
    fi
  done
  for r in $relays; do
    case $r in loopback | block | smooth) ;; *) bad "a relay is loopback, block or smooth, not '$r'" ;; esac
  done
  if [ -z "$drifts" ] || [ -z "$buffers" ] || [ -z "$relays" ]; then
    bad "--drifts, --buffers and --relays must not be empty"
  fi

  export KESTRUNE_BUILD="${KESTRUNE_BUILD:-$PWD/build/win64}"
  if [ ! -f "$KESTRUNE_BUILD/Kestrune.exe" ] || [ ! -f "$KESTRUNE_BUILD/tools/probe/kestrune-probe.exe" ]; then
    echo "no win64 build in $KESTRUNE_BUILD (cmake --preset win64 && cmake --build --preset win64)" >&2
    exit 1
  fi
  nice -n 10 cmake --preset native >/dev/null
  nice -n 10 cmake --build --preset native --target tone-sinad >/dev/null
  rm -rf "$out"
  mkdir -p "$out"
  RD_OUT=$(cd "$out" && pwd)
  export RD_SETTLE=$settle RD_SECONDS=$seconds RD_DRIFTS=$drifts RD_BUFFERS=$buffers
  export RD_RELAYS=$relays RD_KEEP=$keep RD_OUT RD_ROOT=$PWD
  # shellcheck source=scripts/lib/testenv.sh
  source scripts/lib/testenv.sh
  testenv_start
  trap testenv_stop EXIT
  bash "$script"
  exit
fi
# shellcheck source=tests/e2e/lib/app.sh
source "$RD_ROOT/tests/e2e/lib/app.sh"

out=$RD_OUT
fifo="$TESTENV_DIR/pipe_src.fifo"
sinad_tool="$RD_ROOT/build/native/bench/tone-sinad"
writer_pid=""
scan_pids=()
failed=0

stop_scans() {
  local p
  for p in "${scan_pids[@]}"; do
    kill "$p" 2>/dev/null || true
    wait "$p" 2>/dev/null || true
  done
  scan_pids=()
}
# shellcheck disable=SC2317 # run by the trap
cleanup() {
  stop_scans
  [ -n "$writer_pid" ] && kill "$writer_pid" 2>/dev/null
  stop_all
}
trap cleanup EXIT

# The probe's clock: local time, to the millisecond, as `kestrune-probe follow` stamps its lines.
stamp() { date +'%Y-%m-%d %H:%M:%S.%3N'; }

echo "drift,buffer_ms,relay,gauge_min,gauge_max,gauge_reads,text_min,text_max,text_unit,queue_min_ms,queue_max_ms,out_gaps,out_longest_ms,in_gaps,not_online,sinad_1s_db,sinad_100ms_db,empty_100ms_windows,sinad_10s_median_db,pitch_min_ppm,pitch_max_ppm,note" \
  >"$out/results.csv"
echo "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)" >"$out/load.txt"

# Measures one relay that is already running: waits the settle time, then records, scans and
# reads the gauge for the measured seconds, and appends a row. Arguments: drift, buffer, relay,
# the time the relay started (stamp), and what is known already ("" or a note).
measure() {
  local drift=$1 buffer=$2 relay=$3 name=$1-$2-$3
  local raw="$out/out-$name.raw" gaps="$out/gaps-$name.tsv" t0 t1 vals_pid=""
  sleep "$RD_SETTLE"
  if [ "$relay" != loopback ]; then
    # Straight to the files: a pipe through tr would hold the lines back until the end.
    wine "$KESTRUNE_BUILD/tools/probe/kestrune-probe.exe" follow StabLevel 250 \
      >"$out/stab-$name.txt" 2>/dev/null &
    wine "$KESTRUNE_BUILD/tools/probe/kestrune-probe.exe" follow GBuffer 250 \
      >"$out/queue-$name.txt" 2>/dev/null &
    wine "$KESTRUNE_BUILD/tools/probe/kestrune-probe.exe" follow LabStatus 100 \
      >"$out/status-$name.txt" 2>/dev/null &
    (
      while :; do
        echo "$(stamp) $(probe value StabLevel)"
        sleep 2
      done
    ) >"$out/values-$name.txt" &
    vals_pid=$!
    # The follower prints the text it finds first at once: what the gauge showed as measuring
    # began.
    sleep 1
  fi
  : >"$gaps"
  python3 "$RD_ROOT/bench/lib/silence-scan.py" --device relay_out.monitor --label out --out "$gaps" &
  scan_pids+=($!)
  python3 "$RD_ROOT/bench/lib/silence-scan.py" --device pipe_src --label in --out "$gaps" &
  scan_pids+=($!)
  t0=$(stamp)
  timeout "$RD_SECONDS" parec --latency-msec=10 --device=relay_out.monitor --format=s16le \
    --rate=44100 --channels=2 >"$raw" || true
  t1=$(stamp)
  stop_scans
  if [ -n "$vals_pid" ]; then
    kill "$vals_pid" 2>/dev/null || true
    wait "$vals_pid" 2>/dev/null || true
  fi
  # The followers end with the program (stop_all); until then they only look.
  local sinad="" short="" empty="" low="" high="" pieces="" note="" s t
  # The first half second is the recorder's start. Windows of 1 s count how the pitch moves
  # within a second as noise; windows of 0.1 s follow it and leave little but the distortion
  # and the steps in the audio.
  if s=$("$sinad_tool" "$raw" --skip 0.5 --window 1 2>&1); then
    read -r _ sinad _ _ _ _ _ _ _ _ _ _ _ low _ high _ <<<"$s"
    if s=$("$sinad_tool" "$raw" --skip 0.5 --window 0.1 2>&1); then
      read -r _ short _ _ _ _ _ _ _ _ _ _ _ _ _ _ _ empty <<<"$s"
    else
      note="no tone in 0.1 s windows: $s"
      failed=1
    fi
  else
    note="no tone: $s"
    failed=1
  fi
  # The same in pieces of 10 s (1 s windows): a disturbance spoils its pieces only, so the
  # median says how the relay sounds between disturbances. A piece without a tone counts "-".
  for ((t = 0; t + 10 <= RD_SECONDS; t += 10)); do
    if s=$("$sinad_tool" "$raw" --skip "$t.5" --seconds 10 --window 1 2>/dev/null); then
      pieces+="$(awk '{ print $2 }' <<<"$s") "
    else
      pieces+="- "
    fi
  done
  [ "$RD_KEEP" = 1 ] || rm -f "$raw"
  echo "$relay,$t0,$t1,$sinad,$short,$empty,$low,$high,$note" >"$out/run-$name.txt"
  echo "$pieces" >"$out/pieces-$name.txt"
  python3 - "$out" "$drift" "$buffer" "$relay" "$t0" "$t1" "$sinad" "$short" "$empty" "$low" "$high" \
    "$pieces" "$note" <<'PY' >>"$out/results.csv"
import os
import re
import statistics
import sys

out, drift, buffer, relay, t0, t1, sinad, short, empty, low, high, pieces, note = sys.argv[1:]
name = '%s-%s-%s' % (drift, buffer, relay)


def window(path):
    """The followed texts that were showing between t0 and t1: the last one before t0 and
    every one after it up to t1."""
    shown = []
    if not os.path.exists(path):
        return shown
    before = None
    for line in open(path):
        parts = line.rstrip('\r\n').split(' ', 2)
        if len(parts) < 3:
            continue
        t = parts[0] + ' ' + parts[1]
        if t <= t0:
            before = parts[2]
        elif t <= t1:
            shown.append(parts[2])
    return ([before] if before is not None else []) + shown


def number(text):
    if text == 'Normal':
        return 0
    m = re.search(r'[+-]?\d+', text)
    return int(m.group()) if m else None


# Pieces without a tone count as the worst.
piece_db = [float(p) if p != '-' else float('-inf') for p in pieces.split()]
median = '%.2f' % statistics.median(piece_db) if piece_db else ''
stab = [n for n in map(number, window('%s/stab-%s.txt' % (out, name))) if n is not None]
# Each time the status showed something else than "Online": a restart of the devices.
left_online = sum(1 for t in window('%s/status-%s.txt' % (out, name)) if t != 'Online')
queue = [n for n in map(number, window('%s/queue-%s.txt' % (out, name))) if n is not None]
values = []
path = '%s/values-%s.txt' % (out, name)
if os.path.exists(path):
    for line in open(path):
        parts = line.split()
        if len(parts) == 3 and re.fullmatch(r'-?\d+', parts[2]):
            values.append(int(parts[2]))
gaps = {'out': [], 'in': []}
for line in open('%s/gaps-%s.tsv' % (out, name)):
    parts = line.split()
    if parts and parts[0] == 'gap':
        gaps[parts[1]].append(float(parts[4]))
unit = '' if relay == 'loopback' else ('ppm' if relay == 'smooth' else 'frames per 5 ms')


def span(v):
    return (str(min(v)), str(max(v))) if v else ('', '')


def pitch(hz):
    """The tone's frequency as ppm off the 1 kHz it was written at."""
    return '%+.0f' % ((float(hz) / 1000 - 1) * 1e6) if hz else ''


row = [drift, buffer, relay, *span(values), str(len(values)), *span(stab), unit, *span(queue),
       str(len(gaps['out'])), '%.0f' % max(gaps['out']) if gaps['out'] else '0',
       str(len(gaps['in'])), '' if relay == 'loopback' else str(left_online), sinad, short, empty,
       median, pitch(low), pitch(high),
       note.replace(',', ';').replace('\n', ' ')]
print(','.join(row))
PY
  echo "  $(date +%T) $drift ppm, $buffer ms, $relay: $(tail -1 "$out/results.csv")"
}

for drift in $RD_DRIFTS; do
  rm -f "$fifo"
  pactl load-module module-pipe-source source_name=pipe_src file="$fifo" format=s16le \
    rate=44100 channels=2 source_properties=device.description=PipeSource >/dev/null
  python3 "$RD_ROOT/tests/e2e/lib/paced-writer.py" --ppm "$drift" --level -6 "$fifo" &
  writer_pid=$!
  for buffer in $RD_BUFFERS; do
    for relay in $RD_RELAYS; do
      name=$drift-$buffer-$relay
      if [ "$relay" = loopback ]; then
        module=$(pactl load-module module-loopback source=pipe_src sink=relay_out \
          latency_msec="$buffer" source_dont_move=true sink_dont_move=true)
        measure "$drift" "$buffer" loopback
        pactl unload-module "$module"
        continue
      fi
      mode=0
      [ "$relay" = smooth ] && mode=1
      a=$(app_dir)
      cat >"$a/Kestrune.ini" <<INI
[Setting]
Source=PipeSource
Destination=RelayOut
Buffer=$buffer
Auto=1
SilenceTime=0
StabMode=$mode
INI
      (cd "$a" && exec wine Kestrune.exe) &
      if probe wait LabStatus Online 30000 >/dev/null; then
        measure "$drift" "$buffer" "$relay"
      else
        # No figures: the columns between the relay and the note stay empty.
        echo "$drift,$buffer,$relay,,,0,,,,,,,,,,,,,,,,never Online ($(probe text LabStatus))" >>"$out/results.csv"
        echo "  $drift ppm, $buffer ms, $relay: never Online"
        failed=1
      fi
      stop_all
    done
  done
  kill "$writer_pid" 2>/dev/null || true
  wait "$writer_pid" 2>/dev/null || true
  writer_pid=""
  pactl unload-module "$(pactl list short modules | awk '/source_name=pipe_src/ { print $1; exit }')"
done
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)" >>"$out/load.txt"

# The table, as Markdown.
python3 - "$out/results.csv" <<'PY' | tee "$out/results.md"
import csv
import sys

names = {'loopback': 'module-loopback', 'block': 'whole frames', 'smooth': 'smooth'}
print('| drift (ppm) | buffer (ms) | relay | gauge | gauge text | queue (ms) | output gaps '
      '(longest ms) | input gaps | not Online | SINAD 1 s / 0.1 s (dB) | SINAD median of 10 s '
      '(dB) | pitch (ppm) |')
print('|---|---|---|---|---|---|---|---|---|---|---|---|')
for r in csv.DictReader(open(sys.argv[1])):
    def span(lo, hi, unit=''):
        if lo == '':
            return '-'
        text = lo if lo == hi else '%s..%s' % (lo, hi)
        return text + (' ' + unit if unit and unit != 'frames per 5 ms' else '')
    gauge = span(r['gauge_min'], r['gauge_max'])
    if gauge != '-':
        gauge += ' (%s reads)' % r['gauge_reads']
    sinad = '%s / %s' % (r['sinad_1s_db'] or '-', r['sinad_100ms_db'] or '-')
    if r['empty_100ms_windows'] not in ('', '0'):
        sinad += ' (%s windows of 0.1 s without the tone)' % r['empty_100ms_windows']
    if r['note']:
        sinad += ' (%s)' % r['note']
    print('| %s | %s | %s | %s | %s | %s | %s (%s) | %s | %s | %s | %s | %s |' % (
        r['drift'], r['buffer_ms'], names[r['relay']], gauge,
        span(r['text_min'], r['text_max'], r['text_unit']), span(r['queue_min_ms'], r['queue_max_ms']),
        r['out_gaps'] or '-', r['out_longest_ms'] or '-', r['in_gaps'] or '-',
        r['not_online'] or '-', sinad, r['sinad_10s_median_db'] or '-',
        span(r['pitch_min_ppm'], r['pitch_max_ppm'])))
PY
cat "$out/load.txt"
exit "$failed"
