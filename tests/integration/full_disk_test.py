#!/usr/bin/env python3
"""A write that meets a full disk: the command says so, the data file stays
as it was with nothing beside it, and the change does not come in later.
The home is a small tmpfs in a mount namespace of the test's own."""
import os, shutil, subprocess, sys, tempfile, unittest

from gatewaytest import BIN, Gateway, file_bytes, stop_process, wait_for  # noqa: E402

PRIVATE = "TARNBOX_PRIVATE_MOUNTS"
CANNOT_WRITE = "を書けません"


if not os.environ.get(PRIVATE) and os.geteuid() == 0 and shutil.which("unshare") and (
        subprocess.run(["unshare", "-m", "true"], capture_output=True).returncode == 0):
    # Mounts made from here on are seen by this test alone.
    os.environ[PRIVATE] = "1"
    os.execvp("unshare", ["unshare", "-m", "--propagation", "private", sys.executable,
                          os.path.abspath(__file__), BIN, *sys.argv[1:]])


def fill(folder, leave=0):
    """Fills the disk, then frees leave bytes again."""
    path = os.path.join(folder, "filler")
    with open(path, "wb", buffering=0) as f:
        try:
            while True:
                f.write(b"\0" * 4096)
        except OSError:
            pass
    if leave:
        os.truncate(path, max(0, os.path.getsize(path) - leave))
    return path


@unittest.skipUnless(os.environ.get(PRIVATE), "needs root and unshare for a small tmpfs")
class FullDisk(unittest.TestCase):
    def setUp(self):
        self.mount = tempfile.mkdtemp(prefix="tarnbox-full-")
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=512k", "tarnbox-full", self.mount],
                       check=True)
        self.home = os.path.join(self.mount, "home")
        os.mkdir(self.home, 0o700)
        self.g = Gateway(home=self.home)
        self.g.add_user("u1", "pw")

    def tearDown(self):
        self.g.stop()
        subprocess.run(["umount", self.mount], check=True)
        os.rmdir(self.mount)

    def listed(self):
        out = self.g.run("users", "list").stdout
        return [line.split("\t")[1] for line in out.splitlines()]

    def writes_that_fail(self):
        data = os.path.join(self.home, "tarnbox.dat")
        before, files = file_bytes(data), sorted(os.listdir(self.home))
        for args in (("users", "add", "--name", "Name u2", "--mail-address", "u2@test.example",
                      "--id", "u2", "--password", "pw"),
                     ("settings", "set", "log_size_kb=77"), ("users", "delete", "--yes", "u1")):
            r = self.g.run(*args, check=False)
            self.assertNotEqual(r.returncode, 0, args)
            self.assertIn(CANNOT_WRITE, r.stderr, args)
            self.assertIn("No space left on device", r.stderr, args)
        self.assertEqual(file_bytes(data), before)
        self.assertEqual(sorted(os.listdir(self.home)), files, "nothing left beside it")

    def test_the_command_line_alone(self):
        # A disk with no room at all, and one with room for part of a file.
        for leave in (0, 2048):
            filler = fill(self.mount, leave)
            try:
                self.writes_that_fail()
            finally:
                os.unlink(filler)
            self.assertEqual(self.listed(), ["u1"])
        self.assertIn("log_size_kb=128", self.g.run("settings", "show").stdout)

    def test_through_the_running_gateway(self):
        self.g.start()
        # The control socket may come a moment after the port.
        wait_for(lambda: os.path.exists(os.path.join(self.home, "tarnbox.sock")))
        filler = fill(self.mount)
        try:
            self.writes_that_fail()
        finally:
            os.unlink(filler)
        # What was refused stays refused when the next write goes through.
        self.g.add_user("u3", "pw")
        self.assertEqual(self.listed(), ["u1", "u3"])
        self.assertIn("log_size_kb=128", self.g.run("settings", "show").stdout)
        stop_process(self.g.proc)
        self.assertEqual(self.listed(), ["u1", "u3"])


if __name__ == "__main__": unittest.main(verbosity=2)
