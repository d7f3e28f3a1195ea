#!/usr/bin/env python3
"""Writes the three sample mods a demo server hands out, under the keys the test
build's catalogue URLs ask for:

    velloa          the voice package (a single .smpkg file)
    fieldwatch      a zip with nested and Japanese names, plus a readme left out
    qvx-8.3.5.zip   a zip whose mod files sit below a wrapper folder

    make_sample_mods.py OUTDIR
"""
import os
import sys
import zipfile


def package_bytes(name, size):
    header = b"SMPKG\x01\x00" + name.encode() + b"\x00"
    body = bytes((i * 37 + 11) & 0xFF for i in range(size))
    return header + body


def write_zip(path, entries):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in entries:
            if name.endswith("/"):
                archive.writestr(zipfile.ZipInfo(name), b"")
            else:
                archive.writestr(name, data)


def main(out):
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, "velloa"), "wb") as f:
        f.write(package_bytes("velloa_simple_voice", 300_000))

    write_zip(os.path.join(out, "fieldwatch"), [
        ("res_mods/", b""),
        ("res_mods/1.8.0.1/", b""),
        ("res_mods/1.8.0.1/gui/fieldwatch/設定.xml",
         "<fieldwatch>\n  <範囲>565</範囲>\n</fieldwatch>\n".encode()),
        ("res_mods/1.8.0.1/gui/fieldwatch/icons/marker.png", bytes(range(256)) * 40),
        ("mods/1.8.0.1/fieldwatch/fieldwatch.smpkg", package_bytes("fieldwatch", 120_000)),
        ("readme.txt", b"Fieldwatch: shows where the enemy was last seen.\n"),
    ])

    write_zip(os.path.join(out, "qvx-8.3.5.zip"), [
        ("qvx-8.3.5/", b""),
        ("qvx-8.3.5/res_mods/1.8.0.1/scripts/client/gui/mods/qvx_設定.json",
         '{"言語": "日本語", "表示": true}\n'.encode()),
        ("qvx-8.3.5/mods/1.8.0.1/qvx/コア.smpkg", package_bytes("qvx_core", 250_000)),
        ("qvx-8.3.5/mods/configs/qvx/battle/打撃.xml", b"<hit/>\n" * 500),
        ("qvx-8.3.5/QVX使い方.txt", "説明書\n".encode()),
    ])


if __name__ == "__main__":
    main(sys.argv[1])
