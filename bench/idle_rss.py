#!/usr/bin/env python3
"""Resident memory of a server holding many idle connections.

Opens COUNT connections to 127.0.0.1:PORT that never send a byte, samples the
resident set of the server process (and, with --children, of every process
it started, as nginx's workers) before and while they are held, then checks
that the server still holds them open rather than having answered or closed
them. The gateway drops clients that do not finish a request within its
request timeout (60 s by default), so the whole measurement takes a few
seconds.

Prints one line:
RESULT before_kb=.. during_kb=.. opened=.. alive=.. closed=.. answered=.. threads_before=.. threads_during=..
"""
import argparse
import os
import socket
import sys
import time


def status_field(pid, name):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith(name + ":"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def children(pid):
    kids = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                stat = f.read()
        except OSError:
            continue
        # The command name may hold spaces or parentheses; fields after the
        # last ')' are fixed: state, then the parent's pid.
        rest = stat[stat.rfind(")") + 2:].split()
        if len(rest) > 1 and int(rest[1]) == pid:
            kids.append(int(entry))
    return kids


def sample(pid, with_children):
    pids = [pid] + (children(pid) if with_children else [])
    rss = sum(status_field(p, "VmRSS") for p in pids)
    threads = sum(status_field(p, "Threads") for p in pids)
    return rss, threads


def settle(pid, with_children, seconds):
    """Largest RSS seen over a short window: accepting 500 connections and
    starting their threads takes a moment on a loaded machine."""
    best = (0, 0)
    end = time.monotonic() + seconds
    while True:
        s = sample(pid, with_children)
        best = (max(best[0], s[0]), max(best[1], s[1]))
        if time.monotonic() >= end:
            return best
        time.sleep(0.25)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--port", type=int, required=True)
    ap.add_argument("--pid", type=int, required=True)
    ap.add_argument("--count", type=int, default=500)
    ap.add_argument("--children", action="store_true")
    ap.add_argument("--settle", type=float, default=2.0)
    a = ap.parse_args()

    before_kb, threads_before = sample(a.pid, a.children)
    socks = []
    for _ in range(a.count):
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.settimeout(5)
        try:
            s.connect(("127.0.0.1", a.port))
        except OSError as e:
            print(f"connect failed after {len(socks)}: {e}", file=sys.stderr)
            s.close()
            break
        socks.append(s)

    during_kb, threads_during = settle(a.pid, a.children, a.settle)

    alive = closed = answered = 0
    for s in socks:
        s.setblocking(False)
        try:
            data = s.recv(256)
            if data:
                answered += 1
            else:
                closed += 1
        except BlockingIOError:
            alive += 1
        except OSError:
            closed += 1
    for s in socks:
        s.close()
    print(f"RESULT before_kb={before_kb} during_kb={during_kb} opened={len(socks)} "
          f"alive={alive} closed={closed} answered={answered} "
          f"threads_before={threads_before} threads_during={threads_during}")


if __name__ == "__main__":
    main()
