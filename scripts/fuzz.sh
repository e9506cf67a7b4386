#!/usr/bin/env bash
# Fuzzes the settings file: any bytes as the INI file, loaded, saved and loaded again under both
# decimal separators (tests/fuzz/SettingsOracle.h says what must hold). Built with clang's
# libFuzzer, AddressSanitizer and UBSan, outside the CMake presets (they build with g++).
#   scripts/fuzz.sh [--seconds N] [--runs N] [--seed N]
# Defaults: 30 seconds, seed 1. Starts from tests/fuzz/corpus/ini; what it finds new stays in a
# temporary directory. Ends with one line, "ok fuzz settings: ..." or "FAILED: fuzz settings: ...";
# a crashing input is kept in build/fuzz/ and its path printed.
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=30
runs=-1
seed=1
while [ $# -gt 0 ]; do
  case $1 in
    --seconds) seconds=$2; shift 2 ;;
    --runs) runs=$2; seconds=0; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    *) echo "usage: $0 [--seconds N] [--runs N] [--seed N]" >&2; exit 2 ;;
  esac
done

out=build/fuzz
bin=$out/fuzz_settings
mkdir -p "$out"
sources=(tests/fuzz/FuzzSettings.cpp src/settings/FSettings.cpp src/settings/IniText.cpp
         src/util/Helpers.cpp)
rebuild=0
[ -x "$bin" ] || rebuild=1
for f in "${sources[@]}" tests/fuzz/SettingsOracle.h src/settings/*.h src/util/Helpers.h; do
  [ "$f" -nt "$bin" ] && rebuild=1
done
if [ $rebuild -eq 1 ]; then
  if ! nice -n 10 clang++-14 -std=c++20 -O1 -g -Wall -Wextra -Werror \
      -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer \
      -Isrc -Itests "${sources[@]}" -o "$bin" >"$out/build.log" 2>&1; then
    cat "$out/build.log"
    echo "FAILED: fuzz settings: the fuzzer did not build"
    exit 1
  fi
fi

work=$(mktemp -d /tmp/kestrune-fuzz.XXXXXX)
trap 'rm -rf "$work"' EXIT
log=$out/fuzz.log
start=$(date +%s)
limit=()
[ "$seconds" -gt 0 ] && limit+=(-max_total_time="$seconds")
[ "$runs" -ge 0 ] && limit+=(-runs="$runs")
# A generous time limit per input: on a busy shared machine an input that takes milliseconds can
# stall for seconds; a real hang still ends the run.
nice -n 10 "$bin" -seed="$seed" "${limit[@]}" -max_len=16384 -timeout=60 -rss_limit_mb=2048 \
  -dict=tests/fuzz/ini.dict -artifact_prefix="$out/" -print_final_stats=1 \
  "$work" tests/fuzz/corpus/ini >"$log" 2>&1
rc=$?
elapsed=$(($(date +%s) - start))
inputs=$(sed -n 's/^stat::number_of_executed_units: *\([0-9]*\).*/\1/p' "$log" | tail -1)
found=$(find "$work" -type f | wc -l)
seeds=$(find tests/fuzz/corpus/ini -type f | wc -l)
cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1)
if [ $rc -eq 0 ]; then
  echo "ok fuzz settings: ${inputs:-?} inputs in ${elapsed} s (seed $seed), 0 crashes, $cov, corpus $seeds + $found new"
  exit 0
fi
grep -E 'settings oracle|ERROR: |SUMMARY: |runtime error' "$log" | head -10
artifact=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -1)
echo "FAILED: fuzz settings after ${inputs:-?} inputs: crash input ${artifact:-(none written)}"
exit 1
