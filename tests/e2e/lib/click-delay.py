"""Median delay in ms of a click train between two raw s16le stereo 44.1 kHz recordings that
started together.

Usage: click-delay.py INPUT.raw OUTPUT.raw [FROM TO]
With FROM and TO (seconds into the recordings) only the input's clicks in that span count.
Prints "<median ms> <clicks matched>", or "nan 0" when no click could be matched.
"""
import struct
import sys

RATE = 44100


def onsets(path):
    data = open(path, 'rb').read()
    n = len(data) // 4
    left = struct.unpack('<%dh' % (n * 2), data[:n * 4])[0::2]
    found, last = [], -RATE
    for i, v in enumerate(left):
        # A click is a loud sample (above any quieter tone still playing) at least half a second
        # after the previous one.
        if abs(v) > 10000 and i - last > RATE // 2:
            found.append(i)
            last = i
    return found


def main():
    if len(sys.argv) not in (3, 5):
        sys.exit(__doc__)
    inputs, outputs = onsets(sys.argv[1]), onsets(sys.argv[2])
    if len(sys.argv) == 5:
        first, last = float(sys.argv[3]) * RATE, float(sys.argv[4]) * RATE
        inputs = [x for x in inputs if first <= x < last]
    delays = []
    for x in inputs:
        later = [y - x for y in outputs if 0 <= y - x < RATE // 2]
        if later:
            delays.append(min(later) * 1000.0 / RATE)
    delays.sort()
    if delays:
        print('%.1f %d' % (delays[len(delays) // 2], len(delays)))
    else:
        print('nan 0')


main()
