#!/usr/bin/env python3
"""Many browsers on the gateway at once, with real Dovecot and Postfix.

    python3 bench/page_load.py build/tarnbox

LOAD_CLIENTS (200) browsers work for LOAD_SECONDS (60) through the pages a
person uses: top page, login, received list, one message, compose page,
sending a short mail to another user, address book, sent list, settings
page. LOAD_USERS (50) users with LOAD_MESSAGES (10) messages each are
shared by the clients as tabs of one browser (a second login would end the
first one's session); logins go to users of their own. Every answer must
be whole, with status 200 and the page it should be. The gateway's
resident memory is sampled once a second.

Prints the figures and exits 1 when any answer was wrong; latency is
reported, never judged.
"""
import os
import random
import re
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from browser import Browser, BrokenAnswer, timed  # noqa: E402
from load_world import DOMAIN, RssSampler, World, percentile  # noqa: E402

CLIENTS = int(os.environ.get("LOAD_CLIENTS", "200"))
SECONDS = float(os.environ.get("LOAD_SECONDS", "60"))
USERS = int(os.environ.get("LOAD_USERS", "50"))
MESSAGES = int(os.environ.get("LOAD_MESSAGES", "10"))
LOGIN_USERS = int(os.environ.get("LOAD_LOGIN_USERS", "20"))

# What each page must show; a login that failed or a session that was lost
# shows the top page or an error page instead.
MARK_LIST = "さんの受信メール一覧"
MARK_MESSAGE = "件名: 週次報告"
MARK_COMPOSE = 'name="send_to"'
MARK_SENT_DONE = "送信終了"
MARK_BOOK = "さんのアドレス帳"
MARK_SENT_LIST = "さんの送信済メール一覧"
MARK_SETUP = "さんの設定変更"
MARK_TOP = 'name="a"'


class WrongPage(Exception):
    pass


def expect(page, mark):
    if page.status != 200:
        raise WrongPage("%s: status %d" % (page.url, page.status))
    if mark not in page.text:
        title = re.search(r"<title>(.*?)</title>", page.text, re.S)
        body = re.sub(r"<[^>]*>", " ", page.text[page.text.find("<body"):])
        raise WrongPage("%s: no %r in the page titled %r: %r" % (
            page.url, mark, title and title.group(1).strip(), " ".join(body.split())[:300]))
    return page


def log_in(browser, login, password):
    top = expect(browser.get("/"), MARK_TOP)
    return expect(browser.submit(top.form(r"/mail/index\.html"), a=login, b=password), MARK_LIST)


class Session:
    """One user's browser, shared by its tabs: the cookies and the login
    query of the last list page it saw."""

    def __init__(self, port, login, password):
        self.login = login
        self.browser = Browser(port)
        self.list_page = log_in(self.browser, login, password)
        self.lock = threading.Lock()

    def href(self, pattern):
        with self.lock:
            href = self.list_page.link(pattern)
        if not href:
            raise WrongPage("no link %s on the list page" % pattern)
        return href

    def tab(self):
        """A browser for one request that shares the session's cookies."""
        b = Browser(self.browser.port)
        b.cookies = self.browser.cookies
        return b


class LoginPool:
    def __init__(self, logins):
        self.free = list(logins)
        self.cond = threading.Condition()

    def take(self):
        with self.cond:
            while not self.free:
                self.cond.wait()
            return self.free.pop()

    def give(self, login):
        with self.cond:
            self.free.append(login)
            self.cond.notify()


def act_top(world, session, rnd):
    expect(session.tab().get("/"), MARK_TOP)


def act_list(world, session, rnd):
    b = session.tab()
    # The list page's own address is the one its delete form posts to.
    with session.lock:
        action = session.list_page.form(r"^/mail/index\.html").action
    page = expect(b.get(action), MARK_LIST)
    with session.lock:
        session.list_page = page


def act_message(world, session, rnd):
    with session.lock:
        links = session.list_page.links
    # The delivered reports, not the short mails the run itself sends.
    rows = [h for h in links if (m := re.match(r"/mail/a(\d{4})\.html", h))
            and int(m.group(1)) <= MESSAGES]
    if not rows:
        raise WrongPage("list page of %s has no messages" % session.login)
    expect(session.tab().get(rnd.choice(rows)), MARK_MESSAGE)


def act_compose(world, session, rnd):
    expect(session.tab().get(session.href(r"^/mail/write/")), MARK_COMPOSE)


def act_send(world, session, rnd):
    b = session.tab()
    compose = expect(b.get(session.href(r"^/mail/write/")), MARK_COMPOSE)
    to = "load%02d@%s" % (rnd.randrange(USERS), DOMAIN)
    sent = b.submit(compose.form(r"/mail/write/"), send_to=to,
                    send_subject="負荷試験 %d" % rnd.randrange(10**6),
                    message="短いメールです。\nA short mail.\n")
    expect(sent, MARK_SENT_DONE)


def act_book(world, session, rnd):
    expect(session.tab().get(session.href(r"^/mail/book/")), MARK_BOOK)


def act_sent(world, session, rnd):
    expect(session.tab().get(session.href(r"^/mail/sent/")), MARK_SENT_LIST)


def act_setup(world, session, rnd):
    expect(session.tab().get(session.href(r"^/mail/setup/")), MARK_SETUP)


ACTIONS = [("top", act_top, 8), ("login", None, 6), ("list", act_list, 20),
           ("message", act_message, 20), ("compose", act_compose, 10), ("send", act_send, 6),
           ("book", act_book, 10), ("sent", act_sent, 10), ("setup", act_setup, 10)]


class Tally:
    def __init__(self):
        self.lock = threading.Lock()
        self.times = {}
        self.errors = []

    def ok(self, kind, seconds):
        with self.lock:
            self.times.setdefault(kind, []).append(seconds)

    def fail(self, kind, why):
        with self.lock:
            self.errors.append("%s: %s" % (kind, why))


def client(world, sessions, logins, index, deadline, tally):
    rnd = random.Random(index)
    session = sessions[index % len(sessions)]
    names = [a[0] for a in ACTIONS]
    weights = [a[2] for a in ACTIONS]
    fns = {a[0]: a[1] for a in ACTIONS}
    while time.monotonic() < deadline:
        kind = rnd.choices(names, weights)[0]
        t0 = time.perf_counter()
        try:
            if kind == "login":
                login = logins.take()
                try:
                    log_in(Browser(world.port), login, login + "-pw")
                finally:
                    logins.give(login)
            else:
                fns[kind](world, session, rnd)
            tally.ok(kind, time.perf_counter() - t0)
        except (BrokenAnswer, WrongPage) as e:
            tally.fail(kind, e)


def report(tally, seconds, sampler):
    every = sorted(t for ts in tally.times.values() for t in ts)
    total = len(every) + len(tally.errors)
    print("requests=%d errors=%d seconds=%.0f rate=%.1f/s p50_ms=%.1f p99_ms=%.1f max_ms=%.1f"
          % (total, len(tally.errors), seconds, total / seconds, percentile(every, 50) * 1000,
             percentile(every, 99) * 1000, (every[-1] if every else 0) * 1000))
    for kind, _, _ in ACTIONS:
        ts = sorted(tally.times.get(kind, []))
        print("  %-8s n=%5d p50_ms=%7.1f p99_ms=%7.1f" % (kind, len(ts), percentile(ts, 50) * 1000,
                                                        percentile(ts, 99) * 1000))
    print(sampler.summary())
    for e in tally.errors[:10]:
        print("  error:", e)


def main():
    bin_path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(HERE), "build",
                                                                   "tarnbox")
    users = [("load%02d" % i, "load%02d-pw" % i) for i in range(USERS)]
    login_users = [("login%02d" % i, "login%02d-pw" % i) for i in range(LOGIN_USERS)]
    world = World(bin_path, ["--max-connections", str(max(1000, CLIENTS * 2))])
    try:
        (_, setup) = timed(world.start, users + login_users, MESSAGES)
        print("world: %d users, %d messages each, ready in %.1fs" % (len(users) + len(login_users),
                                                                     MESSAGES, setup), flush=True)
        sessions = [Session(world.port, login, pw) for login, pw in users]
        logins = LoginPool([login for login, _ in login_users])
        tally = Tally()
        sampler = RssSampler(world.gateway.pid)
        sampler.start()
        deadline = time.monotonic() + SECONDS
        threads = [threading.Thread(target=client,
                                    args=(world, sessions, logins, i, deadline, tally))
                   for i in range(CLIENTS)]
        t0 = time.monotonic()
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        elapsed = time.monotonic() - t0
        time.sleep(3)  # what the gateway keeps once the crowd has gone
        sampler.stop()
        report(tally, elapsed, sampler)
        return 1 if tally.errors else 0
    finally:
        world.stop()


if __name__ == "__main__":
    sys.exit(main())
