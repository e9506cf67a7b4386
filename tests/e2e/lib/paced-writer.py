#!/usr/bin/env python3
"""Feeds a PulseAudio pipe source with a 1 kHz tone (16-bit stereo, 44100 Hz, -20 dBFS), paced by
the monotonic clock in 10 ms pieces, as a capture device delivers. The FIFO is opened again
whenever it breaks or disappears (the source unloaded and loaded again).
Usage: paced-writer.py <fifo>"""
import errno
import math
import os
import struct
import sys
import time

RATE = 44100
PIECE = RATE // 100


def main():
    path = sys.argv[1]
    period = [int(3277 * math.sin(2 * math.pi * 1000 * i / RATE)) for i in range(RATE // 1000 * 10)]
    frames = [struct.pack('<hh', s, s) for s in period]
    position = 0
    fd = None
    written = 0
    start = time.monotonic()
    while True:
        if fd is None:
            try:
                fd = os.open(path, os.O_WRONLY | os.O_NONBLOCK)
            except OSError as e:
                if e.errno not in (errno.ENXIO, errno.ENOENT):
                    raise
                time.sleep(0.005)
                continue
            # From now on paced afresh: a device that comes back starts with fresh audio.
            written = 0
            start = time.monotonic()
        due = int((time.monotonic() - start) * RATE)
        if due - written < PIECE:
            time.sleep(0.002)
            continue
        piece = b''.join(frames[(position + i) % len(frames)] for i in range(PIECE))
        try:
            os.write(fd, piece)
        except BlockingIOError:
            # The source reads late; drop the piece as a device would.
            pass
        except OSError:
            os.close(fd)
            fd = None
            continue
        position = (position + PIECE) % len(frames)
        written += PIECE


if __name__ == '__main__':
    main()
