#!/usr/bin/env python3
"""The installer's whole job on sample mods, for scripts/run-installer.sh.

With a DISPLAY the wizard is yours to click through; without one it is driven through
every page on a private Xvfb, with a screenshot of each page in screenshots/.
"""
import os
import pathlib
import sys
import time

SOURCE = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(SOURCE / "tests" / "gui"))
import harness  # noqa: E402
from mods_server import ModServer  # noqa: E402

SHOTS = SOURCE / "screenshots"
from harness import CONFIRM, DOWNLOAD, FAILED, FINISHED, FOLDER, INSTALL, MOD_SELECT  # noqa: E402


def wait_for(condition, seconds=20):
    deadline = time.monotonic() + seconds
    while not condition() and time.monotonic() < deadline:
        time.sleep(0.05)


def drive_through_every_page(session):
    session.wait_sheet()
    session.screenshot("welcome")
    session.press("next")
    session.wait_page(FOLDER)
    session.screenshot("folder")
    session.press("next")
    session.wait_page(MOD_SELECT)
    for row in range(3):
        session.do("tree-toggle", 1013, row)
    session.screenshot("modselect")
    session.press("next")
    session.wait_page(CONFIRM)
    session.screenshot("confirm")
    session.press("next")
    session.wait_page(DOWNLOAD)
    wait_for(lambda: "/" in session.text(1015))
    session.screenshot("download")
    # The sample archives install in a blink: the install page is kept only if the
    # picture was taken while the page was still up.
    deadline = time.monotonic() + 180
    caught = False
    page = session.page()
    while page not in (FINISHED, FAILED) and time.monotonic() < deadline:
        if page == INSTALL and not caught:
            shot = session.screenshot_moving("install")
            caught = session.page() == INSTALL
            if not caught:
                session.screenshots.remove(shot)
                shot.unlink()
        time.sleep(0.02)
        page = session.page()
    session.screenshot("finished" if page == FINISHED else "failed")
    session.press("finish")
    return session.exit_code(60)


def print_tree(folder):
    print("Installed into %s:" % folder)
    for path in sorted(p for p in folder.rglob("*") if p.is_file()):
        print("  %s  (%d bytes)" % (path.relative_to(folder), path.stat().st_size))


def main():
    interactive = bool(os.environ.get("DISPLAY"))
    desktop = harness.WineDesktop(harness.BUILD_DIR / "wine-demo")
    server = ModServer(desktop, harness.BUILD_DIR / "demo-server")
    # Slow enough that the download page shows its progress for a moment.
    server.set_mode(0, "slow 60000")
    server.set_mode(1, "slow-chunked 20000")
    harness.SCREENSHOT_DIR = SHOTS
    session = harness.InstallerSession(desktop, "tour")
    session.install_game("1.8.0.1")
    session.remove_log()
    try:
        session.start()
        if interactive:
            print("The wizard is on your display; sample game folder: "
                  "C:\\Games\\Steelmarch_ASIA (%s)" % desktop.game_folder())
            code = session.exit_code(timeout=None)
        else:
            code = drive_through_every_page(session)
            print("Screenshots: %s" % SHOTS)
            for shot in session.screenshots:
                print("  " + shot.name)
        print("Installer exit code: %d" % code)
        print_tree(desktop.game_folder())
        print("Install log (%s):" % session.log_path)
        print(session.log_path.read_bytes().decode("utf-8"))
    finally:
        server.stop()
        desktop.stop()


if __name__ == "__main__":
    main()
