"""Watches how late an ordinary process wakes up: a sign of the machine's own load, which the
relay under Wine (whose time-critical priority Linux does not grant) feels just as much.

Usage: late-watch.py --out FILE [--ms 20]
Sleeps 10 ms at a time; every wake-up later than --ms past its due time appends a line
    late START END MS          (Unix seconds of the due time and of the wake-up)
and SIGTERM ends it.
"""
import argparse
import signal
import sys
import time


def main():
    p = argparse.ArgumentParser()
    p.add_argument('--out', required=True)
    p.add_argument('--ms', type=float, default=20.0)
    a = p.parse_args()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    out = open(a.out, 'a')
    limit = a.ms / 1000.0
    while True:
        due = time.time() + 0.01
        time.sleep(0.01)
        woke = time.time()
        if woke - due > limit:
            out.write('late %.3f %.3f %.1f\n' % (due, woke, (woke - due) * 1000.0))
            out.flush()


main()
