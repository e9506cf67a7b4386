#!/usr/bin/env python3
"""Feeds a PulseAudio pipe source with a 1 kHz tone (16-bit stereo, 44100 Hz), paced by the
monotonic clock in 10 ms pieces, as a capture device delivers. The FIFO is opened again whenever
it breaks or disappears (the source unloaded and loaded again).
Usage: paced-writer.py [--ppm N] [--level DB] <fifo>
  --ppm N     the device's clock is off by N ppm: RATE x (1 + N / 1e6) frames per second of the
              monotonic clock (default 0)
  --level DB  the tone's peak in dB below full scale (default -20)"""
import argparse
import errno
import math
import os
import struct
import time

RATE = 44100
PIECE = RATE // 100
FREQUENCY = 1000


def tone_table(level_db):
    """One loop of the tone: a whole number of periods (at least a piece's worth of frames), so
    the tone runs on without a step where the table wraps. The length is rounded once, from the
    periods it holds; the tone is then FREQUENCY to within that rounding."""
    periods = max(1, round(PIECE * FREQUENCY / RATE))
    length = round(periods * RATE / FREQUENCY)
    amplitude = 32767 * 10 ** (level_db / 20)
    samples = [round(amplitude * math.sin(2 * math.pi * periods * i / length))
               for i in range(length)]
    return b''.join(struct.pack('<hh', s, s) for s in samples)


def main():
    p = argparse.ArgumentParser(description='Feeds a pipe source with a paced 1 kHz tone.')
    p.add_argument('--ppm', type=float, default=0.0)
    p.add_argument('--level', type=float, default=-20.0)
    p.add_argument('fifo')
    a = p.parse_args()
    if not -100000 < a.ppm < 100000:
        p.error('--ppm must lie within +-100000')
    if not a.level <= 0:
        p.error('--level must be 0 dB or below')
    speed = RATE * (1 + a.ppm / 1e6)
    table = tone_table(a.level)
    frame_bytes = 4
    loop = len(table) // frame_bytes
    # The table twice over and as many times more as a piece needs: any piece is then one slice.
    repeats = 2 + PIECE // loop
    doubled = table * repeats
    piece_bytes = PIECE * frame_bytes
    position = 0
    fd = None
    written = 0
    start = time.monotonic()
    while True:
        if fd is None:
            try:
                fd = os.open(a.fifo, os.O_WRONLY | os.O_NONBLOCK)
            except OSError as e:
                if e.errno not in (errno.ENXIO, errno.ENOENT):
                    raise
                time.sleep(0.005)
                continue
            # From now on paced afresh: a device that comes back starts with fresh audio.
            written = 0
            start = time.monotonic()
        due = int((time.monotonic() - start) * speed)
        if due - written < PIECE:
            time.sleep(0.002)
            continue
        offset = position * frame_bytes
        piece = doubled[offset:offset + piece_bytes]
        try:
            # A piece (1764 bytes) is below PIPE_BUF, so it goes whole or not at all: a part of
            # a frame would shift every sample after it.
            os.write(fd, piece)
        except BlockingIOError:
            # The source reads late; drop the piece as a device would.
            pass
        except OSError:
            os.close(fd)
            fd = None
            continue
        position = (position + PIECE) % loop
        written += PIECE


if __name__ == '__main__':
    main()
