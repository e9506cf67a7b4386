"""Median delay in ms of a click train between two raw s16le stereo 44.1 kHz recordings that
started together.

Usage: click-delay.py INPUT.raw OUTPUT.raw [FROM TO]
       click-delay.py --each INPUT.raw OUTPUT.raw [ZERO]
With FROM and TO (seconds into the recordings) only the input's clicks in that span count.
Prints "<median ms> <clicks matched>", or "nan 0" when no click could be matched. With --each,
one line per matched click instead: its time in seconds after ZERO (seconds into the
recordings, 0 if not given) and its delay in ms.
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


def matched(inputs, outputs):
    """(input click, delay in ms) for every input click followed by an output one."""
    for x in inputs:
        later = [y - x for y in outputs if 0 <= y - x < RATE // 2]
        if later:
            yield x, min(later) * 1000.0 / RATE


def main():
    args = sys.argv[1:]
    if args[:1] == ['--each'] and len(args) in (3, 4):
        zero = float(args[3]) if len(args) == 4 else 0.0
        for x, d in matched(onsets(args[1]), onsets(args[2])):
            print('%.2f %.1f' % (x / RATE - zero, d))
        return
    if len(args) not in (2, 4):
        sys.exit(__doc__)
    inputs, outputs = onsets(args[0]), onsets(args[1])
    if len(args) == 4:
        first, last = float(args[2]) * RATE, float(args[3]) * RATE
        inputs = [x for x in inputs if first <= x < last]
    delays = [d for _, d in matched(inputs, outputs)]
    delays.sort()
    if delays:
        print('%.1f %d' % (delays[len(delays) // 2], len(delays)))
    else:
        print('nan 0')


main()
