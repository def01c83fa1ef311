#!/usr/bin/env python3
"""The running gateway over real sockets: start-up and stop, whole answers
byte for byte, static files, slow clients and the connection ceiling."""
import os, pathlib, re, signal, socket, subprocess, time, unittest

from gatewaytest import (  # noqa: E402
    Answer, Gateway, free_port, listening_addresses, raw_request as request)


class Lifecycle(unittest.TestCase):
    def gateway(self, *extra, host="127.0.0.1"):
        """Serving until the test ends; host None: not started."""
        g = Gateway(owner=self)
        return g.start(*extra, stderr=subprocess.PIPE, host=host) if host else g

    def test_a_second_start_is_refused_and_a_signal_stops_the_first(self):
        # From the same home, or from another on the same port.
        for sig, same_home, said in (
                (signal.SIGTERM, True, "すでに起動されています。"),
                (signal.SIGINT, False,
                 "TCP/IP ポート番号が使用されています。\nポート番号を変更してください。")):
            with self.subTest(sig):
                g = self.gateway()
                other = g if same_home else self.gateway(host=None)
                if not same_home:
                    other.run("settings", "set", f"http_port={g.port}")
                second = other.run("serve", check=False, timeout=10)
                self.assertNotEqual(second.returncode, 0)
                self.assertIn(said, second.stderr)
                t = time.time()
                g.proc.send_signal(sig)
                self.assertEqual(g.proc.wait(timeout=5), 0)
                self.assertLess(time.time() - t, 1.0)

    def test_listen_binds_one_numeric_address(self):
        g = self.gateway("--listen", "127.0.0.1")
        self.assertEqual(listening_addresses(g.port), ["127.0.0.1"])
        self.assertTrue(g.get(b"/").startswith(b"HTTP/1.0 200 OK"))
        self.assertIn(f"http://127.0.0.1:{g.port}/", g.proc.stderr.readline().decode())
        # A moved port keeps the address.
        moved = free_port()
        g.run("settings", "set", f"http_port={moved}")
        self.assertEqual(listening_addresses(moved), ["127.0.0.1"])
        self.assertEqual(listening_addresses(g.port), [])
        default = self.gateway()
        self.assertIn(listening_addresses(default.port), (["::"], ["0.0.0.0"]))
        if socket.has_ipv6 and os.path.exists("/proc/net/tcp6"):
            # Without --listen IPv6 loopback is served too.
            answer = request(default.port, b"GET / HTTP/1.0\r\n\r\n", host="::1")
            self.assertTrue(answer.startswith(b"HTTP/1.0 200 OK\r\n"))
            g = self.gateway("--listen", "::1", host="::1")
            self.assertEqual(listening_addresses(g.port), ["::1"])
            self.assertIn(f"http://[::1]:{g.port}/", g.proc.stderr.readline().decode())
        # Values refused at the start: serve_start_test.cases.


class Answers(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.g = Gateway(owner=cls)
        html = pathlib.Path(cls.g.home, "html")
        cls.big = os.urandom(1 << 20)
        (html / "big.bin").write_bytes(cls.big)
        # Larger than the most a loopback socket buffers for a client.
        (html / "huge.bin").write_bytes(bytes(16 << 20))
        cls.g.start("--request-timeout", "2", "--max-connections", "20")
        # Only the listening socket stays once the start-up probe is closed.
        time.sleep(0.3)
        cls.sockets = cls.open_sockets()

    @classmethod
    def open_sockets(cls):
        fds = f"/proc/{cls.g.proc.pid}/fd"
        # Unlike readlink, realpath does not fail on a descriptor closed while we look.
        return sum("/socket:[" in os.path.realpath(os.path.join(fds, fd)) for fd in os.listdir(fds))

    def setUp(self):
        # The connections of an earlier test drain and close first; the
        # socket closes before the monitor's next pass frees its place.
        deadline = time.time() + 20
        while self.open_sockets() > self.sockets and time.time() < deadline:
            time.sleep(0.02)
        time.sleep(0.05)

    def test_stylesheet_of_the_pages(self):
        body = Answer(self.g.get(b"/")).body
        name = re.search(rb'<link rel="stylesheet" href="(/style/[0-9a-f]{12}\.css)">', body)
        self.assertIsNotNone(name, body[:400])
        a = Answer(self.g.get(name.group(1)))
        self.assertEqual(a.status, b"HTTP/1.0 200 OK")
        for line in (b"Content-Type: text/css", b"Content-Length: %d" % len(a.body),
                     b"Cache-Control: public, max-age=31536000, immutable"):
            self.assertIn(line, a.headers)
        self.assertIn(b"prefers-color-scheme:dark", a.body)
        # Another name, or a name with something after it, is not the sheet.
        for other in (b"/style/000000000000.css", name.group(1) + b"x"):
            self.assertEqual(Answer(self.g.get(other)).status, b"HTTP/1.0 404 File Not Found")

    def test_static_file_whole_over_the_socket(self):
        # Header blocks, HEAD and which file a path names are the unit tests'
        # (StaticFileTest).
        self.assertEqual(Answer(self.g.get(b"/big.bin")).body, self.big)

    def test_silent_client_is_cut_off(self):
        with socket.create_connection(("127.0.0.1", self.g.port), timeout=10) as s:
            s.sendall(b"GET / HTTP/1.0\r\n")
            t = time.time()
            self.assertEqual(s.recv(100), b"")
            self.assertLess(time.time() - t, 6)

    def test_an_unfinished_request_gives_way_to_a_newcomer(self):
        idle = [socket.create_connection(("127.0.0.1", self.g.port)) for _ in range(20)]
        try:
            # Old enough to give way (a second), not yet at the request
            # time-out (two).
            time.sleep(1.4)
            for _ in range(3):
                self.assertTrue(self.g.get(b"/").startswith(b"HTTP/1.0 200 OK"))
            # The places went to the newcomers from the connections that had
            # waited longest: those see their close, later ones do not.
            idle[0].settimeout(5)
            self.assertEqual(idle[0].recv(100), b"")
            idle[10].settimeout(0.2)
            with self.assertRaises(socket.timeout):
                idle[10].recv(100)
        finally:
            for s in idle:
                s.close()

    def test_busy_when_every_place_is_serving_a_page(self):
        # Pages the clients take nothing of: every place has finished its
        # request, so no one gives way.
        readers = []
        while len(readers) < 20:
            s = socket.socket()
            s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1024)
            s.settimeout(5)
            s.connect(("127.0.0.1", self.g.port))
            s.sendall(b"GET /huge.bin HTTP/1.0\r\n\r\n")
            # The places of an earlier test may not all be free yet.
            if s.recv(16, socket.MSG_PEEK).startswith(b"HTTP/1.0 200"):
                readers.append(s)
            else:
                s.close()
                time.sleep(0.1)
        extra = []
        try:
            time.sleep(1.0)
            answers = []
            for _ in range(4):
                s = socket.create_connection(("127.0.0.1", self.g.port))
                extra.append(s)
                s.settimeout(1.0)
                try:
                    answers.append(s.recv(100))
                except socket.timeout:
                    answers.append(None)
                if answers[-1] == b"Busy!\r\n":
                    break
            self.assertIn(b"Busy!\r\n", answers)
            # A send the client takes nothing of ends after the request
            # time-out, which frees the places well before the idle one.
            deadline = time.time() + 20
            answer = b""
            while time.time() < deadline and not answer.startswith(b"HTTP/1.0 200 OK"):
                time.sleep(0.5)
                try:
                    answer = self.g.get(b"/")
                except ConnectionError:  # "Busy!" and closed before the request was read
                    answer = b""
            self.assertTrue(answer.startswith(b"HTTP/1.0 200 OK"), answer[:100])
        finally:
            for s in readers + extra:
                s.close()


if __name__ == "__main__": unittest.main(verbosity=2)
