#!/usr/bin/env python3
"""The pages a browser gets when a POP3 exchange goes wrong, byte for byte:
a server name that does not resolve, a refused connection, a refused login
(Dovecot's own -ERR text), a message that is not on the server, a server
that never greets and one that closes in the middle of the exchange.

Everything runs on 127.0.0.1; no name is ever looked up in the DNS (the
unresolvable name is refused before the resolver is asked)."""
import os
import re
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gatewaytest import (  # noqa: E402
    LIST_TIME, Dovecot, Gateway, ScriptedServer, World, assert_ref, free_port, http, plain_head,
    wait_for, without_session)

WORKER_TIMEOUT = 3
DATE = re.compile(rb"^(Date|Last-Modified): [^\r\n]*", re.M)


def mask_dates(answer):
    answer = re.sub(rb"Content-Security-Policy: [^\r]*", b"Content-Security-Policy: *", answer)
    return DATE.sub(lambda m: m.group(1) + b": *", without_session(plain_head(answer)))


def start_gateway(test, pop3_server, pop3_port, users=(), per_user_servers=False):
    g = Gateway(pop3_port, pop3_server=pop3_server, prefix="tarnbox-pop3-")
    test.addCleanup(g.stop)
    g.run("settings", "set", "apop_changeable=1", "per_user_servers=%d" % per_user_servers)
    for user in users:
        g.add_user(*user)
    return g.start("--worker-timeout", str(WORKER_TIMEOUT))


def login(g, user, password):
    """The form login of the top page (English pages): the whole answer and
    the login query."""
    b = g.browser(user, password, b"?lang=eng")
    return b.first.raw, b.query


def get(g, path):
    return http(g.port, b"GET", path).raw


def build(world, scratch):
    pop = world["pop"] = Dovecot(scratch).start()
    for user, password in (("alice", "alicepw"), ("apu", "apupw"), ("carol", "carolpw")):
        pop.add_user(user, password)
    for user in ("alice", "apu"):
        pop.deliver(user, b"From: bob@test.example\nSubject: hello\n"
                    b"Date: Mon, 1 Jan 2024 09:00:00 +0900\n\nhello\n")


WORLD = World("tarnbox-pop3-dovecot-")
setUpModule, tearDownModule = WORLD.hooks(build)


class UnreachedServer(unittest.TestCase):
    def test_server_name_not_found_and_connection_refused(self):
        for name, port, per_user, ref in (("nosuch..invalid", 110, False, "pop3-no-name-basic"),
                                          ("nosuch..invalid", 110, True, "pop3-no-name-own"),
                                          ("127.0.0.1", free_port(), False,
                                           "pop3-refused")):
            with self.subTest(ref):
                g = start_gateway(self, name, port, [("alice", "x")], per_user)
                t = time.time()
                answer, q = login(g, "alice", "x")
                self.assertLess(time.time() - t, WORKER_TIMEOUT)  # at once, not after a wait
                assert_ref(self, ref, mask_dates(answer), query=q)


class DovecotRefuses(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        pop = WORLD["pop"]
        cls.g = Gateway(pop.port, prefix="tarnbox-pop3-")
        cls.g.run("settings", "set", "apop_changeable=1")
        cls.g.add_user("alice", "alicepw")
        cls.g.add_user("apu", "apupw", "--apop")
        cls.g.add_user("carol", "wrongpw")  # Dovecot knows carol as carolpw
        cls.g.start("--worker-timeout", str(WORKER_TIMEOUT))

    @classmethod
    def tearDownClass(cls):
        cls.g.stop()

    def test_login_refused_shows_the_servers_text(self):
        answer, q = login(self.g, "carol", "wrongpw")
        list_time = LIST_TIME.search(answer)
        self.assertIsNotNone(list_time)
        assert_ref(self, "pop3-login-refused", mask_dates(answer), query=q,
                   list_time=list_time.group(1))
        self.assertEqual(WORLD["pop"].logins("carol"), [])

    def test_message_not_on_the_server(self):
        pop = WORLD["pop"]
        for user, password, method in (("alice", "alicepw", "PLAIN"), ("apu", "apupw", "APOP")):
            with self.subTest(user=user):
                _, q = login(self.g, user, password)
                before = len(pop.logouts(user))
                answer = get(self.g, b"/mail/a0099.html" + q)
                assert_ref(self, "pop3-no-message", mask_dates(answer), query=q)
                self.assertEqual(pop.logins(user)[-1], (user, method))
                wait_for(lambda: len(pop.logouts(user, wait=0)) > before, 5)
                last = pop.logouts(user, wait=0)[-1]
                self.assertEqual(last["reason"], "Disconnected: Logged out")  # QUIT was sent
                self.assertEqual((last["retr_count"], last["deleted_count"]), (0, 0))


class MisbehavingServer(unittest.TestCase):
    def test_server_that_stalls(self):
        # Silent from the start, or silent after its greeting: either way the
        # answer is a whole page, after the worker time-out.
        greeting = b"+OK ready\r\n"
        for script, commands in (((None, []), []), ((greeting, []), [b"USER alice"])):
            with self.subTest(greets=script[0] is not None):
                server = ScriptedServer(script)
                self.addCleanup(server.stop)
                g = start_gateway(self, "127.0.0.1", server.port, [("alice", "pw")])
                t = time.time()
                answer, q = login(g, "alice", "pw")
                waited = time.time() - t
                self.assertGreaterEqual(waited, WORKER_TIMEOUT - 0.5)
                self.assertLess(waited, WORKER_TIMEOUT + 5)
                assert_ref(self, "pop3-stall", mask_dates(answer), query=q)
                self.assertEqual(server.commands, commands)

    def test_server_that_closes_mid_exchange(self):
        greeting = b"+OK ready <1.2@test.example>\r\n"
        ok = b"+OK\r\n"
        server = ScriptedServer(
            (greeting, [ok, ScriptedServer.CLOSE]),  # the list after a login
            (greeting, [ok, ScriptedServer.CLOSE]),  # a message page, same session
            (greeting, [ok, ok, b"+OK 0 0\r\n", ok]))  # the list again
        self.addCleanup(server.stop)
        g = start_gateway(self, "127.0.0.1", server.port, [("alice", "pw")])
        # Nothing of the page had been written when the server went: the
        # failure page is the whole answer.
        answer, q = login(g, "alice", "pw")
        assert_ref(self, "pop3-stall", mask_dates(answer), query=q)
        # The login holds although no list could be shown.
        answer = get(g, b"/mail/a0001.html" + q)
        assert_ref(self, "pop3-stall", mask_dates(answer), query=q)
        answer = get(g, b"/mail/index.html" + q)
        self.assertIn(b"No mail received.", answer)
        self.assertEqual(server.commands, [b"USER alice", b"PASS pw"] * 3 + [b"STAT", b"QUIT"])

    def test_text_download_while_the_server_is_down(self):
        g = start_gateway(self, "127.0.0.1", free_port(), [("alice", "x")])
        _, q = login(g, "alice", "x")
        t = time.time()
        text = get(g, b"/mail/a0001.txt" + q)
        self.assertLess(time.time() - t, WORKER_TIMEOUT)  # at once, not after the idle time
        self.assertEqual(mask_dates(text), mask_dates(get(g, b"/mail/a0001.html" + q)))
        self.assertTrue(text.startswith(b"HTTP/1.0 200 OK\r\n"), text[:200])
        self.assertIn(b"Could not connect to the POP3 server.", text)


if __name__ == "__main__":
    unittest.main(verbosity=2)
