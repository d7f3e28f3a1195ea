#!/usr/bin/env python3
"""Writes the zip archives the unit tests install, with real zip writers.

Usage: make_archives.py OUTDIR

Python's zipfile writes most of them (it also compresses with bzip2 and LZMA, which
the installer must refuse); Info-ZIP's zip packs a real folder tree, directory
entries included. Damaged archives are real ones with bytes changed afterwards.
Every file entry holds its own name as data, so a test can tell what went where.
Standard library only.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile

STORED, DEFLATED = zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED


def write(path, entries):
    """entries: (name, method) pairs; a name ending in "/" is a directory entry."""
    with zipfile.ZipFile(path, "w") as archive:
        for name, method in entries:
            info = zipfile.ZipInfo(name, date_time=(2024, 5, 1, 12, 0, 0))
            info.compress_type = method
            if name.endswith("/"):
                info.external_attr = 0o40755 << 16 | 0x10
                archive.writestr(info, b"")
            else:
                archive.writestr(info, name.encode("utf-8"))


def data_offset(path, name):
    """Where an entry's data starts, from its local header."""
    with zipfile.ZipFile(path) as archive:
        info = archive.getinfo(name)
    with open(path, "rb") as f:
        f.seek(info.header_offset)
        header = f.read(30)
    name_length, extra_length = struct.unpack("<HH", header[26:30])
    return info.header_offset + 30 + name_length + extra_length, info


def central_entry_offset(path, name):
    with zipfile.ZipFile(path) as archive:
        start = archive.start_dir
    with open(path, "rb") as f:
        blob = f.read()
    at = start
    while blob[at:at + 4] == b"PK\x01\x02":
        name_length, extra_length, comment_length = struct.unpack("<HHH", blob[at + 28:at + 34])
        if blob[at + 46:at + 46 + name_length] == name.encode("utf-8"):
            return at
        at += 46 + name_length + extra_length + comment_length
    raise KeyError(name)


def patch(path, offset, data):
    with open(path, "r+b") as f:
        f.seek(offset)
        f.write(data)


def flip_data_byte(path, name):
    start, info = data_offset(path, name)
    middle = start + info.compress_size // 2
    with open(path, "rb") as f:
        f.seek(middle)
        byte = f.read(1)[0]
    patch(path, middle, bytes([byte ^ 0x55]))


def main(out):
    os.makedirs(out, exist_ok=True)

    # Where each kind of name goes: selected by a case-sensitive "mods" anywhere.
    write(os.path.join(out, "mapping.zip"), [
        ("res_mods/", STORED),
        ("res_mods/1.8.0.1/gui/a.xml", DEFLATED),
        ("mods/1.8.0.1/b.txt", STORED),
        ("pack/res_mods/c.xml", DEFLATED),
        ("docs/mods_list.txt", DEFLATED),
        ("Mods/d.txt", DEFLATED),
        ("readme.txt", STORED),
        ("x/mods.txt", STORED),
        ("pack/mods/e.txt", DEFLATED),
        ("mods/empty/", STORED),
        # UTF-8 flagged; the last byte of "ボ" (E3 83 9C) looks like a Shift_JIS lead byte.
        ("mods/ボ/", STORED),
        ("mods/音声/ボイス.txt", DEFLATED),
    ])

    # An entry the installer cannot decompress, between two it can.
    bzip2 = os.path.join(out, "bzip2_middle.zip")
    write(bzip2, [("mods/1.txt", DEFLATED), ("mods/2.txt", zipfile.ZIP_BZIP2),
                  ("mods/3.txt", STORED)])
    lzma = os.path.join(out, "lzma_middle.zip")
    write(lzma, [("mods/1.txt", STORED), ("notes.txt", zipfile.ZIP_LZMA),
                 ("mods/3.txt", DEFLATED)])

    write(os.path.join(out, "empty.zip"), [])
    with open(os.path.join(out, "not_a_zip.zip"), "wb") as f:
        f.write(b"<html><body>404 Not Found</body></html>\n")
    with open(os.path.join(out, "mapping.zip"), "rb") as f:
        whole = f.read()
    with open(os.path.join(out, "truncated.zip"), "wb") as f:
        f.write(whole[:len(whole) // 2])

    # One damaged entry between two good ones, for each way the damage shows: a flipped
    # byte in stored and in deflated data, and a stored entry whose headers promise more
    # bytes than it holds (its CRC still matches).
    text = "".join(chr(0x41 + (i * 7919) % 57) for i in range(3000))
    for bad, method in (("stored_bad", STORED), ("deflated_bad", DEFLATED), ("short", STORED)):
        damaged = os.path.join(out, f"damaged_{bad}.zip")
        with zipfile.ZipFile(damaged, "w") as archive:
            for name, kind in [("mods/good.txt", DEFLATED), (f"mods/{bad}.txt", method),
                               ("mods/after.txt", DEFLATED)]:
                info = zipfile.ZipInfo(name, date_time=(2024, 5, 1, 12, 0, 0))
                info.compress_type = kind
                archive.writestr(info, name + "\n" + text)
        if bad == "short":
            start, info = data_offset(damaged, "mods/short.txt")
            bigger = struct.pack("<I", info.file_size + 10)
            patch(damaged, info.header_offset + 22, bigger)
            patch(damaged, central_entry_offset(damaged, "mods/short.txt") + 24, bigger)
        else:
            flip_data_byte(damaged, f"mods/{bad}.txt")

    # A mod and its update, which is damaged after it has replaced some of the mod's
    # files, some of the game's and added new ones: the update cannot go in whole.
    with zipfile.ZipFile(os.path.join(out, "whole_first.zip"), "w") as archive:
        for i in range(3):
            archive.writestr(f"res_mods/1.8.0.1/gui/orig/{i}.xml", f"first {i}")
        for i in range(5):
            archive.writestr(f"mods/1.8.0.1/fw/n{i}.txt", f"first n{i}")
    update = os.path.join(out, "update_damaged.zip")
    with zipfile.ZipFile(update, "w") as archive:
        for i in range(4):
            archive.writestr(f"res_mods/1.8.0.1/gui/orig/{i}.xml", f"update {i}")
        for i in range(3):
            archive.writestr(f"mods/1.8.0.1/fw/n{i}.txt", f"update n{i}")
            archive.writestr(f"mods/1.8.0.1/fw/new/deeper/m{i}.txt", f"update m{i}")
        archive.writestr("mods/1.8.0.1/fw/bad.txt", text)
        archive.writestr("mods/1.8.0.1/fw/z.txt", "after the damage")
    flip_data_byte(update, "mods/1.8.0.1/fw/bad.txt")

    # Info-ZIP packing a folder as a user would, with its directory entries and
    # non-ASCII names stored as the file system's UTF-8 bytes without the flag.
    tree = tempfile.mkdtemp()
    try:
        files = ["pack/res_mods/1.8.0.1/gui/x.xml", "pack/mods/1.8.0.1/y.txt",
                 "pack/mods/ボ/日本語.txt", "pack/readme.txt"]
        for name in files:
            path = os.path.join(tree, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(name.encode("utf-8"))
        os.makedirs(os.path.join(tree, "pack", "mods", "empty"))
        target = os.path.abspath(os.path.join(out, "infozip_tree.zip"))
        if os.path.exists(target):
            os.remove(target)
        subprocess.run(["zip", "-r", "-X", "-q", target, "pack"], cwd=tree, check=True)
    finally:
        shutil.rmtree(tree)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: make_archives.py OUTDIR")
    main(sys.argv[1])
