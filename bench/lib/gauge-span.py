"""The program's queue gauge over a span of time, from the lines `kestrune-probe follow GBuffer`
wrote: each line is a local time to the millisecond and the text from then on ("  98 ms").

Usage: gauge-span.py FOLLOWED.txt FROM TO
FROM and TO are Unix times in nanoseconds (`date +%s%N`); the machine's clock is taken as
local time, as Wine's is. Prints "<mean ms> <least ms> <most ms>", the mean weighted by how long
each reading stood, or "nan nan nan" when no reading falls in the span.
"""
import datetime
import re
import sys

LINE = re.compile(r'(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3})\s+(-?\d+) ms')


def readings(path):
    found = []
    for line in open(path, errors='replace'):
        m = LINE.match(line)
        if m:
            t = datetime.datetime.strptime(m.group(1), '%Y-%m-%d %H:%M:%S.%f').timestamp()
            found.append((t, float(m.group(2))))
    return found


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    first, last = int(sys.argv[2]) / 1e9, int(sys.argv[3]) / 1e9
    points = readings(sys.argv[1])
    area = span = 0.0
    seen = []
    for i, (t, v) in enumerate(points):
        end = points[i + 1][0] if i + 1 < len(points) else last
        a, b = max(t, first), min(end, last)
        if b > a:
            area += v * (b - a)
            span += b - a
            seen.append(v)
    if span > 0:
        print('%.1f %.0f %.0f' % (area / span, min(seen), max(seen)))
    else:
        print('nan nan nan')


main()
