#!/usr/bin/env python3
"""The servers of a browser journey, from the integration tests' harness: a
gateway in a fresh home before either a Dovecot box of hanako's (the
"box" of {"box": [corpus name or {"name", "bytes_b64"}], "demo": false} read
from stdin) or the demo's Dovecot and Postfix with taro's mail waiting
("demo": true). Prints {"url", "user", "password", "domain"} and stops
everything when stdin closes."""
import base64, json, os, signal, sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path[:0] = [os.path.join(ROOT, "tests", "integration"), os.path.join(ROOT, "scripts")]
from gatewaytest import DOMAIN, Dovecot, Gateway, Postfix, World  # noqa: E402
import demo_messages  # noqa: E402


def build(world, scratch, wanted):
    demo = wanted["demo"]
    pop = world["pop"] = Dovecot(scratch, apop=demo).start()
    if demo:
        smtp = world["smtp"] = Postfix(scratch, DOMAIN)
        for user in ("taro", "hanako"):
            pop.add_user(user, user + "-pw")
            smtp.add_user(user)
        smtp.start()
        for message in demo_messages.messages(DOMAIN):
            pop.deliver("taro", message)
    else:
        pop.add_user("hanako", "hanako-pw")
        for item in wanted["box"]:
            if isinstance(item, str):
                with open(os.path.join(ROOT, "tests", "corpus", "mail", item), "rb") as f:
                    pop.deliver("hanako", f.read())
            else:
                pop.deliver("hanako", base64.b64decode(item["bytes_b64"]))
    g = world["gateway"] = Gateway(pop.port, world["smtp"].port if demo else None,
                                   prefix="tarnbox-e2e-")
    if demo:
        g.add_user("taro", "taro-pw", name="山田 太郎")
        g.add_user("hanako", "hanako-pw", "--cc", name="佐藤 花子")
    else:
        g.run("users", "add", "--name", "Hanako", "--mail-address", "hanako@example.jp", "--id",
              "hanako", "--password", "hanako-pw")
    g.start()


def main():
    wanted = json.loads(sys.stdin.readline())
    world = World("tarnbox-e2e-servers-")
    start, stop = world.hooks(lambda w, scratch: build(w, scratch, wanted))
    start()
    try:
        print(json.dumps({"url": "http://127.0.0.1:%d" % world["gateway"].port, "user": "hanako",
                          "password": "hanako-pw", "domain": DOMAIN}), flush=True)
        sys.stdin.read()
    finally:
        stop()


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    main()
