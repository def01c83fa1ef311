#!/usr/bin/env python3
"""Sending mail through the running gateway, against Postfix on loopback,
which delivers into Dovecot's Maildirs; the delivered bytes are read back
raw with POP3 RETR.

The compose form is posted as multipart/form-data the way a Mozilla 5
browser posts it, with Shift_JIS field values and file names. Every user has
a server name of its own (per-user servers on; the port is the basic
setting's): 127.0.0.1 is Postfix, 127.0.0.2 is a closed port, 127.0.0.3 is a
socket of this test that accepts and never greets, and "nosuch..invalid" is a
name the resolver refuses without asking the network.
"""
import base64
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unicodedata
import unittest
import urllib.parse

BIN = os.path.abspath(sys.argv.pop(1)) if len(sys.argv) > 1 else os.environ["TARNBOX_BIN"]
sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import mailservers  # noqa: E402
from gatewaytest import (plain_head,   # noqa: E402
    DONE, SEND_ERROR, http_request, sjis, stop_process, wait_until_listening)

UA = b"User-Agent: Mozilla/5.0 (X11; Linux x86_64; rv:121.0) Gecko/20100101 Firefox/121.0\r\n"
GATEWAY_TZ = "JST-9"
DOMAIN = "test.example"
# Stalls are reported after this many seconds instead of the usual thirty.
WORKER_TIMEOUT = 3


ERROR_MESSAGE = sjis("エラーメッセージ")
ATTACHED_NAME = sjis("添付ファイル名")
NO_SERVER_IN_SET_1 = sjis("SMTP サーバーが見つかりませんでした。\r\n"
                          "設定1 の SMTP サーバー名が正しいか確認してください。")
NO_CONNECT = sjis("SMTP サーバーに接続できませんでした。\r\n"
                  "SMTP サーバーがダウンしているか、応答していないようです。")
STALLED = sjis("SMTP サーバーに接続中にエラーが発生しました")


# --- What the gateway is expected to put on the wire ---

def sjis_to_jis(s1, s2):
    r = ((s1 - 0x71) if s1 < 0xA0 else (s1 - 0xB1)) * 2 + 1
    t = s2 - 1 if s2 >= 0x80 else s2
    return bytes([r + 1, t - 0x7D]) if t >= 0x9E else bytes([r, t - 0x1F])


def kana_to_jis(b):
    wide = unicodedata.normalize("NFKC", bytes([b]).decode("cp932"))
    wide = {"\u3099": "゛", "\u309a": "゜"}.get(wide, wide)
    code = sjis(wide)
    return sjis_to_jis(code[0], code[1])


def is_lead(b):
    return 0x81 <= b <= 0x9F or 0xE0 <= b <= 0xFC


def has_more_text(rest):
    return bool(rest) and rest != b"\r\n"


def encode_header_words(text):
    """Japanese runs of a Shift_JIS header line as ISO-2022-JP B words,
    folded the gateway's way."""
    out, stage, line, i = bytearray(), bytearray(), 0, 0

    def flush():
        word = base64.b64encode(bytes(stage) + b"\x1b(B")
        out.extend(b"=?ISO-2022-JP?B?" + word + b"?=")
        stage.clear()
        return len(word)

    while i < len(text):
        c = text[i]
        if is_lead(c) and i + 1 < len(text):
            stage.extend((b"" if stage else b"\x1b$B") + sjis_to_jis(c, text[i + 1]))
            i += 2
        elif 0xA1 <= c <= 0xDF:
            stage.extend((b"" if stage else b"\x1b$B") + kana_to_jis(c))
            i += 1
        else:
            if stage:
                line += 16 + flush()
            out.append(c)
            line += 1
            if (c in b", " and len(text) - i + line >= 80 and has_more_text(text[i + 1:])
                    and not (i > 0 and text[i - 1:i] == b":")):
                out.extend(b"\r\n ")
                line = 0
            i += 1
        if stage and (len(stage) // 2) * 3 + line + 22 > 70:
            flush()
            if i < len(text) and has_more_text(text[i:]):
                out.extend(b"\r\n ")
            line = 0
    if stage:
        flush()
    return bytes(out)


def widened(text):
    """Half-width katakana as the gateway writes them: full width, a sound
    mark joined to the kana before it where a joined form exists, else
    dropped."""
    out, i = [], 0
    voiced = "ｶｷｸｹｺｻｼｽｾｿﾀﾁﾂﾃﾄﾊﾋﾌﾍﾎ"
    while i < len(text):
        ch = text[i]
        if "\uff66" <= ch <= "\uff9d":
            mark = text[i + 1] if i + 1 < len(text) else ""
            if mark == "ﾞ" and ch in voiced or mark == "ﾟ" and ch in "ﾊﾋﾌﾍﾎ":
                out.append(unicodedata.normalize("NFKC", ch + mark))
                i += 2
                continue
            out.append(unicodedata.normalize("NFKC", ch))
            i += 2 if mark in ("ﾞ", "ﾟ") else 1
            continue
        out.append(ch)
        i += 1
    return "".join(out)


def base64_lines(data):
    b = base64.b64encode(data)
    return b"".join(b[i:i + 76] + b"\r\n" for i in range(0, len(b), 76))


def header_line(text):
    return encode_header_words(sjis(text))


# --- Browser and servers ---

class Answer:
    def __init__(self, raw, seconds=0.0):
        self.raw = raw
        self.seconds = seconds
        head, _, self.body = raw.partition(b"\r\n\r\n")
        lines = head.split(b"\r\n")
        self.status = lines[0]
        self.headers = lines[1:]

    def header(self, name):
        for line in self.headers:
            if line.lower().startswith(name.lower() + b":"):
                return line.split(b":", 1)[1].strip()
        return None


def http(port, method, path, body=None, content_type=None):
    raw = method + b" " + path + b" HTTP/1.0\r\n" + UA
    if body is not None:
        raw += b"Content-Type: %s\r\nContent-Length: %d\r\n" % (
            content_type or b"application/x-www-form-urlencoded", len(body))
    started = time.time()
    answer = http_request(port, raw + b"\r\n" + (body or b""), timeout=60)
    return Answer(answer, time.time() - started)


BOUNDARY = b"---------------------------4176538729170345213941187351"


def compose_body(fields, uploads=()):
    """fields: (name, Shift_JIS value); uploads: (field, file name, bytes)."""
    parts = []
    for name, value in fields:
        parts.append(b'--%s\r\nContent-Disposition: form-data; name="%s"\r\n\r\n%s\r\n'
                     % (BOUNDARY, name, value))
    for name, filename, data in uploads:
        parts.append(b'--%s\r\nContent-Disposition: form-data; name="%s"; filename="%s"\r\n'
                     b"Content-Type: application/octet-stream\r\n\r\n%s\r\n"
                     % (BOUNDARY, name, filename, data))
    return b"".join(parts) + b"--%s--\r\n" % BOUNDARY


def pop3_messages(port, user, password):
    """Every message of the mailbox as delivered: CRLF lines, dot-stuffing
    undone."""
    with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
        f = s.makefile("rb")

        def command(line):
            if line:
                s.sendall(line + b"\r\n")
            reply = f.readline()
            if not reply.startswith(b"+OK"):
                raise AssertionError("POP3 %r: %r" % (line, reply))
            return reply

        def multiline():
            lines = []
            while True:
                line = f.readline()
                if line == b".\r\n":
                    return b"".join(lines)
                lines.append(line[1:] if line.startswith(b".") else line)

        command(None)
        command(b"USER " + user.encode())
        command(b"PASS " + password.encode())
        count = int(command(b"STAT").split()[1])
        found = []
        for n in range(1, count + 1):
            command(b"RETR %d" % n)
            found.append(multiline())
        command(b"QUIT")
    return found


def split_message(raw):
    head, _, body = raw.partition(b"\r\n\r\n")
    return head + b"\r\n", body


POSTFIX_ABOVE = re.compile(rb"(?:(?:Return-Path|X-Original-To|Delivered-To|Received):"
                           rb"[^\r]*\r\n(?:[ \t][^\r]*\r\n)*)*")
POSTFIX_BELOW = re.compile(rb"(?:(?:Message-Id: <[^>]*@mail\.test\.example>|Date: [^\r]*)\r\n)*")


def gateway_headers(head):
    """The header block without the fields Postfix puts above it (trace
    fields) and below it (Message-Id and Date, when the sender gave none)."""
    start = POSTFIX_ABOVE.match(head).end()
    rest = head[start:]
    for m in re.finditer(rb"\r\n(?=(?:Message-Id|Date): )", rest):
        tail = rest[m.end():]
        if POSTFIX_BELOW.fullmatch(tail):
            return rest[:m.end()]
    return rest


def first_difference(got, wanted):
    n = next((i for i, (a, b) in enumerate(zip(got, wanted)) if a != b),
             min(len(got), len(wanted)))
    return "first difference at byte %d of %d/%d:\n got    %r\n wanted %r" % (
        n, len(got), len(wanted), got[max(0, n - 80):n + 80], wanted[max(0, n - 80):n + 80])


class SilentServer:
    """Accepts connections and never says a word."""

    def __init__(self, host, port):
        self.sock = socket.socket()
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind((host, port))
        self.sock.listen(8)
        self.accepted = []
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        while True:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            self.accepted.append(conn)

    def close(self):
        self.sock.close()
        for c in self.accepted:
            c.close()


WORLD = {}
USERS = {
    # login: (name, POP3 password, SMTP server name)
    "sender": ("送信 太郎", "send-pw", "127.0.0.1"),
    "plain": ("Plain Sender", "plain-pw", "127.0.0.1"),
    "bob": ("Bob", "bob-pw", "127.0.0.1"),
    "carol": ("Carol", "carol-pw", "127.0.0.1"),
    "dave": ("Dave", "dave-pw", "127.0.0.1"),
    "lost": ("Lost", "lost-pw", "nosuch..invalid"),
    "closed": ("Closed", "closed-pw", "127.0.0.2"),
    "silent": ("Silent", "silent-pw", "127.0.0.3"),
}


def addr(user):
    return "%s@%s" % (user, DOMAIN)


def setUpModule():
    scratch = tempfile.mkdtemp(prefix="tarnbox-sending-mail-")
    WORLD["scratch"] = scratch
    try:
        pop = mailservers.Dovecot(scratch).start()
        WORLD["pop"] = pop
        smtp = mailservers.Postfix(scratch)
        WORLD["smtp"] = smtp
        for user, (_, password, _) in USERS.items():
            pop.add_user(user, password)
            smtp.add_user(user)
        smtp.start()
        WORLD["silent"] = SilentServer("127.0.0.3", smtp.port)

        home = tempfile.mkdtemp(prefix="tarnbox-sending-")
        WORLD["home"] = home
        port = mailservers.free_port()
        WORLD["port"] = port

        def tarnbox(*args):
            r = subprocess.run([BIN, "--home", home, *args], capture_output=True, text=True,
                               stdin=subprocess.DEVNULL)
            if r.returncode != 0:
                raise AssertionError(f"tarnbox {' '.join(args)}: {r.returncode} {r.stderr}")

        tarnbox("init", "--http-port", str(port), "--smtp-server", "127.0.0.1",
                "--smtp-port", str(smtp.port), "--pop3-server", "127.0.0.1",
                "--pop3-port", str(pop.port))
        tarnbox("settings", "set", "per_user_servers=1")
        for user, (name, password, server) in USERS.items():
            tarnbox("users", "add", "--name", name, "--mail-address", addr(user), "--id", user,
                    "--password", password, "--smtp-server", server, "--pop3-server",
                    "127.0.0.1", "--cc", "--bcc")
        proc = subprocess.Popen([BIN, "--home", home, "serve", "--worker-timeout",
                                 str(WORKER_TIMEOUT)],
                                env=dict(os.environ, TZ=GATEWAY_TZ), stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        WORLD["proc"] = proc
        wait_until_listening(port, proc)
    except BaseException:
        tearDownModule()
        raise


def tearDownModule():
    stop_process(WORLD.get("proc"))
    if "silent" in WORLD:
        WORLD["silent"].close()
    for key in ("smtp", "pop"):
        if key in WORLD:
            WORLD[key].stop()
    for key in ("home", "scratch"):
        if key in WORLD:
            shutil.rmtree(WORLD[key], ignore_errors=True)


class Sender:
    """One logged-in user of the gateway."""

    def __init__(self, user):
        self.user = user
        body = b"a=%s&b=%s" % (user.encode(), urllib.parse.quote(USERS[user][1]).encode())
        answer = http(WORLD["port"], b"POST", b"/mail/index.html", body)
        m = re.search(rb"\?user=" + re.escape(user.encode()) + rb"\?check=(\d+)", answer.body)
        if not m:
            raise AssertionError("no login query after login as %s: %r"
                                 % (user, answer.raw[:600]))
        self.query = b"?user=%s?check=%s" % (user.encode(), m.group(1))
        self.version = answer.header(b"Server").split(b" ", 1)[1]

    def send(self, to=b"", cc=b"", bcc=b"", subject=b"", text=b"", uploads=()):
        fields = [(b"send_to", to), (b"send_cc", cc), (b"send_bcc", bcc),
                  (b"send_subject", subject), (b"message", text)]
        files = [(b"upload%d" % (i + 1), name, data) for i, (name, data) in enumerate(uploads)]
        return http(WORLD["port"], b"POST", b"/mail/write/index.html" + self.query,
                    compose_body(fields, files), b"multipart/form-data; boundary=" + BOUNDARY)

    def get(self, path):
        return http(WORLD["port"], b"GET", path + self.query)

    def mail_link(self, address):
        return b'<a href="/mail/write/index.html?to=%s%s">%s</a>' % (address, self.query, address)


def mailbox(user):
    return pop3_messages(WORLD["pop"].port, user, USERS[user][1])


def wait_for_mail(user, count, seconds=10):
    deadline = time.time() + seconds
    while True:
        if len(WORLD["pop"].boxes.messages(user)) >= count:
            return mailbox(user)
        if time.time() > deadline:
            break
        time.sleep(0.05)
    raise AssertionError("%s has %d messages, expected %d; postfix log:\n%s" % (
        user, len(WORLD["pop"].boxes.messages(user)), count, WORLD["smtp"].log_text()[-2000:]))


# The message of the main case, as the browser posts it (Shift_JIS).
SUBJECT = "会議の資料について"
TEXT_LINES = [".", "本文の一行目です。", "..", ".dot at the start", "ｶﾞｯｺｳ ﾊﾟﾝ ｱﾞ ﾎﾟ",
              "~\\ & <b>not markup</b>", "最後の行"]
REPORT_NAME, REPORT_DATA = "報告書.txt", sjis("報告書の本文\r\n二行目\r\n")
# ソ has 0x5C as its second byte: the name must not be cut there.
PHOTO_NAME = "写真ソフト.jpg"
PHOTO_DATA = bytes((i * 7 + (i >> 8)) & 0xFF for i in range(6000)) + b"\r\n--\r\n"


class SentMessage(unittest.TestCase):
    """One message to To (with a Japanese name), Cc and Bcc, with two
    attachments, followed through delivery, the recipient's message view and
    the sender's log."""

    @classmethod
    def setUpClass(cls):
        cls.s = Sender("sender")
        before = {u: len(WORLD["pop"].boxes.messages(u)) for u in ("bob", "carol", "dave")}
        cls.answer = cls.s.send(
            to=sjis("ボブ <%s>" % addr("bob")), cc=addr("carol").encode(),
            bcc=addr("dave").encode(), subject=sjis(SUBJECT),
            text=sjis("\r\n".join(TEXT_LINES)),
            uploads=[(sjis(REPORT_NAME), REPORT_DATA), (sjis(PHOTO_NAME), PHOTO_DATA)])
        cls.delivered = {}
        # Without the success page nothing went out; no point in waiting.
        seconds = 10 if DONE in cls.answer.body else 0
        for user in ("bob", "carol", "dave"):
            try:
                cls.delivered[user] = wait_for_mail(user, before[user] + 1, seconds)[-1]
            except AssertionError as e:
                cls.delivered[user] = e

    def message_of(self, user):
        got = self.delivered[user]
        if isinstance(got, Exception):
            self.fail("not delivered: %s\nanswer: %r" % (got, self.answer.raw[:1500]))
        return split_message(got)

    def expected_headers(self):
        return (header_line("Subject: %s\r\n" % SUBJECT)
                + header_line("From: 送信 太郎 <%s>\r\n" % addr("sender"))
                + header_line("To: ボブ <%s>\r\n" % addr("bob"))
                + b"Cc: carol@test.example\r\n"
                + b"MIME-Version: 1.0\r\n"
                + b'Content-Type: multipart/mixed; boundary="%s"\r\n' % BOUNDARY
                + b"Content-Transfer-Encoding: 7bit\r\n"
                + b"X-Mailer: Tarnbox Version %s\r\n" % self.s.version[:4])

    def expected_body(self):
        b = b"--" + BOUNDARY
        text = widened("\r\n".join(TEXT_LINES) + "\r\n").encode("iso2022_jp")
        return (b + b"\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\n\r\n" + text + b"\r\n"
                + b + b"\r\n"
                + header_line('Content-Type: application/octet-stream; name="%s"\r\n'
                              % REPORT_NAME)
                + header_line('Content-Disposition: attachment; filename="%s"\r\n'
                              % REPORT_NAME)
                + b"Content-Transfer-Encoding: base64\r\n\r\n" + base64_lines(REPORT_DATA)
                + b"\r\n" + b + b"\r\n"
                + header_line('Content-Type: image/jpeg; name="%s"\r\n' % PHOTO_NAME)
                + header_line('Content-Disposition: inline; filename="%s"\r\n' % PHOTO_NAME)
                + b"Content-Transfer-Encoding: base64\r\n\r\n" + base64_lines(PHOTO_DATA)
                + b"\r\n" + b + b"--\r\n")

    def success_page(self):
        """The expected page around the message text, and the text."""
        q = self.s.query
        before = (b"<html><head><title>" + DONE + b"</title></head><body>"
                  b"<pre><font size=+1><center>" + DONE + b"</font></center><hr>"
                  + sjis("差出人: 送信 太郎 &lt;") + self.s.mail_link(b"sender@test.example")
                  + b"&gt;\r\n"
                  + sjis("宛先: ボブ &lt;") + self.s.mail_link(b"bob@test.example") + b"&gt;\r\n"
                  + b"Cc: " + self.s.mail_link(b"carol@test.example") + b"\r\n"
                  + b"Bcc: " + self.s.mail_link(b"dave@test.example") + b"\r\n"
                  + sjis("件名: " + SUBJECT) + b"\r\n<hr>")
        after = (b"<hr>" + ATTACHED_NAME + b": " + sjis(REPORT_NAME) + b"\r\n"
                 + ATTACHED_NAME + b": " + sjis(PHOTO_NAME) + b"\r\n"
                 + b'<hr><center><a href="/mail/index.html%s">%s</a>    '
                   b'<a href="/mail/sent/index.html%s">%s</a></center>'
                 % (q, sjis("受信メール一覧"), q, sjis("送信済メール一覧"))
                 + b"</pre></body></html>")
        text = sjis(widened("\r\n".join(TEXT_LINES) + "\r\n"))
        # The text may quote a received message: its markup is shown, never run.
        for raw, entity in ((b"&", b"&amp;"), (b"<", b"&lt;"), (b">", b"&gt;")):
            text = text.replace(raw, entity)
        return before, text, after

    def test_success_page(self):
        self.assertEqual(self.answer.status, b"HTTP/1.0 200 OK", self.answer.raw[:600])
        before, _, after = self.success_page()
        body = plain_head(self.answer.body)
        self.assertEqual(body[:len(before)], before, first_difference(body, before))
        self.assertEqual(body[-len(after):], after,
                         first_difference(body[::-1], after[::-1]) + " (counted from the end)")

    def test_success_page_shows_the_text_as_posted(self):
        # Escaped, kana widened by the page filter.
        before, text, after = self.success_page()
        body = plain_head(self.answer.body)
        if not (body.startswith(before) and body.endswith(after)):
            self.skipTest("page frame differs; see test_success_page")
        shown = body[len(before):len(body) - len(after)]
        self.assertEqual(shown, text, first_difference(shown, text))

    def test_header_block_in_order(self):
        head, _ = self.message_of("bob")
        got = gateway_headers(head)
        wanted = self.expected_headers()
        self.assertEqual(got, wanted, first_difference(got, wanted))

    def test_body_text_and_attachments(self):
        _, body = self.message_of("bob")
        wanted = self.expected_body()
        self.assertEqual(body, wanted, first_difference(body, wanted))
        # The attachments decode to the uploaded bytes, and every base64
        # line but the last of each is 76 characters.
        parts = body.split(b"--" + BOUNDARY)
        for part, data in ((parts[2], REPORT_DATA), (parts[3], PHOTO_DATA)):
            lines = part.split(b"\r\n\r\n", 1)[1].strip(b"\r\n").split(b"\r\n")
            self.assertTrue(all(len(x) == 76 for x in lines[:-1]), [len(x) for x in lines])
            self.assertEqual(base64.b64decode(b"".join(lines)), data)

    def test_cc_and_bcc_receive_the_same_and_see_no_bcc(self):
        bob = self.message_of("bob")
        for user in ("carol", "dave"):
            with self.subTest(user):
                head, body = self.message_of(user)
                self.assertEqual(gateway_headers(head), gateway_headers(bob[0]))
                self.assertEqual(body, bob[1])
                self.assertNotIn(b"\nBcc:", b"\n" + gateway_headers(head))
                self.assertNotIn(b"dave@", gateway_headers(head))

    def test_recipient_reads_it_through_the_gateway(self):
        self.message_of("bob")
        bob = Sender("bob")
        listing = bob.get(b"/mail/index.html")
        row = re.search(rb'<a href="/mail/a(\d{4})\.html[^"]*">\d{4}\. ' + re.escape(sjis(SUBJECT))
                        + rb"</a></font>\r\n  " + re.escape(sjis("(添付)")) + rb"  [0-9/: ]{19}  \( *\d+\)  "
                        + re.escape(sjis("送信 太郎 &lt;sender@test.example&gt;")) + rb"\r\n",
                        listing.body)
        self.assertIsNotNone(row, listing.body[:3000])
        page = bob.get(b"/mail/a%s.html" % row.group(1))
        self.assertEqual(page.status, b"HTTP/1.0 200 OK")
        self.assertTrue(page.body.rstrip().endswith(b"</html>"), page.body[-300:])
        self.assertIn(sjis("件名: " + SUBJECT), page.body)
        # Text mode on the page: the dot lines as sent, markup escaped.
        self.assertIn(sjis("\r\n".join(widened(x) for x in TEXT_LINES[:5])) + b"\r\n", page.body)
        self.assertIn(b"~\\ &amp; &lt;b&gt;not markup&lt;/b&gt;\r\n" + sjis("最後の行"), page.body)
        self.assertIn(b">" + sjis(REPORT_NAME) + b"</a>", page.body)
        files = sorted(set(re.findall(rb'(?:href|src)="(/mail/~bob/[^"]+)"', page.body)))
        got = []
        for href in files:
            path = urllib.parse.quote(href.decode("cp932"), safe="/~%!$&'()*+,;=:@-._")
            got.append(http(WORLD["port"], b"GET", path.encode()).body)
        self.assertEqual(sorted(got), sorted([REPORT_DATA, PHOTO_DATA]), files)

    def test_sent_list_shows_it(self):
        answer = self.s.get(b"/mail/sent/index.html")
        self.assertEqual(answer.status, b"HTTP/1.0 200 OK")
        entry = [b"Date: 2000/01/01 00:00:00", b"Subject: " + sjis(SUBJECT),
                 b"From: " + sjis("送信 太郎 <sender@test.example>"),
                 b"To: " + sjis("ボブ <bob@test.example>"), b"Cc: carol@test.example",
                 b"Bcc: dave@test.example", b"X-Files: " + sjis(REPORT_NAME),
                 b"X-Files: " + sjis(PHOTO_NAME), b""]
        entry += [b".." if x == "." else sjis(x) for x in TEXT_LINES] + [b"."]
        size = sum(len(x) + 2 for x in entry)
        row = (re.escape(b'<font size=+1><input type=checkbox name="delete_1">'
                         b'<a href="/mail/sent/0001.html%s">0001. %s</a></font>\r\n  %s  '
                         % (self.s.query, sjis(SUBJECT), sjis("(添付)")))
               + rb"\d{4}/\d\d/\d\d \d\d:\d\d:\d\d"
               + re.escape(b"  (%6d)  %s\r\n\r\n" % (size, sjis("ボブ &lt;bob@test.example&gt;"))))
        self.assertRegex(answer.body, row)


class PlainMessage(unittest.TestCase):
    def test_ascii_only_mail_headers_and_body(self):
        s = Sender("plain")
        before = len(WORLD["pop"].boxes.messages("bob"))
        answer = s.send(to=b"bob@test.example", subject=b"Plain subject",
                        text=b"Hello Bob,\r\n.\r\nbye")
        self.assertIn(DONE, answer.body)
        head, body = split_message(wait_for_mail("bob", before + 1)[-1])
        wanted = (b"Subject: Plain subject\r\nFrom: Plain Sender <plain@test.example>\r\n"
                  b"To: bob@test.example\r\nMIME-Version: 1.0\r\n"
                  b"Content-Type: text/plain; charset=US-ASCII\r\n"
                  b"Content-Transfer-Encoding: 7bit\r\nX-Mailer: Tarnbox Version %s\r\n"
                  % s.version[:4])
        self.assertEqual(gateway_headers(head), wanted)
        # The text ends in CR LF, and the end of data adds one more.
        self.assertEqual(body, b"Hello Bob,\r\n.\r\nbye\r\n\r\n")


class Failures(unittest.TestCase):
    def test_refused_recipient_stops_the_whole_message(self):
        s = Sender("sender")
        before = len(WORLD["pop"].boxes.messages("bob"))
        log_before = s.get(b"/mail/sent/index.html").body.count(b"<input type=checkbox")
        answer = s.send(to=b"bob@test.example, nosuchuser@test.example", subject=b"Refused",
                        text=b"nobody gets this")
        self.assertEqual(answer.status, b"HTTP/1.0 200 OK", answer.raw[:600])
        line = (b"550 5.1.1 <nosuchuser@test.example>: Recipient address rejected: "
                b"User unknown in virtual mailbox table")
        # The reply line is the server's text: shown as it came, or escaped.
        escaped = line.replace(b"<", b"&lt;").replace(b">", b"&gt;")
        block = (b"<center><font size=+1>" + SEND_ERROR + b"<br></font><br>" + ERROR_MESSAGE
                 + b"<br>")
        self.assertTrue(answer.body.startswith(block + line + b"<center>")
                        or answer.body.startswith(block + escaped + b"<center>"),
                        answer.body[:600])
        self.assertIn(b'<a href="/mail/index.html%s">' % s.query, answer.body)
        self.assertTrue(answer.body.rstrip().endswith(b"</html>"), answer.body[-200:])
        time.sleep(1)
        self.assertEqual(len(WORLD["pop"].boxes.messages("bob")), before)
        log_after = s.get(b"/mail/sent/index.html").body.count(b"<input type=checkbox")
        self.assertEqual(log_after, log_before)

    def failure_page(self, user, message, frame):
        s = Sender(user)
        answer = s.send(to=b"bob@test.example", subject=b"x", text=b"x")
        self.assertEqual(answer.status, b"HTTP/1.0 200 OK", answer.raw[:600])
        self.assertTrue(plain_head(answer.body).startswith(b"<html><body><pre>" + frame % message
                                               + b'<hr><center><a href="/mail/index.html%s">'
                                               % s.query), answer.body[:600])
        self.assertTrue(answer.body.rstrip().endswith(b"</html>"), answer.body[-200:])
        return answer

    def test_unknown_server_name_is_reported_at_once(self):
        answer = self.failure_page("lost", NO_SERVER_IN_SET_1,
                                   b"\r\n<font size=+1><center>%s\r\n\r\n</center></font>")
        self.assertLess(answer.seconds, WORKER_TIMEOUT)

    def test_refused_connection_is_reported_at_once(self):
        answer = self.failure_page("closed", NO_CONNECT,
                                   b"\r\n<font size=+1><center>%s\r\n</center></font>\r\n")
        self.assertLess(answer.seconds, WORKER_TIMEOUT)

    def test_server_that_never_greets(self):
        answer = self.failure_page("silent", STALLED,
                                   b"\r\n<font size=+1><center>%s</center></font>\r\n")
        self.assertGreaterEqual(answer.seconds, WORKER_TIMEOUT - 0.5)
        self.assertLess(answer.seconds, WORKER_TIMEOUT + 5)


if __name__ == "__main__":
    unittest.main(verbosity=2)
