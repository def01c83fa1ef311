#!/usr/bin/env python3
"""The received-mail list with all three settings sets on one page, against
Dovecot on loopback.

The administration command line registers only Settings 1 of a user; the
others are added the way the user adds them, on the settings pages of the
running gateway: each set gets its own POP3 user name, password, mail address
and server name (per-user servers on; the port is the basic setting's for
every set). A set whose server is 127.0.0.2 meets a closed port (Dovecot
listens on 127.0.0.1 only); a set with a wrong password meets Dovecot's login
refusal. Pages are compared as the Shift_JIS bytes a browser receives.
"""
import os
import sys
import time
import unittest
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gatewaytest import (  # noqa: E402
    MOZILLA5, Dovecot, Gateway, World, assert_page_ends, assert_ref, http, list_region)


def message(n, subject, sender):
    return (b"From: %s\nTo: someone@test.example\nSubject: %s\n"
            b"Date: 0%d Dec 2024 10:%02d:00 +0900\nMessage-Id: <%s.%d@test.example>\n\n"
            b"Body of %s.\n" % (sender, subject, n % 9 + 1, n, subject.replace(b" ", b"-"), n,
                                subject))


# Gateway users: login name -> their three sets (POP3 user, password as the
# gateway stores it, server). Dovecot knows the right passwords of all of them.
POP_USERS = {"merger": "m-pw", "merger2": "m2-pw", "merger3": "m3-pw", "broken": "b-pw",
             "refused": "r-pw", "wrongpw": "w-pw", "lost": "l-pw", "nowhere": "n-pw"}
GATEWAY_USERS = {
    "merger": [("merger", "m-pw", "127.0.0.1"), ("merger2", "m2-pw", "127.0.0.1"),
               ("merger3", "m3-pw", "127.0.0.1")],
    "broken": [("broken", "b-pw", "127.0.0.1"), ("refused", "r-pw", "127.0.0.2"),
               ("wrongpw", "not-the-password", "127.0.0.1")],
    "lost": [("lost", "l-pw", "127.0.0.1"), ("nowhere", "n-pw", "nosuch..invalid"), None],
}


def build(world, scratch):
    pop = world["pop"] = Dovecot(scratch).start()
    for user, password in POP_USERS.items():
        pop.add_user(user, password)
    for n in range(1, 3):
        pop.deliver("merger", message(n, b"First set %d" % n, b"Ann <ann@example.net>"))
    pop.deliver("merger2", message(3, b"Second set 1", b"bob@example.net"))
    for n in range(1, 4):
        pop.deliver("merger3", message(3 + n, b"Third set %d" % n, b"Cy <cy@example.net>"))
    pop.deliver("broken", message(7, b"Still here", b"dee@example.net"))

    g = world["gateway"] = Gateway(pop.port, prefix="tarnbox-merged-")
    g.run("settings", "set", "multiple_addresses=1", "per_user_servers=1")
    # The sets' own server names come from the users' settings pages.
    g.run("settings", "permissions", "change_servers=on")
    for login in GATEWAY_USERS:
        g.add_user(login, POP_USERS[login])
    g.start("--worker-timeout", "10", env=dict(os.environ, TZ="JST-9"))
    for login, sets in GATEWAY_USERS.items():
        b = g.browser(login, POP_USERS[login], headers=MOZILLA5)
        for n, (pop_user, password, server) in enumerate(filter(None, sets[1:]), 2):
            fields = {"user_id": pop_user, "user_pass1": password, "user_pass2": password,
                      "user_name": pop_user, "user_mail_address": pop_user + "@test.example",
                      "user_smtp_name": "127.0.0.1", "user_pop3_name": server}
            answer = b.page(b"/mail/setup/index%d.html" % n,
                            urllib.parse.urlencode(fields).encode())
            if (pop_user.encode() + b"@test.example" not in answer.body
                    or b"user_pass1" in answer.body):
                raise AssertionError("set %d of %s not stored: %r" % (n, login, answer.body[:1500]))


WORLD = World("tarnbox-merged-pop-")
setUpModule, tearDownModule = WORLD.hooks(build)


def login(user):
    b = WORLD["gateway"].browser(user, POP_USERS[user], headers=MOZILLA5)
    return b.first, b.query


class MergedList(unittest.TestCase):
    def assert_list(self, answer, ref, query):
        self.assertEqual(answer.status, b"HTTP/1.0 200 OK")
        assert_page_ends(self, answer.body)
        assert_ref(self, ref, list_region(answer.body), query=query)

    def test_three_reachable_sets_each_with_their_rows(self):
        started = time.time()
        answer, query = login("merger")
        self.assert_list(answer, "merged-three-sets", query)
        # The three exchanges run side by side, not one after another.
        self.assertLess(time.time() - started, 5)

        # New mail in the third set only: its section grows, the others come
        # from the kept lists unchanged.
        WORLD["pop"].deliver("merger3", message(8, b"Third set 4", b"Cy <cy@example.net>"))
        answer = http(WORLD["gateway"].port, b"GET", b"/mail/index.html" + query, headers=MOZILLA5)
        self.assert_list(answer, "merged-three-sets-new-mail", query)

    def test_refused_connection_and_refused_login_in_their_sections(self):
        answer, query = login("broken")
        self.assert_list(answer, "merged-failures", query)
        # The form still ends the page after the failed sections.
        self.assertIn(b'name="list_time"><input type="submit"', answer.body)

    def test_unknown_server_name_and_unused_third_set(self):
        answer, query = login("lost")
        self.assert_list(answer, "merged-lost", query)

        # English takes the server kind twice before the set number.
        answer = http(WORLD["gateway"].port, b"GET", b"/mail/index.html" + query + b"?lang=eng",
                      headers=MOZILLA5)
        assert_page_ends(self, answer.body)
        self.assertIn(b"<hr>Mail Address nowhere@test.example\r\n\r\n<font size=+1><center>"
                      b"Could not find the POP3 server.\r\nCheck if the POP3 server name in "
                      b"Settings 2 is correct.\r\n\r\n</center></font><input type=\"hidden\"",
                      answer.body)


if __name__ == "__main__":
    unittest.main(verbosity=2)
