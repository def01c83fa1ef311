#!/usr/bin/env python3
"""The received-mail list with all three settings sets on one page, against
Dovecot on loopback.

The administration command line registers only Settings 1 of a user, so this
test writes the user slots itself, in the data file's slot layout, before the
gateway starts: each set gets its own POP3 user name, password, mail address
and server name (per-user servers on; the port is the basic setting's for
every set). A set whose server is 127.0.0.2 meets a closed port (Dovecot
listens on 127.0.0.1 only); a set with a wrong password meets Dovecot's login
refusal. Pages are compared as the Shift_JIS bytes a browser receives.
"""
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse

BIN = os.path.abspath(sys.argv.pop(1)) if len(sys.argv) > 1 else os.environ["TARNBOX_BIN"]
sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import mailservers  # noqa: E402
from gatewaytest import http_request, stop_process, wait_until_listening  # noqa: E402

UA = b"User-Agent: Mozilla/5.0 (X11; Linux x86_64; rv:121.0) Gecko/20100101 Firefox/121.0\r\n"
GATEWAY_TZ = "JST-9"


def sjis(text):
    return text.encode("cp932")


MAIL_ADDRESS = sjis("メールアドレス")
NO_MAIL = sjis("受信メールはありません")
NO_CONNECT = sjis("POP3 サーバーに接続できませんでした。\r\n"
                  "POP3 サーバーがダウンしているか、応答していないようです。")
NO_LOGIN = sjis("POP3 サーバーにログインできませんでした。\r\n"
                "ID や パスワードが違うか、すでにログインしています。")
NO_SERVER_IN_SET_2 = sjis("POP3 サーバーが見つかりませんでした。\r\n"
                          "設定2 の POP3 サーバー名が正しいか確認してください。")
ERROR_MESSAGE = sjis("エラーメッセージ")


# --- The user slot of the data file, written the way the gateway reads it ---

DATA_HEADER = 800
SLOT_SIZE = 4000


def xor_sum(data):
    x = 0
    for b in data:
        x ^= b
    return x or 0x78


def rolling(data, key, step):
    step = 0x55 if step == 0x80 else step
    out = bytearray()
    for b in data:
        out.append(b ^ key)
        key = (key + step) & 0xFF
    return bytes(out)


class SlotWriter:
    """Items go downwards from the slot's last byte, each directly below the
    previous one; a string's characters run downwards after its length."""

    def __init__(self, file_key):
        self.slot = bytearray(os.urandom(SLOT_SIZE))
        self.q = SLOT_SIZE - 1
        self.key = file_key
        self.step = 0x78

    def down(self, data):
        for b in data:
            self.slot[self.q] = b
            self.q -= 1

    def fixed_string(self, s):
        self.down(bytes([len(s)]) + bytes(b ^ self.key for b in s))

    def rolling_string(self, s, long_length=False):
        head = bytes([len(s) & 0xFF, len(s) >> 8]) if long_length else bytes([len(s)])
        self.down(head + rolling(s, self.key, self.step))

    def word16(self, v):
        self.down(bytes([v & 0xFF, v >> 8]))


def default_options(cc=False, bcc=False):
    options = bytearray(30)
    options[1], options[2], options[3], options[7], options[11] = 10, 80, 1, 1, 1
    options[4], options[5] = int(cc), int(bcc)
    return bytes(options)


def write_user_slot(data_file, position, sets, options):
    """sets: three dicts (id, password, name, mail_address, smtp_name,
    pop3_name, port) of Shift_JIS bytes; an empty dict is an unused set."""
    with open(data_file, "r+b") as f:
        header = f.read(DATA_HEADER)
        writer = SlotWriter(xor_sum(header[:header[794]]))
        for s in sets:
            writer.fixed_string(s.get("id", b""))
            writer.step = xor_sum(s.get("id", b""))
            for field in ("password", "name", "mail_address", "smtp_name"):
                writer.rolling_string(s.get(field, b""))
            writer.word16(s.get("port", 0))
            writer.rolling_string(s.get("pop3_name", b""))
            writer.word16(s.get("port", 0))
            writer.rolling_string(b"", long_length=True)  # signature
            writer.rolling_string(b"")  # quotation
            writer.down(b"\0")  # no address book
            writer.rolling_string(b"")
            writer.rolling_string(b"")
            writer.down(bytes([int(s.get("apop", 0)), 0, 0]))
        writer.q -= 1
        for j, b in enumerate(rolling(options, writer.key, writer.step)):
            writer.slot[writer.q - j] = b
        f.seek(DATA_HEADER + SLOT_SIZE * position)
        f.write(writer.slot)


# --- Pages ---

class Answer:
    def __init__(self, raw):
        self.raw = raw
        head, _, self.body = raw.partition(b"\r\n\r\n")
        self.status = head.split(b"\r\n")[0]


def http(port, method, path, body=None):
    raw = method + b" " + path + b" HTTP/1.0\r\n" + UA
    if body is not None:
        raw += (b"Content-Type: application/x-www-form-urlencoded\r\n"
                b"Content-Length: %d\r\n" % len(body))
    return Answer(http_request(port, raw + b"\r\n" + (body or b""), timeout=60))


def on_wire_size(message):
    return len(message.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n"))


def message(n, subject, sender):
    return (b"From: %s\nTo: someone@test.example\nSubject: %s\n"
            b"Date: 0%d Dec 2024 10:%02d:00 +0900\nMessage-Id: <%s.%d@test.example>\n\n"
            b"Body of %s.\n" % (sender, subject, n % 9 + 1, n, subject.replace(b" ", b"-"), n,
                                subject))


def row(letter, n, msg, query):
    subject = re.search(rb"^Subject: (.*)$", msg, re.M).group(1)
    sender = re.search(rb"^From: (.*)$", msg, re.M).group(1)
    day, minute = re.search(rb"^Date: 0(\d) Dec 2024 10:(\d\d)", msg, re.M).groups()
    date = b"2024/12/0%s 10:%s:00" % (day, minute)
    return (b'<a name="%s%04d"><font size=+1><input type=checkbox name="delete_%s%d" >'
            b'<a href="/mail/%s%04d.html%s">%04d. %s</a></font>\r\n'
            % (letter, n, letter, n, letter, n, query, n, subject)
            + b"  " + b" " * 6 + b"  %s  (%6d)  %s\r\n\r\n" % (date, on_wire_size(msg),
                                                 sender.replace(b"<", b"&lt;").replace(
                                                     b">", b"&gt;")))


def list_region(page):
    """From the first mail-address heading to the hidden list_time field:
    every section with its rows and statuses."""
    start = page.find(b"<pre>" + MAIL_ADDRESS)
    end = page.find(b'<input type="hidden"', start)
    if start < 0 or end < 0:
        raise AssertionError("no list on the page: %r" % page[:800])
    return page[start:end]


def heading(address, first=False):
    return (b"<pre>" if first else b"<hr>") + MAIL_ADDRESS + b" " + address + b"\r\n"


WORLD = {}
MAILBOXES = {}  # POP3 user -> messages in delivery order


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def deliver(user, msg):
    WORLD["pop"].deliver(user, msg)
    MAILBOXES.setdefault(user, []).append(msg)


# Gateway users: login name -> their three sets (POP3 user, password as the
# gateway stores it, server). Dovecot knows the right passwords of all of them.
POP_USERS = {"merger": "m-pw", "merger2": "m2-pw", "merger3": "m3-pw", "broken": "b-pw",
             "refused": "r-pw", "wrongpw": "w-pw", "lost": "l-pw", "nowhere": "n-pw"}
GATEWAY_USERS = {
    "merger": [("merger", "m-pw", b"127.0.0.1"), ("merger2", "m2-pw", b"127.0.0.1"),
               ("merger3", "m3-pw", b"127.0.0.1")],
    "broken": [("broken", "b-pw", b"127.0.0.1"), ("refused", "r-pw", b"127.0.0.2"),
               ("wrongpw", "not-the-password", b"127.0.0.1")],
    "lost": [("lost", "l-pw", b"127.0.0.1"), ("nowhere", "n-pw", b"nosuch..invalid"), None],
}


def address(pop_user):
    return pop_user.encode() + b"@test.example"


def setUpModule():
    scratch = tempfile.mkdtemp(prefix="tarnbox-merged-pop-")
    WORLD["scratch"] = scratch
    try:
        pop = mailservers.Dovecot(scratch).start()
        WORLD["pop"] = pop
        for user, password in POP_USERS.items():
            pop.add_user(user, password)
        for n in range(1, 3):
            deliver("merger", message(n, b"First set %d" % n, b"Ann <ann@example.net>"))
        deliver("merger2", message(3, b"Second set 1", b"bob@example.net"))
        for n in range(1, 4):
            deliver("merger3", message(3 + n, b"Third set %d" % n, b"Cy <cy@example.net>"))
        deliver("broken", message(7, b"Still here", b"dee@example.net"))

        home = tempfile.mkdtemp(prefix="tarnbox-merged-")
        WORLD["home"] = home
        port = free_port()
        WORLD["port"] = port

        def tarnbox(*args):
            r = subprocess.run([BIN, "--home", home, *args], capture_output=True, text=True,
                               stdin=subprocess.DEVNULL)
            if r.returncode != 0:
                raise AssertionError(f"tarnbox {' '.join(args)}: {r.returncode} {r.stderr}")

        tarnbox("init", "--http-port", str(port), "--smtp-server", "127.0.0.1",
                "--pop3-server", "127.0.0.1", "--pop3-port", str(pop.port))
        tarnbox("settings", "set", "multiple_addresses=1", "per_user_servers=1")
        data_file = os.path.join(home, "tarnbox.dat")
        for position, (login, sets) in enumerate(GATEWAY_USERS.items()):
            # Registered through the command line first, so that the file
            # holds as many slots as users; then the slot gets all three sets.
            tarnbox("users", "add", "--name", login, "--mail-address", login + "@test.example",
                    "--id", login, "--password", POP_USERS[login])
            slot_sets = []
            for entry in sets:
                if entry is None:
                    slot_sets.append({})
                    continue
                pop_user, password, server = entry
                slot_sets.append({"id": pop_user.encode(), "password": password.encode(),
                                  "name": pop_user.encode(), "mail_address": address(pop_user),
                                  "smtp_name": b"127.0.0.1", "pop3_name": server,
                                  "port": pop.port})
            write_user_slot(data_file, position, slot_sets, default_options())

        proc = subprocess.Popen([BIN, "--home", home, "serve", "--worker-timeout", "10"],
                                env=dict(os.environ, TZ=GATEWAY_TZ), stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        WORLD["proc"] = proc
        wait_until_listening(port, proc)
    except BaseException:
        tearDownModule()
        raise


def tearDownModule():
    stop_process(WORLD.get("proc"))
    if "pop" in WORLD:
        WORLD["pop"].stop()
    for key in ("home", "scratch"):
        if key in WORLD:
            shutil.rmtree(WORLD[key], ignore_errors=True)


def login(user):
    body = b"a=%s&b=%s" % (user.encode(), urllib.parse.quote(POP_USERS[user]).encode())
    answer = http(WORLD["port"], b"POST", b"/mail/index.html", body)
    m = re.search(rb"\?user=" + re.escape(user.encode()) + rb"\?check=(\d+)", answer.body)
    if not m:
        raise AssertionError("no login query after login as %s: %r" % (user, answer.raw[:800]))
    return answer, b"?user=%s?check=%s" % (user.encode(), m.group(1))


def rows(letter, pop_user, query):
    return b"".join(row(letter, n, msg, query)
                    for n, msg in enumerate(MAILBOXES.get(pop_user, []), 1))


class MergedList(unittest.TestCase):
    def assert_complete(self, answer):
        self.assertEqual(answer.status, b"HTTP/1.0 200 OK")
        self.assertTrue(answer.body.rstrip().endswith(b"</html>"), answer.body[-300:])

    def test_three_reachable_sets_each_with_their_rows(self):
        started = time.time()
        answer, query = login("merger")
        self.assert_complete(answer)
        expected = (heading(address("merger"), first=True) + rows(b"a", "merger", query)
                    + heading(address("merger2")) + rows(b"b", "merger2", query)
                    + heading(address("merger3")) + rows(b"c", "merger3", query))
        self.assertEqual(list_region(answer.body), expected)
        # The three exchanges run side by side, not one after another.
        self.assertLess(time.time() - started, 5)

        # New mail in the third set only: its section grows, the others come
        # from the kept lists unchanged.
        deliver("merger3", message(8, b"Third set 4", b"Cy <cy@example.net>"))
        answer = http(WORLD["port"], b"GET", b"/mail/index.html" + query)
        self.assert_complete(answer)
        expected = (heading(address("merger"), first=True) + rows(b"a", "merger", query)
                    + heading(address("merger2")) + rows(b"b", "merger2", query)
                    + heading(address("merger3")) + rows(b"c", "merger3", query))
        self.assertEqual(list_region(answer.body), expected)

    def test_refused_connection_and_refused_login_in_their_sections(self):
        answer, query = login("broken")
        self.assert_complete(answer)
        expected = (heading(address("broken"), first=True) + rows(b"a", "broken", query)
                    + heading(address("refused"))
                    + b"\r\n<font size=+1><center>" + NO_CONNECT + b"</center></font>\r\n"
                    + heading(address("wrongpw"))
                    + b"\r\n<font size=+1><center>" + NO_LOGIN + b"\r\n</font>" + ERROR_MESSAGE
                    + b"\r\n[AUTH] Authentication failed.</center>\r\n")
        self.assertEqual(list_region(answer.body), expected)
        # The form still ends the page after the failed sections.
        self.assertIn(b'name="list_time"><input type="submit"', answer.body)

    def test_unknown_server_name_and_unused_third_set(self):
        answer, query = login("lost")
        self.assert_complete(answer)
        expected = (heading(address("lost"), first=True)
                    + b"<center>\r\n<font size=+1>" + NO_MAIL + b"\r\n</font>\r\n</center>"
                    + heading(address("nowhere"))
                    + b"\r\n<font size=+1><center>" + NO_SERVER_IN_SET_2
                    + b"\r\n\r\n</center></font>")
        self.assertEqual(list_region(answer.body), expected)

        # English takes the server kind twice before the set number.
        answer = http(WORLD["port"], b"GET", b"/mail/index.html" + query + b"?lang=eng")
        self.assert_complete(answer)
        self.assertIn(b"<hr>Mail Address nowhere@test.example\r\n\r\n<font size=+1><center>"
                      b"Could not find the POP3 server.\r\nCheck if the POP3 server name in "
                      b"Settings 2 is correct.\r\n\r\n</center></font><input type=\"hidden\"",
                      answer.body)


if __name__ == "__main__":
    unittest.main(verbosity=2)
