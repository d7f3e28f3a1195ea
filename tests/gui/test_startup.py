"""Start-up of the real installer under Wine: the checks that stop it, the messages
about the game it finds, the welcome page, cancelling, and the way on with Next.

Run through ctest (gui.startup) or by hand from tests/gui:
    python3 -m unittest -v test_startup
"""

import unittest

import harness
from harness import FAILED, FOLDER, WELCOME


WELCOME_TEXT = 1010
WELCOME_HEADING = 1007
FINISH_HEADING = 1009
FAILED_OUTCOME = 1021

PRODUCT = "Zelkor's Mods Pack"
REQUIRED_VERSION = "1.8.0.1"

# The pages Next leads through from the welcome page, in order; a page that needs
# input before Next goes on gets its step in PREPARE_BEFORE_NEXT. The way on from
# the folder page to the finished page needs a server for the mods' downloads.
NEXT_PATH = [WELCOME, FOLDER]
PREPARE_BEFORE_NEXT = {}

GAME_RUNNING_MESSAGE = "Steelmarchが起動しているためインストールを開始できません。"
NO_CONNECTION_MESSAGE = "インターネットに接続されていません。"
GAME_NOT_FOUND_MESSAGE = "Steelmarchを検出できませんでした。\n手動でインストール先を指定してください。"
WRONG_VERSION_MESSAGE = ("バージョン1.8.0.1を検出できませんでした。\n"
                         "手動でインストール先を指定してください。")
CANCEL_QUESTION = "セットアップが完了していません。\n終了してもよろしいですか？"
CANCEL_CAPTION = "セットアップ"
# A message box given no caption gets the system's own word for "Error".
DEFAULT_ERROR_CAPTION = "エラー"

EXPECTED_WELCOME_TEXT = (
    "セットアップウィザードへようこそ。\n"
    "このウィザードではお使いのSteelmarchに Zelkor's Mods Pack をインストールします。\n"
    "インストール続行する前に他のアプリケーションをすべて終了してください。\n\n"
    "続行するには「次へ」を選択してください。")
EXPECTED_WELCOME_HEADING = "Zelkor's Mods Pack セットアップウィザードの開始"
EXPECTED_FAILED_HEADING = "インストールが正常に完了できませんでした。"
FINISH_LABEL = "完了(&F)"
SHEET_TITLE = "Zelkor's Mods Pack セットアップ"


def tearDownModule():
    harness.stop_shared_desktop()


class StartupTests(harness.InstallerTestCase):

    # ---- steps shared by the tests -----------------------------------------------

    def start_with_game(self, version=REQUIRED_VERSION):
        self.session.install_game(version)
        self.session.remove_log()
        self.session.start()

    def assertStartupError(self, box, text):
        self.assertEqual(text, box["text"])
        self.assertEqual(DEFAULT_ERROR_CAPTION, box["caption"])
        self.assertEqual("error", box["icon"])
        self.assertEqual("ok", box["buttons"])
        self.assertEqual("none", box["owner"])

    def assertStoppedBeforeTheLog(self, box, text):
        """One error box, no wizard behind it, a clean exit and no log."""
        self.assertStartupError(box, text)
        self.session.screenshot("message", window="msgbox")
        self.assertFalse(self.session.check("wait-sheet", 0), "a wizard behind the message")
        self.session.answer("ok")
        self.assertEqual(0, self.session.exit_code())
        self.assertFalse(self.session.log_path.exists(), self.session.log_path)

    def assertOneMessageThenTheWizard(self, text):
        box = self.session.message_box()
        self.assertStartupError(box, text)
        self.session.screenshot("message", window="msgbox")
        self.assertFalse(self.session.check("wait-sheet", 0), "the wizard came before the answer")
        self.session.answer("ok")
        self.assertEqual(WELCOME, self.session.wait_sheet())
        # The message comes before the wizard, so a second one would be showing now.
        self.assertTrue(self.session.check("no-msgbox", 0), "a second message")
        self.assertTrue(self.session.log_path.exists(), self.session.log_path)
        self.session.screenshot("welcome")

    def open_welcome_page(self):
        self.start_with_game()
        self.assertEqual(WELCOME, self.session.wait_sheet())
        self.assertTrue(self.session.check("no-msgbox", 0))

    def ask_to_cancel(self):
        self.session.press("cancel")
        return self.assertQuestionBox(CANCEL_CAPTION, CANCEL_QUESTION)

    def finish_and_exit(self):
        self.session.press("finish")
        self.session.do("wait-closed", harness.STEP_TIMEOUT_MS)
        self.assertEqual(0, self.session.exit_code())

    # ---- the checks that stop the installer --------------------------------------

    def test_running_game_client_stops_setup_before_the_log(self):
        self.session.start_game_client()
        self.start_with_game()
        box = self.session.message_box()
        self.assertStoppedBeforeTheLog(box, GAME_RUNNING_MESSAGE)

    def test_no_internet_connection_stops_setup_before_the_log(self):
        if not harness.can_isolate_network():
            self.skipTest("needs root and a working 'unshare -n' to cut the network")
        self.use_offline_desktop()
        self.start_with_game()
        box = self.session.message_box()
        self.assertStoppedBeforeTheLog(box, NO_CONNECTION_MESSAGE)

    def test_help_switch_lists_the_switches_and_exits(self):
        for switch in ("/?", "/HELP"):
            self.session.install_game(REQUIRED_VERSION)
            self.session.remove_log()
            self.session.start(args=[switch])
            box = self.session.message_box()
            self.assertEqual(SHEET_TITLE, box["caption"])
            self.assertEqual("info", box["icon"])
            for listed in ("/VERYSILENT", "/S", "/DIR=", "/MODS=", "/LOG=", "/HELP",
                           "velloa, fieldwatch, qvx"):
                self.assertIn(listed, box["text"])
            self.session.screenshot("help", window="msgbox")
            self.assertFalse(self.session.check("wait-sheet", 0), "a wizard behind the help")
            self.session.answer("ok")
            self.assertEqual(0, self.session.exit_code())
            self.assertFalse(self.session.log_path.exists())

    # ---- what the installer says about the game it finds -------------------------

    def test_missing_game_folder_asks_for_a_folder_then_opens_the_wizard(self):
        self.start_with_game(version=None)
        self.assertOneMessageThenTheWizard(GAME_NOT_FOUND_MESSAGE)

    def test_other_game_version_asks_for_a_folder_then_opens_the_wizard(self):
        self.start_with_game(version="1.8.0.2")
        self.assertOneMessageThenTheWizard(WRONG_VERSION_MESSAGE)

    def test_required_version_opens_the_welcome_page_without_a_message(self):
        self.open_welcome_page()
        self.assertTrue(self.session.log_path.exists(), self.session.log_path)
        self.session.screenshot("welcome")

        self.assertEqual(EXPECTED_WELCOME_TEXT, self.session.text(WELCOME_TEXT))
        self.assertIn(PRODUCT, self.session.text(WELCOME_TEXT))
        self.assertEqual(EXPECTED_WELCOME_HEADING, self.session.text(WELCOME_HEADING))
        self.assertIn(PRODUCT, self.session.text(WELCOME_HEADING))
        self.assertEqual(SHEET_TITLE, self.session.title())

        back = self.session.button("back")
        self.assertFalse(back["visible"] and back["enabled"], back)
        next_ = self.session.button("next")
        self.assertTrue(next_["visible"], next_)
        self.assertTrue(next_["enabled"], next_)
        self.assertTrue(self.session.button("cancel")["enabled"])
        self.assertFalse(self.session.button("finish")["visible"])

    # ---- cancelling --------------------------------------------------------------

    def test_cancel_answered_no_stays_on_the_welcome_page(self):
        self.open_welcome_page()
        self.ask_to_cancel()
        self.session.screenshot("cancel-question", window="msgbox")
        self.session.answer("no")

        self.assertEqual(WELCOME, self.session.page())
        self.assertTrue(self.session.check("wait-sheet", 0))
        self.assertTrue(self.session.button("next")["enabled"])
        self.assertIsNone(self.session.installer.poll())

    def test_cancel_answered_yes_ends_on_the_failed_page_with_only_finish(self):
        self.open_welcome_page()
        self.ask_to_cancel()
        self.session.answer("yes")

        self.session.wait_page(FAILED)
        self.session.screenshot("failed")
        self.assertEqual(EXPECTED_FAILED_HEADING, self.session.text(FINISH_HEADING))
        finish = self.session.button("finish")
        self.assertTrue(finish["visible"], finish)
        self.assertTrue(finish["enabled"], finish)
        self.assertEqual(FINISH_LABEL, finish["text"])
        for hidden in ("back", "next", "cancel"):
            self.assertFalse(self.session.button(hidden)["visible"], hidden)
        # Nothing was ticked yet: the box says only that the user cancelled.
        self.assertEqual("インストールはキャンセルされました。", self.session.text(FAILED_OUTCOME))

        self.finish_and_exit()

    # ---- on with Next -------------------------------------------------------------

    def test_next_walks_from_the_welcome_page_along_the_wizard(self):
        self.open_welcome_page()
        for here, following in zip(NEXT_PATH, NEXT_PATH[1:]):
            PREPARE_BEFORE_NEXT.get(here, lambda session: None)(self.session)
            self.session.press("next")
            self.session.wait_page(following)
            self.session.screenshot(f"page-{following}")
            self.assertTrue(self.session.check("no-msgbox", 0))
            self.assertEqual(SHEET_TITLE, self.session.title())

        self.session.press("back")
        self.session.wait_page(NEXT_PATH[-2])


if __name__ == "__main__":
    unittest.main(verbosity=2)
