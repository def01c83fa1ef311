#!/usr/bin/env python3
"""Dovecot POP3 for a browser journey: reads {"messages": [corpus name or
{"name", "bytes_b64"}], "user", "password"} from stdin, prints {"port",
"user", "password"}, and stops Dovecot when stdin closes."""
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
