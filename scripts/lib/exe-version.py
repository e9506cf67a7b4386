"""Prints the file version of a Windows executable, read from its version resource.

Usage: exe-version.py FILE.exe
Prints "1.0.1.5" (the four parts of VS_FIXEDFILEINFO's file version) and exits 0; exits 1 with
a message when the file has no version resource.

The resource starts with the UTF-16 key "VS_VERSION_INFO"; the fixed part follows it at the next
four-byte boundary (of the resource, which the linker aligns) and begins with 0xFEEF04BD.
"""
import struct
import sys

KEY = 'VS_VERSION_INFO'.encode('utf-16-le') + b'\0\0'
SIGNATURE = 0xFEEF04BD


def file_version(data):
    at = data.find(KEY)
    while at >= 0:
        # The key sits 6 bytes into its block (length, value length, type).
        block = at - 6
        fixed = block + ((6 + len(KEY) + 3) & ~3)
        if block >= 0 and fixed + 16 <= len(data):
            sig, _, ms, ls = struct.unpack_from('<4I', data, fixed)
            if sig == SIGNATURE:
                return '%d.%d.%d.%d' % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
        at = data.find(KEY, at + 1)
    return None


def main():
    with open(sys.argv[1], 'rb') as f:
        version = file_version(f.read())
    if not version:
        sys.stderr.write('%s: no version resource\n' % sys.argv[1])
        return 1
    print(version)
    return 0


if __name__ == '__main__':
    sys.exit(main())
