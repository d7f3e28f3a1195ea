#!/usr/bin/env python3
"""Extraction benchmark: ArchiveInstaller under Wine against Info-ZIP unzip (native),
the same 5,000-entry archive of about 200 MiB, alternating runs; then the peak working
set for a 1 MiB and a 1 GiB job.

    scripts/bench_extract.py [--runs 5] [--target FOLDER]

FOLDER (default build/bench-extract/game) is where both extract to: a tmpfs there
takes the disk's own noise out of the comparison.

Run it after scripts/test.sh has built the test tree (build/).
"""
import argparse
import os
import shutil
import statistics
import subprocess
import time
import zipfile

root_dir = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.environ.get("BUILD_DIR", os.path.join(root_dir, "build"))
PREFIX = os.path.join(BUILD, "wine-bench")
WORK = os.path.join(BUILD, "bench-extract")


def wine_env():
    return dict(os.environ, WINEPREFIX=PREFIX, WINEDEBUG="-all", LANG="ja_JP.UTF-8")


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def make_archive(path, entries, entry_bytes):
    """Mod-like content: half text that deflates well, half data that does not."""
    if os.path.exists(path):
        return
    text = (b"<gui><item name=\"marker\" size=\"48\" colour=\"#c0ffee\"/></gui>\n" * 4096)
    with zipfile.ZipFile(path + ".part", "w", zipfile.ZIP_DEFLATED, compresslevel=6) as z:
        for i in range(entries):
            data = os.urandom(entry_bytes // 2) + text[: entry_bytes - entry_bytes // 2]
            z.writestr("res_mods/1.8.0.1/gui/pack%03d/file%05d.dat" % (i // 100, i), data)
    os.rename(path + ".part", path)


def run_product(archive, target):
    shutil.rmtree(target, ignore_errors=True)
    os.makedirs(target)
    start = time.perf_counter()
    result = subprocess.run(["wine", os.path.join(BUILD, "tests", "extract_bench.exe"),
                             windows_path(archive), windows_path(target),
                             windows_path(os.path.join(WORK, "bench.log"))],
                            env=wine_env(), capture_output=True, text=True, stdin=subprocess.DEVNULL)
    wall = time.perf_counter() - start
    fields = dict(part.split("=") for part in result.stdout.split())
    if fields.get("ok") != "1":
        raise SystemExit("extract_bench failed: " + result.stdout + result.stderr)
    return float(fields["ms"]) / 1000.0, wall, int(fields["peak_kib"])


def run_unzip(archive, target):
    shutil.rmtree(target, ignore_errors=True)
    os.makedirs(target)
    start = time.perf_counter()
    subprocess.run(["unzip", "-q", "-o", archive, "-d", target], check=True)
    return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--target", default=os.path.join(WORK, "game"))
    args = parser.parse_args()
    os.makedirs(WORK, exist_ok=True)
    subprocess.run(["bash", "-c", ". scripts/wine-env.sh '%s'; wine_prefix_ready" % PREFIX],
                   cwd=root_dir, env=wine_env(), check=True)

    big = os.path.join(WORK, "5000-entries.zip")
    make_archive(big, 5000, 40 * 1024)
    unpacked = sum(i.file_size for i in zipfile.ZipFile(big).infolist())
    target = args.target
    product, product_wall, unzip = [], [], []
    for _ in range(args.runs):
        seconds, wall, _peak = run_product(big, target)
        product.append(seconds)
        product_wall.append(wall)
        unzip.append(run_unzip(big, target))
        print("product %.2f s (process %.2f s)  unzip %.2f s" % (seconds, wall, unzip[-1]), flush=True)

    small = os.path.join(WORK, "1mib.zip")
    large = os.path.join(WORK, "1gib.zip")
    make_archive(small, 16, 64 * 1024)
    make_archive(large, 1024, 1024 * 1024)
    peaks = {}
    for label, path in (("1 MiB", small), ("1 GiB", large)):
        peaks[label] = run_product(path, target)[2]
    shutil.rmtree(target, ignore_errors=True)
    subprocess.run(["wineserver", "-k"], env=wine_env())

    mp, mu = statistics.median(product), statistics.median(unzip)
    print()
    print("Archive: 5,000 entries, %.0f MiB unpacked, %.0f MiB packed"
          % (unpacked / 2**20, os.path.getsize(big) / 2**20))
    print("| extractor | median s | MiB/s | ratio to unzip |")
    print("|---|---|---|---|")
    print("| ArchiveInstaller (Wine) | %.2f | %.0f | %.2f |" % (mp, unpacked / 2**20 / mp, mu / mp))
    print("| ArchiveInstaller, whole process | %.2f | %.0f | %.2f |"
          % (statistics.median(product_wall), unpacked / 2**20 / statistics.median(product_wall),
             mu / statistics.median(product_wall)))
    print("| unzip (native) | %.2f | %.0f | 1.00 |" % (mu, unpacked / 2**20 / mu))
    print()
    print("| job | peak working set |")
    print("|---|---|")
    for label, kib in peaks.items():
        print("| %s | %.1f MiB |" % (label, kib / 1024))


if __name__ == "__main__":
    main()
