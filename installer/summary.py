#!/usr/bin/env python3
"""Gives an MSI fixed summary information, in place: the package code and the creation and
last-saved times. wixl draws a random package code and stamps the build's clock time, so two builds
of one commit would differ in these alone.
    installer/summary.py PACKAGE.msi {PACKAGE-CODE} EPOCH-SECONDS
The MSI is a compound file; the summary stream keeps its size, so its bytes are rewritten where
they lie."""
import struct
import sys

SUMMARY = "\x05SummaryInformation"
PID_REVNUMBER, PID_CREATE_DTM, PID_LASTSAVE_DTM = 9, 12, 13
VT_LPSTR, VT_FILETIME = 30, 64
END_OF_CHAIN = 0xFFFFFFFE


def chain(table, start):
    while start != END_OF_CHAIN:
        yield start
        start = table[start]


def stream_offsets(data):
    """File offsets of each byte of the summary stream."""
    sector = 1 << struct.unpack_from("<H", data, 0x1E)[0]
    mini = 1 << struct.unpack_from("<H", data, 0x20)[0]
    fat_sectors, first_dir = struct.unpack_from("<II", data, 0x2C)
    cutoff, first_minifat = struct.unpack_from("<II", data, 0x38)
    if struct.unpack_from("<I", data, 0x48)[0] != 0:
        sys.exit("summary.py: compound files with more than 109 FAT sectors are not handled")
    at = lambda s: sector + s * sector  # noqa: E731
    fat = []
    for s in struct.unpack_from("<%dI" % fat_sectors, data, 0x4C):
        fat.extend(struct.unpack_from("<%dI" % (sector // 4), data, at(s)))
    entries = []
    for s in chain(fat, first_dir):
        for i in range(sector // 128):
            entries.append(data[at(s) + i * 128 : at(s) + (i + 1) * 128])
    names = {e[: struct.unpack_from("<H", e, 64)[0]].decode("utf-16-le").rstrip("\0"): e for e in entries}
    root, entry = entries[0], names[SUMMARY]
    start, size = struct.unpack_from("<IQ", entry, 116)
    if size >= cutoff:
        offsets = [at(s) + i for s in chain(fat, start) for i in range(sector)]
    else:
        minifat = []
        for s in chain(fat, first_minifat):
            minifat.extend(struct.unpack_from("<%dI" % (sector // 4), data, at(s)))
        container = [at(s) + i for s in chain(fat, struct.unpack_from("<I", root, 116)[0]) for i in range(sector)]
        offsets = [container[m * mini + i] for m in chain(minifat, start) for i in range(mini)]
    return offsets[:size]


def main(path, package_code, epoch):
    with open(path, "rb") as f:
        data = bytearray(f.read())
    offsets = stream_offsets(data)
    stream = bytearray(data[o] for o in offsets)
    section = struct.unpack_from("<I", stream, 28 + 16)[0]
    count = struct.unpack_from("<I", stream, section + 4)[0]
    filetime = (int(epoch) + 11644473600) * 10_000_000
    done = set()
    for i in range(count):
        pid, offset = struct.unpack_from("<II", stream, section + 8 + i * 8)
        value = section + offset
        kind = struct.unpack_from("<I", stream, value)[0]
        if pid == PID_REVNUMBER and kind == VT_LPSTR:
            length = struct.unpack_from("<I", stream, value + 4)[0]
            code = package_code.encode("ascii") + b"\0"
            if len(code) != length:
                sys.exit("summary.py: the package code must be a braced GUID like the one it replaces")
            stream[value + 8 : value + 8 + length] = code
            done.add(pid)
        elif pid in (PID_CREATE_DTM, PID_LASTSAVE_DTM) and kind == VT_FILETIME:
            struct.pack_into("<Q", stream, value + 4, filetime)
            done.add(pid)
    if done != {PID_REVNUMBER, PID_CREATE_DTM, PID_LASTSAVE_DTM}:
        sys.exit("summary.py: %s lacks the package code or a date" % path)
    for o, b in zip(offsets, stream):
        data[o] = b
    with open(path, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    main(*sys.argv[1:])
