"""The download page of the real installer under Wine while something holds it up: the
cancel question (nothing is written while it is open, "No" goes on at once, "Yes" ends
on the failed page) and a server that never answers the TLS handshake.

Run through ctest (gui.download_waits) or by hand from tests/gui:
    python3 -m unittest -v test_download_waits
"""

import os
import threading
import time
import unittest

import harness
from harness import DOWNLOAD, FAILED, FINISHED, INSTALL
from mods_server import MOD_FILE_NAMES
from test_download import (DOWNLOADS_END_MS, FILE_BAR, FILES_TEXT, NOT_INSTALLED, OPEN_LOG,
                           RECEIVED_AND_TOTAL, DownloadPageCase, files_text, size_in_bytes,
                           with_extra_entry)

# A package that takes about 8 s at 2 MB/s: the sockets hold some 3 MB of it while the
# question is up, so bytes are still on their way for seconds after the answer.
PACKAGE_BYTES = 16 << 20
RATE = "slow 2000000"
# nginx sends what a paused connection is owed at once: the rest of this fits the sockets.
NGINX_BYTES = 8 << 20
# After "No" the file must grow again within this; it grows within 0.3 s when idle.
RESUMED_WITHIN_S = 1.0
# The median over nginx's tries, counted from the start of the driver's click (about
# 0.1 s of it is the driver's own start).
NGINX_RESUMED_WITHIN_S = 0.3


def tearDownModule():
    harness.stop_shared_desktop()


class FileSizeSampler:
    """The size of a file every EVERY s, on a thread of its own, from start() to stop()."""

    def __init__(self, path, every=0.05):
        self.path, self.samples, self.every = path, [], every
        self.stopping = threading.Event()
        self.thread = threading.Thread(target=self._run)

    def _run(self):
        while not self.stopping.is_set():
            size = self.path.stat().st_size if self.path.exists() else None
            self.samples.append((time.monotonic(), size))
            self.stopping.wait(self.every)

    def start(self):
        self.thread.start()
        return self

    def stop(self):
        self.stopping.set()
        self.thread.join()

    def first_growth_after(self, moment, size):
        """Seconds from MOMENT to the first sample larger than SIZE; None if none."""
        return next((at - moment for at, now in self.samples
                     if at >= moment and now is not None and now > size), None)


class DownloadWaitTests(DownloadPageCase):

    def no_after_holding_the_question(self, row, held_s, nginx=False):
        """Opens the question on ROW's download at 2 MB/s (from the test server, at 1 MiB of
        16; from the nginx the row is served through, with row 2 ticked too, at 6 MB of
        8 MiB: the rest arrives while the question is open), keeps it open HELD_S, posts
        a click on No; returns the seconds from the click until the file on disk grew."""
        padding = os.urandom(NGINX_BYTES if nginx else PACKAGE_BYTES)
        self.server.replace(row, padding if row == 0 else with_extra_entry(
            self.server.sample(row), "mods/padding.bin", padding))
        if not nginx:
            self.server.set_mode(row, RATE)
        self.open_download_page([row, 2] if nginx else [row])
        s = self.session
        asked_at = 6_000_000 if nginx else 1 << 20
        self.wait_for("some bytes", lambda: self.received_at_least(RECEIVED_AND_TOTAL, asked_at))
        self.ask_to_cancel()
        download = self.desktop.temp_folder() / MOD_FILE_NAMES[row]
        sampler = FileSizeSampler(download).start()
        self.addCleanup(sampler.stop)
        (held_text, _) = self.bytes_shown(RECEIVED_AND_TOTAL)
        time.sleep(held_s)
        held_size = download.stat().st_size
        # The click is posted somewhere within the driver's call; timed from its start.
        answered = time.monotonic()
        s.do("answer", "no")
        self.wait_for("the file growing", lambda: sampler.first_growth_after(answered, held_size),
                      timeout=5)
        sampler.stop()
        # Nothing was written while the question was open.
        self.assertEqual({held_size}, {size for at, size in sampler.samples if at < answered})
        # The bytes text moves with the file (nginx's rest may have come whole with it).
        try:
            still_first = s.text(FILES_TEXT) == files_text(0, 2 if nginx else 1)
            shown = size_in_bytes(self.bytes_shown(RECEIVED_AND_TOTAL)[0])
        except harness.DriverFailed:  # the page moved on meanwhile
            still_first = False
        if still_first:
            self.assertLess(size_in_bytes(held_text), shown, "bytes text")
        elif not nginx:
            self.fail("the download was over too soon to watch")
        s.do("wait-page", FINISHED, DOWNLOADS_END_MS)
        self.assertEqual(f"Downloading: {self.temp_download(row)} - Done!", self.log_lines()[0])
        return sampler.first_growth_after(answered, held_size)

    def test_no_goes_on_at_once_over_https_after_a_short_question(self):
        self.assertLess(self.no_after_holding_the_question(0, 1.0), RESUMED_WITHIN_S)

    def test_no_goes_on_at_once_over_http_after_a_long_question(self):
        self.assertLess(self.no_after_holding_the_question(1, 10.0), RESUMED_WITHIN_S)

    def test_no_goes_on_at_once_from_nginx_straight_on_an_x_server(self):
        # nginx lets a paused connection catch up; and without a window manager, taking
        # the box down waits up to 2 s for one, which neither the page nor the download
        # may wait for.
        mode = self.serve_through_nginx(1, "2m")
        self.desktop.use_virtual_desktop(False)
        self.addCleanup(self.desktop.use_virtual_desktop, True)
        delays = []
        for held_s in (0.5, 1.0, 2.0) * int(os.environ.get("NO_TRIES", 1)):  # 4 gives the spread
            self.server.reset()
            self.server.set_mode(1, mode)
            delays.append(self.no_after_holding_the_question(1, held_s, nginx=True))
            self.session.close()
        print("growth after No, s:", " ".join(f"{d:.2f}" for d in delays))
        self.assertLess(sorted(delays)[len(delays) // 2], NGINX_RESUMED_WITHIN_S)

    # ---- cancelling ----------------------------------------------------------------

    def test_cancel_answered_no_holds_the_download_then_goes_on(self):
        # About 15 s for the whole package: the box is up for a few of them.
        self.server.set_mode(0, "slow 20000")
        self.open_download_page([0])
        s = self.session
        self.wait_for("some bytes", lambda: self.received_at_least(RECEIVED_AND_TOTAL, 20000))

        self.ask_to_cancel()
        s.screenshot("cancel-question", window="msgbox")
        # The worker waits while the question is up: nothing more is counted, although
        # the server goes on sending.
        (held, _) = self.bytes_shown(RECEIVED_AND_TOTAL)
        position = s.progress(FILE_BAR)["pos"]
        time.sleep(1.0)
        self.assertEqual(held, self.bytes_shown(RECEIVED_AND_TOTAL)[0])
        self.assertEqual(position, s.progress(FILE_BAR)["pos"])
        self.assertEqual("sending", self.server.requests_for(0)[0].state)

        s.answer("no")
        self.assertEqual(DOWNLOAD, s.page())
        self.assertTrue(s.check("no-msgbox", 300), "asked again")
        self.assertDownloadingButtons()
        after = []
        for _ in range(3):
            (received, _) = self.bytes_shown(RECEIVED_AND_TOTAL)
            after.append(size_in_bytes(received))
            time.sleep(0.5)
        self.assertLess(size_in_bytes(held), after[0], "nothing counted after the answer")
        self.assertLess(after[0], after[-1], "the bytes stopped rising")
        self.assertEqual(DOWNLOAD, s.page(), "the download was over too soon to watch")

        s.do("wait-page", FINISHED, DOWNLOADS_END_MS)
        self.assertEqual(f"Downloading: {self.temp_download(0)} - Done!", self.log_lines()[0])

    def test_cancel_answered_yes_ends_the_downloads_within_seconds(self):
        self.server.set_mode(0, "slow 40000")
        # Rows ahead of the stopped one are still asked for, each waited for a second at
        # most; this one would answer nothing for 4 s.
        self.server.set_mode(1, "noresponse 4")
        self.open_download_page([0, 1, 2])
        s = self.session
        self.wait_for("some bytes", lambda: self.received_at_least(RECEIVED_AND_TOTAL, 20000))

        self.ask_to_cancel()
        s.answer("yes")
        answered = time.monotonic()
        s.do("wait-page", FAILED, 5000)
        self.assertLess(time.monotonic() - answered, 5.0, "the cancel took too long")
        s.screenshot("failed")
        # Straight to the failed page: nothing was installed.
        self.assertNotIn(INSTALL, s.created_pages())
        self.assertNotIn(FINISHED, s.created_pages())

        # Honest log: nothing arrived whole.
        self.assertEqual([f"Downloading: {self.temp_download(row)} - Failed" for row in range(3)],
                         self.log_lines())
        first = self.server.requests_for(0)
        self.assertEqual(1, len(first))
        self.assertNotEqual("complete", first[0].state)
        self.assertLess(first[0].sent, len(self.server.sample(0)))
        self.assertEqual(1, len(self.server.requests_for(1)))
        self.assertEqual(1, len(self.server.requests_for(2)))
        self.assertDownloadsDeleted()
        self.assertFalse((self.desktop.game_folder() / "mods").exists())
        self.assertFailedPageThenExit([(None, "")] + [(row, NOT_INSTALLED) for row in range(3)])

    def ask_while_the_worker_ends(self):
        """Row 0 arrives at once; row 1's server takes the request and answers 404 only
        after 2.5 s (within the test build's 4 s time-out), a failure that is not tried
        again, while the cancel question is open. The worker then ends behind the
        question, and the wizard must stay where it is."""
        self.server.set_mode(1, "404-after 2.5")
        self.open_download_page([0, 1])
        s = self.session
        self.wait_for("row 0 arrived",
                      lambda: True if s.text(FILES_TEXT) == files_text(1, 2) else None)
        self.ask_to_cancel()
        row_1_failed = f"Downloading: {self.temp_download(1)} - Failed"
        self.wait_for("row 1 given up",
                      lambda: True if row_1_failed in self.log_lines() else None, timeout=10)
        time.sleep(0.5)
        self.assertEqual(DOWNLOAD, s.page())
        self.assertNotIn(INSTALL, s.created_pages())
        self.assertFalse((self.desktop.game_folder() / "mods").exists())
        self.assertTrue(s.check("msgbox", 0), "the question went away")
        return [f"Downloading: {self.temp_download(0)} - Done!", row_1_failed,
                f"Failed: {self.temp_download(1)} - the server answered 404 Not Found"]

    def test_worker_ending_while_asked_then_yes_fails_without_installing(self):
        downloads = self.ask_while_the_worker_ends()
        s = self.session
        s.answer("yes")
        s.do("wait-page", FAILED, 5000)
        self.assertNotIn(INSTALL, s.created_pages())
        self.assertFalse((self.desktop.game_folder() / "mods").exists())
        # What did arrive is deleted all the same, and the log says so.
        self.assertEqual(downloads + [f"Delete: {self.temp_download(0)}"], self.log_lines())
        self.assertDownloadsDeleted()
        s.screenshot("failed-two-rows")
        self.assertFailedPageThenExit([(None, ""), (0, NOT_INSTALLED),
                                       (1, "ダウンロード失敗（HTTP 404）")])

    def test_worker_ending_while_asked_then_no_goes_on_as_before(self):
        downloads = self.ask_while_the_worker_ends()
        s = self.session
        s.answer("no")
        s.do("wait-page", FAILED, DOWNLOADS_END_MS)
        self.assertIn(INSTALL, s.created_pages())
        package = (self.desktop.game_folder() / "mods" / "1.8.0.1" / MOD_FILE_NAMES[0])
        self.assertEqual(self.server.sample(0), package.read_bytes())
        log = self.log_lines()
        self.assertEqual(downloads, log[:3])
        self.assertTrue(log[3].startswith("Installing: ") and log[3].endswith(MOD_FILE_NAMES[0]),
                        log)
        self.assertEqual([f"Delete: {self.temp_download(0)}"], log[4:])
        s.screenshot("failed-one-row")
        self.assertOpenLogShowsTheLog()
        self.assertFailedPageThenExit([(0, "インストール完了"), (1, "ダウンロード失敗（HTTP 404）")])

    def assertOpenLogShowsTheLog(self):
        """The log button opens the log in the text editor (Notepad, under Wine)."""
        s = self.session
        s.do("click", OPEN_LOG)
        try:
            s.do("wait-process", "notepad.exe", harness.WINDOW_TIMEOUT_MS)
        finally:
            self.desktop.start("taskkill", args=["/f", "/im", "notepad.exe"]).wait(60)
        s.do("wait-process-gone", "notepad.exe", harness.STEP_TIMEOUT_MS)

    # ---- a server that never answers the TLS handshake ------------------------------

    def test_withheld_tls_handshake_fails_its_row_by_itself(self):
        self.server.withhold_handshakes(60)
        self.open_download_page([0, 1])
        started = time.monotonic()
        s = self.session
        s.do("wait-page", FAILED, 60000)
        # The test build's time-out is 4 s, plus 2 s without any sign of life, for each
        # of four tries, which wait 0.25, 0.5 and 1 s between them.
        self.assertLess(time.monotonic() - started, 4 * (4 + 2 + 1) + 1.75 + 3)
        self.assertIn(INSTALL, s.created_pages())
        log = self.log_lines()
        row_0 = self.temp_download(0)
        self.assertEqual([f"Downloading: {row_0} - Failed"]
                         + [f"Retrying: {row_0} - no answer within the time-out at byte 0 "
                            f"(try {n} of 4); the next starts over" for n in (1, 2, 3)]
                         + [f"Failed: {row_0} - no answer within the time-out, after 4 tries",
                            f"Downloading: {self.temp_download(1)} - Done!"], log[:6])
        self.assertEqual(f"Delete: {self.temp_download(1)}", log[-1])
        self.assertEqual([], self.server.requests_for(0), "a request got through")
        self.assertGreaterEqual(self.server.server.withheld_handshakes, 4)
        self.assertDownloadsDeleted()

    def test_cancel_while_the_tls_handshake_is_withheld_fails_within_5_s(self):
        self.server.withhold_handshakes(60)
        self.open_download_page([0])
        s = self.session
        time.sleep(1.0)
        self.ask_to_cancel()
        s.answer("yes")
        answered = time.monotonic()
        s.do("wait-page", FAILED, 5000)
        self.assertLess(time.monotonic() - answered, 5.0)
        self.assertNotIn(INSTALL, s.created_pages())
        self.assertEqual([f"Downloading: {self.temp_download(0)} - Failed"], self.log_lines())
        self.assertDownloadsDeleted()
        self.assertFailedPageThenExit()


if __name__ == "__main__":
    unittest.main(verbosity=2)
