"""Runs the real installer under Wine and works its windows through guidriver.exe.

The GUI tests get a Wine prefix of their own (build/wine-gui), made like the unit
tests' one by scripts/wine-env.sh: Japanese locale and a virtual desktop that the
installer and the driver share. Its wineserver stays up for the whole test module, so
a driver call costs about a tenth of a second; tearDownModule ends it.

Paths come from the environment that ctest sets (see tests/CMakeLists.txt); run by
hand, the defaults find a build in <source>/build. Without DISPLAY a private Xvfb is
started.
"""

import atexit
import os
import pathlib
import shutil
import socket
import subprocess
import tempfile
import time
import unittest

SOURCE_DIR = pathlib.Path(
    os.environ.get("GUI_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))
BUILD_DIR = pathlib.Path(os.environ.get("GUI_BUILD_DIR", SOURCE_DIR / "build"))
INSTALLER_EXE = pathlib.Path(
    os.environ.get("GUI_INSTALLER_EXE", BUILD_DIR / "ZelkorsModsPackSetup.exe"))
DRIVER_EXE = pathlib.Path(os.environ.get("GUI_DRIVER_EXE", BUILD_DIR / "tests" / "guidriver.exe"))
SLEEPER_EXE = pathlib.Path(os.environ.get("GUI_SLEEPER_EXE", BUILD_DIR / "tests" / "sleeper.exe"))
HOLDER_EXE = pathlib.Path(os.environ.get("GUI_HOLDER_EXE", BUILD_DIR / "tests" / "holder.exe"))
PREFIX_DIR = BUILD_DIR / "wine-gui"
OFFLINE_PREFIX_DIR = BUILD_DIR / "wine-gui-offline"
SCREENSHOT_DIR = BUILD_DIR / "screenshots"
SCRATCH_DIR = BUILD_DIR / "gui-scratch"

GAME_CLIENT_EXE = "STEELMARCH.EXE"

# The wizard's pages, known by their dialog template ids, in the order they come.
WELCOME = 101
FOLDER = 106
MOD_SELECT = 121
CONFIRM = 120
DOWNLOAD = 107
INSTALL = 122
FINISHED = 105
FAILED = 108

# Waits in milliseconds, handed to the driver, which polls until the fact holds.
WINDOW_TIMEOUT_MS = 30000
STEP_TIMEOUT_MS = 5000
# Only a hung driver gets near this, in seconds; its own waits are far shorter.
DRIVER_RUN_TIMEOUT = 90


class DriverFailed(AssertionError):
    pass


def unescape(text):
    """Reverses the driver's escaping of \\n, \\r, \\t and backslashes."""
    out, chars = [], iter(text)
    for c in chars:
        if c != "\\":
            out.append(c)
            continue
        following = next(chars, "")
        out.append({"n": "\n", "r": "\r", "t": "\t"}.get(following, following))
    return "".join(out)


def version_xml(version):
    # The shape the game writes: a blank, "v.", the version, a blank and "#build".
    return ('<?xml version="1.0" encoding="utf-8"?>\r\n<version.xml>\r\n'
            f"  <version> v.{version} #1155</version>\r\n</version.xml>\r\n")


def wait_for_port(port, process, timeout=10):
    """Until something listens on loopback PORT; PROCESS must not end meanwhile."""
    deadline = time.monotonic() + timeout
    while True:
        try:
            socket.create_connection(("127.0.0.1", port), 0.2).close()
            return
        except OSError:
            if process.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError(f"nothing listens on port {port}")
            time.sleep(0.05)


def can_isolate_network():
    """Root and a working "unshare -n" can give a Wine session no network."""
    if os.geteuid() != 0 or shutil.which("unshare") is None:
        return False
    probe = subprocess.run(["unshare", "-n", "true"], stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return probe.returncode == 0


class Xvfb:
    """A private X display, for runs outside scripts/test.sh."""

    def __init__(self, size="1024x768"):
        number = 90
        while (pathlib.Path(f"/tmp/.X{number}-lock").exists()
               or pathlib.Path(f"/tmp/.X11-unix/X{number}").exists()):
            number += 1
        self.display = f":{number}"
        self.process = subprocess.Popen(
            ["Xvfb", self.display, "-screen", "0", f"{size}x24", "-nolisten", "tcp"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        socket = pathlib.Path(f"/tmp/.X11-unix/X{number}")
        deadline = time.monotonic() + 10
        while not socket.exists():
            if time.monotonic() > deadline or self.process.poll() is not None:
                raise RuntimeError("Xvfb did not start")
            time.sleep(0.05)

    def stop(self):
        self.process.terminate()
        self.process.wait(10)


class WineDesktop:
    """A Wine prefix of the GUI tests, its wineserver and the display it draws on.

    Offline, the whole Wine session lives in a network namespace of its own. Wine
    asks its services process, not the caller, about network adapters, so putting
    only the installer in the namespace would not cut it off.
    """

    def __init__(self, prefix, online=True, screen=None):
        """SCREEN ("WxH") gives the session a display of its own of that size."""
        self.prefix = pathlib.Path(prefix)
        self.online = online
        self.xvfb = (Xvfb(screen or "1024x768") if screen or not os.environ.get("DISPLAY")
                     else None)
        display = self.xvfb.display if self.xvfb else os.environ["DISPLAY"]
        self.env = dict(os.environ, WINEPREFIX=str(self.prefix), WINEDEBUG="-all",
                        WINEARCH="win64", WINEDLLOVERRIDES="mscoree,mshtml=",
                        LANG="ja_JP.UTF-8", LC_ALL="ja_JP.UTF-8", DISPLAY=display)
        self.env.pop("WINESERVER", None)
        self._temp_folder = None
        self._make_prefix_ready()

    def _namespace(self):
        return [] if self.online else ["unshare", "-n"]

    def _make_prefix_ready(self):
        # A session left by an interrupted run may hold windows, or live in the wrong
        # network namespace.
        self._kill_server()
        # Every Wine process is started with its stdio detached or captured in files:
        # services and the desktop process outlive their starter and would otherwise
        # hold a pipe of ctest's open.
        script = '. "$1/scripts/wine-env.sh" "$2" && wine_prefix_ready'
        subprocess.run(self._namespace() + ["bash", "-c", script, "wine-env", str(SOURCE_DIR),
                                            str(self.prefix)],
                       env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=300, check=True)

    def use_display(self, dpi, desktop_size):
        """From the next program on, the system DPI and the size of Wine's desktop;
        Wine reads both when its server starts."""
        self._set_and_restart([(r"HKCU\Control Panel\Desktop", "LogPixels", "REG_DWORD", str(dpi)),
                               (r"HKCU\Software\Wine\Explorer\Desktops", "Default", "REG_SZ",
                                desktop_size)])

    def use_virtual_desktop(self, on):
        """From the next program on, windows in Wine's virtual desktop (as set up), or
        straight on the X server, which has no window manager: as a player's Xvfb or a
        bare X session has them."""
        key = r"HKCU\Software\Wine\Explorer"
        self._set_and_restart([(key, "Desktop", "REG_SZ", "Default")] if on else [],
                              [] if on else [(key, "Desktop")])

    def _set_and_restart(self, values, deletions=()):
        for key, name, kind, value in values:
            self._reg(["add", key, "/v", name, "/t", kind, "/d", value, "/f"])
        for key, name in deletions:
            self._reg(["delete", key, "/v", name, "/f"], check=False)
        self._make_prefix_ready()

    def _reg(self, args, check=True):
        subprocess.run(["wine", "reg"] + args, env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60,
                       check=check)

    def _kill_server(self):
        # Waits for the server to be gone: "wineserver -p" fails while it is exiting.
        for option in ("-k", "-w"):
            subprocess.run(["wineserver", option], env=self.env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)

    def start(self, command, cwd=None, args=()):
        """Starts a Windows program of the prefix, in the Unix folder CWD (Wine makes
        the deepest drive that holds it the current one); returns its Popen."""
        return subprocess.Popen(self._namespace() + ["wine", str(command)] + list(args),
                                env=self.env,
                                cwd=str(cwd or BUILD_DIR), stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def drive(self, *args):
        """Runs one driver command; returns (exit code, stdout, stderr). The driver
        explains every failure of its own on stderr; an exit code 1 with no word at
        all came from Wine starting it (seen about once in 500 calls), so that call
        is made once more."""
        code, out, err = self._drive_once(*args)
        if code == 1 and not out and not err:
            code, out, err = self._drive_once(*args)
        return code, out, err

    def _drive_once(self, *args):
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            process = subprocess.run(["wine", str(DRIVER_EXE), *map(str, args)], env=self.env,
                                     stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                     timeout=DRIVER_RUN_TIMEOUT)
            out.seek(0)
            err.seek(0)
            return (process.returncode, out.read().decode("utf-8").replace("\r\n", "\n"),
                    err.read().decode("utf-8", "replace").strip())

    def unix_path(self, windows_path):
        found = subprocess.run(["winepath", "-u", windows_path], env=self.env,
                               stdin=subprocess.DEVNULL, capture_output=True, text=True,
                               timeout=60, check=True)
        return pathlib.Path(found.stdout.strip())

    def drive_c(self):
        return self.prefix / "drive_c"

    def registry(self, key):
        """{key: {value name: (type, data)}} of KEY and every key below it, read from the
        prefix's own registry with "wine reg query"; {} when KEY does not exist."""
        found = subprocess.run(["wine", "reg", "query", key, "/s"], env=self.env,
                               stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
        keys, current = {}, None
        # reg writes to a pipe in the ANSI code page, 932 under the Japanese locale.
        for line in found.stdout.decode("cp932", "replace").splitlines():
            if line.startswith("HKEY_"):
                current = keys.setdefault(line.strip(), {})
            elif current is not None and line.startswith("    "):
                name, kind, data = (line.strip().split("    ", 2) + ["", ""])[:3]
                current[name] = (kind, data)
        return keys

    def temp_folder(self):
        """%TEMP% as the installer sees it, on the Unix side."""
        if self._temp_folder is None:
            code, out, err = self.drive("temp-path")
            if code != 0:
                raise DriverFailed(f"temp-path: {err}")
            self._temp_folder = self.unix_path(unescape(out.strip()))
        return self._temp_folder

    def game_folder(self):
        return self.drive_c() / "Games" / "Steelmarch_ASIA"

    def stop(self):
        self._kill_server()
        if self.xvfb:
            self.xvfb.stop()
            self.xvfb = None


class Holder:
    """Another program of the desktop holding a file open, reading and sharing reading
    only, as a running launcher or an editor does (holder.exe): from when the object is
    made until release() or MS milliseconds later."""

    def __init__(self, desktop, windows_path, ms=600000):
        SCRATCH_DIR.mkdir(parents=True, exist_ok=True)
        name = f"holder-{os.getpid()}-{time.monotonic_ns()}"
        self.ready, self.release_file = SCRATCH_DIR / f"{name}.ready", SCRATCH_DIR / f"{name}.go"
        as_windows = lambda path: "Z:" + str(path).replace("/", "\\")
        self.process = desktop.start(HOLDER_EXE, args=[windows_path, as_windows(self.ready),
                                                       as_windows(self.release_file), str(ms)])
        deadline = time.monotonic() + 30
        while not self.ready.exists():
            if self.process.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError(f"holder.exe could not hold {windows_path}")
            time.sleep(0.01)

    def release(self):
        self.release_file.touch()
        self.process.wait(30)
        self.ready.unlink(missing_ok=True)
        self.release_file.unlink(missing_ok=True)


_desktop = None


def shared_desktop(prefix=PREFIX_DIR, screen=None):
    global _desktop
    if _desktop is None:
        _desktop = WineDesktop(prefix, screen=screen)
        atexit.register(stop_shared_desktop)
    return _desktop


def stop_shared_desktop():
    """Ends every Wine process of the GUI prefix; for tearDownModule."""
    global _desktop
    if _desktop is not None:
        _desktop.stop()
        _desktop = None


class InstallerSession:
    """One installer run: the game folder it finds, the process, and its windows."""

    def __init__(self, desktop, name):
        self.desktop = desktop
        self.name = name
        self.installer = None
        self.game_client = None
        self.screenshots = []
        SCREENSHOT_DIR.mkdir(parents=True, exist_ok=True)
        for old in SCREENSHOT_DIR.glob(f"{name}-*.png"):
            old.unlink()

    # ---- what the installer finds ------------------------------------------------

    def install_game(self, version):
        """A game folder whose version.xml names VERSION; None removes the folder."""
        folder = self.desktop.game_folder()
        shutil.rmtree(folder, ignore_errors=True)
        if version is not None:
            folder.mkdir(parents=True)
            (folder / "version.xml").write_bytes(version_xml(version).encode("utf-8"))

    @property
    def log_path(self):
        return self.desktop.temp_folder() / "installer.log"

    def remove_log(self):
        self.log_path.unlink(missing_ok=True)

    def start_game_client(self):
        """A process named like the running game, seen by the installer's process list."""
        SCRATCH_DIR.mkdir(parents=True, exist_ok=True)
        client = SCRATCH_DIR / GAME_CLIENT_EXE
        shutil.copyfile(SLEEPER_EXE, client)
        self.game_client = self.desktop.start(client)
        self.do("wait-process", GAME_CLIENT_EXE, WINDOW_TIMEOUT_MS)

    # ---- the installer -----------------------------------------------------------

    def start(self, cwd=None, args=(), exe=None):
        """Starts the installer, or EXE (a Windows path, say), with ARGS."""
        self.installer = self.desktop.start(exe or INSTALLER_EXE, cwd, args)

    def run_without_windows(self, *args, exe=None, timeout=60):
        """Runs the installer (or EXE) with ARGS to its end, failing on any window it
        shows meanwhile; returns its exit code."""
        self.start(args=args, exe=exe)
        deadline = time.monotonic() + timeout
        while self.installer.poll() is None:
            if time.monotonic() > deadline:
                raise DriverFailed(f"{args}: the run did not end within {timeout} s")
            if not self.check("no-msgbox", 0):
                raise DriverFailed(f"{args}: a message box in a run without windows")
            if self.check("wait-sheet", 0):
                raise DriverFailed(f"{args}: a wizard in a run without windows")
        return self.installer.wait()

    def exit_code(self, timeout=30):
        return self.installer.wait(timeout)

    # ---- driver commands ---------------------------------------------------------

    def check(self, *args):
        """True when the driver command succeeds."""
        code, _, err = self.desktop.drive(*args)
        if code == 2:
            raise ValueError(f"guidriver usage: {args}: {err}")
        return code == 0

    def do(self, *args):
        """Runs a driver command that must succeed; returns its output."""
        code, out, err = self.desktop.drive(*args)
        if code != 0:
            raise DriverFailed(f"guidriver {' '.join(map(str, args))}: {err or code}")
        return out

    def wait_sheet(self):
        code, out, err = self.desktop.drive("wait-sheet", WINDOW_TIMEOUT_MS)
        if code != 0:
            # What was on the desktop instead, and whether the installer still runs.
            _, windows, _ = self.desktop.drive("windows")
            state = "running" if self.installer and self.installer.poll() is None else (
                "exited with %s" % (self.installer.poll() if self.installer else None))
            raise DriverFailed(f"no wizard ({err}); installer {state}; windows:\n{windows}")
        return int(out.strip())

    def title(self):
        return unescape(self.do("title").rstrip("\n"))

    def page(self):
        return int(self.do("page").strip())

    def wait_page(self, page_id):
        self.do("wait-page", page_id, STEP_TIMEOUT_MS)

    def text(self, control_id):
        return unescape(self.do("text", control_id).rstrip("\n"))

    def button(self, name):
        """{'visible': bool, 'enabled': bool, 'text': str} of a sheet button."""
        line = self.do("button", name).rstrip("\n")
        visible, enabled, text = line.split(" ", 2)
        return {"visible": visible == "visible=1", "enabled": enabled == "enabled=1",
                "text": unescape(text[len("text="):])}

    def press(self, name):
        self.do("press", name)

    def message_box(self, timeout_ms=WINDOW_TIMEOUT_MS):
        """caption, text, icon, buttons and owner of the message box once shown."""
        facts = {}
        for line in self.do("msgbox", timeout_ms).splitlines():
            key, _, value = line.partition("=")
            facts[key] = unescape(value)
        return facts

    def answer(self, name):
        self.do("answer", name)
        self.do("wait-msgbox-closed", STEP_TIMEOUT_MS)

    # ---- the keyboard -------------------------------------------------------------

    def key(self, *keys):
        """Presses KEYS for real on the display (xdotool names: Return, Tab, space,
        Escape, alt+b, n, ...), one after the other, as a user would."""
        subprocess.run(["xdotool", "key", "--delay", "80", *keys], env=self.desktop.env,
                       stdin=subprocess.DEVNULL, capture_output=True, timeout=60, check=True)

    def focus(self):
        """(control id, class, where) of the control with the keyboard focus; where is
        "page", "sheet" or "other"."""
        control, kind, where = self.do("focus").split()
        return int(control), kind, where

    # ---- screenshots -------------------------------------------------------------

    def _grab(self, x, y, width, height):
        grab = subprocess.run(
            ["import", "-window", "root", "-crop", f"{width}x{height}+{x}+{y}", "+repage",
             "ppm:-"], env=self.desktop.env, stdin=subprocess.DEVNULL, capture_output=True,
            timeout=60, check=True)
        return grab.stdout

    def _grab_settled(self, x, y, width, height):
        # Painting trails the window's appearance: wait until two grabs agree.
        picture = self._grab(x, y, width, height)
        for _ in range(20):
            time.sleep(0.1)
            again = self._grab(x, y, width, height)
            if again == picture:
                break
            picture = again
        return picture

    def _save(self, label, picture):
        path = SCREENSHOT_DIR / f"{self.name}-{len(self.screenshots) + 1:02d}-{label}.png"
        subprocess.run(["convert", "ppm:-", "-strip", f"png:{path}"], input=picture,
                       capture_output=True, timeout=60, check=True)
        self.screenshots.append(path)
        return path

    def screenshot(self, label, window="sheet"):
        """Saves what the user sees of the sheet or the message box, once painted."""
        x, y, width, height = map(int, self.do("rect", window).split())
        return self._save(label, self._grab_settled(x, y, width, height))

    # ---- progress bars, the close box, responsiveness ------------------------------

    def progress(self, control_id):
        """{'pos', 'min', 'max': int, 'marquee': bool} of a progress bar on the page."""
        fields = dict(part.split("=", 1) for part in self.do("progress", control_id).split())
        return {"pos": int(fields["pos"]), "min": int(fields["min"]),
                "max": int(fields["max"]), "marquee": fields["marquee"] == "1"}

    def close_box(self):
        """Clicks the wizard's close box, which asks the page like Cancel does."""
        self.do("close")

    def ping(self, interval_ms, count):
        """Answer times of the wizard's UI thread: {'count', 'timeouts': int, 'p50',
        'p99', 'max': float ms, 'samples': [float ms]}."""
        facts = {}
        for line in self.do("ping", interval_ms, count, "samples").split():
            key, _, value = line.partition("=")
            facts[key] = value
        return {"count": int(facts["count"]), "timeouts": int(facts["timeouts"]),
                "p50": float(facts["p50"]), "p99": float(facts["p99"]),
                "max": float(facts["max"]),
                "samples": [float(v) for v in facts["samples"].split(",") if v]}

    def created_pages(self):
        """Ids of the pages the wizard has shown so far, even for a moment, in order."""
        return [int(i) for i in self.do("created-pages").split()]

    def screenshot_moving(self, label, window="sheet"):
        """One grab of a window that keeps changing (a bar filling, a marquee), on which
        screenshot() would wait for two equal grabs in vain; the window must have been
        painted once already."""
        x, y, width, height = map(int, self.do("rect", window).split())
        return self._save(label, self._grab(x, y, width, height))

    # ---- windows the rect command does not know ------------------------------------

    def screenshot_area(self, label, rect):
        """Saves a screen area, "x y w h" as the driver prints it (the folder chooser
        reports its own), once painted."""
        x, y, width, height = map(int, rect.split())
        return self._save(label, self._grab_settled(x, y, width, height))

    # ---- tear-down ---------------------------------------------------------------

    def close(self):
        """Ends what the test left running, so the next test starts on a bare desktop."""
        for process in (self.installer, self.game_client):
            if process is not None and process.poll() is None:
                process.kill()
                process.wait(30)
        if self.game_client is not None:
            self.do("wait-process-gone", GAME_CLIENT_EXE, STEP_TIMEOUT_MS)
        self.do("wait-closed", STEP_TIMEOUT_MS)
        self.do("wait-msgbox-closed", STEP_TIMEOUT_MS)


class InstallerTestCase(unittest.TestCase):
    """A test case with a fresh installer session per test on the shared desktop."""
    prefix = PREFIX_DIR
    screen = None  # "WxH" for a display of the module's own

    @classmethod
    def setUpClass(cls):
        cls.desktop = shared_desktop(cls.prefix, cls.screen)

    def setUp(self):
        self.session = InstallerSession(self.desktop, self.short_name())
        self.addCleanup(self.session.close)

    def short_name(self):
        return self.id().split(".")[-1]

    def wait_for(self, what, fact, timeout=15):
        """Polls FACT (which returns a value, or None while it does not hold yet)."""
        deadline = time.monotonic() + timeout
        while True:
            value = fact()
            if value is not None:
                return value
            if time.monotonic() > deadline:
                self.fail(f"{what}: not within {timeout} s")
            time.sleep(0.1)

    def assertQuestionBox(self, caption, text):
        """The message box on screen asks TEXT under CAPTION, with the question icon
        and Yes/No, owned by the page's top-level window, the sheet."""
        box = self.session.message_box()
        self.assertEqual(caption, box["caption"])
        self.assertEqual(text, box["text"])
        self.assertEqual("question", box["icon"])
        self.assertEqual("yes,no", box["buttons"])
        self.assertEqual("sheet", box["owner"])
        return box

    def use_offline_desktop(self):
        """Moves this test to a Wine session without network, ended with the test."""
        desktop = WineDesktop(OFFLINE_PREFIX_DIR, online=False)
        self.addCleanup(desktop.stop)
        self.session = InstallerSession(desktop, self.short_name())
        self.addCleanup(self.session.close)
