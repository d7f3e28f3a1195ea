"""The whole job of the real installer under Wine, driven through its pages: the
mods fetched from the loopback server on the catalogue's URLs, installed into the game
folder, the log, the downloads removed, and the ending it owns up to: finished only when
everything arrived and went in, failed otherwise (a missing mod, a hostile archive, a
cancel during the install).

Run through ctest (gui.install) or by hand from tests/gui:
    python3 -m unittest -v test_install
"""

import io
import os
import re
import shutil
import struct
import time
import unittest
import zipfile

import harness
from harness import CONFIRM, DOWNLOAD, FAILED, FINISHED, FOLDER, INSTALL, MOD_SELECT, WELCOME
from mods_server import MOD_FILE_NAMES, ServedTestCase


FOLDER_EDIT = 1003
MOD_TREE = 1013
CONFIRM_SUMMARY = 1011
DOWNLOAD_BYTES = 1015
INSTALL_FILE = 1012
INSTALL_BAR = 1019
INSTALL_DETAILS = 1005
FINISH_HEADING = 1009
FAILED_OUTCOME = 1021

TICKED = "2"
MOD_NAMES = ("brassfinch Velloa SimpleVoice", "Fieldwatch", "QVX")
GAME_FOLDER = "C:\\Games\\Steelmarch_ASIA"
FINISHED_HEADING = "セットアップウィザードの完了"
FAILED_HEADING = "インストールが正常に完了できませんでした。"
CANCEL_QUESTION = "インストールが続行中です。\n終了しますか？"
CANCEL_CAPTION = "セットアップ"
REFUSED_REASON = "the entry would be written outside the game folder"

# What each sample mod puts into the game folder (relative path there), from which row
# and which archive entry (None: the downloaded file itself). Readmes and anything else
# without "mods" in its path stay out.
EXPECTED_FILES = [
    ("mods\\1.8.0.1\\brassfinch.velloa_simple_voice_mod_2017.2.smpkg", 0, None),
    ("res_mods\\1.8.0.1\\gui\\fieldwatch\\設定.xml", 1, "res_mods/1.8.0.1/gui/fieldwatch/設定.xml"),
    ("res_mods\\1.8.0.1\\gui\\fieldwatch\\icons\\marker.png", 1,
     "res_mods/1.8.0.1/gui/fieldwatch/icons/marker.png"),
    ("mods\\1.8.0.1\\fieldwatch\\fieldwatch.smpkg", 1, "mods/1.8.0.1/fieldwatch/fieldwatch.smpkg"),
    ("qvx-8.3.5\\res_mods\\1.8.0.1\\scripts\\client\\gui\\mods\\qvx_設定.json", 2,
     "qvx-8.3.5/res_mods/1.8.0.1/scripts/client/gui/mods/qvx_設定.json"),
    ("qvx-8.3.5\\mods\\1.8.0.1\\qvx\\コア.smpkg", 2, "qvx-8.3.5/mods/1.8.0.1/qvx/コア.smpkg"),
    ("qvx-8.3.5\\mods\\configs\\qvx\\battle\\打撃.xml", 2,
     "qvx-8.3.5/mods/configs/qvx/battle/打撃.xml"),
]
LEFT_OUT = ("readme.txt", "QVX使い方.txt")
RECORD_FOLDER = "ZelkorsModsPack"

# Entries that try to leave the game folder (as the product logs them, with backslashes),
# and the one good entry served beside them.
HOSTILE_ENTRIES = [
    ("../../evil/mods.txt", "..\\..\\evil\\mods.txt"),
    ("C:/x/mods.txt", "C:\\x\\mods.txt"),
    ("..\\..\\evil2\\mods.txt", "..\\..\\evil2\\mods.txt"),
    ("/abs/mods.txt", "\\abs\\mods.txt"),
    ("res_mods/../../../evil3/mods.txt", "res_mods\\..\\..\\..\\evil3\\mods.txt"),
]
GOOD_ENTRY = ("mods/1.8.0.1/good/ok.smpkg", "mods\\1.8.0.1\\good\\ok.smpkg")

# A long install, to be watched, asked about twice and cancelled: files written two at
# a time cost Wine some 0.3 to 0.6 ms each, so this many small entries take 15 to 30 s.
LONG_INSTALL_ENTRIES = 48000
LONG_INSTALL_ENTRY_BYTES = 2048

DOWNLOADS_END_MS = 30000
LONG_INSTALL_END_MS = 120000


def tearDownModule():
    harness.stop_shared_desktop()


def zip_bytes(entries, damaged=None):
    """A zip archive of (name, bytes) entries. DAMAGED, an entry's index: that entry is
    stored with a byte of its data changed, so that its checksum fails."""
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as archive:
        for i, (name, data) in enumerate(entries):
            method = zipfile.ZIP_STORED if i == damaged else zipfile.ZIP_DEFLATED
            archive.writestr(zipfile.ZipInfo(name), data, method)
    blob = bytearray(out.getvalue())
    if damaged is not None:
        with zipfile.ZipFile(io.BytesIO(bytes(blob))) as archive:
            info = archive.infolist()[damaged]
        at = info.header_offset
        name_length, extra_length = struct.unpack("<HH", blob[at + 26:at + 30])
        blob[at + 30 + name_length + extra_length + info.compress_size // 2] ^= 0x55
    return bytes(blob)


def file_states(folder):
    """Size and modification time of every file under FOLDER."""
    states = {}
    for here, _, names in os.walk(folder):
        for name in names:
            info = os.stat(os.path.join(here, name))
            states[os.path.join(here, name)] = (info.st_size, info.st_mtime_ns)
    return states


def files_below(folder):
    """Every file under FOLDER, as relative Windows paths, less the pack's own record
    of what it installed."""
    found = set()
    for here, folders, names in os.walk(folder):
        if here == str(folder) and RECORD_FOLDER in folders:
            folders.remove(RECORD_FOLDER)
        for name in names:
            relative = os.path.relpath(os.path.join(here, name), folder)
            found.add(relative.replace("/", "\\"))
    return found


class InstallSteps:
    """The steps of a wizard run and what the tests check after it, for test cases that
    are also ServedTestCases."""

    def setUp(self):
        super().setUp()
        self.temp = harness.unescape(self.session.do("temp-path").strip())

    def walk_to_download(self, rows, screenshots=False, folder=None, cwd=None):
        """Ticks ROWS and goes on from the confirmation page, which starts downloading;
        FOLDER is typed in place of the one found."""
        s = self.session
        shoot = s.screenshot if screenshots else (lambda label: None)
        s.start(cwd)
        self.assertEqual(WELCOME, s.wait_sheet())
        shoot("welcome")
        s.press("next")
        s.wait_page(FOLDER)
        self.assertEqual(GAME_FOLDER + "\\", s.text(FOLDER_EDIT))
        if folder:
            s.do("set-text", FOLDER_EDIT, folder)
        shoot("folder")
        s.press("next")
        s.wait_page(MOD_SELECT)
        for row in rows:
            self.assertEqual(TICKED, s.do("tree-toggle", MOD_TREE, row).strip())
        shoot("mod-select")
        s.press("next")
        s.wait_page(CONFIRM)
        summary = s.text(CONFIRM_SUMMARY)
        for row, name in enumerate(MOD_NAMES):
            self.assertEqual(row in rows, name in summary, name)
        shoot("confirm")
        s.press("next")
        # Small downloads may be over, and their install too, before a first look.
        self.wait_for("left the confirmation page",
                      lambda: True if s.page() != CONFIRM else None, timeout=5)
        self.assertIn(DOWNLOAD, s.created_pages())

    def log_lines(self):
        data = self.session.log_path.read_bytes()
        self.assertFalse(data.startswith(b"\xef\xbb\xbf"), "a byte order mark")
        self.assertNotIn(b"\n", data.replace(b"\r\n", b""), "a line break without CR")
        return data.decode("utf-8").split("\r\n")[:-1]

    def download_path(self, row):
        return self.temp + MOD_FILE_NAMES[row]

    def downloading(self, row, result):
        return f"Downloading: {self.download_path(row)} - {result}"

    def failed_download(self, row, reason):
        return f"Failed: {self.download_path(row)} - {reason}"

    def installing(self, relative):
        return f"Installing: {GAME_FOLDER}\\{relative}"

    def deleting(self, row):
        return f"Delete: {self.download_path(row)}"

    def game_file(self, relative):
        return self.desktop.game_folder() / relative.replace("\\", "/")

    def served_data(self, row, entry):
        data = self.server.sample(row)
        if entry is None:
            return data
        with zipfile.ZipFile(io.BytesIO(data)) as archive:
            return archive.read(entry)

    def assertDownloadsDeleted(self):
        left = [name for name in MOD_FILE_NAMES if (self.desktop.temp_folder() / name).exists()]
        self.assertEqual([], left, "downloads left in %TEMP%")

    def assertEndsOn(self, page, heading):
        """The last page: its heading, Finish alone, and a clean exit once pressed."""
        s = self.session
        self.assertEqual(heading, s.text(FINISH_HEADING))
        pages = s.created_pages()
        self.assertIn(page, pages)
        self.assertNotIn(FAILED if page == FINISHED else FINISHED, pages)
        finish = s.button("finish")
        self.assertTrue(finish["visible"] and finish["enabled"], finish)
        for hidden in ("back", "next", "cancel"):
            self.assertFalse(s.button(hidden)["visible"], hidden)
        s.press("finish")
        s.do("wait-closed", harness.STEP_TIMEOUT_MS)
        self.assertEqual(0, s.exit_code())


class InstallTests(InstallSteps, ServedTestCase):

    # ---- the whole job ---------------------------------------------------------------

    def test_all_three_mods_install_exactly_their_files_and_finish(self):
        # Slow enough for a look at the download page.
        self.server.set_mode(0, "slow 100000")
        self.walk_to_download([0, 1, 2], screenshots=True)
        s = self.session
        self.wait_for("bytes counted", lambda: True if "/" in s.text(DOWNLOAD_BYTES) else None)
        s.screenshot_moving("download")
        s.do("wait-page", FINISHED, DOWNLOADS_END_MS)
        s.screenshot("finished")
        self.assertIn(INSTALL, s.created_pages())

        # Exactly the mods' files, each the bytes served.
        self.assertEqual({relative for relative, _, _ in EXPECTED_FILES} | {"version.xml"},
                         files_below(self.desktop.game_folder()))
        for relative, row, entry in EXPECTED_FILES:
            self.assertEqual(self.served_data(row, entry), self.game_file(relative).read_bytes(),
                             relative)
        for name in LEFT_OUT:
            self.assertFalse(any(path.endswith(name)
                                 for path in files_below(self.desktop.game_folder())), name)

        # The log tells it in order: downloads, installed files, deleted downloads.
        expected = ([self.downloading(row, "Done!") for row in range(3)]
                    + [self.installing(relative) for relative, _, _ in EXPECTED_FILES]
                    + [self.deleting(row) for row in range(3)])
        self.assertEqual(expected, self.log_lines())
        self.assertDownloadsDeleted()
        self.assertEndsOn(FINISHED, FINISHED_HEADING)

    def test_missing_mod_ends_on_the_failed_page_and_the_log_says_so(self):
        self.server.set_mode(2, "404")
        self.walk_to_download([0, 2])
        s = self.session
        s.do("wait-page", FAILED, DOWNLOADS_END_MS)
        s.screenshot("failed")

        # What did arrive is installed; the log owns up to what did not.
        package = EXPECTED_FILES[0][0]
        self.assertEqual({package, "version.xml"}, files_below(self.desktop.game_folder()))
        self.assertEqual(self.server.sample(0), self.game_file(package).read_bytes())
        self.assertEqual([self.downloading(0, "Done!"), self.downloading(2, "Failed"),
                          self.failed_download(2, "the server answered 404 Not Found"),
                          self.installing(package), self.deleting(0)], self.log_lines())
        self.assertEqual([404], [r.status for r in self.server.requests_for(2)])
        self.assertDownloadsDeleted()
        self.assertEndsOn(FAILED, FAILED_HEADING)

    def test_hostile_archive_writes_nothing_outside_the_game_folder(self):
        good = b"SMPKG\x01\x00good\x00" + os.urandom(5000)
        self.server.replace(1, zip_bytes([(name, b"escaped\n") for name, _ in HOSTILE_ENTRIES]
                                         + [(GOOD_ENTRY[0], good)]))
        drive_c = self.desktop.drive_c().resolve()
        temp_relative = os.path.relpath(self.desktop.temp_folder().resolve(),
                                        drive_c).replace("/", "\\")
        game_relative = os.path.relpath(self.desktop.game_folder().resolve(),
                                        drive_c).replace("/", "\\")

        def outside_files():
            return {path for path in files_below(drive_c)
                    if not path.startswith((temp_relative + "\\", game_relative + "\\"))}

        before = outside_files()
        self.walk_to_download([1])
        s = self.session
        s.do("wait-page", FAILED, DOWNLOADS_END_MS)

        self.assertEqual(set(), outside_files() - before, "written outside the game folder")
        for folder in ("evil", "evil2", "evil3", "x", "abs"):
            self.assertFalse((drive_c / folder).exists(), folder)
        # Nor the good entry beside them: a mod goes in whole or not at all.
        self.assertEqual({"version.xml"}, files_below(self.desktop.game_folder()))

        log = self.log_lines()
        self.assertEqual(self.downloading(1, "Done!"), log[0])
        refused = log[1:1 + len(HOSTILE_ENTRIES)]
        self.assertEqual([f"Refused: {shown} - {REFUSED_REASON}" for _, shown in HOSTILE_ENTRIES],
                         refused)
        self.assertEqual([self.deleting(1)], log[1 + len(HOSTILE_ENTRIES):])
        self.assertDownloadsDeleted()
        self.assertEndsOn(FAILED, FAILED_HEADING)

    # ---- cancelling the install ----------------------------------------------------

    def serve_long_install(self, row):
        """Writes a large archive of many small stored entries for ROW; returns the
        number of files it installs."""
        block = os.urandom(1 << 20)
        with zipfile.ZipFile(self.server.path(row), "w", zipfile.ZIP_STORED) as archive:
            for i in range(LONG_INSTALL_ENTRIES):
                start = (i * 7919) % (len(block) - LONG_INSTALL_ENTRY_BYTES)
                archive.writestr(f"res_mods/1.8.0.1/bulk/{i // 100:03d}/file{i:05d}.dat",
                                 block[start:start + LONG_INSTALL_ENTRY_BYTES])
        return LONG_INSTALL_ENTRIES

    def assertCancelQuestion(self):
        self.assertQuestionBox(CANCEL_CAPTION, CANCEL_QUESTION)

    def answer_close_box_question(self, answer):
        """Answers the question the close box raised. Wine's property sheet turns one
        click on the close box into two cancel requests (the click, then its WM_CLOSE),
        so the same question may come once more: it gets the same answer."""
        s = self.session
        s.do("answer", answer)
        # The answered box goes at once; one seen after a while is the second request's.
        # It is read without insisting: the worker may end and the page move on while
        # the driver looks at it.
        time.sleep(1.0)
        if s.check("msgbox", 0):
            code, out, _ = self.desktop.drive("msgbox", 0)
            if code == 0:
                self.assertIn("text=" + CANCEL_QUESTION.replace("\n", "\\n"), out.splitlines())
            if s.check("msgbox", 0):
                s.answer(answer)
        self.assertTrue(s.check("no-msgbox", 500), "asked a third time")

    def installed_count(self):
        return self.session.progress(INSTALL_BAR)["pos"]

    def test_install_asks_before_cancelling_and_fails_after_the_worker_ends(self):
        total = self.serve_long_install(1)
        self.walk_to_download([1])
        s = self.session
        s.do("wait-page", INSTALL, DOWNLOADS_END_MS)

        # The install cannot be cancelled from the button, only asked about from the
        # close box; nothing else to press.
        self.assertFalse(s.button("cancel")["enabled"])
        for name in ("back", "next"):
            self.assertFalse(s.button(name)["enabled"], name)
        self.wait_for("files counted", lambda: True if self.installed_count() > 0 else None)
        bar = s.progress(INSTALL_BAR)
        self.assertEqual((0, total, False), (bar["min"], bar["max"], bar["marquee"]))
        current = s.text(INSTALL_FILE)
        self.assertTrue(current.startswith(GAME_FOLDER + "\\res_mods\\1.8.0.1\\bulk\\"), current)
        self.assertFalse(s.check("click", INSTALL_DETAILS), "the details button works")
        s.screenshot_moving("installing")

        # No: the worker waits while asked, then goes on.
        s.close_box()
        self.assertCancelQuestion()
        held = self.installed_count()
        files = file_states(self.desktop.game_folder())
        s.screenshot("cancel-question", window="msgbox")
        time.sleep(1.0)
        self.assertEqual(held, self.installed_count(), "installing while asked")
        self.assertEqual(files, file_states(self.desktop.game_folder()),
                         "the game folder changed while asked")
        self.answer_close_box_question("no")
        self.assertEqual(INSTALL, s.page())
        self.wait_for("installing again",
                      lambda: True if self.installed_count() > held else None)
        self.assertLess(self.installed_count(), total, "the install was over too soon to watch")

        # Yes: the page stays until the worker has ended, then owns up.
        s.close_box()
        self.assertCancelQuestion()
        self.answer_close_box_question("yes")
        s.do("wait-page", FAILED, LONG_INSTALL_END_MS)
        # The worker's last step, deleting the download, came before the page changed.
        log = self.log_lines()
        self.assertEqual(self.deleting(1), log[-1])
        self.assertEqual(self.downloading(1, "Done!"), log[0])
        self.assertTrue(all(line.startswith(f"Installing: {GAME_FOLDER}\\res_mods\\")
                            for line in log[1:-1]), "a failure logged")
        self.assertDownloadsDeleted()
        s.screenshot("failed")
        self.assertEndsOn(FAILED, FAILED_HEADING)


    # ---- faults: a killed process, a full disk, a drive root ---------------------------

    def serve_large_files(self, row, count, size):
        """An archive of COUNT stored entries of SIZE random bytes for ROW; returns
        {relative destination: bytes}."""
        files = {f"res_mods\\1.8.0.1\\large\\part{i}.bin": os.urandom(size)
                 for i in range(count)}
        with zipfile.ZipFile(self.server.path(row), "w", zipfile.ZIP_STORED) as archive:
            for relative, data in files.items():
                archive.writestr(relative.replace("\\", "/"), data)
        return files

    def kill_when_logged(self, line, timeout=30):
        """Kills the installer (SIGKILL, a real crash) as soon as its log holds LINE."""
        deadline = time.monotonic() + timeout
        while line not in self.session.log_path.read_text(encoding="utf-8", errors="replace"):
            self.assertLess(time.monotonic(), deadline, f"never logged: {line}")
            time.sleep(0.005)
        self.session.installer.kill()
        self.session.installer.wait(30)
        self.session.do("wait-closed", harness.STEP_TIMEOUT_MS)

    def test_killed_install_leaves_every_file_old_or_new_and_the_next_run_tidies_up(self):
        new = self.serve_large_files(1, 4, 32 << 20)
        old = {relative: b"old " + os.urandom(1 << 20) for relative in new}
        for relative, data in old.items():
            self.game_file(relative).parent.mkdir(parents=True, exist_ok=True)
            self.game_file(relative).write_bytes(data)
        cut_short = 0
        # Each run is killed just as it starts writing another of the large files.
        for target in list(new)[:3]:
            self.session.remove_log()
            self.walk_to_download([1])
            self.kill_when_logged(self.installing(target))
            for relative in new:
                data = self.game_file(relative).read_bytes()
                self.assertIn(data, (old[relative], new[relative]), f"{relative} is cut")
            leftovers = sorted(p for p in files_below(self.desktop.game_folder())
                               if p.endswith(".zm~"))
            cut_short += bool(leftovers)
        self.assertGreater(cut_short, 0, "no kill landed while a file was being written")

        # The next run first removes what the killed ones left, then installs everything.
        self.walk_to_download([1])
        self.session.do("wait-page", FINISHED, DOWNLOADS_END_MS)
        self.assertEqual([], [p for p in files_below(self.desktop.game_folder())
                              if p.endswith(".zm~")])
        log = self.log_lines()
        removed = [line for line in log if line.startswith("Removed: ")]
        self.assertEqual(removed, log[:len(removed)])
        left_by_the_last = [self.download_path(1)] + [f"{GAME_FOLDER}\\{p}" for p in leftovers]
        self.assertEqual(sorted(f"Removed: {path} - left by an earlier run that did not finish"
                                for path in left_by_the_last), sorted(removed))
        for relative, data in new.items():
            self.assertEqual(data, self.game_file(relative).read_bytes(), relative)
        self.assertEndsOn(FINISHED, FINISHED_HEADING)

    def small_game_drive(self, size):
        """A game folder G:\\Steelmarch on a tmpfs of SIZE, until the test ends."""
        disk = self.small_drive("g", size)
        game = disk / "Steelmarch"
        (game / "res_mods" / "1.8.0.1").mkdir(parents=True)
        (game / "version.xml").write_text(harness.version_xml("1.8.0.1"))
        return game

    def test_archive_larger_than_the_free_space_is_not_installed_at_all(self):
        game = self.small_game_drive("3m")
        old = b"old " + os.urandom(512 << 10)
        (game / "res_mods" / "1.8.0.1" / "big.bin").write_bytes(old)
        small, big = os.urandom(1024), os.urandom(4 << 20)
        with zipfile.ZipFile(self.server.path(1), "w", zipfile.ZIP_STORED) as archive:
            archive.writestr("res_mods/1.8.0.1/small.bin", small)
            archive.writestr("res_mods/1.8.0.1/big.bin", big)

        self.walk_to_download([1], folder="G:\\Steelmarch\\")
        s = self.session
        s.do("wait-page", FAILED, DOWNLOADS_END_MS)
        self.assertEqual(old, (game / "res_mods" / "1.8.0.1" / "big.bin").read_bytes())
        self.assertEqual({"version.xml", "res_mods\\1.8.0.1\\big.bin"}, files_below(game))
        log = self.log_lines()
        self.assertEqual([self.downloading(1, "Done!"), self.deleting(1)], log[:1] + log[2:])
        figures = re.fullmatch(rf"Failed: {re.escape(self.download_path(1))} - not enough free "
                               r"space on the game folder's drive \(([\d,]+) bytes needed, "
                               r"([\d,]+) free\)", log[1])
        self.assertIsNotNone(figures, log[1])
        needed, free = (int(figure.replace(",", "")) for figure in figures.groups())
        self.assertGreaterEqual(needed, len(small) + len(big))
        self.assertLess(free, needed)
        self.assertEqual("Fieldwatch: インストール失敗（ディスクの空き容量が不足しています）",
                         s.text(FAILED_OUTCOME))
        s.screenshot("disk-too-small")
        self.assertEndsOn(FAILED, FAILED_HEADING)
        self.assertEqual(3, self.run_unattended("/VERYSILENT", "/DIR=G:\\Steelmarch",
                                                "/MODS=fieldwatch"))
        self.assertEqual(old, (game / "res_mods" / "1.8.0.1" / "big.bin").read_bytes())

    def test_full_disk_during_the_install_keeps_the_old_file_and_leaves_no_temporary_file(self):
        # Tiny files pass the check by their sizes, but each takes a page of the drive;
        # the drive holds the uninstaller's copy and 1.5 MB more, not 900 pages more.
        game = self.small_game_drive(f"{harness.INSTALLER_EXE.stat().st_size // 1024 + 1536}k")
        old = b"old file"
        (game / "res_mods" / "1.8.0.1" / "f0.bin").write_bytes(old)
        self.server.replace(1, zip_bytes([(f"res_mods/1.8.0.1/f{i}.bin", b"n") for i in range(900)]))
        self.walk_to_download([1], folder="G:\\Steelmarch\\")
        self.session.do("wait-page", FAILED, DOWNLOADS_END_MS)
        self.assertIn((game / "res_mods" / "1.8.0.1" / "f0.bin").read_bytes(), (old, b"n"))
        self.assertEqual([], [p for p in files_below(game) if p.endswith(".zm~")])
        self.assertTrue(any(line.endswith(" - the file could not be created")
                            or line.endswith(" - the file could not be written")
                            or "could not be replaced" in line for line in self.log_lines()))
        self.assertEndsOn(FAILED, FAILED_HEADING)

    def test_game_folder_at_a_drive_root_started_from_that_drive(self):
        root = harness.SCRATCH_DIR / "drive-h"
        shutil.rmtree(root, ignore_errors=True)
        (root / "tools").mkdir(parents=True)
        (root / "version.xml").write_text(harness.version_xml("1.8.0.1"))
        self.map_drive("h", root)
        # Started from H:\tools: "H:" alone would be that folder, not the root.
        self.walk_to_download([1], folder="H:\\", cwd=root / "tools")
        s = self.session
        s.do("wait-page", FINISHED, DOWNLOADS_END_MS)
        fieldwatch = [(relative, entry) for relative, row, entry in EXPECTED_FILES if row == 1]
        for relative, entry in fieldwatch:
            self.assertEqual(self.served_data(1, entry),
                             (root / relative.replace("\\", "/")).read_bytes(), relative)
        self.assertEqual([self.downloading(1, "Done!")]
                         + [f"Installing: H:\\{relative}" for relative, _ in fieldwatch]
                         + [self.deleting(1)], self.log_lines())
        self.assertEndsOn(FINISHED, FINISHED_HEADING)


    # ---- unattended runs ---------------------------------------------------------------

    def run_unattended(self, *args, timeout=60):
        return self.session.run_without_windows(*args, timeout=timeout)

    def test_unattended_run_installs_every_mod_and_exits_0(self):
        self.assertEqual(0, self.run_unattended("/VERYSILENT"))
        for relative, row, entry in EXPECTED_FILES:
            self.assertEqual(self.served_data(row, entry), self.game_file(relative).read_bytes(),
                             relative)
        expected = ([self.downloading(row, "Done!") for row in range(3)]
                    + [self.installing(relative) for relative, _, _ in EXPECTED_FILES]
                    + [self.deleting(row) for row in range(3)])
        self.assertEqual(expected, self.log_lines())
        self.assertDownloadsDeleted()

    def test_unattended_run_refuses_to_start_and_exits_1(self):
        other = self.desktop.game_folder().parent / "Steelmarch_old"
        shutil.rmtree(other, ignore_errors=True)
        other.mkdir(parents=True)
        (other / "version.xml").write_bytes(harness.version_xml("1.7.0.0").encode("utf-8"))
        other_windows = "C:\\Games\\Steelmarch_old"
        cases = [
            (["/S", f"/DIR={other_windows}"],
             f"Could not start: {other_windows} - the game is version 1.7.0.0; 1.8.0.1 is needed"),
            (["/VERYSILENT", "/Bogus"], "Could not start: unknown switch /Bogus"),
            (["/verysilent", "/MODS=velloa,tanks"], "Could not start: malformed switch "
             "/MODS=velloa,tanks: the mods are velloa, fieldwatch, qvx or all"),
        ]
        try:
            for args, reason in cases:
                self.session.remove_log()
                self.assertEqual(1, self.run_unattended(*args), args)
                self.assertEqual([reason], self.log_lines())
                self.assertEqual([], self.server.requests, args)
        finally:
            shutil.rmtree(other, ignore_errors=True)
        self.assertFalse((self.desktop.game_folder() / "mods").exists())

    def test_unattended_run_with_a_failed_mod_exits_3_and_logs_where_asked(self):
        self.server.set_mode(2, "404")
        log = self.desktop.game_folder().parent / "unattended.log"
        log.unlink(missing_ok=True)
        self.assertEqual(3, self.run_unattended("/VERYSILENT", "/MODS=velloa,QVX",
                                                "/LOG=C:\\Games\\unattended.log"))
        package, _, _ = EXPECTED_FILES[0]
        self.assertEqual(self.served_data(0, None), self.game_file(package).read_bytes())
        self.assertFalse(self.session.log_path.exists(), "a log in %TEMP% too")
        self.assertEqual([self.downloading(0, "Done!"), self.downloading(2, "Failed"),
                          self.failed_download(2, "the server answered 404 Not Found"),
                          self.installing(package), self.deleting(0)],
                         log.read_bytes().decode("utf-8").split("\r\n")[:-1])
        self.assertEqual([1, 0, 1], [len(self.server.requests_for(row)) for row in range(3)])
        log.unlink()

    def test_wizard_shows_the_folder_and_mods_named_on_the_command_line(self):
        s = self.session
        s.start(args=["/DIR=C:\\Games\\Steel March", "/MODS=fieldwatch,qvx"])
        self.assertEqual(WELCOME, s.wait_sheet())
        s.press("next")
        s.wait_page(FOLDER)
        self.assertEqual("C:\\Games\\Steel March\\", s.text(FOLDER_EDIT))
        s.screenshot("folder-from-command-line")
        s.do("set-text", FOLDER_EDIT, GAME_FOLDER)
        s.press("next")
        s.wait_page(MOD_SELECT)
        s.screenshot("mods-from-command-line")
        states = s.do("tree", MOD_TREE).splitlines()
        self.assertEqual(3, len(states), states)
        for row, line in enumerate(states):
            self.assertEqual(row in (1, 2), line.split("\t")[1] == TICKED, line)
        s.press("next")
        s.wait_page(CONFIRM)
        summary = s.text(CONFIRM_SUMMARY)
        self.assertNotIn(MOD_NAMES[0], summary)
        self.assertIn(MOD_NAMES[1], summary)
        self.assertIn(MOD_NAMES[2], summary)


if __name__ == "__main__":
    unittest.main(verbosity=2)
