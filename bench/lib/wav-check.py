"""Checks that a WAV file written by kestrune-ctl describes itself: 16-bit stereo PCM, and the
RIFF and data sizes of its header match the file's length.

Usage: wav-check.py FILE.wav
Prints "header ok: N frames at R Hz" and exits 0, or "header BAD: why" and exits 1.
"""
import os
import struct
import sys


def check(path):
    size = os.path.getsize(path)
    if size < 44:
        return 'header BAD: %d bytes, shorter than a header' % size
    with open(path, 'rb') as f:
        h = f.read(44)
    riff, riff_size, wave, fmt, fmt_size = struct.unpack('<4sI4s4sI', h[:20])
    tag, channels, rate, byte_rate, align, bits = struct.unpack('<HHIIHH', h[20:36])
    data, data_size = struct.unpack('<4sI', h[36:44])
    if (riff, wave, fmt, data) != (b'RIFF', b'WAVE', b'fmt ', b'data') or fmt_size != 16:
        return 'header BAD: not a plain PCM WAV header'
    if (tag, channels, bits, align) != (1, 2, 16, 4) or byte_rate != rate * 4:
        return 'header BAD: format %d, %d channels, %d bits, align %d' % (tag, channels, bits, align)
    if riff_size != size - 8:
        return 'header BAD: RIFF size %d, file %d bytes (expected %d)' % (riff_size, size, size - 8)
    if data_size != size - 44:
        return 'header BAD: data size %d, file holds %d bytes of data' % (data_size, size - 44)
    if data_size % 4:
        return 'header BAD: data size %d is not whole frames' % data_size
    return 'header ok: %d frames at %d Hz' % (data_size // 4, rate)


if __name__ == '__main__':
    text = check(sys.argv[1]) if os.path.exists(sys.argv[1]) else 'header BAD: no file'
    print(text)
    sys.exit(0 if text.startswith('header ok') else 1)
