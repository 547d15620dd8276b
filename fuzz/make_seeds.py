#!/usr/bin/env python3
"""Writes the seed inputs of the partition_table and input_field targets.

A partition_table input is an 11-byte header (cylinders, heads and sectors
per track as IDENTIFY reports them, a flag byte, a bad sector) followed by the
card image from sector 0; see partition_table_entry.cpp.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
FULL, BAD, NO_LETTER, PLAN, WIN95, WRITE = 1, 2, 4, 8, 16, 32


def chs(c, h, s):
    return bytes([h, ((c >> 2) & 0xC0) | s, c & 0xFF])


def entry(kind, start, end, first, count):
    return bytes([0]) + chs(*start) + bytes([kind]) + chs(*end) + struct.pack("<II", first, count)


def mbr(entries, boot=b""):
    sector = bytearray(512)
    sector[: len(boot)] = boot
    for i, e in enumerate(entries):
        sector[446 + 16 * i: 462 + 16 * i] = e
    sector[510:512] = b"\x55\xaa"
    return bytes(sector)


def fat16_boot(label=b"CARD       ", system=b"FAT16   ", at=43):
    sector = bytearray(512)
    sector[0:3] = b"\xeb\x00\x90"
    sector[at: at + 11] = label
    sector[at + 11: at + 19] = system
    sector[510:512] = b"\x55\xaa"
    return bytes(sector)


def card(c, h, s, flags, image, bad=0):
    return struct.pack("<HHHBI", c, h, s, flags, bad) + image


def write(folder, name, data):
    path = os.path.join(HERE, "corpus", folder, name)
    with open(path, "wb") as f:
        f.write(data)


def partition_seeds():
    fat16 = mbr([entry(6, (0, 1, 1), (489, 7, 32), 32, 125408)])
    image = fat16 + bytes(512 * 31) + fat16_boot()
    write("partition_table", "fat16-64mb", card(490, 8, 32, FULL, image))
    write("partition_table", "fat16-64mb-planned", card(490, 8, 32, FULL | PLAN | WRITE, image))
    fat32 = mbr([entry(11, (0, 1, 1), (1023, 254, 63), 63, 16450497)])
    boot32 = fat16_boot(b"DATA       ", b"FAT32   ", 71)
    write("partition_table", "fat32-label",
          card(16383, 16, 63, FULL | PLAN, fat32 + bytes(512 * 62) + boot32))
    write("partition_table", "fat32-written",
          card(4162, 16, 63, FULL | PLAN | WRITE, fat32))
    extended = mbr([entry(5, (i * 10, 0, 1), (i * 10 + 9, 7, 32), 0, 2560) for i in range(4)])
    write("partition_table", "four-extended", card(490, 8, 32, FULL, extended))
    past = mbr([entry(6, (1023, 255, 63), (1023, 255, 63), 0xFFFFFFF0, 0xFFFFFFFF),
                entry(7, (600, 7, 32), (700, 7, 32), 153600, 25600)])
    write("partition_table", "past-the-card", card(490, 8, 32, FULL, past))
    write("partition_table", "truncated-mbr", card(490, 8, 32, 0, fat16[:300]))
    write("partition_table", "short-image", card(490, 8, 32, PLAN | WRITE, image))
    write("partition_table", "bad-boot-sector", card(490, 8, 32, FULL | BAD, image, 32))
    write("partition_table", "no-letter", card(490, 8, 32, FULL | NO_LETTER, image))
    write("partition_table", "no-geometry", card(0, 0, 0, FULL, image))
    write("partition_table", "broken-identify", card(0x8000, 16, 63, FULL, image))
    write("partition_table", "64-sectors", card(1000, 16, 64, FULL, image))
    write("partition_table", "many-heads", card(65535, 255, 63, FULL | PLAN, image))
    write("partition_table", "too-small", card(60, 16, 32, FULL | PLAN | WRITE, b""))
    write("partition_table", "windows-95-2gb", card(4162, 16, 63, FULL | PLAN | WIN95, fat32))
    write("partition_table", "windows-95-fat16", card(1016, 16, 63, FULL | PLAN | WIN95 | WRITE, b""))
    write("partition_table", "one-sector", card(1, 1, 1, FULL | PLAN | WRITE, fat16))
    # Starts written in other geometries: (0, 32, 33) of a 255-head view,
    # FE FF FF past its cylinder 1023, sector 0, each with its first sector
    # on the card; one more whose first sector is past the card.
    foreign = mbr([entry(6, (0, 32, 33), (7, 206, 7), 40, 2048),
                   entry(11, (1023, 254, 63), (1023, 254, 63), 50, 4096),
                   entry(4, (0, 0, 0), (0, 0, 0), 45, 100),
                   entry(6, (1023, 254, 63), (1023, 254, 63), 0xFFFFFF00, 4096)])
    sectors = [foreign] + [bytes(512)] * 50
    sectors[40] = fat16_boot(b"SFDISK     ")
    sectors[45] = fat16_boot(b"SECTOR ZERO")
    sectors[50] = fat16_boot(b"LBA ONLY   ", b"FAT32   ", 71)
    image = b"".join(sectors)
    write("partition_table", "foreign-chs", card(490, 8, 32, FULL | PLAN | WRITE, image))
    write("partition_table", "foreign-chs-bad", card(490, 8, 32, FULL | BAD, image, 50))
    write("partition_table", "foreign-chs-short", card(490, 8, 32, 0, image[:512 * 46]))
    write("partition_table", "doubled-cylinders", card(4096, 300, 63, FULL, foreign))
    garbage = bytes((i * 131 + 7) & 0xFF for i in range(4096))
    write("partition_table", "garbage", card(100, 4, 17, FULL | PLAN, garbage))


def input_seeds():
    # column, row, default, allowed count, allowed, keys
    write("input_field", "menu-enter", bytes([20, 20, ord("1"), 3]) + b"12L" + b"\r")
    write("input_field", "menu-two", bytes([20, 20, ord("1"), 3]) + b"12L" + b"2\r")
    write("input_field", "confirm-yes", bytes([52, 13, ord("N"), 2]) + b"YN" + b"y\r")
    write("input_field", "refused-keys", bytes([52, 13, ord("N"), 2]) + b"YN" + b"x\x08\x08\r\x00;\xe0Hy\r")
    write("input_field", "no-default", bytes([0, 0, 0, 1]) + b"A" + b"\r\x08a\r")


if __name__ == "__main__":
    partition_seeds()
    input_seeds()
