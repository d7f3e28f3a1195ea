"""What reaches the disk in what order, as the system calls of an unattended run show it.

The installer (and every process it starts) and the Wine server it talks to are traced
with strace: the program writes the record's lines and the journal and flushes them
(fsync), while the server makes the renames, links, folders and new files. A power cut
keeps only what was flushed, so each of these must come after a flush of a line that
names it:
  - a file moved (renamed, linked) into the game folder, or a game file moved or linked
    into the record's backups: a line of installing.txt or installed.new naming its path;
  - a folder made in the game folder: the record's line naming it;
  - a temporary file (.zm~) created in the game folder: the journal's line naming it.
Both traces share the machine's clock (-ttt), and a call's end is its start plus its
time (-T).
"""

import glob
import os
import pathlib
import re
import socket
import subprocess
import time

TRACED = "write,pwrite64,fsync,fdatasync,rename,renameat,renameat2,link,linkat,mkdir,mkdirat,openat"
# A call's end: its result (with -y, a descriptor's path after it), an error's name, and
# its time.
END = r"\) += (-?\d+)(?:<(?:[^>\\]|\\.)*>)?(?: \w+ \([^)]*\))? <(\d+\.\d+)>$"
LINE = re.compile(r"^(\d+) +(\d+\.\d+) (\w+)\((.*)" + END)
UNFINISHED = re.compile(r"^(\d+) +(\d+\.\d+) (\w+)\((.*) <unfinished \.\.\.>$")
RESUMED = re.compile(r"^(\d+) +\d+\.\d+ <\.\.\. (\w+) resumed>(.*)" + END)
# A descriptor with its path (-y), a string (-xx), or a word such as O_CREAT.
ARGUMENT = re.compile(r'(\d+|AT_FDCWD)(?:<((?:[^>\\]|\\.)*)>)?|"((?:[^"\\]|\\.)*)"(\.\.\.)?'
                      r'|([A-Z_|0-9x]+)')


def strace_string(text):
    """The bytes of a string as strace -xx prints it."""
    out, i = bytearray(), 0
    while i < len(text):
        if text[i] == "\\":
            kind = text[i + 1]
            if kind == "x":
                out.append(int(text[i + 2:i + 4], 16))
                i += 4
                continue
            out += {"n": b"\n", "r": b"\r", "t": b"\t", "\\": b"\\", '"': b'"'}.get(kind, kind.encode())
            i += 2
        else:
            out += text[i].encode()
            i += 1
    return bytes(out)


def calls(trace):
    """(name, start, end, arguments, result) of each call in a trace file, with an
    argument a (fd, path) pair, bytes, or a word."""
    pending = {}
    for raw in pathlib.Path(trace).read_text(errors="replace").splitlines():
        found = LINE.match(raw)
        if found:
            pid, start, name, args, result, took = found.groups()
        elif (found := UNFINISHED.match(raw)):
            pending[found.group(1)] = found.groups()[1:]
            continue
        elif (found := RESUMED.match(raw)) and found.group(1) in pending:
            start, name, args = pending.pop(found.group(1))
            args, result, took = args + found.group(3), found.group(4), found.group(5)
        else:
            continue
        values = []
        for number, path, string, _, word in ARGUMENT.findall(args):
            if number:
                values.append((number, strace_string(path).decode("utf-8", "replace")))
            elif word:
                values.append(word)
            else:
                values.append(strace_string(string))
        yield name, float(start), float(start) + float(took), values, int(result)


def paths_of(args):
    """The paths a call names, each made absolute against the descriptor before it."""
    paths, folder = [], ""
    for value in args:
        if isinstance(value, tuple):
            folder = value[1]
        elif isinstance(value, bytes):
            name = value.decode("utf-8", "replace")
            paths.append(name if name.startswith("/") else os.path.join(folder, name))
    return paths


class Order:
    """The order of one traced run, in paths of the game folder relative to it."""

    def __init__(self, traces, prefix, game_windows):
        prefix = pathlib.Path(prefix)
        self.roots = [str(prefix / "dosdevices" / "c:"), os.path.realpath(prefix / "drive_c")]
        self.game = game_windows.rstrip("\\")
        self.lines = {}     # record path or journal path -> [(end of write, file written)]
        self.flushes = {}   # file -> [(start, end)]
        self.events = []    # (start, kind, key of the line it needs)
        for trace in traces:
            for call in calls(trace):
                self.take(*call)

    def windows(self, unix):
        for root in self.roots:
            if unix == root or unix.startswith(root + "/"):
                return "C:" + unix[len(root):].replace("/", "\\")
        return None

    def relative(self, unix):
        """The path inside the game folder, outside the record's folder; None otherwise."""
        path = self.windows(unix) if unix else None
        if not path or not path.lower().startswith(self.game.lower() + "\\"):
            return None
        relative = path[len(self.game) + 1:]
        return None if relative.lower().split("\\")[0] == "zelkorsmodspack" else relative

    def in_record(self, unix):
        path = self.windows(unix) or ""
        return path.lower().startswith((self.game + "\\ZelkorsModsPack\\").lower())

    def take(self, name, start, end, args, result):
        if result < 0:
            return
        if name in ("write", "pwrite64") and len(args) > 1 and isinstance(args[1], bytes):
            written = args[0][1]
            base = os.path.basename(written)
            for line in args[1].decode("utf-8", "replace").split("\r\n"):
                fields = line.split("\t")
                if base in ("installing.txt", "installed.new") and len(fields) == 8:
                    self.lines.setdefault(("record", fields[7].lower()), []).append((end, written))
                elif base == "installer.journal" and line:
                    self.lines.setdefault(("journal", line.lower()), []).append((end, written))
        elif name in ("fsync", "fdatasync"):
            self.flushes.setdefault(args[0][1], []).append((start, end))
        elif name in ("rename", "link", "renameat", "renameat2", "linkat"):
            names = paths_of(args)
            if len(names) < 2:
                return
            old, new = names[0], names[1]
            if self.relative(new):
                self.events.append((start, f"{name} into place", ("record", self.relative(new).lower())))
            elif self.relative(old) and self.in_record(new):
                self.events.append((start, f"{name} into the backups",
                                    ("record", self.relative(old).lower())))
        elif name in ("mkdir", "mkdirat"):
            folder = paths_of(args)[0]
            if self.relative(folder):
                self.events.append((start, "mkdir", ("record", self.relative(folder).lower())))
        elif name == "openat" and any("O_CREAT" in a for a in args if isinstance(a, str)):
            made = paths_of(args)[0]
            if made.endswith(".zm~") and self.relative(made):
                self.events.append((start, "temporary file",
                                    ("journal", self.windows(made).lower())))

    def durable(self, key):
        """When the first line naming KEY was on the disk; None when it never was."""
        best = None
        for written, file in self.lines.get(key, ()):
            after = [end for start, end in self.flushes.get(file, ()) if start >= written]
            if after and (best is None or min(after) < best):
                best = min(after)
        return best

    def violations(self):
        """Each event that came before a flush of its line, as text."""
        found = []
        for start, kind, key in sorted(self.events):
            durable = self.durable(key)
            if durable is None or durable > start:
                found.append(f"{kind}: {key[1]} at {start:.6f}, its line on the disk "
                             + ("never" if durable is None else f"at {durable:.6f}"))
        return found

    def flush_count(self):
        return sum(len(v) for v in self.flushes.values())


def server_listens(prefix):
    """Whether a Wine server of PREFIX takes connections on its socket (in a folder named
    by the prefix's device and inode, below /tmp/.wine-UID or /tmp/wine-XXXXXX)."""
    found = os.stat(prefix)
    name = f"server-{found.st_dev:x}-{found.st_ino:x}"
    for path in glob.glob(f"/tmp/.wine-{os.getuid()}/{name}/socket") + glob.glob(f"/tmp/wine-*/{name}/socket"):
        with socket.socket(socket.AF_UNIX) as probe:
            try:
                probe.connect(path)
                return True
            except OSError:
                pass
    return False


def traced_run(desktop, exe, args, work):
    """Runs EXE with ARGS unattended under strace, with the Wine server it talks to
    traced too; returns (exit code, [trace files])."""
    work = pathlib.Path(work)
    work.mkdir(parents=True, exist_ok=True)
    server_trace, program_trace = work / "server.trace", work / "program.trace"
    options = ["-f", "-ttt", "-T", "-y", "-xx", "-s", "4000000", "-e", f"trace={TRACED}"]
    desktop._kill_server()
    server = subprocess.Popen(["strace", *options, "-o", str(server_trace), "wineserver", "-f", "-p"],
                              env=desktop.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 30
    while not server_listens(desktop.prefix):
        if server.poll() is not None or time.monotonic() > deadline:
            raise RuntimeError("the traced Wine server did not start")
        time.sleep(0.05)
    try:
        code = subprocess.run(["strace", "-D", *options, "-o", str(program_trace), "wine", str(exe),
                               *args], env=desktop.env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=600).returncode
    finally:
        subprocess.run(["wineserver", "-k"], env=desktop.env, stdin=subprocess.DEVNULL,
                       capture_output=True, timeout=60)
        server.wait(60)
    return code, [program_trace, server_trace]
