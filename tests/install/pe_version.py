#!/usr/bin/env python3
"""Prints the version a Windows program's VERSIONINFO gives, as
"FIXED STRING": the fixed block's file version (four numbers, dotted) and
the FileVersion string. Fails when the program has none."""
import struct
import sys

data = open(sys.argv[1], "rb").read()
# VS_FIXEDFILEINFO starts with its signature; the file version's two words
# follow the structure version.
at = data.find(struct.pack("<I", 0xFEEF04BD))
if at < 0:
    sys.exit(f"{sys.argv[1]}: no VERSIONINFO")
high, low = struct.unpack_from("<II", data, at + 8)
fixed = f"{high >> 16}.{high & 0xFFFF}.{low >> 16}.{low & 0xFFFF}"
# The FileVersion string: its key, NUL-ended and padded to four bytes in the
# block, then the value up to its NUL, all UTF-16LE.
key = "FileVersion\0".encode("utf-16-le")
at = data.find(key)
if at < 0:
    sys.exit(f"{sys.argv[1]}: no FileVersion string")
at += len(key)
at += (4 - at % 4) % 4
end = at
while data[end:end + 2] != b"\0\0":
    end += 2
print(fixed, data[at:end].decode("utf-16-le"))
