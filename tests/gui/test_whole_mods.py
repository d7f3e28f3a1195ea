"""A mod goes into the game whole or not at all. A game file the mod replaces is held
open by another program (holder.exe, reading and sharing reading only, as a launcher or
an editor holds it): held for a moment it is waited for; held for good it is asked about
in the wizard and keeps that mod out, whole, in an unattended run. An archive damaged
half-way is taken back out. The other mods go on, and after each an uninstall gives the
game folder back as it was.

Run through ctest (gui.whole_mods) or by hand from tests/gui:
    python3 -m unittest -v test_whole_mods
"""

import subprocess
import time
import unittest

import harness
from harness import FAILED, FINISHED, INSTALL
from mods_server import ServedTestCase
from test_install import FAILED_OUTCOME, GAME_FOLDER, RECORD_FOLDER, InstallSteps, zip_bytes
from test_uninstall import UNINSTALL_KEY, folder_state, split_command_line

# The game's own files that the fieldwatch archive replaces, and the one held.
ORIGINALS = [f"res_mods/1.8.0.1/gui/orig/{i}.xml" for i in range(10)]
HELD = "res_mods\\1.8.0.1\\gui\\orig\\4.xml"
IN_USE = "the file is in use by another program"
DAMAGED_AT = 120  # the 121st of the archive's 210 entries


def tearDownModule():
    harness.stop_shared_desktop()


def fieldwatch_entries():
    """200 new files with the 10 that replace the game's among them."""
    new = [(f"res_mods/1.8.0.1/gui/fieldwatch/{i // 50}/f{i}.xml", b"<f>%d</f>" % i * 20)
           for i in range(200)]
    return new[:100] + [(name, b"<fieldwatch/>" + name.encode()) for name in ORIGINALS] + new[100:]


class WholeModTests(InstallSteps, ServedTestCase):

    def setUp(self):
        super().setUp()
        self.game = self.desktop.game_folder()
        for name in ORIGINALS:
            (self.game / name).parent.mkdir(parents=True, exist_ok=True)
            (self.game / name).write_bytes(b"<game/>" + name.encode())
        self.server.replace(1, zip_bytes(fieldwatch_entries()))
        self.remove_entries()
        self.addCleanup(self.remove_entries)
        self.before = folder_state(self.game)

    def remove_entries(self):
        for key in self.desktop.registry(UNINSTALL_KEY):
            if "ZelkorsModsPack" in key:
                subprocess.run(["wine", "reg", "delete", key, "/f"], env=self.desktop.env,
                               stdin=subprocess.DEVNULL, capture_output=True, timeout=60)

    def hold(self, relative, ms=600000):
        holder = harness.Holder(self.desktop, f"{GAME_FOLDER}\\{relative}", ms)
        self.addCleanup(holder.release)
        return holder

    def unattended(self, *args, timeout=60):
        started = time.monotonic()
        code = self.session.run_without_windows("/VERYSILENT", *args, timeout=timeout)
        return code, time.monotonic() - started

    def assertOnlyOtherModsChanged(self, fieldwatch_installed):
        """Fieldwatch's paths are as before (or all installed), velloa's and qvx's are in."""
        files, folders = folder_state(self.game)
        served = dict(fieldwatch_entries())
        for relative, data in self.before[0].items():
            name = relative.replace("\\", "/")
            expected = served[name] if fieldwatch_installed and name in served else data
            self.assertEqual(expected, files.get(relative), relative)
        fieldwatch = [path for path in files if "fieldwatch\\" in path and "\\f" in path]
        self.assertEqual(200 if fieldwatch_installed else 0, len(fieldwatch))
        for relative, row, entry in ((f"mods\\1.8.0.1\\{self.package_name()}", 0, None),
                                     ("qvx-8.3.5\\mods\\1.8.0.1\\qvx\\コア.smpkg", 2,
                                      "qvx-8.3.5/mods/1.8.0.1/qvx/コア.smpkg")):
            self.assertEqual(self.served_data(row, entry), files.get(relative), relative)

    def package_name(self):
        return "brassfinch.velloa_simple_voice_mod_2017.2.smpkg"

    def assertUninstallGivesTheFolderBack(self):
        entries = {key: values for key, values in self.desktop.registry(UNINSTALL_KEY).items()
                   if "ZelkorsModsPack" in key}
        self.assertEqual(1, len(entries), entries)
        words = split_command_line(next(iter(entries.values()))["QuietUninstallString"][1])
        self.assertEqual(0, self.session.run_without_windows(*words[1:], exe=words[0],
                                                             timeout=120))
        files, folders = folder_state(self.game)
        self.assertEqual(sorted(self.before[0]), sorted(files))
        for relative, data in self.before[0].items():
            self.assertEqual(data, files[relative], relative)
        self.assertEqual(self.before[1], folders)

    # ---- unattended -----------------------------------------------------------------

    def test_a_file_held_for_a_moment_is_waited_for(self):
        self.hold(HELD, ms=2500)
        code, seconds = self.unattended()
        self.assertEqual(0, code, "\n".join(self.log_lines()))
        self.assertOnlyOtherModsChanged(fieldwatch_installed=True)
        log = self.log_lines()
        self.assertEqual(1, log.count(f"Waiting: {GAME_FOLDER}\\{HELD} - it is in use by "
                                      "another program"), log)
        print(f"held for 2.5 s: installed, exit 0 after {seconds:.1f} s")
        self.assertUninstallGivesTheFolderBack()

    def test_a_file_held_for_good_keeps_that_mod_out_whole_unattended(self):
        holder = self.hold(HELD)
        code, seconds = self.unattended()
        self.assertEqual(3, code)
        self.assertLess(seconds, 20, "the run waited too long")
        self.assertOnlyOtherModsChanged(fieldwatch_installed=False)
        log = self.log_lines()
        self.assertIn(f"Failed: {GAME_FOLDER}\\{HELD} - {IN_USE}", log)
        self.assertFalse([line for line in log if "gui\\fieldwatch" in line], log)
        holder.release()
        self.assertUninstallGivesTheFolderBack()

    def test_an_archive_damaged_in_its_middle_is_taken_back_out(self):
        self.server.replace(1, zip_bytes(fieldwatch_entries(), damaged=DAMAGED_AT))
        code, _ = self.unattended()
        self.assertEqual(3, code)
        self.assertOnlyOtherModsChanged(fieldwatch_installed=False)
        log = self.log_lines()
        damaged = fieldwatch_entries()[DAMAGED_AT][0].replace("/", "\\")
        self.assertIn(f"Failed: {GAME_FOLDER}\\{damaged} - damaged data in the archive", log)
        self.assertIn(f"Rolled back: fieldwatch - {DAMAGED_AT} files put back (damaged data in "
                      "the archive)", log)
        # Nothing of it stays in the record: the uninstall has only the other mods to undo.
        record = (self.game / RECORD_FOLDER / "installed.txt").read_text(encoding="utf-8")
        mods = {line.split("\t")[1] for line in record.splitlines()
                if line and not line.startswith("#")}
        self.assertEqual({"velloa", "qvx"}, mods)
        self.assertUninstallGivesTheFolderBack()

    # ---- the wizard ----------------------------------------------------------------

    def wait_for_held_question(self):
        s = self.session
        box = s.message_box(timeout_ms=60000)
        self.assertEqual(("セットアップ", "warning", "retry,cancel", "sheet"),
                         (box["caption"], box["icon"], box["buttons"], box["owner"]))
        self.assertIn("Fieldwatch をインストールできません", box["text"])
        self.assertIn(f"{GAME_FOLDER}\\{HELD}", box["text"])
        self.assertEqual(INSTALL, s.page())
        return box

    def test_a_file_held_for_good_is_asked_about_in_the_wizard(self):
        holder = self.hold(HELD)
        s = self.session

        # Cancel: that mod is left out whole, the others go in, the failed page says why.
        self.walk_to_download([0, 1])
        self.wait_for_held_question()
        s.screenshot("held-question", window="msgbox")
        s.answer("cancel")
        s.do("wait-page", FAILED, 30000)
        self.assertEqual("brassfinch Velloa SimpleVoice: インストール完了\r\n"
                         "Fieldwatch: 未インストール（ファイルが他のプログラムで使用中です: 4.xml）",
                         s.text(FAILED_OUTCOME))
        s.screenshot("held-failed")
        files, _ = folder_state(self.game)
        for relative, data in self.before[0].items():
            self.assertEqual(data, files.get(relative), relative)
        self.assertEqual(0, len([p for p in files if "gui\\fieldwatch" in p]))
        s.press("finish")
        s.do("wait-closed", harness.STEP_TIMEOUT_MS)

        # Retry once the program has let go: installed, and the run ends well.
        self.session.remove_log()
        self.walk_to_download([1])
        self.wait_for_held_question()
        holder.release()
        s.answer("retry")
        s.do("wait-page", FINISHED, 30000)
        served = dict(fieldwatch_entries())
        self.assertEqual(served[HELD.replace("\\", "/")], (self.game / HELD.replace("\\", "/"))
                         .read_bytes())
        s.press("finish")
        s.do("wait-closed", harness.STEP_TIMEOUT_MS)
        self.assertUninstallGivesTheFolderBack()

    def test_the_uninstall_asks_about_a_file_held_for_good(self):
        code, _ = self.unattended()
        self.assertEqual(0, code)
        holder = self.hold(HELD)
        entries = {key: values for key, values in self.desktop.registry(UNINSTALL_KEY).items()
                   if "ZelkorsModsPack" in key}
        words = split_command_line(next(iter(entries.values()))["UninstallString"][1])
        s = self.session
        s.start(args=words[1:], exe=words[0])
        s.message_box()
        s.do("answer", "yes")
        deadline = time.monotonic() + 60
        while (box := s.message_box())["buttons"] != "retry,cancel":
            self.assertLess(time.monotonic(), deadline, "no question about the held file")
            time.sleep(0.1)
        self.assertEqual(("セットアップ", "warning", "none"),
                         (box["caption"], box["icon"], box["owner"]))
        self.assertIn(f"{GAME_FOLDER}\\{HELD}", box["text"])
        s.screenshot("uninstall-held-question", window="msgbox")
        holder.release()
        # The closing message may follow the question at once: wait for it, not for no box.
        s.do("answer", "retry")
        deadline = time.monotonic() + 60
        while not (box := s.message_box())["text"].startswith("アンインストールが"):
            self.assertLess(time.monotonic(), deadline, "no closing message")
            time.sleep(0.1)
        self.assertTrue(box["text"].startswith("アンインストールが完了しました。"), box["text"])
        s.answer("ok")
        self.assertEqual(0, s.exit_code())
        files, folders = folder_state(self.game)
        self.assertEqual(self.before, (files, folders))


if __name__ == "__main__":
    unittest.main(verbosity=2)
