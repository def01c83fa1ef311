#!/usr/bin/env python3
"""TLS benchmark: the gateway reading over POP3S beside a bare TLS client of
the same Dovecot, and beside itself over plain POP3, all in the same run.

    python3 bench/tls_bench.py /path/to/tarnbox

The bare client (Python's ssl module, certificates checked like the
gateway does) is the floor; the plain rows show what TLS itself costs the
gateway. Never fails on slowness. BENCH_MESSAGES (default 1000) and
BENCH_REPEAT (default 5) change the sizes.
"""
import os
import random
import shutil
import socket
import ssl
import statistics
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import reading_bench as rb  # noqa: E402
from reading_bench import mailservers, make_corpus, Gateway, login, http, timed  # noqa: E402

MESSAGES = int(os.environ.get("BENCH_MESSAGES", "1000"))
REPEAT = int(os.environ.get("BENCH_REPEAT", "5"))


class TlsPop3(rb.Pop3):
    """The bare client over POP3S."""
    context = None

    def __init__(self, port, user, password):
        raw = socket.create_connection(("127.0.0.1", port), timeout=60)
        self.s = self.context.wrap_socket(raw, server_hostname="127.0.0.1")
        self.f = self.s.makefile("rb")
        self.line()
        self.cmd(b"USER " + user.encode())
        self.cmd(b"PASS " + password.encode())


def with_client(cls, fn, *args):
    saved = rb.Pop3
    rb.Pop3 = cls
    try:
        return fn(*args)
    finally:
        rb.Pop3 = saved


def main(bin_path):
    rng = random.Random(995)
    scratch = tempfile.mkdtemp(prefix="tarnbox-bench-tls-")
    # Dovecot's own processes must reach the files in the folders below.
    os.chmod(scratch, 0o755)
    pop = plain = secure = None
    rows = []
    try:
        certs = mailservers.Certificates(os.path.join(scratch, "certs"))
        TlsPop3.context = ssl.create_default_context(cafile=certs.authority_file())
        rb.say("starting Dovecot with POP3S")
        pop = mailservers.Dovecot(os.path.join(scratch, "pop"), apop=False, ssl="yes",
                                  cert=certs.server()).start()
        mail = [rb.small_message(i, rng) for i in range(MESSAGES)]
        readers = ["reader%d" % k for k in range(REPEAT)]
        plain_readers = ["plain%d" % k for k in range(REPEAT)]
        for u in readers + plain_readers:
            pop.add_user(u, u + "-pw")
            for m in mail:
                pop.deliver(u, m)
        big_message, big_payload = make_corpus.big_attachment_message()
        pop.add_user("big", "big-pw")
        pop.deliver("big", mail[0])
        pop.deliver("big", big_message)
        # Dovecot's first session of a box builds its index: done beforehand.
        for u in readers + plain_readers + ["big"]:
            rb.raw_second(pop.port, u, u + "-pw")
            rb.raw_first(pop.port, u, u + "-pw")

        secure = Gateway(bin_path, pop.pop3s_port)
        shutil.copy(certs.authority_file(), os.path.join(secure.home, "mail-ca.pem"))
        secure.run("settings", "server", "pop3_security=tls", "pop3_port=%d" % pop.pop3s_port)
        plain = Gateway(bin_path, pop.port)
        for g, users in ((secure, readers + ["big"]), (plain, plain_readers)):
            for u in users:
                g.run("users", "add", "--name", u, "--mail-address", u + "@example.jp", "--id", u,
                      "--password", u + "-pw")
            g.start()

        tls_first = lambda u: with_client(TlsPop3, rb.raw_first, pop.pop3s_port, u, u + "-pw")
        tls_second = lambda u: with_client(TlsPop3, rb.raw_second, pop.pop3s_port, u, u + "-pw")
        first, raw1, plain_first, queries = [], [], [], {}
        for u, p in zip(readers, plain_readers):
            t, (page, queries[u]) = timed(login, secure.port, u, u + "-pw")
            if len(rb.ROWS.findall(page)) != MESSAGES:
                rb.say("WARNING: %s sees %d rows" % (u, len(rb.ROWS.findall(page))))
            first.append(t)
            raw1.append(timed(tls_first, u)[0])
            plain_first.append(timed(login, plain.port, p, p + "-pw")[0])
        second, raw2 = [], []
        for _ in range(REPEAT):
            second.append(timed(http, secure.port, b"GET",
                                b"/mail/index.html" + queries[readers[0]])[0])
            raw2.append(timed(tls_second, readers[0])[0])
        rows.append(("POP3S list, first visit (%d)" % MESSAGES, first, "TLS TOP all", raw1, None))
        rows.append(("  same over plain POP3", plain_first, "TLS TOP all", raw1, None))
        rows.append(("POP3S list, second visit", second, "TLS STAT+LIST", raw2, None))

        _, big_query = login(secure.port, "big", "big-pw")
        opened, raw_big = [], []
        for _ in range(max(3, REPEAT // 2)):
            t0 = time.perf_counter()
            page = http(secure.port, b"GET", b"/mail/a0002.html" + big_query)
            link = rb.re.search(rb'href="(/mail/~big/[^"]*)"', page)
            if not link:
                raise RuntimeError("no attachment link: %r" % page[-400:])
            data = http(secure.port, b"GET", link.group(1))
            opened.append(time.perf_counter() - t0)
            if data != big_payload:
                rb.say("WARNING: attachment differs")
            raw_big.append(timed(lambda: with_client(TlsPop3, rb.raw_retr, pop.pop3s_port, "big",
                                                     "big-pw", 2))[0])
        rows.append(("POP3S 10 MiB attachment: page+file", opened, "TLS RETR", raw_big, None))
        rb.report(rows)
    finally:
        for g in (secure, plain):
            if g:
                g.stop()
        if pop:
            pop.stop()
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    try:
        main(os.path.abspath(sys.argv[1]))
    except KeyboardInterrupt:
        sys.exit(130)
