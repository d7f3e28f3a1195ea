#!/usr/bin/env python3
"""Whole-job benchmark: the unattended installer (ZelkorsModsPackSetup.exe /VERYSILENT
/MODS=...) against the bare loop (tests/bench/bare_job.exe: a WinINet reader with 64 KiB
reads into the temporary folder, a minizip extractor straight into a game folder or a
move into its mods folder, the download deleted), same Wine prefix, same loopback
server, alternating runs, for
  archive  the 5,000-entry, about 195 MiB archive of scripts/bench_extract.py (QVX's
           row, https)
  package  a 64 MiB package (Velloa's row, https)
Each run is a whole process, started and waited for from here; the installer writes
its log with INSTALLER_LOG_TIMES, whose times say where its run went: start-up (to the
"Downloading:" line), the download (to "Done!"), the check before installing (counting,
the free-space check: to the first "Installing:"), writing the files (to the last one;
the record's line and hash of each included), the record (to "Delete:": its save and
the uninstall entry, and for a package, whose one line comes first, its move), and the
deletion with the end of the process. Then, to split the writing of the archive's files,
the archive alone is extracted from the temporary folder, alternating: by the bare
extractor, and by the installer's extractor (tests/bench/extract_bench.exe) without the
journal and the record, with the journal, and with both.

    scripts/bench_job.py [--runs 3] [--jobs archive,package] [--package-mib 64]
                         [--split-runs 3]

Run it after the test tree is built (build/, or the tree BUILD_DIR names). It serves on
the loopback ports of that build (TEST_HTTP_PORT and TEST_HTTPS_PORT of its
CMakeCache.txt), so not while tests of that build run, and uses a Wine prefix of its
own, <build>/wine-bench-job. The ratio is bare seconds / installer seconds: 1.0 or more
means the installer is at least as fast as the bare loop.
"""
import argparse
import os
import pathlib
import re
import shutil
import statistics
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
BUILD = pathlib.Path(os.environ.get("BUILD_DIR", ROOT / "build")).resolve()


def cache_values(build):
    values = {}
    for line in (build / "CMakeCache.txt").read_text().splitlines():
        match = re.match(r"^(\w+):\w+=(.*)$", line)
        if match:
            values[match.group(1)] = match.group(2)
    return values


CACHE = cache_values(BUILD)
# The harness and the mod server take their ports and paths from the environment when
# they are imported.
os.environ["TEST_HTTP_PORT"] = CACHE["TEST_HTTP_PORT"]
os.environ["TEST_HTTPS_PORT"] = CACHE["TEST_HTTPS_PORT"]
os.environ["GUI_BUILD_DIR"] = str(BUILD)
os.environ["GUI_SOURCE_DIR"] = str(ROOT)
sys.path.insert(0, str(ROOT / "tests" / "gui"))
sys.path.insert(0, str(ROOT / "scripts"))
import harness  # noqa: E402
from bench_extract import make_archive  # noqa: E402
from bench_ui import write_package  # noqa: E402
from mods_server import MOD_FILE_NAMES, ModServer  # noqa: E402

BARE_EXE = BUILD / "tests" / "bare_job.exe"
EXTRACT_EXE = BUILD / "tests" / "extract_bench.exe"
WORK = BUILD / "bench-job"
BARE_GAME = "C:\\Games\\BareLoop"
# The game folders of finished runs are moved here and deleted only at the end: for
# some 30 s after thousands of files are deleted, ext4 takes far longer to make new
# ones (it skips recently freed inodes), which would be charged to the next run.
TRASH = WORK / "trash"
# A log write's time and, from builds that count them, the flushes to the disk so far.
STAMP = re.compile(rb"\[(\d+\.\d)(?: (\d+))?\] ([A-Za-z!]+)")
PHASES = ("start-up", "download", "check", "write", "record", "delete+exit")


class Job:
    def __init__(self, name, row, key, kind, label):
        self.name, self.row, self.key, self.kind, self.label = name, row, key, kind, label
        self.url = CACHE[f"MOD_URL_{row}"]
        self.installer, self.bare = [], []   # seconds per run
        self.phases = []                     # per installer run: {phase: seconds}
        self.bare_parts = []                 # per bare run: (fetch, install, delete) s


def settle():
    """The disk's write-back of the last run is not charged to the next one."""
    os.sync()
    time.sleep(0.5)


def clear_away(folder):
    """Moves a game folder a run filled out of the way, to be deleted at the end."""
    if folder.exists():
        TRASH.mkdir(parents=True, exist_ok=True)
        folder.rename(TRASH / f"{time.monotonic_ns()}")


def empty_trash(wait):
    if TRASH.exists():
        shutil.rmtree(TRASH, ignore_errors=True)
        if wait:
            time.sleep(35)


def phases_of(log, started, ended):
    """Seconds of each phase, from the times the log's writes start with."""
    found = STAMP.findall(log)
    stamps = [(float(t) / 1000.0, word.decode()) for t, _, word in found]
    first = {}
    for t, word in stamps:
        first.setdefault(word, t)
    if "Downloading" not in first:  # a build from before the log had times
        return {}
    downloading, done = first["Downloading"], first.get("Done!", first["Downloading"])
    installing = first.get("Installing", done)
    written = max(t for t, word in stamps if word in ("Installing", "Failed", "Skipped"))
    delete = first.get("Delete", written)
    phases = {"start-up": downloading - started, "download": done - downloading,
              "check": installing - done, "write": written - installing,
              "record": delete - written, "delete+exit": ended - delete}
    if found[-1][1]:
        phases["flushes"] = int(found[-1][1])
    return phases


def run_installer(desktop, session, job):
    clear_away(desktop.game_folder())
    session.install_game("1.8.0.1")
    session.remove_log()
    for name in MOD_FILE_NAMES:
        (desktop.temp_folder() / name).unlink(missing_ok=True)
    settle()
    env = dict(desktop.env, INSTALLER_LOG_TIMES="1")
    started = time.time()
    code = subprocess.run(["wine", str(harness.INSTALLER_EXE), "/VERYSILENT", f"/MODS={job.key}",
                           "/DIR=C:\\Games\\Steelmarch_ASIA"], env=env, cwd=str(BUILD),
                          stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode
    ended = time.time()
    log = session.log_path.read_bytes()
    if code != 0:
        raise SystemExit(f"{job.name}: the installer ended with {code}:\n"
                         + log.decode(errors="replace"))
    job.installer.append(ended - started)
    job.phases.append(phases_of(log, started, ended))


def run_bare(desktop, job):
    game = desktop.drive_c() / "Games" / "BareLoop"
    clear_away(game)
    game.mkdir(parents=True)
    (desktop.temp_folder() / MOD_FILE_NAMES[job.row]).unlink(missing_ok=True)
    settle()
    started = time.time()
    result = subprocess.run(["wine", str(BARE_EXE), job.url, MOD_FILE_NAMES[job.row], BARE_GAME,
                             job.kind], env=desktop.env, cwd=str(BUILD), stdin=subprocess.DEVNULL,
                            capture_output=True, text=True)
    ended = time.time()
    fields = dict(part.split("=", 1) for part in result.stdout.split())
    if result.returncode != 0 or fields.get("ok") != "1":
        raise SystemExit(f"{job.name}: bare_job failed: {result.stdout} {result.stderr}")
    job.bare.append(ended - started)
    job.bare_parts.append(tuple(float(fields[k]) / 1000.0
                                for k in ("fetch_ms", "install_ms", "delete_ms")))


SPLITS = (("bare extractor", None), ("installer's extractor alone", []),
          ("+ journal", ["--journal"]), ("+ journal and record", ["--journal", "--record"]))


def write_split(desktop, archive, runs):
    """Seconds each extractor takes over the archive in the temporary folder, from their
    own clocks: the writing of the files without the download or the process."""
    temp = desktop.temp_folder()
    windows_temp = harness.unescape(desktop.drive("temp-path")[1].strip()).rstrip("\\")
    game = desktop.drive_c() / "Games" / "Split"
    times = {label: [] for label, _ in SPLITS}
    for run in range(runs):
        for label, options in SPLITS if run % 2 == 0 else SPLITS[::-1]:
            clear_away(game)
            game.mkdir(parents=True)
            shutil.copyfile(archive, temp / "split.zip")
            settle()
            if options is None:
                command, key = [BARE_EXE, "-", "split.zip", "C:\\Games\\Split", "zip"], "install_ms"
            else:
                command = [EXTRACT_EXE, f"{windows_temp}\\split.zip", "C:\\Games\\Split",
                           f"{windows_temp}\\split.log"]
                for option in options:
                    command += [option] + ([f"{windows_temp}\\split.journal"]
                                           if option == "--journal" else [])
                key = "ms"
            result = subprocess.run(["wine"] + [str(part) for part in command], env=desktop.env,
                                    cwd=str(BUILD), stdin=subprocess.DEVNULL, capture_output=True,
                                    text=True)
            fields = dict(part.split("=", 1) for part in result.stdout.split())
            if fields.get("ok") != "1":
                raise SystemExit(f"{label}: {result.stdout} {result.stderr}")
            times[label].append(float(fields[key]) / 1000.0)
        print(f"split run {run + 1}: " + ", ".join(f"{label} {times[label][-1]:.2f} s"
                                                  for label, _ in SPLITS), flush=True)
    clear_away(game)
    for name in ("split.zip", "split.log"):
        (temp / name).unlink(missing_ok=True)
    return times


def spread(values):
    return f"{min(values):.2f}-{max(values):.2f}"


def report(jobs, runs, split):
    print(f"\nWhole job, {runs} runs each, alternating; seconds of the whole process")
    print("| job | installer median (spread) | bare loop median (spread) | ratio median "
          "(spread) |")
    print("|---|---|---|---|")
    for job in jobs:
        ratios = [b / i for b, i in zip(job.bare, job.installer)]
        print(f"| {job.label} | {statistics.median(job.installer):.2f} ({spread(job.installer)})"
              f" | {statistics.median(job.bare):.2f} ({spread(job.bare)})"
              f" | {statistics.median(ratios):.2f} ({spread(ratios)}) |")
    print("\nWhere the installer's time goes (medians, s); the bare loop's own parts beside")
    print("| job | " + " | ".join(PHASES)
          + " | flushes to the disk | bare: fetch | bare: install | bare: delete |")
    print("|---|" + "---|" * (len(PHASES) + 4))
    for job in jobs:
        cells = [f"{statistics.median(p[name] for p in job.phases):.2f}"
                 if all(job.phases) else "-" for name in PHASES]
        flushes = [p["flushes"] for p in job.phases if "flushes" in p]
        cells.append(f"{statistics.median(flushes):.0f}" if flushes else "-")
        bare = [f"{statistics.median(p[i] for p in job.bare_parts):.2f}" for i in range(3)]
        print(f"| {job.label} | " + " | ".join(cells + bare) + " |")
    if split:
        print("\nWriting the archive's files alone, from the temporary folder (medians of "
              f"{len(next(iter(split.values())))} runs, s, spread)")
        print("| " + " | ".join(split) + " |")
        print("|---" * len(split) + "|")
        print("| " + " | ".join(f"{statistics.median(v):.2f} ({spread(v)})"
                               for v in split.values()) + " |")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--jobs", default="archive,package")
    parser.add_argument("--package-mib", type=int, default=64)
    parser.add_argument("--split-runs", type=int, default=3)
    args = parser.parse_args()
    for exe in (harness.INSTALLER_EXE, harness.DRIVER_EXE, BARE_EXE, EXTRACT_EXE):
        if not exe.exists():
            raise SystemExit(f"{exe} is missing: build the test tree first")
    all_jobs = {"archive": Job("archive", 2, "qvx", "zip", "5,000-entry archive, 195 MiB (https)"),
                "package": Job("package", 0, "velloa", "package",
                               f"{args.package_mib} MiB package (https)")}
    jobs = [all_jobs[name] for name in args.jobs.split(",")]

    WORK.mkdir(parents=True, exist_ok=True)
    empty_trash(wait=True)  # left by a run that was stopped
    archive = WORK / "5000-entries.zip"
    make_archive(str(archive), 5000, 40 * 1024)
    desktop = harness.WineDesktop(BUILD / "wine-bench-job")
    server = ModServer(desktop, WORK / "server")
    try:
        shutil.copyfile(archive, server.path(2))
        write_package(server.path(0), args.package_mib)
        session = harness.InstallerSession(desktop, "bench-job")
        for job in jobs:
            for run in range(args.runs):
                # Alternating, and which goes first alternates too.
                order = (run_installer, run_bare) if run % 2 == 0 else (run_bare, run_installer)
                for step in order:
                    if step is run_installer:
                        run_installer(desktop, session, job)
                    else:
                        run_bare(desktop, job)
                print(f"{job.name} run {run + 1}: installer {job.installer[-1]:.2f} s "
                      f"({', '.join(f'{k} {v:.2f}' for k, v in job.phases[-1].items())}); "
                      f"bare {job.bare[-1]:.2f} s", flush=True)
        clear_away(desktop.game_folder())
        split = (write_split(desktop, archive, args.split_runs)
                 if "archive" in args.jobs.split(",") and args.split_runs > 0 else None)
    finally:
        server.stop()
        desktop.stop()
        empty_trash(wait=False)
    report(jobs, args.runs, split)


if __name__ == "__main__":
    main()
