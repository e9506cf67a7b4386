#!/usr/bin/env bash
# Runs one of the fuzzers, built with clang's libFuzzer, AddressSanitizer and UBSan, outside the
# CMake presets (they build with g++):
#   settings  any bytes as the INI file, loaded, saved and loaded again under both decimal
#             separators (tests/fuzz/SettingsOracle.h says what must hold)
#   stream    any bytes as stream blocks received from the program, checked and recorded into a
#             WAV file (tests/fuzz/StreamOracle.h)
#   commands  any bytes as window messages from other programs, mixed with scans, peers that
#             come, go and hang, and the main loop (tests/fuzz/CommandOracle.h)
#   scripts/fuzz.sh [--target settings|stream|commands] [--seconds N] [--runs N] [--seed N]
# Defaults: settings, 30 seconds, seed 1. Starts from tests/fuzz/corpus/<corpus>; what it finds
# new stays in a temporary directory. Ends with one line, "ok fuzz <target>: ..." or
# "FAILED: fuzz <target>: ..."; a crashing input is kept in build/fuzz/ and its path printed.
set -uo pipefail
cd "$(dirname "$0")/.."

target=settings
seconds=30
runs=-1
seed=1
while [ $# -gt 0 ]; do
  case $1 in
    --target) target=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --runs) runs=$2; seconds=0; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    *) echo "usage: $0 [--target settings|stream|commands] [--seconds N] [--runs N] [--seed N]" >&2; exit 2 ;;
  esac
done

case $target in
  settings)
    sources=(tests/fuzz/FuzzSettings.cpp src/settings/FSettings.cpp src/settings/IniText.cpp
             src/util/Helpers.cpp)
    headers=(tests/fuzz/SettingsOracle.h src/settings/*.h src/util/Helpers.h)
    corpus=tests/fuzz/corpus/ini
    options=(-max_len=16384 -dict=tests/fuzz/ini.dict) ;;
  stream)
    sources=(tests/fuzz/FuzzStream.cpp src/link/StreamHeader.cpp src/link/StreamRecorder.cpp
             src/wave/WaveFormat.cpp src/util/Helpers.cpp)
    headers=(tests/fuzz/StreamOracle.h src/link/*.h src/wave/*.h)
    corpus=tests/fuzz/corpus/stream
    options=(-max_len=8192) ;;
  commands)
    sources=(tests/fuzz/FuzzCommands.cpp src/link/WinMSG.cpp src/link/Interactive.cpp)
    headers=(tests/fuzz/CommandOracle.h src/link/*.h tests/unit/link/FakeDesktop.h)
    corpus=tests/fuzz/corpus/commands
    options=(-max_len=4096) ;;
  *) echo "unknown fuzz target: $target" >&2; exit 2 ;;
esac

out=build/fuzz
bin=$out/fuzz_$target
mkdir -p "$out"
rebuild=0
[ -x "$bin" ] || rebuild=1
for f in "${sources[@]}" "${headers[@]}"; do
  [ "$f" -nt "$bin" ] && rebuild=1
done
if [ $rebuild -eq 1 ]; then
  if ! nice -n 10 clang++-14 -std=c++20 -O1 -g -Wall -Wextra -Werror \
      -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer \
      -Isrc -Itests "${sources[@]}" -o "$bin" >"$out/build-$target.log" 2>&1; then
    cat "$out/build-$target.log"
    echo "FAILED: fuzz $target: the fuzzer did not build"
    exit 1
  fi
fi

work=$(mktemp -d /tmp/kestrune-fuzz.XXXXXX)
trap 'rm -rf "$work"' EXIT
log=$out/fuzz-$target.log
start=$(date +%s)
limit=()
[ "$seconds" -gt 0 ] && limit+=(-max_total_time="$seconds")
[ "$runs" -ge 0 ] && limit+=(-runs="$runs")
# A generous time limit per input: on a busy shared machine an input that takes milliseconds can
# stall for seconds; a real hang still ends the run.
nice -n 10 "$bin" -seed="$seed" "${limit[@]}" "${options[@]}" -timeout=60 -rss_limit_mb=2048 \
  -artifact_prefix="$out/$target-" -print_final_stats=1 \
  "$work" "$corpus" >"$log" 2>&1
rc=$?
elapsed=$(($(date +%s) - start))
inputs=$(sed -n 's/^stat::number_of_executed_units: *\([0-9]*\).*/\1/p' "$log" | tail -1)
found=$(find "$work" -type f | wc -l)
seeds=$(find "$corpus" -type f | wc -l)
cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1)
if [ $rc -eq 0 ]; then
  echo "ok fuzz $target: ${inputs:-?} inputs in ${elapsed} s (seed $seed), 0 crashes, $cov, corpus $seeds + $found new"
  exit 0
fi
grep -E 'oracle|ERROR: |SUMMARY: |runtime error' "$log" | head -10
artifact=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -1)
echo "FAILED: fuzz $target after ${inputs:-?} inputs: crash input ${artifact:-(none written)}"
exit 1
