#!/usr/bin/env python3
"""Local demo mail servers for `scripts/demo.sh`: Dovecot POP3 and Postfix SMTP
on free loopback ports, two demo users and a few messages in Japanese and
English waiting for taro. Usage: demo_mail.py [--tls] [SCRATCH] (the folder
to work in, made when missing; a new temporary folder without it; removed at
the end either way). With --tls the servers also speak TLS with a
certificate of a demo authority: POP3S, and SMTP submission with STARTTLS
and AUTH. Prints {"pop3_port", "smtp_port", "domain"} (with --tls also
"pop3s_port", "submission_port" and "authority", the authority's PEM file)
as one JSON line, then runs until stdin closes or a signal arrives, and
stops both servers."""
import json
import os
import signal
import shutil
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
import mailservers  # noqa: E402
import demo_messages  # noqa: E402

USERS = {"taro": "taro-pw", "hanako": "hanako-pw"}


def main():
    args = sys.argv[1:]
    tls = "--tls" in args
    args = [a for a in args if a != "--tls"]
    if args:
        scratch = args[0]
        os.makedirs(scratch, exist_ok=True)
    else:
        scratch = tempfile.mkdtemp(prefix="tarnbox-demo-mail-")
    pop = smtp = None

    def stop(*_):
        # One stop request is enough: a second one must not cut the
        # shutdown below short and leave a server running.
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        raise SystemExit(0)

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    try:
        ports = {}
        if tls:
            certs = mailservers.Certificates(os.path.join(scratch, "certs"))
            cert = certs.server()
            smtp = mailservers.Postfix(scratch, cert=cert)
            pop = mailservers.Dovecot(scratch, apop=True, ssl="yes", cert=cert,
                                      auth_socket=smtp.auth_socket).start()
            ports = {"pop3s_port": pop.pop3s_port, "submission_port": smtp.submission_port,
                     "authority": certs.authority_file()}
        else:
            pop = mailservers.Dovecot(scratch, apop=True).start()
            smtp = mailservers.Postfix(scratch)
        for user, password in USERS.items():
            pop.add_user(user, password)
            smtp.add_user(user)
        smtp.start()
        for message in demo_messages.messages(smtp.domain):
            pop.deliver("taro", message)
        print(json.dumps({"pop3_port": pop.port, "smtp_port": smtp.port,
                          "domain": smtp.domain, **ports}), flush=True)
        sys.stdin.read()
    finally:
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        if smtp:
            smtp.stop()
        if pop:
            pop.stop()
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
