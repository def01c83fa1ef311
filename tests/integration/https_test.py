#!/usr/bin/env python3
"""HTTPS beside plain HTTP on the running gateway: the same pages with HSTS,
handshakes that stall or fail without holding anybody up, the TLS versions
taken, whole downloads, a taken port and redirects to HTTPS (files that are
not usable: serve_start_test.cases). Certificates are made with the openssl
command for 127.0.0.1 only."""
import concurrent.futures, os, pathlib, re, socket, ssl, time, unittest

from gatewaytest import (  # noqa: E402
    Browser, Certificates, Dovecot, Gateway, World, assert_page_ends, browser_path, http,
    mask_dates, raw_request, ref_json)
import make_corpus  # noqa: E402

HSTS = b"Strict-Transport-Security: max-age=31536000"


def client_context(cafile, version=None):
    ctx = ssl.create_default_context(cafile=cafile)
    if version is not None:
        # The client's own floor would refuse old versions before the
        # gateway is even asked; lowered so that the gateway decides.
        ctx.set_ciphers("DEFAULT:@SECLEVEL=0")
        ctx.minimum_version = version
        ctx.maximum_version = version
    return ctx


def with_hsts(plain):
    """A plain answer as HTTPS gives it: HSTS right below the status line."""
    return plain.replace(b"\r\n", b"\r\n" + HSTS + b"\r\n", 1)


class Serving(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        start, stop = World("tarnbox-https-").hooks(cls.build)
        start()
        cls.addClassCleanup(stop)

    @classmethod
    def build(cls, world, scratch):
        pop = world["pop"] = Dovecot(scratch).start()
        pop.add_user("reader", "read-pw")
        message, cls.payload = make_corpus.big_attachment_message()
        pop.deliver("reader", message)
        certs = Certificates(os.path.join(scratch, "certs"))
        cls.g = world["gateway"] = Gateway(pop.port, prefix="tarnbox-https-", https=True)
        cls.g.use_certificate(certs)
        cls.g.add_user("reader", "read-pw")
        cls.big = os.urandom(12 * 1024 * 1024 + 12345)
        for name, data in (("big.bin", cls.big), ("hello.txt", b"hello\r\n")):
            pathlib.Path(cls.g.home, "html", name).write_bytes(data)
        cls.cafile = certs.authority_file()
        cls.ctx = client_context(cls.cafile)
        cls.g.start("--request-timeout", "3", "--worker-timeout", "10")

    def test_pages_equal_plain_ones_but_for_hsts(self):
        # The generated page, a static file and a missing page each write
        # their own header block.
        for path in [b"/", b"/hello.txt", b"/no/such/page"]:
            with self.subTest(path=path):
                secure = self.g.get(path, self.ctx)
                plain = self.g.get(path)
                self.assertNotIn(b"Strict-Transport", plain)
                self.assertEqual(mask_dates(secure), mask_dates(with_hsts(plain)))

    def test_request_longer_than_one_read(self):
        # One TLS record holds more than the gateway reads at a time; the
        # rest waits inside OpenSSL, where a poll on the socket cannot see it.
        body = b"a=nobody&b=wrong&c=" + b"y" * 9000
        secure = http(self.g.https_port, b"POST", b"/mail/index.html", body, timeout=20, ctx=self.ctx)
        self.assertLess(secure.seconds, 2)
        plain = http(self.g.port, b"POST", b"/mail/index.html", body)
        self.assertEqual(mask_dates(secure.raw), mask_dates(with_hsts(plain.raw)))

    def test_big_file_arrives_whole_to_a_slow_reader(self):
        answer = self.g.get(b"/big.bin", self.ctx, slow=True)
        head, _, body = answer.partition(b"\r\n\r\n")
        self.assertIn(b"Content-Length: %d" % len(self.big), head.split(b"\r\n"))
        self.assertEqual(len(body), len(self.big))
        self.assertTrue(body == self.big, "the body differs from the file")

    def test_many_clients_at_once(self):
        with concurrent.futures.ThreadPoolExecutor(24) as pool:
            results = list(pool.map(lambda i: self.g.get(b"/hello.txt" if i % 2 else b"/", self.ctx),
                                    range(24)))
        self.assertTrue(all(r.startswith(b"HTTP/1.0 200 OK\r\n" + HSTS) for r in results))

    def test_stalled_and_broken_handshakes_hold_nobody_up(self):
        silent, half, garbage = (socket.create_connection(("127.0.0.1", self.g.https_port))
                                 for _ in range(3))
        try:
            # Half the first flight of a real TLS client leaves the gateway
            # inside a TLS record.
            hello = ssl.MemoryBIO()
            tls = ssl.create_default_context().wrap_bio(ssl.MemoryBIO(), hello,
                                                        server_hostname="127.0.0.1")
            with self.assertRaises(ssl.SSLWantReadError):
                tls.do_handshake()
            hello = hello.read()
            half.sendall(hello[:len(hello) // 2])
            garbage.sendall(b"GET / HTTP/1.0\r\n\r\n")
            time.sleep(0.3)
            t = time.time()
            self.assertTrue(self.g.get(b"/", self.ctx).startswith(b"HTTP/1.0 200 OK"))
            self.assertTrue(self.g.get(b"/").startswith(b"HTTP/1.0 200 OK"))
            self.assertLess(time.time() - t, 2)
            # Plain HTTP on the HTTPS port is no handshake: closed at once
            # (2 s), never answered in clear text. The request time-out (3 s
            # here) covers the handshake.
            for s, seconds in ((garbage, 2), (silent, 8), (half, 8)):
                s.settimeout(seconds)
                try:
                    self.assertEqual(s.recv(100), b"")
                except ConnectionResetError:
                    pass
            self.assertLess(time.time() - t, 7)
        finally:
            for s in (silent, half, garbage):
                s.close()

    def test_versions(self):
        for version in (ssl.TLSVersion.TLSv1_2, ssl.TLSVersion.TLSv1_3):
            with self.subTest(version=version):
                answer = self.g.get(b"/hello.txt", client_context(self.cafile, version))
                self.assertTrue(answer.endswith(b"\r\n\r\nhello\r\n"))
        with self.assertRaises(ssl.SSLError) as refused:
            self.g.get(b"/", client_context(self.cafile, ssl.TLSVersion.TLSv1_1))
        # The gateway's alert, not the client refusing to offer TLS 1.1.
        self.assertIn("PROTOCOL_VERSION", refused.exception.reason or str(refused.exception))


    def test_mail_pages_and_an_attachment(self):
        # A login, a message page and its 10 MiB attachment: the pages that
        # the POP3 worker writes to the browser from its own thread.
        b = Browser(self.g.https_port, "reader", "read-pw", ctx=self.ctx)
        assert_page_ends(self, b.first.body)
        page = b.page(b"/mail/a0001.html")
        self.assertIn(b"BIG-ATTACHMENT-NOTE", page.body)
        links = re.findall(rb'<a href="(/mail/~reader/[^"]*)">' + re.escape(
            make_corpus.BIG_NAME.encode()), page.body)
        self.assertEqual(len(links), 1, page.body[-2000:])
        download = b.request(b"GET", browser_path(links[0]))
        for answer in (b.first, page, download):
            self.assertEqual(answer.status, b"HTTP/1.0 200 OK", answer.raw[:600])
            self.assertIn(HSTS, answer.headers)
        self.assertEqual(len(download.body), len(self.payload))
        self.assertTrue(download.body == self.payload, "the attachment differs")


class StartUp(unittest.TestCase):
    """Refusals of files and values: serve_start_test.cases."""

    def setUp(self):
        self.g = Gateway(prefix="tarnbox-https-", https=True, owner=self)

    def test_https_port_in_use(self):
        self.g.run("https", "self-signed", "--name", "127.0.0.1")
        with socket.socket() as taken:
            taken.bind(("127.0.0.1", self.g.https_port))
            taken.listen()
            r = self.g.run("serve", "--https-listen", f"127.0.0.1:{self.g.https_port}",
                           check=False, timeout=20)
            self.assertNotEqual(r.returncode, 0)
            self.assertIn("HTTPS の TCP/IP ポート番号が使用されています。", r.stderr)

    def test_plain_requests_sent_on_to_https(self):
        self.g.run("https", "self-signed", "--name", "127.0.0.1", "--name", "gateway.test")
        self.g.start("--https-redirect")
        for raw, location in ref_json("https-redirects")["redirects"]:
            raw, location = raw.encode(), location.replace("{port}", str(self.g.https_port)).encode()
            with self.subTest(raw=raw):
                answer = raw_request(self.g.port, raw)
                head = answer.split(b"\r\n\r\n", 1)[0].split(b"\r\n")
                self.assertEqual(head[0], b"HTTP/1.0 301 Moved Permanently", answer)
                self.assertIn(b"Location: " + location, head)
                self.assertNotIn(b"<script>", answer)
        # Over HTTPS the pages are served as ever; the self-signed pair is
        # trusted as its own authority, checked by the address.
        answer = self.g.get(b"/", client_context(self.g.cert))
        self.assertTrue(answer.startswith(b"HTTP/1.0 200 OK\r\n" + HSTS))


if __name__ == "__main__": unittest.main(verbosity=2)
