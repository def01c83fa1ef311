#!/usr/bin/env python3
"""Reading benchmark: the gateway's list and message pages beside a bare POP3
client asking Dovecot the same questions, both on 127.0.0.1 in the same run.

    python3 bench/reading_bench.py /path/to/tarnbox

The bare client is the floor: the gateway cannot answer faster than the POP3
exchange it needs. First visit = the login POST, which fetches every header
(TOP n 0); second visit = GET of the list URL, which should need only STAT and
LIST. Never fails on slowness: the exit status says only whether the run
itself worked. BENCH_MESSAGES (default 1000), BENCH_USERS (default 20), BENCH_REPEAT
(default 5) and BENCH_CROWD_ROUNDS (default 5) change the sizes.
"""
import os
import random
import re
import shutil
import signal
import socket
import statistics
import sys
import tempfile
import threading
import time
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "scripts"))
sys.path.insert(0, os.path.join(ROOT, "tests", "corpus"))
import mailservers  # noqa: E402
import make_corpus  # noqa: E402
from bench_gateway import Gateway  # noqa: E402

MESSAGES = int(os.environ.get("BENCH_MESSAGES", "1000"))
USERS = int(os.environ.get("BENCH_USERS", "20"))
REPEAT = int(os.environ.get("BENCH_REPEAT", "5"))
CROWD_BOX = 100  # messages in each box of the crowd
CROWD_ROUNDS = int(os.environ.get("BENCH_CROWD_ROUNDS", "5"))
UA = (b"User-Agent: Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 "
      b"(KHTML, like Gecko) Chrome/120.0.0.0 Safari/537.36\r\n")


def say(text):
    print("[%6.1fs] %s" % (time.monotonic() - START, text), file=sys.stderr, flush=True)


START = time.monotonic()

# ------------------------------------------------------------------ messages
SUBJECTS = ["=?ISO-2022-JP?B?GyRCMnFEazw8JE5KUTk5JEskRCQkJEYbKEI=?=", "Lunch on Friday?",
            "=?UTF-8?B?6KuL5rGC5pu46YCB5LuY44Gu44GU5qGI5YaF?=", "Re: weekly report",
            "=?ISO-2022-JP?B?GyRCPVBEJUpzOXA9cRsoQg==?=", "Invoice 2024-12"]
SENDERS = ["Kenji Kato <kato@example.net>", "=?ISO-2022-JP?B?GyRCTmtMWjBsTzobKEI=?= "
           "<suzuki@example.co.jp>", "info@shop.example.com", "Pierre <pierre@example.fr>"]
BODY_JP = "会議室の変更についてご連絡します。第二会議室から第五会議室へ変更になりました。\n"


def small_message(i, rng):
    """A realistic few-KB message, Japanese or English, some with Received
    lines, as the lists of real people hold."""
    lines = rng.randint(5, 40)
    if i % 2:
        body = (BODY_JP * lines).encode("iso2022_jp")
        ctype = b"text/plain; charset=ISO-2022-JP"
    else:
        body = b"".join(b"Line %d of the weekly report: all systems nominal.\n" % k
                        for k in range(lines))
        ctype = b"text/plain; charset=us-ascii"
    received = b"".join(b"Received: from mx%d.example.net (mx%d.example.net [192.0.2.%d])\n"
                        b"\tby mail.example.jp with ESMTP id %08X\n" % (k, k, k, rng.getrandbits(32))
                        for k in range(rng.randint(1, 4)))
    return (received
            + b"Date: Tue, %d Dec 2024 %02d:%02d:00 +0900\n" % (1 + i % 28, i % 24, i % 60)
            + b"From: " + SENDERS[i % len(SENDERS)].encode() + b"\n"
            + b"To: bench@example.jp\n"
            + b"Subject: " + SUBJECTS[i % len(SUBJECTS)].encode() + b" #%d\n" % i
            + b"Message-ID: <bench.%d@example.net>\n" % i
            + b"MIME-Version: 1.0\nContent-Type: " + ctype + b"\n"
            + b"Content-Transfer-Encoding: 7bit\n\n" + body)


# ---------------------------------------------------------------- bare POP3
class Pop3:
    def __init__(self, port, user, password):
        self.s = socket.create_connection(("127.0.0.1", port), timeout=60)
        self.f = self.s.makefile("rb")
        self.line()
        self.cmd(b"USER " + user.encode())
        self.cmd(b"PASS " + password.encode())

    def line(self):
        line = self.f.readline()
        if not line.startswith(b"+OK"):
            raise RuntimeError("POP3: %r" % line)
        return line

    def cmd(self, text):
        self.s.sendall(text + b"\r\n")
        return self.line()

    def multi(self, text):
        self.cmd(text)
        out = []
        while True:
            line = self.f.readline()
            if line == b".\r\n":
                return out
            if not line:
                raise RuntimeError("POP3 closed during " + text.decode())
            out.append(line)

    def quit(self):
        self.cmd(b"QUIT")
        self.f.close()
        self.s.close()


def raw_first(port, user, password):
    """What a first visit needs at least: every header."""
    p = Pop3(port, user, password)
    count = int(p.cmd(b"STAT").split()[1])
    p.multi(b"LIST")
    for n in range(1, count + 1):
        p.multi(b"TOP %d 0" % n)
    p.quit()
    return count


def raw_first_pipelined(port, user, password):
    """The same with every TOP written at once (RFC 2449 PIPELINING)."""
    p = Pop3(port, user, password)
    count = int(p.cmd(b"STAT").split()[1])
    p.multi(b"LIST")
    p.s.sendall(b"".join(b"TOP %d 0\r\n" % n for n in range(1, count + 1)))
    for _ in range(count):
        p.line()
        while p.f.readline() != b".\r\n":
            pass
    p.quit()
    return count


def raw_second(port, user, password):
    p = Pop3(port, user, password)
    p.cmd(b"STAT")
    p.multi(b"LIST")
    p.quit()


def raw_retr(port, user, password, n):
    p = Pop3(port, user, password)
    size = sum(len(line) for line in p.multi(b"RETR %d" % n))
    p.quit()
    return size


# ------------------------------------------------------------------ gateway
# Session cookies by user, as each user's browser would keep its own.
COOKIES = {}


def user_of(path, body):
    m = re.search(rb"[?&]user=([^?&]+)", path) or re.search(rb"^/mail/~([^/]+)/", path) \
        or re.search(rb"(?:^|&)a=([^&]+)", body or b"")
    return m.group(1) if m else None


def http(port, method, path, body=None):
    raw = method + b" " + path + b" HTTP/1.0\r\n" + UA
    user = user_of(path, body)
    if user in COOKIES:
        raw += b"Cookie: " + COOKIES[user] + b"\r\n"
    if body is not None:
        raw += (b"Content-Type: application/x-www-form-urlencoded\r\n"
                b"Content-Length: %d\r\n" % len(body))
    raw += b"\r\n" + (body or b"")
    with socket.create_connection(("127.0.0.1", port), timeout=300) as s:
        s.sendall(raw)
        chunks = []
        while True:
            b = s.recv(1 << 20)
            if not b:
                break
            chunks.append(b)
    answer = b"".join(chunks)
    head = answer.partition(b"\r\n\r\n")[0]
    m = re.search(rb"\r\nSet-Cookie: ([^;\r]+)", head)
    if m and user:
        COOKIES[user] = m.group(1)
    status = answer.split(b"\r\n", 1)[0]
    if b" 200 " not in status:
        raise RuntimeError("%s %s: %r" % (method.decode(), path.decode(), answer[:300]))
    return answer.partition(b"\r\n\r\n")[2]


def login(port, user, password):
    """The login POST, which answers with the list; returns (page, query)."""
    body = b"a=" + user.encode() + b"&b=" + urllib.parse.quote(password).encode()
    page = http(port, b"POST", b"/mail/index.html", body)
    m = re.search(rb"\?user=" + re.escape(user.encode()) + rb"\?check=(\d+)", page)
    if not m:
        raise RuntimeError("no list after login of %s: %r" % (user, page[:400]))
    return page, b"?user=%s?check=%s" % (user.encode(), m.group(1))


def timed(fn, *args):
    t = time.perf_counter()
    out = fn(*args)
    return time.perf_counter() - t, out


ROWS = re.compile(rb'<input type=checkbox name="delete_a\d+"')


# -------------------------------------------------------------------- main
def main(bin_path):
    rng = random.Random(1000)
    scratch = tempfile.mkdtemp(prefix="tarnbox-bench-pop-")
    pop = gateway = None
    rows = []
    try:
        say("starting Dovecot")
        pop = mailservers.Dovecot(scratch, apop=False).start()
        # Each first visit needs a list the gateway has never seen, so each
        # repeat has its own user with the same messages.
        mail = [small_message(i, rng) for i in range(MESSAGES)]
        readers = ["reader%d" % k for k in range(REPEAT)]
        for u in readers:
            pop.add_user(u, u + "-pw")
            for m in mail:
                pop.deliver(u, m)
        say("%d users x %d messages (%.1f KB average) delivered"
            % (len(readers), MESSAGES, sum(map(len, mail)) / len(mail) / 1024))
        big_message, big_payload = make_corpus.big_attachment_message()
        pop.add_user("big", "big-pw")
        pop.deliver("big", mail[0])
        pop.deliver("big", big_message)
        # One crowd per round: each first visit needs boxes nobody listed.
        # The gateway takes 100 users; the readers and "big" are six of them.
        first_rounds = max(1, min(CROWD_ROUNDS, (100 - REPEAT - 1) // USERS))
        crowds = [["crowd%d_%02d" % (r, k) for k in range(USERS)] for r in range(first_rounds)]
        crowd = [u for c in crowds for u in c]
        for u in crowd:
            pop.add_user(u, u + "-pw")
            for m in mail[:CROWD_BOX]:
                pop.deliver(u, m)
        # Dovecot builds its index on the first session of a box; that cost
        # belongs to neither side, so every box is opened once beforehand.
        for u in readers + ["big"] + crowd:
            raw_second(pop.port, u, u + "-pw")
        for u in readers:
            raw_first(pop.port, u, u + "-pw")

        gateway = Gateway(bin_path, pop.port)
        for u in readers + crowd:
            gateway.run("users", "add", "--name", u, "--mail-address", u + "@example.jp",
                        "--id", u, "--password", u + "-pw")
        gateway.run("users", "add", "--name", "big", "--mail-address", "big@example.jp",
                    "--id", "big", "--password", "big-pw")
        gateway.start()
        say("gateway on port %d" % gateway.port)

        # ---- first and second visit of a 1,000-message list
        first, second, raw1, raw1p, raw2 = [], [], [], [], []
        queries = {}
        for u in readers:
            t, (page, query) = timed(login, gateway.port, u, u + "-pw")
            shown = len(ROWS.findall(page))
            if shown != MESSAGES:
                say("WARNING: list of %s shows %d rows, not %d" % (u, shown, MESSAGES))
            queries[u] = query
            first.append(t)
            raw1.append(timed(raw_first, pop.port, u, u + "-pw")[0])
            raw1p.append(timed(raw_first_pipelined, pop.port, u, u + "-pw")[0])
        for _ in range(REPEAT):
            for u in readers[:1]:
                second.append(timed(http, gateway.port, b"GET",
                                    b"/mail/index.html" + queries[u])[0])
                raw2.append(timed(raw_second, pop.port, u, u + "-pw")[0])
        say("first visit %.3fs, second %.3fs" % (statistics.median(first),
                                                  statistics.median(second)))
        rows.append(("list, first visit (%d msgs)" % MESSAGES, first, "TOP all", raw1, 1.3))
        rows.append(("list, first visit (%d msgs)" % MESSAGES, first, "TOP all, pipelined", raw1p,
                     2.0))
        rows.append(("list, second visit", second, "STAT+LIST", raw2, 1.5))

        # ---- a message with a 10 MiB attachment: page, then the file
        _, big_query = login(gateway.port, "big", "big-pw")
        opened, pages, files, raw_big = [], [], [], []
        for _ in range(max(3, REPEAT // 2)):
            t0 = time.perf_counter()
            page = http(gateway.port, b"GET", b"/mail/a0002.html" + big_query)
            m = re.search(rb'href="(/mail/~big/[^"]*)"', page)
            if not m:
                raise RuntimeError("no attachment link on the page: %r" % page[-600:])
            t1 = time.perf_counter()
            data = http(gateway.port, b"GET", m.group(1))
            t2 = time.perf_counter()
            opened.append(t2 - t0)
            pages.append(t1 - t0)
            files.append(t2 - t1)
            if data != big_payload:
                say("WARNING: attachment differs (%d bytes, want %d)"
                    % (len(data), len(big_payload)))
            raw_big.append(timed(raw_retr, pop.port, "big", "big-pw", 2)[0])
        rows.append(("10 MiB attachment: page+file", opened, "RETR", raw_big, 1.2))
        rows.append(("  of which the page", pages, "RETR", raw_big, None))
        rows.append(("  of which the file", files, "RETR", raw_big, None))

        # ---- twenty users at once
        def crowd_run(fn, crowd):
            """The median time of one user while every user of crowd asks at once."""
            times = [None] * len(crowd)
            errors = []
            gate = threading.Barrier(len(crowd))

            def one(k, u):
                try:
                    gate.wait()
                    times[k] = timed(fn, u)[0]
                except Exception as e:  # noqa: BLE001 - reported below
                    errors.append("%s: %s" % (u, e))
            threads = [threading.Thread(target=one, args=(k, u)) for k, u in enumerate(crowd)]
            for t in threads:
                t.start()
            for t in threads:
                t.join()
            for e in errors:
                say("WARNING: " + e)
            done = [t for t in times if t is not None]
            return statistics.median(done) if done else float("nan")

        crowd_queries = {}

        def crowd_login(u):
            crowd_queries[u] = login(gateway.port, u, u + "-pw")[1]
        # The fair floor for a crowd is a crowd of bare clients: on a small
        # machine Dovecot itself slows down under twenty sessions. One round of
        # twenty swings by a tenth from one run to the next, so the rounds
        # alternate between the gateway and the bare clients and the table
        # gives the median of the rounds' medians.
        together_first, together_second, raw_crowd_first, raw_crowd_second = [], [], [], []
        for c in crowds:
            together_first.append(crowd_run(crowd_login, c))
            raw_crowd_first.append(crowd_run(lambda u: raw_first(pop.port, u, u + "-pw"), c))
        for _ in range(CROWD_ROUNDS):
            c = crowds[0]
            together_second.append(crowd_run(
                lambda u: http(gateway.port, b"GET", b"/mail/index.html" + crowd_queries[u]), c))
            raw_crowd_second.append(crowd_run(lambda u: raw_second(pop.port, u, u + "-pw"), c))
        rows.append(("%d users at once, first (%d msgs)" % (USERS, CROWD_BOX),
                     together_first, "TOP all, %d at once" % USERS, raw_crowd_first, None))
        rows.append(("%d users at once, second" % USERS, together_second,
                     "STAT+LIST, %d at once" % USERS, raw_crowd_second, None))
        report(rows)
    finally:
        if gateway:
            gateway.stop()
        if pop:
            pop.stop()
        shutil.rmtree(scratch, ignore_errors=True)


def ms(x):
    return "%9.1f" % (x * 1000)


def report(rows):
    print()
    print("%-36s %9s %9s   %-22s %9s %7s  %s" % ("measure", "median ms", "worst ms", "baseline",
                                                 "median ms", "ratio", "target"))
    print("-" * 114)
    print("(ratio: median of the gateway over median of the bare POP3 client)")
    for name, got, base_name, base, target in rows:
        m, b = statistics.median(got), statistics.median(base)
        ratio = m / b if b else float("nan")
        verdict = ""
        if target:
            verdict = "<= %.1fx %s" % (target, "met" if ratio <= target else "MISSED")
        print("%-36s %s %s   %-22s %s %6.2fx  %s" % (name, ms(m), ms(max(got)), base_name,
                                                     ms(b), ratio, verdict))


if __name__ == "__main__":
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    # A Ctrl-C or a TERM ends the run through the finally above, which stops
    # the servers this run started and nothing else.
    signal.signal(signal.SIGTERM, lambda *_: (_ for _ in ()).throw(KeyboardInterrupt()))
    try:
        main(os.path.abspath(sys.argv[1]))
    except KeyboardInterrupt:
        print("interrupted", file=sys.stderr)
        sys.exit(130)
