#!/usr/bin/env python3
"""Reading mail through the running gateway against Dovecot: which POP3
commands ran (by Dovecot's logout lines), its refusals, the corpus as it
comes back over RETR, and sessions that go wrong on real sockets. 127.0.0.2
is a closed port; "nosuch..invalid" is refused before any DNS lookup."""
import email, email.policy, os, re, unittest, urllib.parse

from gatewaytest import (  # noqa: E402
    LIST_TIME, MAIL_ADDRESS, MOZILLA5, Browser, Dovecot, Gateway, ScriptedServer, World,
    assert_page, assert_page_ends, assert_ref, browser_path, free_port, list_region, ref_json,
    sjis, stop_process, wait_for)
import make_corpus  # noqa: E402

ATTACHED = sjis("添付ファイル")
CASES = ref_json("reading-messages")
ROW = re.compile(rb'<a name="a\d{4}">.*?\r\n.*?\r\n\r\n', re.S)

class Session(Browser):
    """Each exchange also gives the counters of its POP3 session (or None),
    the login's too: first is (answer, counters)."""

    def __init__(self, user):
        self.pop = WORLD["pop"]
        super().__init__(WORLD["gateway"].port, user, USERS[user], headers=MOZILLA5)

    def counted(self, call, *args):
        before = len(self.pop.logouts(self.user, wait=0))
        answer = call(*args)
        wait_for(lambda: len(self.pop.logouts(self.user, wait=0)) > before, 5)
        after = self.pop.logouts(self.user, wait=0)
        return answer, after[-1] if len(after) > before else None

    def login(self):
        return self.counted(super().login)

    def exchange(self, method, path, body=None):
        return self.counted(self.request, method, path, body)

    def list_page(self):
        return self.exchange(b"GET", b"/mail/index.html" + self.query)

    def message(self, n):
        return self.exchange(b"GET", b"/mail/a%04d.html%s" % (n, self.query))


USERS, BOXES, POP_USERS = CASES["users"], CASES["boxes"], CASES["pop_users"]
# Gateway users: login name -> their three sets (POP3 user, password as the
# gateway stores it, server). Dovecot knows the right passwords of all of them.
GATEWAY_USERS = CASES["gateway_users"]


def merged_message(n, subject, sender):
    return (b"From: %s\nTo: someone@test.example\nSubject: %s\n"
            b"Date: 0%d Dec 2024 10:%02d:00 +0900\nMessage-Id: <%s.%d@test.example>\n\n"
            b"Body of %s.\n" % (sender, subject, n % 9 + 1, n, subject.replace(b" ", b"-"), n,
                                subject))



WORKER_TIMEOUT = 3


def start_gateway(test, pop3_server, pop3_port, users=(), per_user_servers=False):
    g = Gateway(pop3_port, pop3_server=pop3_server, prefix="tarnbox-pop3-", owner=test)
    g.run("settings", "set", "apop_changeable=1", "per_user_servers=%d" % per_user_servers)
    for user in users:
        g.add_user(*user)
    return g.start("--worker-timeout", str(WORKER_TIMEOUT))


def build(world, scratch):
    pop = world["pop"] = Dovecot(scratch).start()
    for user, password in {**USERS, **POP_USERS}.items():
        pop.add_user(user, password)
    for user, messages in CASES["merged"].items():
        for n, subject, sender in messages:
            pop.deliver(user, merged_message(n, subject.encode(), sender.encode()))
    for user in ("alice", "apu"):
        pop.deliver(user, b"From: bob@test.example\nSubject: hello\n"
                    b"Date: Mon, 1 Jan 2024 09:00:00 +0900\n\nhello\n")
    mail = world["mail"] = dict(make_corpus.committed())
    for user, names in BOXES.items():
        for name in names:
            pop.deliver(user, mail[name])
    # The reader's box: the whole corpus, then the generated messages.
    reading = sorted(mail) + ["90-long-lines.eml", "91-big-attachment.eml"]
    mail["91-big-attachment.eml"] = make_corpus.big_attachment_message()[0]
    mail["90-long-lines.eml"] = make_corpus.long_lines_message()
    for name in reading:
        pop.deliver("reader", mail[name])
    world["number"] = {name: i + 1 for i, name in enumerate(reading)}

    greeting, ok = b"+OK ready <1.2@test.example>\r\n", b"+OK\r\n"
    world["closing"] = ScriptedServer(
        (greeting, [ok, ScriptedServer.CLOSE]),  # the list after a login
        (greeting, [ok, ScriptedServer.CLOSE]),  # a message page, same session
        (greeting, [ok, ok, b"+OK 0 0\r\n", ok]))  # the list again
    g = world["gateway"] = Gateway(pop.port, prefix="tarnbox-reading-")
    # APOP as each user chose it; read mail marked, the text-download link
    # shown: users cannot set these for themselves yet.
    g.run("settings", "permissions", "change_apop=on", "change_read_marks=off",
          "read_marks_fixed=on", "change_save_text=off", "save_text_fixed=on")
    for user, password in USERS.items():
        g.add_user(user, password, *(["--apop"] if user == "apopper" else []))
    # Dates of the corpus are shown in the gateway's local time (+0900).
    g.start("--worker-timeout", "10", env=dict(os.environ, TZ="JST-9"))


WORLD = World("tarnbox-reading-pop-")
setUpModule, tearDownModule = WORLD.hooks(build)


def assert_rows(test, answer, ref, query):
    assert_ref(test, ref, b"".join(ROW.findall(answer.body)), query=query)


def assert_list(test, answer, ref, query, heading=b""):
    """The list region after heading, in one piece, on a whole page."""
    test.assertEqual(answer.status, b"HTTP/1.0 200 OK")
    region = list_region(answer.body)
    test.assertTrue(region.startswith(heading), region[:200])
    assert_ref(test, ref, region[len(heading):], query=query)
    assert_page_ends(test, answer.body)


class StopTest(unittest.TestCase):
    def test_stop_deletes_the_attachment_files(self):
        # A gateway of its own, since this test ends it.
        g = Gateway(WORLD["pop"].port, prefix="tarnbox-reading-stop-", owner=self)
        g.add_user("lister", USERS["lister"])
        g.start()
        n = BOXES["lister"].index("10-mixed-attachments.eml") + 1
        self.assertIn(ATTACHED, g.browser("lister").page(
            b"/mail/a%04d.html" % n).body)

        def files():
            return sorted(f for _, _, names in os.walk(os.path.join(g.home, "temp"))
                          for f in names)
        self.assertEqual(len(files()), 3, files())
        stop_process(g.proc)
        self.assertEqual(files(), [])


LISTER = b"<pre>" + MAIL_ADDRESS + b" lister@test.example\r\n"


class ListPage(unittest.TestCase):
    """The rows of the received-mail list, and TOP only for what is new."""

    def test_rows_then_top_only_for_new_mail(self):
        s = Session("lister")
        answer, first = s.first
        with self.subTest("first visit: the rows byte for byte, TOP for every message"):
            assert_list(self, answer, "reading-lister", s.query, LISTER)
            self.assertEqual((first["top_count"], first["retr_count"], first["deleted_count"]),
                             (5, 0, 0))
        answer, second = s.list_page()
        with self.subTest("second visit: same rows from the kept list, no TOP"):
            assert_list(self, answer, "reading-lister", s.query, LISTER)
            self.assertEqual((second["top_count"], second["retr_count"]), (0, 0))
        WORLD["pop"].deliver("lister", WORLD["mail"]["07-utf8.eml"])
        answer, third = s.list_page()
        with self.subTest("new UTF-8 message: one TOP, Shift_JIS subject, the emoji's reference"):
            self.assertEqual((third["top_count"], third["retr_count"]), (1, 0))
            assert_list(self, answer, "reading-lister-new-mail", s.query, LISTER)

    def test_no_mail_received(self):
        answer, counters = Session("nomail").first
        assert_ref(self, "reading-no-mail", list_region(answer.body))
        self.assertEqual((counters["top_count"], counters["retr_count"]), (0, 0))

    def test_apop_user_and_encoded_word_rows(self):
        s = Session("apopper")
        answer, counters = s.first
        self.assertIn(("apopper", "APOP"), WORLD["pop"].logins("apopper"))
        self.assertEqual(counters["top_count"], 3)
        # Two words folded over two lines join without a blank; two words
        # side by side on one line keep the blank between them. A word of an
        # unknown charset gives its bytes; Latin-1 e-acute has no Shift_JIS form.
        assert_rows(self, answer, "reading-apop", s.query)

    def test_row_of_a_read_message_is_checked(self):
        s = Session("marker")
        answer = s.first[0]
        assert_rows(self, answer, "reading-marker", s.query)
        page, counters = s.message(1)
        self.assertEqual(counters["retr_count"], 1)
        assert_page_ends(self, page.body)
        answer, counters = s.list_page()
        self.assertEqual(counters["top_count"], 0)
        assert_rows(self, answer, "reading-marker-read", s.query)


class Deletion(unittest.TestCase):
    """Marked mail is deleted in the list's own exchange; which posts and
    links may delete is the unit tests' (logged_in_states.ref,
    deletion_tokens.cases, links_options.ref), here the DELE they make."""

    def test_a_marked_mail_with_list_time(self):
        s = Session("deleter")
        answer = s.first[0]
        current = LIST_TIME.search(answer.body).group(1).decode()
        marked = urllib.parse.urlencode(dict(delete_a2="on", delete_a4="on", list_time=current))
        answer, counters = s.exchange(b"POST", b"/mail/index.html" + s.query, marked.encode())
        # Two DELE and the renumbered list in one session.
        self.assertEqual(counters["deleted_count"], 2)
        self.assertEqual(len(WORLD["pop"].boxes.messages("deleter")), 3)
        assert_rows(self, answer, "reading-deleted-two", s.query)

    def test_b_delete_link_of_a_message(self):
        s = Session("deleter")
        s.message(2)  # now the Shift_JIS message
        token = b"%3C000a01db45f2%245e1c2a10%240201a8c0%40PC01%3E"
        answer, counters = s.exchange(b"GET", b"/mail/index.html?delete=a2." + token + s.query)
        self.assertEqual(counters["deleted_count"], 1)
        assert_rows(self, answer, "reading-deleted-by-link", s.query)


class MessageView(unittest.TestCase):
    """Messages of the corpus opened as pages by one user, each page as
    ref/message-pages/ holds it."""

    @classmethod
    def setUpClass(cls):
        cls.s = Session("reader")

    def open(self, name):
        n = WORLD["number"][name]
        answer, counters = self.s.message(n)
        self.assertEqual(answer.status, b"HTTP/1.0 200 OK", name)
        assert_page_ends(self, answer.body)
        self.assertIsNotNone(counters, "%s: the POP3 session did not end" % name)
        return n, answer.body, counters

    def linked(self, name):
        """The files the page of a message links to or shows, in order."""
        return re.findall(rb'(?:href|src)="(/mail/~reader/[^"]*)"', self.open(name)[1])

    def test_each_message_page(self):
        # Every message of the box as its page shows it, with the RETR and
        # TOP of its session: each Japanese charset (Shift_JIS keeps 0x5C
        # second bytes, half-width katakana come out full-width, an emoji and
        # Latin letters become references); of an alternative only the
        # cleaned HTML; script, applet and object shown as source; an
        # enclosed message as text; dot lines as they are; divided mail
        # joined at part one, a later part only hinting at it; broken
        # messages still making pages; a name given only the RFC 2231 way
        # not taken, ten files kept for one message. That no markup is active is
        # hostile_html.test.mjs's in Chromium.
        for name in WORLD["number"]:
            with self.subTest(name):
                _, page, counters = self.open(name)
                page += b"-- retr_count=%d top_count=%d\n" % (counters["retr_count"],
                                                               counters["top_count"])
                assert_page(self, "message-pages/" + name[:-4], page, self.s.query)

    def test_attachments_arrive_whole(self):
        # Each file a page links to or shows (the pages, links and all:
        # test_each_message_page) gives its part's bytes; those of related
        # HTML are a picture by Content-ID and an inline photo.
        for name in CASES["attachments"]:
            with self.subTest(name):
                # The bytes of each attachment of the corpus message, in order.
                msg = email.message_from_bytes(WORLD["mail"][name], policy=email.policy.compat32)
                wanted = [p.get_payload(decode=True) for p in msg.walk()
                          if p.get_content_maintype() in ("application", "image")]
                links = self.linked(name)
                self.assertGreaterEqual(len(wanted), len(links))
                for href, data in zip(links, wanted):
                    answer = self.s.request(b"GET", browser_path(href))
                    self.assertEqual(answer.status, b"HTTP/1.0 200 OK", href)
                    self.assertTrue(answer.body == data, href)
        # The files of one page stay until the user's next mail page.
        href = self.linked("10-mixed-attachments.eml")[0]
        self.open("01-plain-ascii.eml")
        gone = self.s.request(b"GET", browser_path(href))
        self.assertEqual(gone.status, b"HTTP/1.0 404 File Not Found")


class MergedList(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        g = cls.g = Gateway(WORLD["pop"].port, prefix="tarnbox-merged-", owner=cls)
        g.run("settings", "set", "multiple_addresses=1", "per_user_servers=1")
        # The sets' own server names come from the users' settings pages.
        g.run("settings", "permissions", "change_servers=on")
        for login in GATEWAY_USERS:
            g.add_user(login, POP_USERS[login])
        g.start("--worker-timeout", "10", env=dict(os.environ, TZ="JST-9"))
        for login, sets in GATEWAY_USERS.items():
            b = g.browser(login, headers=MOZILLA5)
            for n, (pop_user, password, server) in enumerate(filter(None, sets[1:]), 2):
                fields = {"user_id": pop_user, "user_pass1": password, "user_pass2": password,
                          "user_name": pop_user, "user_mail_address": pop_user + "@test.example",
                          "user_smtp_name": "127.0.0.1", "user_pop3_name": server}
                answer = b.page(b"/mail/setup/index%d.html" % n,
                                urllib.parse.urlencode(fields).encode())
                if (pop_user.encode() + b"@test.example" not in answer.body
                        or b"user_pass1" in answer.body):
                    raise AssertionError("set %d of %s not stored: %r"
                                         % (n, login, answer.body[:1500]))

    def test_three_reachable_sets_each_with_their_rows(self):
        b = self.g.browser("merger", headers=MOZILLA5)
        assert_list(self, b.first, "merged-three-sets", b.query)
        # The three exchanges run side by side, not one after another.
        self.assertLess(b.first.seconds, 5)

        # New mail in the third set only: its section grows, the others come
        # from the kept lists unchanged.
        WORLD["pop"].deliver("merger3", merged_message(8, b"Third set 4", b"Cy <cy@example.net>"))
        assert_list(self, b.page(b"/mail/index.html"), "merged-three-sets-new-mail", b.query)

    def test_refused_connection_refused_login_unknown_name_and_unused_set(self):
        # Their English text is the unit tests' (merged_sections.ref).
        for user, ref in (("broken", "merged-failures"), ("lost", "merged-lost")):
            with self.subTest(user):
                b = self.g.browser(user, headers=MOZILLA5)
                assert_list(self, b.first, ref, b.query)
                # The form still ends the page after the failed sections.
                self.assertIn(b'name="list_time"><input type="submit"', b.first.body)


class UnreachedServer(unittest.TestCase):
    def test_name_not_found_connection_refused_and_login_refused(self):
        # Dovecot knows carol as carolpw; its text stands on the page.
        for name, port, per_user, user, ref in (
                ("nosuch..invalid", 110, False, "alice", "pop3-no-name-basic"),
                ("nosuch..invalid", 110, True, "alice", "pop3-no-name-own"),
                ("127.0.0.1", free_port(), False, "alice", "pop3-refused"),
                ("127.0.0.1", WORLD["pop"].port, False, "carol", "pop3-login-refused")):
            with self.subTest(ref):
                b = start_gateway(self, name, port, [(user, "wrongpw")], per_user).browser(
                    user, english=True)
                self.assertLess(b.first.seconds, WORKER_TIMEOUT)  # at once, not after a wait
                assert_page(self, ref, b.first.raw, b.query)
        self.assertEqual(WORLD["pop"].logins("carol"), [])


class DovecotRefuses(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.g = start_gateway(cls, "127.0.0.1", WORLD["pop"].port, [
            ("alice", "alicepw"), ("apu", "apupw", "--apop")])

    def test_message_not_on_the_server(self):
        pop = WORLD["pop"]
        for user, method in (("alice", "PLAIN"), ("apu", "APOP")):
            with self.subTest(user=user):
                b = self.g.browser(user, english=True)
                before = len(pop.logouts(user))
                answer = b.page(b"/mail/a0099.html").raw
                assert_page(self, "pop3-no-message", answer, b.query)
                self.assertEqual(pop.logins(user)[-1], (user, method))
                wait_for(lambda: len(pop.logouts(user, wait=0)) > before, 5)
                last = pop.logouts(user, wait=0)[-1]
                self.assertEqual(last["reason"], "Disconnected: Logged out")  # QUIT was sent
                self.assertEqual((last["retr_count"], last["deleted_count"]), (0, 0))


class MisbehavingServer(unittest.TestCase):
    def test_server_that_closes_mid_exchange(self):
        server = WORLD["closing"]
        g = start_gateway(self, "127.0.0.1", server.port, [("alice", "pw")])
        # Nothing of the page had been written when the server went: the
        # failure page is the whole answer.
        b = g.browser("alice", english=True)
        assert_page(self, "pop3-stall", b.first.raw, b.query)
        # The login holds although no list could be shown.
        assert_page(self, "pop3-stall", b.page(b"/mail/a0001.html").raw, b.query)
        self.assertIn(b"No mail received.", b.page(b"/mail/index.html").body)
        self.assertEqual(server.commands, [b"USER alice", b"PASS pw"] * 3 + [b"STAT", b"QUIT"])


if __name__ == "__main__": unittest.main(verbosity=2)
