#!/usr/bin/env bash
# The peer link's throughput under Wine: stream blocks delivered by the transport to 1 and to 4
# peer processes, flat out and at a relay's pace (200 blocks a second), with 5 ms (880 bytes)
# and 20 ms (3528 bytes) blocks at 44100 Hz. Needs the win64 build (link-peer.exe is built with
# the Windows tests). Prints one line per case and peer.
#   bench/peer-link.sh [seconds flat] [seconds paced]
set -euo pipefail
cd "$(dirname "$0")/.."
flat=${1:-5}
paced=${2:-10}
exe=build/win64/tests/link-peer.exe
[ -e "$exe" ] || { echo "build the win64 preset first ($exe is missing)"; exit 1; }
source scripts/lib/testenv.sh
testenv_start
trap testenv_stop EXIT
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
for peers in 1 4; do
  for block in 880 3528; do
    wine "$exe" bench --peers "$peers" --block "$block" --seconds "$flat" --paced "$paced" |
      tr -d '\r' | grep '^bench'
  done
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
