"""Records a PulseAudio source with parec and reports its silent stretches as they happen.

Usage: silence-scan.py --device SOURCE --label NAME --out FILE [--min-ms 50] [--threshold 100]

Appends to FILE, one line each (times are Unix seconds, from the arrival of the audio):
    gap NAME START END MS EDGE      a stretch where every sample of both channels stayed within
                                    +-threshold for at least min-ms; EDGE is 1 when the stretch
                                    touches the start or the end of the recording
    session NAME START END FRAMES   one recording, from its first to its last audio
Nothing else is kept: the audio is looked at as it comes and dropped. SIGTERM ends the
recording (parec first); then the last lines are written.
"""
import argparse
import array
import signal
import subprocess
import sys
import time

RATE = 44100
FRAME = 4
STEP = 1024  # frames looked at together; only their first and last loud frame matter


def main():
    p = argparse.ArgumentParser()
    p.add_argument('--device', required=True)
    p.add_argument('--label', required=True)
    p.add_argument('--out', required=True)
    p.add_argument('--min-ms', type=float, default=50.0)
    p.add_argument('--threshold', type=int, default=100)
    a = p.parse_args()

    rec = subprocess.Popen(['parec', '--device=' + a.device, '--format=s16le',
                            '--rate=%d' % RATE, '--channels=2', '--raw', '--latency-msec=20'],
                           stdout=subprocess.PIPE)

    def stop(*_):
        if rec.poll() is None:
            rec.terminate()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)

    out = open(a.out, 'a')

    def emit(line):
        out.write(line + '\n')
        out.flush()

    t = a.threshold
    min_frames = max(1, int(a.min_ms * RATE / 1000))
    frames = 0            # frames read so far
    last_loud = -1        # the last frame above the threshold
    last_loud_time = None
    first_time = last_time = None
    pending = b''

    def loud(s, i):
        l, r = s[2 * i], s[2 * i + 1]
        return l > t or l < -t or r > t or r < -t

    while True:
        chunk = rec.stdout.read1(65536)
        if not chunk:
            break
        now = time.time()
        data = pending + chunk
        usable = len(data) // FRAME * FRAME
        pending = data[usable:]
        n = usable // FRAME
        if n == 0:
            continue
        s = array.array('h')
        s.frombytes(data[:usable])
        if sys.byteorder == 'big':
            s.byteswap()
        # The chunk's last frame arrived now, the others 1/RATE apart before it.
        base = now - n / RATE
        if first_time is None:
            first_time = base
            last_loud_time = base - 1.0 / RATE
        last_time = now
        for start in range(0, n, STEP):
            end = min(n, start + STEP)
            part = s[2 * start:2 * end]
            if max(part) <= t and min(part) >= -t:
                continue
            first = start
            while not loud(s, first):
                first += 1
            quiet = frames + first - last_loud - 1
            if quiet >= min_frames:
                emit('gap %s %.3f %.3f %.1f %d' % (a.label, last_loud_time + 1.0 / RATE,
                                                    base + first / RATE, quiet * 1000.0 / RATE,
                                                    1 if last_loud < 0 else 0))
            last = end - 1
            while not loud(s, last):
                last -= 1
            last_loud = frames + last
            last_loud_time = base + last / RATE
        frames += n
    if first_time is not None:
        quiet = frames - last_loud - 1
        if quiet >= min_frames:
            emit('gap %s %.3f %.3f %.1f 1' % (a.label, last_loud_time + 1.0 / RATE, last_time,
                                               quiet * 1000.0 / RATE))
        emit('session %s %.3f %.3f %d' % (a.label, first_time, last_time, frames))
    rec.wait()


main()
