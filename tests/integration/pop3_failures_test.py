#!/usr/bin/env python3
"""The pages a browser gets when a POP3 exchange goes wrong, byte for byte:
a server name that does not resolve, a refused connection, a refused login
(Dovecot's own -ERR text), a message that is not on the server, a server
that never greets and one that closes in the middle of the exchange.

Everything runs on 127.0.0.1; no name is ever looked up in the DNS (the
unresolvable name is refused before the resolver is asked)."""
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

BIN = os.path.abspath(sys.argv.pop(1)) if len(sys.argv) > 1 else os.environ["TARNBOX_BIN"]
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import mailservers  # noqa: E402
from gatewaytest import (plain_head,   # noqa: E402
    http_request, stop_process, wait_until_listening, without_session)

WORKER_TIMEOUT = 3
DOMAIN = "test.example"
DATE = re.compile(rb"^(Date|Last-Modified): [^\r\n]*", re.M)
LIST_TIME = re.compile(rb'<input type="hidden" value="(-?\d+)" name="list_time">')


class Gateway:
    def __init__(self, pop3_server, pop3_port, per_user_servers=False):
        self.home = tempfile.mkdtemp(prefix="tarnbox-pop3-")
        self.port = mailservers.free_port()
        self.proc = None
        self.run("init", "--http-port", str(self.port), "--smtp-server", "127.0.0.1",
                 "--pop3-server", pop3_server, "--pop3-port", str(pop3_port))
        self.run("settings", "set", "apop_changeable=1",
                 "per_user_servers=%d" % per_user_servers)

    def run(self, *args):
        r = subprocess.run([BIN, "--home", self.home, *args], capture_output=True, text=True,
                           stdin=subprocess.DEVNULL)
        if r.returncode != 0:
            raise AssertionError(f"tarnbox {' '.join(args)}: {r.returncode} {r.stderr}")
        return r.stdout

    def add_user(self, user, password, apop=False, pop3_server=None):
        self.run("users", "add", "--name", user, "--mail-address", f"{user}@{DOMAIN}",
                 "--id", user, "--password", password, *(["--apop"] if apop else []),
                 *(["--pop3-server", pop3_server] if pop3_server else []))

    def start(self):
        self.proc = subprocess.Popen(
            [BIN, "--home", self.home, "serve", "--worker-timeout", str(WORKER_TIMEOUT)],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_until_listening(self.port, self.proc)
        return self

    def stop(self):
        stop_process(self.proc)
        shutil.rmtree(self.home, ignore_errors=True)

    def request(self, raw, timeout=60):
        return http_request(self.port, raw, timeout=timeout)

    def login(self, user, password):
        """The form login of the top page (English pages). Returns the answer
        and the login query its links carry."""
        body = f"a={user}&b={password}".encode()
        answer = self.request(b"POST /mail/index.html?lang=eng HTTP/1.0\r\n"
                              b"Content-Type: application/x-www-form-urlencoded\r\n"
                              b"Content-Length: %d\r\n\r\n%s" % (len(body), body))
        m = re.search(rb"\?user=" + re.escape(user.encode()) + rb"\?check=\d+\?lang=eng", answer)
        if not m:
            raise AssertionError("no login query in the answer: %r" % answer[:800])
        return answer, m.group(0)

    def get(self, path):
        return self.request(b"GET " + path + b" HTTP/1.0\r\n\r\n")


class ScriptedPop3:
    """A POP3 server on 127.0.0.1 that plays one script per connection, in
    order: a greeting (None: it never greets) and the replies to the commands
    that follow, one each. CLOSE closes the connection; after the last reply
    it stays silent."""
    CLOSE = object()

    def __init__(self, scripts):
        self.scripts = list(scripts)
        self.commands = []
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(5)
        self.port = self.sock.getsockname()[1]
        self.stopping = False
        self.threads = []
        self.acceptor = threading.Thread(target=self._accept, daemon=True)
        self.acceptor.start()

    def _accept(self):
        while self.scripts:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            t = threading.Thread(target=self._play, args=(conn, self.scripts.pop(0)),
                                 daemon=True)
            t.start()
            self.threads.append(t)

    def _play(self, conn, script):
        greeting, replies = script
        with conn:
            if greeting is not None:
                conn.sendall(greeting)
            pending = b""
            replies = list(replies)
            conn.settimeout(0.2)
            while not self.stopping:
                try:
                    data = conn.recv(4096)
                except socket.timeout:
                    continue
                except OSError:
                    return
                if not data:
                    return
                pending += data
                while b"\r\n" in pending:
                    line, pending = pending.split(b"\r\n", 1)
                    self.commands.append(line)
                    if not replies:
                        continue
                    reply = replies.pop(0)
                    if reply is self.CLOSE:
                        return
                    conn.sendall(reply)

    def stop(self):
        self.stopping = True
        self.sock.close()
        for t in self.threads:
            t.join(timeout=5)


def mask_dates(answer):
    answer = re.sub(rb"Content-Security-Policy: [^\r]*", b"Content-Security-Policy: *", answer)
    return DATE.sub(lambda m: m.group(1) + b": *", without_session(plain_head(answer)))


def status_block():
    return (b"HTTP/1.0 200 OK\r\nReferrer-Policy: no-referrer\r\n"
            b"X-Content-Type-Options: nosniff\r\nX-Frame-Options: DENY\r\n"
            b"Content-Security-Policy: *\r\n"
            b"Date: *\r\nServer: Tarnbox 1.51\r\nConnection: close\r\n"
            b"Content-type: text/html; charset=Shift_JIS\r\nLast-Modified: *\r\n"
            b"Expires: -1\r\nPragma: no-cache\r\nCache-Control: no-store\r\n\r\n")


def compose_links(q):
    return (b'<hr><a href="/mail/write/index.html%s">Write Mail</a>    '
            b'<a href="/mail/logout/index.html%s">Finish Reading/Writing</a>' % (q, q))


def setup_links(q):
    return (b'<hr><a href="/mail/setup/index.html%s">Change Settings</a>    '
            b'<a href="/mail/book/index.html%s">Address Book</a>    '
            b'<a href="/mail/sent/index.html%s">Go to the list of mail sent</a>' % (q, q, q))


def list_link(q):
    return b'<a href="/mail/index.html%s">Go back to the list</a>' % q


def list_footer(q, list_time):
    return (b'<input type="hidden" value="%s" name="list_time">'
            b'<input type="submit" value="Delete Marked Mail">  '
            b'<input type="reset" value="Return Markings to the previous settings"></pre></form>'
            b"<center>" % list_time + compose_links(q) + setup_links(q) + b"</center>")


def unreached_page(user, q, message):
    """The page of an exchange that never got to talk to its server."""
    return (status_block() + b"<html><body><pre><center><font size=+1>List of Received Mail of "
            + user.encode() + b"</font>" + compose_links(q)
            + b'<hr><form method="post" action="/mail/index.html%s"><pre>' % q
            + b"</center><font size=-1>Mail Address %s@%s</font>\r\n" % (user.encode(),
                                                                          DOMAIN.encode())
            + message + b"<center>" + compose_links(q) + setup_links(q)
            + b"</pre></center></body></html>")


def start_gateway(test, *args, users=(), **kwargs):
    g = Gateway(*args, **kwargs)
    test.addCleanup(g.stop)
    for u in users:
        g.add_user(*u[:2], **(u[2] if len(u) > 2 else {}))
    return g.start()


WORLD = {}


def setUpModule():
    scratch = tempfile.mkdtemp(prefix="tarnbox-pop3-dovecot-")
    WORLD["scratch"] = scratch
    try:
        pop = mailservers.Dovecot(scratch).start()
        WORLD["pop"] = pop
        for user, password in (("alice", "alicepw"), ("apu", "apupw"), ("carol", "carolpw")):
            pop.add_user(user, password)
        for user in ("alice", "apu"):
            pop.deliver(user, b"From: bob@%s\nSubject: hello\nDate: Mon, 1 Jan 2024 "
                        b"09:00:00 +0900\n\nhello\n" % DOMAIN.encode())
    except BaseException:
        tearDownModule()
        raise


def tearDownModule():
    if "pop" in WORLD:
        WORLD["pop"].stop()
    shutil.rmtree(WORLD.get("scratch", "/nonexistent"), ignore_errors=True)


class UnreachedServer(unittest.TestCase):
    def test_server_name_not_found(self):
        basic = (b"\r\n<font size=+1><center>Could not find the POP3 server.\r\nCheck if the POP3 "
                 b"server name is in the basic settings.</center></font>\r\n")
        own = (b"\r\n<font size=+1><center>Could not find the POP3 server.\r\nCheck if the POP3 "
               b"server name in Settings 1 is correct.\r\n\r\n</center></font>")
        for per_user, message in ((False, basic), (True, own)):
            with self.subTest(per_user_servers=per_user):
                g = start_gateway(self, "nosuch..invalid", 110, per_user_servers=per_user,
                                  users=[("alice", "alicepw")])
                t = time.time()
                answer, q = g.login("alice", "alicepw")
                self.assertLess(time.time() - t, WORKER_TIMEOUT)  # at once, not after a wait
                self.assertEqual(mask_dates(answer), unreached_page("alice", q, message))

    def test_connection_refused(self):
        g = start_gateway(self, "127.0.0.1", mailservers.free_port(), users=[("alice", "x")])
        answer, q = g.login("alice", "x")
        self.assertEqual(mask_dates(answer), unreached_page(
            "alice", q, b"\r\n<font size=+1><center>Could not connect to the POP3 server.\r\nThe "
            b"POP3 server is down or is not responding.\r\n</center></font>\r\n"))


class DovecotRefuses(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        pop = WORLD["pop"]
        cls.g = Gateway("127.0.0.1", pop.port)
        cls.g.add_user("alice", "alicepw")
        cls.g.add_user("apu", "apupw", apop=True)
        cls.g.add_user("carol", "wrongpw")  # Dovecot knows carol as carolpw
        cls.g.start()

    @classmethod
    def tearDownClass(cls):
        cls.g.stop()

    def test_login_refused_shows_the_servers_text(self):
        answer, q = self.g.login("carol", "wrongpw")
        list_time = LIST_TIME.search(answer)
        self.assertIsNotNone(list_time)
        self.assertEqual(mask_dates(answer), status_block()
                         + b"<html><body><pre><center><font size=+1>List of Received Mail of "
                         b"carol</font>" + compose_links(q)
                         + b'<hr></center><form method="post" action="/mail/index.html%s"><pre>'
                         % q + b"Mail Address carol@test.example\r\n"
                         b"\r\n<font size=+1><center>Could not log in to the POP3 server.\r\nID "
                         b"or password is wrong or you are already logged in.</font>\r\n"
                         b"</font><br>Error message<br>[AUTH] Authentication failed.</center>\r\n"
                         + list_footer(q, list_time.group(1)) + b"</pre></body></html>")
        self.assertEqual(WORLD["pop"].logins("carol"), [])

    def test_message_not_on_the_server(self):
        pop = WORLD["pop"]
        for user, password, method in (("alice", "alicepw", "PLAIN"), ("apu", "apupw", "APOP")):
            with self.subTest(user=user):
                _, q = self.g.login(user, password)
                before = len(pop.logouts(user))
                answer = self.g.get(b"/mail/a0099.html" + q)
                self.assertEqual(mask_dates(answer), status_block()
                                 + b"<html><body><pre><center><font size=+1>The designated "
                                 b"mail is not on POP3 server.<br></font><br>Error message<br>"
                                 b"There's no message 99.\r\n<center>" + list_link(q)
                                 + compose_links(q) + setup_links(q)
                                 + b"</center></pre></body></html>")
                self.assertEqual(pop.logins(user)[-1], (user, method))
                deadline = time.time() + 5
                while len(pop.logouts(user, wait=0)) <= before and time.time() < deadline:
                    time.sleep(0.05)
                last = pop.logouts(user, wait=0)[-1]
                self.assertEqual(last["reason"], "Disconnected: Logged out")  # QUIT was sent
                self.assertEqual((last["retr_count"], last["deleted_count"]), (0, 0))


STALL = (b"\r\n<font size=+1><center>An error has occurred while connecting to the POP3 "
         b"server.</center></font>\r\n")


class MisbehavingServer(unittest.TestCase):
    def test_server_that_stalls(self):
        # Silent from the start, or silent after its greeting: either way the
        # answer is a whole page, after the worker time-out.
        greeting = b"+OK ready\r\n"
        for script, commands in (((None, []), []), ((greeting, []), [b"USER alice"])):
            with self.subTest(greets=script[0] is not None):
                server = ScriptedPop3([script])
                self.addCleanup(server.stop)
                g = start_gateway(self, "127.0.0.1", server.port, users=[("alice", "pw")])
                t = time.time()
                answer, q = g.login("alice", "pw")
                waited = time.time() - t
                self.assertGreaterEqual(waited, WORKER_TIMEOUT - 0.5)
                self.assertLess(waited, WORKER_TIMEOUT + 5)
                self.assertEqual(mask_dates(answer), unreached_page("alice", q, STALL))
                self.assertEqual(server.commands, commands)

    def test_server_that_closes_mid_exchange(self):
        greeting = b"+OK ready <1.2@test.example>\r\n"
        ok = b"+OK\r\n"
        server = ScriptedPop3([
            (greeting, [ok, ScriptedPop3.CLOSE]),  # the list after a login
            (greeting, [ok, ScriptedPop3.CLOSE]),  # a message page, same session
            (greeting, [ok, ok, b"+OK 0 0\r\n", ok]),  # the list again
        ])
        self.addCleanup(server.stop)
        g = start_gateway(self, "127.0.0.1", server.port, users=[("alice", "pw")])
        # Nothing of the page had been written when the server went: the
        # failure page is the whole answer.
        answer, q = g.login("alice", "pw")
        self.assertEqual(mask_dates(answer), unreached_page("alice", q, STALL))
        # The login holds although no list could be shown.
        answer = g.get(b"/mail/a0001.html" + q)
        self.assertEqual(mask_dates(answer), unreached_page("alice", q, STALL))
        answer = g.get(b"/mail/index.html" + q)
        self.assertIn(b"No mail received.", answer)
        self.assertEqual(server.commands, [b"USER alice", b"PASS pw"] * 3 + [b"STAT", b"QUIT"])

    def test_text_download_while_the_server_is_down(self):
        g = start_gateway(self, "127.0.0.1", mailservers.free_port(), users=[("alice", "x")])
        _, q = g.login("alice", "x")
        t = time.time()
        text = g.get(b"/mail/a0001.txt" + q)
        self.assertLess(time.time() - t, WORKER_TIMEOUT)  # at once, not after the idle time
        self.assertEqual(mask_dates(text), mask_dates(g.get(b"/mail/a0001.html" + q)))
        self.assertTrue(text.startswith(b"HTTP/1.0 200 OK\r\n"), text[:200])
        self.assertIn(b"Could not connect to the POP3 server.", text)


if __name__ == "__main__":
    unittest.main(verbosity=2)
