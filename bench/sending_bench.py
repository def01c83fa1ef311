#!/usr/bin/env python3
"""Sending benchmark: a message with a 10 MiB attachment posted through the
gateway, beside a bare SMTP client handing the very same DATA bytes to the
same Postfix; then a crowd of users sending at once. All on 127.0.0.1.

    python3 bench/sending_bench.py /path/to/tarnbox

The bare client is the floor: the gateway cannot hand a message over faster
than one SMTP exchange that already has the finished bytes. Its DATA bytes are
those the gateway's first send delivered, taken from the Maildir, so both
sides send the same message. Never fails on slowness: the exit status says
only whether the run itself worked. BENCH_REPEAT (default 5), BENCH_USERS
(default 20), BENCH_ATTACHMENT_MIB (default 10) and BENCH_CROWD_KB (size of
each crowd member's attachment, default 64) change the sizes.
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
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(ROOT, "scripts"))
import mailservers  # noqa: E402
from bench_gateway import Gateway  # noqa: E402

REPEAT = int(os.environ.get("BENCH_REPEAT", "5"))
USERS = int(os.environ.get("BENCH_USERS", "20"))
ATTACHMENT = int(float(os.environ.get("BENCH_ATTACHMENT_MIB", "10")) * (1 << 20))
CROWD_ATTACHMENT = int(os.environ.get("BENCH_CROWD_KB", "64")) * 1024
UA = b"User-Agent: Mozilla/5.0 (X11; Linux x86_64; rv:121.0) Gecko/20100101 Firefox/121.0\r\n"
BOUNDARY = b"---------------------------9051914041544843365972754266"
DONE = "送信終了".encode("cp932")
TEXT = ("お世話になっております。\r\n資料を添付いたしますので、ご確認ください。\r\n"
        "よろしくお願いいたします。\r\n").encode("cp932") * 3
START = time.monotonic()


def say(text):
    print("[%6.1fs] %s" % (time.monotonic() - START, text), file=sys.stderr, flush=True)


# ------------------------------------------------------------------ gateway
def exchange(port, raw, marker=None):
    """Sends raw and reads until the gateway closes. Returns the answer, the
    seconds until marker first arrived (None if it never did) and the
    seconds until the close."""
    t0 = time.perf_counter()
    seen = None
    chunks = []
    with socket.create_connection(("127.0.0.1", port), timeout=300) as s:
        s.sendall(raw)
        tail = b""
        while True:
            b = s.recv(1 << 20)
            if not b:
                break
            chunks.append(b)
            if marker and seen is None and marker in tail + b:
                seen = time.perf_counter() - t0
            tail = b[-64:]
    return b"".join(chunks), seen, time.perf_counter() - t0


def login(port, user, password):
    body = b"a=%s&b=%s" % (user.encode(), urllib.parse.quote(password).encode())
    raw = (b"POST /mail/index.html HTTP/1.0\r\n" + UA
           + b"Content-Type: application/x-www-form-urlencoded\r\nContent-Length: %d\r\n\r\n"
           % len(body) + body)
    page = exchange(port, raw)[0]
    m = re.search(rb"\?user=" + re.escape(user.encode()) + rb"\?check=(\d+)", page)
    if not m:
        raise RuntimeError("no login query after login of %s: %r" % (user, page[:400]))
    query = b"?user=%s?check=%s" % (user.encode(), m.group(1))
    # The session's cookie and form token, as the user's browser keeps them.
    cookie = re.search(rb"\r\nSet-Cookie: ([^;\r]+)", page)
    token = re.search(rb'name="csrf" value="([0-9a-f]{32})"', page)
    SESSIONS[query] = (cookie.group(1) if cookie else b"", token.group(1) if token else b"")
    return query


SESSIONS = {}


def compose_post(query, to, subject, text, name, data):
    cookie, token = SESSIONS.get(query, (b"", b""))
    fields = [(b"csrf", token), (b"send_to", to), (b"send_subject", subject), (b"message", text)]
    body = b"".join(b'--%s\r\nContent-Disposition: form-data; name="%s"\r\n\r\n%s\r\n'
                    % (BOUNDARY, k, v) for k, v in fields)
    body += (b'--%s\r\nContent-Disposition: form-data; name="upload1"; filename="%s"\r\n'
             b"Content-Type: application/octet-stream\r\n\r\n" % (BOUNDARY, name)
             + data + b"\r\n--%s--\r\n" % BOUNDARY)
    return (b"POST /mail/write/index.html%s HTTP/1.0\r\n" % query + UA
            + (b"Cookie: " + cookie + b"\r\n" if cookie else b"")
            + b"Content-Type: multipart/form-data; boundary=%s\r\nContent-Length: %d\r\n\r\n"
            % (BOUNDARY, len(body)) + body)


def gateway_send(port, post):
    """Seconds to the success page and to the end of the answer."""
    answer, to_page, total = exchange(port, post, DONE)
    if to_page is None:
        raise RuntimeError("no success page: %r" % answer[:600])
    return to_page, total


# --------------------------------------------------------------- bare SMTP
def smtp_send(port, sender, recipient, data):
    """One plain exchange, HELO to QUIT, with data already dot-stuffed and
    ending in CR LF."""
    with socket.create_connection(("127.0.0.1", port), timeout=300) as s:
        f = s.makefile("rb")

        def reply(expect):
            line = f.readline()
            if not line.startswith(expect):
                raise RuntimeError("SMTP: %r" % line)

        reply(b"220")
        for command, expect in ((b"HELO 127.0.0.1", b"250"), (b"MAIL FROM: <%s>" % sender, b"250"),
                                (b"RCPT TO: <%s>" % recipient, b"250"), (b"DATA", b"354")):
            s.sendall(command + b"\r\n")
            reply(expect)
        s.sendall(data)
        s.sendall(b".\r\n")
        reply(b"250")
        s.sendall(b"QUIT\r\n")
        reply(b"221")


def dot_stuffed(message):
    lines = message.split(b"\r\n")
    return b"\r\n".join(b"." + x if x.startswith(b".") else x for x in lines)


def delivered_data(boxes, user):
    """The newest message of user as the gateway sent it: Postfix's trace
    fields above and its Message-Id/Date below the header block removed."""
    files = boxes.messages(user)
    with open(files[-1], "rb") as f:
        raw = f.read().replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
    head, _, body = raw.partition(b"\r\n\r\n")
    lines = re.split(rb"\r\n(?![ \t])", head)
    ours = [x for x in lines
            if not re.match(rb"(Return-Path|X-Original-To|Delivered-To|Received):", x)
            and not re.match(rb"Message-Id: <[^>]*@mail\.|Date: ", x)]
    return b"\r\n".join(ours) + b"\r\n\r\n" + body


def wait_for(boxes, user, count, seconds=120):
    deadline = time.time() + seconds
    while len(boxes.messages(user)) < count:
        if time.time() > deadline:
            raise RuntimeError("%s: %d of %d messages delivered"
                               % (user, len(boxes.messages(user)), count))
        time.sleep(0.05)


def empty_box(boxes, user):
    for path in boxes.messages(user):
        os.remove(path)


def timed(fn, *args):
    t = time.perf_counter()
    fn(*args)
    return time.perf_counter() - t


# -------------------------------------------------------------------- main
def main(bin_path):
    rng = random.Random(2024)
    scratch = tempfile.mkdtemp(prefix="tarnbox-sbench-mail-")
    pop = smtp = gateway = None
    rows = []
    try:
        say("starting Dovecot and Postfix")
        pop = mailservers.Dovecot(scratch, apop=False).start()
        smtp = mailservers.Postfix(scratch)
        # Postfix refuses messages over 10,240,000 bytes by default; a 10 MiB
        # file is some 14 MB as base64.
        main_cf = os.path.join(smtp.etc, "main.cf")
        with open(main_cf, "a") as f:
            f.write("message_size_limit = 209715200\nvirtual_mailbox_limit = 0\n")
        past = time.time() - 60
        os.utime(main_cf, (past, past))
        senders = ["sender%02d" % k for k in range(max(USERS, 1))]
        for u in senders:
            pop.add_user(u, u + "-pw")
        smtp.add_user("sink")
        smtp.add_user("rawsink")
        smtp.start()

        gateway = Gateway(bin_path, pop.port, smtp_port=smtp.port)
        for u in senders:
            gateway.run("users", "add", "--name", u, "--mail-address", u + "@test.example",
                        "--id", u, "--password", u + "-pw")
        gateway.start()
        say("gateway on port %d, Postfix on %d" % (gateway.port, smtp.port))

        # ---- one message with a big attachment
        big = rng.randbytes(ATTACHMENT)
        query = login(gateway.port, senders[0], senders[0] + "-pw")
        post = compose_post(query, b"sink@test.example", "資料の送付".encode("cp932"), TEXT,
                            "資料.bin".encode("cp932"), big)
        # One send that is not timed: it gives the bare client its bytes.
        gateway_send(gateway.port, post)
        wait_for(smtp.boxes, "sink", 1)
        data = dot_stuffed(delivered_data(smtp.boxes, "sink"))
        empty_box(smtp.boxes, "sink")
        say("%d MiB attachment: %d DATA bytes" % (ATTACHMENT >> 20, len(data)))
        through, to_page, bare = [], [], []
        for k in range(REPEAT):
            page, total = gateway_send(gateway.port, post)
            through.append(total)
            to_page.append(page)
            bare.append(timed(smtp_send, smtp.port, b"sender00@test.example",
                              b"rawsink@test.example", data))
            # Deliveries run behind the 250; let them finish before the next
            # round so that neither side pays for the other's disk writes.
            wait_for(smtp.boxes, "sink", k + 1)
            wait_for(smtp.boxes, "rawsink", k + 1)
        empty_box(smtp.boxes, "sink")
        empty_box(smtp.boxes, "rawsink")
        # The same post with a recipient the address check refuses: the
        # upload is received and stored, and no SMTP exchange follows. Tells
        # the share of the HTTP side in the times above.
        refused = compose_post(query, b"t@localhost", b"x", TEXT, b"x.bin", big)
        upload_only = []
        for _ in range(REPEAT):
            answer, _, seconds = exchange(gateway.port, refused)
            if "宛先を正しく入力して下さい".encode("cp932") not in answer:
                say("WARNING: the refused post was not refused: %r" % answer[:300])
            upload_only.append(seconds)
        label = "%g MiB attachment" % (ATTACHMENT / (1 << 20))
        rows.append((label + ", whole answer", through, "bare SMTP", bare, 1.2))
        rows.append((label + ", to the success page", to_page, "bare SMTP", bare, None))
        rows.append(("  same post, upload only (no SMTP)", upload_only, "bare SMTP", bare, None))

        # ---- a crowd sending at once
        if USERS:
            small = rng.randbytes(CROWD_ATTACHMENT)
            posts = {}
            for u in senders[:USERS]:
                posts[u] = compose_post(login(gateway.port, u, u + "-pw"), b"sink@test.example",
                                        ("週報 " + u).encode("cp932"), TEXT, b"report.pdf", small)
            times = [None] * USERS
            errors = []
            gate = threading.Barrier(USERS)

            def one(k, u):
                try:
                    gate.wait()
                    times[k] = gateway_send(gateway.port, posts[u])
                except Exception as e:  # noqa: BLE001 - reported below
                    errors.append("%s: %s" % (u, e))
            threads = [threading.Thread(target=one, args=(k, u))
                       for k, u in enumerate(senders[:USERS])]
            for t in threads:
                t.start()
            for t in threads:
                t.join()
            for e in errors:
                say("WARNING: " + e)
            done = [t for t in times if t is not None]
            wait_for(smtp.boxes, "sink", len(done))
            if done:
                rows.append(("%d users at once (%d KiB file), success page"
                             % (USERS, CROWD_ATTACHMENT >> 10), [t[0] for t in done],
                             "", None, None))
        report(rows)
    finally:
        if gateway:
            gateway.stop()
        if smtp:
            smtp.stop()
        if pop:
            pop.stop()
        shutil.rmtree(scratch, ignore_errors=True)


def ms(x):
    return "%9.1f" % (x * 1000)


def report(rows):
    print()
    print("%-44s %9s %9s   %-10s %9s %7s  %s" % ("measure", "median ms", "worst ms", "baseline",
                                                 "median ms", "ratio", "target"))
    print("-" * 108)
    print("(ratio: median of the gateway over median of the bare SMTP client)")
    for name, got, base_name, base, target in rows:
        m = statistics.median(got)
        if not base:
            print("%-44s %s %s" % (name, ms(m), ms(max(got))))
            continue
        b = statistics.median(base)
        ratio = m / b if b else float("nan")
        verdict = ""
        if target:
            verdict = "<= %.1fx %s" % (target, "met" if ratio <= target else "MISSED")
        print("%-44s %s %s   %-10s %s %6.2fx  %s" % (name, ms(m), ms(max(got)), base_name, ms(b),
                                                     ratio, verdict))


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
