#!/usr/bin/env python3
"""Self-registration asks the real POP3 server first (Dovecot on 127.0.0.1):
an account is made only for a login the server takes, over the security the
administrator chose, and nothing is made while the server cannot be
reached."""
import os
import shutil
import sys
import unittest
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gatewaytest import Certificates, Dovecot, Gateway, World, http  # noqa: E402


def register(login, password):
    fields = {"user_name": "Hanako " + login, "user_mail_address": login + "@test.example",
              "user_id": login, "user_pass1": password, "user_pass2": password,
              "user_column_count": "80", "user_row_count": "10", "user_upload_no": "1"}
    return http(WORLD["gateway"].port, b"POST", b"/mail/new/index.html?lang=eng",
                urllib.parse.urlencode(fields).encode()).raw


def registered(login):
    return WORLD["gateway"].run("users", "show", login, check=False).returncode == 0


def build(world, scratch):
    certs = Certificates(os.path.join(scratch, "certs"))
    pop = world["pop"] = Dovecot(os.path.join(scratch, "pop"), ssl="yes",
                                 cert=certs.server()).start()
    for login in ("hanako", "jiro"):
        pop.add_user(login, login + "-pw")
    g = world["gateway"] = Gateway(pop.port, prefix="tarnbox-register-")
    # STLS on the plain port: the check goes the way every later login will.
    g.run("settings", "server", "browser_registration=on", "pop3_security=stls",
          "pop3_port=%d" % pop.port)
    shutil.copy(certs.authority_file(), os.path.join(g.home, "mail-ca.pem"))
    g.start("--worker-timeout", "5")


WORLD = World("tarnbox-register-")
setUpModule, tearDownModule = WORLD.hooks(build)


class Registration(unittest.TestCase):
    def test_a_login_the_server_refuses_makes_no_account(self):
        answer = register("hanako", "guessed")
        self.assertIn(b"The POP3 server did not accept this user name and password.", answer,
                      answer[-1500:])
        self.assertIn(b"name=\"user_id\"", answer, "the form is shown again")
        self.assertFalse(registered("hanako"))
        answer = register("nobody", "whatever")
        self.assertIn(b"did not accept", answer)
        self.assertFalse(registered("nobody"))

    def test_the_servers_login_makes_the_account_over_stls(self):
        answer = register("jiro", "jiro-pw")
        self.assertIn(b"Registration completed.", answer, answer[-1500:])
        self.assertTrue(registered("jiro"))
        lines = WORLD["pop"].login_lines("jiro")
        self.assertTrue(lines and ", TLS," in lines[-1], WORLD["pop"].log_text()[-1500:])

    def test_nothing_is_made_while_the_server_is_away(self):
        WORLD["pop"].stop()
        try:
            answer = register("hanako", "hanako-pw")
        finally:
            WORLD["pop"].start()
        self.assertIn(b"The POP3 server could not be reached", answer, answer[-1500:])
        self.assertFalse(registered("hanako"))


if __name__ == "__main__":
    unittest.main(verbosity=2)
