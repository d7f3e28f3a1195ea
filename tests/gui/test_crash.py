"""A crash at any moment never costs the player a game file. The installer's processes
are killed the way a crash or a forced shutdown ends them (SIGKILL, every one at once)
at moments drawn from a seeded generator over the whole of an unattended install or
uninstall; what a player does next (uninstall; or install again, then uninstall; or
uninstall again) must give the game folder back byte for byte and folder for folder,
with the Apps & Features entry gone.

CRASH_ROUNDS (default 7, every scenario once) and CRASH_SEED (default 22) choose the rounds;
scripts/soak-crashes.sh runs many more.

Run through ctest (gui.crash) or by hand from tests/gui:
    python3 -m unittest -v test_crash
"""

import os
import random
import re
import shutil
import signal
import subprocess
import time
import unittest

import harness
import syscall_order
from mods_server import ServedTestCase
from test_install import GAME_FOLDER, zip_bytes
from test_uninstall import UNINSTALL_KEY, folder_state, split_command_line

ROUNDS = int(os.environ.get("CRASH_ROUNDS", 7))
# The traced install: a few hundred files, or with TRACE_LARGE the crash rounds' mods.
TRACE_LARGE = bool(os.environ.get("TRACE_LARGE"))
# A log line with the time it was written (INSTALLER_LOG_TIMES), in Unix milliseconds,
# and the flushes to the disk so far.
STAMPED = re.compile(r"^\[(\d+\.\d)(?: \d+)?\] (.*)$", re.M)
SEED = int(os.environ.get("CRASH_SEED", 22))

# The game's own files the two archives write over: the first replaces 40 of them, the
# second 20 of those again; 10 are left alone.
ORIGINALS = [f"res_mods/1.8.0.1/gui/game/{i:02d}.xml" for i in range(50)]
# What happens after the first step, which is killed or runs whole. A damaged install
# serves the first archive with a damaged entry just before its last, so that it is
# taken back out after placing nearly all of it: kills land inside that rollback too.
SCENARIOS = (
    ("install killed", "uninstall"),
    ("install killed", "install", "uninstall"),
    ("install killed", "uninstall killed", "uninstall"),
    ("install", "uninstall killed", "uninstall"),
    ("install", "install killed", "uninstall"),
    ("install damaged killed", "uninstall"),
    ("install", "install damaged killed", "install", "uninstall"),
)


def tearDownModule():
    harness.stop_shared_desktop()


def pseudo_random(rng, size):
    return rng.getrandbits(8 * size).to_bytes(size, "little")


def served_mods(rng):
    """The package, the two archives and the first one damaged, as bytes."""
    first = [(f"res_mods/1.8.0.1/fieldwatch/{i % 15}/f{i}.xml", pseudo_random(rng, 200 + i % 700))
             for i in range(1500)]
    first += [(name, b"<fieldwatch/>" + pseudo_random(rng, 300)) for name in ORIGINALS[:40]]
    first.append(("mods/1.8.0.1/fieldwatch/big.smpkg", pseudo_random(rng, 4 << 20)))
    damaged = first[:-1] + [("mods/1.8.0.1/fieldwatch/bad.xml", pseudo_random(rng, 3000)),
                            first[-1]]
    second = [(f"mods/1.8.0.1/qvx/{i % 11}/q{i}.smpkg", pseudo_random(rng, 500))
              for i in range(110)]
    second += [(name, b"<qvx/>" + pseudo_random(rng, 200)) for name in ORIGINALS[20:40]]
    return (pseudo_random(rng, 3 << 20), zip_bytes(first), zip_bytes(second),
            zip_bytes(damaged, damaged=len(damaged) - 2))


class CrashTests(ServedTestCase):

    def setUp(self):
        super().setUp()
        self.rng = random.Random(SEED)
        self.served = served_mods(self.rng)
        for row in range(3):
            self.server.replace(row, self.served[row])
        self.game = self.desktop.game_folder()
        # Times in the log tell when a damaged install is taken back out.
        self.desktop.env["INSTALLER_LOG_TIMES"] = "1"
        self.addCleanup(self.desktop.env.pop, "INSTALLER_LOG_TIMES", None)
        self.originals = {name: b"<game/>" + pseudo_random(self.rng, 1000) for name in ORIGINALS}

    def fresh_game(self):
        self.session.install_game("1.8.0.1")
        for name, data in self.originals.items():
            path = self.game / name
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(data)
        self.remove_entries()
        return folder_state(self.game)

    def entries(self):
        return {key: values for key, values in self.desktop.registry(UNINSTALL_KEY).items()
                if "ZelkorsModsPack" in key}

    def remove_entries(self):
        for key in self.entries():
            subprocess.run(["wine", "reg", "delete", key, "/f"], env=self.desktop.env,
                           stdin=subprocess.DEVNULL, capture_output=True, timeout=60)

    # ---- the steps -----------------------------------------------------------------

    def command(self, step):
        """The program and arguments of STEP: an install, or the uninstall Apps & Features
        would start (a command line of the user's while it has no entry)."""
        if step.startswith("install"):
            return None, ["/VERYSILENT"]
        entries = self.entries()
        if entries:
            words = split_command_line(next(iter(entries.values()))["QuietUninstallString"][1])
            return words[0], words[1:]
        return None, ["/UNINSTALL", f"/DIR={GAME_FOLDER}", "/VERYSILENT"]

    def installer_processes(self):
        """Every process of this Wine session that runs a copy of the installer."""
        found = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open(f"/proc/{pid}/environ", "rb") as environ:
                    if f"WINEPREFIX={self.desktop.prefix}\0".encode() not in environ.read():
                        continue
                with open(f"/proc/{pid}/cmdline", "rb") as cmdline:
                    if b"ZelkorsModsPack" in cmdline.read():
                        found.append(int(pid))
            except OSError:
                pass
        return found

    def kill_installers(self):
        pids = self.installer_processes()
        for pid in pids:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        self.wait_for("the killed processes to end",
                      lambda: True if not self.installer_processes() else None, 30)
        self.session.installer.wait(30)

    def run_step(self, step, kill_after=None):
        """Runs STEP to its end, or kills it KILL_AFTER seconds after its start; returns
        (exit code or None when killed, seconds it ran)."""
        exe, args = self.command(step)
        self.server.replace(1, self.served[3 if "damaged" in step else 1])
        self.session.remove_log()
        started, self.started_at = time.monotonic(), time.time()
        self.session.start(args=args, exe=exe)
        if kill_after is not None:
            while time.monotonic() - started < kill_after:
                if self.session.installer.poll() is not None:
                    break
                time.sleep(0.002)
            if self.session.installer.poll() is None or self.installer_processes():
                self.kill_installers()
                return None, time.monotonic() - started
        code = self.session.installer.wait(180)
        self.wait_for("the uninstaller's copies to end",
                      lambda: True if not self.installer_processes() else None, 30)
        return code, time.monotonic() - started

    def moments(self, *pieces):
        """Seconds from the last step's start to the first line holding each of PIECES."""
        found = {}
        for stamp, line in STAMPED.findall(self.logged()):
            for piece in pieces:
                if piece in line:
                    found.setdefault(piece, float(stamp) / 1000 - self.started_at)
        return [found[piece] for piece in pieces]

    def kill_moment(self, step, length):
        """When to kill STEP: anywhere in it, or for a damaged install, around the time it
        was taken back out in a whole run, into an empty folder or over an install."""
        if "damaged" in step:
            failed, rolled_back = self.rollback[(self.game / "ZelkorsModsPack").exists()]
            return self.rng.uniform(max(0.05, failed - 0.05), rolled_back + 0.05)
        return self.rng.uniform(0.05, 1.15 * length[step.split()[0]])

    def logged(self):
        try:
            return self.session.log_path.read_text(encoding="utf-8", errors="replace")
        except FileNotFoundError:
            return ""

    # ---- the rounds ----------------------------------------------------------------

    def test_killed_at_random_moments_the_folder_comes_back_whole(self):
        # How long each whole step takes here, so kills spread over all of it.
        before = self.fresh_game()
        length = {}
        code, length["install"] = self.run_step("install")
        self.assertEqual(0, code, self.logged())
        code, length["uninstall"] = self.run_step("uninstall")
        self.assertEqual(0, code, self.logged())
        self.assertEqual(before, folder_state(self.game))
        self.rollback = {}
        for over_an_install in (False, True):
            if over_an_install:
                self.assertEqual(0, self.run_step("install")[0], self.logged())
            code, length["install damaged"] = self.run_step("install damaged")
            self.assertEqual(3, code, self.logged())
            self.rollback[over_an_install] = self.moments("damaged data in the archive",
                                                          "Rolled back: fieldwatch - ")
            code, _ = self.run_step("uninstall")
            self.assertEqual(0, code, self.logged())
            self.assertEqual(before, folder_state(self.game))

        outcomes = [f"whole install {length['install']:.2f} s, uninstall {length['uninstall']:.2f} s"
                    f", taken back out {self.rollback[False][0]:.2f}-{self.rollback[False][1]:.2f} s"
                    f" (over an install {self.rollback[True][0]:.2f}-{self.rollback[True][1]:.2f} s)"]
        for round_number in range(ROUNDS):
            scenario = SCENARIOS[round_number % len(SCENARIOS)]
            before = self.fresh_game()
            story = []
            for step in scenario:
                kind = step.replace(" killed", "")
                kill_after = self.kill_moment(step, length) if step.endswith("killed") else None
                state = folder_state(self.game)
                code, ran = self.run_step(step, kill_after)
                log = self.logged()
                # A kill between a damaged entry's line and the mod's rollback line.
                rolling = "damaged data" in log and "Rolled back:" not in log
                story.append(f"{step} at {ran:.2f} s ({log.count(chr(10))} lines logged"
                             f"{', in the rollback' if rolling else ''})" if code is None
                             else f"{kind} -> {code}")
            what = f"round {round_number} (seed {SEED}): {', '.join(story)}\n{self.logged()}"
            after = folder_state(self.game)
            self.assertEqual(sorted(before[0]), sorted(after[0]), what)
            for path, data in before[0].items():
                self.assertEqual(data, after[0][path], f"{path}: {what}")
            self.assertEqual(before[1], after[1], what)
            self.assertEqual({}, self.entries(), what)
            # Nothing to uninstall is said only of a folder that held nothing of the pack.
            self.assertIn(code, (0, 1), what)
            if code == 1:
                self.assertEqual(before, state, what)
                self.assertIn("there is nothing to uninstall there", self.logged(), what)
            outcomes.append(", ".join(story))
        print("\n".join(outcomes))


    # ---- a pulled plug -----------------------------------------------------------------

    def test_every_file_is_placed_after_its_line_is_on_the_disk(self):
        """What a power cut keeps is what was flushed: in an install into the game and one
        over it, no file, backup, folder or temporary file reaches the game folder before a
        flushed line names it."""
        if not shutil.which("strace"):
            self.skipTest("strace is not installed (scripts/setup.sh installs it)")
        if not TRACE_LARGE:
            small = [(f"res_mods/1.8.0.1/traced/{i % 7}/t{i}.xml", b"<t>%d</t>" % i * 30)
                     for i in range(250)]
            small += [(name, b"<traced/>" + name.encode()) for name in ORIGINALS[:20]]
            other = [(f"mods/1.8.0.1/traced2/o{i}.txt", b"%d" % i * 50) for i in range(30)]
            other += [(name, b"<other/>" + name.encode()) for name in ORIGINALS[10:30]]
            self.served = (self.served[0], zip_bytes(small), zip_bytes(other), self.served[3])
        for row in range(3):
            self.server.replace(row, self.served[row])
        before = self.fresh_game()
        for run in ("into the game", "over it"):
            self.session.remove_log()
            code, traces = syscall_order.traced_run(
                self.desktop, harness.INSTALLER_EXE, ["/VERYSILENT"],
                harness.BUILD_DIR / "traced" / run.replace(" ", "-"))
            self.assertEqual(0, code, self.logged())
            order = syscall_order.Order(traces, self.desktop.prefix, GAME_FOLDER)
            self.assertEqual([], order.violations()[:20], run)
            moves = [event for event in order.events if event[1] != "temporary file"]
            self.assertGreater(len(moves), 300 if TRACE_LARGE else 250, run)
            print(f"{run}: {len(order.events)} placements, folders and temporary files checked, "
                  f"{order.flush_count()} flushes")
        self.desktop._make_prefix_ready()
        self.assertEqual(0, self.run_step("uninstall")[0], self.logged())
        self.assertEqual(before, folder_state(self.game))


if __name__ == "__main__":
    unittest.main(verbosity=2)
