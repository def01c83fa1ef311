#!/usr/bin/env python3
"""The servers of a browser journey, from the integration tests' harness: a
gateway in a fresh home before a Dovecot box, or the demo's Dovecot and
Postfix with taro's mail waiting. Reads startServers' options
(harness.mjs) as one JSON line from stdin, prints {"url", "user",
"password", "domain"} (with "httpsUrl" and "browserHome" for an HTTPS
listener), answers {"poppassd_accepts": password} lines with {"accepts"}
and stops everything when stdin closes."""
import base64, json, os, signal, subprocess, sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path[:0] = [os.path.join(ROOT, "tests", "integration"), os.path.join(ROOT, "scripts")]
from gatewaytest import DOMAIN, Certificates, Dovecot, Gateway, Poppassd, World  # noqa: E402


def mail_servers(world, scratch, wanted):
    """The POP3 and SMTP (or None) ports."""
    if wanted["demo"]:
        # The demo's own servers; they stop when their stdin closes.
        demo = world["demo"] = subprocess.Popen(
            [sys.executable, os.path.join(ROOT, "scripts", "demo_mail.py"),
             os.path.join(scratch, "demo")], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        ports = json.loads(demo.stdout.readline())
        return ports["pop3_port"], ports["smtp_port"]
    pop = world["pop"] = Dovecot(scratch, apop=False).start()
    pop.add_user(wanted["user"], wanted["password"])
    for message in wanted["box"]:
        pop.deliver(wanted["user"], base64.b64decode(message))
    return pop.port, None


def build(world, scratch, wanted, reply):
    setup = wanted["gateway"]
    if setup.get("poppassd"):
        # The account's system password, behind poppassd on 127.0.0.1:106.
        world["poppassd"] = Poppassd(wanted["user"], wanted["password"]).start()
    g = world["gateway"] = Gateway(*mail_servers(world, scratch, wanted), prefix="tarnbox-e2e-",
                                   https=bool(setup.get("https")))
    if setup.get("settings"):
        g.run("settings", "set", *setup["settings"])
    if wanted["demo"]:
        g.add_user("taro", "taro-pw", name="山田 太郎")
        g.add_user("hanako", "hanako-pw", "--cc", name="佐藤 花子")
    else:
        g.add_user(wanted["user"], wanted["password"], name=setup.get("name", "Hanako"))
    if g.https_port:
        # A certificate for the TLS listener; Chromium on Linux trusts what
        # the NSS database of $HOME/.pki holds.
        certs = Certificates(os.path.join(scratch, "certs"))
        g.use_certificate(certs)
        home = os.path.join(scratch, "browser-home")
        nssdb = "sql:" + os.path.join(home, ".pki", "nssdb")
        os.makedirs(nssdb[4:])
        for args in (["-N", "--empty-password"],
                     ["-A", "-n", "tarnbox-test-ca", "-t", "C,,", "-i", certs.authority_file()]):
            subprocess.run(["certutil", "-d", nssdb, *args], check=True, capture_output=True)
        reply.update(httpsUrl="https://127.0.0.1:%d" % g.https_port, browserHome=home)
    g.start()
    reply["url"] = "http://127.0.0.1:%d" % g.port


def main():
    wanted = json.loads(sys.stdin.readline())
    account = wanted.get("account") or {"user": "hanako", "password": "hanako-pw"}
    wanted.update(account, gateway=wanted.get("gateway") or {})
    reply = {"user": wanted["user"], "password": wanted["password"], "domain": DOMAIN}
    world = World("tarnbox-e2e-servers-")
    start, stop = world.hooks(lambda w, scratch: build(w, scratch, wanted, reply))
    start()
    try:
        print(json.dumps(reply), flush=True)
        # Each later line asks whether poppassd takes a password now.
        for line in sys.stdin:
            accepts = world["poppassd"].accepts(json.loads(line)["poppassd_accepts"])
            print(json.dumps({"accepts": accepts}), flush=True)
    finally:
        stop()


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    main()
