#!/usr/bin/env python3
"""Sending mail through the running gateway to Postfix, which delivers into
Dovecot's Maildirs; the bytes read back over POP3 are compared with
ref/sent-*.ref. Each user has an SMTP server name of its own: 127.0.0.1 is
Postfix, 127.0.0.2 a closed port, 127.0.0.3 a socket that never greets, and
"nosuch..invalid" a name refused without asking the network."""
import base64, os, re, time, unittest

from gatewaytest import (  # noqa: E402
    BOUNDARY, DONE, MOZILLA5, Dovecot, Gateway, Postfix, ScriptedServer, World, assert_page,
    assert_ref, pop3_login, ref_json, sjis, wait_for)

WORKER_TIMEOUT = 3


def split_message(raw):
    head, _, body = raw.partition(b"\r\n\r\n")
    return head + b"\r\n", body


POSTFIX_ABOVE = re.compile(rb"(?:(?:Return-Path|X-Original-To|Delivered-To|Received):"
                           rb"[^\r]*\r\n(?:[ \t][^\r]*\r\n)*)*")
# From the first line on which only Message-Id and Date lines follow.
POSTFIX_BELOW = re.compile(
    rb"(?<=\r\n)(?:(?:Message-Id: <[^>]*@mail\.test\.example>|Date: [^\r]*)\r\n)*\Z")


def gateway_headers(head):
    """Without Postfix's trace fields above and its Message-Id and Date below."""
    return POSTFIX_BELOW.sub(b"", head[POSTFIX_ABOVE.match(head).end():], count=1)


USERS = {k: v for k, v in ref_json("sending-users").items() if k != "why"}


def build(world, scratch):
    pop = world["pop"] = Dovecot(scratch).start()
    smtp = world["smtp"] = Postfix(scratch)
    for user, (_, password, _) in USERS.items():
        pop.add_user(user, password)
        smtp.add_user(user)
    smtp.start()
    world["silent"] = ScriptedServer(host="127.0.0.3", port=smtp.port)
    g = world["gateway"] = Gateway(pop.port, smtp.port, prefix="tarnbox-sending-")
    g.run("settings", "set", "per_user_servers=1")
    for user, (name, password, server) in USERS.items():
        g.add_user(user, password, "--smtp-server", server, "--cc", "--bcc", name=name)
    g.start("--worker-timeout", str(WORKER_TIMEOUT), env=dict(os.environ, TZ="JST-9"))


WORLD = World("tarnbox-sending-mail-")
setUpModule, tearDownModule = WORLD.hooks(build)


def count(user):
    return len(WORLD["pop"].boxes.messages(user))


def last_mail(user, n, seconds=10):
    """The last of user's n messages (or more) as POP3 gives it."""
    if not wait_for(lambda: count(user) >= n, seconds):
        raise AssertionError("%s has %d messages, expected %d; postfix log:\n%s" % (
            user, count(user), n, WORLD["smtp"].log_text()[-2000:]))
    pop = pop3_login(WORLD["pop"].port, user, USERS[user][1])
    last = b"".join(line + b"\r\n" for line in pop.retr(pop.stat()[0])[1])
    pop.quit()
    return last


# The message of the main case, as the browser posts it (Shift_JIS).
SUBJECT = "会議の資料について"
TEXT_LINES = [".", "本文の一行目です。", "..", ".dot at the start", "ｶﾞｯｺｳ ﾊﾟﾝ ｱﾞ ﾎﾟ",
              "~\\ & <b>not markup</b>", "最後の行"]
REPORT_NAME, REPORT_DATA = "報告書.txt", sjis("報告書の本文\r\n二行目\r\n")
# ソ has 0x5C as its second byte: the name must not be cut there.
PHOTO_NAME = "写真ソフト.jpg"
PHOTO_DATA = bytes((i * 7 + (i >> 8)) & 0xFF for i in range(6000)) + b"\r\n--\r\n"


class SentMessage(unittest.TestCase):
    """One message to To, Cc and Bcc with two attachments, through delivery
    and the sender's log."""

    @classmethod
    def setUpClass(cls):
        cls.s = WORLD["gateway"].browser("sender", headers=MOZILLA5)
        before = {u: count(u) for u in ("bob", "carol", "dave")}
        cls.answer = cls.s.send(
            to=sjis("ボブ <bob@test.example>"), cc=b"carol@test.example",
            bcc=b"dave@test.example", subject=sjis(SUBJECT), text=sjis("\r\n".join(TEXT_LINES)),
            uploads=[(sjis(REPORT_NAME), REPORT_DATA), (sjis(PHOTO_NAME), PHOTO_DATA)])
        cls.delivered = {}
        # Without the success page nothing went out; no point in waiting.
        seconds = 10 if DONE in cls.answer.body else 0
        for user in ("bob", "carol", "dave"):
            try:
                cls.delivered[user] = last_mail(user, before[user] + 1, seconds)
            except AssertionError as e:
                cls.delivered[user] = e

    def test_success_page(self):
        # The text may quote a received message: its markup is shown, never run.
        self.assertEqual(self.answer.status, b"HTTP/1.0 200 OK", self.answer.raw[:600])
        assert_page(self, "sent-page", self.answer.body, self.s.query)

    def test_to_cc_and_bcc_receive_the_same_and_see_no_bcc(self):
        # One header block (it holds no Bcc) and one body for all three.
        for user in ("bob", "carol", "dave"):
            with self.subTest(user):
                got = self.delivered[user]
                if isinstance(got, Exception):
                    self.fail("not delivered: %s\nanswer: %r" % (got, self.answer.raw[:1500]))
                head, body = split_message(got)
                assert_ref(self, "sent-headers", gateway_headers(head))
                assert_ref(self, "sent-body", body)
        # The attachments decode to the uploaded bytes.
        parts = body.split(b"--" + BOUNDARY)
        for part, data in ((parts[2], REPORT_DATA), (parts[3], PHOTO_DATA)):
            self.assertEqual(base64.b64decode(part.split(b"\r\n\r\n", 1)[1]), data)

    def test_sent_list_shows_it(self):
        # The entry's bytes and the list's rows are the unit tests'; here the
        # log of a real delivery.
        answer = self.s.page(b"/mail/sent/index.html")
        self.assertIn(b'<a href="/mail/sent/0001.html%s">0001. %s</a>'
                      % (self.s.query, sjis(SUBJECT)), answer.body)


class PlainMessage(unittest.TestCase):
    def test_ascii_only_mail_headers_and_body(self):
        s = WORLD["gateway"].browser("plain", headers=MOZILLA5)
        before = count("bob")
        answer = s.send(to=b"bob@test.example", subject=b"Plain subject",
                        text=b"Hello Bob,\r\n.\r\nbye")
        self.assertIn(DONE, answer.body)
        head, body = split_message(last_mail("bob", before + 1))
        assert_ref(self, "sent-plain-headers", gateway_headers(head))
        # The text ends in CR LF, and the end of data adds one more.
        self.assertEqual(body, b"Hello Bob,\r\n.\r\nbye\r\n\r\n")


class Failures(unittest.TestCase):
    def test_refused_recipient_stops_the_whole_message(self):
        s = WORLD["gateway"].browser("sender", headers=MOZILLA5)
        before = count("bob")
        log_before = s.page(b"/mail/sent/index.html").body.count(b"<input type=checkbox")
        answer = s.send(to=b"bob@test.example, nosuchuser@test.example", subject=b"Refused",
                        text=b"nobody gets this")
        self.assertEqual(answer.status, b"HTTP/1.0 200 OK", answer.raw[:600])
        # Postfix's reply line stands on the page, escaped.
        assert_ref(self, "send-failure-refused", answer.body, query=s.query)
        time.sleep(1)
        self.assertEqual(count("bob"), before)
        log_after = s.page(b"/mail/sent/index.html").body.count(b"<input type=checkbox")
        self.assertEqual(log_after, log_before)

    def test_servers_that_cannot_be_reached(self):
        # A name and a closed port are reported at once, a silence after the
        # worker time-out.
        for user, slowest in (("lost", WORKER_TIMEOUT), ("closed", WORKER_TIMEOUT),
                              ("silent", WORKER_TIMEOUT + 5)):
            with self.subTest(user):
                s = WORLD["gateway"].browser(user, headers=MOZILLA5)
                answer = s.send(to=b"bob@test.example", subject=b"x", text=b"x")
                self.assertEqual(answer.status, b"HTTP/1.0 200 OK", answer.raw[:600])
                assert_page(self, "send-failure-" + user, answer.body, s.query)
                self.assertLess(answer.seconds, slowest)
                if user == "silent":
                    self.assertGreaterEqual(answer.seconds, WORKER_TIMEOUT - 0.5)


if __name__ == "__main__": unittest.main(verbosity=2)
