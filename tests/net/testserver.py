#!/usr/bin/env python3
"""HTTP and HTTPS server for the download tests, on loopback only.

Script:
    python3 tests/net/testserver.py --root DIR --certs DIR \
        [--http-port 18080] [--https-port 18443] [--untrusted-port 18444] \
        [--rate BYTES_PER_SEC] [--timeout IDLE_SECONDS] [--max-time SECONDS] [--log FILE]
  Prints "ready http=N https=N untrusted=N" once listening; stops on SIGTERM/SIGINT, after
  --timeout seconds without a request (default 600) or after --max-time (default 3600).
  Port 0 picks a free port; a negative port leaves that listener out. --log appends one
  line per response as it starts: "METHOD PATH STATUS SCHEME" (SCHEME: http, https or
  untrusted).

Python:
    from testserver import TestServer
    with TestServer(root, certs, http_port=0, https_port=0, untrusted_port=0,
                    rate=None, timeout=600, max_time=3600, log=None,
                    otherhost_port=None, expired_port=None, selfsigned_port=None) as srv:
        url = srv.url("/files/fieldwatch.zip", "https")   # https://localhost:PORT/...
        ...
        srv.requests        # [Request(method, path, status, scheme, sent, state), ...]
        srv.clear_requests()
  A Request is recorded when its response starts; `sent` (body bytes) and `state`
  ("sending", "complete", "cut", "aborted") change as the body goes out.
  srv.tls_failures counts handshakes the client refused (the untrusted port);
  srv.withheld_handshakes counts connections whose handshake was never answered.

--certs DIR is filled by make_certs.sh beside this file when empty. HTTPS listeners
present a localhost certificate (SAN DNS:localhost) from the test CA (ca.der is what a
test Wine prefix trusts); the untrusted port presents one from a CA nobody trusts. Three
more, from Python only (otherhost_port, expired_port, selfsigned_port; None by default):
a certificate of the test CA for elsewhere.invalid, a localhost one of the test CA that
expired in 2020, and a localhost one signed by itself.

Routes (NAME is a file under --root; a query string is ignored unless stated):
  /files/NAME           the file, with Content-Length; 404 if missing
  /chunked/NAME         the file, Transfer-Encoding: chunked
  /empty                200, Content-Length: 0
  /redirect/REST        302, Location: /REST (query kept)
  /bad/KIND             an answer no server should give, see bad_answers.py
  /redirect-abs/REST    302, Location: SCHEME://HOST/REST (HOST from the request)
  /cut/NAME             full Content-Length, half the body, then the connection closes
  /cut-at/NAME?at=A,B,C the Nth request for this path is cut when the file's byte A, B,
                        C... is reached (as a byte offset of the whole file); later ones
                        are answered whole
  /norange/NAME         as /files/NAME, ignoring any Range header (so does any route
                        given ?norange=1)
  /liar/NAME?length=N   announces Content-Length N, sends the file, then closes
  /to-http/NAME         302 to http://HOST:HTTP_PORT/files/NAME (from https: a downgrade)
  /cut-chunked/NAME     half the body in chunks, no last chunk, then closes
  /slow/NAME?bps=N      the file at N bytes/s (default 65536), with Content-Length
  /slow-chunked/NAME?bps=N   the same, chunked
  /stall?secs=N         headers (Content-Length 1 MiB), then nothing for N s (default and
                        at most 120), then closes
  /stall/NAME?secs=N    the file's headers and half its body, then as /stall
  /noresponse?secs=N    reads the request and answers nothing, then closes
  /404-after?secs=N     reads the request, waits N s, then answers 404
  /mod/NAME             as chosen by the file NAME.mode next to NAME (see mode()): e.g.
                        "cut" answers as /cut/NAME, "slow 20000" as /slow/NAME?bps=20000,
                        "cut-at 100,200" as /cut-at/NAME?at=100,200, "404" with that
                        status; no .mode file: as /files/NAME
File routes send ETag and Last-Modified and answer "Range: bytes=N-" with 206 and a
Content-Range (when an If-Range names the file's ETag or Last-Modified, or is absent).
  anything else         404 with a short text body
HEAD works on every route and sends no body. --rate limits all listeners together.
A file "tls-handshake.mode" in the root holding "stall N" makes the TLS listeners accept
each connection and answer nothing, not even the handshake, for N s (at most 120); then
the connection goes on as usual. Connections already open are closed at their next
request, unanswered.
"""
import argparse
import email.utils
import os
import re
import signal
import socket
import socketserver
import ssl
import subprocess
import sys
import threading
import time
from dataclasses import dataclass
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import unquote, urlsplit, parse_qs

import bad_answers
from throttle import Throttle

HERE = os.path.dirname(os.path.abspath(__file__))
CHUNK = 64 * 1024
MAX_STALL = 120


def ensure_certs(certs):
    """Makes the test certificates in `certs` unless they are already there."""
    subprocess.run(["bash", os.path.join(HERE, "make_certs.sh"), certs], check=True)


@dataclass
class Request:
    method: str
    path: str
    status: int
    scheme: str
    sent: int = 0
    state: str = "sending"


class _Server(ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, owner, scheme, addr, family, ctx):
        self.address_family = family
        self.owner, self.scheme, self.ctx = owner, scheme, ctx
        super().__init__(addr, Handler)

    def server_bind(self):
        if self.address_family == socket.AF_INET6:
            self.socket.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 1)
        # not HTTPServer's, whose getfqdn() may wait on a name server
        socketserver.TCPServer.server_bind(self)
        self.server_name, self.server_port = "localhost", self.server_address[1]

    def get_request(self):
        sock, addr = super().get_request()
        # headers and a small body go out as separate writes: without this, Nagle and
        # delayed ACKs add 40 ms to each reply on a reused connection
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        if self.ctx:  # the handshake happens in the handler's thread, not in accept()
            sock = self.ctx.wrap_socket(sock, server_side=True, do_handshake_on_connect=False)
        return sock, addr

    def handle_error(self, request, client_address):
        # clients that go away mid-response are part of the tests; anything else is a bug
        if not isinstance(sys.exc_info()[1], OSError):
            super().handle_error(request, client_address)


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "ZelkorTestServer/1"
    timeout = 30  # idle keep-alive connections and stuck clients are dropped after this

    def setup(self):
        super().setup()
        self.owner = self.server.owner
        self.owner._track(self.connection, True)
        if self.server.ctx:
            withheld = self.owner.handshake_stall()
            if withheld:
                with self.owner._lock:
                    self.owner.withheld_handshakes += 1
                if self.owner.stopping.wait(withheld):
                    self.owner._track(self.connection, False)
                    raise OSError("stopped while the handshake was withheld")
            try:
                self.connection.do_handshake()
            except OSError:  # ssl.SSLError included
                self.owner._track(self.connection, False)
                with self.owner._lock:
                    self.owner.tls_failures += 1
                raise

    def finish(self):
        self.owner._track(self.connection, False)
        try:
            super().finish()
        except OSError:
            pass

    def log_message(self, *args):
        pass

    def do_GET(self):
        if self.server.ctx and self.owner.handshake_stall():
            # A connection kept alive from before the switch: closed unanswered, so the
            # client has to come back through a handshake.
            self.close_connection = True
            return
        self.owner._busy(+1)
        self.record = None
        try:
            self.route()
        except OSError:
            self.close_connection = True
            if self.record and self.record.state == "sending":
                self.record.state = "aborted"
        finally:
            self.owner._busy(-1)

    do_HEAD = do_GET

    # -- responses --------------------------------------------------------------------

    def start(self, status, headers):
        self.record = self.owner._record(Request(self.command, self.path, status,
                                                 self.server.scheme))
        self.send_response(status)
        headers.setdefault("Cache-Control", "no-store")  # every test run reaches the server
        for k, v in headers.items():
            self.send_header(k, str(v))
        self.end_headers()

    def reply(self, status, body=b"", **headers):
        headers.update({"Content-Type": "text/plain; charset=utf-8",
                        "Content-Length": len(body)})
        self.start(status, headers)
        if self.command != "HEAD" and body:
            self.wfile.write(body)
            self.record.sent = len(body)
        self.record.state = "complete"

    def stream(self, f, count, chunked=False, bps=None):
        """Sends `count` bytes of `f`; returns False when the server is stopping."""
        if self.command == "HEAD":
            return True
        limits = [t for t in (self.owner.throttle, bps and Throttle(bps, 1)) if t]
        stopping = self.owner.stopping
        if not limits and not chunked and not self.server.ctx:
            # os.sendfile: the kernel copies, so this is never the bottleneck
            self.record.sent = self.connection.sendfile(f, f.tell(), count)
            return True
        size = min(CHUNK, max(1024, bps // 10)) if bps else CHUNK
        left = count
        while left > 0:
            n = min(size, left)
            if not all(t.take(n, stopping) for t in limits):
                return False
            data = f.read(n)
            if not data:
                break
            self.wfile.write(b"%x\r\n%s\r\n" % (len(data), data) if chunked else data)
            self.record.sent += len(data)
            left -= len(data)
        return True

    def route(self):
        url = urlsplit(self.path)
        query = {k: v[-1] for k, v in parse_qs(url.query).items()}
        head, _, rest = url.path.lstrip("/").partition("/")
        if head == "mod":  # the product's URL stays put; the test picks the behaviour
            head, arg, norange = self.owner.mode(unquote(rest))
            if norange:
                query["norange"] = "1"
            if head.isdigit():
                return self.reply(int(head), b"Test status\n")
            if head == "to":  # another server's URL, nginx's say
                return self.reply(302, b"Moved\n", Location=arg)
            if head == "redirect":
                rest = "files/" + rest
            elif head == "bad":
                rest = arg
            elif arg:
                key = {"cut-at": "at", "liar": "length"}.get(head)
                query[key or ("bps" if head.startswith("slow") else "secs")] = arg
        secs = min(float(query.get("secs", MAX_STALL)), MAX_STALL)

        if head == "to-http":
            host = (self.headers.get("Host") or "localhost").split(":")[0]
            target = "http://%s:%d/files/%s" % (host, self.owner.ports["http"], rest)
            return self.reply(302, b"Moved\n", Location=target)
        if head in ("redirect", "redirect-abs"):
            target = "/" + rest + ("?" + url.query if url.query else "")
            if head == "redirect-abs":
                host = self.headers.get("Host") or "localhost:%d" % self.server.server_port
                scheme = "http" if self.server.scheme == "http" else "https"
                target = "%s://%s%s" % (scheme, host, target)
            return self.reply(302, b"Moved\n", Location=target)
        if head == "empty":
            return self.reply(200)
        if head == "bad":
            request = Request(self.command, self.path, 200, self.server.scheme)
            return bad_answers.send(self, rest, request)
        if head == "stall" and not rest:
            self.start(200, {"Content-Length": 1 << 20,
                             "Content-Type": "application/octet-stream"})
            return self.stall(secs)
        if head == "404-after":
            self.owner.stopping.wait(secs)
            return self.reply(404, b"Not found, late\n")
        if head == "noresponse":
            self.record = self.owner._record(Request(self.command, self.path, 0,
                                                     self.server.scheme))
            return self.stall(secs)

        routes = ("files", "chunked", "cut", "cut-chunked", "slow", "slow-chunked", "stall",
                  "cut-at", "norange", "liar")
        path = self.owner.file_path(unquote(rest)) if head in routes else None
        if not path:
            return self.reply(404, b"Not found\n")
        chunked = head.endswith("chunked")
        hit = self.owner._hit(self.path)  # path and query: each test asks its own
        with open(path, "rb") as f:
            info = os.fstat(f.fileno())
            size = info.st_size
            headers = {"Content-Type": "application/octet-stream",
                       "ETag": '"%x-%x"' % (size, info.st_mtime_ns),
                       "Last-Modified": email.utils.formatdate(info.st_mtime, usegmt=True),
                       "Accept-Ranges": "none" if head == "norange" or "norange" in query
                       else "bytes"}
            ignore_range = chunked or head == "norange" or "norange" in query
            start = 0 if ignore_range else self.range_start(size, headers)
            if chunked:
                headers["Transfer-Encoding"] = "chunked"
            else:
                headers["Content-Length"] = size - start
            if head == "liar":
                headers["Content-Length"] = int(query.get("length", size * 2))
            status = 206 if start else 200
            if start:
                headers["Content-Range"] = "bytes %d-%d/%d" % (start, size - 1, size)
            self.start(status, headers)
            f.seek(start)
            cut_at = None
            if head in ("cut", "cut-chunked", "stall"):
                cut_at = start + (size - start) // 2
            elif head == "cut-at":
                offsets = [int(v) for v in query.get("at", "").split(",") if v]
                cut_at = offsets[hit] if hit < len(offsets) else None
            elif head == "liar":
                cut_at = size
            if cut_at is not None:
                if self.stream(f, max(0, cut_at - start), chunked) and head == "stall":
                    return self.stall(secs)
                self.record.state = "cut"
                self.close_connection = True
                return
            bps = max(1, int(query.get("bps", 65536))) if head.startswith("slow") else None
            if not self.stream(f, size - start, chunked, bps):
                self.record.state = "aborted"
                self.close_connection = True
                return
            if chunked and self.command != "HEAD":
                self.wfile.write(b"0\r\n\r\n")
            self.record.state = "complete"

    def range_start(self, size, headers):
        """Where a "Range: bytes=N-" asks to start, when it may be honoured; else 0."""
        found = re.fullmatch(r"bytes=(\d+)-", (self.headers.get("Range") or "").strip())
        if_range = self.headers.get("If-Range")
        if not found or (if_range and if_range not in (headers["ETag"],
                                                       headers["Last-Modified"])):
            return 0
        start = int(found.group(1))
        return start if 0 < start < size else 0

    def stall(self, secs):
        self.owner.stopping.wait(secs)
        if self.record:
            self.record.state = "cut"
        self.close_connection = True


class TestServer:
    """See the module docstring. Ports: 0 picks a free one, None leaves it out."""

    def __init__(self, root, certs, http_port=0, https_port=0, untrusted_port=0,
                 rate=None, timeout=600, max_time=3600, log=None, otherhost_port=None,
                 expired_port=None, selfsigned_port=None):
        self.root = os.path.realpath(root)
        self.certs = certs
        self.ports = {"http": http_port, "https": https_port, "untrusted": untrusted_port,
                      "otherhost": otherhost_port, "expired": expired_port,
                      "selfsigned": selfsigned_port}
        self.throttle = Throttle(rate) if rate else None
        self.timeout, self.max_time, self.log_path = timeout, max_time, log
        self.requests = []
        self.hits = {}
        self.tls_failures = 0
        self.withheld_handshakes = 0
        self.stopping = threading.Event()
        self._lock = threading.Lock()
        self._servers, self._conns, self._busy_count = [], set(), 0
        self._log = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    @property
    def http_port(self):
        return self.ports["http"]

    @property
    def https_port(self):
        return self.ports["https"]

    @property
    def untrusted_port(self):
        return self.ports["untrusted"]

    def url(self, path, scheme="http"):
        """scheme: "http" or the name of an https listener ("https", "untrusted", ...); by the
        name localhost, which is what the certificates but otherhost's are made for."""
        proto = "http" if scheme == "http" else "https"
        return "%s://localhost:%d/%s" % (proto, self.ports[scheme], path.lstrip("/"))

    def start(self):
        if any(port is not None for scheme, port in self.ports.items() if scheme != "http"):
            ensure_certs(self.certs)
        if self.log_path:
            self._log = open(self.log_path, "a", encoding="utf-8")
        for scheme, port in self.ports.items():
            if port is None:
                continue
            ctx = None
            if scheme != "http":
                ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
                name = "server" if scheme == "https" else scheme
                ctx.load_cert_chain(os.path.join(self.certs, name + ".pem"),
                                    os.path.join(self.certs, name + ".key"))
            srv = _Server(self, scheme, ("127.0.0.1", port), socket.AF_INET, ctx)
            self.ports[scheme] = port = srv.server_port
            self._servers.append(srv)
            try:  # where localhost also means ::1, answer there too
                self._servers.append(_Server(self, scheme, ("::1", port), socket.AF_INET6, ctx))
            except OSError:
                pass
        for srv in self._servers:
            threading.Thread(target=srv.serve_forever, args=(0.2,), daemon=True).start()
        self._last = self._started = time.monotonic()
        threading.Thread(target=self._watchdog, daemon=True).start()
        return self

    def stop(self):
        with self._lock:
            if self.stopping.is_set():
                return
            self.stopping.set()
        for srv in self._servers:
            srv.shutdown()
            srv.server_close()
        with self._lock:
            for conn in list(self._conns):
                try:
                    conn.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass
            if self._log:
                self._log.close()
                self._log = None

    def wait(self):
        """Blocks until the server has stopped (by stop(), a signal or a time-out)."""
        while not self.stopping.wait(1):
            pass

    def clear_requests(self):
        with self._lock:
            self.requests.clear()
            self.hits.clear()

    def mode(self, name):
        """How /mod/NAME answers, from the file NAME.mode beside it: a route and its
        argument ("files", "chunked", "cut", "cut-chunked", "slow 20000", "slow-chunked
        20000", "stall 30", "noresponse 30", "empty", "redirect", "cut-at 100,200",
        "norange", "liar 5368709120", "to-http", "404-after 3", "bad no-status", "to URL": a
        302 to URL) or a status ("404"). A last word "norange" makes any route ignore Range headers."""
        path, words = self.file_path(name + ".mode"), []
        if path:
            with open(path, encoding="utf-8-sig") as f:
                words = f.read().split()
        return (words or ["files"])[0], (words[1:] or [None])[0], "norange" in words[1:]

    def handshake_stall(self):
        """Seconds to sit on a TLS connection without a handshake; 0: answer at once."""
        path, words = self.file_path("tls-handshake.mode"), []
        if path:
            with open(path, encoding="utf-8-sig") as f:
                words = f.read().split()
        if len(words) == 2 and words[0] == "stall":
            return min(float(words[1]), MAX_STALL)
        return 0

    def file_path(self, name):
        path = os.path.realpath(os.path.join(self.root, name))
        inside = os.path.commonpath([self.root, path]) == self.root and path != self.root
        return path if inside and os.path.isfile(path) else None

    # -- bookkeeping, called from the handlers -----------------------------------------

    def _record(self, req):
        with self._lock:
            self.requests.append(req)
            if self._log:
                self._log.write("%s %s %d %s\n" % (req.method, req.path, req.status, req.scheme))
                self._log.flush()
        return req

    def _hit(self, path):
        """How many requests for PATH came before this one."""
        with self._lock:
            count = self.hits.get(path, 0)
            self.hits[path] = count + 1
        return count

    def _track(self, conn, add):
        with self._lock:
            (self._conns.add if add else self._conns.discard)(conn)

    def _busy(self, delta):
        with self._lock:
            self._busy_count += delta
            self._last = time.monotonic()

    def _watchdog(self):
        while not self.stopping.wait(1):
            now = time.monotonic()
            idle = self._busy_count == 0 and now - self._last > self.timeout
            if idle or now - self._started > self.max_time:
                self.stop()


def main():
    p = argparse.ArgumentParser(description="HTTP/HTTPS server for the download tests.")
    p.add_argument("--root", required=True)
    p.add_argument("--certs", required=True)
    p.add_argument("--http-port", type=int, default=18080)
    p.add_argument("--https-port", type=int, default=18443)
    p.add_argument("--untrusted-port", type=int, default=18444)
    p.add_argument("--rate", type=float, help="bytes per second, all connections together")
    p.add_argument("--timeout", type=float, default=600, help="stop after this idle time")
    p.add_argument("--max-time", type=float, default=3600, help="stop after this in any case")
    p.add_argument("--log", help="append one line per response to this file")
    a = p.parse_args()
    port = lambda n: None if n < 0 else n
    srv = TestServer(a.root, a.certs, port(a.http_port), port(a.https_port),
                     port(a.untrusted_port), a.rate, a.timeout, a.max_time, a.log)
    srv.start()
    for sig in (signal.SIGTERM, signal.SIGINT):
        signal.signal(sig, lambda *_: threading.Thread(target=srv.stop).start())
    print("ready " + " ".join("%s=%s" % kv for kv in srv.ports.items() if kv[1] is not None),
          flush=True)
    srv.wait()


if __name__ == "__main__":
    sys.exit(main())
