#!/usr/bin/env bash
# Builds everything with warnings as errors and runs every test: native unit tests (also under
# AddressSanitizer/UBSan), bounded runs of the fuzzers, the Windows tests under Wine,
# and the end-to-end tests with the real program under Wine and a private PulseAudio. Ends with
# one line "N passed, N failed".
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/install-deps.sh || { echo "dependency installation failed"; exit 1; }

build() {
  local preset=$1
  cmake --preset "$preset" -DKESTRUNE_WERROR=ON >"build-$preset.log" 2>&1 &&
    cmake --build --preset "$preset" >>"build-$preset.log" 2>&1
  local rc=$?
  if [ $rc -ne 0 ]; then
    tail -50 "build-$preset.log"
    echo "build of $preset failed"
  fi
  rm -f "build-$preset.log"
  return $rc
}

for preset in native native-asan win64 win32; do
  build "$preset" || { echo "0 passed, 1 failed"; exit 1; }
done

results=$(mktemp -d /tmp/kestrune-results.XXXXXX)
passed=0
failed=0

# Adds up a GoogleTest XML report; a program that left none counts as one failure.
count_xml() {
  local name=$1 xml=$2
  if [ ! -s "$xml" ]; then
    echo "FAILED: $name ended without a report"
    failed=$((failed + 1))
    return
  fi
  local line t f e s
  line=$(grep -m1 '<testsuites' "$xml")
  t=$(sed -n 's/.* tests="\([0-9]*\)".*/\1/p' <<<"$line")
  f=$(sed -n 's/.* failures="\([0-9]*\)".*/\1/p' <<<"$line")
  e=$(sed -n 's/.* errors="\([0-9]*\)".*/\1/p' <<<"$line")
  s=$(grep -c '<skipped' "$xml")
  passed=$((passed + t - f - e - s))
  failed=$((failed + f + e))
}

run_gtest() {
  local name=$1
  shift
  local xml="$results/$name.xml"
  local target=$xml
  # A Windows program sees the file system through drive Z:.
  [ "$1" = wine ] && target="Z:${xml//\//\\}"
  echo "== $name"
  timeout 600 "$@" --gtest_output="xml:$target" >"$results/$name.log" 2>&1
  local rc=$?
  grep -E '^\[  (FAILED|SKIPPED) |^\[  PASSED|^.*Error: ' "$results/$name.log" | head -40
  # What a failed check said, so a run elsewhere can be read without its logs.
  grep -E -A8 ': Failure$' "$results/$name.log" | head -60
  count_xml "$name" "$xml"
  [ $rc -eq 0 ] || grep -q '<testsuites' "$xml" 2>/dev/null || tail -20 "$results/$name.log"
}

for t in build/native/tests/unit_*; do
  run_gtest "$(basename "$t")" "$t"
done
for t in build/native-asan/tests/unit_*; do
  run_gtest "asan-$(basename "$t")" "$t"
done

# Bounded, seeded runs of the fuzzers (scripts/fuzz.sh; docs/reliability.md has the long ones):
# one result each.
for fuzz in settings:30 stream:20 commands:20; do
  target=${fuzz%%:*}
  echo "== fuzz $target"
  if timeout 600 bash scripts/fuzz.sh --target "$target" --seconds "${fuzz##*:}" --seed 1 \
      >"$results/fuzz-$target.log" 2>&1; then
    passed=$((passed + 1))
    tail -1 "$results/fuzz-$target.log"
  else
    failed=$((failed + 1))
    tail -15 "$results/fuzz-$target.log"
  fi
done

source scripts/lib/testenv.sh
testenv_start
trap 'testenv_stop' EXIT

for t in build/win64/tests/win_*.exe; do
  [ -e "$t" ] || continue
  run_gtest "$(basename "$t" .exe)" wine "$t"
done

export KESTRUNE_BUILD="$root/build/win64"
for t in tests/e2e/*.sh; do
  [ -e "$t" ] || continue
  name=$(basename "$t" .sh)
  echo "== e2e $name"
  if timeout 900 bash "$t" >"$results/e2e-$name.log" 2>&1; then
    passed=$((passed + 1))
    grep -E '^(ok|measured)' "$results/e2e-$name.log"
  else
    failed=$((failed + 1))
    echo "FAILED: e2e $name"
    tail -30 "$results/e2e-$name.log"
  fi
done

rm -rf "$results"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
