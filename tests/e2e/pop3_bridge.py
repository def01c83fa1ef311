#!/usr/bin/env python3
"""Dovecot POP3 on 127.0.0.1 for a browser journey, driven from node.

Reads one JSON line from stdin, {"messages": [...], "user", "password"}
(user and password optional), each message a corpus name or a
{"name", "bytes_b64"} object; starts Dovecot with that user and those
messages in the box, prints {"port", "user", "password"} as one JSON line,
and stops Dovecot when stdin closes, so that a test that dies never leaves
it running.
"""
import base64, json, os, shutil, signal, sys, tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "integration"))
import mailservers  # noqa: E402


def main():
    wanted = json.loads(sys.stdin.readline())
    user = wanted.get("user", "hanako")
    password = wanted.get("password", "hanako-pw")
    scratch = tempfile.mkdtemp(prefix="tarnbox-e2e-pop-")
    pop = None
    try:
        pop = mailservers.Dovecot(scratch, apop=False).start()
        pop.add_user(user, password)
        for item in wanted["messages"]:
            if isinstance(item, str):
                with open(os.path.join(ROOT, "tests", "corpus", "mail", item), "rb") as f:
                    pop.deliver(user, f.read())
            else:
                pop.deliver(user, base64.b64decode(item["bytes_b64"]))
        print(json.dumps({"port": pop.port, "user": user, "password": password}), flush=True)
        sys.stdin.read()
    finally:
        if pop:
            pop.stop()
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    main()
