#!/usr/bin/env python3
"""Download benchmark: HttpDownloadToFile under Wine against curl, same loopback
server, same 256 MiB file, alternating runs, unlimited and at 12.5 MB/s.

    scripts/bench_download.py [--runs 5] [--mib 256]

Run it after scripts/test.sh has built the test tree (build/). Prints a table of
medians and ratios.
"""
import argparse
import os
import statistics
import subprocess
import sys
import time

root_dir = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(root_dir, "tests", "net"))
from testserver import TestServer  # noqa: E402

chunk_costs = []
BUILD = os.environ.get("BUILD_DIR", os.path.join(root_dir, "build"))
PREFIX = os.path.join(BUILD, "wine-bench")


def wine_env():
    env = dict(os.environ, WINEPREFIX=PREFIX, WINEDEBUG="-all", LANG="ja_JP.UTF-8")
    return env


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run_product(url, out):
    result = subprocess.run(["wine", os.path.join(BUILD, "tests", "download_bench.exe"), url,
                             windows_path(out)], env=wine_env(), capture_output=True, text=True,
                            stdin=subprocess.DEVNULL)
    fields = dict(part.split("=") for part in result.stdout.split())
    if fields.get("ok") != "1":
        raise SystemExit("download_bench failed: " + result.stdout + result.stderr)
    chunk_costs.append((float(fields["chunk_us"]), float(fields["write_us"])))
    return int(fields["bytes"]) / (float(fields["ms"]) / 1000.0)


def run_curl(url, out):
    result = subprocess.run(["curl", "-s", "--cacert", os.path.join(BUILD, "bench", "certs", "ca.pem"),
                             "-o", out, "-w", "%{speed_download}", url],
                            capture_output=True, text=True, check=True)
    return float(result.stdout)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--mib", type=int, default=256)
    args = parser.parse_args()

    work = os.path.join(BUILD, "bench")
    served = os.path.join(work, "served")
    os.makedirs(served, exist_ok=True)
    big = os.path.join(served, "big.bin")
    if not os.path.exists(big) or os.path.getsize(big) != args.mib << 20:
        with open(big, "wb") as f:
            block = os.urandom(1 << 20)
            for _ in range(args.mib):
                f.write(block)
    out = os.path.join(work, "out.bin")
    env = wine_env()
    subprocess.run(["bash", "-c", ". scripts/wine-env.sh '%s'; wine_prefix_ready" % PREFIX],
                   cwd=root_dir, env=env, check=True)

    rows = []
    for label, rate in (("unlimited", None), ("12.5 MB/s", 12_500_000)):
        with TestServer(served, os.path.join(work, "certs"), http_port=0, https_port=0,
                        untrusted_port=None, rate=rate) as server:
            subprocess.run(["wine", os.path.join(BUILD, "tests", "trust_ca.exe"),
                            windows_path(os.path.join(work, "certs", "ca.der"))],
                           env=env, check=True, stdout=subprocess.DEVNULL)
            for scheme in ("http", "https"):
                url = server.url("/files/big.bin", scheme)
                product, curl = [], []
                for _ in range(args.runs):
                    product.append(run_product(url, out))
                    curl.append(run_curl(url, out))
                chunk = statistics.median(c for c, _ in chunk_costs[-args.runs:])
                write = statistics.median(w for _, w in chunk_costs[-args.runs:])
                rows.append((label, scheme, statistics.median(product), statistics.median(curl),
                             chunk, write))
                print("%-10s %-5s product %s  curl %s" % (label, scheme,
                      ["%.1f" % (v / 1e6) for v in product], ["%.1f" % (v / 1e6) for v in curl]),
                      flush=True)
    os.remove(out)
    subprocess.run(["wineserver", "-k"], env=env)

    print()
    print("| link | scheme | HttpDownloadToFile (median MB/s) | curl (median MB/s) | ratio "
          "| µs per 64 KiB | of which the write alone |")
    print("|---|---|---|---|---|---|---|")
    for label, scheme, product, curl, chunk, write in rows:
        print("| %s | %s | %.1f | %.1f | %.2f | %.1f | %.1f |" % (
            label, scheme, product / 1e6, curl / 1e6, product / curl, chunk, write))


if __name__ == "__main__":
    main()
