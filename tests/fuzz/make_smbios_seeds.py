#!/usr/bin/env python3
"""Writes the SMBIOS fuzz target's seeds: provider data (the 8-byte header,
then the table) for the layouts firmware ships. Run from anywhere:

  tests/fuzz/make_smbios_seeds.py tests/fuzz/corpus/smbios
"""
import os
import struct
import sys


def structure(kind, length, handle, fields=(), strings=()):
    body = bytearray(length)
    body[0], body[1] = kind, length
    body[2:4] = struct.pack("<H", handle)
    for offset, value in fields:
        body[offset] = value
    out = bytes(body)
    for s in strings:
        out += s.encode() + b"\0"
    return out + (b"\0" if strings else b"\0\0")


def provider(major, minor, table):
    return struct.pack("<BBBBI", 0, major, minor, 0, len(table)) + table


def bios(length):
    return structure(0, length, 0, [(4, 1), (5, 2), (8, 3)], ["Odrano", "1.02", "03/14/2019"])


def system(length, uuid=True):
    s = bytearray(structure(1, length, 1, [(4, 1), (5, 2), (6, 3), (7, 4)],
                            ["Maker", "Model 7", "v1", "SN-0042"]))
    if uuid and length >= 0x18:
        s[8:24] = bytes(range(0x10, 0x20))
    return bytes(s)


def board():
    return structure(2, 0x0F, 2, [(4, 1), (5, 2), (6, 3), (7, 4)], ["Maker", "Board X", "rev A", "BRD-9"])


def memory(handle, serial):
    return structure(17, 0x22, handle, [(0x18, 1)], [serial])


def end():
    return structure(127, 4, 0xFFFF)


SEEDS = {
    "v20_no_uuid": provider(2, 0, bios(0x12) + system(0x08, uuid=False) + end()),
    "v24_memory": provider(2, 4, bios(0x18) + system(0x1B) + board() + memory(0x20, "M1") + memory(0x21, "M2") + end()),
    "v32": provider(3, 2, bios(0x1A) + system(0x1B) + board() + end()),
    "cut_short": provider(2, 4, (bios(0x18) + system(0x1B))[:-7]),
}

if __name__ == "__main__":
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
