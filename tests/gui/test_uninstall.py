"""Taking the pack out again: the record an install leaves in the game folder, the
Apps & Features entry in the prefix's real registry, and the uninstaller that entry
runs, which must give the folder back byte for byte (a file changed by hand stays).

Run through ctest (gui.uninstall) or by hand from tests/gui:
    python3 -m unittest -v test_uninstall
"""

import hashlib
import os
import shutil
import subprocess
import time
import unittest

import harness
from mods_server import ServedTestCase
from test_install import EXPECTED_FILES, GAME_FOLDER, RECORD_FOLDER, zip_bytes

UNINSTALL_KEY = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
PRODUCT = "Zelkor's Mods Pack"
GAME_RUNNING = "Steelmarchが起動しているためアンインストールを開始できません。"
OVERWRITTEN = "res_mods\\1.8.0.1\\gui\\fieldwatch\\設定.xml"  # an archive entry replaces it
BESIDE = "res_mods\\1.8.0.1\\gui\\fieldwatch\\memo.txt"  # in a folder the archive writes to
CHANGED_BY_HAND = "qvx-8.3.5\\mods\\configs\\qvx\\battle\\打撃.xml"


def tearDownModule():
    harness.stop_shared_desktop()


def split_command_line(command):
    """The words of a Windows command line with quoted parts (no escaped quotes)."""
    words, word, quoted, started = [], "", False, False
    for c in command:
        if c == '"':
            quoted, started = not quoted, True
        elif c == " " and not quoted:
            if started:
                words.append(word)
            word, started = "", False
        else:
            word, started = word + c, True
    if started:
        words.append(word)
    return words


def folder_state(folder):
    """Every file's bytes and every folder below FOLDER, by relative Windows path."""
    files, folders = {}, set()
    for here, names, file_names in os.walk(folder):
        relative = os.path.relpath(here, folder).replace("/", "\\")
        for name in names:
            folders.add(name if relative == "." else f"{relative}\\{name}")
        for name in file_names:
            path = name if relative == "." else f"{relative}\\{name}"
            with open(os.path.join(here, name), "rb") as file:
                files[path] = file.read()
    return files, folders


class UninstallTests(ServedTestCase):

    def setUp(self):
        super().setUp()
        self.remove_entries()
        self.addCleanup(self.remove_entries)
        self.game = self.desktop.game_folder()

    def remove_entries(self):
        for key in self.desktop.registry(UNINSTALL_KEY):
            if "ZelkorsModsPack" in key:
                subprocess.run(["wine", "reg", "delete", key, "/f"], env=self.desktop.env,
                               stdin=subprocess.DEVNULL, capture_output=True, timeout=60)

    # ---- steps shared by the tests -----------------------------------------------

    def put(self, relative, data):
        path = self.game / relative.replace("\\", "/")
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)

    def read(self, relative):
        return (self.game / relative.replace("\\", "/")).read_bytes()

    def install(self, *args):
        self.assertEqual(0, self.session.run_without_windows("/VERYSILENT", *args))

    def entry(self):
        """The values of the one Apps & Features entry of the pack."""
        entries = {key: values for key, values in self.desktop.registry(UNINSTALL_KEY).items()
                   if "ZelkorsModsPack" in key}
        self.assertEqual(1, len(entries), entries)
        return next(iter(entries.values()))

    def quiet_uninstall(self):
        """Runs the entry's QuietUninstallString as Apps & Features would; its exit code."""
        words = split_command_line(self.entry()["QuietUninstallString"][1])
        return self.session.run_without_windows(*words[1:], exe=words[0], timeout=120)

    def record_lines(self):
        text = (self.game / RECORD_FOLDER / "installed.txt").read_bytes().decode("utf-8")
        return [line.split("\t") for line in text.split("\r\n")
                if line and not line.startswith("#")]

    def log_lines(self):
        return self.session.log_path.read_bytes().decode("utf-8").split("\r\n")[:-1]

    def assertFolderIs(self, state):
        files, folders = folder_state(self.game)
        self.assertEqual(sorted(state[0]), sorted(files))
        for path, data in state[0].items():
            self.assertEqual(data, files[path], path)
        self.assertEqual(state[1], folders, "folders")

    def assertNoEntry(self):
        self.assertEqual([], [key for key in self.desktop.registry(UNINSTALL_KEY)
                              if "ZelkorsModsPack" in key])

    # ---- the whole round -----------------------------------------------------------

    def test_uninstall_gives_the_folder_back_and_keeps_a_file_changed_by_hand(self):
        self.put(OVERWRITTEN, b"<original/>")
        self.put(BESIDE, "プレイヤーのメモ".encode("utf-8"))
        before = folder_state(self.game)
        self.install()

        # The record: one line per installed file, with the bytes' size and hash, and
        # the original kept for the one file that was there before.
        lines = {fields[7]: fields for fields in self.record_lines() if fields[0] == "file"}
        self.assertEqual(sorted(relative for relative, _, _ in EXPECTED_FILES), sorted(lines))
        for relative, row, _ in EXPECTED_FILES:
            kind, mod, size, sha256, was, *_ = lines[relative]
            data = self.read(relative)
            self.assertEqual((str(len(data)), hashlib.sha256(data).hexdigest()), (size, sha256))
            self.assertEqual(("velloa", "fieldwatch", "qvx")[row], mod)
            self.assertEqual("replaced" if relative == OVERWRITTEN else "new", was, relative)
        backups = list((self.game / RECORD_FOLDER / "backup").iterdir())
        self.assertEqual([b"<original/>"], [path.read_bytes() for path in backups])

        values = self.entry()
        self.assertEqual(("REG_SZ", PRODUCT), values["DisplayName"])
        self.assertEqual(("REG_SZ", GAME_FOLDER), values["InstallLocation"])
        uninstaller = f"{GAME_FOLDER}\\{RECORD_FOLDER}\\uninstall.exe"
        self.assertEqual(("REG_SZ", f'"{uninstaller}" /UNINSTALL /DIR="{GAME_FOLDER}"'),
                         values["UninstallString"])
        self.assertEqual(values["UninstallString"][1] + " /VERYSILENT",
                         values["QuietUninstallString"][1])
        for name in ("DisplayVersion", "Publisher", "DisplayIcon", "InstallDate"):
            self.assertEqual("REG_SZ", values[name][0], name)
        self.assertRegex(values["InstallDate"][1], r"^20\d{6}$")
        self.assertEqual(("REG_DWORD", "0x1"), values["NoModify"])
        self.assertEqual(("REG_DWORD", "0x1"), values["NoRepair"])
        installed = sum(len(self.read(relative)) for relative, _, _ in EXPECTED_FILES)
        self.assertEqual(("REG_DWORD", hex((installed + 1023) // 1024)), values["EstimatedSize"])

        changed = b"<hit value='changed by the player'/>"
        self.put(CHANGED_BY_HAND, changed)
        self.session.remove_log()
        self.assertEqual(3, self.quiet_uninstall())  # one file kept
        expected_files = dict(before[0], **{CHANGED_BY_HAND: changed})
        kept_folders = {"qvx-8.3.5", "qvx-8.3.5\\mods", "qvx-8.3.5\\mods\\configs",
                        "qvx-8.3.5\\mods\\configs\\qvx", "qvx-8.3.5\\mods\\configs\\qvx\\battle"}
        self.assertFolderIs((expected_files, before[1] | kept_folders))
        self.assertNoEntry()
        log = self.log_lines()
        self.assertIn(f"Kept: {GAME_FOLDER}\\{CHANGED_BY_HAND} - changed since it was installed",
                      log)
        self.assertIn(f"Restored: {GAME_FOLDER}\\{OVERWRITTEN} - the original is back", log)
        self.assertEqual("Uninstalled: 5 removed, 1 originals restored, 1 kept, 0 left, 0 refused",
                         log[-1])

        # A second time there is nothing left to take out.
        self.session.remove_log()
        self.assertEqual(1, self.session.run_without_windows("/UNINSTALL", "/VERYSILENT"))
        self.assertEqual(f"Could not start: {GAME_FOLDER} - there is nothing to uninstall there",
                         self.log_lines()[-1])

    def test_installing_again_replaces_a_mods_files_and_leaves_no_stale_one(self):
        self.put(OVERWRITTEN, b"<original/>")
        before = folder_state(self.game)
        self.install("/MODS=fieldwatch")
        # The next version of the mod changes one file, drops one and adds one.
        newer = zip_bytes([("res_mods/1.8.0.1/gui/fieldwatch/設定.xml", b"<v2/>"),
                           ("mods/1.8.0.1/fieldwatch/fieldwatch.smpkg", b"SMPKG v2"),
                           ("mods/1.8.0.1/fieldwatch/extra.smpkg", b"SMPKG extra")])
        self.server.replace(1, newer)
        self.session.remove_log()
        self.install("/MODS=fieldwatch")
        self.assertEqual(b"<v2/>", self.read(OVERWRITTEN))
        self.assertFalse((self.game / "res_mods/1.8.0.1/gui/fieldwatch/icons").exists())
        marker = f"{GAME_FOLDER}\\res_mods\\1.8.0.1\\gui\\fieldwatch\\icons\\marker.png"
        self.assertIn(f"Removed: {marker} - the mod no longer installs it", self.log_lines())
        # The original stays the one from before the pack, not the pack's first version.
        backups = list((self.game / RECORD_FOLDER / "backup").iterdir())
        self.assertEqual([b"<original/>"], [path.read_bytes() for path in backups])

        self.assertEqual(0, self.quiet_uninstall())
        self.assertFolderIs(before)
        self.assertNoEntry()

    def test_a_deep_game_folder_and_deep_entries_go_in_and_out(self):
        # Together past 300 characters, as a deep library and a deep mod make them.
        folder = "ライブラリ\\" + "\\".join(["Steelmarch アジア版"] * 9)
        library = self.desktop.drive_c() / "Games" / "ライブラリ"
        shutil.rmtree(library, ignore_errors=True)
        self.addCleanup(shutil.rmtree, library, ignore_errors=True)
        self.game = self.desktop.drive_c() / "Games" / folder.replace("\\", "/")
        self.game.mkdir(parents=True)
        (self.game / "version.xml").write_text(harness.version_xml("1.8.0.1"))
        deep = "res_mods/1.8.0.1/" + "/".join(["configuration"] * 10) + "/設定.xml"
        self.put(deep.replace("/", "\\"), b"<original/>")
        self.server.replace(1, zip_bytes([(deep, b"<pack/>"), (deep[:-6] + "new.xml", b"new")]))
        windows_folder = f"C:\\Games\\{folder}"
        self.assertGreater(len(f"{windows_folder}\\{deep}"), 300)
        before = folder_state(self.game)
        self.install(f"/DIR={windows_folder}", "/MODS=fieldwatch")
        self.assertEqual(b"<pack/>", self.read(deep))
        self.assertEqual(0, self.quiet_uninstall())
        self.assertFolderIs(before)
        self.assertNoEntry()

    def test_killed_uninstall_is_finished_by_the_next(self):
        entries = [(f"res_mods/1.8.0.1/many/{i // 100}/f{i}.xml", b"x" * 300) for i in range(3000)]
        self.server.replace(1, zip_bytes(entries))
        before = folder_state(self.game)
        self.install("/MODS=fieldwatch")
        words = split_command_line(self.entry()["QuietUninstallString"][1])
        self.session.start(args=words[1:], exe=words[0])
        deadline = time.monotonic() + 60
        while sum(1 for line in self.logged() if line.startswith("Removed: ")) < 300:
            self.assertLess(time.monotonic(), deadline, "the uninstall did not get going")
            time.sleep(0.01)
        self.session.installer.kill()  # the process Apps & Features waits for
        self.session.installer.wait(30)
        # Its copy in the temporary folder ends with it.
        time.sleep(1)
        size = self.session.log_path.stat().st_size
        time.sleep(2)
        self.assertEqual(size, self.session.log_path.stat().st_size, "the uninstall went on")
        self.assertTrue((self.game / RECORD_FOLDER).exists())

        self.session.remove_log()
        self.assertEqual(0, self.quiet_uninstall())
        self.assertFolderIs(before)
        self.assertNoEntry()

    def test_game_on_another_volume_than_the_temporary_folder_is_cleared_too(self):
        # The running copy in the record folder cannot be moved to another volume: it
        # is removed, with the record folder and the entry, once it has ended.
        disk = self.small_drive("g", "16m")
        self.game = disk / "Steelmarch"
        self.game.mkdir()
        (self.game / "version.xml").write_text(harness.version_xml("1.8.0.1"))
        before = folder_state(self.game)
        self.install("/DIR=G:\\Steelmarch", "/MODS=fieldwatch")
        self.session.remove_log()
        self.assertEqual(0, self.quiet_uninstall())
        self.assertTrue(any(line.startswith("Removing: G:\\Steelmarch\\ZelkorsModsPack\\ and ")
                            and line.endswith(" - once the uninstaller has closed")
                            for line in self.log_lines()), self.log_lines())
        deadline = time.monotonic() + 20
        while (self.game / RECORD_FOLDER).exists() or any(
                "ZelkorsModsPack" in key for key in self.desktop.registry(UNINSTALL_KEY)):
            self.assertLess(time.monotonic(), deadline, "the record or the entry stayed")
            time.sleep(0.2)
        self.assertFolderIs(before)

    def test_a_game_folder_that_cannot_be_written_is_found_before_anything_is_fetched(self):
        disk = self.small_drive("g", "16m")
        self.game = disk / "Steelmarch"
        self.game.mkdir()
        (self.game / "version.xml").write_text(harness.version_xml("1.8.0.1"))
        self.install("/DIR=G:\\Steelmarch", "/MODS=velloa")
        installed = folder_state(self.game)
        subprocess.run(["mount", "-o", "remount,ro", str(disk)], check=True)
        self.addCleanup(subprocess.run, ["mount", "-o", "remount,rw", str(disk)])
        self.server.server.clear_requests()
        s = self.session
        refusal = r"^Could not start: G:\\Steelmarch - the folder cannot be written \(.+\)$"
        s.remove_log()
        self.assertEqual(1, s.run_without_windows("/VERYSILENT", "/DIR=G:\\Steelmarch"))
        self.assertRegex(self.log_lines()[-1], refusal)
        s.remove_log()
        self.assertEqual(1, self.quiet_uninstall())
        self.assertEqual("Uninstalling: G:\\Steelmarch", self.log_lines()[0])
        self.assertRegex(self.log_lines()[1], refusal)

        # The wizard says so when the folder page's Next would accept the folder.
        s.start(args=["/DIR=G:\\Steelmarch"])
        self.assertEqual(harness.WELCOME, s.wait_sheet())
        s.press("next")
        s.wait_page(harness.FOLDER)
        s.press("next")
        box = s.message_box()
        self.assertTrue(box["text"].startswith("このフォルダーには書き込めません。\nG:\\Steelmarch\n\n"),
                        box["text"])
        self.assertIn("管理者として実行", box["text"])
        self.assertEqual(("error", "ok", "sheet"), (box["icon"], box["buttons"], box["owner"]))
        s.screenshot("folder-cannot-be-written", window="msgbox")
        s.answer("ok")
        self.assertEqual(harness.FOLDER, s.page())
        self.assertFolderIs(installed)
        self.assertEqual([], self.server.requests)

    def logged(self):
        try:
            return self.session.log_path.read_text(encoding="utf-8", errors="replace").splitlines()
        except FileNotFoundError:
            return []

    def test_uninstall_is_refused_while_the_game_runs(self):
        self.install("/MODS=velloa")
        installed = folder_state(self.game)
        self.session.start_game_client()
        self.session.remove_log()
        self.assertEqual(1, self.quiet_uninstall())
        self.assertEqual(["Could not start: Steelmarch is running"], self.log_lines())
        s = self.session
        words = split_command_line(self.entry()["UninstallString"][1])
        s.start(args=words[1:], exe=words[0])
        box = s.message_box()
        self.assertEqual((GAME_RUNNING, "error", "ok"), (box["text"], box["icon"], box["buttons"]))
        s.screenshot("game-running", window="msgbox")
        s.answer("ok")
        self.assertEqual(1, s.exit_code())
        self.assertFolderIs(installed)

    def test_uninstall_asks_first_then_says_what_it_did(self):
        self.put(OVERWRITTEN, b"<original/>")
        before = folder_state(self.game)
        self.install("/MODS=velloa,fieldwatch")
        s = self.session
        words = split_command_line(self.entry()["UninstallString"][1])

        s.start(args=words[1:], exe=words[0])
        box = s.message_box()
        self.assertEqual(("セットアップ", "question", "yes,no", "none"),
                         (box["caption"], box["icon"], box["buttons"], box["owner"]))
        self.assertIn("ファイル 3 個を削除し、元のファイル 1 個を元に戻します", box["text"])
        s.screenshot("question", window="msgbox")
        installed = folder_state(self.game)
        s.answer("no")
        self.assertEqual(1, s.exit_code())
        self.assertFolderIs(installed)
        self.entry()

        package = "mods\\1.8.0.1\\fieldwatch\\fieldwatch.smpkg"
        self.put(package, b"SMPKG patched by the player")
        s.start(args=words[1:], exe=words[0])
        s.message_box()
        s.do("answer", "yes")  # the closing message may follow at once
        deadline = time.monotonic() + 30
        while (box := s.message_box())["caption"] != "セットアップ" or box["icon"] == "question":
            self.assertLess(time.monotonic(), deadline, "no closing message")
            time.sleep(0.1)
        self.assertEqual(("セットアップ", "warning"), (box["caption"], box["icon"]))
        self.assertTrue(box["text"].startswith("アンインストールが完了しました。"), box["text"])
        self.assertIn("削除したファイル: 2 個\n元に戻したファイル: 1 個", box["text"])
        self.assertIn(f"次のファイルは残しました:\n{GAME_FOLDER}\\{package}", box["text"])
        s.screenshot("done", window="msgbox")
        s.answer("ok")
        self.assertEqual(3, s.exit_code())
        self.assertFolderIs((dict(before[0], **{package: b"SMPKG patched by the player"}),
                             before[1] | {"mods", "mods\\1.8.0.1", "mods\\1.8.0.1\\fieldwatch"}))
        self.assertNoEntry()


if __name__ == "__main__":
    unittest.main(verbosity=2)
