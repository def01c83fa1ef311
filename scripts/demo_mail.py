#!/usr/bin/env python3
"""Local demo mail servers for `scripts/demo.sh`: Dovecot POP3 and Postfix SMTP
on free loopback ports, two demo users and a few messages in Japanese and
English. Prints {"pop3_port", "smtp_port"} as one JSON line, then runs until
stdin closes or a signal arrives, and stops both servers."""
import json
import os
import signal
import shutil
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "integration"))
import mailservers  # noqa: E402

USERS = {"taro": "taro-pw", "hanako": "hanako-pw"}
CORPUS = os.path.join(ROOT, "tests", "corpus", "mail")
WELCOME = ["01-plain-ascii.eml", "02-iso2022jp.eml", "07-utf8.eml", "10-mixed-attachments.eml",
           "11-alternative.eml"]


def main():
    scratch = tempfile.mkdtemp(prefix="tarnbox-demo-mail-")
    pop = smtp = None

    def stop(*_):
        raise SystemExit(0)

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    try:
        pop = mailservers.Dovecot(scratch, apop=True).start()
        smtp = mailservers.Postfix(scratch)
        for user, password in USERS.items():
            pop.add_user(user, password)
            smtp.add_user(user)
        smtp.start()
        names = sorted(os.listdir(CORPUS))
        for name in [n for n in WELCOME if n in names] or names[:4]:
            with open(os.path.join(CORPUS, name), "rb") as f:
                pop.deliver("taro", f.read())
        print(json.dumps({"pop3_port": pop.port, "smtp_port": smtp.port,
                          "domain": smtp.domain}), flush=True)
        sys.stdin.read()
    finally:
        if smtp:
            smtp.stop()
        if pop:
            pop.stop()
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
