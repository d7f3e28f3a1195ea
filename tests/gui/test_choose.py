"""The choices made before the downloads, on the real installer under Wine: the game
folder (found at start-up, typed, or picked in the folder chooser), the mods to
install, and the summary shown before anything is downloaded.

Run through ctest (gui.choose) or by hand from tests/gui:
    python3 -m unittest -v test_choose
"""

import shutil
import unittest

import harness
from harness import CONFIRM, FAILED, FOLDER, MOD_SELECT, WELCOME


FOLDER_EDIT = 1003
BROWSE = 1005
FOLDER_VERSION = 1016
MOD_TREE = 1013
FAILED_OUTCOME = 1021
MOD_DESCRIPTION = 1020
SUMMARY = 1011

REQUIRED_VERSION = "1.8.0.1"
FOUND_FOLDER = "C:\\Games\\Steelmarch_ASIA"

# The catalogue in its fixed order: the tree's rows and the summary's lines follow it.
MODS = ["brassfinch Velloa SimpleVoice", "Fieldwatch", "QVX"]
DESCRIPTIONS = ["シンプルなVelloaのサウンドMOD", "Fieldwatch", "Offcial QVX"]
UNTICKED, TICKED = 1, 2

ERROR_CAPTION = "エラー"
GAME_NOT_FOUND_MESSAGE = "Steelmarchを検出できませんでした。\n手動でインストール先を指定してください。"
INVALID_FOLDER_MESSAGE = "有効なSteelmarchがインストールされたフォルダを指定してください。"
WRONG_VERSION_MESSAGE = "バージョンが違います。"
NO_MOD_MESSAGE = "少なくとも1つはチェックする必要があります。"
CANCEL_QUESTION = "セットアップが完了していません。\n終了してもよろしいですか？"
CANCEL_CAPTION = "セットアップ"

SUMMARY_HEADER = ("以下の内容でインストールします。\r\n"
                  "続行するには「次へ」を押してください。\r\n" + "-" * 53 + "\r\n")

# Other game folders, beside the one start-up finds, under C:\ChooseTests.
OTHER_ROOT = "ChooseTests"
OTHER_FOLDERS = {
    "Steelmarch_KR": "1.8.0.2",
    "Steelmarch 1.8.0.10": "1.8.0.10",
    "Steelmarch 1.8.0": "1.8.0",
    "Steelmarch コピー": REQUIRED_VERSION,
    "Empty": None,
}
# The game folder limit is 255 characters: a folder one character longer, and one
# deep inside, both begin with the 255 characters of a valid game folder, so cutting
# the typed text instead of refusing it would pass them.
LONGEST = "C:\\" + OTHER_ROOT + "\\" + "a" * (255 - len("C:\\" + OTHER_ROOT + "\\"))
TOO_LONG = LONGEST + "a"
FAR_TOO_LONG = LONGEST + "\\" + "b" * 44

# How Wine's chooser names the way down to drive C: (a drive without a label is " (C:)").
CHOOSER_DRIVE_C = ["デスクトップ", "マイ コンピューター", " (C:)"]


def windows_path(*parts):
    return "C:\\" + "\\".join(parts)


def make_other_folders(drive_c):
    root = drive_c / OTHER_ROOT
    shutil.rmtree(root, ignore_errors=True)
    for name, version in OTHER_FOLDERS.items():
        (root / name).mkdir(parents=True)
        if version is not None:
            (root / name / "version.xml").write_bytes(harness.version_xml(version).encode())
    for path in (LONGEST, TOO_LONG, FAR_TOO_LONG):
        folder = drive_c.joinpath(*path.split("\\")[1:])
        folder.mkdir(parents=True, exist_ok=True)
        (folder / "version.xml").write_bytes(harness.version_xml(REQUIRED_VERSION).encode())


def setUpModule():
    make_other_folders(harness.shared_desktop().drive_c())


def tearDownModule():
    desktop = harness.shared_desktop()
    shutil.rmtree(desktop.drive_c() / OTHER_ROOT, ignore_errors=True)
    harness.stop_shared_desktop()


class ChooseTests(harness.InstallerTestCase):

    # ---- steps shared by the tests -----------------------------------------------

    def start(self, version=REQUIRED_VERSION):
        """Version None: no game folder, so start-up asks for one before the wizard."""
        self.session.install_game(version)
        self.session.start()
        if version is None:
            self.assertEqual(GAME_NOT_FOUND_MESSAGE, self.session.message_box()["text"])
            self.session.answer("ok")
        self.assertEqual(WELCOME, self.session.wait_sheet())

    def next_to(self, page):
        self.session.press("next")
        self.session.wait_page(page)

    def back_to(self, page):
        self.session.press("back")
        self.session.wait_page(page)

    def open_folder_page(self, version=REQUIRED_VERSION):
        self.start(version)
        self.next_to(FOLDER)

    def open_mod_page(self):
        self.open_folder_page()
        self.next_to(MOD_SELECT)

    def tick(self, *rows):
        for row in rows:
            self.assertEqual(str(TICKED), self.session.do("tree-toggle", MOD_TREE, row).strip())

    def untick(self, row):
        self.assertEqual(str(UNTICKED), self.session.do("tree-toggle", MOD_TREE, row).strip())

    def open_confirm_page(self, *rows):
        self.open_mod_page()
        self.tick(*rows)
        self.next_to(CONFIRM)

    def typed(self, text):
        self.session.do("set-text", FOLDER_EDIT, text)

    def tree(self):
        """[(state image, text)] of the mod tree's rows."""
        rows = []
        for line in self.session.do("tree", MOD_TREE).splitlines():
            _, state, text = line.split("\t", 2)
            rows.append((int(state), harness.unescape(text)))
        return rows

    def states(self):
        return [state for state, _ in self.tree()]

    def caret(self):
        return int(self.session.do("tree-caret", MOD_TREE).strip())

    def assertDescriptionOfCaretRow(self, row):
        self.assertEqual(row, self.caret())
        self.assertEqual(DESCRIPTIONS[row], self.session.text(MOD_DESCRIPTION))

    def summary_of(self, *rows):
        return SUMMARY_HEADER + "".join(MODS[row] + "\r\n" for row in rows)

    def assertError(self, text, screenshot=None):
        box = self.session.message_box()
        self.assertEqual(text, box["text"])
        self.assertEqual(ERROR_CAPTION, box["caption"])
        self.assertEqual("error", box["icon"])
        self.assertEqual("ok", box["buttons"])
        self.assertEqual("sheet", box["owner"])
        if screenshot:
            self.session.screenshot(screenshot, window="msgbox")
        self.session.answer("ok")

    def assertNextRefused(self, text, page, screenshot=None):
        self.session.press("next")
        self.assertError(text, screenshot)
        self.assertEqual(page, self.session.page())

    def ask_to_cancel(self, answer):
        self.session.press("cancel")
        self.assertQuestionBox(CANCEL_CAPTION, CANCEL_QUESTION)
        if answer == "no":
            self.session.screenshot("cancel-question", window="msgbox")
        self.session.answer(answer)

    def assertCancelAsksFirst(self, page, page_state):
        """Answered No, the page stays as it was; answered Yes, the failed page."""
        before = page_state()
        self.ask_to_cancel("no")
        self.assertEqual(page, self.session.page())
        self.assertEqual(before, page_state())
        self.assertTrue(self.session.button("next")["enabled"])

        self.ask_to_cancel("yes")
        self.session.wait_page(FAILED)
        self.assertIsNone(self.session.installer.poll())

    # ---- the folder page -----------------------------------------------------------

    def test_found_game_folder_is_shown_and_next_goes_on_at_once(self):
        self.open_folder_page()
        self.session.screenshot("folder")
        self.assertEqual(FOUND_FOLDER + "\\", self.session.text(FOLDER_EDIT))
        self.assertEqual(REQUIRED_VERSION, self.session.text(FOLDER_VERSION))
        self.assertEqual("参照...", self.session.text(BROWSE))

        self.next_to(MOD_SELECT)
        self.assertTrue(self.session.check("no-msgbox", 0))

    def test_without_a_found_folder_the_page_is_empty_and_next_asks_for_one(self):
        self.open_folder_page(version=None)
        self.session.screenshot("folder-empty")
        self.assertEqual("", self.session.text(FOLDER_EDIT))
        self.assertEqual("", self.session.text(FOLDER_VERSION))

        self.assertNextRefused(INVALID_FOLDER_MESSAGE, FOLDER, screenshot="invalid-folder")
        self.assertEqual("", self.session.text(FOLDER_EDIT))

    def test_typed_folder_is_judged_by_its_version_file(self):
        self.open_folder_page()
        refused = [
            ("Steelmarch_KR", WRONG_VERSION_MESSAGE),
            ("Steelmarch_KR\\", WRONG_VERSION_MESSAGE),
            ("Steelmarch 1.8.0.10", WRONG_VERSION_MESSAGE),
            ("Steelmarch 1.8.0", WRONG_VERSION_MESSAGE),
            ("Empty", INVALID_FOLDER_MESSAGE),
            ("Missing", INVALID_FOLDER_MESSAGE),
        ]
        for name, message in refused:
            with self.subTest(refused=name):
                folder = windows_path(OTHER_ROOT, name)
                self.typed(folder)
                shot = "wrong-version" if name == "Steelmarch_KR" else None
                self.assertNextRefused(message, FOLDER, screenshot=shot)
                self.assertEqual(folder, self.session.text(FOLDER_EDIT))

        accepted = [FOUND_FOLDER, windows_path(OTHER_ROOT, "Steelmarch コピー") + "\\",
                    windows_path(OTHER_ROOT, "Steelmarch コピー")]
        for folder in accepted:
            with self.subTest(accepted=folder):
                # Typed key by key, as a user would; the other cases are pasted whole.
                self.typed("")
                self.session.do("type", FOLDER_EDIT, folder)
                self.assertEqual(folder, self.session.text(FOLDER_EDIT))
                self.next_to(MOD_SELECT)
                self.assertTrue(self.session.check("no-msgbox", 0))
                self.back_to(FOLDER)

    def test_overlong_typed_folder_is_refused_not_cut(self):
        self.open_folder_page()
        # Wine opens LONGEST\version.xml although it is longer than MAX_PATH.
        for folder in (LONGEST, LONGEST + "\\"):
            with self.subTest(accepted=len(folder)):
                self.typed(folder)
                self.next_to(MOD_SELECT)
                self.back_to(FOLDER)
        for folder in (TOO_LONG, FAR_TOO_LONG):
            with self.subTest(refused=len(folder)):
                self.typed(folder)
                self.assertNextRefused(INVALID_FOLDER_MESSAGE, FOLDER)
                self.assertEqual(folder, self.session.text(FOLDER_EDIT))

    def test_cancel_on_the_folder_page_asks_first(self):
        self.open_folder_page()
        self.typed(windows_path(OTHER_ROOT, "Empty"))
        self.assertCancelAsksFirst(FOLDER, lambda: (self.session.text(FOLDER_EDIT),
                                                    self.session.text(FOLDER_VERSION)))

    # ---- the folder chooser --------------------------------------------------------

    def open_chooser(self):
        self.session.do("click", BROWSE)
        facts = {"static": []}
        for line in self.session.do("chooser", harness.WINDOW_TIMEOUT_MS).splitlines():
            key, _, value = line.partition("=")
            if key == "selected":
                facts[key] = [harness.unescape(text) for text in value.split("\t")]
            elif key == "static":
                facts[key].append(harness.unescape(value))
            else:
                facts[key] = harness.unescape(value)
        return facts

    def pick(self, *names):
        self.session.do("chooser-select", *CHOOSER_DRIVE_C, *names)
        self.session.do("chooser-answer", "ok")
        self.session.do("wait-chooser-closed", harness.STEP_TIMEOUT_MS)

    def test_chooser_opens_on_the_typed_folder_and_cancel_changes_nothing(self):
        self.open_folder_page()
        chooser = self.open_chooser()
        self.assertEqual("フォルダーの参照", chooser["title"])
        self.assertIn("フォルダを選択してください", chooser["static"])
        self.assertEqual("sheet", chooser["owner"])
        self.assertEqual("0", chooser["owner-enabled"], "the chooser is not modal")

        self.session.do("chooser-answer", "cancel")
        self.session.do("wait-chooser-closed", harness.STEP_TIMEOUT_MS)
        self.assertTrue(self.session.check("no-msgbox", 0))
        self.assertEqual(FOLDER, self.session.page())
        self.assertEqual(FOUND_FOLDER + "\\", self.session.text(FOLDER_EDIT))
        self.assertEqual(REQUIRED_VERSION, self.session.text(FOLDER_VERSION))
        self.assertTrue(self.session.button("next")["enabled"])

        # The starting folder is checked on a second opening: under Wine the first
        # chooser of a session does not open on a folder made moments before (each
        # test makes the game folder anew); later ones do.
        typed = windows_path(OTHER_ROOT, "Steelmarch_KR") + "\\"
        self.typed(typed)
        chooser = self.open_chooser()
        self.session.screenshot_area("chooser", chooser["rect"])
        self.assertEqual(CHOOSER_DRIVE_C + [OTHER_ROOT, "Steelmarch_KR"], chooser["selected"])
        self.session.do("chooser-answer", "cancel")
        self.session.do("wait-chooser-closed", harness.STEP_TIMEOUT_MS)
        self.assertEqual(typed, self.session.text(FOLDER_EDIT))
        self.assertEqual(REQUIRED_VERSION, self.session.text(FOLDER_VERSION))

    def test_folder_picked_in_the_chooser_replaces_folder_and_version(self):
        self.open_folder_page()
        self.open_chooser()
        self.pick(OTHER_ROOT, "Empty")
        self.assertError(INVALID_FOLDER_MESSAGE)
        self.assertEqual(FOUND_FOLDER + "\\", self.session.text(FOLDER_EDIT))
        self.assertEqual(REQUIRED_VERSION, self.session.text(FOLDER_VERSION))

        self.open_chooser()
        self.pick(OTHER_ROOT, "Steelmarch_KR")
        self.assertTrue(self.session.check("no-msgbox", 0))
        self.session.screenshot("folder-picked")
        picked = windows_path(OTHER_ROOT, "Steelmarch_KR") + "\\"
        self.assertEqual(picked, self.session.text(FOLDER_EDIT))
        self.assertEqual("1.8.0.2", self.session.text(FOLDER_VERSION))
        self.assertNextRefused(WRONG_VERSION_MESSAGE, FOLDER)

        self.assertEqual(CHOOSER_DRIVE_C + [OTHER_ROOT, "Steelmarch_KR"],
                         self.open_chooser()["selected"])
        self.pick("Games", "Steelmarch_ASIA")
        self.assertEqual(FOUND_FOLDER + "\\", self.session.text(FOLDER_EDIT))
        self.assertEqual(REQUIRED_VERSION, self.session.text(FOLDER_VERSION))
        self.next_to(MOD_SELECT)

    # ---- the mod selection page ----------------------------------------------------

    def test_mod_tree_lists_the_catalogue_unticked_and_describes_the_caret_row(self):
        self.open_mod_page()
        self.session.screenshot("mods")
        self.assertEqual([(UNTICKED, name) for name in MODS], self.tree())
        # Focused with nothing selected, the tree control selects its first row itself.
        self.assertDescriptionOfCaretRow(0)

        for row in (2, 1):
            self.session.do("tree-select", MOD_TREE, row)
            self.assertDescriptionOfCaretRow(row)
        self.tick(0)
        self.assertDescriptionOfCaretRow(0)
        self.session.do("tree-select", MOD_TREE, 2)
        self.assertEqual([TICKED, UNTICKED, UNTICKED], self.states())

        self.back_to(FOLDER)
        self.next_to(MOD_SELECT)
        self.assertDescriptionOfCaretRow(2)
        self.assertEqual([TICKED, UNTICKED, UNTICKED], self.states())

    def test_next_without_a_ticked_mod_is_refused(self):
        self.open_mod_page()
        self.assertNextRefused(NO_MOD_MESSAGE, MOD_SELECT, screenshot="no-mod")
        self.assertEqual([UNTICKED] * 3, self.states())

        self.tick(1)
        self.untick(1)
        self.assertNextRefused(NO_MOD_MESSAGE, MOD_SELECT)

    def test_cancel_on_the_mod_page_asks_first(self):
        self.open_mod_page()
        self.tick(1)
        self.assertCancelAsksFirst(MOD_SELECT, self.tree)

    # ---- the confirmation page -----------------------------------------------------

    def test_one_ticked_mod_gives_a_one_line_read_only_summary(self):
        self.open_confirm_page(2)
        self.session.screenshot("summary-qvx")
        self.assertEqual(self.summary_of(2), self.session.text(SUMMARY))
        self.assertTrue(self.session.button("back")["enabled"])
        self.assertTrue(self.session.button("next")["enabled"])

        self.session.do("type", SUMMARY, "x\b\b")
        self.assertEqual(self.summary_of(2), self.session.text(SUMMARY))

    def test_summary_follows_the_ticks_across_back_and_forward(self):
        # Ticked out of order: the summary keeps the catalogue's.
        self.open_confirm_page(2, 0, 1)
        self.session.screenshot("summary-all")
        self.assertEqual(self.summary_of(0, 1, 2), self.session.text(SUMMARY))

        self.back_to(MOD_SELECT)
        self.untick(1)
        self.next_to(CONFIRM)
        self.assertEqual(self.summary_of(0, 2), self.session.text(SUMMARY))

        self.back_to(MOD_SELECT)
        self.back_to(FOLDER)
        self.next_to(MOD_SELECT)
        self.assertEqual([TICKED, UNTICKED, TICKED], self.states())
        self.next_to(CONFIRM)
        self.assertEqual(self.summary_of(0, 2), self.session.text(SUMMARY))

    def test_cancel_on_the_confirmation_page_asks_first(self):
        self.open_confirm_page(0)
        self.assertCancelAsksFirst(CONFIRM, lambda: self.session.text(SUMMARY))
        # Cancelled before any download: the failed page says so, and names the ticked mod.
        self.assertEqual("インストールはキャンセルされました。\r\n"
                         "brassfinch Velloa SimpleVoice: キャンセルのため未インストール",
                         self.session.text(FAILED_OUTCOME))
        self.session.screenshot("failed-cancelled")


if __name__ == "__main__":
    unittest.main(verbosity=2)
