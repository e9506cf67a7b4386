"""Writes a counting signal to standard output without end, for pacat: raw 16-bit stereo whose
left sample counts up by one every frame (wrapping at 65536) and whose right sample is the
left's complement. ramp-check.py finds every lost, repeated or damaged frame of it.
"""
import struct
import sys


def main():
    period = b''.join(struct.pack('<hh', i - 32768, 32767 - i) for i in range(65536))
    out = sys.stdout.buffer
    try:
        while True:
            out.write(period)
    except (BrokenPipeError, KeyboardInterrupt):
        pass


main()
