#!/usr/bin/env python3
"""The gateway behind nginx with conf/nginx-tarnbox.conf (only its listen
addresses, certificate paths and gateway port changed): HTTPS outside, HTTP
on to HTTPS, and the client's address reaching the login throttle through
X-Real-IP (that it is believed only from the proxy is the unit tests')."""
import os, pathlib, re, ssl, subprocess, unittest

from gatewaytest import (  # noqa: E402
    ROOT, Answer, Certificates, Dovecot, Gateway, World, free_port, http, template,
    wait_until_listening)

NGINX = "/usr/sbin/nginx"


def proxied(path, body=None, source="127.0.0.1", tls=True):
    """path through the proxy's HTTPS (or plain HTTP) from the loopback
    address source; with a body, a POST of it."""
    return http(WORLD["tls_port" if tls else "plain_port"], b"POST" if body else b"GET", path, body,
                headers=b"Host: 127.0.0.1\r\nConnection: close\r\n", timeout=20,
                ctx=WORLD["client_tls"] if tls else None, source=source, eof_ok=True)


def login(user, password, source):
    return proxied(b"/mail/index.html", b"a=%s&b=%s" % (user, password), source).raw


def logged_in(answer, user=b"taro"):
    return re.search(rb"\?user=%s\?check=\d+" % user, answer) is not None


def build(world, scratch):
    certs = Certificates(os.path.join(scratch, "certs"))
    world["client_tls"] = ssl.create_default_context(cafile=certs.authority_file())
    pop = world["pop"] = Dovecot(os.path.join(scratch, "pop")).start()
    pop.add_user("taro", "taro-pw")
    pop.deliver("taro", b"From: a@b.example\nSubject: through the proxy\n\nhello\n")
    g = world["gateway"] = Gateway(pop.port, prefix="tarnbox-proxy-home-")
    g.add_user("taro", "taro-pw", name="Taro")
    g.start("--listen", "127.0.0.1", "--trusted-proxy", "127.0.0.1")
    world["tls_port"], world["plain_port"] = free_port(), free_port()
    prefix = os.path.join(scratch, "nginx")
    os.makedirs(os.path.join(prefix, "logs"), exist_ok=True)
    conf = os.path.join(prefix, "nginx.conf")
    cert, key = certs.server()
    with open(os.path.join(ROOT, "conf", "nginx-tarnbox.conf")) as f:
        site = re.sub(r"\n\s*listen \[::\]:\d+[^\n]*", "", f.read())
    for old, new in (("listen 443 ssl;", f"listen 127.0.0.1:{world['tls_port']} ssl;"),
                     ("listen 80;", f"listen 127.0.0.1:{world['plain_port']};"),
                     ("/etc/ssl/tarnbox/fullchain.pem", cert), ("/etc/ssl/tarnbox/privkey.pem", key),
                     ("http://127.0.0.1:8080", f"http://127.0.0.1:{g.port}")):
        site = site.replace(old, new)
    directives = "\n".join(l for l in site.splitlines() if not l.lstrip().startswith("#"))
    # Whole numbers only: a random port may hold the digits 443.
    assert not re.search(r"(?<!\d)(?:443|8080)(?!\d)|/etc/ssl", directives), directives
    for path, text in ((os.path.join(prefix, "site.conf"), site),
                       (conf, template("nginx.conf", prefix=prefix))):
        pathlib.Path(path).write_text(text)
    args = [NGINX, "-p", prefix, "-c", conf, "-e", prefix + "/logs/error.log"]
    check = subprocess.run(args + ["-t"], capture_output=True, text=True)
    if check.returncode != 0:
        raise AssertionError("nginx -t: " + check.stderr)
    world["nginx"] = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL)
    wait_until_listening(world["tls_port"], world["nginx"])


WORLD = World("tarnbox-proxy-")
setUpModule, tearDownModule = WORLD.hooks(build)


@unittest.skipUnless(os.path.exists(NGINX), "nginx is missing: run scripts/install-nginx.sh")
class BehindNginx(unittest.TestCase):
    def test_pages_through_the_proxy_are_the_gateways(self):
        answer = proxied(b"/")
        self.assertTrue(answer.status.startswith(b"HTTP/1.1 200"), answer.raw[:300])
        self.assertIn(b"Strict-Transport-Security: max-age=31536000", answer.raw)
        self.assertEqual(answer.body, Answer(WORLD["gateway"].get(b"/")).body)
        answer = login(b"taro", b"taro-pw", "127.0.0.5")
        self.assertTrue(logged_in(answer), answer[:800])
        self.assertIn(b"through the proxy", answer)

    def test_plain_http_is_sent_to_https(self):
        answer = proxied(b"/mail/index.html", tls=False).raw
        self.assertTrue(answer.startswith(b"HTTP/1.1 301"), answer[:300])
        self.assertIn(b"Location: https://127.0.0.1/mail/index.html", answer)

    def test_throttle_counts_the_clients_own_address(self):
        # Twenty failures of one address are free; later ones make it
        # wait, even for a right password. Other names each time, so that
        # only the address is counted.
        for k in range(22):
            login(b"guess%d" % k, b"wrong", "127.0.0.2")
        self.assertFalse(logged_in(login(b"taro", b"taro-pw", "127.0.0.2")))
        answer = login(b"taro", b"taro-pw", "127.0.0.3")
        self.assertTrue(logged_in(answer), "a neighbour behind the same proxy is not held up")


if __name__ == "__main__": unittest.main(verbosity=2)
