"""The download page of the real installer under Wine, fed by the loopback server on
the catalogue's own URLs: what it counts and shows while bytes arrive (with and without
an announced length), asking before cancelling, and moving on when the downloads end,
well or badly.

Run through ctest (gui.download) or by hand from tests/gui:
    python3 -m unittest -v test_download
"""

import io
import os
import re
import subprocess
import time
import unittest
import zipfile

import harness
from harness import CONFIRM, DOWNLOAD, FAILED, FINISHED, FOLDER, INSTALL, MOD_SELECT, WELCOME
from mods_server import MOD_FILE_NAMES, ServedTestCase


MOD_TREE = 1013
FILE_BAR = 1009
FILES_BAR = 1008
BYTES_TEXT = 1015
FILES_TEXT = 1018
FINISH_HEADING = 1009
FAILED_OUTCOME = 1021
OPEN_LOG = 1022
NAMES = ("brassfinch Velloa SimpleVoice", "Fieldwatch", "QVX")
CANCELLED = "インストールはキャンセルされました。"
NOT_INSTALLED = "キャンセルのため未インストール"

TICKED = "2"
WAITING_TEXT = "待機しています..."
CANCEL_QUESTION = "ダウンロードが続行中です。\n終了しますか？"
CANCEL_CAPTION = "セットアップ"
FAILED_HEADING = "インストールが正常に完了できませんでした。"

# StrFormatByteSize keeps three significant digits and cuts the rest off.
BYTE_UNITS = {"KB": 1 << 10, "MB": 1 << 20, "GB": 1 << 30}
SIZE = r"\d+(?:\.\d+)? (?:KB|MB|GB|バイト|bytes)"
RECEIVED_AND_TOTAL = re.compile(rf"^({SIZE}) / ({SIZE})$")
RECEIVED_ONLY = re.compile(rf"^({SIZE})$")

# Long enough for the slowest download here to end and the wizard to move on.
DOWNLOADS_END_MS = 30000


def tearDownModule():
    harness.stop_shared_desktop()


def size_in_bytes(text):
    number, unit = text.split(" ")
    return float(number) * BYTE_UNITS.get(unit, 1)


def with_extra_entry(archive, name, data):
    """A copy of a zip archive with one more entry, stored as it is."""
    out = io.BytesIO()
    with zipfile.ZipFile(io.BytesIO(archive)) as source, \
            zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as copy:
        for info in source.infolist():
            copy.writestr(info, source.read(info))
        copy.writestr(zipfile.ZipInfo(name), data)
    return out.getvalue()


def files_text(done, total):
    return f"{done} / {total} ファイル"


class DownloadPageCase(ServedTestCase):
    """The steps the download tests share (test_download_waits.py's too)."""

    # ---- steps shared by the tests -----------------------------------------------

    def open_download_page(self, rows):
        """Ticks ROWS and goes on from the confirmation page, which starts downloading."""
        s = self.session
        s.start()
        self.assertEqual(WELCOME, s.wait_sheet())
        s.press("next")
        s.wait_page(FOLDER)
        s.press("next")
        s.wait_page(MOD_SELECT)
        for row in rows:
            self.assertEqual(TICKED, s.do("tree-toggle", MOD_TREE, row).strip())
        s.press("next")
        s.wait_page(CONFIRM)
        s.press("next")
        s.wait_page(DOWNLOAD)

    def bytes_shown(self, pattern):
        """The bytes text's parts once it matches PATTERN (the page may still wait)."""
        text = self.session.text(BYTES_TEXT)
        if text == WAITING_TEXT:
            return None
        found = pattern.match(text)
        self.assertIsNotNone(found, f"bytes text {text!r}")
        return found.groups()

    def received_at_least(self, pattern, least):
        shown = self.bytes_shown(pattern)
        return shown if shown and size_in_bytes(shown[0]) >= least else None

    def assertSizeText(self, text, size):
        # Three significant digits, cut: within 1 % below the size, never above it.
        self.assertLessEqual(size_in_bytes(text), size, text)
        self.assertGreater(size_in_bytes(text), size * 0.99, text)

    def assertDownloadingButtons(self):
        s = self.session
        for name in ("back", "next"):
            self.assertFalse(s.button(name)["enabled"], name)
        cancel = s.button("cancel")
        self.assertTrue(cancel["visible"] and cancel["enabled"], cancel)

    def log_lines(self):
        data = self.session.log_path.read_bytes()
        self.assertNotIn(b"\n", data.replace(b"\r\n", b""), "a line break without CR")
        return data.decode("utf-8").split("\r\n")[:-1]

    def temp_download(self, row):
        return self.temp_windows_path + MOD_FILE_NAMES[row]

    @property
    def temp_windows_path(self):
        return harness.unescape(self.session.do("temp-path").strip())

    def assertDownloadsDeleted(self):
        left = [name for name in MOD_FILE_NAMES if (self.desktop.temp_folder() / name).exists()]
        self.assertEqual([], left, "downloads left in %TEMP%")

    def assertFailedPageThenExit(self, outcome=None):
        """The failed page, with OUTCOME (row: text, or None: the cancel line) as the
        lines of its box when given, then Finish."""
        s = self.session
        self.assertEqual(FAILED_HEADING, s.text(FINISH_HEADING))
        if outcome is not None:
            lines = [CANCELLED if row is None else f"{NAMES[row]}: {text}"
                     for row, text in outcome]
            self.assertEqual(lines, s.text(FAILED_OUTCOME).split("\r\n"))
        finish = s.button("finish")
        self.assertTrue(finish["visible"] and finish["enabled"], finish)
        s.press("finish")
        s.do("wait-closed", harness.STEP_TIMEOUT_MS)
        self.assertEqual(0, s.exit_code())

    def ask_to_cancel(self):
        s = self.session
        s.press("cancel")
        self.assertQuestionBox(CANCEL_CAPTION, CANCEL_QUESTION)


class DownloadTests(DownloadPageCase):

    # ---- counting bytes and files --------------------------------------------------

    def test_sized_download_counts_bytes_fills_the_bar_and_counts_files(self):
        # The archive grows by a stored entry, so that it too takes a while to arrive:
        # WinINet hands over 4 KiB reads only once they are full.
        self.server.replace(2, with_extra_entry(self.server.sample(2),
                                                "qvx-8.3.5/mods/1.8.0.1/qvx/voice.smpkg",
                                                bytes(range(256)) * 400))
        velloa, qvx = self.server.sample(0), self.server.sample(2)
        # Slow enough to be watched: about 7 s for the package, 3 s for the archive.
        self.server.set_mode(0, "slow 40000")
        self.server.set_mode(2, "slow 40000")
        self.open_download_page([0, 2])
        s = self.session

        # The page opens on nothing done out of the two ticked rows.
        self.assertEqual(files_text(0, 2), s.text(FILES_TEXT))
        files_bar = s.progress(FILES_BAR)
        self.assertEqual((0, 0, 2, False), (files_bar["pos"], files_bar["min"], files_bar["max"],
                                            files_bar["marquee"]))
        self.assertDownloadingButtons()

        # "received / total" with the total of the announced length; the bar's range is
        # that length to the byte and its position rises with what arrives.
        samples = []
        for _ in range(4):
            received, total = self.wait_for("bytes shown",
                                            lambda: self.bytes_shown(RECEIVED_AND_TOTAL))
            bar = s.progress(FILE_BAR)
            samples.append((size_in_bytes(received), total, bar))
            if len(samples) == 2:
                s.screenshot_moving("sized-download")
            time.sleep(0.4)
        for received, total, bar in samples:
            self.assertSizeText(total, len(velloa))
            self.assertLessEqual(received, len(velloa))
            self.assertEqual((0, len(velloa), False), (bar["min"], bar["max"], bar["marquee"]))
            self.assertLessEqual(bar["pos"], bar["max"])
        received = [sample[0] for sample in samples]
        positions = [sample[2]["pos"] for sample in samples]
        self.assertEqual(sorted(received), received, "bytes went back")
        self.assertEqual(sorted(positions), positions, "the bar went back")
        self.assertLess(received[0], received[-1], "the bytes did not rise")
        self.assertLess(positions[0], positions[-1], "the bar did not fill")
        self.assertLess(positions[-1], len(velloa), "the download was over too soon to watch")

        # The first row done: one file counted, and the bar measures the second one.
        self.wait_for("first file counted",
                      lambda: True if s.text(FILES_TEXT) == files_text(1, 2) else None)
        self.assertEqual(1, s.progress(FILES_BAR)["pos"])
        self.wait_for("second file's bar",
                      lambda: True if s.progress(FILE_BAR)["max"] == len(qvx) else None)
        _, total = self.wait_for("second file's bytes", lambda: self.received_at_least(
            RECEIVED_AND_TOTAL, 1))
        self.assertSizeText(total, len(qvx))

        # Both whole: the page goes on by itself, through the install page.
        s.do("wait-page", FINISHED, DOWNLOADS_END_MS)
        self.assertIn(INSTALL, s.created_pages())
        log = self.log_lines()
        self.assertEqual(f"Downloading: {self.temp_download(0)} - Done!", log[0])
        self.assertEqual(f"Downloading: {self.temp_download(2)} - Done!", log[1])
        self.assertEqual(["complete", "complete"],
                         [r.state for r in self.server.requests_for(0) + self.server.requests_for(2)])

    def test_download_without_length_shows_a_marquee_and_the_bytes_alone(self):
        velloa = self.server.sample(0)
        self.server.set_mode(0, "slow-chunked 40000")
        self.open_download_page([0])
        s = self.session
        self.assertEqual(files_text(0, 1), s.text(FILES_TEXT))

        samples = []
        for _ in range(3):
            (received,) = self.wait_for("bytes shown", lambda: self.bytes_shown(RECEIVED_ONLY))
            samples.append((size_in_bytes(received), s.progress(FILE_BAR)))
            if len(samples) == 2:
                s.screenshot_moving("marquee-download")
            time.sleep(0.4)
        for received, bar in samples:
            self.assertTrue(bar["marquee"], bar)
            self.assertLessEqual(received, len(velloa))
        received = [sample[0] for sample in samples]
        self.assertEqual(sorted(received), received, "bytes went back")
        self.assertLess(received[0], received[-1], "the bytes did not rise")
        self.assertLess(received[-1], len(velloa), "the download was over too soon to watch")

        # A body without a length is whole when it ends properly.
        s.do("wait-page", FINISHED, DOWNLOADS_END_MS)
        self.assertEqual(f"Downloading: {self.temp_download(0)} - Done!", self.log_lines()[0])

    # ---- bad networks: tries again, resumed where the server allows it ---------------

    def test_cut_downloads_resume_and_arrive_whole(self):
        # The package, 64 MiB, cut three times; the archive cut twice by a server that
        # ignores ranges, so it starts over.
        package = bytes(range(256)) * (256 << 10)
        self.server.replace(0, package)
        self.server.set_mode(0, "cut-at %d,%d,%d" % (16 << 20, 32 << 20, 48 << 20))
        archive = self.server.sample(1)
        self.server.set_mode(1, "cut-at %d,%d norange" % (len(archive) // 3, len(archive) // 2))
        self.open_download_page([0, 1])
        s = self.session
        s.do("wait-page", FINISHED, DOWNLOADS_END_MS)

        served = [r.sent for r in self.server.requests_for(0)]
        self.assertEqual(4, len(served))
        self.assertLessEqual(sum(served), 1.1 * len(package), "the resumed parts were sent again")
        installed = self.desktop.game_folder() / "mods" / "1.8.0.1" / MOD_FILE_NAMES[0]
        self.assertEqual(package, installed.read_bytes())
        self.assertEqual(3, len(self.server.requests_for(1)))
        log = self.log_lines()
        row_0, row_1 = self.temp_download(0), self.temp_download(1)
        self.assertEqual([f"Downloading: {row_0} - Done!"]
                         + [f"Retrying: {row_0} - the body ended before its announced length at "
                            f"byte {at} (try {n} of 4); the next asks for the rest from byte {at}"
                            for n, at in ((1, 16 << 20), (2, 32 << 20), (3, 48 << 20))]
                         + [f"Downloading: {row_1} - Done!"], log[:5])
        self.assertEqual(2, sum(line.startswith(f"Restarting: {row_1} - the server sent the "
                                                "whole file again") for line in log))

    def test_failures_are_tried_again_only_when_a_try_may_help(self):
        self.server.set_mode(0, "to-http")           # https redirected to plain http
        self.server.set_mode(1, "cut")               # always cut
        self.server.set_mode(2, "liar 5368709120")   # 5 GiB announced, 1 file sent
        self.open_download_page([0, 1, 2])
        started = time.monotonic()
        s = self.session
        s.do("wait-page", FAILED, 60000)
        self.assertLess(time.monotonic() - started, 60)
        self.assertNotIn(FINISHED, s.created_pages())
        self.assertEqual([1, 4, 4], [len(self.server.requests_for(row)) for row in range(3)])
        log = self.log_lines()
        row_0, row_1, row_2 = (self.temp_download(row) for row in range(3))
        self.assertEqual([f"Downloading: {row_0} - Failed",
                          f"Failed: {row_0} - redirected from https to plain http",
                          f"Downloading: {row_1} - Failed"], log[:3])
        self.assertIn(f"Failed: {row_1} - the body ended before its announced length, "
                      "after 4 tries", log)
        self.assertIn(f"Downloading: {row_2} - Failed", log)
        self.assertEqual(f"Failed: {row_2} - the body ended before its announced length, "
                         "after 4 tries", log[-1])
        self.assertDownloadsDeleted()
        s.screenshot("failed-three-reasons")
        self.assertFailedPageThenExit([(0, "ダウンロード失敗（http へ転送されました）"),
                                       (1, "ダウンロード失敗（途中で切断されました）"),
                                       (2, "ダウンロード失敗（途中で切断されました）")])

    # ---- every download failing --------------------------------------------------------

    def test_every_download_failing_still_moves_on_then_fails(self):
        # The last 404 comes a second late: three quick ones can end the download
        # page before the test has seen it.
        # The middle one is sent to a server whose certificate has expired.
        self.server.set_mode(0, "404")
        self.server.set_mode(1, self.server.expired_certificate_mode(1))
        self.server.set_mode(2, "404-after 1")
        self.open_download_page([0, 1, 2])
        s = self.session

        s.do("wait-page", FAILED, DOWNLOADS_END_MS)
        s.screenshot("failed")
        # The worker ended normally, so the page went on to the install page, which
        # found nothing to install and ended on the failed page.
        self.assertIn(INSTALL, s.created_pages())
        self.assertNotIn(FINISHED, s.created_pages())
        not_found, expired = "the server answered 404 Not Found", (
            "the server's certificate has expired or is not yet valid; check the computer's "
            "date and time (ERROR_INTERNET_SEC_CERT_DATE_INVALID)")
        self.assertEqual([line for row, why in enumerate((not_found, expired, not_found))
                          for line in (f"Downloading: {self.temp_download(row)} - Failed",
                                       f"Failed: {self.temp_download(row)} - {why}")],
                         self.log_lines())
        self.assertEqual([404, 302, 404], [r.status for r in self.server.requests])
        self.assertDownloadsDeleted()
        self.assertFalse((self.desktop.game_folder() / "mods").exists())
        self.assertFailedPageThenExit([(0, "ダウンロード失敗（HTTP 404）"),
                                       (1, "ダウンロード失敗（証明書の有効期限外です。"
                                           "パソコンの日付と時刻を確認してください）"),
                                       (2, "ダウンロード失敗（HTTP 404）")])

    def test_an_answer_without_a_status_line_fails_its_row_and_says_so(self):
        self.server.set_mode(1, "bad no-status")
        self.open_download_page([0, 1])
        s = self.session
        s.do("wait-page", FAILED, DOWNLOADS_END_MS)
        log = self.log_lines()
        self.assertEqual([f"Downloading: {self.temp_download(1)} - Failed",
                          f"Failed: {self.temp_download(1)} - the server's answer was not valid: "
                          "no status line"], log[1:3])
        self.assertEqual(1, len(self.server.requests_for(1)), "tried again")
        self.assertDownloadsDeleted()
        s.screenshot("failed-invalid-answer")
        self.assertFailedPageThenExit([(0, "インストール完了"),
                                       (1, "ダウンロード失敗（サーバーの応答が不正です）")])

    def test_web_pages_are_never_installed_for_a_package_or_an_archive(self):
        self.server.set_mode(0, "bad sign-in-page")  # text/html
        self.server.set_mode(1, "bad page-as-file")  # an HTML body as a binary
        self.open_download_page([0, 1, 2])
        s = self.session
        s.do("wait-page", FAILED, DOWNLOADS_END_MS)
        log = self.log_lines()
        for row in (0, 1):
            self.assertIn(f"Failed: {self.temp_download(row)} - the server sent a web page "
                          "instead of the file", log)
            self.assertEqual(1, len(self.server.requests_for(row)), "tried again")
        game = self.desktop.game_folder()
        self.assertFalse((game / "mods" / "1.8.0.1" / MOD_FILE_NAMES[0]).exists())
        self.assertFalse((game / "res_mods").exists() or (game / "mods" / "1.8.0.1" / "fieldwatch")
                         .exists(), "the archive's files")
        self.assertDownloadsDeleted()
        s.screenshot("failed-web-page")
        page = "ダウンロード失敗（ファイルではなくウェブページが返されました）"
        self.assertFailedPageThenExit([(0, page), (1, page), (2, "インストール完了")])
        self.assertEqual(3, s.run_without_windows("/VERYSILENT", "/MODS=velloa,fieldwatch"))
        self.assertFalse((game / "mods" / "1.8.0.1" / MOD_FILE_NAMES[0]).exists())

    def test_download_larger_than_the_temporary_drive_fails_before_writing(self):
        temp = self.small_drive("t", "2m")
        self.move_temporary_folder("T:\\")
        self.server.replace(1, os.urandom(3 << 20))
        self.server.set_mode(2, "404-after 2")  # holds the page open: row 1 fails at once
        self.open_download_page([1, 2])
        s = self.session
        s.do("wait-page", FAILED, DOWNLOADS_END_MS)
        self.assertLessEqual(set(os.listdir(temp)), {"installer.log", "installer.journal"})
        log = (temp / "installer.log").read_text("utf-8").splitlines()
        path = "T:\\" + MOD_FILE_NAMES[1]
        self.assertEqual(f"Downloading: {path} - Failed", log[0])
        free = re.fullmatch(rf"Failed: {re.escape(path)} - not enough free space on the temporary "
                            r"folder's drive \(3,145,728 bytes needed, ([\d,]+) free\)", log[1])
        # What the drive holds less the log's and the journal's pages.
        self.assertTrue(free and 0 < (2 << 20) - int(free[1].replace(",", "")) < 64 << 10, log)
        self.assertEqual(1, len(self.server.requests_for(1)), "tried again")
        s.screenshot("failed-temporary-drive-full")
        self.assertFailedPageThenExit([(1, "ダウンロード失敗（ディスクの空き容量が不足しています）"),
                                       (2, "ダウンロード失敗（HTTP 404）")])
        self.assertEqual(3, s.run_without_windows("/VERYSILENT", "/MODS=fieldwatch"))
        self.assertEqual(log[:2], (temp / "installer.log").read_text("utf-8").splitlines())

if __name__ == "__main__":
    unittest.main(verbosity=2)
