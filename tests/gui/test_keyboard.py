"""The wizard from the keyboard alone: real key presses on the Xvfb display (xdotool),
never messages posted to the windows. After every page change a control has the
focus, Enter presses the default button, Tab walks the controls in reading order,
Space ticks the mod under the tree's caret, Esc asks before cancelling.

Run through ctest (gui.keyboard) or by hand from tests/gui:
    python3 -m unittest -v test_keyboard
"""

import time
import unittest

import harness
from harness import CONFIRM, DOWNLOAD, FAILED, FINISHED, FOLDER, MOD_SELECT, WELCOME
from mods_server import MOD_FILE_NAMES, ServedTestCase

BACK, NEXT, FINISH, CANCEL = 0x3023, 0x3024, 0x3025, 2
FOLDER_EDIT, FOLDER_BROWSE, MOD_TREE = 1003, 1005, 1013
DOWNLOAD_QUESTION = "ダウンロードが続行中です。\n終了しますか？"
SETUP_QUESTION = "セットアップが完了していません。\n終了してもよろしいですか？"


def tearDownModule():
    harness.stop_shared_desktop()


class KeyboardTests(ServedTestCase):

    def press(self, key, page):
        """Presses KEY, waits for PAGE and for a control to have the focus; returns it."""
        self.session.key(key)
        return self.arrive(page)

    def arrive(self, page):
        self.session.do("wait-page", page, harness.WINDOW_TIMEOUT_MS)
        return self.wait_focus()

    def tab_order(self, count):
        order = []
        for _ in range(count):
            self.session.key("Tab")
            time.sleep(0.15)
            order.append(self.session.focus()[0])
        return order

    def ticks(self):
        return [line.split("\t")[1] for line in self.session.do("tree", MOD_TREE).splitlines()]

    def ask_and_answer_no(self, question):
        s = self.session
        s.key("Escape")
        self.assertQuestionBox("セットアップ", question)
        s.key("n")
        s.do("wait-msgbox-closed", harness.STEP_TIMEOUT_MS)

    def test_a_whole_run_from_the_keyboard_alone(self):
        s = self.session
        s.start()
        self.assertEqual(WELCOME, s.wait_sheet())
        self.assertEqual(NEXT, self.wait_focus()[0])
        self.assertEqual((FOLDER_EDIT, "page"), self.press("Return", FOLDER)[::2])
        # Reading order, the sheet's buttons after the page's controls, round again.
        self.assertEqual([FOLDER_BROWSE, BACK, NEXT, CANCEL, FOLDER_EDIT], self.tab_order(5))
        # The folder chooser opens from the keyboard and closes with Esc.
        s.key("Tab", "space")
        s.do("chooser", harness.WINDOW_TIMEOUT_MS)
        s.key("Escape")
        s.do("wait-chooser-closed", harness.STEP_TIMEOUT_MS)
        self.assertEqual(FOLDER_BROWSE, self.wait_focus()[0])
        s.key("shift+Tab")  # back to the folder, where Enter means Next

        self.assertEqual(MOD_TREE, self.press("Return", MOD_SELECT)[0])
        s.key("space", "Down", "space", "Down", "space", "space")  # the third on, then off
        time.sleep(0.3)
        self.assertEqual(["2", "2", "1"], self.ticks())
        self.ask_and_answer_no(SETUP_QUESTION)
        self.assertEqual(MOD_SELECT, s.page())
        self.press("alt+b", FOLDER)
        self.press("Return", MOD_SELECT)
        self.assertEqual(["2", "2", "1"], self.ticks())

        self.server.set_mode(0, "slow 50000")
        self.press("Return", CONFIRM)
        self.press("Return", DOWNLOAD)
        self.ask_and_answer_no(DOWNLOAD_QUESTION)
        # The page moves on by itself to the end, where Finish takes the focus.
        self.assertEqual(FINISH, self.arrive(FINISHED)[0])
        s.key("Return")
        s.do("wait-closed", harness.STEP_TIMEOUT_MS)
        self.assertEqual(0, s.exit_code())
        game = self.desktop.game_folder()
        self.assertTrue((game / "mods/1.8.0.1" / MOD_FILE_NAMES[0]).exists())
        self.assertTrue((game / "mods/1.8.0.1/fieldwatch/fieldwatch.smpkg").exists())
        self.assertFalse((game / "qvx-8.3.5").exists())

    def test_cancel_from_the_keyboard_ends_on_the_failed_page_with_finish_focused(self):
        s = self.session
        s.start()
        self.assertEqual(WELCOME, s.wait_sheet())
        self.press("Return", FOLDER)
        s.key("Escape")
        self.assertQuestionBox("セットアップ", SETUP_QUESTION)
        s.key("y")
        s.do("wait-page", FAILED, harness.STEP_TIMEOUT_MS)
        self.assertEqual(FINISH, self.wait_focus()[0])
        s.key("Return")
        s.do("wait-closed", harness.STEP_TIMEOUT_MS)
        self.assertEqual(0, s.exit_code())

    def wait_focus(self):
        """The focused control once one of the page or the sheet has it."""
        deadline = time.monotonic() + 5
        while (focus := self.session.focus())[2] not in ("page", "sheet"):
            self.assertLess(time.monotonic(), deadline, f"no focus: {focus}")
            time.sleep(0.1)
        return focus


if __name__ == "__main__":
    unittest.main(verbosity=2)
