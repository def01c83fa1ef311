#!/usr/bin/env python3
"""Idle and slow connections must not keep a user from a page.

    python3 bench/slow_clients.py build/tarnbox

Opens SLOW_COUNT (1000) connections to a gateway on real Dovecot: a third
connect and send nothing, a third send one header byte a second and never
end the header, a third ask for a large page with a tiny receive window and
never read it. Half come from 127.0.0.1, the rest from other loopback
addresses. While they are held, a normal user (from 127.0.0.1, as a browser
on the same machine would be) logs in and loads the received list every
second for SLOW_SECONDS (20). Reports how long the list page took (median
and worst), how many pages failed, how many slow connections the gateway
still holds, and its resident memory.

Exits 1 when a list page failed or took longer than SLOW_BOUND_MS (5000);
that bound is the point of the run, not a speed figure.
"""
import os
import socket
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from browser import Browser, BrokenAnswer  # noqa: E402
from load_world import RssSampler, World, percentile  # noqa: E402
from page_load import MARK_LIST, WrongPage, expect, log_in  # noqa: E402

COUNT = int(os.environ.get("SLOW_COUNT", "1000"))
SECONDS = float(os.environ.get("SLOW_SECONDS", "20"))
BOUND_MS = float(os.environ.get("SLOW_BOUND_MS", "5000"))
OTHER_SOURCES = ["127.0.0.%d" % i for i in range(2, 12)]


def source_of(i):
    return "127.0.0.1" if i % 2 == 0 else OTHER_SOURCES[(i // 2) % len(OTHER_SOURCES)]


def open_slow(port, i, kind):
    s = socket.socket()
    if kind == "reader":
        # A window this small fills after a few segments; the page stays
        # in the gateway's send.
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1024)
    s.bind((source_of(i), 0))
    s.settimeout(5)
    s.connect(("127.0.0.1", port))
    s.setblocking(False)
    if kind == "reader":
        s.send(b"GET /big.html HTTP/1.0\r\nUser-Agent: slow\r\n\r\n")
    elif kind == "drip":
        s.send(b"G")
    return s


class Crowd:
    KINDS = ("idle", "drip", "reader")

    def __init__(self, port, count):
        self.socks = {k: [] for k in self.KINDS}
        self.refused = 0
        for i in range(count):
            kind = self.KINDS[i % 3]
            try:
                self.socks[kind].append(open_slow(port, i, kind))
            except OSError:
                self.refused += 1
        self._done = threading.Event()
        self._dripper = threading.Thread(target=self._drip, daemon=True)
        self._dripper.start()

    def _drip(self):
        header = b"ET / HTTP/1.0\r\nX-Slow: " + b"a" * 100000
        step = 0
        while not self._done.wait(1.0):
            for s in self.socks["drip"]:
                try:
                    s.send(header[step:step + 1])
                except OSError:
                    pass
            step += 1

    def still_open(self):
        """Connections of each kind the gateway still holds: idle and drip
        ones got neither an answer nor a close, readers have the start of
        their page waiting unread."""
        held = {}
        for kind, socks in self.socks.items():
            n = 0
            for s in socks:
                try:
                    b = s.recv(16, socket.MSG_PEEK)
                    n += kind == "reader" and b.startswith(b"HTTP/")
                except BlockingIOError:
                    n += kind != "reader"
                except OSError:
                    pass
            held[kind] = n
        return held

    def close(self):
        self._done.set()
        self._dripper.join()
        for socks in self.socks.values():
            for s in socks:
                s.close()


def main():
    bin_path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(HERE), "build",
                                                                   "tarnbox")
    world = World(bin_path)
    try:
        world.start([("reader", "reader-pw")], 20)
        os.makedirs(os.path.join(world.home, "html"), exist_ok=True)
        with open(os.path.join(world.home, "html", "big.html"), "wb") as f:
            # Larger than a loopback socket buffers, so a reader's page holds
            # its thread in the send.
            f.write(b"<html><body><pre>" + (b"x" * 1023 + b"\n") * 8192 + b"</pre></body></html>")
        sampler = RssSampler(world.gateway.pid)
        sampler.start()
        user = Browser(world.port, timeout=30)
        list_url = log_in(user, "reader", "reader-pw").form(r"^/mail/index\.html").action
        t0 = time.monotonic()
        crowd = Crowd(world.port, COUNT)
        opened = time.monotonic() - t0
        times, failures = [], []
        first = 0.0
        end = time.monotonic() + SECONDS
        while time.monotonic() < end:
            t = time.perf_counter()
            try:
                expect(user.get(list_url), MARK_LIST)
                times.append(time.perf_counter() - t)
                if len(times) == 1:
                    first = times[0]
            except (BrokenAnswer, WrongPage) as e:
                failures.append("at %.1fs: %s" % (time.monotonic() - t0, str(e)[:200]))
            time.sleep(max(0.0, 1.0 - (time.perf_counter() - t)))
        held = crowd.still_open()
        crowd.close()
        sampler.stop()
        times.sort()
        worst = times[-1] * 1000 if times else 0
        print("slow connections: %d opened in %.1fs (%d refused at connect); still held at the "
              "end: %s" % (COUNT - crowd.refused, opened, crowd.refused, held))
        print("list page while held: n=%d failed=%d p50_ms=%.1f max_ms=%.1f first_ms=%.1f "
              "bound_ms=%.0f" % (len(times), len(failures), percentile(times, 50) * 1000, worst,
                                 first * 1000, BOUND_MS))
        print(sampler.summary())
        for f in failures[:5]:
            print("  failure:", f)
        return 1 if failures or worst > BOUND_MS else 0
    finally:
        world.stop()


if __name__ == "__main__":
    sys.exit(main())
