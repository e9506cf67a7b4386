"""Checks a WAV recording of the counting signal of ramp-gen.py.

Usage: ramp-check.py FILE.wav [FRAMES_PER_BLOCK]
Prints one line, then one line for each of the first ten faults ("at S s: ..."):
    frames=N lost=N drops=N silent=N damaged=N first-drop-at=S
lost: frames missing where the count jumps forward (drops: how many such places; with
FRAMES_PER_BLOCK also lost-blocks=N); silent: all-zero frames, which the input's own player
inserts when it runs short (the count then goes on where it stopped, so nothing is lost);
damaged: frames whose right sample is not the left's complement, or where the count goes back.
"""
import array
import sys


def main():
    path = sys.argv[1]
    per_block = int(sys.argv[2]) if len(sys.argv) > 2 else 0
    with open(path, 'rb') as f:
        data = f.read()[44:]
    s = array.array('h')
    s.frombytes(data[:len(data) // 4 * 4])
    if sys.byteorder == 'big':
        s.byteswap()
    n = len(s) // 2
    lost = drops = silent = damaged = 0
    first_drop = None
    prev = None
    events = []
    for i in range(n):
        l, r = s[2 * i], s[2 * i + 1]
        if l == 0 and r == 0:
            silent += 1
            continue
        if r != -l - 1:
            damaged += 1
            events.append('at %.3f s: right %d does not match left %d' % (i / 44100.0, r, l))
            continue
        if prev is not None:
            step = (l - prev) % 65536
            if step != 1:
                # A jump forward by less than half the period is a loss; anything else a fault.
                if 1 < step < 32768:
                    lost += step - 1
                    drops += 1
                    if first_drop is None:
                        first_drop = i / 44100.0
                    events.append('at %.3f s: %d frames missing' % (i / 44100.0, step - 1))
                else:
                    damaged += 1
                    events.append('at %.3f s: the count goes from %d to %d' % (i / 44100.0, prev, l))
        prev = l
    line = 'frames=%d lost=%d drops=%d silent=%d damaged=%d' % (n, lost, drops, silent, damaged)
    if per_block:
        line += ' lost-blocks=%.1f' % (lost / per_block)
    line += ' first-drop-at=%s' % ('%.2f' % first_drop if first_drop is not None else '-')
    print(line)
    for e in events[:10]:
        print('  ' + e)


main()
