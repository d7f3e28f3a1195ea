"""The loopback test server's rate limit."""
import threading
import time

CHUNK = 64 * 1024


class Throttle:
    """Token bucket; the deficit of a large take is paid by sleeping, so any chunk size
    works and concurrent senders share the rate."""

    def __init__(self, rate, burst=CHUNK):
        self.rate, self.burst = float(rate), float(burst)
        self.tokens, self.last = self.burst, time.monotonic()
        self.lock = threading.Lock()

    def take(self, n, stopping):
        with self.lock:
            now = time.monotonic()
            self.tokens = min(self.burst, self.tokens + (now - self.last) * self.rate) - n
            self.last = now
            wait = -self.tokens / self.rate if self.tokens < 0 else 0
        return not (wait and stopping.wait(wait))
