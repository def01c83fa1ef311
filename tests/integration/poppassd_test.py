#!/usr/bin/env python3
"""The poppassd client, synchronous and as the settings page's worker (the
unit-test binary's PoppassdLive.Outcome), against Debian's poppassd under
socat on 127.0.0.1:106, changing a throwaway system account's password
through PAM; what the server did is checked by speaking the protocol from
here. Skipped without root, a free port 106, poppassd or socat."""
import os, secrets, shutil, subprocess, tempfile, unittest

from gatewaytest import BIN, Poppassd, port_answers  # noqa: E402

UNIT_TESTS = os.path.join(os.path.dirname(BIN), "unit_tests")
WRONG_OLD = "Old password is incorrect."


class PoppassdTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if os.geteuid() != 0:
            raise unittest.SkipTest("needs root (system accounts, port 106)")
        if not os.access(Poppassd.PROGRAM, os.X_OK) or not shutil.which("socat"):
            raise unittest.SkipTest("poppassd or socat not installed")
        if not os.access(UNIT_TESTS, os.X_OK):
            raise AssertionError("no unit_tests beside " + BIN)
        if port_answers(Poppassd.PORT):
            raise unittest.SkipTest("something else listens on 127.0.0.1:106")
        cls.user = "tbpp" + secrets.token_hex(6)
        cls.password = "Pw-" + secrets.token_hex(6)
        cls.log = tempfile.TemporaryFile()
        cls.addClassCleanup(cls.log.close)
        cls.server = Poppassd(cls.user, cls.password, cls.log)
        cls.addClassCleanup(cls.server.stop)

    def live(self, expect, user, old, new, via="run", text=""):
        fields = dict(TEST="1", EXPECT=expect, USER=user, OLD=old, NEW=new, VIA=via, TEXT=text)
        env = dict(os.environ, **{"TARNBOX_POPPASSD_" + k: v for k, v in fields.items()})
        r = subprocess.run([UNIT_TESTS, "--gtest_filter=PoppassdLive.Outcome"], env=env,
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
        out = r.stdout.decode(errors="replace")
        self.assertEqual(r.returncode, 0, out)
        self.assertIn("[       OK ] PoppassdLive.Outcome", out)

    def test_password_changes(self):
        # Nothing on port 106 yet: the connection fails, before and in the worker.
        self.assertFalse(port_answers(Poppassd.PORT))
        self.live("closed", self.user, self.password, "x")
        self.live("closed", self.user, self.password, "x", via="worker")

        self.server.start()
        first = "Nw1-" + secrets.token_hex(4)
        self.live("changed", self.user, self.password, first)
        self.assertTrue(self.server.accepts(first))
        self.assertFalse(self.server.accepts(self.password))

        # The worker's change starts from the new password, so the first
        # change really happened; blanks go through as part of the password.
        second = "Nw 2 " + secrets.token_hex(4)
        self.live("changed", self.user, first, second, via="worker")
        self.assertTrue(self.server.accepts(second))

        self.live("refused", self.user, "wrong", "x", text=WRONG_OLD)
        self.live("refused", self.user, first, "x", via="worker", text=WRONG_OLD)
        self.live("refused", "tbnouser" + secrets.token_hex(4), "pw", "x", text=WRONG_OLD)
        self.live("refused", self.user, second, "", text="New password required.")
        self.assertTrue(self.server.accepts(second))



if __name__ == "__main__": unittest.main()
