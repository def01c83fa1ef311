#!/usr/bin/env python3
"""Reading mail through the running gateway, against Dovecot on loopback.

One Dovecot and one gateway serve the whole file; every test class has its
own POP3 user, so that the kept lists and temporary files of one class never
meet another's. The mailboxes hold the messages of tests/corpus; Dovecot's
logout line tells which commands the gateway sent.
"""
import email
import email.header
import email.policy
import html
import json
import os
import re
import sys
import unittest
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "corpus"))
from gatewaytest import (  # noqa: E402
    LIST_TIME, MAIL_ADDRESS, MOZILLA5, REF, Browser, Dovecot, Gateway, World, assert_page_ends,
    assert_ref, browser_path, list_region, sjis, stop_process, wait_for)
import make_corpus  # noqa: E402

LABEL_SUBJECT, LABEL_DATE, LABEL_FROM = sjis("件名"), sjis("送信日時"), sjis("差出人")
ATTACHED = sjis("添付ファイル")
DIVIDED_HINT = "分割されたメールは最初のメール(件名に[1/%d]がついているメール)を読んでください。"
with open(os.path.join(REF, "reading-messages.json"), encoding="utf-8") as f:
    CASES = json.load(f)
ROW = re.compile(rb'<a name="a\d{4}">.*?\r\n.*?\r\n\r\n', re.S)

# Markup checks of cleaned HTML: every real tag (text shown as source is
# escaped and holds no "<").
TAG = re.compile(rb"<([A-Za-z][A-Za-z0-9:-]*)((?:[^>\"']|\"[^\"]*\"|'[^']*')*)>")
ATTR = re.compile(rb"([^\s=/>\"']+)(?:\s*=\s*(\"[^\"]*\"|'[^']*'|[^\s>]+))?")
ACTIVE_ELEMENTS = {b"script", b"applet", b"object", b"embed", b"iframe", b"frame", b"base"}


def active_markup(region):
    """Every active thing a browser would run in region, as readable strings."""
    found = []
    for m in TAG.finditer(region):
        name = m.group(1).lower()
        if name in ACTIVE_ELEMENTS:
            found.append("element " + name.decode())
        for a in ATTR.finditer(m.group(2)):
            attr, value = a.group(1).lower(), a.group(2) or b""
            if value[:1] in (b'"', b"'"):
                value = value[1:-1]
            plain = re.sub(r"[\x00-\x20]", "", html.unescape(value.decode("latin-1"))).lower()
            if attr.startswith(b"on"):
                found.append("handler %s in <%s>" % (attr.decode(), name.decode()))
            if plain.startswith(("javascript:", "vbscript:")):
                found.append("script URL %r in <%s>" % (value, name.decode()))
            if name == b"meta" and "iso-2022-jp" in plain:
                found.append("meta keeps charset iso-2022-jp")
    return found


class Session(Browser):
    """One user of the gateway; each exchange also gives the counters of the
    POP3 session it made (None if it made none)."""

    def __init__(self, user):
        self.port, self.user, self.password = WORLD["gateway"].port, user, USERS[user]
        self.lang, self.headers, self.query, self.pop = b"", MOZILLA5, None, WORLD["pop"]

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

    def message(self, n, ext=b"html"):
        return self.exchange(b"GET", b"/mail/a%04d.%s%s" % (n, ext, self.query))

    def post_list(self, fields):
        body = "&".join(f"{k}={urllib.parse.quote(str(v))}" for k, v in fields).encode()
        return self.exchange(b"POST", b"/mail/index.html" + self.query, body)


USERS = {"lister": "list-pw", "apopper": "apop-pw", "deleter": "del-pw", "marker": "mark-pw",
         "reader": "read-pw", "nomail": "none-pw"}
BOXES = {"lister": ["01-plain-ascii.eml", "02-iso2022jp.eml", "03-shift-jis.eml",
                    "04-euc-jp.eml", "10-mixed-attachments.eml"],
         "apopper": ["01-plain-ascii.eml", "05-encoded-words.eml", "06-unknown-charset.eml"],
         "deleter": ["01-plain-ascii.eml", "02-iso2022jp.eml", "03-shift-jis.eml",
                     "04-euc-jp.eml", "24-dot-lines.eml"],
         "marker": ["01-plain-ascii.eml", "02-iso2022jp.eml"]}


def build(world, scratch):
    pop = world["pop"] = Dovecot(scratch).start()
    for user, password in USERS.items():
        pop.add_user(user, password)
    mail = world["mail"] = dict(make_corpus.committed())
    for user, names in BOXES.items():
        for name in names:
            pop.deliver(user, mail[name])
    # The reader's box: the whole corpus, then the generated messages.
    reading = sorted(mail) + ["90-long-lines.eml", "91-big-attachment.eml"]
    mail["91-big-attachment.eml"], world["big_payload"] = make_corpus.big_attachment_message()
    mail["90-long-lines.eml"] = make_corpus.long_lines_message()
    for name in reading:
        pop.deliver("reader", mail[name])
    world["number"] = {name: i + 1 for i, name in enumerate(reading)}

    g = world["gateway"] = Gateway(pop.port, prefix="tarnbox-reading-")
    s = dict(line.split("=", 1) for line in g.run("settings", "show").stdout.splitlines()
             if "=" in line)
    # APOP as each user chose it; read mail marked, the text-download link
    # shown: fixed by the administrator for everyone, because users cannot
    # set these options for themselves yet.
    g.run("settings", "set", "apop_changeable=1",
          "user_policy_1=%d" % (int(s["user_policy_1"]) | 64),
          "user_policy_3=%d" % (int(s["user_policy_3"]) | 64),
          "user_policy_2=%d" % (int(s["user_policy_2"]) | 16),
          "user_policy_4=%d" % (int(s["user_policy_4"]) & ~16))
    for user, password in USERS.items():
        g.add_user(user, password, *(["--apop"] if user == "apopper" else []))
    # Dates of the corpus are shown in the gateway's local time (+0900).
    g.start("--worker-timeout", "10", env=dict(os.environ, TZ="JST-9"))


WORLD = World("tarnbox-reading-pop-")
setUpModule, tearDownModule = WORLD.hooks(build)


def assert_rows(test, answer, ref, query):
    assert_ref(test, ref, b"".join(ROW.findall(answer.body)), query=query)


class StopTest(unittest.TestCase):
    def test_stop_deletes_the_attachment_files(self):
        # A gateway of its own, since this test ends it.
        g = Gateway(WORLD["pop"].port, prefix="tarnbox-reading-stop-")
        self.addCleanup(g.stop)
        g.add_user("lister", USERS["lister"])
        g.start()
        n = BOXES["lister"].index("10-mixed-attachments.eml") + 1
        self.assertIn(ATTACHED, g.browser("lister", USERS["lister"]).page(
            b"/mail/a%04d.html" % n).body)

        def files():
            return sorted(f for _, _, names in os.walk(os.path.join(g.home, "temp"))
                          for f in names)
        self.assertEqual(len(files()), 3, files())
        stop_process(g.proc)
        self.assertEqual(files(), [])


class ListPage(unittest.TestCase):
    """The rows of the received-mail list, and TOP only for what is new."""

    def assert_list(self, answer, ref, query):
        self.assertEqual(answer.status, b"HTTP/1.0 200 OK")
        # The mail address heading, every row and the form end, in one piece.
        heading = b"<pre>" + MAIL_ADDRESS + b" lister@test.example\r\n"
        region = list_region(answer.body)
        self.assertTrue(region.startswith(heading), region[:200])
        assert_ref(self, ref, region[len(heading):], query=query)
        assert_page_ends(self, answer.body)

    def test_rows_then_top_only_for_new_mail(self):
        s = Session("lister")
        answer, first = s.login()
        with self.subTest("first visit: the rows byte for byte, TOP for every message"):
            self.assert_list(answer, "reading-lister", s.query)
            self.assertEqual((first["top_count"], first["retr_count"], first["deleted_count"]),
                             (5, 0, 0))
        answer, second = s.list_page()
        with self.subTest("second visit: same rows from the kept list, no TOP"):
            self.assert_list(answer, "reading-lister", s.query)
            self.assertEqual((second["top_count"], second["retr_count"]), (0, 0))
        WORLD["pop"].deliver("lister", WORLD["mail"]["07-utf8.eml"])
        answer, third = s.list_page()
        with self.subTest("new UTF-8 message: one TOP, Shift_JIS subject, the emoji's reference"):
            self.assertEqual((third["top_count"], third["retr_count"]), (1, 0))
            self.assert_list(answer, "reading-lister-new-mail", s.query)

    def test_no_mail_received(self):
        answer, counters = Session("nomail").login()
        self.assertEqual(list_region(answer.body), b"<pre>" + MAIL_ADDRESS
                         + b" nomail@test.example\r\n<center>\r\n<font size=+1>"
                         + sjis("受信メールはありません") + b"\r\n</font>\r\n</center>")
        self.assertEqual((counters["top_count"], counters["retr_count"]), (0, 0))

    def test_apop_user_and_encoded_word_rows(self):
        s = Session("apopper")
        answer, counters = s.login()
        self.assertIn(("apopper", "APOP"), WORLD["pop"].logins("apopper"))
        self.assertEqual(counters["top_count"], 3)
        # Two words folded over two lines join without a blank; two words
        # side by side on one line keep the blank between them. A word of an
        # unknown charset gives its bytes; Latin-1 e-acute has no Shift_JIS form.
        assert_rows(self, answer, "reading-apop", s.query)

    def test_row_of_a_read_message_is_checked(self):
        s = Session("marker")
        answer, _ = s.login()
        assert_rows(self, answer, "reading-marker", s.query)
        page, counters = s.message(1)
        self.assertEqual(counters["retr_count"], 1)
        assert_page_ends(self, page.body)
        answer, counters = s.list_page()
        self.assertEqual(counters["top_count"], 0)
        assert_rows(self, answer, "reading-marker-read", s.query)


class Deletion(unittest.TestCase):
    """Marked mail is deleted in the list's own exchange, and only from the
    list that was shown last; the delete link of a message checks its id."""

    def test_a_marked_mail_with_list_time(self):
        s = Session("deleter")
        answer, _ = s.login()
        stale = int(LIST_TIME.search(answer.body).group(1)) - 100
        answer, counters = s.post_list([("delete_a2", "on"), ("delete_a4", "on"),
                                        ("list_time", stale)])
        with self.subTest("stale list_time deletes nothing"):
            self.assertEqual(counters["deleted_count"], 0)
            self.assertEqual(len(ROW.findall(answer.body)), 5)
            self.assertEqual(len(WORLD["pop"].boxes.messages("deleter")), 5)
        current = LIST_TIME.search(answer.body).group(1).decode()
        answer, counters = s.post_list([("delete_a2", "on"), ("delete_a4", "on"),
                                        ("list_time", current)])
        with self.subTest("current list_time: two DELE and the renumbered list in one session"):
            self.assertEqual(counters["deleted_count"], 2)
            self.assertEqual(len(WORLD["pop"].boxes.messages("deleter")), 3)
            assert_rows(self, answer, "reading-deleted-two", s.query)

    def test_b_delete_link_of_a_message(self):
        s = Session("deleter")
        s.login()
        page, _ = s.message(2)  # now the Shift_JIS message
        token = b"%3C000a01db45f2%245e1c2a10%240201a8c0%40PC01%3E"
        self.assertIn(b'<a href="/mail/index.html?delete=a2.' + token + s.query + b'">'
                      + sjis("削除後一覧に戻る") + b"</a><hr>", page.body)
        forged = b"/mail/index.html?delete=a2.%3Cother%40example.net%3E" + s.query
        answer, counters = s.exchange(b"GET", forged)
        with self.subTest("another Message-Id deletes nothing"):
            self.assertEqual(counters["deleted_count"], 0)
            self.assertEqual(len(ROW.findall(answer.body)), 3)
        s.message(2)
        answer, counters = s.exchange(b"GET", b"/mail/index.html?delete=a2." + token + s.query)
        with self.subTest("the link deletes that message"):
            self.assertEqual(counters["deleted_count"], 1)
            assert_rows(self, answer, "reading-deleted-by-link", s.query)


class MessageView(unittest.TestCase):
    """Messages of the corpus opened as pages by one user; what each page
    must hold is in ref/reading-messages.json."""

    @classmethod
    def setUpClass(cls):
        cls.s = Session("reader")
        cls.s.login()

    def open(self, name):
        n = WORLD["number"][name]
        answer, counters = self.s.message(n)
        self.assertEqual(answer.status, b"HTTP/1.0 200 OK", name)
        assert_page_ends(self, answer.body)
        return n, answer.body, counters

    def region(self, n, page):
        """The message's own part of the page: after the heading's rule, up
        to the text-download link."""
        start = page.index(b"<hr>", page.index(LABEL_FROM)) + 4
        end = page.find(b'<center><a href="/mail/a%04d.txt' % n, start)
        return page[start:end if end >= 0 else page.rfind(b"<hr>")]

    def attachment_links(self, page):
        return re.findall(rb"\r\n<center><font size=\+1>" + ATTACHED
                          + rb' : <a href="([^"]*)">([^<]*)</a></font></center>\r\n', page)

    def download(self, href):
        self.assertTrue(href.startswith(b"/mail/~reader/"), href)
        answer = self.s.request(b"GET", browser_path(href))
        self.assertEqual(answer.status, b"HTTP/1.0 200 OK", href)
        return answer.body

    def parts(self, name, types=("application", "image")):
        """name (Content-ID or file name) -> bytes of the attachments of a
        corpus message."""
        msg = email.message_from_bytes(WORLD["mail"][name], policy=email.policy.compat32)
        return {str(email.header.make_header(email.header.decode_header(
            p.get("Content-ID") or p.get_filename() or ""))): p.get_payload(decode=True)
            for p in msg.walk() if p.get_content_maintype() in types}

    def test_japanese_text_of_each_charset(self):
        # Shift_JIS keeps 0x5C second bytes; half-width katakana come out
        # full-width; an emoji and Latin letters become references.
        for name, (subject, lines) in CASES["charsets"].items():
            n, page, _ = self.open(name)
            with self.subTest(name, subject=subject):
                self.assertIn(b"<font size=+1>" + LABEL_SUBJECT + b": " + sjis(subject)
                              + b"\r\n</font>", page)
            region = self.region(n, page)
            for line in lines:
                with self.subTest(name, line=line):
                    self.assertIn(sjis(line) + b"\r\n", region)

    def test_heading_date_and_sender(self):
        n, page, _ = self.open("02-iso2022jp.eml")
        self.assertIn(LABEL_DATE + b": 2024/12/03 09:30:00\r\n", page)
        self.assertIn(LABEL_FROM + b": " + sjis("鈴木一郎") + b" &lt;", page)

    def test_text_download(self):
        answer, _ = self.s.message(WORLD["number"]["02-iso2022jp.eml"], b"txt")
        self.assertEqual(answer.status, b"HTTP/1.0 200 OK")
        self.assertEqual(answer.header(b"Content-Type"), b"application/octet-stream")
        self.assertEqual(answer.header(b"Content-Disposition"), b"attachment")
        heading = (LABEL_SUBJECT + b": " + sjis("会議室の変更について") + b"\r\n" + LABEL_DATE
                   + b": 2024/12/03 09:30:00\r\n" + LABEL_FROM + b": " + sjis("鈴木一郎")
                   + b" <suzuki@example.co.jp>\r\n\r\n")
        text = WORLD["mail"]["02-iso2022jp.eml"].split(b"\n\n", 1)[1].decode("iso2022_jp")
        text = sjis(text).replace(b"\n", b"\r\n")
        self.assertEqual(answer.body[:len(heading) + len(text)], heading + text)
        self.assertIn(b"Subject: " + sjis("会議室の変更について") + b"\n",
                      answer.body[len(heading) + len(text):])
        self.assertNotIn(b"\x1b", answer.body)
        self.assertNotIn(b"<html", answer.body)

    def test_attachments_with_japanese_names(self):
        n, page, _ = self.open("10-mixed-attachments.eml")
        self.assertIn(sjis("見積書と議事録を添付いたします。ご確認ください。"), page)
        links = dict((name, href) for href, name in self.attachment_links(page))
        wanted = self.parts("10-mixed-attachments.eml")
        expected = {sjis("見積書.pdf"): wanted["見積書.pdf"],
                    sjis("議事録_1211.xls"): wanted["議事録_1211.xls"],
                    # A name given only the RFC 2231 way is not taken.
                    b"noname2.dat": b"\x00\x01\x02drawing\xff\xfe"}
        self.assertEqual(sorted(links), sorted(expected))
        for name, data in expected.items():
            with self.subTest(name.decode("cp932")):
                self.assertEqual(self.download(links[name]), data)
        # The files of one page stay until the user's next mail page.
        self.open("01-plain-ascii.eml")
        gone = self.s.request(b"GET", browser_path(links[sjis("見積書.pdf")]))
        self.assertEqual(gone.status, b"HTTP/1.0 404 File Not Found")

    def test_raw_shift_jis_name_from_windows_mailer(self):
        links = self.attachment_links(self.open("25-outlook-sjis-name.eml")[1])
        self.assertEqual([name for _, name in links], [sjis("月次報告.xls")])
        data = self.parts("25-outlook-sjis-name.eml")
        self.assertEqual(self.download(links[0][0]), list(data.values())[0])

    def test_ten_mib_attachment(self):
        n, page, counters = self.open("91-big-attachment.eml")
        self.assertIn(b"BIG-ATTACHMENT-NOTE", page)
        links = self.attachment_links(page)
        self.assertEqual([name for _, name in links], [make_corpus.BIG_NAME.encode()])
        body = self.download(links[0][0])
        self.assertEqual(len(body), len(WORLD["big_payload"]))
        self.assertTrue(body == WORLD["big_payload"], "10 MiB attachment differs")

    def test_what_each_message_shows(self):
        # Of an alternative only the cleaned HTML; handlers gone, links
        # kept, the HTML's own charset undone; script, applet and object
        # shown as source; an enclosed message as text of the page; dot
        # lines and lines that look like server replies as they are. None
        # has attachments; that no markup is active on any page is
        # test_every_message_page_is_complete's.
        for name, shown, absent in CASES["shown"]:
            with self.subTest(name):
                n, page, _ = self.open(name)
                region = self.region(n, page)
                for text in shown:
                    self.assertIn(sjis(text), region)
                for text in absent:
                    self.assertNotIn(sjis(text), page)
                self.assertEqual(self.attachment_links(page), [])

    def test_related_html_with_cid_image_and_inline_photo(self):
        n, page, _ = self.open("12-related-cid.eml")
        region = self.region(n, page)
        self.assertIn(sjis("今月のトピックは社員旅行の写真です。"), region)
        self.assertNotIn(b"cid:", region)
        parts = self.parts("12-related-cid.eml")
        images = re.findall(rb'<img[^>]*src="([^"]*)"', region)
        logo = [src for src in images if b"logo" in src]
        self.assertEqual(len(logo), 1, images)
        self.assertEqual(self.download(logo[0]), parts["<logo.1733979600@mail.example.org>"])
        self.assertIn(b'\r\n<center><img src="/mail/~reader/trip.jpg"></center>\r\n', region)
        self.assertEqual(self.download(b"/mail/~reader/trip.jpg"), parts["trip.jpg"])
        # The image the HTML shows gets no place of its own.
        self.assertNotIn(b'<center><img src="/mail/~reader/logo', region)
        self.assertEqual(self.attachment_links(page), [])

    def test_divided_mail_joined_at_part_one(self):
        for first, texts in CASES["divided"]:
            with self.subTest(first):
                n, page, counters = self.open(first)
                region = self.region(n, page)
                at = [region.find(sjis(t)) for t in texts]
                self.assertTrue(all(i >= 0 for i in at), list(zip(texts, at)))
                self.assertEqual(at, sorted(at))
                self.assertEqual(counters["retr_count"], len(texts))
                self.assertNotIn(sjis(DIVIDED_HINT % len(texts)), page)

    def test_divided_mail_hint_at_later_part(self):
        for later, total in [("15-partial-2-2.eml", 2), ("18-partial-3-2.eml", 3)]:
            with self.subTest(later):
                n, page, counters = self.open(later)
                self.assertIn(b"<center>\r\n" + sjis(DIVIDED_HINT % total) + b"\r\n\r\n</center>",
                              page)
                # No search for the other parts from a later one.
                self.assertEqual((counters["retr_count"], counters["top_count"]), (1, 0))

    def test_same_file_name_twice(self):
        links = self.attachment_links(self.open("26-same-names.eml")[1])
        self.assertEqual(len(links), 2, links)
        self.assertNotEqual(links[0][0], links[1][0])
        msg = email.message_from_bytes(WORLD["mail"]["26-same-names.eml"])
        wanted = [p.get_payload(decode=True) for p in msg.walk()
                  if p.get_content_type() == "application/pdf"]
        self.assertEqual([self.download(href) for href, _ in links], wanted)

    def test_more_attachments_than_slots(self):
        n, page, _ = self.open("27-twelve-attachments.eml")
        self.assertIn(b"TWELVE-PHOTOS", page)
        links = self.attachment_links(page)
        # Ten files are kept for one message; the rest get no file.
        self.assertEqual([name for _, name in links], [b"photo%02d.dat" % i for i in range(1, 11)])
        parts = self.parts("27-twelve-attachments.eml")
        for href, name in links:
            with self.subTest(name.decode()):
                self.assertEqual(self.download(href), parts[name.decode()])

    def test_broken_messages_still_make_pages(self):
        for name, marks in CASES["broken"]:
            with self.subTest(name):
                n, page, counters = self.open(name)
                self.assertEqual(counters["retr_count"], 1)
                for mark in marks:
                    self.assertIn(mark.encode(), page)

    def test_every_message_page_is_complete(self):
        for name, n in sorted(WORLD["number"].items(), key=lambda kv: kv[1]):
            if name != "91-big-attachment.eml":
                with self.subTest(name):
                    n, page, counters = self.open(name)
                    self.assertIsNotNone(counters)
                    self.assertEqual(active_markup(self.region(n, page)), [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
