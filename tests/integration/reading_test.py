#!/usr/bin/env python3
"""Reading mail through the running gateway, against Dovecot on loopback.

One Dovecot and one gateway serve the whole file; every test class has its own
POP3 user, so that the kept lists and temporary files of one class never meet
another's. The mailboxes hold the messages of tests/corpus. Dovecot's logout
line (top_count, retr_count, deleted_count) tells which commands the gateway
sent. Pages are compared as the bytes a browser receives (Shift_JIS).
"""
import email
import email.header
import email.policy
import html
import os
import re
import shutil
import sys
import tempfile
import unittest
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(HERE)), "tests", "corpus"))
import mailservers  # noqa: E402
from gatewaytest import MOZILLA5, Browser, Gateway, assert_ref, sjis, stop_process, wait_for  # noqa: E402,E501
import make_corpus  # noqa: E402

LABEL_SUBJECT = sjis("件名")
LABEL_DATE = sjis("送信日時")
LABEL_FROM = sjis("差出人")
MAIL_ADDRESS = sjis("メールアドレス")
ATTACHED = sjis("添付ファイル")
BACK_AFTER_DELETE = sjis("削除後一覧に戻る")
DIVIDED_HINT = "分割されたメールは最初のメール(件名に[1/%d]がついているメール)を読んでください。"


def browser_path(href):
    """The request path a browser sends for an href of a Shift_JIS page:
    entities undone, two-byte characters as UTF-8 escapes."""
    text = html.unescape(href.decode("cp932"))
    return urllib.parse.quote(text, safe="/~%!$&'()*+,;=:@?-._").encode("ascii")


ROW = re.compile(rb'<a name="a\d{4}">.*?\r\n.*?\r\n\r\n', re.S)


def rows_of(page):
    return ROW.findall(page)


LIST_TIME = re.compile(rb'<input type="hidden" value="(-?\d+)" name="list_time">')

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
            attr = a.group(1).lower()
            value = a.group(2) or b""
            if value[:1] in (b'"', b"'"):
                value = value[1:-1]
            plain = html.unescape(value.decode("latin-1"))
            plain = re.sub(r"[\x00-\x20]", "", plain).lower()
            if attr.startswith(b"on"):
                found.append("handler %s in <%s>" % (attr.decode(), name.decode()))
            if plain.startswith(("javascript:", "vbscript:")):
                found.append("script URL %r in <%s>" % (value, name.decode()))
            if name == b"meta" and "iso-2022-jp" in plain:
                found.append("meta keeps charset iso-2022-jp")
    return found


class Session(Browser):
    """One user of the gateway, logged in by login()."""

    def __init__(self, user):
        self.port, self.user, self.password = WORLD["gateway"].port, user, USERS[user]
        self.lang, self.headers, self.query, self.pop = b"", MOZILLA5, None, WORLD["pop"]

    def counted(self, call, *args):
        """The answer of call and the counters of the POP3 session it made
        (None if it made none)."""
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

    def get(self, path):
        return self.request(b"GET", path)


# The world of this file: set up once.
WORLD = {}
USERS = {"lister": "list-pw", "apopper": "apop-pw", "deleter": "del-pw", "marker": "mark-pw",
         "reader": "read-pw", "nomail": "none-pw"}


def corpus():
    return dict(make_corpus.committed())


def setUpModule():
    scratch = tempfile.mkdtemp(prefix="tarnbox-reading-pop-")
    WORLD["scratch"] = scratch
    pop = mailservers.Dovecot(scratch).start()
    WORLD["pop"] = pop
    try:
        for user, password in USERS.items():
            pop.add_user(user, password)
        mail = corpus()
        WORLD["mail"] = mail
        boxes = {
            "lister": ["01-plain-ascii.eml", "02-iso2022jp.eml", "03-shift-jis.eml",
                       "04-euc-jp.eml", "10-mixed-attachments.eml"],
            "apopper": ["01-plain-ascii.eml", "05-encoded-words.eml", "06-unknown-charset.eml"],
            "deleter": ["01-plain-ascii.eml", "02-iso2022jp.eml", "03-shift-jis.eml",
                        "04-euc-jp.eml", "24-dot-lines.eml"],
            "marker": ["01-plain-ascii.eml", "02-iso2022jp.eml"],
        }
        for user, names in boxes.items():
            for name in names:
                pop.deliver(user, mail[name])
        WORLD["boxes"] = boxes
        # The reader's box: the whole corpus, then the generated messages.
        reading = sorted(mail) + ["90-long-lines.eml", "91-big-attachment.eml"]
        big_message, big_payload = make_corpus.big_attachment_message()
        mail["90-long-lines.eml"] = make_corpus.long_lines_message()
        mail["91-big-attachment.eml"] = big_message
        WORLD["big_payload"] = big_payload
        for name in reading:
            pop.deliver("reader", mail[name])
        WORLD["number"] = {name: i + 1 for i, name in enumerate(reading)}

        g = WORLD["gateway"] = Gateway(pop.port, prefix="tarnbox-reading-")
        s = dict(line.split("=", 1) for line in g.run("settings", "show").stdout.splitlines()
                 if "=" in line)
        # APOP as each user chose it; read mail marked, the text-download
        # link shown: fixed by the administrator for everyone, because users
        # cannot set these options for themselves yet.
        g.run("settings", "set", "apop_changeable=1",
              "user_policy_1=%d" % (int(s["user_policy_1"]) | 64),
              "user_policy_3=%d" % (int(s["user_policy_3"]) | 64),
              "user_policy_2=%d" % (int(s["user_policy_2"]) | 16),
              "user_policy_4=%d" % (int(s["user_policy_4"]) & ~16))
        for user, password in USERS.items():
            g.add_user(user, password, *(["--apop"] if user == "apopper" else []))
        # Dates of the corpus are shown in the gateway's local time (+0900).
        g.start("--worker-timeout", "10", env=dict(os.environ, TZ="JST-9"))
    except BaseException:
        tearDownModule()
        raise


def tearDownModule():
    if "gateway" in WORLD:
        WORLD["gateway"].stop()
    if "pop" in WORLD:
        WORLD["pop"].stop()
    if "scratch" in WORLD:
        shutil.rmtree(WORLD["scratch"], ignore_errors=True)


class StopTest(unittest.TestCase):
    """A gateway of its own, since this test ends it."""

    def test_stop_deletes_the_attachment_files(self):
        g = Gateway(WORLD["pop"].port, prefix="tarnbox-reading-stop-")
        try:
            g.add_user("lister", USERS["lister"])
            g.start()
            n = WORLD["boxes"]["lister"].index("10-mixed-attachments.eml") + 1
            page = g.browser("lister", USERS["lister"]).page(b"/mail/a%04d.html" % n).body
            self.assertIn(ATTACHED, page)

            def files():
                return sorted(f for _, _, names in os.walk(os.path.join(g.home, "temp"))
                              for f in names)
            self.assertEqual(len(files()), 3, files())
            stop_process(g.proc)
            self.assertEqual(files(), [])
        finally:
            g.stop()


def session(user):
    return Session(user)


def assert_rows(test, answer, ref, query):
    assert_ref(test, ref, b"".join(rows_of(answer.body)), query=query)


class ListPage(unittest.TestCase):
    """The rows of the received-mail list, and TOP only for what is new."""

    def assert_list(self, answer, ref, query):
        body = answer.body
        self.assertEqual(answer.status, b"HTTP/1.0 200 OK")
        # The mail address heading, every row and the form end, in one piece.
        heading = b"<pre>" + MAIL_ADDRESS + b" lister@test.example\r\n"
        start = body.find(heading)
        end = body.find(b'<input type="hidden"', start)
        self.assertGreaterEqual(start, 0, body[:800])
        assert_ref(self, ref, body[start + len(heading):end], query=query)
        self.assertTrue(body.rstrip().endswith(b"</html>"), body[-200:])

    def test_rows_then_top_only_for_new_mail(self):
        s = session("lister")
        answer, first = s.login()
        with self.subTest("first visit: the rows byte for byte"):
            self.assert_list(answer, "reading-lister", s.query)
        with self.subTest("first visit: TOP for every message, no RETR"):
            self.assertIsNotNone(first, "no POP3 session seen")
            self.assertEqual((first["top_count"], first["retr_count"], first["deleted_count"]),
                             (5, 0, 0))

        answer, second = s.list_page()
        with self.subTest("second visit: same rows from the kept list"):
            self.assert_list(answer, "reading-lister", s.query)
        with self.subTest("second visit: no TOP"):
            self.assertEqual((second["top_count"], second["retr_count"]), (0, 0))

        WORLD["pop"].deliver("lister", WORLD["mail"]["07-utf8.eml"])
        answer, third = s.list_page()
        with self.subTest("new message: one TOP"):
            self.assertEqual((third["top_count"], third["retr_count"]), (1, 0))
        with self.subTest("new UTF-8 message: Shift_JIS subject, reference for the emoji"):
            self.assert_list(answer, "reading-lister-new-mail", s.query)


class EmptyMailbox(unittest.TestCase):
    def test_no_mail_received(self):
        s = session("nomail")
        answer, counters = s.login()
        body = answer.body
        start = body.find(b"<pre>" + MAIL_ADDRESS)
        end = body.find(b'<input type="hidden"', start)
        self.assertEqual(body[start:end], b"<pre>" + MAIL_ADDRESS + b" nomail@test.example\r\n"
                         b"<center>\r\n<font size=+1>" + sjis("受信メールはありません")
                         + b"\r\n</font>\r\n</center>")
        self.assertEqual((counters["top_count"], counters["retr_count"]), (0, 0))


class ApopLogin(unittest.TestCase):
    def test_apop_user_and_encoded_word_rows(self):
        s = session("apopper")
        answer, counters = s.login()
        self.assertIn(("apopper", "APOP"), WORLD["pop"].logins("apopper"))
        self.assertEqual(counters["top_count"], 3)
        # Two words folded over two lines join without a blank; two words
        # side by side on one line keep the blank between them. A word of an
        # unknown charset gives its bytes; Latin-1 e-acute has no Shift_JIS form.
        assert_rows(self, answer, "reading-apop", s.query)


class Deletion(unittest.TestCase):
    """Marked mail is deleted in the list's own exchange, and only from the
    list that was shown last; the delete link of a message checks its id."""

    def test_a_marked_mail_with_list_time(self):
        s = session("deleter")
        answer, _ = s.login()
        stale = int(LIST_TIME.search(answer.body).group(1)) - 100
        answer, counters = s.post_list([("delete_a2", "on"), ("delete_a4", "on"),
                                        ("list_time", stale)])
        with self.subTest("stale list_time deletes nothing"):
            self.assertEqual(counters["deleted_count"], 0)
            self.assertEqual(len(rows_of(answer.body)), 5)
            self.assertEqual(len(WORLD["pop"].boxes.messages("deleter")), 5)
        current = LIST_TIME.search(answer.body).group(1).decode()
        answer, counters = s.post_list([("delete_a2", "on"), ("delete_a4", "on"),
                                        ("list_time", current)])
        with self.subTest("current list_time: two DELE and the list in one session"):
            self.assertEqual(counters["deleted_count"], 2)
            self.assertEqual(len(WORLD["pop"].boxes.messages("deleter")), 3)
        with self.subTest("the rows after deleting 2 and 4, renumbered"):
            assert_rows(self, answer, "reading-deleted-two", s.query)

    def test_b_delete_link_of_a_message(self):
        s = session("deleter")
        s.login()
        # Row 2 is now the Shift_JIS message.
        page, _ = s.message(2)
        token = b"%3C000a01db45f2%245e1c2a10%240201a8c0%40PC01%3E"
        link = (b'<a href="/mail/index.html?delete=a2.' + token + s.query + b'">'
                + BACK_AFTER_DELETE + b"</a><hr>")
        self.assertIn(link, page.body)
        forged = b"/mail/index.html?delete=a2.%3Cother%40example.net%3E" + s.query
        answer, counters = s.exchange(b"GET", forged)
        with self.subTest("another Message-Id deletes nothing"):
            self.assertEqual(counters["deleted_count"], 0)
            self.assertEqual(len(rows_of(answer.body)), 3)
        s.message(2)
        answer, counters = s.exchange(b"GET", b"/mail/index.html?delete=a2." + token + s.query)
        with self.subTest("the link deletes that message"):
            self.assertEqual(counters["deleted_count"], 1)
            assert_rows(self, answer, "reading-deleted-by-link", s.query)


class ReadMarks(unittest.TestCase):
    def test_row_of_a_read_message_is_checked(self):
        s = session("marker")
        answer, _ = s.login()
        assert_rows(self, answer, "reading-marker", s.query)
        page, counters = s.message(1)
        self.assertEqual(counters["retr_count"], 1)
        self.assertTrue(page.body.rstrip().endswith(b"</html>"))
        answer, counters = s.list_page()
        self.assertEqual(counters["top_count"], 0)
        assert_rows(self, answer, "reading-marker-read", s.query)


class MessageView(unittest.TestCase):
    """Messages of the corpus opened as pages by one user."""

    @classmethod
    def setUpClass(cls):
        cls.s = session("reader")
        cls.s.login()

    def open(self, name):
        n = WORLD["number"][name]
        answer, counters = self.s.message(n)
        self.assertEqual(answer.status, b"HTTP/1.0 200 OK", name)
        self.assertTrue(answer.body.rstrip().endswith(b"</html>"),
                        "%s: page not finished: %r" % (name, answer.body[-300:]))
        return n, answer.body, counters

    def region(self, n, page):
        """The message's own part of the page: after the heading's rule, up
        to the text-download link."""
        start = page.index(b"<hr>", page.index(LABEL_FROM)) + 4
        end = page.find(b'<center><a href="/mail/a%04d.txt' % n, start)
        if end < 0:
            end = page.rfind(b"<hr>")
        return page[start:end]

    def attachment_links(self, page):
        return re.findall(rb"\r\n<center><font size=\+1>" + ATTACHED
                          + rb' : <a href="([^"]*)">([^<]*)</a></font></center>\r\n', page)

    def download(self, href):
        self.assertTrue(href.startswith(b"/mail/~reader/"), href)
        answer = self.s.get(browser_path(href))
        self.assertEqual(answer.status, b"HTTP/1.0 200 OK", href)
        return answer.body

    def parts(self, name):
        """name -> bytes of the attachments of a corpus message."""
        msg = email.message_from_bytes(WORLD["mail"][name], policy=email.policy.compat32)
        found = {}
        for part in msg.walk():
            if part.get_content_maintype() in ("application", "image"):
                name = part.get("Content-ID") or part.get_filename() or ""
                name = str(email.header.make_header(email.header.decode_header(name)))
                found[name] = part.get_payload(decode=True)
        return found

    def test_japanese_text_of_each_charset(self):
        cases = {
            "02-iso2022jp.eml": ("会議室の変更について",
                                 ["第二会議室から第五会議室へ変更になりました。",
                                  "開始時刻は午後三時のままです。"]),
            # 0x5C second bytes stay; half-width katakana come out full-width.
            "03-shift-jis.eml": ("請求書送付のご案内",
                                 ["１２月分の請求書を添付のソフトで表示できる形式にてお送りします。",
                                  "データの取り込みに問題があればご連絡ください。"]),
            "04-euc-jp.eml": ("出張報告書", ["行き先：大阪支店", "目的：新製品の説明会"]),
            "07-utf8.eml": ("【ご案内】新サービス開始のお知らせ&#127881;",
                            ["新サービス「クラウド帳簿」の提供を開始しました。",
                             "① 初期費用０円", "② 月額５００円～",
                             "絵文字テスト &#127881; と &#220;n&#239;c&#246;d&#233; の混在"]),
            "08-utf8-qp.eml": ("受付完了のお知らせ",
                               ["お問い合わせありがとうございます。担当者より二営業日以内にご連絡いたします。",
                                "受付番号：ＡＢ１２３４"]),
            "09-base64-jis.eml": ("Re: 見積もりの件",
                                  ["添付の件、承知しました。", "明日の午前中に確認して折り返します。"]),
            "05-encoded-words.eml": ("【重要】年末年始の営業日のお知らせ",
                                     ["年末年始は十二月二十九日から一月三日までお休みをいただきます。"]),
        }
        for name, (subject, lines) in cases.items():
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
        n = WORLD["number"]["02-iso2022jp.eml"]
        answer, _ = self.s.message(n, b"txt")
        self.assertEqual(answer.status, b"HTTP/1.0 200 OK")
        self.assertEqual(answer.header(b"Content-Type"), b"application/octet-stream")
        self.assertEqual(answer.header(b"Content-Disposition"), b"attachment")
        heading = (LABEL_SUBJECT + b": " + sjis("会議室の変更について") + b"\r\n" + LABEL_DATE
                   + b": 2024/12/03 09:30:00\r\n" + LABEL_FROM + b": " + sjis("鈴木一郎")
                   + b" <suzuki@example.co.jp>\r\n\r\n")
        self.assertEqual(answer.body[:len(heading)], heading)
        text = WORLD["mail"]["02-iso2022jp.eml"].split(b"\n\n", 1)[1].decode("iso2022_jp")
        text = sjis(text).replace(b"\n", b"\r\n")
        self.assertEqual(answer.body[len(heading):len(heading) + len(text)], text)
        rest = answer.body[len(heading) + len(text):]
        self.assertIn(b"Subject: " + sjis("会議室の変更について") + b"\n", rest)
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
        gone = self.s.get(browser_path(links[sjis("見積書.pdf")]))
        self.assertEqual(gone.status, b"HTTP/1.0 404 File Not Found")

    def test_raw_shift_jis_name_from_windows_mailer(self):
        n, page, _ = self.open("25-outlook-sjis-name.eml")
        links = self.attachment_links(page)
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
        # (message, what its own part of the page holds, what the page does
        # not); none of them has attachments. That no markup is active on any
        # page is test_every_message_page_is_complete's.
        for name, shown, absent in [
                # Of an alternative only the cleaned HTML.
                ("11-alternative.eml", [sjis("冬のセール開催中"), sjis("二割引"),
                                        b"https://shop.example.com/sale?utm=mail"],
                 [b"PLAIN-ALTERNATIVE-ONLY"]),
                # Handlers gone, links kept, the HTML's own charset undone.
                ("19-html-handlers.eml", [sjis("ご注文ありがとうございます。"),
                                          sjis("お届け予定：十二月二十日"),
                                          b'href="https://shop.example.com/orders/1234"'],
                 [b"\x1b"]),
                # Script, applet and object shown as source.
                ("20-html-active.eml", [b"ACTIVE-CONTENT-BEFORE", b"&lt;script"], []),
                # An enclosed message is text of the page, no attachment.
                ("13-forward-rfc822.eml", [sjis("転送します。"), sjis(
                    "忘年会は二十日の金曜日、午後七時からです。出欠を教えてください。")], []),
                # Dot lines and lines that look like server replies.
                ("24-dot-lines.eml", [b".hidden line starting with a dot\r\n.\r\n..\r\n"
                                      b"...three\r\n-ERR looks like a server error\r\n"
                                      b"+OK looks like a server reply\r\nDOT-LINES-END"], [])]:
            with self.subTest(name):
                n, page, _ = self.open(name)
                region = self.region(n, page)
                for text in shown:
                    self.assertIn(text, region)
                for text in absent:
                    self.assertNotIn(text, page)
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
        for first, texts, parts in [
                ("14-partial-2-1.eml", ["分割その一：今月の社内報をお届けします。",
                                        "分割その二：後半は部活動の報告です。"], 2),
                ("16-partial-3-1.eml", ["三分割の一：安全衛生委員会からのお知らせ。",
                                        "三分割の二：避難訓練は一月十日です。",
                                        "三分割の三：以上、ご協力をお願いします。"], 3)]:
            with self.subTest(first):
                n, page, counters = self.open(first)
                region = self.region(n, page)
                at = [region.find(sjis(t)) for t in texts]
                self.assertTrue(all(i >= 0 for i in at), list(zip(texts, at)))
                self.assertEqual(at, sorted(at))
                self.assertEqual(counters["retr_count"], parts)
                self.assertNotIn(sjis(DIVIDED_HINT % parts), page)

    def test_divided_mail_hint_at_later_part(self):
        for later, total in [("15-partial-2-2.eml", 2), ("18-partial-3-2.eml", 3)]:
            with self.subTest(later):
                n, page, counters = self.open(later)
                self.assertIn(b"<center>\r\n" + sjis(DIVIDED_HINT % total) + b"\r\n\r\n</center>",
                              page)
                # No search for the other parts from a later one.
                self.assertEqual((counters["retr_count"], counters["top_count"]), (1, 0))

    def test_same_file_name_twice(self):
        n, page, _ = self.open("26-same-names.eml")
        links = self.attachment_links(page)
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
        for name, marks in [("21-missing-headers.eml", [b"MISSING-HEADERS-BODY"]),
                            ("22-malformed-headers.eml", []),
                            ("23-8bit-junk.eml", [b"JUNK-BEFORE", b"JUNK-AFTER"]),
                            ("06-unknown-charset.eml", [b"Bonjour Hanako,"]),
                            ("90-long-lines.eml", [b"LONG-LINE-BEFORE", b"LONG-LINE-AFTER",
                                                   b"LONG-HTML-BEFORE"])]:
            with self.subTest(name):
                n, page, counters = self.open(name)
                self.assertEqual(counters["retr_count"], 1)
                for mark in marks:
                    self.assertIn(mark, page)

    def test_every_message_page_is_complete(self):
        for name, n in sorted(WORLD["number"].items(), key=lambda kv: kv[1]):
            if name == "91-big-attachment.eml":
                continue
            with self.subTest(name):
                n, page, counters = self.open(name)
                self.assertIsNotNone(counters)
                self.assertEqual(active_markup(self.region(n, page)), [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
