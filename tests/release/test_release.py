"""Releases as a verifier checks them. Two release builds of the source's HEAD commit,
in two folders, by two users, with other TMPDIR and umask, a while apart, give the same
exe bytes; the second is signed with a code-signing certificate of the test CA, which
osslsigncode verifies against that CA, and its signature removed gives back the first's
bytes. The test build's exe is signed too, for gui's unattended run (release.signed_runs).

The builds are clones of HEAD: what is to be tested must be committed.
Run through ctest (release.reproducible, release.signed).
"""

import hashlib
import os
import pathlib
import pwd
import re
import shutil
import subprocess
import tempfile
import unittest

SOURCE = pathlib.Path(os.environ["RELEASE_SOURCE_DIR"])
SIGN_URL = "https://localhost/zelkors-mods-pack"


def project_version():
    text = (SOURCE / "CMakeLists.txt").read_text()
    return re.search(r"^project\(\S+ VERSION (\d+\.\d+\.\d+)", text, re.M).group(1)


def signing_env(certs):
    subprocess.run(["bash", str(SOURCE / "tests/net/make_certs.sh"), str(certs)], check=True)
    return {"SIGN_PFX": str(certs / "codesign.pfx"), "SIGN_URL": SIGN_URL,
            "SIGN_PASSWORD_FILE": str(certs / "codesign.password")}


def sha256(path):
    return hashlib.sha256(pathlib.Path(path).read_bytes()).hexdigest()


def unsigned_sha256(exe):
    with tempfile.TemporaryDirectory() as scratch:
        unsigned = pathlib.Path(scratch) / "unsigned.exe"
        subprocess.run(["osslsigncode", "remove-signature", "-in", str(exe), "-out", str(unsigned)],
                       check=True, stdout=subprocess.DEVNULL)
        return sha256(unsigned)


def verify(exe, ca):
    """osslsigncode's verdict on EXE's signature, trusting CA only: (exit code, report)."""
    result = subprocess.run(["osslsigncode", "verify", "-CAfile", str(ca), "-in", str(exe)],
                            capture_output=True, text=True)
    return result.returncode, result.stdout + result.stderr


def clone(folder):
    """A checkout of the source's HEAD in FOLDER/src, with the kept minizip source."""
    src = folder / "src"
    head = subprocess.run(["git", "-C", str(SOURCE), "rev-parse", "HEAD"], check=True,
                          capture_output=True, text=True).stdout.strip()
    subprocess.run(["git", "clone", "-q", "--no-hardlinks", str(SOURCE), str(src)], check=True)
    subprocess.run(["git", "-C", str(src), "checkout", "-q", "--detach", head], check=True)
    shutil.copytree(SOURCE / ".cache/minizip-source", src / ".cache/minizip-source")
    for sub in ("tmp", "out"):
        (folder / sub).mkdir()
    return src


def as_nobody(folder):
    """The command prefix that runs as nobody, made owner of FOLDER; none unless root."""
    if os.geteuid() != 0:
        return []
    nobody = pwd.getpwnam("nobody")
    for path in [folder, *folder.rglob("*")]:
        os.lchown(path, nobody.pw_uid, nobody.pw_gid)
    return ["setpriv", f"--reuid={nobody.pw_uid}", f"--regid={nobody.pw_gid}", "--clear-groups",
            "env", "USER=nobody", "LOGNAME=nobody"]


def release(folder, umask, prefix=(), extra_env=None):
    env = dict(os.environ, TMPDIR=str(folder / "tmp"), HOME=str(folder), **(extra_env or {}))
    command = [*prefix, "bash", "-c", f'umask {umask} && exec scripts/release.sh -o "$0"',
               str(folder / "out")]
    return subprocess.run(command, cwd=folder / "src", env=env, capture_output=True, text=True)


class ReproducibleRelease(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.work = pathlib.Path(tempfile.mkdtemp(prefix="release-test-"))
        cls.work.chmod(0o755)  # the second build's user must reach its folder
        cls.name = f"ZelkorsModsPackSetup-{project_version()}.exe"

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def test_two_builds_give_the_same_exe_and_the_signature_covers_exactly_it(self):
        first, second = self.work / "a", self.work / "second" / "elsewhere"
        clone(first)
        clone(second)
        sign = signing_env(second / "certs")
        built = release(first, "022")
        self.assertEqual(0, built.returncode, built.stderr)
        self.assertIn("not signed", built.stdout)
        built = release(second, "077", as_nobody(second), sign)
        self.assertEqual(0, built.returncode, built.stderr)

        exe, signed = first / "out" / self.name, second / "out" / self.name
        code, report = verify(signed, second / "certs/ca.pem")
        self.assertEqual(0, code, report)
        self.assertIn("Signature verification: ok", report)
        self.assertIn("Text description: Zelkor's Mods Pack", report)
        self.assertIn(f"URL description: {SIGN_URL}", report)
        self.assertNotEqual(0, verify(signed, "/etc/ssl/certs/ca-certificates.crt")[0])
        self.assertEqual(sha256(exe), unsigned_sha256(signed))

        infos = [(folder / "out/BUILDINFO").read_text().splitlines() for folder in (first, second)]
        self.assertIn("signature: none: this release is not signed", infos[0])
        self.assertIn("signature: Authenticode, SHA-256, not time-stamped", infos[1])
        self.assertEqual(infos[0][:-1], infos[1][:-1])
        self.assertIn(f"unsigned exe sha256: {sha256(exe)}", infos[1])
        for folder in (first, second):
            subprocess.run(["sha256sum", "--quiet", "-c", "SHA256SUMS"], cwd=folder / "out",
                           check=True)

        data = exe.read_bytes()
        for text in (str(self.work), str(first), "/tmp/", os.uname().nodename + "."):
            for encoding in ("utf-8", "utf-16-le"):
                self.assertNotIn(text.encode(encoding), data, text)
        self.assertIn(f"{project_version()}.0".encode("utf-16-le"), data, "version resource")

    def test_a_changed_work_tree_makes_no_release(self):
        folder = self.work / "changed"
        (clone(folder) / "stray.txt").write_text("not committed\n")
        built = release(folder, "022")
        self.assertEqual(1, built.returncode)
        self.assertIn("the work tree has changes", built.stderr)
        self.assertEqual([], list((folder / "out").iterdir()))

    def test_the_readme_names_the_projects_version(self):
        readme = (SOURCE / "README.md").read_text()
        self.assertIn(f"Version {project_version()}", readme)
        self.assertIn(f"ZelkorsModsPackSetup-{project_version()}.exe", readme)


class SignedTestBuild(unittest.TestCase):

    def test_signed_test_build_verifies_and_unsigns_to_its_bytes(self):
        exe = pathlib.Path(os.environ["RELEASE_TEST_EXE"])
        signed = pathlib.Path(os.environ["RELEASE_SIGNED_EXE"])
        certs = signed.parent.parent / "certs"
        sign = signing_env(certs)
        signed.parent.mkdir(parents=True, exist_ok=True)
        result = subprocess.run(["bash", str(SOURCE / "scripts/sign-release.sh"), str(exe),
                                 str(signed)], env=dict(os.environ, **sign),
                                capture_output=True, text=True)
        self.assertEqual(0, result.returncode, result.stderr)
        password = (certs / "codesign.password").read_text().strip()
        self.assertNotIn(password, result.stdout + result.stderr)
        self.assertEqual(0, verify(signed, certs / "ca.pem")[0])
        self.assertEqual(sha256(exe), unsigned_sha256(signed))


if __name__ == "__main__":
    unittest.main()
