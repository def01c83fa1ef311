#!/usr/bin/env python3
"""The poppassd client, synchronous and as the settings page's worker (the
unit-test binary's PoppassdLive.Outcome), against Debian's poppassd under
socat on 127.0.0.1:106, changing a throwaway system account's password
through PAM; what the server did is checked by speaking the protocol from
here. Skipped without root, a free port 106, poppassd or socat."""
import os, secrets, shutil, signal, socket, subprocess, tempfile, time, unittest

from gatewaytest import BIN, port_answers as answers  # noqa: E402

UNIT_TESTS = os.path.join(os.path.dirname(BIN), "unit_tests")
POPPASSD = "/usr/sbin/poppassd"
PORT = 106
WRONG_OLD = "Old password is incorrect."


def port_answers():
    return answers(PORT)


class Socat:
    """One poppassd per connection, in a session of its own so that stopping
    the group ends conversations still running. poppassd exits with 1 after
    a refusal, which socat takes as its own error, maybe before passing the
    refusal on: a shell in between turns the status into 0."""

    def __init__(self, log):
        self.log, self.proc = log, None

    def start(self):
        self.proc = subprocess.Popen(
            [shutil.which("socat"), "TCP-LISTEN:%d,bind=127.0.0.1,reuseaddr,fork" % PORT,
             "SYSTEM:%s; exit 0" % POPPASSD],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=self.log,
            start_new_session=True)
        deadline = time.time() + 10
        while time.time() < deadline:
            if self.proc.poll() is not None:
                raise AssertionError("socat ended at start: %d" % self.proc.returncode)
            try:
                # Reading the greeting lets that poppassd end cleanly.
                with socket.create_connection(("127.0.0.1", PORT), timeout=5) as s:
                    if s.makefile("rb").readline().startswith(b"200"):
                        return
            except OSError:
                time.sleep(0.05)
        raise AssertionError("socat did not start")

    def stop(self):
        if self.proc and self.proc.poll() is None:
            try:
                os.killpg(self.proc.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                os.killpg(self.proc.pid, signal.SIGKILL)
                self.proc.wait()
        self.proc = None


def server_accepts(user, password):
    """poppassd takes password as user's (a wrong one costs PAM's delay)."""
    with socket.create_connection(("127.0.0.1", PORT), timeout=15) as s:
        f = s.makefile("rb")
        assert f.readline().startswith(b"200")
        s.sendall(b"user %s\r\n" % user.encode())
        assert f.readline().startswith(b"200")
        s.sendall(b"pass %s\r\n" % password.encode())
        answer = f.readline()
        try:
            s.sendall(b"quit\r\n")
        except OSError:
            pass
        return answer.startswith(b"200")


class PoppassdTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if os.geteuid() != 0:
            raise unittest.SkipTest("needs root (system accounts, port 106)")
        if not os.access(POPPASSD, os.X_OK) or not shutil.which("socat"):
            raise unittest.SkipTest("poppassd or socat not installed")
        if not os.access(UNIT_TESTS, os.X_OK):
            raise AssertionError("no unit_tests beside " + BIN)
        if port_answers():
            raise unittest.SkipTest("something else listens on 127.0.0.1:106")
        cls.user = "tbpp" + secrets.token_hex(6)
        cls.password = "Pw-" + secrets.token_hex(6)
        cls.log = tempfile.TemporaryFile()
        cls.socat = Socat(cls.log)
        subprocess.run(["useradd", "-M", "-d", "/nonexistent", "-s", "/usr/sbin/nologin",
                        cls.user], check=True)
        try:
            subprocess.run(["chpasswd"], input=("%s:%s\n" % (cls.user, cls.password)).encode(),
                           check=True)
        except BaseException:
            cls.remove_user()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.socat.stop()
        cls.remove_user()
        cls.log.close()

    @classmethod
    def remove_user(cls):
        subprocess.run(["userdel", cls.user], capture_output=True)

    def live(self, expect, user, old, new, via="run", text=""):
        env = dict(os.environ, TARNBOX_POPPASSD_TEST="1", TARNBOX_POPPASSD_EXPECT=expect,
                   TARNBOX_POPPASSD_USER=user, TARNBOX_POPPASSD_OLD=old,
                   TARNBOX_POPPASSD_NEW=new, TARNBOX_POPPASSD_VIA=via,
                   TARNBOX_POPPASSD_TEXT=text)
        r = subprocess.run([UNIT_TESTS, "--gtest_filter=PoppassdLive.Outcome"], env=env,
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
        out = r.stdout.decode(errors="replace")
        self.assertEqual(r.returncode, 0, out)
        self.assertIn("[       OK ] PoppassdLive.Outcome", out)

    def test_password_changes(self):
        # Nothing on port 106 yet: the connection fails, before and in the worker.
        self.socat.stop()
        self.assertFalse(port_answers())
        self.live("closed", self.user, self.password, "x")
        self.live("closed", self.user, self.password, "x", via="worker")

        self.socat.start()
        first = "Nw1-" + secrets.token_hex(4)
        self.live("changed", self.user, self.password, first)
        self.assertTrue(server_accepts(self.user, first))
        self.assertFalse(server_accepts(self.user, self.password))

        # The worker's change starts from the new password, so the first
        # change really happened; blanks go through as part of the password.
        second = "Nw 2 " + secrets.token_hex(4)
        self.live("changed", self.user, first, second, via="worker")
        self.assertTrue(server_accepts(self.user, second))

        self.live("refused", self.user, "wrong", "x", text=WRONG_OLD)
        self.live("refused", self.user, first, "x", via="worker", text=WRONG_OLD)
        self.live("refused", "tbnouser" + secrets.token_hex(4), "pw", "x", text=WRONG_OLD)
        self.live("refused", self.user, second, "", text="New password required.")
        self.assertTrue(server_accepts(self.user, second))



if __name__ == "__main__": unittest.main()
