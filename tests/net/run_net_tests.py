#!/usr/bin/env python3
"""Runs the network tests (net_tests.exe under Wine) against the loopback test server.

The server listens on the ports the test build's catalogue URLs name; its folder is
reachable from Wine through the Z: drive, so the tests change what it serves by
writing files there. The test CA is trusted by the current WINEPREFIX only.

    run_net_tests.py NET_TESTS_EXE TRUST_CA_EXE WORK_DIR HTTP HTTPS UNTRUSTED [gtest args]
"""
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from testserver import TestServer  # noqa: E402


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def main():
    exe, trust, work, http, https, untrusted = sys.argv[1:7]
    root = os.path.join(work, "served")
    certs = os.path.join(work, "certs")
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(root)
    os.makedirs(certs, exist_ok=True)
    with TestServer(root, certs, http_port=int(http), https_port=int(https),
                    untrusted_port=int(untrusted), otherhost_port=0, expired_port=0,
                    selfsigned_port=0, timeout=300) as server:
        subprocess.run(["wine", trust, windows_path(os.path.join(certs, "ca.der"))],
                       check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        env = dict(os.environ,
                   NET_TEST_ROOT=windows_path(root),
                   NET_TEST_HTTP_PORT=str(server.http_port),
                   NET_TEST_HTTPS_PORT=str(server.https_port),
                   NET_TEST_UNTRUSTED_PORT=str(server.untrusted_port),
                   NET_TEST_OTHERHOST_PORT=str(server.ports["otherhost"]),
                   NET_TEST_EXPIRED_PORT=str(server.ports["expired"]),
                   NET_TEST_SELFSIGNED_PORT=str(server.ports["selfsigned"]))
        result = subprocess.run(["wine", exe] + sys.argv[7:], env=env, stdin=subprocess.DEVNULL)
    return result.returncode


if __name__ == "__main__":
    sys.exit(main())
