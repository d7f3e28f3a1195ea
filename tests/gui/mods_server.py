"""The catalogue's mods, served on loopback where the test build's URLs point.

The test build is compiled with MOD_URL_0..2 on https://localhost:18443 and
http://localhost:18080, answered by tests/net/testserver.py's /mod/KEY route: KEY is a
file in the served folder, and KEY.mode beside it changes how it is answered
("chunked", "slow 65536", "cut", "404", ...). The test CA is trusted by one Wine
prefix only, the one the installer runs in.
"""

import os
import pathlib
import shutil
import subprocess
import sys

import harness
from harness import BUILD_DIR, SOURCE_DIR

sys.path.insert(0, str(SOURCE_DIR / "tests" / "net"))
sys.path.insert(0, str(SOURCE_DIR / "scripts"))
from make_sample_mods import main as make_sample_mods  # noqa: E402
from testserver import TestServer  # noqa: E402

TRUST_CA_EXE = pathlib.Path(
    os.environ.get("GUI_TRUST_CA_EXE", BUILD_DIR / "tests" / "trust_ca.exe"))
HTTP_PORT = int(os.environ.get("TEST_HTTP_PORT", 18080))
HTTPS_PORT = int(os.environ.get("TEST_HTTPS_PORT", 18443))

# Served key of each catalogue row, as the test build's URLs name them.
MOD_KEYS = ("velloa", "fieldwatch", "qvx-8.3.5.zip")
MOD_FILE_NAMES = ("brassfinch.velloa_simple_voice_mod_2017.2.smpkg", "fieldwatch.zip",
                  "qvx-8.3.5.zip")


class ModServer:
    """Serves the sample mods (scripts/make_sample_mods.py) to one Wine desktop."""

    def __init__(self, desktop, work_dir=None):
        self.work = pathlib.Path(work_dir or BUILD_DIR / "mod-server")
        self.served = self.work / "served"
        self.certs = self.work / "certs"
        shutil.rmtree(self.served, ignore_errors=True)
        self.certs.mkdir(parents=True, exist_ok=True)
        make_sample_mods(str(self.served))
        self.server = TestServer(str(self.served), str(self.certs), http_port=HTTP_PORT,
                                 https_port=HTTPS_PORT, untrusted_port=None, timeout=900,
                                 expired_port=0)
        self.server.start()
        windows_ca = "Z:" + str(self.certs / "ca.der").replace("/", "\\")
        subprocess.run(["wine", str(TRUST_CA_EXE), windows_ca], env=desktop.env,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=120, check=True)

    def expired_certificate_mode(self, row):
        """The mode that sends ROW to the same file on a listener whose certificate, from
        the trusted test CA, expired in 2020."""
        return f"to https://localhost:{self.server.ports['expired']}/files/{MOD_KEYS[row]}"

    def set_mode(self, row, mode):
        """How row's URL answers from now on: "files" (whole, sized), "chunked",
        "slow BYTES_PER_SECOND", "slow-chunked BYTES_PER_SECOND", "cut", "404"."""
        path = self.served / (MOD_KEYS[row] + ".mode")
        if mode == "files":
            path.unlink(missing_ok=True)
        else:
            path.write_text(mode)

    def withhold_handshakes(self, seconds):
        """From now on the https rows' server takes each connection and answers nothing,
        not even the TLS handshake, for SECONDS; None answers at once again."""
        path = self.served / "tls-handshake.mode"
        if seconds is None:
            path.unlink(missing_ok=True)
        else:
            path.write_text(f"stall {seconds}")

    def replace(self, row, data):
        """Serves other bytes for row, e.g. a hostile archive."""
        (self.served / MOD_KEYS[row]).write_bytes(data)

    def sample(self, row):
        return (self.served / MOD_KEYS[row]).read_bytes()

    def path(self, row):
        """The file served for row, for a test that writes a large one in place."""
        return self.served / MOD_KEYS[row]

    def reset(self):
        """Every row back to its sample, answered whole; the request list emptied."""
        for key in MOD_KEYS:
            (self.served / (key + ".mode")).unlink(missing_ok=True)
        self.withhold_handshakes(None)
        make_sample_mods(str(self.served))
        self.server.clear_requests()

    def requests_for(self, row):
        """The requests that reached row's URL, oldest first."""
        prefix = "/mod/" + MOD_KEYS[row]
        return [r for r in self.server.requests
                if r.path == prefix or r.path.startswith(prefix + "?")]

    @property
    def requests(self):
        return self.server.requests

    def stop(self):
        self.server.stop()


NGINX_PORT = int(os.environ.get("TEST_NGINX_PORT", 18090))
NGINX_CONFIG = """worker_processes 1;
daemon off;
pid {work}/nginx.pid;
error_log {work}/error.log;
events {{}}
http {{
  access_log off;
  client_body_temp_path {work}/temp;
  proxy_temp_path {work}/temp;
  fastcgi_temp_path {work}/temp;
  uwsgi_temp_path {work}/temp;
  scgi_temp_path {work}/temp;
  default_type application/octet-stream;
  sendfile on;
  tcp_nopush on;
  server {{
    listen 127.0.0.1:{port};
    root {root};
    location /go/ {{ return 302 /$arg_to; }}
    location / {{ limit_rate {rate}; }}
  }}
}}
"""


class Nginx:
    """Debian's nginx on loopback, serving FOLDER at RATE (nginx's limit_rate, "2m"), with
    Debian's sendfile settings; /go/?to=NAME redirects to /NAME. A paused connection
    catches up there: what it is owed comes at full speed."""

    def __init__(self, folder, rate):
        self.work = BUILD_DIR / "nginx"
        (self.work / "temp").mkdir(parents=True, exist_ok=True)
        config = self.work / "nginx.conf"
        config.write_text(NGINX_CONFIG.format(work=self.work, port=NGINX_PORT, root=folder,
                                              rate=rate))
        self.process = subprocess.Popen(["nginx", "-c", str(config), "-p", str(self.work)],
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        harness.wait_for_port(NGINX_PORT, self.process)

    def url(self, name):
        return f"http://localhost:{NGINX_PORT}/go/?to={name}"

    def stop(self):
        self.process.terminate()
        self.process.wait(10)


class ServedTestCase(harness.InstallerTestCase):
    """Tests whose mods come from one ModServer for the class: each test starts with the
    samples served whole, no download left in %TEMP% (one left behind would hide one
    that is not deleted), a game folder of the supported version and no log."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.server = ModServer(cls.desktop)

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def setUp(self):
        super().setUp()
        self.server.reset()
        for name in MOD_FILE_NAMES:
            (self.desktop.temp_folder() / name).unlink(missing_ok=True)
        self.session.install_game("1.8.0.1")
        self.session.remove_log()

    def serve_through_nginx(self, row, rate):
        """From now on ROW's URL redirects to nginx, which serves its file at RATE, until
        the test ends; returns that mode. Skips the test where nginx is not installed."""
        if not shutil.which("nginx"):
            self.skipTest("nginx is not installed (scripts/setup.sh installs it)")
        nginx = Nginx(self.server.served, rate)
        self.addCleanup(nginx.stop)
        mode = "to " + nginx.url(MOD_KEYS[row])
        self.server.set_mode(row, mode)
        return mode

    def map_drive(self, letter, unix_folder):
        """Drive LETTER: of the test prefix shows UNIX_FOLDER, until the test ends."""
        link = self.desktop.prefix / "dosdevices" / f"{letter}:"
        link.unlink(missing_ok=True)
        link.symlink_to(unix_folder)
        self.addCleanup(link.unlink, missing_ok=True)

    def small_drive(self, letter, size):
        """Drive LETTER: on an empty tmpfs of SIZE ("3m"), until the test ends; returns its
        Unix folder. Skips the test where a tmpfs cannot be mounted."""
        disk = harness.SCRATCH_DIR / f"tmpfs-{letter}"
        disk.mkdir(parents=True, exist_ok=True)
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size}", "tmpfs", str(disk)],
                                 stdin=subprocess.DEVNULL, capture_output=True)
        if mounted.returncode != 0:
            self.skipTest("a small tmpfs cannot be mounted here: "
                          + mounted.stderr.decode(errors="replace").strip())
        self.addCleanup(subprocess.run, ["umount", "-l", str(disk)], capture_output=True)
        self.map_drive(letter, disk)
        return disk

    def move_temporary_folder(self, windows_folder):
        """The installer's %TEMP% and %TMP% name WINDOWS_FOLDER until the test ends: Wine
        takes them from the user's Environment key, not from the Unix environment."""
        key = "HKEY_CURRENT_USER\\Environment"
        old = self.desktop.registry(key).get(key, {})

        def set_values(values):
            for name, (kind, data) in values.items():
                subprocess.run(["wine", "reg", "add", key, "/v", name, "/t", kind, "/d", data,
                                "/f"], env=self.desktop.env, stdin=subprocess.DEVNULL,
                               capture_output=True, timeout=60, check=True)
        self.addCleanup(set_values, {name: old[name] for name in ("TEMP", "TMP") if name in old})
        set_values({name: ("REG_SZ", windows_folder) for name in ("TEMP", "TMP")})
